#include "settings_file.h"

#include <cstdio>
#include <cstdlib>

#include "settings.h"

namespace SettingsFile {

namespace {

struct Key {
  const char* name;
  int32_t Settings::*value;
};

// Read and written in this order, so a file the program wrote lists them so.
constexpr Key kKeys[] = {
    {"wide", &Settings::wide}, {"scr4", &Settings::scr4}, {"bufsize", &Settings::bufsize}};

// A key's value when it is missing, and the value that counts as missing.
constexpr int kNoValue = -1;

int settingsFileName(char (&fileName)[kPathCapacity]) {
  char programPath[kPathCapacity];
  DWORD pathLength = GetModuleFileNameA(nullptr /* this program */, programPath, kPathCapacity);
  return fileNameBeside(programPath, pathLength, fileName);
}

}  // namespace

int fileNameBeside(const char* programPath, DWORD pathLength, char (&fileName)[kPathCapacity]) {
  // A path that filled the whole buffer was cut off, and may lack its terminator.
  if (pathLength == 0 || pathLength >= kPathCapacity) return 1;
  char drive[_MAX_DRIVE], directory[_MAX_DIR], baseName[_MAX_FNAME], extension[_MAX_EXT];
  _splitpath(programPath, drive, directory, baseName, extension);
  int length = std::snprintf(fileName, kPathCapacity, "%s%s%s", drive, directory, kFileName);
  return length > 0 && static_cast<DWORD>(length) < kPathCapacity ? 0 : 1;
}

void loadFrom(const char* fileName, Settings& settings) {
  for (const Key& key : kKeys) {
    int value = static_cast<int>(GetPrivateProfileIntA(kSection, key.name, kNoValue, fileName));
    if (value != kNoValue) settings.*key.value = value;
  }
  // The USB link reads into a 256-byte buffer; a size it never wrote itself is not trusted.
  settings.bufsize = sanitizedReadSize(settings.bufsize);
}

void saveTo(const char* fileName, const Settings& settings) {
  for (const Key& key : kKeys) {
    char value[16];
    std::snprintf(value, sizeof value, "%d", static_cast<int>(settings.*key.value));
    WritePrivateProfileStringA(kSection, key.name, value, fileName);  // failures not looked at
  }
}

void load(Settings& settings) {
  char fileName[kPathCapacity];
  if (settingsFileName(fileName) == 0) loadFrom(fileName, settings);
}

void save(const Settings& settings) {
  char fileName[kPathCapacity];
  if (settingsFileName(fileName) == 0) saveTo(fileName, settings);
}

}  // namespace SettingsFile
