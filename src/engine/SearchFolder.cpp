#include "engine/SearchFolder.h"

#include <optional>
#include <vector>

namespace kiv::engine {
namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// One folder whose subfolders are still being walked. Kept on an explicit stack so that a deep tree
// costs heap, not call stack; the stack is the current path down from the root.
struct Level {
    std::string path;
    std::optional<filesystem::FolderId> id;
    std::vector<std::string> subFolders;
    std::size_t next = 0;
};

class Walk {
  public:
    Walk(filesystem::FileSystem* files, const ScanHooks& hooks) : files_(files), hooks_(hooks) {}

    void Run(const std::string& root) {
        if (!Enter(root)) return;
        while (!levels_.empty()) {
            Level& level = levels_.back();
            if (level.next >= level.subFolders.size()) {
                levels_.pop_back();
                continue;
            }
            const std::string child = ChildPath(level.path, level.subFolders[level.next++]);
            if (!Enter(child)) return;
        }
    }

  private:
    bool Stopped() const { return hooks_.stopRequested && hooks_.stopRequested(); }

    // Searches the folder's own files and queues its subfolders; false once a stop is seen.
    bool Enter(const std::string& folder) {
        if (Stopped()) return false;
        std::optional<filesystem::FolderId> id;
        if (files_) id = files_->Identity(folder);
        // Only a folder that is its own ancestor (a link back up the tree) would never end; a folder
        // reached by two other paths is searched under each. One whose identity cannot be read is
        // searched all the same.
        if (id) {
            for (const Level& level : levels_) {
                if (level.id == id) return true;
            }
        }
        if (hooks_.enteringFolder) hooks_.enteringFolder(folder);
        if (hooks_.yield) hooks_.yield();

        bool whole = false;
        if (files_) {
            // A listing that failed part way still gives the files it delivered before the failure.
            const auto listing = files_->Files(folder);
            whole = listing.ok;
            for (const auto& file : listing.items) {
                if (hooks_.yield) hooks_.yield();
                if (Stopped()) return false;
                const bool wanted = hooks_.wanted ? hooks_.wanted(file.name) : IsPfxName(file.name);
                if (wanted && hooks_.addFile) hooks_.addFile(file.path, file.name);
            }
        }
        Level level;
        level.path = folder;
        level.id = id;
        if (files_) {
            auto listing = files_->SubFolders(folder);
            whole = whole && listing.ok;
            level.subFolders = std::move(listing.items);
        }
        if (!whole && hooks_.unreadable) hooks_.unreadable(folder);
        levels_.push_back(std::move(level));
        return true;
    }

    filesystem::FileSystem* files_;
    const ScanHooks& hooks_;
    std::vector<Level> levels_;
};

}  // namespace

bool EndsWithExtension(std::string_view name, std::string_view extension) {
    // The suffix is plain ASCII, and UTF-8 never puts an ASCII byte inside a longer character, so
    // comparing bytes gives the same answer as comparing characters.
    if (name.size() <= extension.size()) return false;
    const std::string_view tail = name.substr(name.size() - extension.size());
    for (std::size_t i = 0; i < extension.size(); ++i) {
        if (Upper(tail[i]) != extension[i]) return false;
    }
    return true;
}

bool IsPfxName(std::string_view name) {
    return EndsWithExtension(name, ".PFX");
}

bool IsPkcs12Name(std::string_view name) {
    return EndsWithExtension(name, ".PFX") || EndsWithExtension(name, ".P12");
}

std::string ChildPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + '/' + name;
}

void SearchFolder(filesystem::FileSystem* files, const std::string& root, const ScanHooks& hooks) {
    Walk(files, hooks).Run(root);
}

}  // namespace kiv::engine
