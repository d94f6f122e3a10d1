#pragma once

#include "platform/forms/ControlModel.h"

namespace kiv::app {

// Rescales one window's controls, fonts and the window itself by the program-wide ratios.
// Run once per window load, before the window is shown.
void ScaleForm(forms::FormModel& form);

}  // namespace kiv::app
