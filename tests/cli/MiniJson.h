#pragma once

// A strict JSON reader for checking the program's reports: it accepts only what RFC 8259 allows
// and gives the parsed value, so a test checks both validity and content.

#include <cctype>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kiv::cli::testing {

struct Json {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string;  // UTF-8; a lone surrogate escape is kept as its three-byte encoding
    std::vector<Json> array;
    std::map<std::string, Json> object;

    const Json& operator[](const std::string& key) const {
        static const Json none;
        const auto it = object.find(key);
        return it == object.end() ? none : it->second;
    }
};

class JsonReader {
  public:
    explicit JsonReader(const std::string& text) : text_(text) {}

    std::optional<Json> Parse() {
        Json value;
        if (!Value(value, 0)) return std::nullopt;
        Space();
        if (at_ != text_.size()) return std::nullopt;
        return value;
    }

  private:
    void Space() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t'))
            ++at_;
    }
    bool Take(char c) {
        Space();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool Word(const char* word) {
        const std::string w = word;
        if (text_.compare(at_, w.size(), w) != 0) return false;
        at_ += w.size();
        return true;
    }
    static void Encode(std::uint32_t code, std::string& out) {
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
    bool Hex4(std::uint32_t& code) {
        if (text_.size() - at_ < 4) return false;
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }
    bool String(std::string& out) {
        if (at_ >= text_.size() || text_[at_] != '"') return false;
        ++at_;
        while (at_ < text_.size()) {
            const unsigned char c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (at_ >= text_.size()) return false;
            const char e = text_[at_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    std::uint32_t code = 0;
                    if (!Hex4(code)) return false;
                    if (code >= 0xD800 && code <= 0xDBFF && text_.compare(at_, 2, "\\u") == 0) {
                        const std::size_t back = at_;
                        at_ += 2;
                        std::uint32_t low = 0;
                        if (Hex4(low) && low >= 0xDC00 && low <= 0xDFFF) {
                            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                        } else {
                            at_ = back;
                        }
                    }
                    Encode(code, out);
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }
    bool Number(double& out) {
        const std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        if (at_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[at_]))) return false;
        if (text_[at_] == '0') {
            ++at_;
        } else {
            while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (at_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[at_]))) return false;
            while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            if (at_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[at_]))) return false;
            while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
        }
        out = std::stod(text_.substr(start, at_ - start));
        return true;
    }
    bool Value(Json& value, int depth) {
        if (depth > 64) return false;
        Space();
        if (at_ >= text_.size()) return false;
        const char c = text_[at_];
        if (c == '{') {
            ++at_;
            value.type = Json::Type::Object;
            if (Take('}')) return true;
            do {
                Space();
                std::string key;
                if (!String(key) || !Take(':')) return false;
                Json member;
                if (!Value(member, depth + 1)) return false;
                if (!value.object.emplace(key, std::move(member)).second) return false;  // no repeated keys
            } while (Take(','));
            return Take('}');
        }
        if (c == '[') {
            ++at_;
            value.type = Json::Type::Array;
            if (Take(']')) return true;
            do {
                Json item;
                if (!Value(item, depth + 1)) return false;
                value.array.push_back(std::move(item));
            } while (Take(','));
            return Take(']');
        }
        if (c == '"') {
            value.type = Json::Type::String;
            return String(value.string);
        }
        if (Word("true")) {
            value.type = Json::Type::Bool;
            value.boolean = true;
            return true;
        }
        if (Word("false")) {
            value.type = Json::Type::Bool;
            return true;
        }
        if (Word("null")) return true;
        value.type = Json::Type::Number;
        return Number(value.number);
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

inline std::optional<Json> ParseJson(const std::string& text) {
    return JsonReader(text).Parse();
}

}  // namespace kiv::cli::testing
