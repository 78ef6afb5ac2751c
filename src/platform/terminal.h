#pragma once
// What a console program needs from the terminal it may run in: whether there is one,
// UTF-8 text and cursor control on it, Ctrl+C caught as a request, and waiting for a key.
// Every wait here ends at once when Ctrl+C comes.

#include <functional>

namespace platform {

bool StandardInputIsTerminal();
bool StandardOutputIsTerminal();
bool StandardErrorIsTerminal();
// Output to the terminal, on both output streams, is UTF-8 and understands the VT
// cursor sequences.
void PrepareTerminalOutput();
// From now on Ctrl+C (and Ctrl+Break) is a request instead of ending the process.
void CatchInterrupt();
bool InterruptRequested();
// Waits at most `milliseconds` for Ctrl+C; true when it has come (before the wait too).
bool WaitForInterrupt(int milliseconds);
// `handler` runs on a thread of its own when Ctrl+C comes (at once when it has come
// already), once. Null takes it away, after a call that runs has returned.
void SetInterruptHandler(std::function<void()> handler);
// True when a key or a line is waiting on the standard input within `milliseconds`; false at
// once when Ctrl+C comes.
bool WaitForInput(int milliseconds);

}  // namespace platform
