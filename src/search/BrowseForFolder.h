#pragma once

#include <QString>

#include "platform/prompts/Prompts.h"

class QWidget;

namespace kiv::search {

// The instruction the chooser shows above its tree. It selects nothing.
inline const QString kFolderInstruction = QStringLiteral("C:\\");

// Shows the modal folder chooser owned by `owner` and returns the chosen folder's path exactly as
// the platform gives it (a root keeps its separator, other folders have none), or empty text when
// the user cancels, the choice has no path or there is no chooser.
QString BrowseForFolder(prompts::Prompts* prompts, QWidget* owner);

}  // namespace kiv::search
