#pragma once

#include "filesystem/FileSystem.h"

namespace kiv::app {

// The program-wide file-system object, made on first use and kept for the life of the program.
// Returns nullptr when it cannot be made. The windows reach it through their services.
filesystem::FileSystem* SharedFileSystem();

}  // namespace kiv::app
