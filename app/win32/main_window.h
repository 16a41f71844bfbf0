// Application shell: the program's start-up and shutdown, and its one main window with the
// menu, the frame timer that decodes a frame per tick, and the painting of the picture.
// The settings file is in settings_file.h, the read size dialog in buffer_size_dialog.h,
// the menu, dialog and icon templates in resources/.
#pragma once
#include <windows.h>

#include <cstdint>

namespace MainWindow {

constexpr UINT_PTR IDT_FRAME = 100;
constexpr UINT kFramePeriodMs = 16;
constexpr int kWindowLeft = 100;
constexpr int kWindowTop = 100;
constexpr const char* kClassName = "KESTRAVU";
constexpr const char* kTitle = "KESTRAVU";
constexpr const char* kMenuName = "IDR_MENU";

// Start-up failures, shown in a message box with no owner. Shift-JIS (code page 932).
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

struct MainWindowState {
  HINSTANCE instance = nullptr;
  HWND window = nullptr;
  HMENU menu = nullptr;
};

extern MainWindowState windowState;

// The whole program: start-up, message loop, shutdown. Returns the exit code.
int run(HINSTANCE instance);

// Start-up steps, each 0 on success and 1 on failure.
int allocateBuffers();  // cell history and frame buffer, zero-filled; nothing kept on failure
int createWindow();     // registers the class and creates the window at the current scale
void freeBuffers();

// Outer window size at the given scale. The frame borders are deliberately not counted, so
// the client area cuts a few pixels off the picture's right and bottom edges.
SIZE outerSize(int32_t wide);

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace MainWindow
