#pragma once

// Runs kivpfx for a test: in this process through its Main over captured streams (RunKivpfx), or
// as the built program in a child process (RunProgram, Child, TerminalChild): its standard streams
// through pipes, and a session of its own so that it has no controlling terminal unless a test
// gives it a pseudo-terminal.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "cli/Cli.h"

namespace kiv::cli::testing {

inline const char* KivpfxPath() {
    return KIVPFX_PATH;
}

struct Finished {
    int status = -1;  // the exit status, or 128 + the signal that ended it
    std::string out;
    std::string err;
};

struct Launch {
    std::vector<std::string> args;  // after the program name
    bool closedOutput = false;      // standard output is a pipe nobody reads
};

inline int StatusOf(int wait) {
    if (WIFEXITED(wait)) return WEXITSTATUS(wait);
    if (WIFSIGNALED(wait)) return 128 + WTERMSIG(wait);
    return -1;
}

[[noreturn]] inline void Exec(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(KivpfxPath()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(KivpfxPath(), argv.data());
    ::_exit(127);
}

inline void WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

class Child {
  public:
    explicit Child(const Launch& launch) {
        int in[2], out[2], err[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setsid();
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            Exec(launch.args);
        }
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        ::signal(SIGPIPE, SIG_IGN);
        ::close(in[1]);
        out_ = out[0];
        err_ = err[0];
        if (launch.closedOutput) {
            ::close(out_);
            out_ = -1;
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
        if (err_ >= 0) ::close(err_);
    }

    pid_t Pid() const { return pid_; }
    void Signal(int signal) const { ::kill(pid_, signal); }

    // Reads both streams to their end and waits for the child.
    Finished Wait() {
        Finished finished;
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        std::string* sinks[2] = {&finished.out, &finished.err};
        int open = out_ >= 0 ? 2 : 1;
        while (open > 0) {
            if (::poll(fds, 2, 60000) <= 0) break;
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || fds[i].revents == 0) continue;
                char buffer[4096];
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    sinks[i]->append(buffer, static_cast<std::size_t>(n));
                } else {
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
        int wait = 0;
        ::waitpid(pid_, &wait, 0);
        waited_ = true;
        finished.status = StatusOf(wait);
        return finished;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool waited_ = false;
};

inline Finished RunProgram(const Launch& launch) {
    return Child(launch).Wait();
}

// `input` is what "--password-file -" reads.
inline Finished RunKivpfx(std::vector<std::string> args, const std::string& input = {}) {
    args.insert(args.begin(), "kivpfx");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    int in[2];
    if (::pipe(in) != 0) return {};
    WriteAll(in[1], input);
    ::close(in[1]);
    char* text[2] = {};
    std::size_t size[2] = {};
    std::FILE* out = ::open_memstream(&text[0], &size[0]);
    std::FILE* err = ::open_memstream(&text[1], &size[1]);
    Finished finished;
    finished.status = Main(static_cast<int>(argv.size()), argv.data(), in[0], out, err);
    std::fclose(out);
    std::fclose(err);
    ::close(in[0]);
    finished.out.assign(text[0], size[0]);
    finished.err.assign(text[1], size[1]);
    std::free(text[0]);
    std::free(text[1]);
    return finished;
}

// The program on a pseudo-terminal, as a person at a terminal runs it.
class TerminalChild {
  public:
    explicit TerminalChild(const std::vector<std::string>& args) {
        pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) Exec(args);
    }
    TerminalChild(const TerminalChild&) = delete;
    TerminalChild& operator=(const TerminalChild&) = delete;
    ~TerminalChild() {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) ::close(master_);
    }

    bool Started() const { return pid_ > 0 && master_ >= 0; }

    // Reads until `text` has appeared after the last match; false after a time-out or at the end.
    bool Expect(const std::string& text, std::chrono::seconds timeout = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const std::size_t at = screen_.find(text, matched_);
            if (at != std::string::npos) {
                matched_ = at + text.size();
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
        }
    }

    void Type(const std::string& text) { WriteAll(master_, text); }

    // Reads what is left and waits for the child; its exit status.
    int Wait() {
        while (ReadSome(60000)) {
        }
        int wait = 0;
        ::waitpid(pid_, &wait, 0);
        waited_ = true;
        return StatusOf(wait);
    }

    const std::string& Screen() const { return screen_; }

  private:
    bool ReadSome(int milliseconds) {
        pollfd fd{master_, POLLIN, 0};
        if (::poll(&fd, 1, milliseconds) <= 0) return false;
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) return false;  // EIO once the child has gone
        screen_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int master_ = -1;
    bool waited_ = false;
    std::string screen_;
    std::size_t matched_ = 0;
};

}  // namespace kiv::cli::testing
