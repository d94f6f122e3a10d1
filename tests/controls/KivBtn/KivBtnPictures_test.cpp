#include "controls/KivBtn/KivBtnPictures.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace kiv::controls {
namespace {

namespace raster = platform::raster;

constexpr ColorValue kMask = 0xC0C0C0;
constexpr ColorValue kBackground = 0x336699;

TEST(ComposePixelTest, MaskColourStaysBackgroundOnlyWhenMasking) {
    BlitOptions o;
    EXPECT_EQ(ComposePixel(kMask, kBackground, o), kBackground);
    o.useMask = false;
    EXPECT_EQ(ComposePixel(kMask, kBackground, o), kMask);
}

TEST(ComposePixelTest, GreyscaleGivesEqualChannels) {
    BlitOptions o;
    o.greyscale = true;
    const ColorValue grey = ComposePixel(0x2080E0, kBackground, o);  // red E0, green 80, blue 20
    const int g = static_cast<int>(grey & 0xFF);
    EXPECT_EQ(grey, static_cast<ColorValue>(g | (g << 8) | (g << 16)));
    EXPECT_EQ(g, 146);                 // N(N(224 * .3) + 128 * .59 + 32 * .11) = N(67 + 75.52 + 3.52)
    EXPECT_EQ(GreyOf(0xFFFFFF), 254);  // 76.5 rounds to the even 76 first
}

TEST(ComposePixelTest, BlendTakesTwoPartsPicture) {
    BlitOptions o;
    o.blend = true;
    EXPECT_EQ(ComposePixel(0x0000FF, 0x000000, o), 0x0000AAu);
    EXPECT_EQ(ComposePixel(0x000000, 0xFFFFFF, o), 0x555555u);
}

TEST(ComposePixelTest, SilhouetteSkipsOnlyPixelsBrighterThan384) {
    BlitOptions o;
    o.tint = 0x123456;
    o.skipBright = true;
    EXPECT_EQ(ComposePixel(0x808080, kBackground, o), 0x123456u);  // 384 exactly is not brighter
    EXPECT_EQ(ComposePixel(0x808081, kBackground, o), kBackground);
    EXPECT_EQ(ComposePixel(kMask, kBackground, o), kBackground);
    o.skipBright = false;
    EXPECT_EQ(ComposePixel(0xFFFFFF, kBackground, o), 0x123456u);
}

class BlitPictureTest : public ::testing::TestWithParam<int> {};

TEST_P(BlitPictureTest, OddWidthsComposeWithoutShear) {
    const int w = GetParam(), h = 3;
    QImage picture(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) picture.setPixel(x, y, qRgb(10 * x, 20 * y, 7));
    }
    picture.setPixel(w - 1, 1, raster::ToQRgb(kMask));
    raster::Surface s(20, 10);
    raster::Clear(s, kBackground);
    BlitPicture(s, 2, 3, -1, -1, picture, {});
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const ColorValue expected =
                x == w - 1 && y == 1 ? kBackground : raster::FromQRgb(qRgb(10 * x, 20 * y, 7));
            EXPECT_EQ(s.Pixel(2 + x, 3 + y), expected) << x << "," << y;
        }
    }
    EXPECT_EQ(s.Pixel(1, 3), kBackground);
    EXPECT_EQ(s.Pixel(2 + w, 3), kBackground);
}

INSTANTIATE_TEST_SUITE_P(Widths, BlitPictureTest, ::testing::Values(1, 3, 5, 7, 16));

TEST(BlitPictureTest, TransparentPartsOfAnIconReadAsMask) {
    QImage icon(4, 4, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    icon.setPixel(1, 1, qRgb(255, 0, 0));
    raster::Surface s(8, 8);
    raster::Clear(s, kBackground);
    BlitPicture(s, 0, 0, 4, 4, icon, {});
    EXPECT_EQ(s.Pixel(1, 1), 0x0000FFu);
    EXPECT_EQ(s.Pixel(0, 0), kBackground);
    BlitOptions noMask;
    noMask.useMask = false;
    BlitPicture(s, 0, 0, 4, 4, icon, noMask);
    EXPECT_EQ(s.Pixel(0, 0), kMask);
}

TEST(BlitPictureTest, ZeroSizeOrNoPictureDrawsNothing) {
    raster::Surface s(4, 4);
    raster::Clear(s, kBackground);
    QImage red(2, 2, QImage::Format_RGB32);
    red.fill(Qt::red);
    BlitPicture(s, 0, 0, 0, 2, red, {});
    BlitPicture(s, 0, 0, 2, 2, QImage(), {});
    EXPECT_EQ(s.Pixel(0, 0), kBackground);
    BlitPicture(s, 3, 3, 2, 2, red, {});  // partly outside: clipped, no fault
    EXPECT_EQ(s.Pixel(3, 3), 0x0000FFu);
}

TEST(ScalePictureTest, TheMaskScalesAsAShapeAndLargerDrawingsAreUsed) {
    QTemporaryDir dir;
    QImage own(2, 2, QImage::Format_RGB32);
    own.fill(raster::ToQRgb(kMask));
    own.setPixel(0, 0, qRgb(255, 0, 0));
    QImage larger(4, 4, QImage::Format_RGB32);
    larger.fill(qRgb(0, 0, 255));
    ASSERT_TRUE(own.save(dir.filePath("p.png")) && larger.save(dir.filePath("p@2x.png")));
    QList<ColorValue> colours;
    const QImage big = ScalePicture(own, {8, 8}, kMask, true);
    for (int i = 0; i < 64; ++i) colours << raster::FromQRgb(big.pixel(i % 8, i / 8));
    EXPECT_EQ(colours.count(0x0000FF) + colours.count(kMask), 64) << "no blend of the mask and the picture";
    EXPECT_GT(colours.count(0x0000FF), 4);
    ButtonPicture picture(dir.filePath("p.png"));
    EXPECT_EQ(picture.size(), QSize(2, 2));
    EXPECT_EQ(picture.At({2, 2}, kMask, true), own);
    EXPECT_EQ(picture.At({4, 4}, kMask, true), larger);
    EXPECT_EQ(raster::FromQRgb(picture.At({3, 3}, kMask, true).pixel(1, 1)), 0xFF0000u);
}

}  // namespace
}  // namespace kiv::controls
