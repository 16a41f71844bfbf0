#include "main_window.h"

#include "buffer_size_dialog.h"
#include "resource_ids.h"

namespace MainWindow {

namespace {

void setCheckMark(const Program& program, UINT commandId, int32_t on) {
  CheckMenuItem(program.menu, commandId, MF_BYCOMMAND | (on != 0 ? MF_CHECKED : MF_UNCHECKED));
}

// The first message the window gets: from here on it finds the program through its user data.
void onNonClientCreate(HWND window, LPARAM lParam) {
  auto* program = static_cast<Program*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
  program->window = window;
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(program));
}

void onCreate(Program& program, HWND window) {
  program.menu = LoadMenuA(program.instance, kMenuName);
  SetMenu(window, program.menu);
  setCheckMark(program, IDM_WIDE, program.settings.wide);
  setCheckMark(program, IDM_SCREEN4, program.settings.scr4);
}

void onTimer(Program& program, HWND window) {
  switch (program.viewer->tick(program.settings.pictureMode())) {
    case TickResult::DeviceFailed:
      PostQuitMessage(0);  // the loop ends and the normal shutdown saves the settings
      return;
    case TickResult::NoFrame: return;  // nothing to count or show: try again next tick
    case TickResult::NewTitle: SetWindowTextA(window, program.viewer->title()); break;
    case TickResult::FrameShown: break;
  }
  InvalidateRect(window, nullptr /* whole client area */, FALSE /* no erasing */);
}

void onPaint(const Program& program, HWND window) {
  PAINTSTRUCT paint;
  HDC deviceContext = BeginPaint(window, &paint);
  // Only the picture's rows are handed to the display, from the first: given the whole buffer,
  // the source y of a top-down bitmap would be counted from the end of the rows given, and
  // normal scale would show rows 262 on.
  const PictureSize area = pictureSize(program.settings.pictureMode().wide);
  SetDIBitsToDevice(deviceContext, 0 /* destination x */, 0 /* destination y */, area.width,
                    area.height, 0 /* source x */, 0 /* source y */, 0 /* first scan line */,
                    area.height /* scan lines */, program.viewer->picture().pixels.get(),
                    &program.bitmap, DIB_RGB_COLORS);
  EndPaint(window, &paint);
}

void onWide(Program& program, HWND window) {
  program.settings.toggleWide();
  setCheckMark(program, IDM_WIDE, program.settings.wide);
  DrawMenuBar(window);
  SIZE size = outerSize(program.settings.wide);
  SetWindowPos(window, nullptr /* top of the order */, 0 /* x */, 0 /* y */, size.cx, size.cy,
               SWP_NOMOVE);
}

void onScreen4(Program& program, HWND window) {
  program.settings.toggleScreen4();
  setCheckMark(program, IDM_SCREEN4, program.settings.scr4);
  DrawMenuBar(window);
}

// True when the command is fully handled; the rest also goes to default processing.
bool onCommand(Program& program, HWND window, WORD commandId) {
  switch (commandId) {
    case IDM_QUIT: DestroyWindow(window); return false;
    case IDM_WIDE: onWide(program, window); return true;
    case IDM_SCREEN4: onScreen4(program, window); return true;
    case IDM_BUFSIZE: BufferSizeDialog::run(program.instance, window); return false;
  }
  return false;
}

}  // namespace

Program* programOf(HWND window) {
  return reinterpret_cast<Program*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

SIZE outerSize(int32_t wide) {
  const PictureSize picture = pictureSize(wide != 0);
  return SIZE{picture.width,
              picture.height + GetSystemMetrics(SM_CYMENU) + GetSystemMetrics(SM_CYCAPTION)};
}

int createWindow(Program& program) {
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  windowClass.lpfnWndProc = windowProcedure;
  windowClass.hInstance = program.instance;
  windowClass.hIcon = static_cast<HICON>(LoadImageA(nullptr /* system */, IDI_APPLICATION,
                                                    IMAGE_ICON, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
  windowClass.hCursor = static_cast<HCURSOR>(
      LoadImageA(nullptr /* system */, IDC_ARROW, IMAGE_CURSOR, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszMenuName = nullptr;  // attached when the window is created
  windowClass.lpszClassName = kClassName;
  windowClass.hIconSm = static_cast<HICON>(LoadImageA(nullptr /* system */, IDI_APPLICATION,
                                                      IMAGE_ICON, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
  if (RegisterClassExA(&windowClass) == 0) return 1;

  SIZE size = outerSize(program.settings.wide);
  HWND window = CreateWindowExA(0 /* no extended style */, kClassName, kTitle,
                                WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, kWindowLeft, kWindowTop,
                                size.cx, size.cy, nullptr /* no parent */,
                                nullptr /* menu comes at creation */, program.instance,
                                &program /* creation data: found again through the user data */);
  return window != nullptr ? 0 : 1;
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Program* program = programOf(window);
  switch (message) {
    case WM_NCCREATE:
      onNonClientCreate(window, lParam);
      break;
    case WM_CREATE:
      onCreate(*program, window);
      return 0;
    case WM_TIMER:
      if (wParam != IDT_FRAME) break;
      onTimer(*program, window);
      return 0;
    case WM_PAINT:
      onPaint(*program, window);
      return 0;
    case WM_COMMAND:
      if (onCommand(*program, window, LOWORD(wParam))) return 0;
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace MainWindow
