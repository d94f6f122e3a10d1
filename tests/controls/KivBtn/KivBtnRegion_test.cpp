#include "controls/KivBtn/KivBtnRegion.h"

#include <gtest/gtest.h>

#include <vector>

namespace kiv::controls {
namespace {

constexpr int W = 40;
constexpr int H = 20;

struct RegionCase {
    int type;
    std::vector<QPoint> removed;
};

class RegionTest : public ::testing::TestWithParam<RegionCase> {};

TEST_P(RegionTest, RemovesExactlyTheCornerPixels) {
    const QRegion region = MakeRegion(GetParam().type, W, H);
    const std::vector<QPoint>& removed = GetParam().removed;
    int inside = 0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const bool cut = std::find(removed.begin(), removed.end(), QPoint(x, y)) != removed.end();
            EXPECT_EQ(region.contains(QPoint(x, y)), !cut)
                << "type " << GetParam().type << " at " << x << "," << y;
            inside += region.contains(QPoint(x, y)) ? 1 : 0;
        }
    }
    EXPECT_EQ(inside, W * H - static_cast<int>(removed.size()));
    EXPECT_FALSE(region.contains(QPoint(W, H / 2)));
}

const std::vector<QPoint> kFourCorners{{0, 0}, {W - 1, H - 1}, {0, H - 1}, {W - 1, 0}};
const std::vector<QPoint> kThreeEach{{0, 0},     {1, 0},         {0, 1},         {0, H - 1},
                                     {1, H - 1}, {0, H - 2},     {W - 2, 0},     {W - 1, 0},
                                     {W - 1, 1}, {W - 2, H - 1}, {W - 1, H - 1}, {W - 1, H - 2}};

INSTANTIATE_TEST_SUITE_P(Types, RegionTest,
                         ::testing::Values(RegionCase{1, kFourCorners}, RegionCase{14, kFourCorners},
                                           RegionCase{5, {{0, H - 1}, {W - 1, 0}}}, RegionCase{3, kThreeEach},
                                           RegionCase{4, kThreeEach}, RegionCase{2, {}}, RegionCase{6, {}},
                                           RegionCase{7, {}}, RegionCase{8, {}}, RegionCase{9, {}},
                                           RegionCase{10, {}}, RegionCase{11, {}}, RegionCase{12, {}},
                                           RegionCase{0, {}}, RegionCase{99, {}}));

TEST(RegionTest, OvalTypeIsTheInscribedEllipse) {
    const QRegion region = MakeRegion(13, 60, 30);
    EXPECT_TRUE(region.contains(QPoint(30, 15)));
    EXPECT_TRUE(region.contains(QPoint(1, 15)));
    EXPECT_TRUE(region.contains(QPoint(30, 1)));
    for (const QPoint corner : {QPoint(0, 0), QPoint(59, 0), QPoint(0, 29), QPoint(59, 29), QPoint(4, 3)}) {
        EXPECT_FALSE(region.contains(corner)) << corner.x() << "," << corner.y();
    }
}

TEST(RegionTest, EmptyButtonHasNoRegion) {
    EXPECT_TRUE(MakeRegion(3, 40, 0).isEmpty());
}

}  // namespace
}  // namespace kiv::controls
