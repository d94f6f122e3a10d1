#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kiv::cli {

struct InspectOptions {
    bool json = false;
    bool failIfPasswordLess = false;  // exit with 1 when a password-less file is found
};

// Runs `kivpfx inspect`: every file named, and every .pfx and .p12 file below the folders named
// (walked as protect walks them), as the certificate layer tells it (InspectFile), each as it is
// found; text or JSON on `out`, and a line counting the password-less files on `err`. Returns the
// exit status: 1 when a file or folder could not be read through, or with `failIfPasswordLess`
// when a password-less file was found.
int RunInspect(const std::vector<std::string>& paths, const InspectOptions& options, std::FILE* out,
               std::FILE* err);

}  // namespace kiv::cli
