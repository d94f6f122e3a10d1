#pragma once

#include <QIcon>
#include <QString>

namespace kiv::app {

// The caption of the main window and the title of every message box.
inline const QString kAppTitle = QStringLiteral("Kiv Pfx Utility");

// The program's id on the desktop: the name of its desktop entry, metainfo and icon.
inline const QString kAppId = QStringLiteral("io.github.kivpfx.KivPfxUtility");

// The application icon at every size it is drawn at.
QIcon AppIcon();

// Names the program to the desktop and gives its windows the application icon. Without the
// desktop file name a Wayland compositor cannot match the windows to their entry and icon.
void ApplyAppIdentity();

}  // namespace kiv::app
