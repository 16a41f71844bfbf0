#include "main_window.h"

#include "buffer_size_dialog.h"
#include "frame_decoder.h"
#include "frame_stats.h"
#include "resource_ids.h"
#include "usb_link.h"

namespace MainWindow {

MainWindowState windowState;

namespace {

// The part of the bottom-up frame buffer that holds the picture at one scale. At normal scale
// the picture lies in buffer rows 0 ... 261, which the copy takes as scan lines 262 ... 523.
struct PaintArea {
  DWORD width, height;
  int sourceY;
  UINT firstScanLine, scanLines;
};
constexpr PaintArea kNormalArea = {kPictureWidth, kPictureHeight, kPictureHeight, kPictureHeight,
                                   kPictureHeight};
constexpr PaintArea kWideArea = {kBufferWidth, kBufferHeight, 0, 0, kBufferHeight};

void setCheckMark(UINT commandId, int32_t on) {
  CheckMenuItem(windowState.menu, commandId, MF_BYCOMMAND | (on != 0 ? MF_CHECKED : MF_UNCHECKED));
}

void onCreate(HWND window) {
  windowState.menu = LoadMenuA(windowState.instance, kMenuName);
  SetMenu(window, windowState.menu);
  setCheckMark(IDM_WIDE, settings.wide);
  setCheckMark(IDM_SCREEN4, settings.scr4);
}

void onTimer(HWND window) {
  StreamReader::DeviceSource source;
  FrameDecoder::Result result = FrameDecoder::decodeFrame(source);
  if (result == FrameDecoder::Result::SourceFailed) {
    PostQuitMessage(0);  // the loop ends and the normal shutdown saves the settings
    return;
  }
  // A stream without a whole frame in it: nothing to count or show, try again next tick.
  if (result == FrameDecoder::Result::NoFrame) return;
  if (const char* title = FrameStats::frameCompleted()) SetWindowTextA(window, title);
  InvalidateRect(window, nullptr /* whole client area */, FALSE /* no erasing */);
}

void onPaint(HWND window) {
  PAINTSTRUCT paint;
  HDC deviceContext = BeginPaint(window, &paint);
  const PaintArea& area = settings.wide != 0 ? kWideArea : kNormalArea;
  SetDIBitsToDevice(deviceContext, 0 /* destination x */, 0 /* destination y */, area.width,
                    area.height, 0 /* source x */, area.sourceY, area.firstScanLine, area.scanLines,
                    frameBuffer.pixels, reinterpret_cast<const BITMAPINFO*>(&frameBuffer.header),
                    DIB_RGB_COLORS);
  EndPaint(window, &paint);
}

void onWide(HWND window) {
  settings.wide = settings.wide == 0 ? 1 : 0;
  setCheckMark(IDM_WIDE, settings.wide);
  DrawMenuBar(window);
  SIZE size = outerSize(settings.wide);
  SetWindowPos(window, nullptr /* top of the order */, 0 /* x */, 0 /* y */, size.cx, size.cy,
               SWP_NOMOVE);
}

void onScreen4(HWND window) {
  settings.scr4 = settings.scr4 == 0 ? 1 : 0;
  setCheckMark(IDM_SCREEN4, settings.scr4);
  DrawMenuBar(window);
}

// True when the command is fully handled; the rest also goes to default processing.
bool onCommand(HWND window, WORD commandId) {
  switch (commandId) {
    case IDM_QUIT: DestroyWindow(window); return false;
    case IDM_WIDE: onWide(window); return true;
    case IDM_SCREEN4: onScreen4(window); return true;
    case IDM_BUFSIZE: BufferSizeDialog::run(windowState.instance, window); return false;
  }
  return false;
}

}  // namespace

SIZE outerSize(int32_t wide) {
  int scale = wide != 0 ? 2 : 1;
  return SIZE{kPictureWidth * scale,
              kPictureHeight * scale + GetSystemMetrics(SM_CYMENU) + GetSystemMetrics(SM_CYCAPTION)};
}

int createWindow() {
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  windowClass.lpfnWndProc = windowProcedure;
  windowClass.hInstance = windowState.instance;
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

  SIZE size = outerSize(settings.wide);
  windowState.window = CreateWindowExA(0 /* no extended style */, kClassName, kTitle,
                                       WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, kWindowLeft,
                                       kWindowTop, size.cx, size.cy, nullptr /* no parent */,
                                       nullptr /* menu comes at creation */, windowState.instance,
                                       nullptr /* no creation data */);
  return windowState.window != nullptr ? 0 : 1;
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      onCreate(window);
      return 0;
    case WM_TIMER:
      if (wParam != IDT_FRAME) break;
      onTimer(window);
      return 0;
    case WM_PAINT:
      onPaint(window);
      return 0;
    case WM_COMMAND:
      if (onCommand(window, LOWORD(wParam))) return 0;
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace MainWindow
