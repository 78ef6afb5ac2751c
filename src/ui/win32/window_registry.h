#pragma once
// The forms by window handle, for the window procedure that all forms share.

#include "ui/win32/windows_headers.h"

namespace Ormel {
class Form;
}

namespace Ormel::win32 {

void RegisterFormWindow(HWND window, Form* form);
void UnregisterFormWindow(HWND window);
// Null for a window without a form (not yet registered, or already gone).
Form* FormOfWindow(HWND window);

// The window procedure of every form's window class: window messages into the form's hooks
// and mouse dispatch.
LRESULT CALLBACK FormWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// "message: system error text" on the standard error stream, as perror writes it.
void ReportSystemError(const char* message);

}  // namespace Ormel::win32
