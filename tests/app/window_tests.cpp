// The main window driven through its messages, and the whole program run in this process.
#include <windows.h>

#include <cstdio>

#include "app_tests.h"
#include "check.h"
#include "fake_device_link.h"
#include "resource_ids.h"

namespace {

FakeProgram* current = nullptr;  // the program the window of these tests belongs to

constexpr COLORREF kBlue = RGB(0, 0, 255), kRed = RGB(255, 0, 0), kBlack = RGB(0, 0, 0);
constexpr uint8_t kBlueRedCell = 0x9C;  // palette 12 (blue) on the left, 9 (red) on the right

RECT windowRect() {
  RECT rect;
  GetWindowRect(current->program.window, &rect);
  return rect;
}

bool isChecked(UINT commandId) {
  return (GetMenuState(current->program.menu, commandId, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

void checkOuterSize(int width, int pictureHeight) {
  RECT rect = windowRect();
  CHECK(rect.left == 100 && rect.top == 100);
  CHECK(rect.right - rect.left == width);
  CHECK(rect.bottom - rect.top ==
        pictureHeight + GetSystemMetrics(SM_CYMENU) + GetSystemMetrics(SM_CYCAPTION));
}

void sendCommand(UINT commandId) { SendMessageA(current->program.window, WM_COMMAND, commandId, 0); }
void sendFrameTick() { SendMessageA(current->program.window, WM_TIMER, MainWindow::IDT_FRAME, 0); }

bool quitPosted() {
  MSG message;
  return PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
}

// Paints the window now and reads back its client area's pixel at (x, y).
COLORREF paintedPixel(int x, int y) {
  HWND window = current->program.window;
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  HDC deviceContext = GetDC(window);
  COLORREF colour = GetPixel(deviceContext, x, y);
  ReleaseDC(window, deviceContext);
  return colour;
}

void modeTests() {
  CHECK(isChecked(IDM_WIDE) && !isChecked(IDM_SCREEN4));
  checkOuterSize(852, 524);
  sendCommand(IDM_WIDE);
  CHECK(current->program.settings.wide == 0 && !isChecked(IDM_WIDE));
  checkOuterSize(426, 262);
  sendCommand(IDM_WIDE);
  CHECK(current->program.settings.wide == 1 && isChecked(IDM_WIDE));
  checkOuterSize(852, 524);

  sendCommand(IDM_SCREEN4);
  CHECK(current->program.settings.scr4 == 1 && isChecked(IDM_SCREEN4));
  checkOuterSize(852, 524);
  sendCommand(IDM_SCREEN4);
  CHECK(current->program.settings.scr4 == 0 && !isChecked(IDM_SCREEN4));
}

// Both scales must show the picture's top-left corner at the client area's top-left: the
// first line's cells there, black below it.
void paintTests() {
  current->link.appendKeyFrame(kBlueRedCell, 0x00);
  current->link.appendKeyFrame(kBlueRedCell, 0x00);
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

// The paint tests' two frames are the first two of the ten before the first title.
void frameTickTests() {
  for (int frame = 0; frame < 8; ++frame) current->link.appendKeyFrame(0x11, 0x22);
  char title[128];
  for (int frame = 0; frame < 7; ++frame) sendFrameTick();
  GetWindowTextA(current->program.window, title, sizeof title);
  CHECK_TEXT(title, "KESTRAVU");
  sendFrameTick();
  GetWindowTextA(current->program.window, title, sizeof title);
  CHECK(std::strncmp(title, "KESTRAVU [", 10) == 0 && std::strstr(title, " bytes/frame]") != nullptr);

  // Bytes without a frame marker: the tick gives up, nothing is counted and nothing ends.
  // Bytes without a frame marker: the tick gives up and nothing ends. No frame is counted for
  // them (the title changes only at the tenth frame after), but their bytes are.
  current->link.stream.assign(FrameDecoding::kMaxBytesPerCall + 4096, 0x00);
  current->link.streamPosition = 0;
  for (int frame = 0; frame < 10; ++frame) current->link.appendKeyFrame(0x11, 0x22);
  sendFrameTick();
  CHECK(!quitPosted());
  char before[128];
  GetWindowTextA(current->program.window, before, sizeof before);
  for (int frame = 0; frame < 9; ++frame) sendFrameTick();
  GetWindowTextA(current->program.window, title, sizeof title);
  CHECK_TEXT(title, before);
  sendFrameTick();
  GetWindowTextA(current->program.window, title, sizeof title);
  int bytesPerFrame = 0;
  CHECK(std::sscanf(title, "KESTRAVU [%*d frames/sec] [%d bytes/frame]", &bytesPerFrame) == 1);
  CHECK(bytesPerFrame > static_cast<int>(FrameDecoding::kMaxBytesPerCall / 10));

  // The stream ends: the loop is asked to end, the window stays until the shutdown.
  current->link.stream.clear();
  current->link.streamPosition = 0;
  sendFrameTick();
  CHECK(quitPosted() && IsWindow(current->program.window));
  sendCommand(IDM_QUIT);
  CHECK(!IsWindow(current->program.window) && quitPosted());
}

}  // namespace

void windowTests() {
  FakeProgram fake;
  current = &fake;
  fake.program.settings.wide = 1;
  CHECK(MainWindow::allocateBuffers(fake.program) == 0);
  CHECK(MainWindow::createWindow(fake.program) == 0);
  if (fake.program.window == nullptr) return;
  ShowWindow(fake.program.window, SW_SHOW);
  modeTests();
  sendCommand(IDM_WIDE);  // normal scale from here on
  paintTests();
  frameTickTests();
  current = nullptr;
}
