#include "buffer_size_dialog.h"

#include <climits>
#include <cstdio>

#include "main_window.h"
#include "resource_ids.h"

namespace BufferSizeDialog {

namespace {

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The dialog is always owned by the main window, whose program record it changes.
MainWindow::Program& programOf(HWND dialog) { return *MainWindow::programOf(GetWindow(dialog, GW_OWNER)); }

void onInitDialog(HWND dialog) {
  char text[kTextCapacity];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(programOf(dialog).settings.bufsize));
  SetDlgItemTextA(dialog, IDC_BUFSIZE_EDIT, text);
}

void onOk(HWND dialog) {
  char text[kTextCapacity];
  if (GetDlgItemTextA(dialog, IDC_BUFSIZE_EDIT, text, kTextCapacity) == 0) return;  // stays open
  int32_t readSize = parseNumber(text);
  if (readSize >= 1 && readSize <= kMaxReadSize) {
    MainWindow::Program& program = programOf(dialog);
    program.settings.bufsize = readSize;
    program.viewer->changeReadSize(readSize);
  }
  EndDialog(dialog, IDC_BUFSIZE_OK);
}

}  // namespace

int32_t parseNumber(const char* text) {
  while (isBlank(*text)) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t magnitude = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    magnitude = magnitude * 10 + (*text - '0');
    if (magnitude > int64_t{INT32_MAX} + 1) magnitude = int64_t{INT32_MAX} + 1;
  }
  if (negative) return static_cast<int32_t>(-magnitude);
  return static_cast<int32_t>(magnitude > INT32_MAX ? INT32_MAX : magnitude);
}

void run(HINSTANCE instance, HWND owner) {
  DialogBoxParamA(instance, kTemplateName, owner, dialogProcedure, 0 /* no parameter */);
}

INT_PTR CALLBACK dialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM /* lParam */) {
  switch (message) {
    case WM_INITDIALOG:
      onInitDialog(dialog);
      return TRUE;  // the system puts the focus on the first control, the OK button
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_BUFSIZE_OK) onOk(dialog);
      // Esc and the close box arrive here as IDCANCEL: taken, so that nothing else ends it.
      return LOWORD(wParam) == IDC_BUFSIZE_OK || LOWORD(wParam) == IDCANCEL;
  }
  return FALSE;
}

}  // namespace BufferSizeDialog
