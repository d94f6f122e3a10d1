#include "cli/FindFiles.h"

#include <sys/stat.h>

#include "cli/Interrupt.h"
#include "engine/SameFile.h"
#include "engine/SearchFolder.h"

namespace kiv::cli {
namespace {

std::string_view BareName(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

FoundFiles FindFiles(const std::vector<std::string>& paths, filesystem::FileSystem& files, bool anyFileName) {
    FoundFiles found;
    engine::ListedPaths listed(&files);
    const auto add = [&](const std::string& path) {
        if (listed.Add(path)) found.files.push_back(path);
    };
    engine::ScanHooks hooks;
    hooks.stopRequested = [] { return InterruptSignal() != 0; };
    hooks.addFile = [&](const std::string& path, const std::string&) { add(path); };
    hooks.unreadable = [&](const std::string& folder) { found.unreadable.push_back(folder); };

    for (const std::string& path : paths) {
        if (InterruptSignal() != 0) break;
        struct stat st {};
        const bool exists = !path.empty() && ::stat(path.c_str(), &st) == 0;
        if (exists && S_ISDIR(st.st_mode)) {
            engine::SearchFolder(&files, path, hooks);
        } else if (anyFileName || engine::IsPfxName(BareName(path))) {
            add(path);
        } else if (exists || (!path.empty() && ::lstat(path.c_str(), &st) == 0)) {
            found.problems.push_back(path + ": not a .pfx file name");
        } else {
            found.problems.push_back(path + ": no such file or folder");
        }
    }
    found.interrupted = InterruptSignal() != 0;
    return found;
}

}  // namespace kiv::cli
