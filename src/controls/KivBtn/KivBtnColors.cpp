#include "controls/KivBtn/KivBtnColors.h"

#include <QGuiApplication>
#include <QPalette>
#include <algorithm>
#include <optional>

namespace kiv::controls {

namespace {

struct SystemRole {
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

// The platform's system colour indexes 0..30 (25 is unassigned) and the palette entries that play
// their part here.
std::optional<SystemRole> RoleOfSystemColor(int index) {
    constexpr auto A = QPalette::Active;
    switch (index) {
        case 0:   // scroll bar
        case 15:  // button face
            return SystemRole{A, QPalette::Button};
        case 1:   // desktop
        case 4:   // menu
        case 10:  // active border
        case 11:  // inactive border
        case 30:  // menu bar
            return SystemRole{A, QPalette::Window};
        case 2:   // active caption
        case 13:  // highlight
        case 27:  // active caption gradient
        case 29:  // menu highlight
            return SystemRole{A, QPalette::Highlight};
        case 3:   // inactive caption
        case 28:  // inactive caption gradient
            return SystemRole{QPalette::Inactive, QPalette::Highlight};
        case 5:  // window
            return SystemRole{A, QPalette::Base};
        case 6:   // window frame
        case 21:  // 3D dark shadow
            return SystemRole{A, QPalette::Shadow};
        case 7:  // menu text
            return SystemRole{A, QPalette::WindowText};
        case 8:  // window text
            return SystemRole{A, QPalette::Text};
        case 9:   // caption text
        case 14:  // highlight text
            return SystemRole{A, QPalette::HighlightedText};
        case 12:  // application workspace
            return SystemRole{A, QPalette::Mid};
        case 16:  // button shadow
            return SystemRole{A, QPalette::Dark};
        case 17:  // grey text
            return SystemRole{QPalette::Disabled, QPalette::Text};
        case 18:  // button text
            return SystemRole{A, QPalette::ButtonText};
        case 19:  // inactive caption text
            return SystemRole{QPalette::Inactive, QPalette::HighlightedText};
        case 20:  // button highlight
            return SystemRole{A, QPalette::Light};
        case 22:  // 3D light
            return SystemRole{A, QPalette::Midlight};
        case 23:  // tooltip text
            return SystemRole{A, QPalette::ToolTipText};
        case 24:  // tooltip background
            return SystemRole{A, QPalette::ToolTipBase};
        case 26:  // hot-tracked item
            return SystemRole{A, QPalette::Link};
        default:
            return std::nullopt;
    }
}

int Channel(ColorValue rgb, int shift) {
    return static_cast<int>((rgb >> shift) & 0xFF);
}

ColorValue Pack(int r, int g, int b) {
    return static_cast<ColorValue>(r) | (static_cast<ColorValue>(g) << 8) |
           (static_cast<ColorValue>(b) << 16);
}

}  // namespace

ColorValue TranslateColor(ColorValue value) {
    switch (value >> 24) {
        case 0x00:
            return value;
        case 0x80: {
            const auto entry = RoleOfSystemColor(static_cast<int>(value & 0xFFu));
            if (!entry) return 0;
            return FromQColor(QGuiApplication::palette().color(entry->group, entry->role));
        }
        default:
            return 0;  // a palette index or anything else the translation does not know
    }
}

QColor ToQColor(ColorValue value) {
    const ColorValue rgb = TranslateColor(value);
    return QColor(Channel(rgb, 0), Channel(rgb, 8), Channel(rgb, 16));
}

ColorValue FromQColor(const QColor& color) {
    return Pack(color.red(), color.green(), color.blue());
}

ColorValue ShiftColor(ColorValue rgb, int offset, bool soft, bool proportionalBlue) {
    if (soft) offset /= 2;
    const int r = Channel(rgb, 0) + offset;
    const int g = Channel(rgb, 8) + offset;
    const int blue = Channel(rgb, 16);
    const int b = proportionalBlue ? blue + (blue * offset) / 192 : blue + offset;
    // Only the direction of the shift can push a channel out of range.
    auto clamp = [](int c) { return std::clamp(c, 0, 255); };
    return Pack(clamp(r), clamp(g), clamp(b));
}

ColorValue TintColor(ColorValue rgb, int level) {
    auto tint = [level](int c) { return std::min(255, level + ((255 - level) * c) / 255); };
    return Pack(tint(Channel(rgb, 0)), tint(Channel(rgb, 8)), tint(Channel(rgb, 16)));
}

SystemColors CurrentSystemColors() {
    SystemColors s;
    s.face = TranslateColor(SystemColor(kSysColorButtonFace));
    s.shadow = TranslateColor(SystemColor(kSysColorButtonShadow));
    s.light = TranslateColor(SystemColor(kSysColorLight));
    s.highlight = TranslateColor(SystemColor(kSysColorButtonHighlight));
    s.darkShadow = TranslateColor(SystemColor(kSysColorDarkShadow));
    s.text = TranslateColor(SystemColor(kSysColorButtonText));
    s.selection = TranslateColor(SystemColor(kSysColorHighlight));
    return s;
}

ColorSet MakeColorSet(const ColorInputs& in) {
    const bool soft = in.softBevel;
    ColorSet c;
    auto derive = [&c, soft](ColorValue face) {
        c.face = face;
        c.shadow = ShiftColor(face, -64, soft);
        c.light = ShiftColor(face, 31, soft);
        c.highlight = ShiftColor(face, 47, soft);
        c.darkShadow = ShiftColor(face, -192, soft);
    };
    switch (in.scheme) {
        case 2:
            derive(TranslateColor(in.backColor));
            c.text = TranslateColor(in.foreColor);
            c.textOver = TranslateColor(in.foreOver);
            c.select = ShiftColor(c.face, -128, soft);
            c.selectLight = c.face;
            break;
        case 3:
            c.face = 0xC0C0C0;
            c.shadow = 0x808080;
            c.light = 0xDFDFDF;
            c.highlight = 0xFFFFFF;
            c.darkShadow = 0x000000;
            c.text = 0x000000;
            c.textOver = 0x000000;
            c.select = 0x800000;
            c.selectLight = 0xD1ADAD;
            break;
        case 4:
            derive(TranslateColor(in.containerBack));
            c.text = TranslateColor(in.containerText);
            c.textOver = c.text;
            c.select = in.system.selection;
            c.selectLight = TintColor(c.select, 176);
            break;
        default:
            c.face = in.system.face;
            c.shadow = in.system.shadow;
            c.light = in.system.light;
            c.highlight = in.system.highlight;
            c.darkShadow = in.system.darkShadow;
            c.text = in.system.text;
            c.textOver = c.text;
            c.select = in.system.selection;
            c.selectLight = TintColor(c.select, 176);
            break;
    }
    c.mask = TranslateColor(in.maskColor);
    c.paleFace = ShiftColor(c.face, 48, soft, in.buttonType == 3);
    return c;
}

}  // namespace kiv::controls
