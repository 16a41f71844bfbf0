#include "buffer_size_dialog.h"

#include <cstdio>

#include "main_window.h"
#include "resource_ids.h"

namespace BufferSizeDialog {

namespace {

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
