#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "filesystem/FileSystem.h"

namespace kiv::engine {

// What the walk needs from the window that runs it. An empty hook is skipped.
struct ScanHooks {
    std::function<bool()> stopRequested;  // polled at every folder entry and before every file
    std::function<void(const std::string& folder)> enteringFolder;
    std::function<void()> yield;  // lets pending window events run once
    std::function<void(const std::string& path, const std::string& name)> addFile;
    // A folder whose files or subfolders could not be listed (whole or in part), once per folder.
    std::function<void(const std::string& folder)> unreadable;
    std::function<bool(std::string_view name)> wanted;  // the files to hand on; empty: IsPfxName
};

// True for a name longer than `extension` that ends in it in any letter case (`extension` in
// upper-case ASCII, such as ".PFX").
bool EndsWithExtension(std::string_view name, std::string_view extension);

// True for a name longer than four characters whose last four are ".PFX" in any letter case.
bool IsPfxName(std::string_view name);

// True for a name longer than four characters ending in ".PFX" or ".P12" in any letter case: the
// PKCS#12 names kivpfx takes.
bool IsPkcs12Name(std::string_view name);

// `folder` and `name` joined by "/", unless `folder` already ends in one (the root "/").
std::string ChildPath(const std::string& folder, const std::string& name);

// Walks the tree under `root` depth first in pre-order: a folder's own files, in delivery order,
// before its subfolders. Hands every .pfx file (or every file `wanted` takes) to `addFile`. A folder or
// listing that cannot be read contributes what it delivered and the walk goes on; a folder that is one of the
// folders on the current path down from `root` (same device and inode: a link back up the tree) is not
// entered, while a folder reached by two other paths is walked under each. Returns as soon as a
// stop is requested.
// `files` may be null, which reads as every listing failing.
void SearchFolder(filesystem::FileSystem* files, const std::string& root, const ScanHooks& hooks);

}  // namespace kiv::engine
