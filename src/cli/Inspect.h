#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kiv::cli {

// Runs `kivpfx inspect`: every file named, and every .pfx and .p12 file below the folders named
// (walked as protect walks them), as the certificate layer tells it (InspectFile); text or JSON on
// `out`. Returns the exit status: 1 when a file could not be read through.
int RunInspect(const std::vector<std::string>& paths, bool json, std::FILE* out, std::FILE* err);

}  // namespace kiv::cli
