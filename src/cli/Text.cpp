#include "cli/Text.h"

#include <locale.h>
#include <wctype.h>

#include <cstdint>
#include <cstdio>

#include "platform/filesystem/PathText.h"

namespace kiv::cli {
namespace {

// What ForEachPathCharacter gives for a byte that is not part of valid UTF-8.
bool IsStrayByte(char32_t code) {
    return code >= 0xDC80 && code <= 0xDCFF;
}

// The C library's Unicode tables, whatever locale the user runs in; null when not installed.
locale_t UnicodeLocale() {
    static const locale_t locale = [] {
        locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return made;
    }();
    return locale;
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    char escape[8];
    filesystem::ForEachPathCharacter(text, [&](char32_t code) {
        switch (code) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                // A stray byte is written as the lone surrogate the path text pair gives it.
                if (code < 0x20 || code == 0x7F || IsStrayByte(code)) {
                    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
                    out += escape;
                } else {
                    filesystem::AppendUtf8(code, out);
                }
        }
    });
    out += '"';
    return out;
}

std::string FoldCase(std::string_view path) {
    const locale_t locale = UnicodeLocale();
    std::string out;
    out.reserve(path.size());
    filesystem::ForEachPathCharacter(path, [&](char32_t code) {
        if (IsStrayByte(code)) {
            out += static_cast<char>(code - 0xDC00);
        } else if (code < 0x80) {
            out += static_cast<char>(code >= 'A' && code <= 'Z' ? code - 'A' + 'a' : code);
        } else if (locale != static_cast<locale_t>(0)) {
            // Upper then lower folds pairs such as the final and middle sigma together.
            filesystem::AppendUtf8(
                static_cast<char32_t>(towlower_l(towupper_l(static_cast<wint_t>(code), locale), locale)),
                out);
        } else {
            filesystem::AppendUtf8(code, out);
        }
    });
    return out;
}

}  // namespace kiv::cli
