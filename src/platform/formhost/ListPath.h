#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "filesystem/PathText.h"

namespace kiv::forms {

// Where a path crosses between the file system and the list: its bytes as the list's text and back,
// through the one pair in PathText.h, so every name on disk survives the trip.
inline QString PathToListText(std::string_view bytes) {
    const std::u16string text = filesystem::PathToText(bytes);
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

// The text's UTF-16 as the Qt-free code takes it; valid while `text` lives and is not changed.
inline std::u16string_view ShownText(const QString& text) {
    return std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                               static_cast<std::size_t>(text.size()));
}

inline std::string ListTextToPath(const QString& text) {
    return filesystem::TextToPath(ShownText(text));
}

}  // namespace kiv::forms
