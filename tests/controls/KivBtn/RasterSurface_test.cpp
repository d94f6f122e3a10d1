#include "platform/raster/RasterSurface.h"

#include <gtest/gtest.h>

namespace kiv::platform::raster {
namespace {

constexpr Rgb kPaper = 0xFFFFFF;
constexpr Rgb kInk = 0x0000FF;

class SurfaceTest : public ::testing::Test {
  protected:
    void SetUp() override { Clear(s, kPaper); }
    int CountInk() const {
        int n = 0;
        for (int y = 0; y < s.Height(); ++y) {
            for (int x = 0; x < s.Width(); ++x) n += s.Pixel(x, y) == kInk ? 1 : 0;
        }
        return n;
    }
    Surface s{12, 8};
};

TEST_F(SurfaceTest, ColoursAreRedInTheLowByte) {
    PutPixel(s, 1, 1, kInk);
    EXPECT_EQ(qRed(s.Image().pixel(1, 1)), 255);
    EXPECT_EQ(qBlue(s.Image().pixel(1, 1)), 0);
    EXPECT_EQ(s.Pixel(1, 1), kInk);
}

TEST_F(SurfaceTest, LinesExcludeTheirEndPoint) {
    DrawLine(s, 0, 0, 5, 0, kInk);
    EXPECT_EQ(s.Pixel(4, 0), kInk);
    EXPECT_EQ(s.Pixel(5, 0), kPaper);
    DrawLine(s, 5, 3, -1, 3, kInk);  // leftward, down to column 0 inclusive
    EXPECT_EQ(s.Pixel(5, 3), kInk);
    EXPECT_EQ(s.Pixel(0, 3), kInk);
    DrawLine(s, 9, 7, 9, 2, kInk);
    EXPECT_EQ(s.Pixel(9, 7), kInk);
    EXPECT_EQ(s.Pixel(9, 2), kPaper);
    EXPECT_EQ(CountInk(), 5 + 6 + 5);
    DrawLine(s, 2, 2, 2, 2, kInk);  // no length, nothing
    EXPECT_EQ(s.Pixel(2, 2), kPaper);
}

TEST_F(SurfaceTest, SlantedLineStopsShortOfItsEnd) {
    DrawLine(s, 1, 2, 2, 0, kInk);
    EXPECT_EQ(s.Pixel(1, 2), kInk);
    EXPECT_EQ(s.Pixel(2, 0), kPaper);
    EXPECT_EQ(CountInk(), 2);
}

TEST_F(SurfaceTest, FrameIsOnePixelInsideItsRectangle) {
    DrawBox(s, 1, 1, 4, 3, kInk, true);
    for (const QPoint p :
         {QPoint(1, 1), QPoint(4, 1), QPoint(1, 3), QPoint(4, 3), QPoint(2, 1), QPoint(1, 2)}) {
        EXPECT_EQ(s.Pixel(p.x(), p.y()), kInk) << p.x() << "," << p.y();
    }
    EXPECT_EQ(s.Pixel(2, 2), kPaper);
    EXPECT_EQ(s.Pixel(5, 1), kPaper);
    EXPECT_EQ(s.Pixel(1, 4), kPaper);
    EXPECT_EQ(CountInk(), 10);
}

TEST_F(SurfaceTest, FillsClipAndEmptyBoxesDrawNothing) {
    DrawBox(s, -5, -5, 7, 7, kInk, false);
    EXPECT_EQ(CountInk(), 4);
    DrawBox(s, 3, 3, 0, 4, kInk, false);
    DrawBox(s, 3, 3, -2, 4, kInk, true);
    EXPECT_EQ(CountInk(), 4);
}

TEST_F(SurfaceTest, FocusRectangleIsDottedAndUndoesItself) {
    const QImage before = s.Image().copy();
    InvertFocusRect(s, {1, 1, 9, 6});
    EXPECT_NE(s.Pixel(2, 2 - 1), s.Pixel(3, 1));  // alternate pixels along the top
    EXPECT_EQ(s.Pixel(4, 3), kPaper);             // inside untouched
    InvertFocusRect(s, {1, 1, 9, 6});
    EXPECT_EQ(s.Image(), before);
}

TEST_F(SurfaceTest, OvalFillsItsMiddleAndLeavesTheCorners) {
    Surface big(40, 20);
    Clear(big, kPaper);
    DrawOval(big, 0, 0, 40, 20, 0x000000, kInk);
    EXPECT_EQ(big.Pixel(20, 10), kInk);
    EXPECT_EQ(big.Pixel(0, 0), kPaper);
    EXPECT_EQ(big.Pixel(39, 19), kPaper);
    EXPECT_EQ(big.Pixel(20, 0), 0x000000u);  // the outline touches the rectangle's edge
}

TEST(TextTest, AmpersandsMarkTheAccessCharacterAndTakeNoRoom) {
    QFont font;
    font.setPixelSize(12);
    const Rect r{0, 0, 200, 40};
    EXPECT_EQ(MeasureText(r, "&Add", font).Width(), MeasureText(r, "Add", font).Width());
    // "&&" draws one ampersand
    EXPECT_GT(MeasureText(r, "a&&b", font).Width(), MeasureText(r, "ab", font).Width());
    EXPECT_LT(MeasureText(r, "a&&b", font).Width(), MeasureText(r, "a&&&&b", font).Width());
    EXPECT_EQ(MeasureText(r, "", font), (Rect{0, 0, 0, 0}));

    Surface plain(60, 20), marked(60, 20);
    Clear(plain, kPaper);
    Clear(marked, kPaper);
    DrawText(plain, {0, 0, 60, 20}, "Add", font, 0);
    DrawText(marked, {0, 0, 60, 20}, "&Add", font, 0);
    EXPECT_NE(plain.Image(), marked.Image());  // the underline
}

TEST(TextTest, WrapsAtTheRectangleWidth) {
    QFont font;
    font.setPixelSize(12);
    const Rect oneLine = MeasureText({5, 5, 400, 100}, "Delete All Files", font);
    const Rect wrapped = MeasureText({5, 5, 5 + oneLine.Width() / 2, 100}, "Delete All Files", font);
    EXPECT_GT(wrapped.Height(), oneLine.Height());
    EXPECT_EQ(wrapped.left, 5);
    EXPECT_EQ(wrapped.top, 5);
}

}  // namespace
}  // namespace kiv::platform::raster
