#include "support/child_process.h"

#include "support/file_bytes.h"

namespace testsupport {

ChildResult RunChild(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     const std::filesystem::path& scratchFolder) {
  ChildResult result;
  ChildStreams streams;
  streams.output = scratchFolder / "child.out";
  streams.error = scratchFolder / "child.err";
  ChildProcess child;
  if (!child.Start(program, arguments, streams)) return result;
  result.started = true;
  const std::optional<ChildExit> exit = child.Wait(kChildDeadline);
  child.Kill();
  if (exit) result.exitCode = exit->exitCode;
  result.out = ReadFileText(streams.output);
  result.err = ReadFileText(streams.error);
  if (!exit) result.err += "\n(stopped: still running after " + std::to_string(kChildDeadline.count()) + " s)\n";
  return result;
}

}  // namespace testsupport
