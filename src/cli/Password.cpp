#include "cli/Password.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "cli/Interrupt.h"
#include "filesystem/PathText.h"
#include "filesystem/SystemCalls.h"

namespace kiv::cli {
namespace {

enum class LineEnd { Line, Empty, TooLong, Failed, Interrupted };

// Reads up to the first newline, one byte at a time so that nothing after the line is consumed
// from a shared descriptor. A "\r" before the newline belongs to the line ending.
LineEnd ReadLine(int fd, Secret& line, int& error) {
    line.Wipe();
    line.Reserve(kMaxPasswordLength);
    bool any = false;
    for (;;) {
        // A stop signal that lands just before a blocking read would go unseen; waiting in short
        // polls notices it either way.
        for (;;) {
            if (InterruptSignal() != 0) return LineEnd::Interrupted;
            pollfd ready{fd, POLLIN, 0};
            const int polled = ::poll(&ready, 1, 100);
            if (polled > 0 || (polled < 0 && errno != EINTR)) break;
        }
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) {
            if (InterruptSignal() != 0) return LineEnd::Interrupted;
            continue;
        }
        if (n < 0) {
            error = errno;
            return LineEnd::Failed;
        }
        if (n == 0) break;
        any = true;
        if (c == '\n') break;
        if (line.size() >= kMaxPasswordLength) {
            line.Wipe();
            return LineEnd::TooLong;
        }
        line.Append({&c, 1});
    }
    if (!line.empty() && line.Text().back() == '\r') line.DropLast();
    return any ? LineEnd::Line : LineEnd::Empty;
}

void Say(const std::string& text) {
    filesystem::Fully(text.size(), [&](std::size_t done) {
        return ::write(STDERR_FILENO, text.data() + done, text.size() - done);
    });
}

PasswordResult Refused(std::string message) {
    return {PasswordResult::Kind::Refused, std::move(message)};
}

PasswordResult Checked(const Secret& password) {
    if (password.empty()) return Refused("an empty password is not accepted");
    if (!filesystem::IsValidUtf8(password.Text())) return Refused("the password is not valid UTF-8 text");
    return {};
}

PasswordResult FromDescriptor(int fd, const std::string& name, Secret& password) {
    int error = 0;
    switch (ReadLine(fd, password, error)) {
        case LineEnd::Interrupted:
            return {PasswordResult::Kind::Interrupted, {}};
        case LineEnd::Failed:
            return Refused("cannot read the password from " + name + ": " + filesystem::SystemMessage(error));
        case LineEnd::TooLong:
            return Refused("the password in " + name + " is longer than " +
                           std::to_string(kMaxPasswordLength) + " bytes");
        case LineEnd::Empty:
            return Refused(name + " holds no password");
        case LineEnd::Line:
            break;
    }
    return Checked(password);
}

class TerminalEcho {
  public:
    explicit TerminalEcho(int fd) : fd_(fd) {
        saved_ = ::tcgetattr(fd_, &old_) == 0;
        if (!saved_) return;
        restored_.emplace(fd_, old_);
        termios quiet = old_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fd_, TCSAFLUSH, &quiet);
    }
    ~TerminalEcho() {
        if (saved_) ::tcsetattr(fd_, TCSAFLUSH, &old_);
    }
    TerminalEcho(const TerminalEcho&) = delete;
    TerminalEcho& operator=(const TerminalEcho&) = delete;

  private:
    int fd_;
    termios old_{};
    bool saved_ = false;
    std::optional<TerminalRestoredOnStop> restored_;
};

PasswordResult FromTerminal(Secret& password) {
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) {
        return Refused(
            "there is no terminal to ask the password on; give it with --password-file FILE or "
            "--password-fd N");
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{tty};
    TerminalEcho echoOff(tty);
    Secret again;
    for (int attempt = 0; attempt < 5; ++attempt) {
        int error = 0;
        Say("Password: ");
        LineEnd end = ReadLine(tty, password, error);
        Say("\n");
        if (end == LineEnd::Line && password.empty()) {
            Say("An empty password is not accepted. Try again.\n");
            continue;
        }
        if (end == LineEnd::Line) {
            Say("Password again: ");
            end = ReadLine(tty, again, error);
            Say("\n");
        }
        if (end == LineEnd::Interrupted) return {PasswordResult::Kind::Interrupted, {}};
        if (end == LineEnd::TooLong)
            return Refused("the password is longer than " + std::to_string(kMaxPasswordLength) + " bytes");
        if (end != LineEnd::Line) {
            password.Wipe();
            return Refused("no password was entered");
        }
        if (!(again == password)) {
            Say("The passwords do not match. Try again.\n");
            password.Wipe();
            continue;
        }
        return Checked(password);
    }
    password.Wipe();
    return Refused("no matching password was entered");
}

}  // namespace

PasswordResult ReadPassword(const PasswordSource& source, Secret& password) {
    password.Wipe();
    switch (source.kind) {
        case PasswordSource::Kind::Terminal:
            return FromTerminal(password);
        case PasswordSource::Kind::Descriptor: {
            if (::fcntl(source.fd, F_GETFD) < 0) {
                return Refused("descriptor " + std::to_string(source.fd) + " is not open");
            }
            return FromDescriptor(source.fd, "descriptor " + std::to_string(source.fd), password);
        }
        case PasswordSource::Kind::File: {
            if (source.file == "-") return FromDescriptor(source.standardInput, "standard input", password);
            const int fd = ::open(source.file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
            if (fd < 0) {
                const int error = errno;
                return Refused("cannot open the password file " + filesystem::Quoted(source.file) + ": " +
                               filesystem::SystemMessage(error));
            }
            PasswordResult result = FromDescriptor(fd, filesystem::Quoted(source.file), password);
            ::close(fd);
            return result;
        }
    }
    return Refused("no password source");
}

}  // namespace kiv::cli
