#include "controls/KivBtn/KivBtnColors.h"

#include <QGuiApplication>
#include <QPalette>

#include <algorithm>

namespace kiv::controls {

namespace {

QPalette::ColorRole RoleOfSystemColor(int index, QPalette::ColorGroup* group) {
    *group = QPalette::Active;
    switch (index) {
        case 1: return QPalette::Window;           // desktop
        case 5: return QPalette::Base;             // window
        case 8: return QPalette::Text;             // window text
        case 13: return QPalette::Highlight;
        case 14: return QPalette::HighlightedText;
        case 16: return QPalette::Dark;            // button shadow
        case 17: *group = QPalette::Disabled; return QPalette::Text;  // grey text
        case 18: return QPalette::ButtonText;
        case 20: return QPalette::Light;           // button highlight
        case 21: return QPalette::Shadow;          // dark shadow
        case 22: return QPalette::Midlight;        // light
        case 23: return QPalette::ToolTipText;
        case 24: return QPalette::ToolTipBase;
        default: return QPalette::Button;          // 15 button face and anything unknown
    }
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
    return QColor(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                  static_cast<int>((rgb >> 16) & 0xFF));
}

ColorValue FromQColor(const QColor& color) {
    return static_cast<ColorValue>(color.red()) | (static_cast<ColorValue>(color.green()) << 8) |
           (static_cast<ColorValue>(color.blue()) << 16);
}

ColorValue ShiftColor(ColorValue value, int delta) {
    const ColorValue rgb = TranslateColor(value);
    ColorValue out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int channel = std::clamp(static_cast<int>((rgb >> shift) & 0xFF) + delta, 0, 255);
        out |= static_cast<ColorValue>(channel) << shift;
    }
    return out;
}

}  // namespace kiv::controls
