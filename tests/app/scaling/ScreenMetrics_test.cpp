#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <cstdio>
#include <stdexcept>

#include "app/scaling/DisplayMetrics.h"
#include "platform/forms/ControlModel.h"
#include "support/MadeUpScreen.h"

namespace kiv::app {
namespace {

struct MetricsCase {
    const char* display;
    DisplayReading reading;
    float x, y, avg;
};

void PrintTo(const MetricsCase& c, std::ostream* os) {
    *os << c.display;
}

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

// A window laid out for the design screen, scaled by the ratios and mapped to logical pixels at the
// screen's logical dpi, covers the same share of every screen, however the desktop scales. Each
// screen needs its own process: the test below runs ShareOnThisScreen under a made-up display.
constexpr double kDesignWidthTwips = 9000, kDesignHeightTwips = 6000;  // 600 x 400 design pixels

TEST(RealScreen, ShareOnThisScreen) {
    GetScreenMetrics();
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    // The window host maps twips to logical pixels at the screen's logical dpi.
    const double dpi = screen->logicalDotsPerInchX();
    const double shareX = forms::TwipsToPixels(kDesignWidthTwips * RatioX, dpi) / screen->size().width();
    const double shareY = forms::TwipsToPixels(kDesignHeightTwips * RatioY, dpi) / screen->size().height();
    std::printf("share %.6f %.6f\n", shareX, shareY);
    EXPECT_NEAR(shareX, 600.0 / 800.0, 1e-6);
    EXPECT_NEAR(shareY, 400.0 / 600.0, 1e-6);
}

struct DisplayCase {
    const char* display;
    int width, height, dpi;
    bool qtScaling;  // whether Qt turns the dpi into a scale factor
};

void PrintTo(const DisplayCase& c, std::ostream* os) {
    *os << c.display;
}

class RealScreenShareTest : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(RealScreenShareTest, WindowTakesTheDesignShare) {
    const DisplayCase& c = GetParam();
    const ChildRun run = RunOnMadeUpScreen(QStringLiteral("RealScreen.ShareOnThisScreen"), c.width, c.height,
                                           c.dpi, c.qtScaling, QProcess::SeparateChannels);
    ASSERT_TRUE(run.finished);
    const QString& out = run.output;
    EXPECT_EQ(run.exitCode, 0) << out.toStdString();
    const qsizetype at = out.indexOf(QStringLiteral("share "));
    ASSERT_GE(at, 0) << out.toStdString();
    const QStringList figures = out.mid(at + 6).section(QLatin1Char('\n'), 0, 0).split(QLatin1Char(' '));
    ASSERT_EQ(figures.size(), 2);
    EXPECT_NEAR(figures[0].toDouble(), 0.75, 1e-5);
    EXPECT_NEAR(figures[1].toDouble(), 400.0 / 600.0, 1e-5);
}

INSTANTIATE_TEST_SUITE_P(
    Displays, RealScreenShareTest,
    ::testing::Values(DisplayCase{"1920x1080 at 96 dpi", 1920, 1080, 96, true},
                      DisplayCase{"3840x2160 at 200 %", 3840, 2160, 192, true},
                      DisplayCase{"X display at 144 dpi, scaled by Qt", 1920, 1080, 144, true},
                      DisplayCase{"X display at 144 dpi, unscaled", 1920, 1080, 144, false}));

}  // namespace
}  // namespace kiv::app
