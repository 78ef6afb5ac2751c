// <windows.h> first: the other Windows headers depend on it.
#include <windows.h>

#include "platform/interrupt_state.h"
#include "platform/terminal.h"

// Older MinGW headers lack it; consoles before Windows 10 ignore the flag.
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace platform {
namespace {

// Set when Ctrl+C comes, for waits that also wait for input.
HANDLE InterruptEvent() {
  static const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

// Runs on a thread the system starts for the event.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  ::SetEvent(InterruptEvent());
  InterruptState::Instance().Raise();
  return TRUE;
}

// A console, not a redirection: the NUL device also reports itself as a character device.
bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}

}  // namespace

bool StandardInputIsTerminal() {
  return IsConsole(STD_INPUT_HANDLE);
}

bool StandardOutputIsTerminal() {
  return IsConsole(STD_OUTPUT_HANDLE);
}

bool StandardErrorIsTerminal() {
  return IsConsole(STD_ERROR_HANDLE);
}

void PrepareTerminalOutput() {
  ::SetConsoleOutputCP(CP_UTF8);
  for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE output = ::GetStdHandle(which);
    DWORD mode = 0;
    if (::GetConsoleMode(output, &mode)) ::SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
}

void CatchInterrupt() {
  InterruptEvent();
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool InterruptRequested() {
  return InterruptState::Instance().raised();
}

bool WaitForInterrupt(int milliseconds) {
  return InterruptState::Instance().WaitFor(std::chrono::milliseconds(milliseconds));
}

void SetInterruptHandler(std::function<void()> handler) {
  InterruptState::Instance().SetHandler(std::move(handler));
}

bool WaitForInput(int milliseconds) {
  const HANDLE waits[2] = {::GetStdHandle(STD_INPUT_HANDLE), InterruptEvent()};
  const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= end) return false;
    if (::WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(end - now)) != WAIT_OBJECT_0) return false;
    const HANDLE input = waits[0];
    // The handle is also signalled by mouse, focus and key-up events: only a key press counts.
    INPUT_RECORD record{};
    DWORD count = 0;
    if (!::PeekConsoleInputW(input, &record, 1, &count) || count == 0) return false;
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return true;
    ::ReadConsoleInputW(input, &record, 1, &count);
  }
}

}  // namespace platform
