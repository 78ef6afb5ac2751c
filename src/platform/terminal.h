#pragma once
// What a console program needs from the terminal it may run in: whether there is one,
// UTF-8 text and cursor control on it, Ctrl+C caught as a request, and waiting for a key.

namespace platform {

bool StandardInputIsTerminal();
bool StandardOutputIsTerminal();
bool StandardErrorIsTerminal();
// Output to the terminal, on both output streams, is UTF-8 and understands the VT
// cursor sequences.
void PrepareTerminalOutput();
// From now on Ctrl+C (and Ctrl+Break) sets a flag instead of ending the process.
void CatchInterrupt();
bool InterruptRequested();
// True when a key or a line is waiting on the standard input within `milliseconds`.
bool WaitForInput(int milliseconds);

}  // namespace platform
