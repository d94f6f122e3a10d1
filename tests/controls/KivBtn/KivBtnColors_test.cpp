#include "controls/KivBtn/KivBtnColors.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPalette>

namespace kiv::controls {
namespace {

struct ShiftCase {
    ColorValue in;
    int offset;
    bool soft;
    bool proportional;
    ColorValue out;
};

class ShiftColorTest : public ::testing::TestWithParam<ShiftCase> {};

TEST_P(ShiftColorTest, MovesAndClampsEachChannel) {
    const ShiftCase& c = GetParam();
    EXPECT_EQ(ShiftColor(c.in, c.offset, c.soft, c.proportional), c.out);
}

INSTANTIATE_TEST_SUITE_P(Cases, ShiftColorTest,
                         ::testing::Values(ShiftCase{0x808080, -200, false, false, 0x000000},
                                           ShiftCase{0xF0F0F0, 31, false, false, 0xFFFFFF},
                                           // soft halves toward zero: -25 becomes -12
                                           ShiftCase{0x808080, -25, true, false, 0x747474},
                                           ShiftCase{0x808080, 25, true, false, 0x8C8C8C},
                                           // blue moves by 96 * -32 / 192 = -16; red and green stay at 0
                                           ShiftCase{0x600000, -32, false, true, 0x500000},
                                           // -10 * 160 / 192 = -8.33 truncates to -8
                                           ShiftCase{0xA0B0B0, -10, false, true, 0x98A6A6},
                                           // channels stay separate: red overflow does not carry
                                           ShiftCase{0x0000FF, 40, false, false, 0x2828FF}));

TEST(TintColorTest, MixesTowardWhite) {
    EXPECT_EQ(TintColor(0x000000, 176), 0xB0B0B0u);
    EXPECT_EQ(TintColor(0xFFFFFF, 176), 0xFFFFFFu);
    EXPECT_EQ(TintColor(0x800000, 128), 0xBF8080u);  // 128 + 127 * 128 / 255 = 191
}

TEST(TranslateColorTest, PlainValuesPassAndReferencesResolve) {
    EXPECT_EQ(TranslateColor(0x00C0E0FF), 0xC0E0FFu);
    const ColorValue face = TranslateColor(SystemColor(kSysColorButtonFace));
    EXPECT_LE(face, 0xFFFFFFu);
    EXPECT_EQ(face, CurrentSystemColors().face);
    // only the low byte of a reference names the colour
    EXPECT_EQ(TranslateColor(0x80FF0000u | kSysColorButtonFace), face);
    for (int index = 0; index <= 30; ++index) {
        if (index != 25) {
            EXPECT_LE(TranslateColor(SystemColor(index)), 0xFFFFFFu) << index;
        }
    }
}

// Black, not the low bits and not the face colour: a bad value must not pass for a plausible colour.
TEST(TranslateColorTest, UnknownHighBytesAndIndexesFailAsBlack) {
    const QPalette saved = QGuiApplication::palette();
    QPalette bright = saved;
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        bright.setColor(static_cast<QPalette::ColorRole>(role), QColor(0xF0, 0xF1, 0xF2));
    }
    QGuiApplication::setPalette(bright);
    for (ColorValue bad :
         {0x7F123456u, 0x01000005u, 0x02C0E0FFu, 0xFF123456u, 0x81000000u | kSysColorButtonFace,
          0x80000000u | 25, 0x80000000u | 31, 0x800000FFu}) {
        EXPECT_EQ(TranslateColor(bad), 0u) << std::hex << bad;
    }
    EXPECT_EQ(TranslateColor(SystemColor(kSysColorButtonFace)), 0xF2F1F0u);
    EXPECT_EQ(ToQColor(0x7F123456u), QColor(Qt::black));
    QGuiApplication::setPalette(saved);
}

class ColorSchemeTest : public ::testing::Test {
  protected:
    ColorInputs Inputs(int scheme) {
        ColorInputs in;
        in.scheme = scheme;
        in.backColor = 0xC0E0FF;
        in.foreColor = 0x000000;
        in.foreOver = 0x400000;
        in.maskColor = 0xC0C0C0;
        in.containerBack = 0x102030;
        in.containerText = 0x0000FF;
        in.system = {0xF0F0F0, 0xA0A0A0, 0xE3E3E3, 0xFFFFFF, 0x696969, 0x111111, 0xD77800};
        return in;
    }
};

TEST_F(ColorSchemeTest, CustomSchemeDerivesFromBackColor) {
    ColorInputs in = Inputs(2);
    in.buttonType = 3;
    const ColorSet c = MakeColorSet(in);
    EXPECT_EQ(c.face, 0xC0E0FFu);
    EXPECT_EQ(c.shadow, 0x80A0BFu);
    EXPECT_EQ(c.light, 0xDFFFFFu);
    EXPECT_EQ(c.highlight, 0xEFFFFFu);
    EXPECT_EQ(c.darkShadow, 0x00203Fu);
    EXPECT_EQ(c.text, 0x000000u);
    EXPECT_EQ(c.textOver, 0x400000u);
    EXPECT_EQ(c.select, 0x40607Fu);
    EXPECT_EQ(c.selectLight, c.face);
    EXPECT_EQ(c.mask, 0xC0C0C0u);
    // type 3 moves blue in proportion: 192 + 192 * 48 / 192 = 240
    EXPECT_EQ(c.paleFace, 0xF0FFFFu);
}

TEST_F(ColorSchemeTest, SoftBevelSoftensTheDerivedColours) {
    ColorInputs in = Inputs(2);
    in.backColor = 0x808080;
    in.softBevel = true;
    const ColorSet c = MakeColorSet(in);
    EXPECT_EQ(c.shadow, 0x606060u);
    EXPECT_EQ(c.darkShadow, 0x202020u);
    EXPECT_EQ(c.paleFace, 0x989898u);
}

TEST_F(ColorSchemeTest, FixedSchemeIgnoresTheColourProperties) {
    const ColorSet c = MakeColorSet(Inputs(3));
    EXPECT_EQ(c.face, 0xC0C0C0u);
    EXPECT_EQ(c.shadow, 0x808080u);
    EXPECT_EQ(c.light, 0xDFDFDFu);
    EXPECT_EQ(c.highlight, 0xFFFFFFu);
    EXPECT_EQ(c.darkShadow, 0x000000u);
    EXPECT_EQ(c.select, 0x800000u);
    EXPECT_EQ(c.selectLight, 0xD1ADADu);
    EXPECT_EQ(c.textOver, 0x000000u);
}

TEST_F(ColorSchemeTest, ContainerSchemeTakesTheParentColours) {
    const ColorSet c = MakeColorSet(Inputs(4));
    EXPECT_EQ(c.face, 0x102030u);
    EXPECT_EQ(c.shadow, 0x000000u);
    EXPECT_EQ(c.highlight, 0x3F4F5Fu);
    EXPECT_EQ(c.text, 0x0000FFu);
    EXPECT_EQ(c.textOver, 0x0000FFu);
    EXPECT_EQ(c.select, 0xD77800u);
    EXPECT_EQ(c.selectLight, TintColor(0xD77800, 176));
}

class SystemSchemeTest : public ColorSchemeTest, public ::testing::WithParamInterface<int> {};

TEST_P(SystemSchemeTest, UnknownSchemesBehaveAsTheSystemScheme) {
    const ColorSet c = MakeColorSet(Inputs(GetParam()));
    EXPECT_EQ(c.face, 0xF0F0F0u);
    EXPECT_EQ(c.shadow, 0xA0A0A0u);
    EXPECT_EQ(c.light, 0xE3E3E3u);
    EXPECT_EQ(c.darkShadow, 0x696969u);
    EXPECT_EQ(c.text, 0x111111u);
    EXPECT_EQ(c.textOver, 0x111111u);
    EXPECT_EQ(c.selectLight, TintColor(0xD77800, 176));
    EXPECT_EQ(c.paleFace, 0xFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(Schemes, SystemSchemeTest, ::testing::Values(1, 0, 5, -1));

TEST_F(ColorSchemeTest, SystemReferenceInBackColorIsTranslatedBeforeArithmetic) {
    ColorInputs in = Inputs(2);
    in.backColor = SystemColor(kSysColorButtonFace);
    const ColorSet c = MakeColorSet(in);
    const ColorValue face = TranslateColor(SystemColor(kSysColorButtonFace));
    EXPECT_EQ(c.face, face);
    EXPECT_EQ(c.shadow, ShiftColor(face, -64, false));
    EXPECT_EQ(c.shadow & 0xFF000000u, 0u);
}

}  // namespace
}  // namespace kiv::controls
