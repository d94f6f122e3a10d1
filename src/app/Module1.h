#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "platform/filesystem/FileSystem.h"

namespace kiv::app {

inline const QString kAppTitle = QStringLiteral("Kiv Pfx Utility");

// The program-wide file-system object, made on first use and kept for the life of the program.
// Returns nullptr when it cannot be made.
filesystem::FileSystem* SharedFileSystem();

// Replaces how the shared object is made (and forgets the current one). For tests.
void SetFileSystemMaker(std::function<std::unique_ptr<filesystem::FileSystem>()> maker);

}  // namespace kiv::app
