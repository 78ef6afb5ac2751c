#include <filesystem>
#include <system_error>

#include "platform/program_folder.h"

namespace platform {

std::u16string ProgramFolder() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::filesystem::current_path(error).u16string();
  return program.parent_path().u16string();
}

}  // namespace platform
