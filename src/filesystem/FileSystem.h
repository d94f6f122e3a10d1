#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kiv::filesystem {

struct FileEntry {
    std::string name;  // bare name
    std::string path;  // full path
};

// Identity of a folder or file on disk: a walk tells a folder it has already entered by it, and a
// list two names of one file.
struct FolderId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FolderId&) const = default;
};

template <typename T>
struct Listing {
    bool ok = false;  // false: the folder could not be opened or read
    std::vector<T> items;
};

// The program's view of the disk. Paths and names are the file system's bytes (PathText.h turns
// them into the list's text and back). A folder's files and its subfolders each come in name order
// (NameLess in NameOrder.h: letter case aside, then by the exact bytes), so two listings of an
// unchanged folder agree.
class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // True exactly when a file (not a folder) exists at the path.
    virtual bool FileExists(const std::string& path) = 0;
    // The file's bare name as the file system reports it; nothing when there is no such file.
    virtual std::optional<std::string> FileName(const std::string& path) = 0;
    // The files of a folder. A listing that fails part way keeps what it read and reports !ok.
    virtual Listing<FileEntry> Files(const std::string& folder) = 0;
    // The names of a folder's subfolders, under the same rule.
    virtual Listing<std::string> SubFolders(const std::string& folder) = 0;
    // The folder's device and inode; nothing when it cannot be read.
    virtual std::optional<FolderId> Identity(const std::string& folder) = 0;
    // The device and inode of the file (not a folder) at the path; nothing when there is none.
    virtual std::optional<FolderId> FileIdentity(const std::string& path) = 0;
};

// The real file system, over std::filesystem.
std::unique_ptr<FileSystem> CreateLocalFileSystem();

}  // namespace kiv::filesystem
