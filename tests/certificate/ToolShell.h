#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace kiv::certificate::testing {

// How a command of an outside tool ended: its exit status (-1 when it did not exit) and everything it
// printed on either stream.
struct Outcome {
    int status = -1;
    std::string output;
};

// Runs `command` in the shell with no input.
inline Outcome Shell(const std::string& command) {
    Outcome outcome;
    FILE* pipe = popen(("(" + command + ") </dev/null 2>&1").c_str(), "r");
    if (pipe == nullptr) return outcome;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) outcome.output.append(buffer, n);
    const int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

inline bool Installed(const std::string& tool) {
    return Shell("command -v " + tool).status == 0;
}

// Single quotes for the shell; none of the tests' paths or passwords hold one.
inline std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

}  // namespace kiv::certificate::testing
