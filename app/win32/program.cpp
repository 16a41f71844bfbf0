// Start-up, message loop and shutdown. Every resource is taken here once and given back in
// the reverse order at the end; a start-up failure ends the process with exit code 1 and
// saves nothing.
#include "d2xx_library.h"
#include "d2xx_link.h"
#include "main_window.h"
#include "settings_file.h"

namespace MainWindow {

namespace {

// The statistics and the decoder's patience follow the system's millisecond tick count.
class TickCountClock final : public Clock {
 public:
  uint32_t milliseconds() override { return static_cast<uint32_t>(GetTickCount()); }
};

void showStartupFailure(const char* text) {
  wchar_t caption[64], message[256];
  messageText(kErrorCaption, caption, 64);
  messageText(text, message, 256);
  MessageBoxW(nullptr /* no owner */, message, caption, MB_OK);
}

void runMessageLoop() {
  MSG message;
  while (GetMessageA(&message, nullptr /* any window */, 0, 0 /* any message */) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void fillBitmapHeader(BITMAPINFOHEADER& header) {
  header = BITMAPINFOHEADER{};
  header.biSize = sizeof header;  // 40
  header.biWidth = kBufferWidth;
  header.biHeight = -kBufferHeight;  // negative: top-down, as the core keeps the picture
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
}

int startUp(Program& program) {
  SettingsFile::load(program.settings);
  if (program.viewer->openDevice(program.settings.bufsize) != OpenResult::Opened) {
    showStartupFailure(kDeviceFailedText);
    return kExitStartupFailed;
  }
  if (allocateBuffers(program) != 0) {
    showStartupFailure(kMemoryFailedText);
    return kExitStartupFailed;
  }
  if (createWindow(program) != 0) {
    showStartupFailure(kWindowFailedText);
    return kExitStartupFailed;
  }
  ShowWindow(program.window, SW_SHOW);
  UpdateWindow(program.window);
  SetTimer(program.window, IDT_FRAME, kFramePeriodMs, nullptr /* timer messages */);
  return kExitNormal;
}

void shutDown(Program& program) {
  KillTimer(program.window, IDT_FRAME);
  program.viewer->closeDevice();
  SettingsFile::save(program.settings);
}

}  // namespace

void messageText(const char* shiftJis, wchar_t* out, int capacity) {
  int length = MultiByteToWideChar(kMessageCodePage, 0, shiftJis, -1 /* with its terminator */, out, capacity);
  if (length == 0) out[0] = L'\0';
}

int allocateBuffers(Program& program) {
  fillBitmapHeader(program.bitmap.bmiHeader);
  return program.viewer->allocateBuffers() ? 0 : 1;
}

int runWith(Program& program) {
  int exitCode = startUp(program);
  if (exitCode != kExitNormal) return exitCode;
  runMessageLoop();
  shutDown(program);
  return kExitNormal;
}

// The device is reached through the vendor's driver library, loaded at run time. A library
// that does not load leaves the link without functions, and the device open fails.
int run(HINSTANCE instance) {
  D2xxLibrary library;
  library.load();
  D2xxLink link(library.functions());
  TickCountClock clock;
  Viewer viewer(link, clock);
  Program program;
  program.instance = instance;
  program.viewer = &viewer;
  return runWith(program);
}

}  // namespace MainWindow
