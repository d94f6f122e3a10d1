#pragma once

#include <string>
#include <string_view>

namespace kiv::filesystem {

// The one pair of conversions between a path's bytes (what the file system takes and gives) and
// the text the list shows and keeps. Valid UTF-8 becomes its own characters; every byte that is not
// part of valid UTF-8 becomes the lone surrogate U+DC80 + byte, which TextToPath turns back into
// that byte. So TextToPath(PathToText(b)) == b for every byte string b.
std::u16string PathToText(std::string_view bytes);
// Text to bytes: characters as UTF-8, the lone surrogates U+DC80..U+DCFF as their byte. Any other
// lone surrogate (no name on disk gives one) becomes U+FFFD.
std::string TextToPath(std::u16string_view text);

// The code points of a byte string as PathToText reads them: each valid UTF-8 sequence as its code
// point, each other byte as U+DC80 + byte. Calls visit(char32_t) for each in order.
template <typename Visit>
void ForEachPathCharacter(std::string_view bytes, Visit&& visit) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            visit(static_cast<char32_t>(b));
            ++i;
            continue;
        }
        int length = 0;
        char32_t cp = 0;
        char32_t least = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2, cp = b & 0x1F, least = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3, cp = b & 0x0F, least = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4, cp = b & 0x07, least = 0x10000;
        }
        bool valid = length > 0 && i + length <= n;
        for (int k = 1; valid && k < length; ++k) {
            const unsigned char c = p[i + k];
            if ((c & 0xC0) != 0x80) valid = false;
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms, encoded surrogates and code points past U+10FFFF are not valid UTF-8.
        if (valid && (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) valid = false;
        if (!valid) {
            visit(static_cast<char32_t>(0xDC00 + b));
            ++i;
            continue;
        }
        visit(cp);
        i += static_cast<std::size_t>(length);
    }
}

// Appends `code` (up to U+10FFFF) to `out` as UTF-8: the one encoder, for paths, text and passwords.
void AppendUtf8(char32_t code, std::string& out);

// `code` as UTF-16: put(char16_t) once, or twice (a surrogate pair) past U+FFFF.
template <typename Put>
void ForEachUtf16Unit(char32_t code, Put&& put) {
    if (code < 0x10000) {
        put(static_cast<char16_t>(code));
    } else {
        code -= 0x10000;
        put(static_cast<char16_t>(0xD800 + (code >> 10)));
        put(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    }
}

// True when `bytes` are valid UTF-8 throughout, as ForEachPathCharacter reads it (no overlong forms,
// no encoded surrogates, nothing past U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

}  // namespace kiv::filesystem
