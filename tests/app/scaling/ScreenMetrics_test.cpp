#include "app/DisplayMetrics.h"
#include "platform/forms/ControlModel.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

#include <stdexcept>

namespace kiv::app {
namespace {

struct MetricsCase {
    const char* display;
    DisplayReading reading;
    float x, y, avg;
};

void PrintTo(const MetricsCase& c, std::ostream* os) { *os << c.display; }

DisplayReading Mode(int width, int height, int dpi) {
    DisplayReading r;
    r.modeWidth = width;
    r.modeHeight = height;
    r.dpiX = dpi;
    return r;
}

DisplayReading ScreenObjectOnly(double widthTwips, double heightTwips, double twipsPerPixel, int dpi) {
    DisplayReading r;
    r.dpiX = dpi;
    r.screenWidthTwips = widthTwips;
    r.screenHeightTwips = heightTwips;
    r.twipsPerPixelX = twipsPerPixel;
    r.twipsPerPixelY = twipsPerPixel;
    return r;
}

class ScreenRatiosTest : public ::testing::TestWithParam<MetricsCase> {};

// Exact comparisons: the ratios are the singles nearest to the double results, and the dpi
// correction works on the stored single. That is why 1024 x 768 at 120 dpi gives 1.0239999f
// (shown as 1.024 to seven digits), not the single nearest to 1.024.
TEST_P(ScreenRatiosTest, StoresSinglePrecisionRatios) {
    const MetricsCase& c = GetParam();
    const ScreenRatios r = ComputeScreenRatios(c.reading);
    EXPECT_EQ(r.x, c.x);
    EXPECT_EQ(r.y, c.y);
    EXPECT_EQ(r.avg, c.avg);
}

INSTANTIATE_TEST_SUITE_P(
    Displays, ScreenRatiosTest,
    ::testing::Values(
        MetricsCase{"800x600 at 96", Mode(800, 600, 96), 1.0f, 1.0f, 1.0f},
        MetricsCase{"1024x768 at 96", Mode(1024, 768, 96), 1.28f, 1.28f, 1.28f},
        MetricsCase{"1280x1024 at 96", Mode(1280, 1024, 96), 1.6f, 1.7066667f, 1.6533334f},
        MetricsCase{"1024x768 at 120", Mode(1024, 768, 120), 1.0239999f, 1.0239999f, 1.0239999f},
        MetricsCase{"640x480 at 96", Mode(640, 480, 96), 0.8f, 0.8f, 0.8f},
        MetricsCase{"1600x1200 at 144", Mode(1600, 1200, 144), 1.3333334f, 1.3333334f, 1.3333334f},
        MetricsCase{"0x0, screen object 0, 96 dpi", ScreenObjectOnly(0, 0, 15, 96), 1.0f, 1.0f, 1.0f},
        MetricsCase{"nothing read at all", DisplayReading{}, 1.0f, 1.0f, 1.0f},
        MetricsCase{"dpi 0 counts as 96", Mode(1024, 768, 0), 1.28f, 1.28f, 1.28f},
        MetricsCase{"negative dpi counts as 96", Mode(1024, 768, -120), 1.28f, 1.28f, 1.28f},
        MetricsCase{"dpi beyond 16 bits counts as 96", Mode(1024, 768, 96 + 65536), 1.28f, 1.28f, 1.28f},
        MetricsCase{"screen object fallback", ScreenObjectOnly(1024 * 15, 768 * 15, 15, 96), 1.28f, 1.28f,
                    1.28f},
        // 12007.5 / 15 = 800.5 and 9007.5 / 15 = 600.5 round to the even 800 and 600.
        MetricsCase{"screen object halves go to even", ScreenObjectOnly(12007.5, 9007.5, 15, 96), 1.0f, 1.0f,
                    1.0f},
        MetricsCase{"screen object without twips per pixel", ScreenObjectOnly(1024 * 15, 768 * 15, 0, 96),
                    1.0f, 1.0f, 1.0f},
        MetricsCase{"width from the mode, height from the screen object",
                    [] {
                        DisplayReading r = ScreenObjectOnly(0, 1024 * 15, 15, 96);
                        r.modeWidth = 1280;
                        return r;
                    }(),
                    1.6f, 1.7066667f, 1.6533334f}));

class ThrowingSource : public DisplaySource {
public:
    DisplayReading Read() const override { throw std::runtime_error("no display"); }
};

class FixedSource : public DisplaySource {
public:
    explicit FixedSource(DisplayReading reading) : reading_(reading) {}
    DisplayReading Read() const override { return reading_; }

private:
    DisplayReading reading_;
};

TEST(GetScreenMetrics, SetsTheProgramWideRatios) {
    GetScreenMetrics(FixedSource(Mode(1280, 1024, 96)));
    EXPECT_EQ(RatioX, 1.6f);
    EXPECT_EQ(RatioY, 1.7066667f);
    EXPECT_EQ(RatioAvg, 1.6533334f);
}

TEST(GetScreenMetrics, FailingSourceLeavesTheDesignRatios) {
    RatioX = RatioY = RatioAvg = 0;
    GetScreenMetrics(ThrowingSource());
    EXPECT_EQ(RatioX, 1.0f);
    EXPECT_EQ(RatioY, 1.0f);
    EXPECT_EQ(RatioAvg, 1.0f);
}

TEST(GetScreenMetrics, ReadsThePrimaryScreenInLogicalPixels) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const DisplayReading reading = QtDisplaySource().Read();
    EXPECT_EQ(reading.modeWidth, screen->size().width());
    EXPECT_EQ(reading.modeHeight, screen->size().height());
    EXPECT_EQ(reading.dpiX, qRound(screen->logicalDotsPerInchX()));

    RatioX = RatioY = RatioAvg = 0;
    GetScreenMetrics();
    const ScreenRatios expected = ComputeScreenRatios(reading);
    EXPECT_EQ(RatioX, expected.x);
    EXPECT_EQ(RatioY, expected.y);
    EXPECT_GT(RatioAvg, 0);
}

// A window laid out for 800 x 600 at 96 dpi, scaled by the ratios and mapped to logical pixels at
// the same logical dpi, covers the same share of every screen, however the desktop scales.
struct ShareCase {
    const char* screen;
    int logicalWidth, logicalHeight, logicalDpi;
};

void PrintTo(const ShareCase& c, std::ostream* os) { *os << c.screen; }

class ScreenShareTest : public ::testing::TestWithParam<ShareCase> {};

TEST_P(ScreenShareTest, WindowTakesTheDesignShareOfTheScreen) {
    const ShareCase& c = GetParam();
    const ScreenRatios r = ComputeScreenRatios(Mode(c.logicalWidth, c.logicalHeight, c.logicalDpi));
    const double widthTwips = 9000, heightTwips = 6000;  // 600 x 400 pixels on the design screen
    const double shareX = forms::TwipsToPixels(widthTwips * r.x, c.logicalDpi) / c.logicalWidth;
    const double shareY = forms::TwipsToPixels(heightTwips * r.y, c.logicalDpi) / c.logicalHeight;
    EXPECT_NEAR(shareX, 600.0 / 800.0, 1e-6);
    EXPECT_NEAR(shareY, 400.0 / 600.0, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    Screens, ScreenShareTest,
    ::testing::Values(ShareCase{"1920x1080 at 96 dpi", 1920, 1080, 96},
                      // Qt scaling at 200 %: logical size halves, logical dpi stays 96.
                      ShareCase{"3840x2160 at 200 % by Qt scaling", 1920, 1080, 96},
                      // The same screen scaled through the dpi alone.
                      ShareCase{"3840x2160 at 192 dpi unscaled", 3840, 2160, 192},
                      ShareCase{"X display 1920x1080 at 144 dpi", 1920, 1080, 144},
                      ShareCase{"X display at 144 dpi by Qt scaling 150 %", 1280, 720, 96},
                      ShareCase{"1024x768 at 120 dpi", 1024, 768, 120},
                      ShareCase{"640x480 at 96 dpi", 640, 480, 96}));

}  // namespace
}  // namespace kiv::app
