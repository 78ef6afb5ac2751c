#pragma once
// What the updater's start-up and main window ask of the system around them: the
// single-instance marker, other programs' windows, starting programs, the system's own
// message box and file dialog, the shell, and the message loop. The Windows program uses
// SystemDesktop (system_desktop.h); tests put a scripted one in its place.

#include <string>

class Desktop {
 public:
  virtual ~Desktop() = default;

  // False when another updater holds the marker already.
  virtual bool ClaimSingleInstance(const std::u16string& name) = 0;
  virtual bool WindowOfClassExists(const std::u16string& className) = 0;
  // A plain system message box with an OK button; returns when it is closed.
  virtual void ShowSystemMessage(const std::u16string& text, const std::u16string& caption) = 0;
  // Starts `program` detached with exactly `commandLine` in `folder`; does not wait.
  virtual bool StartProgram(const std::u16string& program, const std::u16string& commandLine,
                            const std::u16string& folder) = 0;
  // The open-file dialog for one kind of file; `path` pre-fills it and receives the choice.
  virtual bool ChooseFile(const std::u16string& label, const std::u16string& pattern, std::u16string& path) = 0;
  // Hands a web address to the user's default handler.
  virtual void OpenAddress(const std::string& address) = 0;
  // Runs the calling thread's message loop until a quit request; returns its code.
  virtual int RunMessageLoop() = 0;
};
