#include "cli/FindFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <system_error>

#include "cli/Interrupt.h"
#include "engine/SameFile.h"
#include "engine/SearchFolder.h"
#include "filesystem/PathText.h"

namespace kiv::cli {
namespace {

std::string_view BareName(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::optional<Shard> Shard::Parse(std::string_view text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const auto number = [](std::string_view digits) -> std::optional<unsigned> {
        unsigned value = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
            return std::nullopt;
        return value;
    };
    const auto index = number(text.substr(0, slash));
    const auto count = number(text.substr(slash + 1));
    if (!index || !count || *count == 0 || *index >= *count) return std::nullopt;
    return Shard{*index, *count};
}

bool Shard::Takes(std::string_view relative) const {
    while (relative.starts_with("./")) relative.remove_prefix(2);
    return StableHash(relative) % count == index;
}

std::uint64_t StableHash(std::string_view bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    // FNV-1a's low bits follow the last byte closely; the finaliser of SplitMix64 spreads them.
    hash ^= hash >> 30;
    hash *= 0xbf58476d1ce4e5b9ull;
    hash ^= hash >> 27;
    hash *= 0x94d049bb133111ebull;
    hash ^= hash >> 31;
    return hash;
}

FoundFiles FindFiles(const std::vector<std::string>& paths, filesystem::FileSystem& files, bool anyFileName,
                     const std::optional<Shard>& shard) {
    FoundFiles found;
    engine::ListedPaths listed(&files);
    const auto add = [&](const std::string& path, std::string_view relative) {
        if (shard && !shard->Takes(relative)) return;
        if (listed.Add(path)) found.files.push_back(path);
    };
    std::string root;
    engine::ScanHooks hooks;
    hooks.stopRequested = [] { return InterruptSignal() != 0; };
    hooks.unreadable = [&](const std::string& folder) { found.unreadable.push_back(folder); };
    hooks.wanted = engine::IsPkcs12Name;
    hooks.addFile = [&](const std::string& path, const std::string&) {
        std::string_view relative(path);
        if (relative.starts_with(root)) relative.remove_prefix(root.size());
        while (relative.starts_with("/")) relative.remove_prefix(1);
        add(path, relative);
    };

    for (const std::string& path : paths) {
        if (InterruptSignal() != 0) break;
        struct stat st {};
        const bool exists = !path.empty() && ::stat(path.c_str(), &st) == 0;
        if (exists && S_ISDIR(st.st_mode)) {
            root = path;
            engine::SearchFolder(&files, path, hooks);
        } else if (anyFileName || engine::IsPkcs12Name(BareName(path))) {
            add(path, path);
        } else if (exists || (!path.empty() && ::lstat(path.c_str(), &st) == 0)) {
            found.problems.push_back(filesystem::Quoted(path) + ": not a .pfx or .p12 file name");
        } else {
            found.problems.push_back(filesystem::Quoted(path) + ": no such file or folder");
        }
    }
    found.interrupted = InterruptSignal() != 0;
    return found;
}

bool ReadPathList(const std::string& path, bool nulSeparated, std::vector<std::string>& paths,
                  std::string& error, int standardInput) {
    const bool own = path != "-";
    const int fd = own ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC) : standardInput;
    const int openError = errno;
    const std::string name = own ? filesystem::Quoted(path) : std::string("standard input");
    if (fd < 0) {
        error = name + ": " + std::error_code(openError, std::generic_category()).message();
        return false;
    }
    const char end = nulSeparated ? '\0' : '\n';
    std::string entry;
    char buffer[65536];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != end) {
                entry.push_back(buffer[i]);
            } else if (!entry.empty()) {
                paths.push_back(std::move(entry));
                entry.clear();
            }
        }
    }
    const int readError = errno;
    if (own) ::close(fd);
    if (n < 0) {
        error = name + ": " + std::error_code(readError, std::generic_category()).message();
        return false;
    }
    if (!entry.empty()) paths.push_back(std::move(entry));
    return true;
}

}  // namespace kiv::cli
