#include <windows.h>

#include "platform/text.h"
#include "tools/child_process.h"

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

HANDLE CreateInheritable(const std::filesystem::path& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES security{sizeof(security), nullptr, TRUE};
  return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &security, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ChildResult RunChild(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     const std::filesystem::path& scratchFolder) {
  ChildResult result;
  const std::filesystem::path outFile = scratchFolder / "child.out";
  const std::filesystem::path errFile = scratchFolder / "child.err";
  std::u16string line;
  AppendQuoted(&line, program.u16string());
  for (const std::string& argument : arguments) {
    line.push_back(u' ');
    AppendQuoted(&line, platform::Utf16FromUtf8(argument));
  }
  bool stopped = false;
  {
    Handle in(CreateInheritable("NUL", GENERIC_READ, OPEN_EXISTING));
    Handle out(CreateInheritable(outFile, GENERIC_WRITE, CREATE_ALWAYS));
    Handle err(CreateInheritable(errFile, GENERIC_WRITE, CREATE_ALWAYS));
    if (!in.valid() || !out.valid() || !err.valid()) return result;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.get();
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                          nullptr, nullptr, &startup, &process))
      return result;
    Handle processHandle(process.hProcess);
    Handle threadHandle(process.hThread);
    result.started = true;
    stopped = ::WaitForSingleObject(process.hProcess, kChildDeadlineSeconds * 1000) != WAIT_OBJECT_0;
    if (stopped) {
      ::TerminateProcess(process.hProcess, 1);
      ::WaitForSingleObject(process.hProcess, 10000);
    }
    DWORD code = 0;
    if (!stopped && ::GetExitCodeProcess(process.hProcess, &code)) result.exitCode = static_cast<int>(code);
  }
  result.out = ReadWholeFile(outFile);
  result.err = ReadWholeFile(errFile);
  if (stopped) result.err += "\n(stopped: still running after " + std::to_string(kChildDeadlineSeconds) + " s)\n";
  return result;
}
