// Start-up, message loop and shutdown. Every resource is taken here once and given back in
// the reverse order at the end; a start-up failure ends the process with exit code 1 and
// saves nothing.
#include "frame_decoder.h"
#include "main_window.h"
#include "settings_file.h"
#include "usb_link.h"

namespace MainWindow {

namespace {

void showStartupFailure(const char* text) {
  MessageBoxA(nullptr /* no owner */, text, kErrorCaption, MB_OK);
}

void runMessageLoop() {
  MSG message;
  while (GetMessageA(&message, nullptr /* any window */, 0, 0 /* any message */) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

int startUp(HINSTANCE instance) {
  windowState.instance = instance;
  Settings::load();
  if (DeviceLink::open() != 0) {
    showStartupFailure(kDeviceFailedText);
    return kExitStartupFailed;
  }
  if (allocateBuffers() != 0) {
    showStartupFailure(kMemoryFailedText);
    return kExitStartupFailed;
  }
  if (createWindow() != 0) {
    showStartupFailure(kWindowFailedText);
    return kExitStartupFailed;
  }
  ShowWindow(windowState.window, SW_SHOW);
  UpdateWindow(windowState.window);
  SetTimer(windowState.window, IDT_FRAME, kFramePeriodMs, nullptr /* timer messages */);
  return kExitNormal;
}

void shutDown() {
  KillTimer(windowState.window, IDT_FRAME);
  DeviceLink::close();
  freeBuffers();
  Settings::save();
}

}  // namespace

int allocateBuffers() {
  HANDLE heap = GetProcessHeap();
  FrameDecoder::decoderState.cellHistory =
      static_cast<uint8_t*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, FrameDecoder::kCellHistoryBytes));
  fillBitmapHeader(frameBuffer.header);
  frameBuffer.pixels = static_cast<uint32_t*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, kBufferBytes));
  if (FrameDecoder::decoderState.cellHistory != nullptr && frameBuffer.pixels != nullptr) return 0;
  freeBuffers();
  return 1;
}

void freeBuffers() {
  HANDLE heap = GetProcessHeap();
  if (frameBuffer.pixels != nullptr) HeapFree(heap, 0, frameBuffer.pixels);
  frameBuffer.pixels = nullptr;
  if (FrameDecoder::decoderState.cellHistory != nullptr)
    HeapFree(heap, 0, FrameDecoder::decoderState.cellHistory);
  FrameDecoder::decoderState.cellHistory = nullptr;
}

int run(HINSTANCE instance) {
  int exitCode = startUp(instance);
  if (exitCode != kExitNormal) return exitCode;
  runMessageLoop();
  shutDown();
  return kExitNormal;
}

}  // namespace MainWindow
