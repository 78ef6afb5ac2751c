#pragma once
// "apply FILE": the manual update without the server. The archives are opened, the
// package applied and the archives saved as the updater's manual route does; what the
// window would then learn from the server is left out, so nothing goes over the network.

#include <cstdint>
#include <optional>
#include <string>

class ClientArchiveSet;
class UpdateWorkflow;
class ConsoleWindow;

class OfflineApply {
 public:
  // `interactive`: someone at the terminal may pick another file when this one does not fit.
  OfflineApply(ClientArchiveSet& archives, UpdateWorkflow& workflow, ConsoleWindow& window, bool interactive)
      : archives_(archives), workflow_(workflow), window_(window), interactive_(interactive) {}

  // Runs on the calling thread; returns patcher-cli's exit code.
  int Run(std::u16string packagePath);

  std::optional<int32_t> versionBefore() const { return versionBefore_; }

 private:
  // After a package that does not fit: another file chosen on the terminal, or false.
  bool ChooseAnother(std::u16string_view question, std::u16string& path);

  ClientArchiveSet& archives_;
  UpdateWorkflow& workflow_;
  ConsoleWindow& window_;
  const bool interactive_;
  std::optional<int32_t> versionBefore_;
};
