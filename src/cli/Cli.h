#pragma once

namespace kiv::cli {

// The whole `kivpfx` program: parses the command line and runs the command; returns the exit
// status (0 all done, 1 a file failed, 2 bad usage, 128 + signal when stopped).
int Main(int argc, char** argv);

}  // namespace kiv::cli
