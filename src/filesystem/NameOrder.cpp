#include "filesystem/NameOrder.h"

#include <locale>

#include "filesystem/PathText.h"

namespace kiv::filesystem {
namespace {

// Upper case of any letter, by the C library's Unicode tables; ASCII alone where no UTF-8 locale
// can be made. Independent of the process's own locale.
class UpperCase {
  public:
    UpperCase() {
        try {
            locale_ = std::locale("C.UTF-8");
            wide_ = &std::use_facet<std::ctype<wchar_t>>(locale_);
        } catch (...) {
            wide_ = nullptr;
        }
    }
    char32_t operator()(char32_t cp) const {
        if (cp < 0x80) return cp >= 'a' && cp <= 'z' ? cp - ('a' - 'A') : cp;
        if (!wide_ || (cp >= 0xD800 && cp <= 0xDFFF)) return cp;
        return static_cast<char32_t>(wide_->toupper(static_cast<wchar_t>(cp)));
    }

  private:
    std::locale locale_;
    const std::ctype<wchar_t>* wide_ = nullptr;
};

const UpperCase& Upper() {
    static const UpperCase upper;
    return upper;
}

}  // namespace

std::u32string NameOrderKey(std::string_view name) {
    const UpperCase& upper = Upper();
    std::u32string key;
    key.reserve(name.size());
    ForEachPathCharacter(name, [&](char32_t cp) { key.push_back(upper(cp)); });
    return key;
}

bool NameLess(std::string_view a, std::string_view b) {
    if (const int c = NameOrderKey(a).compare(NameOrderKey(b)); c != 0) return c < 0;
    return a < b;
}

}  // namespace kiv::filesystem
