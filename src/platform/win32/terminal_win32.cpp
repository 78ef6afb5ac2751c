// <windows.h> first: the other Windows headers depend on it.
#include <windows.h>

#include <atomic>
#include <vector>

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

std::u16string ProgramFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      std::u16string path(reinterpret_cast<const char16_t*>(buffer.data()), length);
      const std::size_t last = path.find_last_of(u"\\/");
      return last == std::u16string::npos ? path : path.substr(0, last);
    }
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace platform
