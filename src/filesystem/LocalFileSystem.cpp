#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "filesystem/FileSystem.h"
#include "filesystem/NameOrder.h"
#include "filesystem/SystemCalls.h"

namespace kiv::filesystem {
namespace {

namespace fs = std::filesystem;

class LocalFileSystem final : public FileSystem {
  public:
    bool FileExists(const std::string& path) override {
        std::error_code ec;
        return !path.empty() && fs::is_regular_file(fs::path(path), ec);
    }

    std::string WhyNotAFile(const std::string& path) override { return WhyNotAFileAt(path); }

    std::optional<std::string> FileName(const std::string& path) override {
        if (!FileExists(path)) return std::nullopt;
        return fs::path(path).filename().string();
    }

    Listing<FileEntry> Files(const std::string& folder) override {
        Listing<FileEntry> listing;
        listing.ok = Walk(folder, [&](const fs::directory_entry& entry) {
            std::error_code ec;
            if (entry.is_regular_file(ec)) {
                listing.items.push_back({entry.path().filename().string(), entry.path().string()});
            }
        });
        SortByName(listing.items, [](const FileEntry& file) -> const std::string& { return file.name; });
        return listing;
    }

    Listing<std::string> SubFolders(const std::string& folder) override {
        Listing<std::string> listing;
        listing.ok = Walk(folder, [&](const fs::directory_entry& entry) {
            std::error_code ec;
            if (entry.is_directory(ec)) listing.items.push_back(entry.path().filename().string());
        });
        SortByName(listing.items, [](const std::string& name) -> const std::string& { return name; });
        return listing;
    }

    std::optional<FolderId> Identity(const std::string& folder) override {
        return IdentityOf(folder, S_IFDIR);
    }
    std::optional<FolderId> FileIdentity(const std::string& path) override {
        return IdentityOf(path, S_IFREG);
    }

    std::optional<FileStamp> Stamp(const std::string& path) override {
        struct stat st {};
        if (path.empty() || ::lstat(path.c_str(), &st) != 0) return std::nullopt;
        return FileStamp{{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)},
                         static_cast<std::uint64_t>(st.st_size),
                         static_cast<std::int64_t>(st.st_ctim.tv_sec),
                         st.st_ctim.tv_nsec,
                         static_cast<std::uint64_t>(st.st_nlink),
                         S_ISREG(st.st_mode),
                         S_ISLNK(st.st_mode)};
    }

    Removal RemoveFile(const std::string& path) override {
        if (::unlink(path.c_str()) != 0)
            return {false, "it cannot be removed: " + SystemMessage(errno) + "."};
        const std::string folder = fs::path(path).parent_path().string();
        // Through the seam's calls, as the writer flushes its folders, so a test can make it fail.
        const SystemCalls& calls = Calls();
        const int fd =
            calls.open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
        const bool flushed = fd >= 0 && calls.fsync(fd) == 0;
        const int error = errno;
        if (fd >= 0) ::close(fd);
        if (!flushed) return {true, "its folder cannot be flushed to disk: " + SystemMessage(error) + "."};
        return {true, {}};
    }

  private:
    static std::optional<FolderId> IdentityOf(const std::string& path, mode_t type) {
        struct stat st {};
        if (path.empty() || ::stat(path.c_str(), &st) != 0 || (st.st_mode & S_IFMT) != type)
            return std::nullopt;
        return FolderId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    }

    // Visits the entries of a folder in the order the system reads them; false when it cannot be opened or
    // read through.
    template <typename Visit>
    static bool Walk(const std::string& folder, Visit&& visit) {
        if (folder.empty()) return false;
        std::error_code ec;
        fs::directory_iterator it(fs::path(folder), ec);
        if (ec) return false;
        for (const fs::directory_iterator end; it != end;) {
            visit(*it);
            it.increment(ec);
            if (ec) break;
        }
        return !ec;
    }
};

}  // namespace

std::unique_ptr<FileSystem> CreateLocalFileSystem() {
    return std::make_unique<LocalFileSystem>();
}

std::string WhyNotAFile(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFREG:
            return {};
        case S_IFDIR:
            return "The path names a folder, not a file.";
        case S_IFIFO:
            return "The path names a FIFO (a named pipe), not a file.";
        case S_IFSOCK:
            return "The path names a socket, not a file.";
        case S_IFCHR:
        case S_IFBLK:
            return "The path names a device, not a file.";
        default:
            return "The path does not name a regular file.";
    }
}

std::string WhyNotAFileAt(const std::string& path) {
    struct stat st {};
    if (!path.empty() && ::stat(path.c_str(), &st) == 0) return WhyNotAFile(st.st_mode);
    const int error = errno;
    if (path.empty() || error == ENOENT || error == ENOTDIR) return {};
    if (error == ELOOP) return "The path is a loop of symbolic links.";
    return "The file cannot be examined: " + SystemMessage(error) + ".";
}

}  // namespace kiv::filesystem
