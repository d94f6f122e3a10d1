#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

namespace kiv::forms {

// Each font name the windows use, with the installed faces that draw it, best first.
const std::vector<std::pair<QString, QStringList>>& FontStandIns();

// Makes Qt draw every window font name with its stand-in. Call once at start-up, after the
// application object exists and before any window is built.
void InstallFontStandIns();

}  // namespace kiv::forms
