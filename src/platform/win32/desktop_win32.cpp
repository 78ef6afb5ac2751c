// <windows.h> first: the other Windows headers depend on it.
#include <windows.h>
// The dialogs and the shell, after it.
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <vector>

#include "platform/desktop.h"
#include "platform/win32/win32_handles.h"

namespace platform {
namespace {

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The file name buffer of the open-file dialog, in units with the terminator.
constexpr std::size_t kPathUnits = 260;

constexpr int kStartAttempts = 3;
constexpr DWORD kStartRetryMilliseconds = 500;

}  // namespace

bool StartDetachedProcess(const std::u16string& program, const std::u16string& commandLine,
                          const std::u16string& folder) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // A start that fails for another reason than a missing program is tried again a few times:
  // under Wine, one start of a program that was there was seen to fail for no reason found.
  for (int attempt = 1;; ++attempt) {
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    if (::CreateProcessW(Wide(program), line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                         folder.empty() ? nullptr : Wide(folder), &startup, &process))
      break;
    const DWORD error = ::GetLastError();
    if (attempt == kStartAttempts || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_BAD_EXE_FORMAT)
      return false;
    ::Sleep(kStartRetryMilliseconds);
  }
  // Nobody waits for the program: its handles are not needed. They close in reverse order
  // of declaration, the thread's first.
  const win32::UniqueHandle processHandle(process.hProcess);
  const win32::UniqueHandle threadHandle(process.hThread);
  return true;
}

bool TopLevelWindowExists(const std::u16string& className) {
  return ::FindWindowW(Wide(className), nullptr) != nullptr;
}

void ShowSystemMessage(const std::u16string& text, const std::u16string& caption) {
  ::MessageBoxW(nullptr, Wide(text), Wide(caption), MB_OK);
}

bool ChooseFileToOpen(const std::u16string& label, const std::u16string& pattern, std::u16string& path) {
  // "label\0pattern\0\0": the dialog's list of filter entries.
  std::u16string filter = label;
  filter.push_back(u'\0');
  filter += pattern;
  filter.push_back(u'\0');
  filter.push_back(u'\0');
  wchar_t name[kPathUnits] = {};
  std::copy_n(path.begin(), std::min(path.size(), kPathUnits - 1), name);

  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.lpstrFilter = Wide(filter);
  dialog.nFilterIndex = 0;
  dialog.lpstrFile = name;
  dialog.nMaxFile = static_cast<DWORD>(kPathUnits);
  dialog.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  if (!::GetOpenFileNameW(&dialog)) return false;
  path.assign(reinterpret_cast<const char16_t*>(name));
  return true;
}

void OpenWithShell(const std::string& address) {
  ::ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

int RunMessageLoop() {
  MSG message = {};
  // 0 is the quit request, -1 a failure: either ends the loop.
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace platform
