#include "app/Startup.h"

#include "app/Module1.h"
#include "app/identity/AppIdentity.h"
#include "app/scaling/DisplayMetrics.h"

namespace kiv::app {

namespace {

void Tell(prompts::Prompts* prompts, const QString& text, prompts::Icon icon) {
    if (!prompts) return;
    prompts::Message message;
    message.title = kAppTitle;
    message.text = text;
    message.icon = icon;
    prompts->ShowMessage(nullptr, message);
}

}  // namespace

std::function<filesystem::FileSystem*()> StartupServices::SharedFileSystemAccessor() {
    return [] { return SharedFileSystem(); };
}

std::unique_ptr<main_window::frmmain> StartUp(StartupServices services) {
    prompts::Prompts* prompts = services.window.prompts;

    // A lock that cannot be checked at all does not stop the user: the copy starts.
    if (services.checkInstance && services.checkInstance() == SingleInstance::State::AnotherRunning) {
        Tell(prompts, QStringLiteral("A Previous Instance of Application is already Running."),
             prompts::Icon::Information);
        return nullptr;
    }

    filesystem::FileSystem* files = nullptr;
    try {
        if (services.fileSystem) files = services.fileSystem();
    } catch (...) {
        files = nullptr;
    }
    if (!files) {
        Tell(prompts, QStringLiteral("Scripting Runtime is not registered."), prompts::Icon::Information);
        return nullptr;
    }

    try {
        if (services.measureDisplay) services.measureDisplay();
    } catch (...) {
        // An unmeasured display keeps the design size.
    }

    services.window.fileSystem = services.fileSystem;
    QString error;
    std::unique_ptr<main_window::frmmain> window;
    try {
        window = main_window::frmmain::Create(std::move(services.window), &error);
        if (window) window->ShowWindow();
    } catch (const std::exception& failure) {
        window.reset();
        error = QString::fromLocal8Bit(failure.what());
    } catch (...) {
        window.reset();
        error = QStringLiteral("The main window could not be shown");
    }
    if (!window) {
        Tell(prompts, QStringLiteral("Error : ") + error, prompts::Icon::Critical);
        return nullptr;
    }
    return window;
}

}  // namespace kiv::app
