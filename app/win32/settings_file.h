// The three settings in "KESTRAVU.ini" beside the program file, under the keys of settings.h,
// through the Windows profile functions: read once at start-up, written once at a normal end.
#pragma once
#include <windows.h>

#include "settings.h"

namespace SettingsFile {

constexpr DWORD kPathCapacity = MAX_PATH;
constexpr const char* kFileName = "KESTRAVU.ini";

// The settings file's full name from the program path that GetModuleFileNameA reported with
// `pathLength` (0, or the whole capacity when the path was cut). 0 on success, 1 when there
// is no usable name.
int fileNameBeside(const char* programPath, DWORD pathLength, char (&fileName)[kPathCapacity]);

void loadFrom(const char* fileName, Settings& settings);
void saveTo(const char* fileName, const Settings& settings);

// The same with the file beside the program; without a usable program path the settings stay
// as they are and nothing is written.
void load(Settings& settings);
void save(const Settings& settings);

}  // namespace SettingsFile
