#include "app/FormScaler.h"

#include "app/DisplayMetrics.h"

namespace kiv::app {

void ScaleForm(forms::FormModel& form) {
    (void)form;
    if (RatioX == 1.0f && RatioY == 1.0f && RatioAvg == 1.0f) return;
    if (!(RatioX > 0) || !(RatioY > 0) || !(RatioAvg > 0)) return;
}

}  // namespace kiv::app
