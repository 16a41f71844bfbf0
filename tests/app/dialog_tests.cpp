// The read size dialog and the start-up message boxes, answered from a second thread the way
// a user would: by finding the box of the program's thread and sending it commands.
#include <windows.h>

#include <cwchar>
#include <string>

#include "app_tests.h"
#include "buffer_size_dialog.h"
#include "check.h"
#include "fake_device_link.h"
#include "resource_ids.h"
#include "settings_file.h"

namespace {

FakeProgram* current = nullptr;  // the program whose dialogs or message boxes are answered

DWORD programThread;
volatile LONG dialogsEnded = 0;

BOOL CALLBACK keepVisibleDialog(HWND window, LPARAM found) {
  char className[16];
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// The program thread's visible dialog or message box, waited for up to ten seconds.
HWND waitForDialog() {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    HWND found = nullptr;
    EnumThreadWindows(programThread, keepVisibleDialog, reinterpret_cast<LPARAM>(&found));
    if (found != nullptr) return found;
    Sleep(10);
  }
  CHECK(!"a dialog appeared");
  return nullptr;
}

void waitForDialogsEnded(LONG count) {
  for (int attempt = 0; attempt < 1000 && dialogsEnded < count; ++attempt) Sleep(10);
  CHECK(dialogsEnded == count);
}

std::string editText(HWND dialog) {
  char text[BufferSizeDialog::kTextCapacity];
  GetDlgItemTextA(dialog, IDC_BUFSIZE_EDIT, text, sizeof text);
  return text;
}

void pressOk(HWND dialog, const char* text) {
  SetDlgItemTextA(dialog, IDC_BUFSIZE_EDIT, text);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_BUFSIZE_OK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_BUFSIZE_OK)));
}

void checkControls(HWND dialog) {
  const int tabOrder[] = {IDC_BUFSIZE_OK, IDC_BUFSIZE_EDIT, IDC_BUFSIZE_LABEL, IDC_BUFSIZE_RANGE};
  HWND control = GetWindow(dialog, GW_CHILD);
  for (int id : tabOrder) {
    CHECK(control != nullptr && GetDlgCtrlID(control) == id);
    control = GetWindow(control, GW_HWNDNEXT);
  }
  HWND edit = GetDlgItem(dialog, IDC_BUFSIZE_EDIT);
  CHECK((GetWindowLongA(edit, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0);
  CHECK((GetWindowLongA(edit, GWL_STYLE) & (WS_BORDER | ES_NUMBER)) == 0);
  CHECK((GetWindowLongA(GetDlgItem(dialog, IDC_BUFSIZE_OK), GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON);
  GUITHREADINFO threadInfo = {};
  threadInfo.cbSize = sizeof threadInfo;
  GetGUIThreadInfo(programThread, &threadInfo);
  CHECK(threadInfo.hwndFocus == GetDlgItem(dialog, IDC_BUFSIZE_OK));
}

// Nothing but OK ends the dialog: not empty text, not Esc, not the close box.
void checkOnlyOkEnds(HWND dialog) {
  pressOk(dialog, "");
  CHECK(IsWindowVisible(dialog));
  SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  PostMessageA(GetDlgItem(dialog, IDC_BUFSIZE_EDIT), WM_KEYDOWN, VK_ESCAPE, 0);
  SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  Sleep(200);  // the key and the close box's own cancel command come through the queue
  SendMessageA(dialog, WM_NULL, 0, 0);
  CHECK(IsWindowVisible(dialog));
  CHECK(current->link.reopens == 0);
}

DWORD WINAPI answerDialogs(void*) {
  struct Answer {
    const char* text;
    int32_t bufsize;  // afterwards
    int reopens;
  };
  // Each dialog that ends costs two seconds under Wine on a display without a window manager
  // (it waits for the hidden window's state), so the cases share few dialogs.
  const Answer answers[] = {{" 64", 64, 1}, {"257", 64, 1}, {"abc", 64, 1}, {"128abc", 128, 2}};
  LONG ended = 0;
  for (const Answer& answer : answers) {
    HWND dialog = waitForDialog();
    if (dialog == nullptr) return 1;
    if (ended == 0) {
      CHECK(editText(dialog) == "32");
      checkControls(dialog);
      checkOnlyOkEnds(dialog);
    } else {
      CHECK(editText(dialog) == std::to_string(current->program.settings.bufsize));
    }
    pressOk(dialog, answer.text);
    waitForDialogsEnded(++ended);
    CHECK(current->program.settings.bufsize == answer.bufsize && current->link.reopens == answer.reopens);
    CHECK(current->viewer.reader().readSize() == static_cast<uint32_t>(answer.bufsize));
  }
  return 0;
}

// Answers the one start-up message box, after checking its caption and text.
DWORD WINAPI answerMessageBox(void* expectedText) {
  HWND box = waitForDialog();
  if (box == nullptr) return 1;
  wchar_t text[128], expected[128];
  GetWindowTextW(box, text, 128);
  MainWindow::messageText(MainWindow::kErrorCaption, expected, 128);
  CHECK(std::wcscmp(text, expected) == 0);
  GetDlgItemTextW(box, 0xFFFF /* the message's static control */, text, 128);
  MainWindow::messageText(static_cast<const char*>(expectedText), expected, 128);
  CHECK(std::wcscmp(text, expected) == 0);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  return 0;
}

std::string programSettingsFile() {
  char programPath[MAX_PATH], fileName[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, programPath, MAX_PATH);
  return SettingsFile::fileNameBeside(programPath, length, fileName) == 0 ? fileName : "";
}

std::string readSettingsFile() {
  std::string content;
  if (FILE* file = std::fopen(programSettingsFile().c_str(), "rb")) {
    for (int c; (c = std::fgetc(file)) != EOF;) content += static_cast<char>(c);
    std::fclose(file);
  }
  return content;
}

void writeSettingsFile(const char* content) {
  FILE* file = std::fopen(programSettingsFile().c_str(), "wb");
  std::fputs(content, file);
  std::fclose(file);
}

int runWithAnswer(const char* expectedText) {
  HANDLE answerer = CreateThread(nullptr, 0, answerMessageBox, const_cast<char*>(expectedText), 0, nullptr);
  int exitCode = MainWindow::runWith(current->program);
  WaitForSingleObject(answerer, 15000);
  CloseHandle(answerer);
  return exitCode;
}

// With the address space used up, the start-up reports the failure instead of going on.
void allocationFailureTests() {
  FakeProgram fake;
  void* reserved[4096];
  int count = 0;
  for (SIZE_T block = 64u << 20; block >= 64u << 10 && count < 4096; block /= 2) {
    while (count < 4096 && (reserved[count] = VirtualAlloc(nullptr, block, MEM_RESERVE, PAGE_NOACCESS)))
      ++count;
  }
  int result = MainWindow::allocateBuffers(fake.program);
  while (count > 0) VirtualFree(reserved[--count], 0, MEM_RELEASE);
  CHECK(result == 1);

  FakeProgram second;
  CHECK(MainWindow::allocateBuffers(second.program) == 0);
  const uint32_t* pixels = second.viewer.picture().pixels.get();
  CHECK(pixels[0] == 0 && pixels[kBufferWidth * kBufferHeight - 1] == 0);
  CHECK(second.viewer.decoder().cellHistory()[FrameDecoder::kCellHistoryBytes - 1] == 0);
  const BITMAPINFOHEADER& header = second.program.bitmap.bmiHeader;
  CHECK(header.biSize == 40 && header.biWidth == 852 && header.biHeight == -524);
  CHECK(header.biPlanes == 1 && header.biBitCount == 32 && header.biCompression == BI_RGB);
}

}  // namespace

void dialogTests() {
  programThread = GetCurrentThreadId();
  FakeProgram fake;
  current = &fake;
  CHECK(MainWindow::allocateBuffers(fake.program) == 0 && MainWindow::createWindow(fake.program) == 0);
  HANDLE answerer = CreateThread(nullptr, 0, answerDialogs, nullptr, 0, nullptr);
  for (int run = 0; run < 4; ++run) {
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), BufferSizeDialog::kTemplateName,
                                     fake.program.window, BufferSizeDialog::dialogProcedure, 0);
    CHECK(result == IDC_BUFSIZE_OK);
    InterlockedIncrement(&dialogsEnded);
  }
  WaitForSingleObject(answerer, 15000);
  CloseHandle(answerer);
  DestroyWindow(fake.program.window);
  current = nullptr;
}

void startUpTests() {
  programThread = GetCurrentThreadId();
  CHECK(!programSettingsFile().empty());

  // The device cannot be opened: the message, exit code 1, no window, the file untouched.
  {
    FakeProgram fake;
    current = &fake;
    fake.link.openResult = OpenResult::DeviceNotFound;
    const char* existing = "[section]\r\nwide=1\r\n";
    writeSettingsFile(existing);
    CHECK(runWithAnswer(MainWindow::kDeviceFailedText) == 1);
    CHECK(FindWindowA(MainWindow::kClassName, nullptr) == nullptr);
    CHECK(readSettingsFile() == existing && fake.link.closes == 0);
  }

  allocationFailureTests();

  // A whole run on twelve frames: it ends by itself when the stream does, and saves.
  FakeProgram fake;
  current = &fake;
  for (int frame = 0; frame < 12; ++frame) fake.link.appendKeyFrame(0x12, 0x34);
  CHECK(MainWindow::runWith(fake.program) == 0);
  char title[128];
  GetWindowTextA(fake.program.window, title, sizeof title);
  CHECK(std::strncmp(title, "KESTRAVU [", 10) == 0);
  CHECK(fake.link.opens == 1 && fake.link.closes == 1);
  CHECK(readSettingsFile() == "[section]\r\nwide=1\r\nscr4=0\r\nbufsize=32\r\n");
  DeleteFileA(programSettingsFile().c_str());
  current = nullptr;
}
