#include "controls/KivBtn/KivBtnColors.h"

#include <QGuiApplication>
#include <QPalette>
#include <algorithm>

namespace kiv::controls {

namespace {

QPalette::ColorRole RoleOfSystemColor(int index, QPalette::ColorGroup* group) {
    *group = QPalette::Active;
    switch (index) {
        case 1:
            return QPalette::Window;  // desktop
        case 5:
            return QPalette::Base;  // window
        case 8:
            return QPalette::Text;  // window text
        case 13:
            return QPalette::Highlight;
        case 14:
            return QPalette::HighlightedText;
        case 16:
            return QPalette::Dark;  // button shadow
        case 17:
            *group = QPalette::Disabled;
            return QPalette::Text;  // grey text
        case 18:
            return QPalette::ButtonText;
        case 20:
            return QPalette::Light;  // button highlight
        case 21:
            return QPalette::Shadow;  // dark shadow
        case 22:
            return QPalette::Midlight;  // light
        case 23:
            return QPalette::ToolTipText;
        case 24:
            return QPalette::ToolTipBase;
        default:
            return QPalette::Button;  // 15 button face and anything unknown
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
    if ((value & kSystemColorFlag) == 0) return value & 0x00FFFFFFu;
    QPalette::ColorGroup group;
    const QPalette::ColorRole role = RoleOfSystemColor(static_cast<int>(value & 0xFFu), &group);
    return FromQColor(QGuiApplication::palette().color(group, role));
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
