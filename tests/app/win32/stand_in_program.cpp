// A stand-in for the programs the updater and the launcher stub start (the game client, the
// launcher program). It appends to "<its own file>.record", as UTF-8 lines:
//   start
//   command: <its whole command line>
//   folder: <its working folder>
// then, when "<its own file>.linger" holds a number, stays that many seconds and appends
// "ended". Started with "--client-window" at the end of its command line it is instead a
// running game client: a window of the client's class until it is closed (at most two
// minutes).

#include <cstdio>
#include <cwchar>
#include <string>

#include "platform/text.h"
#include "ui/win32/windows_headers.h"

namespace {

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::string Utf8(const std::wstring& text) {
  return platform::Utf8FromUtf16(std::u16string(text.begin(), text.end()));
}

void Append(const std::wstring& file, const std::string& line) {
  if (FILE* out = _wfopen(file.c_str(), L"ab")) {
    std::fwrite(line.data(), 1, line.size(), out);
    std::fputc('\n', out);
    std::fclose(out);
  }
}

int SecondsIn(const std::wstring& file) {
  FILE* in = _wfopen(file.c_str(), L"rb");
  if (in == nullptr) return 0;
  int seconds = 0;
  if (std::fscanf(in, "%d", &seconds) != 1) seconds = 0;
  std::fclose(in);
  return seconds;
}

LRESULT CALLBACK ClientWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

int RunClientWindow(HINSTANCE instance) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = ClientWindowProcedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"ZVelkarClient Window";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"ZVelkarClient Window", L"Solmere Classic", WS_POPUP, 0, 0, 10, 10, nullptr,
                                nullptr, instance, nullptr);
  if (window == nullptr) return 3;
  Append(OwnPath() + L".record", "window");
  // Never a program left behind by a failed test: it ends by itself.
  SetTimer(window, 1, 120000, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER) break;
    DispatchMessageW(&message);
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  const std::wstring commandLine = GetCommandLineW();
  if (commandLine.ends_with(L"--client-window")) return RunClientWindow(instance);
  const std::wstring self = OwnPath();
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  Append(self + L".record", "start\ncommand: " + Utf8(commandLine) + "\nfolder: " + Utf8(folder));
  const int linger = SecondsIn(self + L".linger");
  if (linger > 0) {
    Sleep(static_cast<DWORD>(linger) * 1000);
    Append(self + L".record", "ended");
  }
  return 0;
}
