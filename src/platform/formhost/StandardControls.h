#pragma once

#include "platform/formhost/FormHost.h"

namespace kiv::forms {

// Registers the widget makers for every control type the program's windows use.
void RegisterStandardControls(FormHost& host);

// 0x00BBGGRR as a Qt colour.
QColor ToQColor(std::uint32_t colour);

}  // namespace kiv::forms
