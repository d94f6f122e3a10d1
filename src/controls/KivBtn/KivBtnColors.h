#pragma once

#include <QColor>
#include <cstdint>

namespace kiv::controls {

// 0x00BBGGRR, or a system colour reference: high bit set, low byte the system colour index.
using ColorValue = std::uint32_t;

constexpr ColorValue kSystemColorFlag = 0x80000000u;
constexpr int kSysColorHighlight = 13;
constexpr int kSysColorButtonFace = 15;
constexpr int kSysColorButtonShadow = 16;
constexpr int kSysColorButtonText = 18;
constexpr int kSysColorButtonHighlight = 20;
constexpr int kSysColorDarkShadow = 21;
constexpr int kSysColorLight = 22;

constexpr ColorValue SystemColor(int index) {
    return kSystemColorFlag | static_cast<ColorValue>(index & 0xFF);
}

// Plain RGB (top byte 0x00) passes unchanged and a system colour reference (top byte 0x80, known
// index 0..30) resolves against the application palette; anything else fails and gives 0 (black).
ColorValue TranslateColor(ColorValue value);

QColor ToQColor(ColorValue value);
ColorValue FromQColor(const QColor& color);

// Moves each channel by offset, clamped to 0..255. soft halves the offset (toward zero);
// proportionalBlue moves blue by blue * offset / 192 instead.
ColorValue ShiftColor(ColorValue rgb, int offset, bool soft, bool proportionalBlue = false);

// A mix toward white that maps 0 to level and 255 to 255.
ColorValue TintColor(ColorValue rgb, int level);

// The working colours every face is drawn from.
struct ColorSet {
    ColorValue face = 0;
    ColorValue light = 0;
    ColorValue highlight = 0;
    ColorValue shadow = 0;
    ColorValue darkShadow = 0;
    ColorValue text = 0;
    ColorValue textOver = 0;
    ColorValue select = 0;
    ColorValue selectLight = 0;
    ColorValue mask = 0;
    ColorValue paleFace = 0;

    friend bool operator==(const ColorSet&, const ColorSet&) = default;
};

// The system's button colours, already resolved.
struct SystemColors {
    ColorValue face = 0xF0F0F0;
    ColorValue shadow = 0xA0A0A0;
    ColorValue light = 0xE3E3E3;
    ColorValue highlight = 0xFFFFFF;
    ColorValue darkShadow = 0x696969;
    ColorValue text = 0x000000;
    ColorValue selection = 0xD77800;
};

SystemColors CurrentSystemColors();

struct ColorInputs {
    int scheme = 1;
    int buttonType = 2;
    bool softBevel = false;
    ColorValue backColor = 0;  // property values, may be system references
    ColorValue foreColor = 0;
    ColorValue foreOver = 0;
    ColorValue maskColor = 0xC0C0C0;
    ColorValue containerBack = 0;  // the parent window's background and text colours (scheme 4)
    ColorValue containerText = 0;
    SystemColors system;
};

ColorSet MakeColorSet(const ColorInputs& in);

}  // namespace kiv::controls
