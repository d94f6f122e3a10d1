#pragma once

#include <cstddef>
#include <string>

namespace kiv::cli {

// A password in one buffer that never moves (it is reserved up front and never grows past it), so
// the only copy this program makes is wiped with OPENSSL_cleanse when the object goes.
class Secret {
  public:
    static constexpr std::size_t kMaxLength = 1024;

    Secret() { text_.reserve(kMaxLength); }
    ~Secret() { Wipe(); }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;

    const std::string& Text() const { return text_; }
    bool Empty() const { return text_.empty(); }
    // False when the password would grow past kMaxLength.
    bool Append(char c);
    void DropLast();
    bool SameAs(const Secret& other) const;
    void Wipe();

  private:
    std::string text_;
};

// Where the password comes from. It is never taken from the command line itself.
struct PasswordSource {
    enum class Kind { Terminal, File, Descriptor };
    Kind kind = Kind::Terminal;
    std::string file;  // "-" is standard input
    int standardInput = 0;
    int fd = -1;
};

struct PasswordResult {
    enum class Kind { Ok, Refused, Interrupted };
    Kind kind = Kind::Ok;
    std::string message;  // why it was refused
};

// Reads the first line of a file or descriptor, or asks twice on the terminal without echo (prompts
// on standard error, a mismatch or an empty entry asks again). Refuses an empty password and text
// that is not UTF-8, since the copies take the password as UTF-8.
PasswordResult ReadPassword(const PasswordSource& source, Secret& password);

}  // namespace kiv::cli
