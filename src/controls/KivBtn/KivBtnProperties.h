#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <cstdint>
#include <utility>

#include "controls/KivBtn/KivBtnColors.h"

namespace kiv::controls {

// A font as the property set stores it: {name, size, bold, italic, underline}.
struct BtnFont {
    QString name;
    double size = 8.25;  // points
    bool bold = false;
    bool italic = false;
    bool underline = false;

    friend bool operator==(const BtnFont&, const BtnFont&) = default;
};

// Pictures are image paths, normally Qt resources such as ":/icons/add.xpm"; empty means none.
struct KivBtnProperties {
    std::int32_t buttonType = 2;
    QString caption;
    bool enabled = true;
    BtnFont font;
    std::int32_t colorScheme = 1;
    bool showFocusRect = true;
    ColorValue backColor = 0;
    ColorValue backOver = 0;
    ColorValue foreColor = 0;
    ColorValue foreOver = 0;
    ColorValue maskColor = 0xC0C0C0;
    std::int16_t mousePointer = 0;
    QString mouseIcon;
    QString pictureNormal;
    QString pictureOver;
    bool useMaskColor = true;
    bool softBevel = false;
    std::int32_t picturePosition = 0;
    bool useGreyscale = false;
    std::int32_t specialEffect = 0;
    bool handPointer = false;
    bool checkBoxBehaviour = false;
    bool value = false;

    friend bool operator==(const KivBtnProperties&, const KivBtnProperties&) = default;
};

// Mouse pointer numbers of the host.
constexpr std::int16_t kPointerDefault = 0;
constexpr std::int16_t kPointerArrow = 1;
constexpr std::int16_t kPointerCustom = 99;

// The hand pointer image belongs to the control; this is the name it goes by in a property set.
inline const QString kHandPointerPicture = QStringLiteral(":/icons/hand.xpm");

// What an absent key falls back to that is not a constant: the surface font and the system colours
// of the moment of loading.
struct PropertyDefaults {
    BtnFont font;
    ColorValue buttonFace = 0xF0F0F0;
    ColorValue buttonText = 0x000000;
};

// The persisted keys, lower case, in the order they are read and written.
const QStringList& PersistedKeys();

struct ReadResult {
    KivBtnProperties properties;
    QStringList problems;  // one line per key whose value could not be used; that key took its default
};

// Reads the set with keys matched without regard to case. A value of the wrong kind or out of range
// never loads as something else: its key falls back to the default and the read names it in problems.
ReadResult ReadProperties(const QVariantMap& set, const PropertyDefaults& defaults);

using PropertyList = QList<std::pair<QString, QVariant>>;

// All keys, lower case, in persisted order; picture keys only for pictures that are set.
PropertyList WriteProperties(const KivBtnProperties& properties);
QVariantMap ToVariantMap(const PropertyList& list);

}  // namespace kiv::controls
