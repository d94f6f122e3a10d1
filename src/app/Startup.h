#pragma once

#include <functional>
#include <memory>

#include "app/SingleInstance.h"
#include "filesystem/FileSystem.h"
#include "main_window/frmmain.h"

namespace kiv::app {

// What start-up calls out to, in the order it calls them; tests replace any of them.
struct StartupServices {
    std::function<SingleInstance::State()> checkInstance;
    std::function<filesystem::FileSystem*()> fileSystem = SharedFileSystemAccessor();
    std::function<void()> measureDisplay;
    main_window::Services window;

    static std::function<filesystem::FileSystem*()> SharedFileSystemAccessor();
};

// The program's start: refuses a second copy, makes sure the file system can be used, measures
// the display and shows the main window. Returns the shown window, or nullptr when the program is
// to end (the reason has been shown to the user).
std::unique_ptr<main_window::frmmain> StartUp(StartupServices services);

}  // namespace kiv::app
