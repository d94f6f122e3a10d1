#pragma once

#include <cstddef>
#include <string>

#include "certificate/Secret.h"

namespace kiv::cli {

using certificate::Secret;

// The longest password taken; room for it is reserved up front, so reading one never moves it.
inline constexpr std::size_t kMaxPasswordLength = 1024;

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
