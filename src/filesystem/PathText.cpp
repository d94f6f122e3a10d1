#include "filesystem/PathText.h"

namespace kiv::filesystem {

std::u16string PathToText(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    ForEachPathCharacter(
        bytes, [&](char32_t cp) { ForEachUtf16Unit(cp, [&](char16_t unit) { text.push_back(unit); }); });
    return text;
}

void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool IsValidUtf8(std::string_view bytes) {
    bool valid = true;
    // A byte that is not part of valid UTF-8 is the only way to a lone U+DC80..U+DCFF.
    ForEachPathCharacter(bytes, [&](char32_t cp) { valid = valid && !(cp >= 0xDC80 && cp <= 0xDCFF); });
    return valid;
}

std::string TextToPath(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    const auto put = [&](char32_t cp) { AppendUtf8(cp, bytes); };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            put(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
            bytes.push_back(static_cast<char>(unit - 0xDC00));
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            put(0xFFFD);
        } else {
            put(unit);
        }
    }
    return bytes;
}

}  // namespace kiv::filesystem
