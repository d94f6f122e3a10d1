#include "controls/KivBtn/KivBtnCaption.h"

#include <gtest/gtest.h>

namespace kiv::controls {
namespace {

struct KeyCase {
    const char* caption;
    char key;  // 0: none
};

class AccessKeyTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(AccessKeyTest, FindsTheMarkedCharacter) {
    const QChar key = AccessKeyOf(QString::fromUtf8(GetParam().caption));
    EXPECT_EQ(key, GetParam().key ? QChar(GetParam().key) : QChar()) << GetParam().caption;
}

INSTANTIATE_TEST_SUITE_P(Captions, AccessKeyTest,
                         ::testing::Values(KeyCase{"  &Add File", 'a'}, KeyCase{"  Searc&H Files", 'h'},
                                           KeyCase{"Fish && Chips", 0}, KeyCase{"A && B &Go", 'g'},
                                           KeyCase{"&&&x", 'x'},
                                           // only the first two ampersands are looked at
                                           KeyCase{"a && b && &c", 0}, KeyCase{"Stop&", 0}, KeyCase{"&", 0},
                                           KeyCase{"", 0}, KeyCase{"&Q", 'q'}));

// A caption measuring 40 x 14 wherever it is put.
Rect Measure40x14(const Rect& r) {
    return {r.left, r.top, r.left + 40, r.top + 14};
}

struct LayoutCase {
    int w, h, position;
    Rect caption;
    QPoint picture;
};

class CaptionLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(CaptionLayoutTest, PlacesCaptionAndPicture) {
    const LayoutCase& c = GetParam();
    const QSize picture(16, 16);
    const CaptionLayout layout = LayoutCaption(c.w, c.h, c.position, picture, Measure40x14, {});
    EXPECT_EQ(layout.captionRect, c.caption);
    EXPECT_EQ(layout.pressedRect, c.caption.Moved(1, 1));
    EXPECT_EQ(layout.textWidth, 40);
    EXPECT_EQ(layout.textHeight, 14);
    const QPoint at = PlacePicture({true, "Add", c.position, layout.captionRect, picture, c.w, c.h}, {});
    EXPECT_EQ(at, c.picture);
}

INSTANTIATE_TEST_SUITE_P(Positions, CaptionLayoutTest,
                         ::testing::Values(
                             // left: the text is centred on the whole face, the picture 4 pixels before it
                             LayoutCase{113, 25, 0, {45, 6, 85, 20}, {25, 4}},
                             // right: centred in the width left of the picture, with the gap kept
                             LayoutCase{113, 25, 1, {27, 6, 67, 20}, {71, 4}},
                             LayoutCase{80, 60, 2, {20, 31, 60, 45}, {32, 13}},
                             // below: text and picture centred together
                             LayoutCase{80, 60, 3, {20, 13, 60, 27}, {32, 29}},
                             LayoutCase{80, 60, 4, {20, 23, 60, 37}, {32, 22}},
                             // too narrow: the negative offset truncates toward zero (-37 / 2 = -18)
                             LayoutCase{20, 25, 0, {-1, 6, 39, 20}, {-21, 4}}));

TEST(CaptionLayoutTest, UnknownPositionKeepsThePreviousPlace) {
    CaptionLayout previous;
    previous.captionRect = {10, 5, 30, 15};
    previous.pressedRect = {11, 6, 31, 16};
    const CaptionLayout layout = LayoutCaption(100, 30, 9, {16, 16}, Measure40x14, previous);
    EXPECT_EQ(layout.captionRect, (Rect{11, 6, 51, 20}));
    EXPECT_EQ(PlacePicture({true, "x", 9, layout.captionRect, {16, 16}, 100, 30}, {7, 8}), QPoint(7, 8));
}

TEST(PlacePictureTest, BlankCaptionCentresThePicture) {
    EXPECT_EQ(PlacePicture({true, "   ", 1, {}, {16, 16}, 101, 31}, {}), QPoint(42, 7));
    EXPECT_EQ(PlacePicture({false, "x", 0, {}, {16, 16}, 101, 31}, {3, 4}), QPoint(3, 4));
}

}  // namespace
}  // namespace kiv::controls
