#pragma once

#include <cstdint>
#include <functional>
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

// A list of paths read as the run goes, never held whole: one a line or, with `nulSeparated`, each
// ended by a NUL byte, from the open descriptor `fd`. Empty entries are skipped; the bytes are kept
// as they are. `name` names it in messages.
struct PathList {
    int fd = -1;
    bool nulSeparated = false;
    std::string name;
};

// What the paths named on the command line are checked for before anything is done: each must be a
// folder, or something there (what it is, the run tells) under a name ending in .pfx or .p12 in any
// letter case (any name with `anyFileName`). The problems, one a path, in the words for the user.
std::vector<std::string> NamedPathProblems(filesystem::FileSystem& files,
                                           const std::vector<std::string>& paths, bool anyFileName);

// What the finder hands on, as it finds it.
struct FoundHooks {
    std::function<void(const std::string& path)> file;
    std::function<void(const std::string& folder)> unreadable;  // not read through: files may be missing
    std::function<void(const std::string& path, const std::string& why)>
        leftOut;                 // a listed path taken as neither
    std::function<bool()> stop;  // polled before each file and folder, besides Ctrl-C
};

// Finds the files to work on as the window's list would hold them, and hands each on as it is found,
// keeping no list: the paths named, then the entries of `list`. A folder is walked as the search
// walks it (its own files before its subfolders, loops guarded), taking names ending in .pfx or .p12
// in any letter case, names of one file that differ only in letter case once within a folder
// (engine::SameListedFile); a file is taken when its name ends so (whatever its name with
// `anyFileName`). A path met twice is handed on twice. With a `shard`, only the files it takes are
// kept: a file found in a folder by its path below that folder, a file named or listed by its path
// as given. False with `error` set when the list could not be read through.
bool FindFiles(const std::vector<std::string>& paths, const PathList* list, filesystem::FileSystem& files,
               bool anyFileName, const std::optional<Shard>& shard, const FoundHooks& hooks,
               std::string& error);

}  // namespace kiv::cli
