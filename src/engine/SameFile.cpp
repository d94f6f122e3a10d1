#include "engine/SameFile.h"

#include <locale.h>
#include <wctype.h>

#include "filesystem/PathText.h"

namespace kiv::engine {
namespace {

// The C library's Unicode tables, whatever locale the user runs in; null when not installed.
locale_t UnicodeLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return locale;
}

// One character folded, appended as UTF-16. A lone surrogate (a byte that is not UTF-8) has no case.
void AppendFolded(char32_t code, std::u16string& folded) {
    if (code < 0x80) {
        folded += static_cast<char16_t>(code >= 'A' && code <= 'Z' ? code - 'A' + 'a' : code);
        return;
    }
    if (const locale_t locale = UnicodeLocale(); locale != static_cast<locale_t>(0)) {
        // Upper then lower folds pairs such as the final and middle sigma together.
        code = static_cast<char32_t>(towlower_l(towupper_l(static_cast<wint_t>(code), locale), locale));
    }
    filesystem::ForEachUtf16Unit(code, [&](char16_t unit) { folded += unit; });
}

}  // namespace

std::string FoldCase(std::string_view path) {
    std::u16string folded;
    folded.reserve(path.size());
    filesystem::ForEachPathCharacter(path, [&](char32_t code) { AppendFolded(code, folded); });
    return filesystem::TextToPath(folded);
}

std::u16string FoldCase(std::u16string_view text) {
    std::u16string folded;
    folded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        AppendFolded(code, folded);
    }
    return folded;
}

bool SameListedFile(filesystem::FileSystem* files, const std::string& listed, const std::string& path) {
    if (listed == path) return true;
    if (!files || FoldCase(listed) != FoldCase(path)) return false;
    const auto one = files->FileIdentity(listed);
    return one && one == files->FileIdentity(path);
}

bool ListedPaths::Add(const std::string& path) {
    std::vector<std::string>& alike = byKey_[FoldCase(path)];
    for (const std::string& listed : alike) {
        if (SameListedFile(files_, listed, path)) return false;
    }
    alike.push_back(path);
    return true;
}

}  // namespace kiv::engine
