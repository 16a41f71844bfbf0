// The modal dialog that changes the USB read size while the program runs. OK (id 201) is its
// only way out; an accepted size reopens the device at once.
#pragma once
#include <windows.h>

#include <cstdint>

namespace BufferSizeDialog {

constexpr const char* kTemplateName = "IDR_DIALOG";
constexpr int kTextCapacity = 64;

// The edit text as a number the way the C library reads one: leading white space, an optional
// sign, decimal digits up to the first other character; no digits give 0. Values beyond the
// 32-bit range stop at its ends instead of wrapping.
int32_t parseNumber(const char* text);

void run(HINSTANCE instance, HWND owner);

INT_PTR CALLBACK dialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace BufferSizeDialog
