// The three settings in "KESTRAVU.ini" beside the program file, section "section", keys
// "wide", "scr4" and "bufsize": read once at start-up, written once at a normal end.
#pragma once
#include <windows.h>

namespace SettingsFile {

constexpr DWORD kPathCapacity = MAX_PATH;
constexpr const char* kFileName = "KESTRAVU.ini";
constexpr const char* kSection = "section";

// The settings file's full name from the program path that GetModuleFileNameA reported with
// `pathLength` (0, or the whole capacity when the path was cut). 0 on success, 1 when there
// is no usable name.
int fileNameBeside(const char* programPath, DWORD pathLength, char (&fileName)[kPathCapacity]);

void loadFrom(const char* fileName);
void saveTo(const char* fileName);

// Settings::load and Settings::save use these with the file beside the program; without a
// usable program path the defaults stay and nothing is written.

}  // namespace SettingsFile
