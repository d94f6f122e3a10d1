#include "cli/Interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>

#include "certificate/NewFileWriter.h"

namespace kiv::cli {
namespace {

std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free mark");

// The terminal to give its settings back to when the program ends at once; -1 when none.
std::atomic<int> terminalFd{-1};
termios terminalSettings{};

bool MarkStop(int signal) {
    int none = 0;
    return stopSignal.compare_exchange_strong(none, signal);
}

extern "C" void OnStopSignal(int signal) {
    if (MarkStop(signal)) return;
    // Asked twice: the files in flight are not waited for. A nameless output in progress goes with
    // the process; a named one is removed. Only async-signal-safe calls from here.
    certificate::RemoveUnfinishedFiles();
    const int fd = terminalFd.load();
    if (fd >= 0) ::tcsetattr(fd, TCSANOW, &terminalSettings);
    static const char kSaid[] = "\nkivpfx: stopped at once\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kSaid, sizeof kSaid - 1);
    ::_exit(128 + signal);
}

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

void InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

void RequestStop(int signal) {
    MarkStop(signal);
}

int InterruptSignal() {
    return stopSignal.load();
}

int InterruptExitStatus(int signal) {
    return 128 + signal;
}

TerminalRestoredOnStop::TerminalRestoredOnStop(int fd, const termios& settings) {
    terminalSettings = settings;
    terminalFd.store(fd);
}

TerminalRestoredOnStop::~TerminalRestoredOnStop() {
    terminalFd.store(-1);
}

InterruptsBlocked::InterruptsBlocked() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

InterruptsBlocked::~InterruptsBlocked() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace kiv::cli
