#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "filesystem/FileSystem.h"

namespace kiv::engine {

// The key under which names that differ only in letter case meet: valid UTF-8 folded character by
// character with the C library's Unicode tables, every other byte kept as it is.
std::string FoldCase(std::string_view path);
// The same key for the text of a path (PathText.h), as the window's list keeps it.
std::u16string FoldCase(std::u16string_view text);

// True when a list that holds `listed` already holds `path`: the same bytes, or names that differ
// only in letter case and are one file on disk (same device and inode: a case-insensitive mount or
// a casefolded folder). Two files whose names differ only in case are two entries; so are names
// whose file cannot be found. `files` may be null, which leaves only the byte test.
bool SameListedFile(filesystem::FileSystem* files, const std::string& listed, const std::string& path);

// A list of paths under that rule.
class ListedPaths {
  public:
    explicit ListedPaths(filesystem::FileSystem* files) : files_(files) {}
    // Lists `path`; false when it is already listed.
    bool Add(const std::string& path);

  private:
    filesystem::FileSystem* files_;
    std::unordered_map<std::string, std::vector<std::string>> byKey_;
};

}  // namespace kiv::engine
