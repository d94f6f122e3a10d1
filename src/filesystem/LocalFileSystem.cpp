#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "filesystem/FileSystem.h"
#include "filesystem/NameOrder.h"

namespace kiv::filesystem {
namespace {

namespace fs = std::filesystem;

class LocalFileSystem final : public FileSystem {
  public:
    bool FileExists(const std::string& path) override {
        std::error_code ec;
        return !path.empty() && fs::is_regular_file(fs::path(path), ec);
    }

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

}  // namespace kiv::filesystem
