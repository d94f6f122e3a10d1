#include "controls/KivBtn/KivBtnFace.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "controls/KivBtn/KivBtnPictures.h"

namespace kiv::controls {
namespace {

namespace raster = platform::raster;

constexpr int W = 60;
constexpr int H = 25;

ColorSet Grey() {
    ColorInputs in;
    in.scheme = 2;
    in.backColor = 0x808080;
    in.foreColor = 0x000000;
    in.foreOver = 0x000040;
    return MakeColorSet(in);
}

FaceParams Params(int type, FaceState state = FaceState::Up) {
    FaceParams p;
    p.buttonType = type;
    p.w = W;
    p.h = H;
    p.state = state;
    p.colorScheme = 2;
    p.colors = Grey();
    p.clearColor = 0x123456;
    p.faceRect = {4, 4, W - 4, H - 4};
    return p;
}

QImage Paint(const FaceParams& p) {
    raster::Surface s(p.w, p.h);
    PaintFace(s, p);
    return s.Image();
}

ColorValue At(const QImage& img, int x, int y) {
    return raster::FromQRgb(img.pixel(x, y));
}

// A picture with one dark pixel in the middle of mask colour and one bright pixel beside it.
QImage Dot() {
    QImage img(3, 3, QImage::Format_RGB32);
    img.fill(qRgb(0xC0, 0xC0, 0xC0));
    img.setPixel(1, 1, qRgb(0x20, 0x40, 0x60));
    img.setPixel(2, 1, qRgb(0xF0, 0xF0, 0xF0));
    return img;
}

FaceParams WithDot(FaceParams p) {
    p.pictureNormal = Dot();
    p.pictureSize = {3, 3};
    p.picturePos = {20, 10};
    return p;
}

TEST(FaceTest, Type1BevelIsOnePixelInsideItsFrame) {
    const ColorSet c = Grey();
    const QImage up = Paint(Params(1));
    EXPECT_EQ(At(up, 0, 0), c.darkShadow);
    EXPECT_EQ(At(up, 1, H - 3), c.highlight);
    EXPECT_EQ(At(up, 1, H - 2), c.shadow);  // the bottom edge is drawn last, up to the left column
    EXPECT_EQ(At(up, 1, 1), c.highlight);
    EXPECT_EQ(At(up, W - 2, 1), c.shadow);
    EXPECT_EQ(At(up, W - 2, H - 2), c.shadow);
    EXPECT_EQ(At(up, 2, 2), c.highlight);
    EXPECT_EQ(At(up, W - 3, H - 3), c.shadow);
    EXPECT_EQ(At(up, W / 2, H / 2), c.face);
    const QImage down = Paint(Params(1, FaceState::Down));
    EXPECT_EQ(At(down, 1, 1), c.shadow);
    EXPECT_EQ(At(down, W - 2, H - 2), c.highlight);
}

TEST(FaceTest, Type2BevelAtTheEdgeRelyingOnLinesThatStopShort) {
    const ColorSet c = Grey();
    const QImage up = Paint(Params(2));
    EXPECT_EQ(At(up, 0, 0), c.highlight);
    EXPECT_EQ(At(up, W - 2, 0), c.highlight);
    EXPECT_EQ(At(up, W - 1, 0), c.darkShadow);
    EXPECT_EQ(At(up, 0, H - 1), c.darkShadow);
    EXPECT_EQ(At(up, 1, 1), c.light);
    EXPECT_EQ(At(up, 1, H - 2), c.shadow);
    EXPECT_EQ(At(up, W - 2, H - 2), c.shadow);
    const QImage down = Paint(Params(2, FaceState::Down));
    EXPECT_EQ(At(down, 0, 0), c.darkShadow);
    EXPECT_EQ(At(down, W - 1, H - 1), c.highlight);
}

TEST(FaceTest, Type3GradientStepsOnePerRowAtHeight25) {
    FaceParams p = Params(3);
    p.colors = [] {
        ColorInputs in;
        in.scheme = 2;
        in.backColor = 0x808080;
        in.buttonType = 3;
        return MakeColorSet(in);
    }();
    ASSERT_EQ(p.colors.paleFace, 0xA0B0B0u);
    const QImage up = Paint(p);
    // row 10: red and green fall by 10, blue by 160 * 10 / 192 = 8
    EXPECT_EQ(At(up, W / 2, 10), 0x98A6A6u);
    EXPECT_EQ(At(up, W / 2, 20), 0x909C9Cu);
    EXPECT_EQ(At(up, 0, 10), 0x733C00u);
    EXPECT_EQ(At(up, 1, 1), 0x7B4D10u);
    const QImage down = Paint([&] {
        FaceParams d = p;
        d.state = FaceState::Down;
        return d;
    }());
    // drawn from the bottom up on a base 32 darker: row 5 is the 20th line
    const ColorValue base = ShiftColor(0xA0B0B0, -32, false, true);
    EXPECT_EQ(At(down, W / 2, 5), ShiftColor(base, -20, false, true));
    EXPECT_EQ(At(down, W / 2, 20), ShiftColor(base, -5, false, true));
}

TEST(FaceTest, SoftBevelHalvesTheGradientSteps) {
    ColorInputs in;
    in.scheme = 2;
    in.backColor = 0x808080;
    in.buttonType = 3;
    in.softBevel = true;
    FaceParams p = Params(3);
    p.softBevel = true;
    p.colors = MakeColorSet(in);
    ASSERT_EQ(p.colors.paleFace, 0x909898u);
    // offset -10 halves to -5; blue moves by 144 * -5 / 192 = -3
    EXPECT_EQ(At(Paint(p), W / 2, 10), 0x8D9393u);
}

TEST(FaceTest, HoverEdgesOfType3UseTheFixedColours) {
    FaceParams p = Params(3);
    p.isOver = true;
    const QImage img = Paint(p);
    EXPECT_EQ(At(img, 1, 5), 0x31B2FFu);
    EXPECT_EQ(At(img, 5, H - 2), 0x0096E7u);
    EXPECT_EQ(At(img, 5, 1), 0xCEF3FFu);
    EXPECT_EQ(At(img, 2, 5), 0x6BCBFFu);
}

class UnknownTypeTest : public ::testing::TestWithParam<std::tuple<int, FaceState, bool>> {};

TEST_P(UnknownTypeTest, PaintsOnlyTheFaceFill) {
    FaceParams p = Params(std::get<0>(GetParam()), std::get<1>(GetParam()));
    p.enabled = std::get<2>(GetParam());
    p.caption = "Text";
    p.hasFocus = true;
    QImage expected(W, H, QImage::Format_RGB32);
    expected.fill(raster::ToQRgb(Grey().face));
    EXPECT_EQ(Paint(p), expected);
}

INSTANTIATE_TEST_SUITE_P(Types, UnknownTypeTest,
                         ::testing::Combine(::testing::Values(0, 10, 15, -3),
                                            ::testing::Values(FaceState::Up, FaceState::Down),
                                            ::testing::Bool()));

// Whether having the focus changes the face, per type: 4, 13 and the unknown 10 never show it, 2 only
// as the default button, 3 through its edge colours, 5 with a box of its own about the text.
class FocusTest : public ::testing::TestWithParam<int> {};

TEST_P(FocusTest, FocusShowsExactlyOnTheTypesThatDrawIt) {
    const int type = GetParam();
    FaceParams p = Params(type);
    p.caption = "Go";
    p.layout.captionRect = {20, 6, 40, 20};
    p.layout.pressedRect = {21, 7, 41, 21};
    p.layout.textWidth = 20;
    p.layout.textHeight = 14;
    const QImage plain = Paint(p);
    p.hasFocus = true;
    const QImage focused = Paint(p);
    const bool shows = type != 2 && type != 4 && type != 10 && type != 13;
    EXPECT_EQ(plain != focused, shows) << "type " << type;
    p.showFocusRect = false;
    EXPECT_EQ(Paint(p), plain) << "type " << type;
    if (type == 2) {
        p.showFocusRect = true;
        p.displayAsDefault = true;
        const QImage asDefault = Paint(p);
        p.hasFocus = false;
        EXPECT_NE(asDefault, Paint(p));
    }
}

INSTANTIATE_TEST_SUITE_P(AllTypes, FocusTest, ::testing::Range(1, 15));

class AllTypesTest : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(AllTypesTest, StatesLookDifferentAndPaintsAreRepeatable) {
    const auto [type, scheme] = GetParam();
    ColorInputs in;
    in.scheme = scheme;
    in.buttonType = type;
    in.backColor = 0xC0E0FF;
    in.foreOver = 0x400000;
    in.containerBack = 0x808080;
    in.system = CurrentSystemColors();
    FaceParams p = WithDot(Params(type));
    p.colorScheme = scheme;
    p.colors = MakeColorSet(in);
    p.background = QImage(W, H, QImage::Format_RGB32);
    p.background.fill(qRgb(1, 2, 3));
    p.specialEffect = 1;
    const QImage up = Paint(p);
    EXPECT_EQ(Paint(p), up);
    p.state = FaceState::Down;
    const QImage down = Paint(p);
    p.state = FaceState::Up;
    p.enabled = false;
    const QImage disabled = Paint(p);
    EXPECT_NE(up, down) << "type " << type;
    EXPECT_NE(up, disabled) << "type " << type;
    if (type == 11) {
        EXPECT_EQ(At(up, W - 5, H - 5), 0x030201u);  // the captured background shows
    }
}

INSTANTIATE_TEST_SUITE_P(TypesAndSchemes, AllTypesTest,
                         ::testing::Combine(::testing::Range(1, 15), ::testing::Values(1, 2, 3, 4)));

TEST(PictureTest, MaskPixelsStayBackgroundAndBrightOnesAreSkippedWhenEngraved) {
    const ColorSet c = Grey();
    const QImage up = Paint(WithDot(Params(2)));
    EXPECT_EQ(At(up, 20, 10), c.face);     // mask colour: background shows
    EXPECT_EQ(At(up, 21, 11), 0x604020u);  // the picture's own pixel
    FaceParams disabled = WithDot(Params(1));
    disabled.enabled = false;
    const QImage engraved = Paint(disabled);
    EXPECT_EQ(At(engraved, 21, 11), c.shadow);     // grey copy on top
    EXPECT_EQ(At(engraved, 22, 12), c.highlight);  // light copy one pixel down-right
    EXPECT_EQ(At(engraved, 22, 11), c.face);       // brighter than 384: left alone
}

TEST(PictureTest, DisabledType3PictureIsGreyAndOffsetByOne) {
    FaceParams p = WithDot(Params(3));
    p.enabled = false;
    const ColorValue grey = At(Paint(p), 22, 12);
    EXPECT_EQ(grey & 0xFF, (grey >> 8) & 0xFF);
    EXPECT_EQ(grey & 0xFF, (grey >> 16) & 0xFF);
    EXPECT_EQ(grey & 0xFF, static_cast<ColorValue>(GreyOf(0x604020)));
}

TEST(PictureTest, PressedPictureMovesOneDownRight) {
    FaceParams p = WithDot(Params(1, FaceState::Down));
    EXPECT_EQ(At(Paint(p), 22, 12), 0x604020u);
    p.buttonType = 5;  // type 5 keeps it in place
    EXPECT_EQ(At(Paint(p), 21, 11), 0x604020u);
}

TEST(PictureTest, RaisedEffectPutsADarkCopyBelowRight) {
    FaceParams p = WithDot(Params(2));
    p.specialEffect = 1;
    const QImage img = Paint(p);
    EXPECT_EQ(At(img, 22, 12), ShiftColor(Grey().face, -40, false));
    EXPECT_EQ(At(img, 20, 10), ShiftColor(Grey().face, 40, false));
    p.specialEffect = 7;  // above 3 behaves as a shadow only
    const QImage shadow = Paint(p);
    EXPECT_EQ(At(shadow, 22, 12), ShiftColor(Grey().face, -40, false));
    EXPECT_EQ(At(shadow, 20, 10), Grey().face);
}

// Caption pixels in the text colour, as points.
std::set<std::pair<int, int>> Ink(const QImage& img, ColorValue colour, const Rect& within) {
    std::set<std::pair<int, int>> out;
    for (int y = within.top; y < within.bottom; ++y) {
        for (int x = within.left; x < within.right; ++x) {
            if (At(img, x, y) == colour) out.insert({x, y});
        }
    }
    return out;
}

class CaptionFaceTest : public ::testing::Test {
  protected:
    FaceParams Captioned(int type, FaceState state) {
        FaceParams p = Params(type, state);
        p.w = 100;
        p.h = 30;
        p.colorScheme = 3;
        ColorInputs in;
        in.scheme = 3;
        p.colors = MakeColorSet(in);
        p.font.setPixelSize(14);
        p.caption = "MW";
        p.layout = LayoutCaption(
            p.w, p.h, 0, {}, [&p](const Rect& r) { return raster::MeasureText(r, p.caption, p.font); }, {});
        return p;
    }
};

TEST_F(CaptionFaceTest, PressedCaptionIsOnePixelRightAndDown) {
    const Rect inside{3, 3, 97, 27};
    const auto up = Ink(Paint(Captioned(7, FaceState::Up)), 0x000000, inside);
    const auto down = Ink(Paint(Captioned(7, FaceState::Down)), 0x000000, inside);
    ASSERT_FALSE(up.empty());
    std::set<std::pair<int, int>> moved;
    for (const auto& [x, y] : up) moved.insert({x + 1, y + 1});
    EXPECT_EQ(down, moved);
}

TEST_F(CaptionFaceTest, SunkenCaptionHasTheLightCopyBelowRight) {
    FaceParams p = Captioned(1, FaceState::Up);
    p.specialEffect = 2;
    const QImage img = Paint(p);
    const auto ink = Ink(Paint(Captioned(1, FaceState::Up)), 0x000000, {3, 3, 97, 27});
    ASSERT_FALSE(ink.empty());
    const auto [fx, fy] = *ink.begin();  // leftmost column, top pixel of it
    const auto [lx, ly] = *ink.rbegin();
    EXPECT_EQ(At(img, fx - 1, fy - 1), ShiftColor(0xC0C0C0, -40, false));
    EXPECT_EQ(At(img, lx + 1, ly + 1), ShiftColor(0xC0C0C0, 40, false));
}

TEST_F(CaptionFaceTest, DefaultType14DrawsItsCaptionBold) {
    FaceParams p = Captioned(14, FaceState::Up);
    const auto regular = Ink(Paint(p), 0x000000, {6, 6, 94, 24});
    p.displayAsDefault = true;
    const auto bold = Ink(Paint(p), 0x000000, {6, 6, 94, 24});
    EXPECT_GT(bold.size(), regular.size());
}

}  // namespace
}  // namespace kiv::controls
