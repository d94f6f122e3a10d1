#include "cli/Text.h"

#include <locale.h>
#include <wctype.h>

#include <cstdint>
#include <cstdio>

namespace kiv::cli {
namespace {

// Decodes one UTF-8 character at `text[i]`; its length, or 0 when the bytes there are not valid.
std::size_t Decode(std::string_view text, std::size_t i, char32_t& code) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

void Encode(char32_t code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
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
    for (std::size_t i = 0; i < text.size();) {
        char32_t code = 0;
        const std::size_t length = Decode(text, i, code);
        if (length == 0) {
            std::snprintf(escape, sizeof escape, "\\udc%02x", static_cast<unsigned char>(text[i]));
            out += escape;
            ++i;
            continue;
        }
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
                if (code < 0x20 || code == 0x7F) {
                    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
                    out += escape;
                } else {
                    out.append(text.substr(i, length));
                }
        }
        i += length;
    }
    out += '"';
    return out;
}

std::string FoldCase(std::string_view path) {
    const locale_t locale = UnicodeLocale();
    std::string out;
    out.reserve(path.size());
    for (std::size_t i = 0; i < path.size();) {
        char32_t code = 0;
        const std::size_t length = Decode(path, i, code);
        if (length == 0) {
            out += path[i++];
            continue;
        }
        if (code < 0x80) {
            out += static_cast<char>(code >= 'A' && code <= 'Z' ? code - 'A' + 'a' : code);
        } else if (locale != static_cast<locale_t>(0)) {
            // Upper then lower folds pairs such as the final and middle sigma together.
            const auto folded = towlower_l(towupper_l(static_cast<wint_t>(code), locale), locale);
            Encode(static_cast<char32_t>(folded), out);
        } else {
            out.append(path.substr(i, length));
        }
        i += length;
    }
    return out;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t code = 0;
        const std::size_t length = Decode(text, i, code);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

}  // namespace kiv::cli
