#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

#include "filesystem/FileSystem.h"

namespace kiv::filesystem {

// Real PKCS#12 files are a few kilobytes; anything this big is not one and is not read whole.
inline constexpr off_t kLargestSource = 4 * 1024 * 1024;

// What reading a source file told of it: its size, and the permission bits and group its copy takes.
struct SourceFile {
    std::size_t size = 0;
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

// Reads the regular file at `path` whole, up to kLargestSource bytes, through `files`, into the room
// `room(size)` gives: memory the caller owns (and wipes; the file may hold private keys), which must
// hold `size` bytes. A FIFO or device under the name is refused without waiting on it; a file that
// changes while it is read is refused. Without `followLinks`, a symbolic link at `path` is refused
// too.
SourceRead ReadSourceFile(FileSystem& files, const std::string& path, SourceFile& file,
                          const std::function<unsigned char*(std::size_t size)>& room,
                          bool followLinks = true);

// The same into `bytes`, a buffer with Resize(size) and data() that holds the contents afterwards.
template <typename Bytes>
SourceRead ReadSourceFile(FileSystem& files, const std::string& path, SourceFile& file, Bytes& bytes,
                          bool followLinks = true) {
    const SourceRead read = ReadSourceFile(
        files, path, file,
        [&](std::size_t size) {
            bytes.Resize(size);
            return bytes.data();
        },
        followLinks);
    bytes.Resize(read.ok() ? file.size : 0);
    return read;
}

}  // namespace kiv::filesystem
