#include "filesystem/ShownPath.h"

#include <vector>

#include "filesystem/PathText.h"

namespace kiv::filesystem {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// The name as a dialog shows it, with every run of replaced bytes cut to one U+FFFD.
std::u16string Shown(std::u16string_view text) {
    std::u16string shown;
    for (char16_t c : text) {
        if (c >= 0xDC80 && c <= 0xDCFF) c = kReplacement;
        if (c == kReplacement && !shown.empty() && shown.back() == kReplacement) continue;
        shown.push_back(c);
    }
    return shown;
}

}  // namespace

std::string FindShownPath(FileSystem* files, std::u16string_view shown, bool folder) {
    const std::string asGiven = TextToPath(shown);
    if (!files || shown.find(kReplacement) == std::u16string_view::npos) return asGiven;
    if (folder ? files->Identity(asGiven).has_value() : files->FileExists(asGiven)) return asGiven;

    std::vector<std::u16string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t slash = shown.find(u'/', start);
        parts.push_back(shown.substr(
            start, slash == std::u16string_view::npos ? std::u16string_view::npos : slash - start));
        if (slash == std::u16string_view::npos) break;
        start = slash + 1;
    }
    std::string path;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) path += '/';
        const std::u16string_view part = parts[i];
        if (part.find(kReplacement) == std::u16string_view::npos) {
            path += TextToPath(part);
            continue;
        }
        const std::string parent = path.empty() ? std::string(".") : path.substr(0, path.size() - 1);
        const std::u16string wanted = Shown(part);
        const bool last = i + 1 == parts.size();
        std::vector<std::string> names;
        if (last && !folder) {
            for (FileEntry& file : files->Files(parent.empty() ? "/" : parent).items)
                names.push_back(std::move(file.name));
        } else {
            names = files->SubFolders(parent.empty() ? "/" : parent).items;
        }
        const std::string* match = nullptr;
        for (const std::string& name : names) {
            if (Shown(PathToText(name)) != wanted) continue;
            if (match) return asGiven;  // two names look alike: no way to tell which was meant
            match = &name;
        }
        if (!match) return asGiven;
        path += *match;
    }
    return path;
}

}  // namespace kiv::filesystem
