// The program's shell under Wine: the settings file, the dialog's number reading, the main
// window, start-up and shutdown, and the read size dialog, against a stand-in device link.
#include <windows.h>

#include <cwchar>
#include <string>

#include "buffer_size_dialog.h"
#include "app_tests.h"
#include "check.h"
#include "main_window.h"
#include "settings_file.h"

namespace {

std::string readWholeFile(const char* fileName) {
  std::string content;
  if (FILE* file = std::fopen(fileName, "rb")) {
    char block[256];
    for (size_t count; (count = std::fread(block, 1, sizeof block, file)) > 0;) content.append(block, count);
    std::fclose(file);
  }
  return content;
}

void writeWholeFile(const char* fileName, const char* content) {
  FILE* file = std::fopen(fileName, "wb");
  std::fputs(content, file);
  std::fclose(file);
}

// Loads `content` as the settings file over fresh defaults.
Settings loadedFrom(const char* fileName, const char* content) {
  writeWholeFile(fileName, content);
  Settings settings;
  SettingsFile::loadFrom(fileName, settings);
  return settings;
}

void fileNameTests() {
  char fileName[SettingsFile::kPathCapacity];
  const char* path = "C:\\Program Files\\Viewer\\KESTRAVU.exe";
  CHECK(SettingsFile::fileNameBeside(path, std::strlen(path), fileName) == 0);
  CHECK_TEXT(fileName, "C:\\Program Files\\Viewer\\KESTRAVU.ini");
  path = "Z:\\tmp\\run.d\\viewer";  // a dot in the directory, no extension on the program
  CHECK(SettingsFile::fileNameBeside(path, std::strlen(path), fileName) == 0);
  CHECK_TEXT(fileName, "Z:\\tmp\\run.d\\KESTRAVU.ini");
  path = "\\\\server\\share\\KESTRAVU.exe";
  CHECK(SettingsFile::fileNameBeside(path, std::strlen(path), fileName) == 0);
  CHECK_TEXT(fileName, "\\\\server\\share\\KESTRAVU.ini");

  // No path, a path cut at the buffer's end, and a directory too long for the file's name.
  CHECK(SettingsFile::fileNameBeside("", 0, fileName) == 1);
  std::string longPath = "C:\\" + std::string(250, 'd') + "\\KESTRAVU.exe";
  CHECK(SettingsFile::fileNameBeside(longPath.c_str(), SettingsFile::kPathCapacity, fileName) == 1);
  longPath = "C:\\" + std::string(248, 'd') + "\\K.exe";
  CHECK(SettingsFile::fileNameBeside(longPath.c_str(), longPath.size(), fileName) == 1);
}

}  // namespace

void settingsFileTests() {
  fileNameTests();
  char directory[MAX_PATH], fileName[MAX_PATH];
  GetTempPathA(MAX_PATH, directory);
  std::snprintf(fileName, sizeof fileName, "%skestravu-settings-%lu.ini", directory, GetCurrentProcessId());

  DeleteFileA(fileName);
  Settings settings;
  settings.wide = 1, settings.scr4 = 0, settings.bufsize = 128;
  SettingsFile::saveTo(fileName, settings);
  CHECK(readWholeFile(fileName) == "[section]\r\nwide=1\r\nscr4=0\r\nbufsize=128\r\n");
  Settings loaded = loadedFrom(fileName, readWholeFile(fileName).c_str());
  CHECK(loaded.wide == 1 && loaded.scr4 == 0 && loaded.bufsize == 128);

  DeleteFileA(fileName);
  settings = Settings{};
  SettingsFile::loadFrom(fileName, settings);  // no file at all
  CHECK(settings.wide == 0 && settings.scr4 == 0 && settings.bufsize == 32);

  loaded = loadedFrom(fileName, "[section]\r\nbufsize=64\r\n");
  CHECK(loaded.wide == 0 && loaded.scr4 == 0 && loaded.bufsize == 64);
  loaded = loadedFrom(fileName, "[section]\r\nwide=-1\r\nscr4=1\r\nbufsize=-1\r\n");
  CHECK(loaded.wide == 0 && loaded.scr4 == 1 && loaded.bufsize == 32);
  loaded = loadedFrom(fileName, "[other]\r\nwide=1\r\n");
  CHECK(loaded.wide == 0);

  // Read sizes the program never writes would overrun the 256-byte read buffer.
  for (const char* content : {"[section]\nbufsize=0\n", "[section]\nbufsize=257\n",
                              "[section]\nbufsize=-5\n", "[section]\nbufsize=100000\n"}) {
    loaded = loadedFrom(fileName, content);
    CHECK(loaded.bufsize == 32);
  }
  CHECK(loadedFrom(fileName, "[section]\nbufsize=1\n").bufsize == 1);
  CHECK(loadedFrom(fileName, "[section]\nbufsize=256\n").bufsize == 256);
  DeleteFileA(fileName);
}

void dialogTextTests() {
  // The start-up messages as shown: their Shift-JIS bytes read in code page 932, whatever the
  // system's own code page.
  const struct {
    const char* shiftJis;
    const wchar_t* shown;
  } messages[] = {
      {MainWindow::kErrorCaption, L"\u30A8\u30E9\u30FC"},
      {MainWindow::kDeviceFailedText, L"USB \u306E\u521D\u671F\u5316\u306B\u5931\u6557\u3057\u307E\u3057\u305F"},
      {MainWindow::kMemoryFailedText, L"\u30E1\u30E2\u30EA\u306E\u78BA\u4FDD\u306B\u5931\u6557\u3057\u307E\u3057\u305F"},
      {MainWindow::kWindowFailedText,
       L"\u30A6\u30A3\u30F3\u30C9\u30A6\u306E\u4F5C\u6210\u306B\u5931\u6557\u3057\u307E\u3057\u305F"},
  };
  for (const auto& message : messages) {
    wchar_t text[64];
    MainWindow::messageText(message.shiftJis, text, 64);
    CHECK(std::wcscmp(text, message.shown) == 0);
  }
}

int main(int argumentCount, char** arguments) {
  struct Group {
    const char* name;
    void (*run)();
  };
  const Group groups[] = {{"settings_file", settingsFileTests}, {"dialog_text", dialogTextTests},
                          {"window", windowTests},              {"start_up", startUpTests},
                          {"dialog", dialogTests}};
  for (const Group& group : groups) {
    if (argumentCount > 1 && std::strcmp(arguments[1], group.name) != 0) continue;
    std::printf("%s\n", group.name);
    group.run();
  }
  std::printf("%d failed checks\n", Check::failures);
  return Check::failures == 0 ? 0 : 1;
}
