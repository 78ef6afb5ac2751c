#pragma once
// What the Windows programs (the updater's window, the launcher stub) ask of the desktop:
// starting programs, other programs' windows, the system's plain message box and open-file
// dialog, the shell's default handler of an address and the thread's message loop.
//
// The free functions are the Windows desktop itself: nothing portable calls them. The
// updater reaches them through Desktop, which tests on any platform put a scripted one in
// the place of.

#include <string>

// The desktop as the updater's start-up and main window use it; the single-instance
// marker too (platform/instance_marker.h).
class Desktop {
 public:
  virtual ~Desktop() = default;

  // False when another updater holds the marker already; held until the desktop goes.
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

namespace platform {

// Starts `program` detached from any console, without waiting for it. `commandLine` is the
// whole command line the program sees (its own name is not put in front); `folder` is its
// working folder. False when it could not be started.
bool StartDetachedProcess(const std::u16string& program, const std::u16string& commandLine,
                          const std::u16string& folder);

// Whether some top-level window of the window class `className` exists (any process).
bool TopLevelWindowExists(const std::u16string& className);

// The system's own message box with an OK button, no owner; returns when it is closed.
void ShowSystemMessage(const std::u16string& text, const std::u16string& caption);

// The system's open-file dialog, no owner, one filter entry (`label`, `pattern`), for an
// existing file. `path` pre-fills the name (at most 259 units are kept) and receives the
// chosen file's full path. False when the user cancelled or the dialog failed.
bool ChooseFileToOpen(const std::u16string& label, const std::u16string& pattern, std::u16string& path);

// Asks the shell to open `address` (8-bit) with its default handler; the result is not known.
void OpenWithShell(const std::string& address);

// Runs the calling thread's message loop until a quit request; returns the request's code
// (or -1 when the loop failed).
int RunMessageLoop();

}  // namespace platform
