// <windows.h> first: the other Windows headers depend on it.
#include <windows.h>

#include <atomic>

#include "platform/terminal.h"

// Older MinGW headers lack it; consoles before Windows 10 ignore the flag.
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace platform {
namespace {

std::atomic<bool> interrupted{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  interrupted = true;
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
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool InterruptRequested() {
  return interrupted.load();
}

bool WaitForInput(int milliseconds) {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= end) return false;
    if (::WaitForSingleObject(input, static_cast<DWORD>(end - now)) != WAIT_OBJECT_0) return false;
    // The handle is also signalled by mouse, focus and key-up events: only a key press counts.
    INPUT_RECORD record{};
    DWORD count = 0;
    if (!::PeekConsoleInputW(input, &record, 1, &count) || count == 0) return false;
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return true;
    ::ReadConsoleInputW(input, &record, 1, &count);
  }
}

}  // namespace platform
