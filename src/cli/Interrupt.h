#pragma once

struct termios;

namespace kiv::cli {

// The first Ctrl-C, SIGTERM or SIGHUP only raises a mark: the run stops taking new files and lets the
// ones in flight finish. A second one ends the program at once with 128 + its number (130 for
// Ctrl-C): outputs get their name only when complete, so none is left half-written. Blocking calls
// made by the thread that installs the handlers are interrupted (no SA_RESTART), so a password
// prompt can be left at once.
void InstallInterruptHandlers();

// The signal that asked the run to stop, or 0.
int InterruptSignal();

// Stops the run as `signal` would have; for a report that can no longer be written (SIGPIPE, which
// is ignored so that it cannot kill the program while a file is being written).
void RequestStop(int signal);

// The exit status for a run stopped by `signal`: 128 + its number (130 for Ctrl-C).
int InterruptExitStatus(int signal);

// While it lives, ending the program at once first gives terminal `fd` back `settings`, so that a
// second Ctrl-C at the password prompt does not leave the terminal without echo.
class TerminalRestoredOnStop {
  public:
    TerminalRestoredOnStop(int fd, const termios& settings);
    ~TerminalRestoredOnStop();
    TerminalRestoredOnStop(const TerminalRestoredOnStop&) = delete;
    TerminalRestoredOnStop& operator=(const TerminalRestoredOnStop&) = delete;
};

// Keeps the stop signals away from the calling thread (and the threads it then starts), so that
// only the main thread is ever interrupted.
class InterruptsBlocked {
  public:
    InterruptsBlocked();
    ~InterruptsBlocked();
    InterruptsBlocked(const InterruptsBlocked&) = delete;
    InterruptsBlocked& operator=(const InterruptsBlocked&) = delete;
};

}  // namespace kiv::cli
