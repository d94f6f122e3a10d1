#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "filesystem/SystemCalls.h"

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

// What a name names, to tell later whether it still names the same file unchanged.
struct FileStamp {
    FolderId id;
    std::uint64_t size = 0;
    std::int64_t changedSeconds = 0;  // the change time, which any write, rename or new link moves
    long changedNanoseconds = 0;
    std::uint64_t links = 0;  // names of the file
    bool regular = false;
    bool symbolicLink = false;  // the name itself is a link
    bool operator==(const FileStamp&) const = default;
};

// How a removal went: `removed` once the name is gone; `problem` says what failed, if anything.
struct Removal {
    bool removed = false;
    std::string problem;
};

template <typename T>
struct Listing {
    bool ok = false;  // false: the folder could not be opened or read
    std::vector<T> items;
};

// The program's one view of the disk, handed down by each program to the engine and from there to
// the certificate object, so that a test can stand in for all of it in one place. It lists folders
// and tells what is there; the certificate object reads each source whole (SourceFile.h) and writes
// each copy (NewFileWriter.h) through its Calls(). Paths and names are the file system's bytes
// (PathText.h turns them into the list's text and back). A folder's files and its subfolders each
// come in name order (NameLess in NameOrder.h: letter case aside, then by the exact bytes), so two
// listings of an unchanged folder agree. One object serves one thread at a time (kivpfx makes one
// per job).
class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // True exactly when a file (not a folder) exists at the path.
    virtual bool FileExists(const std::string& path) = 0;
    // Why a path where FileExists is false names no file, as a sentence (WhyNotAFileAt): empty when
    // nothing is there at all.
    virtual std::string WhyNotAFile(const std::string& path) = 0;
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
    // The calls that read and write files: the system's own unless a file system names others.
    virtual const SystemCalls& Calls() { return RealSystemCalls(); }
    // The stamp of what the path itself names, a link not followed; nothing when nothing is there.
    virtual std::optional<FileStamp> Stamp(const std::string& path) = 0;
    // Removes the name `path`, then flushes its folder to disk so that the removal lasts.
    virtual Removal RemoveFile(const std::string& path) = 0;
};

// The real file system, over std::filesystem.
std::unique_ptr<FileSystem> CreateLocalFileSystem();

// What is at a path in place of a regular file, as a sentence for a status: "The path names a
// folder, not a file.", a FIFO, a socket or a device likewise; empty for a regular file.
std::string WhyNotAFile(mode_t mode);
// The same for what is at `path`, links followed, with "The path is a loop of symbolic links." for
// a loop. Empty for a regular file and where nothing is (no such name, or a link to nothing).
std::string WhyNotAFileAt(const std::string& path);

}  // namespace kiv::filesystem
