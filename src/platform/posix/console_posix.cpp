#include "platform/console.h"
#include "platform/text.h"

namespace platform {

std::vector<std::u16string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(Utf16FromUtf8(argv[i]));
  return arguments;
}

bool SetBinaryStandardStreams() {
  return true;
}

}  // namespace platform
