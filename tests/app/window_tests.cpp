// The main window driven through its messages, and the whole program run in this process.
#include <windows.h>

#include "check.h"
#include "fake_device_link.h"
#include "frame_decoder.h"
#include "frame_stats.h"
#include "main_window.h"
#include "resource_ids.h"
#include "settings_file.h"

namespace {

using MainWindow::windowState;

constexpr COLORREF kBlue = RGB(0, 0, 255), kRed = RGB(255, 0, 0), kBlack = RGB(0, 0, 0);
constexpr uint8_t kBlueRedCell = 0x9C;  // palette 12 (blue) on the left, 9 (red) on the right

RECT windowRect() {
  RECT rect;
  GetWindowRect(windowState.window, &rect);
  return rect;
}

bool isChecked(UINT commandId) {
  return (GetMenuState(windowState.menu, commandId, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

void checkOuterSize(int width, int pictureHeight) {
  RECT rect = windowRect();
  CHECK(rect.left == 100 && rect.top == 100);
  CHECK(rect.right - rect.left == width);
  CHECK(rect.bottom - rect.top ==
        pictureHeight + GetSystemMetrics(SM_CYMENU) + GetSystemMetrics(SM_CYCAPTION));
}

void sendCommand(UINT commandId) { SendMessageA(windowState.window, WM_COMMAND, commandId, 0); }
void sendFrameTick() { SendMessageA(windowState.window, WM_TIMER, MainWindow::IDT_FRAME, 0); }

bool quitPosted() {
  MSG message;
  return PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
}

// Paints the window now and reads back its client area's pixel at (x, y).
COLORREF paintedPixel(int x, int y) {
  RedrawWindow(windowState.window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  HDC deviceContext = GetDC(windowState.window);
  COLORREF colour = GetPixel(deviceContext, x, y);
  ReleaseDC(windowState.window, deviceContext);
  return colour;
}

void modeTests() {
  CHECK(isChecked(IDM_WIDE) && !isChecked(IDM_SCREEN4));
  checkOuterSize(852, 524);
  sendCommand(IDM_WIDE);
  CHECK(settings.wide == 0 && !isChecked(IDM_WIDE));
  checkOuterSize(426, 262);
  sendCommand(IDM_WIDE);
  CHECK(settings.wide == 1 && isChecked(IDM_WIDE));
  checkOuterSize(852, 524);

  sendCommand(IDM_SCREEN4);
  CHECK(settings.scr4 == 1 && isChecked(IDM_SCREEN4));
  checkOuterSize(852, 524);
  sendCommand(IDM_SCREEN4);
  CHECK(settings.scr4 == 0 && !isChecked(IDM_SCREEN4));
}

// Both scales must show the picture's top-left corner at the client area's top-left: the
// first line's cells there, black below it.
void paintTests() {
  FakeDevice::appendKeyFrame(kBlueRedCell, 0x00);
  FakeDevice::appendKeyFrame(kBlueRedCell, 0x00);
  sendFrameTick();
  CHECK(paintedPixel(0, 0) == kBlue && paintedPixel(1, 0) == kRed && paintedPixel(2, 0) == kBlue);
  CHECK(paintedPixel(0, 1) == kBlack);
  sendCommand(IDM_WIDE);
  sendFrameTick();
  CHECK(paintedPixel(0, 0) == kBlue && paintedPixel(1, 1) == kBlue && paintedPixel(4, 0) == kBlue);
  CHECK(paintedPixel(2, 0) == kRed && paintedPixel(3, 1) == kRed);
  CHECK(paintedPixel(0, 2) == kBlack);
  sendCommand(IDM_WIDE);
}

void frameTickTests() {
  FrameStats::statsState = FrameStats::StatsState{};
  for (int frame = 0; frame < 10; ++frame) FakeDevice::appendKeyFrame(0x11, 0x22);
  char title[128];
  for (int frame = 0; frame < 9; ++frame) sendFrameTick();
  GetWindowTextA(windowState.window, title, sizeof title);
  CHECK_TEXT(title, "KESTRAVU");
  sendFrameTick();
  GetWindowTextA(windowState.window, title, sizeof title);
  CHECK(std::strncmp(title, "KESTRAVU [", 10) == 0 && std::strstr(title, " bytes/frame]") != nullptr);

  // Bytes without a frame marker: the tick gives up, nothing is counted and nothing ends.
  FakeDevice::stream.assign(FrameDecoder::kMaxBytesPerCall + 4096, 0x00);
  FakeDevice::streamPosition = 0;
  sendFrameTick();
  CHECK(!quitPosted() && FrameStats::statsState.frameCounter == 0);

  // The stream ends: the loop is asked to end, the window stays until the shutdown.
  FakeDevice::stream.clear();
  FakeDevice::streamPosition = 0;
  sendFrameTick();
  CHECK(quitPosted() && IsWindow(windowState.window));
  sendCommand(IDM_QUIT);
  CHECK(!IsWindow(windowState.window) && quitPosted());
}

}  // namespace

void windowTests() {
  FakeDevice::reset();
  settings = Settings{};
  settings.wide = 1;
  windowState.instance = GetModuleHandleA(nullptr);
  CHECK(MainWindow::allocateBuffers() == 0);
  CHECK(MainWindow::createWindow() == 0);
  if (windowState.window == nullptr) return;
  ShowWindow(windowState.window, SW_SHOW);
  modeTests();
  sendCommand(IDM_WIDE);  // normal scale from here on
  paintTests();
  frameTickTests();
  MainWindow::freeBuffers();
}
