#include "app/scaling/DisplayMetrics.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>
#include <limits>

namespace kiv::app {

float RatioX = 0;
float RatioY = 0;
float RatioAvg = 0;

namespace {

// Screen size in twips over twips per pixel, rounded half to even; 0 when it cannot be had.
int PixelsFromTwips(double twips, double twipsPerPixel) {
    if (!(twipsPerPixel > 0) || !std::isfinite(twips)) return 0;
    const double pixels = std::nearbyint(twips / twipsPerPixel);
    if (!std::isfinite(pixels) || pixels > std::numeric_limits<int>::max() ||
        pixels < std::numeric_limits<int>::min())
        return 0;
    return static_cast<int>(pixels);
}

}  // namespace

ScreenRatios ComputeScreenRatios(const DisplayReading& reading) {
    int width = reading.modeWidth;
    int height = reading.modeHeight;
    // The dpi is a 16-bit quantity; a value that does not fit counts as not given.
    std::int16_t dpi = 0;
    if (reading.dpiX >= std::numeric_limits<std::int16_t>::min() &&
        reading.dpiX <= std::numeric_limits<std::int16_t>::max())
        dpi = static_cast<std::int16_t>(reading.dpiX);

    if (width < 1) width = PixelsFromTwips(reading.screenWidthTwips, reading.twipsPerPixelX);
    if (width < 1) width = 800;
    if (height < 1) height = PixelsFromTwips(reading.screenHeightTwips, reading.twipsPerPixelY);
    if (height < 1) height = 600;
    if (dpi < 1) dpi = 96;

    // Each result is worked out in double and stored at single precision, and later steps read
    // the stored single back.
    ScreenRatios r;
    r.x = static_cast<float>(width / 800.0);
    r.y = static_cast<float>(height / 600.0);
    r.avg = static_cast<float>((static_cast<double>(r.x) + r.y) / 2.0);
    if (dpi == 96) return r;

    const double correction = 96.0 / dpi;
    r.x = static_cast<float>(r.x * correction);
    r.y = static_cast<float>(r.y * correction);
    r.avg = static_cast<float>((static_cast<double>(r.x) + r.y) / 2.0);
    return r;
}

DisplayReading QtDisplaySource::Read() const {
    DisplayReading reading;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return reading;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return reading;

    const QSize size = screen->size();
    reading.modeWidth = size.width();
    reading.modeHeight = size.height();

    const double dpi = screen->logicalDotsPerInchX();
    if (std::isfinite(dpi) && dpi >= 1 && dpi <= std::numeric_limits<std::int16_t>::max())
        reading.dpiX = static_cast<int>(std::nearbyint(dpi));

    const double twipsPerPixel = 1440.0 / (reading.dpiX > 0 ? reading.dpiX : 96);
    const QRect geometry = screen->geometry();
    reading.screenWidthTwips = geometry.width() * twipsPerPixel;
    reading.screenHeightTwips = geometry.height() * twipsPerPixel;
    reading.twipsPerPixelX = twipsPerPixel;
    reading.twipsPerPixelY = twipsPerPixel;
    return reading;
}

void GetScreenMetrics(const DisplaySource& source) {
    RatioX = 1.0f;
    RatioY = 1.0f;
    RatioAvg = 1.0f;
    // A source that fails counts as one that gave nothing; the fixed fallbacks then apply.
    DisplayReading reading;
    try {
        reading = source.Read();
    } catch (...) {
        reading = DisplayReading{};
    }
    const ScreenRatios r = ComputeScreenRatios(reading);
    RatioX = r.x;
    RatioY = r.y;
    RatioAvg = r.avg;
}

void GetScreenMetrics() {
    GetScreenMetrics(QtDisplaySource());
}

}  // namespace kiv::app
