#include "app/DisplayMetrics.h"

namespace kiv::app {

float RatioX = 0;
float RatioY = 0;
float RatioAvg = 0;

void GetScreenMetrics() {}

}  // namespace kiv::app
