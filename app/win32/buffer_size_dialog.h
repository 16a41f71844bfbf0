// The modal dialog that changes the USB read size while the program runs. OK (id 201) is its
// only way out; an accepted size reopens the device at once.
#pragma once
#include <windows.h>

#include <cstdint>

namespace BufferSizeDialog {

constexpr const char* kTemplateName = "IDR_DIALOG";
constexpr int kTextCapacity = 64;

void run(HINSTANCE instance, HWND owner);

INT_PTR CALLBACK dialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace BufferSizeDialog
