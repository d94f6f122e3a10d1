#pragma once

#include "platform/forms/FormHost.h"

namespace kiv::app {

// Registers the widget makers for every control type the program's windows use.
void RegisterStandardControls(forms::FormHost& host);

// 0x00BBGGRR as a Qt colour.
QColor ToQColor(std::uint32_t colour);

}  // namespace kiv::app
