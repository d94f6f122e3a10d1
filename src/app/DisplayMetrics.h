#pragma once

namespace kiv::app {

// Program-wide scale ratios, single precision, 0 until GetScreenMetrics has run.
extern float RatioX;
extern float RatioY;
extern float RatioAvg;

// Measures the primary screen once at start-up and sets the three ratios against the
// 800 x 600, 96 dpi design screen.
void GetScreenMetrics();

}  // namespace kiv::app
