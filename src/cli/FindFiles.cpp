#include "cli/FindFiles.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "cli/Interrupt.h"
#include "engine/SameFile.h"
#include "engine/SearchFolder.h"
#include "filesystem/PathText.h"
#include "filesystem/SystemCalls.h"

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

std::vector<std::string> NamedPathProblems(filesystem::FileSystem& files,
                                           const std::vector<std::string>& paths, bool anyFileName) {
    std::vector<std::string> problems;
    for (const std::string& path : paths) {
        if (files.Identity(path)) continue;  // a folder, or a link to one
        // A link that leads nowhere or round in a loop is something there all the same.
        if (!files.Stamp(path)) {
            problems.push_back(filesystem::Quoted(path) + ": no such file or folder");
        } else if (!anyFileName && !engine::IsPkcs12Name(BareName(path))) {
            problems.push_back(filesystem::Quoted(path) + ": not a .pfx or .p12 file name");
        }
    }
    return problems;
}

namespace {

class Finder {
  public:
    Finder(filesystem::FileSystem& files, bool anyFileName, const std::optional<Shard>& shard,
           const FoundHooks& hooks)
        : files_(files), anyFileName_(anyFileName), shard_(shard), hooks_(hooks), inFolder_(&files) {
        walk_.stopRequested = [this] { return Stopped(); };
        walk_.unreadable = hooks.unreadable;
        walk_.wanted = engine::IsPkcs12Name;
        // Only a folder's own names can be one file twice over: the walk never enters a folder twice.
        walk_.enteringFolder = [this](const std::string&) { inFolder_ = engine::ListedPaths(&files_); };
        walk_.addFile = [this](const std::string& path, const std::string&) {
            std::string_view relative(path);
            if (relative.starts_with(root_)) relative.remove_prefix(root_.size());
            while (relative.starts_with("/")) relative.remove_prefix(1);
            if (inFolder_.Add(path)) Hand(path, relative);
        };
    }

    bool Stopped() const { return InterruptSignal() != 0 || (hooks_.stop && hooks_.stop()); }

    void Take(const std::string& path, bool named) {
        if (files_.Identity(path)) {
            root_ = path;
            engine::SearchFolder(&files_, path, walk_);
        } else if (anyFileName_ || engine::IsPkcs12Name(BareName(path))) {
            Hand(path, path);
        } else if (hooks_.leftOut) {
            const bool there = named || files_.Stamp(path).has_value();
            hooks_.leftOut(path, there ? "not a .pfx or .p12 file name" : "no such file or folder");
        }
    }

  private:
    void Hand(const std::string& path, std::string_view relative) {
        if (shard_ && !shard_->Takes(relative)) return;
        if (hooks_.file) hooks_.file(path);
    }

    filesystem::FileSystem& files_;
    bool anyFileName_;
    const std::optional<Shard>& shard_;
    const FoundHooks& hooks_;
    engine::ScanHooks walk_;
    engine::ListedPaths inFolder_;
    std::string root_;
};

}  // namespace

bool FindFiles(const std::vector<std::string>& paths, const PathList* list, filesystem::FileSystem& files,
               bool anyFileName, const std::optional<Shard>& shard, const FoundHooks& hooks,
               std::string& error) {
    Finder finder(files, anyFileName, shard, hooks);
    for (const std::string& path : paths) {
        if (finder.Stopped()) return true;
        finder.Take(path, true);
    }
    if (!list) return true;
    const char end = list->nulSeparated ? '\0' : '\n';
    std::string entry;
    char buffer[65536];
    for (;;) {
        if (finder.Stopped()) return true;
        const ssize_t n = ::read(list->fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = list->name + ": " + filesystem::SystemMessage(errno);
            return false;
        }
        if (n == 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != end) {
                entry.push_back(buffer[i]);
            } else if (!entry.empty()) {
                finder.Take(entry, false);
                entry.clear();
            }
        }
    }
    if (!entry.empty() && !finder.Stopped()) finder.Take(entry, false);
    return true;
}

}  // namespace kiv::cli
