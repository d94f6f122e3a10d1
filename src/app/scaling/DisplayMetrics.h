#pragma once

#include <cstdint>

namespace kiv::app {

// Program-wide scale ratios, single precision, 0 until GetScreenMetrics has run.
extern float RatioX;
extern float RatioY;
extern float RatioAvg;

// The three numbers the measurement needs. Zero (or less) means the platform did not give it.
struct DisplayReading {
    int modeWidth = 0;  // current display mode, in the pixels windows are laid out in
    int modeHeight = 0;
    int dpiX = 0;  // logical dots per inch along the width
    // Fallback, the screen as the window host sees it: its size in twips and twips per pixel.
    double screenWidthTwips = 0;
    double screenHeightTwips = 0;
    double twipsPerPixelX = 0;
    double twipsPerPixelY = 0;
};

// Where the reading comes from; the real one asks the primary screen.
class DisplaySource {
  public:
    virtual ~DisplaySource() = default;
    virtual DisplayReading Read() const = 0;
};

// The primary screen's size in Qt logical pixels and its logical horizontal dpi; the screen's
// geometry is the fallback. Needs a QGuiApplication; without one (or without a screen) it reads
// nothing and the fixed fallbacks apply.
class QtDisplaySource : public DisplaySource {
  public:
    DisplayReading Read() const override;
};

struct ScreenRatios {
    float x = 1;
    float y = 1;
    float avg = 1;
};

// The ratios of a reading against the 800 x 600, 96 dpi design screen. Always positive.
ScreenRatios ComputeScreenRatios(const DisplayReading& reading);

// Measures the primary screen once at start-up and sets the three ratios.
void GetScreenMetrics();
void GetScreenMetrics(const DisplaySource& source);

}  // namespace kiv::app
