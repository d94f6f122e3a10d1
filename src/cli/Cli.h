#pragma once

#include <cstdio>

namespace kiv::cli {

// The whole `kivpfx` program: parses the command line and runs the command; returns the exit
// status (0 all done, 1 a file failed, 2 bad usage, 128 + signal when stopped).
int Main(int argc, char** argv);
// The same over other streams: `in` is the descriptor "--password-file -" reads.
int Main(int argc, char** argv, int in, std::FILE* out, std::FILE* err);

}  // namespace kiv::cli
