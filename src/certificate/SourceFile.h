#pragma once

#include <sys/types.h>

#include <string>

#include "certificate/Secret.h"

namespace kiv::certificate {

// Real PKCS#12 files are a few kilobytes; anything this big is not one and is not read whole.
inline constexpr off_t kLargestSource = 4 * 1024 * 1024;

// A source file read whole, with the permission bits and group its copy takes.
struct SourceFile {
    Secret bytes;
    mode_t mode = 0600;
    gid_t group = static_cast<gid_t>(-1);
};

struct SourceRead {
    // NotPkcs12: the file is empty, or too large to be a PKCS#12 file.
    enum class Problem { None, Unreadable, NotPkcs12 };
    Problem problem = Problem::None;
    std::string description;

    bool ok() const { return problem == Problem::None; }
};

// Reads the regular file at `path` whole, up to kLargestSource bytes. A FIFO or device under the
// name is refused without waiting on it; a file that changes while it is read is refused. Without
// `followLinks`, a symbolic link at `path` is refused too.
SourceRead ReadSourceFile(const std::string& path, SourceFile& file, bool followLinks = true);

}  // namespace kiv::certificate
