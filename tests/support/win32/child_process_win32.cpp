#include <windows.h>

#include <algorithm>

#include "platform/text.h"
#include "support/child_process.h"

namespace testsupport {
namespace {

// One argument quoted the way CommandLineToArgvW splits it again: backslashes are
// literal except before a quote, where they and the quote are escaped.
void AppendQuoted(std::u16string* line, const std::u16string& argument) {
  line->push_back(u'"');
  std::size_t backslashes = 0;
  for (char16_t unit : argument) {
    if (unit == u'\\') {
      ++backslashes;
      continue;
    }
    if (unit == u'"') backslashes = backslashes * 2 + 1;
    line->append(backslashes, u'\\');
    backslashes = 0;
    line->push_back(unit);
  }
  line->append(backslashes * 2, u'\\');
  line->push_back(u'"');
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// A standard stream of the child: the file, or the null device when there is none.
HANDLE CreateInheritable(const std::filesystem::path& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES security{sizeof(security), nullptr, TRUE};
  const std::filesystem::path opened = path.empty() ? std::filesystem::path("NUL") : path;
  return ::CreateFileW(opened.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                       path.empty() ? OPEN_EXISTING : disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD Milliseconds(std::chrono::milliseconds limit) {
  return static_cast<DWORD>(std::min<long long>(limit.count(), INFINITE - 1));
}

}  // namespace

bool ChildProcess::Start(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         const ChildStreams& streams) {
  Kill();
  if (streams.outputToPipe || !streams.terminal.empty()) return false;
  std::u16string line;
  AppendQuoted(&line, program.u16string());
  for (const std::string& argument : arguments) {
    line.push_back(u' ');
    AppendQuoted(&line, platform::Utf16FromUtf8(argument));
  }
  Handle in(CreateInheritable(streams.input, GENERIC_READ, OPEN_EXISTING));
  Handle out(CreateInheritable(streams.output, GENERIC_WRITE, CREATE_ALWAYS));
  Handle err(CreateInheritable(streams.error, GENERIC_WRITE, CREATE_ALWAYS));
  if (!in.valid() || !out.valid() || !err.valid()) return false;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in.get();
  startup.hStdOutput = out.get();
  startup.hStdError = err.get();
  PROCESS_INFORMATION process{};
  // Under Wine a start of a program that is there was seen to fail now and then: tried again.
  for (int attempt = 1;; ++attempt) {
    std::u16string copy = line;
    if (::CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(copy.data()), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                         nullptr, nullptr, &startup, &process))
      break;
    const DWORD error = ::GetLastError();
    if (attempt == 3 || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
    ::Sleep(500);
  }
  ::CloseHandle(process.hThread);
  process_ = process.hProcess;
  return true;
}

bool ChildProcess::running() const {
  return process_ != nullptr && ::WaitForSingleObject(static_cast<HANDLE>(process_), 0) == WAIT_TIMEOUT;
}

std::optional<ChildExit> ChildProcess::Wait(std::chrono::milliseconds limit) {
  if (process_ == nullptr) return std::nullopt;
  if (::WaitForSingleObject(static_cast<HANDLE>(process_), Milliseconds(limit)) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  ChildExit exit;
  if (::GetExitCodeProcess(static_cast<HANDLE>(process_), &code)) exit.exitCode = static_cast<int>(code);
  return exit;
}

void ChildProcess::Kill() {
  if (process_ == nullptr) return;
  if (running()) {
    ::TerminateProcess(static_cast<HANDLE>(process_), 1);
    ::WaitForSingleObject(static_cast<HANDLE>(process_), 10000);
  }
  ::CloseHandle(static_cast<HANDLE>(process_));
  process_ = nullptr;
}

}  // namespace testsupport
