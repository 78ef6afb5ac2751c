#pragma once
// What the Windows programs (the updater's window, the launcher stub) ask of the desktop:
// starting programs, the single-instance marker, other programs' windows, the system's
// plain message box and open-file dialog, the shell's default handler of an address and
// the thread's message loop. Windows only: nothing portable calls these.

#include <string>

namespace platform {

// Starts `program` detached from any console, without waiting for it. `commandLine` is the
// whole command line the program sees (its own name is not put in front); `folder` is its
// working folder. False when it could not be started.
bool StartDetachedProcess(const std::u16string& program, const std::u16string& commandLine,
                          const std::u16string& folder);

// Marks this process as the holder of `name` until it ends. False when another process holds
// the marker already; true also when the marker cannot be made at all (nothing to go by).
bool ClaimSingleInstance(const std::u16string& name);

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
