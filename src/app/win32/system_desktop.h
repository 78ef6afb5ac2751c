#pragma once
// The real desktop of the Windows programs (platform/desktop.h). Windows only.

#include "platform/desktop.h"
#include "platform/instance_marker.h"

class SystemDesktop : public Desktop {
 public:
  bool ClaimSingleInstance(const std::u16string& name) override { return marker_.Acquire(name); }
  bool WindowOfClassExists(const std::u16string& className) override {
    return platform::TopLevelWindowExists(className);
  }
  void ShowSystemMessage(const std::u16string& text, const std::u16string& caption) override {
    platform::ShowSystemMessage(text, caption);
  }
  bool StartProgram(const std::u16string& program, const std::u16string& commandLine,
                    const std::u16string& folder) override {
    return platform::StartDetachedProcess(program, commandLine, folder);
  }
  bool ChooseFile(const std::u16string& label, const std::u16string& pattern, std::u16string& path) override {
    return platform::ChooseFileToOpen(label, pattern, path);
  }
  void OpenAddress(const std::string& address) override { platform::OpenWithShell(address); }
  int RunMessageLoop() override { return platform::RunMessageLoop(); }

 private:
  // Held for the life of the process: the named object exists exactly as long as one updater runs.
  platform::InstanceMarker marker_;
};
