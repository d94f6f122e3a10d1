#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/SearchFolder.h"
#include "filesystem/FileSystem.h"

namespace kiv::testing {

// An in-memory folder tree. Folders not described cannot be opened. Copies share one tree, so a
// test can keep one while the program owns another.
class FakeFileSystem final : public filesystem::FileSystem {
  public:
    struct Folder {
        std::vector<std::string> files;  // bare names, in delivery order
        std::vector<std::string> subFolders;
        bool filesOk = true;
        bool subFoldersOk = true;
        std::optional<filesystem::FolderId> id;
    };

    Folder& Add(const std::string& path, std::vector<std::string> files,
                std::vector<std::string> subFolders) {
        Folder& folder = tree_->folders[path];
        folder.files = std::move(files);
        folder.subFolders = std::move(subFolders);
        return folder;
    }
    // How often the files of `folder` were listed.
    int FilesListed(const std::string& folder) const {
        const auto it = tree_->filesCalls.find(folder);
        return it == tree_->filesCalls.end() ? 0 : it->second;
    }
    // Gives the file at `path` an identity; two names with one identity are one file.
    void SetFileIdentity(const std::string& path, filesystem::FolderId id) { tree_->fileIds[path] = id; }
    std::unique_ptr<filesystem::FileSystem> Share() const { return std::make_unique<FakeFileSystem>(*this); }

    bool FileExists(const std::string&) override { return false; }
    std::optional<std::string> FileName(const std::string&) override { return std::nullopt; }
    filesystem::Listing<filesystem::FileEntry> Files(const std::string& folder) override {
        ++tree_->filesCalls[folder];
        filesystem::Listing<filesystem::FileEntry> listing;
        const auto it = tree_->folders.find(folder);
        if (it == tree_->folders.end()) return listing;
        for (const auto& name : it->second.files)
            listing.items.push_back({name, engine::ChildPath(folder, name)});
        listing.ok = it->second.filesOk;
        return listing;
    }
    filesystem::Listing<std::string> SubFolders(const std::string& folder) override {
        filesystem::Listing<std::string> listing;
        const auto it = tree_->folders.find(folder);
        if (it == tree_->folders.end()) return listing;
        listing.items = it->second.subFolders;
        listing.ok = it->second.subFoldersOk;
        return listing;
    }
    std::optional<filesystem::FolderId> Identity(const std::string& folder) override {
        const auto it = tree_->folders.find(folder);
        return it == tree_->folders.end() ? std::nullopt : it->second.id;
    }
    std::optional<filesystem::FolderId> FileIdentity(const std::string& path) override {
        const auto it = tree_->fileIds.find(path);
        return it == tree_->fileIds.end() ? std::nullopt : std::optional(it->second);
    }

  private:
    struct Tree {
        std::map<std::string, Folder> folders;
        std::map<std::string, int> filesCalls;
        std::map<std::string, filesystem::FolderId> fileIds;
    };
    std::shared_ptr<Tree> tree_ = std::make_shared<Tree>();
};

}  // namespace kiv::testing
