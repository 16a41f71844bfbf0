#include "settings_file.h"

#include <cstdio>
#include <cstdlib>

#include "settings.h"

namespace SettingsFile {

namespace {

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
  for (const SettingsKey<Settings>& key : kSettingsKeys) {
    int32_t value = static_cast<int32_t>(
        GetPrivateProfileIntA(kSettingsSection, key.name, kMissingSettingValue, fileName));
    if (value != kMissingSettingValue) settings.*key.value = value;
  }
  // The USB link reads into a 256-byte buffer; a size it never wrote itself is not trusted.
  settings.bufsize = sanitizedReadSize(settings.bufsize);
}

void saveTo(const char* fileName, const Settings& settings) {
  for (const SettingsKey<Settings>& key : kSettingsKeys) {
    char value[16];
    std::snprintf(value, sizeof value, "%d", static_cast<int>(settings.*key.value));
    // Failures are not looked at: a file that cannot be written keeps its old values.
    WritePrivateProfileStringA(kSettingsSection, key.name, value, fileName);
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
