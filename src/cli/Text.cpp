#include "cli/Text.h"

#include <cstdint>
#include <cstdio>

#include "filesystem/PathText.h"

namespace kiv::cli {
namespace {

// What ForEachPathCharacter gives for a byte that is not part of valid UTF-8.
bool IsStrayByte(char32_t code) {
    return code >= 0xDC80 && code <= 0xDCFF;
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

}  // namespace kiv::cli
