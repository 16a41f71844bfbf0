// KESTRAVU.exe, the Windows front end: start-up and shutdown, the main window whose timer
// decodes a frame per tick, the settings file, the read size dialog and their resources.
#pragma once
#include <windows.h>

#include <cstdint>

#include "settings.h"
#include "viewer.h"

namespace MainWindow {

constexpr UINT_PTR IDT_FRAME = 100;
constexpr int kWindowLeft = 100;
constexpr int kWindowTop = 100;
constexpr const char* kClassName = "KESTRAVU";
constexpr const char* kTitle = "KESTRAVU";
constexpr const char* kMenuName = "IDR_MENU";

// Start-up failures, shown in a message box with no owner. Kept as their Shift-JIS (code page
// 932) bytes, and shown through the wide-character API after conversion from that code page,
// so that they read the same on a Windows whose own code page is not 932.
constexpr UINT kMessageCodePage = 932;
constexpr const char* kErrorCaption = "\x83\x47\x83\x89\x81\x5b";
constexpr const char* kDeviceFailedText =
    "USB \x82\xcc\x8f\x89\x8a\xfa\x89\xbb\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd";
constexpr const char* kWindowFailedText =
    "\x83\x45\x83\x42\x83\x93\x83\x68\x83\x45\x82\xcc\x8d\xec\x90\xac\x82\xc9\x8e\xb8\x94\x73\x82"
    "\xb5\x82\xdc\x82\xb5\x82\xbd";
constexpr const char* kMemoryFailedText =
    "\x83\x81\x83\x82\x83\x8a\x82\xcc\x8a\x6d\x95\xdb\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82"
    "\xb5\x82\xbd";

constexpr int kExitNormal = 0;
constexpr int kExitStartupFailed = 1;

// Everything the running program owns, in one record that run() keeps on its stack; the window
// finds it through its user data, the dialog through its owner window.
struct Program {
  HINSTANCE instance = nullptr;
  HWND window = nullptr;
  HMENU menu = nullptr;
  Settings settings;
  Viewer* viewer = nullptr;
  BITMAPINFO bitmap = {};  // describes the whole 852 x 524 top-down picture to the display
};

// The whole program: start-up, message loop, shutdown. Returns the exit code.
int run(HINSTANCE instance);

// The program once the device link is chosen: settings, device, buffers, window, message loop,
// shutdown. Returns the exit code.
int runWith(Program& program);

// A start-up failure's text (Shift-JIS) as UTF-16 in `out`, which holds `capacity` characters.
void messageText(const char* shiftJis, wchar_t* out, int capacity);

// Start-up steps, each 0 on success and 1 on failure.
int allocateBuffers(Program& program);  // cell history and picture, zero-filled
int createWindow(Program& program);     // registers the class and creates the window at the current scale

// The program record of the main window `window` (null before it is created).
Program* programOf(HWND window);

// Outer window size at the given scale. The frame borders are deliberately not counted, so
// the client area cuts a few pixels off the picture's right and bottom edges.
SIZE outerSize(int32_t wide);

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace MainWindow
