#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filesystem/FileSystem.h"

namespace kiv::cli {

// One of `count` parts of the work, for runs spread over several machines or processes.
struct Shard {
    unsigned index = 0;  // 0 to count - 1
    unsigned count = 1;

    // "K/N" with 0 <= K < N; nothing when the text is not one.
    static std::optional<Shard> Parse(std::string_view text);
    // Whether the file at `relative` (its path below the root it was found under) is this shard's.
    // The hash is of the bytes alone, so every machine and every run agrees whatever the mount point.
    bool Takes(std::string_view relative) const;
};

// A stable 64-bit hash of `bytes` (FNV-1a, then mixed so that neighbouring names spread).
std::uint64_t StableHash(std::string_view bytes);

struct FoundFiles {
    std::vector<std::string> files;       // in the order found
    std::vector<std::string> problems;    // arguments that name neither a folder nor a PKCS#12 file
    std::vector<std::string> unreadable;  // folders that could not be read through: files may be missing
    bool interrupted = false;
};

// Turns the command line's paths into the list of files to work on, as the window's list would
// hold them: a folder is walked as the search walks it (its own files before its subfolders, loops
// guarded), taking names ending in .pfx or .p12 in any letter case; a file is taken when its name
// ends so, or when it does not exist yet under such a name (it is then reported as not found); a
// path already listed is not listed again (engine::SameListedFile). With `anyFileName`, a file named
// on the command line is taken whatever its name. With a `shard`, only the files it takes are kept:
// a file found in a folder by its path below that folder, a named file by its path as named.
FoundFiles FindFiles(const std::vector<std::string>& paths, filesystem::FileSystem& files,
                     bool anyFileName = false, const std::optional<Shard>& shard = std::nullopt);

// Reads a list of paths, one a line or, with `nulSeparated`, each ended by a NUL byte, from the
// file at `path` ("-": the descriptor `standardInput`). Empty entries are skipped; the bytes are
// kept as they are. False with `error` set when the list cannot be read.
bool ReadPathList(const std::string& path, bool nulSeparated, std::vector<std::string>& paths,
                  std::string& error, int standardInput = 0);

}  // namespace kiv::cli
