// The window procedure shared by every form's window.

#include <windowsx.h>

#include "ui/form.h"
#include "ui/win32/window_registry.h"
#include "ui/win32/windows_headers.h"

namespace Ormel::win32 {

LRESULT CALLBACK FormWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Form* form = FormOfWindow(window);
  if (form == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_DESTROY:
      form->OnDestroy();
      PostQuitMessage(0);
      return 0;
    case WM_MOVE:
    case WM_MOVING: {
      RECT rect;
      if (GetWindowRect(window, &rect)) {
        if (message == WM_MOVE) {
          form->OnMove(rect.left, rect.top);
        } else {
          form->OnMoving(rect.left, rect.top);
        }
      }
      return 0;
    }
    case WM_CLOSE:
      if (form->OnClose()) return 0;
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_ENABLE:
      if (wParam) {
        form->OnEnable();
      } else {
        form->OnDisable();
      }
      return 0;
    case WM_SHOWWINDOW:
      if (wParam) {
        form->OnShow();
      } else {
        form->OnHide();
      }
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      form->Redraw();
      return 0;
    }
    // Client coordinates, 16-bit signed values sign-extended.
    case WM_LBUTTONDOWN:
      form->HandleButtonDown(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return 0;
    case WM_LBUTTONUP:
      form->HandleButtonUp(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return 0;
    case WM_MOUSEMOVE:
      form->HandleMouseMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), (wParam & MK_LBUTTON) != 0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace Ormel::win32
