// The end-to-end tests' eyes inside Wine: finds the viewer's windows from another process and
// prints what the X tools cannot see, as key=value lines on standard output. Geometry is in
// screen pixels, "x y width height". Exit code 0 when the thing asked for was found, 1 if not.
//
//   probe window                 the main window: title, outer and client rectangles, check marks
//   probe wait-title GLOB SECS   waits until the main window is shown and its title matches GLOB
//                                (* and ?); it is found already while it is being created
//   probe wait-gone SECS         waits until no main window is left
//   probe dialog SECS            waits for a dialog owned by the main window: its rectangle, the
//                                edit box's text, the rectangles of OK and the edit box
//   probe dialog-gone SECS       waits until the main window owns no dialog
//   probe message SECS           waits for an ownerless message box: caption, text, OK button
//   probe popup SECS             waits for an open drop-down menu: its rectangle
//   probe popup-gone SECS        waits until no drop-down menu is open
//   probe metrics                the system metrics the window size is built from
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "resource_ids.h"

namespace {

const char kMainClass[] = "KESTRAVU";
const int kMessageTextId = 0xFFFF;  // the static control that holds a message box's text
const DWORD kPollMs = 20;
// What the waits for a window's absence return when it is gone (null means "keep waiting").
const HWND kGone = reinterpret_cast<HWND>(1);

bool globMatch(const char* pattern, const char* text) {
  if (*pattern == '\0') return *text == '\0';
  if (*pattern == '*') return globMatch(pattern + 1, text) || (*text != '\0' && globMatch(pattern, text + 1));
  if (*text == '\0') return false;
  return (*pattern == '?' || *pattern == *text) && globMatch(pattern + 1, text + 1);
}

// Texts are read as UTF-16 and printed as UTF-8, and as code page 932 bytes in hex, so that a
// test can compare both what a reader sees and the bytes the program stored.
void printText(const char* key, const wchar_t* text) {
  char utf8[1024] = "";
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
  std::printf("%s=%s\n", key, utf8);
  char sjis[1024] = "";
  int length = WideCharToMultiByte(932, 0, text, -1, sjis, sizeof sjis, nullptr, nullptr);
  std::printf("%s_cp932=", key);
  for (int i = 0; i + 1 < length; ++i) std::printf("%02x", static_cast<unsigned char>(sjis[i]));
  std::printf("\n");
}

void printRect(const char* key, const RECT& rect) {
  std::printf("%s=%ld %ld %ld %ld\n", key, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

void printWindowRect(const char* key, HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  printRect(key, rect);
}

void printClientRect(const char* key, HWND window) {
  RECT rect{};
  GetClientRect(window, &rect);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  OffsetRect(&rect, origin.x, origin.y);
  printRect(key, rect);
}

// Another process's control answers WM_GETTEXT through the system; the time-out keeps the probe
// from hanging while the viewer's thread is blocked in a device read.
void printControlText(const char* key, HWND control) {
  wchar_t text[512] = L"";
  DWORD_PTR copied = 0;
  if (control == nullptr ||
      !SendMessageTimeoutW(control, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000, &copied)) {
    std::printf("%s_missing=1\n", key);
    return;
  }
  printText(key, text);
}

// A menu belongs to the process that loaded it; where the system cannot tell another process
// its check marks, the state is printed as "unknown" and the tests read the drawn menu instead.
void printCheck(const char* key, HMENU menu, UINT item) {
  UINT state = menu ? GetMenuState(menu, item, MF_BYCOMMAND) : 0xFFFFFFFFu;
  if (state == 0xFFFFFFFFu) {
    std::printf("%s=unknown\n", key);
  } else {
    std::printf("%s=%d\n", key, (state & MF_CHECKED) ? 1 : 0);
  }
}

HWND mainWindow() { return FindWindowA(kMainClass, nullptr); }

void printMainWindow(HWND window) {
  wchar_t title[512] = L"";
  GetWindowTextW(window, title, 512);
  printText("title", title);
  printWindowRect("window", window);
  printClientRect("client", window);
  std::printf("visible=%d\n", IsWindowVisible(window) ? 1 : 0);
  HMENU menu = GetMenu(window);
  std::printf("menu=%d\n", menu ? 1 : 0);
  printCheck("wide_checked", menu, IDM_WIDE);
  printCheck("screen4_checked", menu, IDM_SCREEN4);
}

struct Search {
  const char* className;
  HWND owner;        // only windows owned by this one, when set
  bool ownerless;    // only windows without an owner
  HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM parameter) {
  Search* search = reinterpret_cast<Search*>(parameter);
  char className[64] = "";
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, search->className) != 0 || !IsWindowVisible(window)) return TRUE;
  HWND owner = GetWindow(window, GW_OWNER);
  if (search->owner != nullptr && owner != search->owner) return TRUE;
  if (search->ownerless && owner != nullptr) return TRUE;
  search->found = window;
  return FALSE;
}

HWND findTopLevel(const char* className, HWND owner, bool ownerless) {
  Search search{className, owner, ownerless, nullptr};
  EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Polls `find` until it returns a window or `seconds` have passed.
template <class Find>
HWND waitFor(double seconds, Find find) {
  const DWORD start = GetTickCount();
  for (;;) {
    HWND window = find();
    if (window != nullptr) return window;
    if (GetTickCount() - start > static_cast<DWORD>(seconds * 1000)) return nullptr;
    Sleep(kPollMs);
  }
}

int waitTitle(const char* pattern, double seconds) {
  char last[512] = "";
  HWND window = waitFor(seconds, [&]() -> HWND {
    HWND candidate = mainWindow();
    if (candidate == nullptr || !IsWindowVisible(candidate)) return nullptr;
    GetWindowTextA(candidate, last, sizeof last);
    return globMatch(pattern, last) ? candidate : nullptr;
  });
  if (window == nullptr) {
    std::printf("timeout=1\nlast_title=%s\n", last);
    return 1;
  }
  printMainWindow(window);
  return 0;
}

int waitGone(double seconds) {
  HWND gone = waitFor(seconds, []() -> HWND {
    return mainWindow() == nullptr ? kGone : nullptr;
  });
  return gone == nullptr ? 1 : 0;
}

int showDialog(double seconds) {
  HWND dialog = waitFor(seconds, []() -> HWND {
    HWND owner = mainWindow();
    return owner ? findTopLevel("#32770", owner, false) : nullptr;
  });
  if (dialog == nullptr) return 1;
  wchar_t caption[256] = L"";
  GetWindowTextW(dialog, caption, 256);
  printText("caption", caption);
  printWindowRect("dialog", dialog);
  printClientRect("dialog_client", dialog);
  printControlText("edit", GetDlgItem(dialog, IDC_BUFSIZE_EDIT));
  printWindowRect("edit_rect", GetDlgItem(dialog, IDC_BUFSIZE_EDIT));
  printWindowRect("ok_rect", GetDlgItem(dialog, IDC_BUFSIZE_OK));
  HWND focus = nullptr;
  GUITHREADINFO thread{};
  thread.cbSize = sizeof thread;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread)) focus = thread.hwndFocus;
  std::printf("focus_id=%d\n", focus ? GetDlgCtrlID(focus) : -1);
  return 0;
}

int waitDialogGone(double seconds) {
  HWND gone = waitFor(seconds, []() -> HWND {
    HWND owner = mainWindow();
    return owner && findTopLevel("#32770", owner, false) != nullptr ? nullptr : kGone;
  });
  return gone == nullptr ? 1 : 0;
}

int showMessage(double seconds) {
  HWND box = waitFor(seconds, []() -> HWND { return findTopLevel("#32770", nullptr, true); });
  if (box == nullptr) return 1;
  wchar_t caption[256] = L"";
  GetWindowTextW(box, caption, 256);
  printText("caption", caption);
  printControlText("text", GetDlgItem(box, kMessageTextId));
  printWindowRect("box", box);
  HWND ok = GetDlgItem(box, IDOK);
  std::printf("ok=%d\n", ok ? 1 : 0);
  if (ok) printWindowRect("ok_rect", ok);
  std::printf("cancel=%d\n", GetDlgItem(box, IDCANCEL) ? 1 : 0);
  return 0;
}

int showPopup(double seconds) {
  HWND popup = waitFor(seconds, []() -> HWND { return findTopLevel("#32768", nullptr, false); });
  if (popup == nullptr) return 1;
  printWindowRect("popup", popup);
  return 0;
}

int waitPopupGone(double seconds) {
  HWND gone = waitFor(seconds, []() -> HWND {
    return findTopLevel("#32768", nullptr, false) == nullptr ? kGone : nullptr;
  });
  return gone == nullptr ? 1 : 0;
}

int showMetrics() {
  std::printf("cymenu=%d\n", GetSystemMetrics(SM_CYMENU));
  std::printf("cycaption=%d\n", GetSystemMetrics(SM_CYCAPTION));
  std::printf("cxfixedframe=%d\n", GetSystemMetrics(SM_CXFIXEDFRAME));
  std::printf("cyfixedframe=%d\n", GetSystemMetrics(SM_CYFIXEDFRAME));
  std::printf("cxsize=%d\n", GetSystemMetrics(SM_CXSIZE));
  std::printf("cysize=%d\n", GetSystemMetrics(SM_CYSIZE));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 2;
  const char* command = argc > 1 ? argv[1] : "";
  double seconds = 0;
  if (std::strcmp(command, "window") == 0) {
    HWND window = mainWindow();
    if (window) printMainWindow(window);
    status = window ? 0 : 1;
  } else if (std::strcmp(command, "wait-title") == 0 && argc == 4) {
    status = waitTitle(argv[2], std::atof(argv[3]));
  } else if (std::strcmp(command, "wait-gone") == 0 && argc == 3) {
    status = waitGone(std::atof(argv[2]));
  } else if (std::strcmp(command, "dialog") == 0) {
    seconds = argc > 2 ? std::atof(argv[2]) : 0;
    status = showDialog(seconds);
  } else if (std::strcmp(command, "dialog-gone") == 0 && argc == 3) {
    status = waitDialogGone(std::atof(argv[2]));
  } else if (std::strcmp(command, "message") == 0) {
    seconds = argc > 2 ? std::atof(argv[2]) : 0;
    status = showMessage(seconds);
  } else if (std::strcmp(command, "popup") == 0) {
    seconds = argc > 2 ? std::atof(argv[2]) : 0;
    status = showPopup(seconds);
  } else if (std::strcmp(command, "popup-gone") == 0 && argc == 3) {
    status = waitPopupGone(std::atof(argv[2]));
  } else if (std::strcmp(command, "metrics") == 0) {
    status = showMetrics();
  } else {
    std::fprintf(stderr, "usage: probe window|wait-title GLOB SECS|wait-gone SECS|dialog SECS|dialog-gone SECS|"
                         "message SECS|popup SECS|popup-gone SECS|metrics\n");
  }
  std::fflush(stdout);
  return status;
}
