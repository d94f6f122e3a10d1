// Kiv Pfx Utility: gives password-less PKCS#12 files a password.
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "app/SingleInstance.h"
#include "app/Startup.h"
#include "app/identity/AppIdentity.h"
#include "app/scaling/DisplayMetrics.h"
#include "platform/forms/FontStandIns.h"
#include "platform/forms/QtFontSystem.h"
#include "platform/grid/FlexGrid.h"
#include "platform/prompts/Prompts.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    kiv::app::ApplyAppIdentity();
    // The main window's quit question decides when the program ends, not its last window.
    QApplication::setQuitOnLastWindowClosed(false);
    kiv::forms::InstallFontStandIns();

    kiv::app::SingleInstance instance;
    kiv::prompts::QtPrompts prompts;
    kiv::forms::QtFontSystem fonts;
    kiv::Yield yield;

    kiv::app::StartupServices services;
    services.checkInstance = [&instance] { return instance.Acquire(); };
    services.measureDisplay = [] { kiv::app::GetScreenMetrics(); };
    services.window.prompts = &prompts;
    services.window.fonts = &fonts;
    services.window.certificates = kiv::certificate::OpenSslCertificateFactory();
    services.window.announceSaves = [](const std::string& password, std::size_t saves) {
        return kiv::certificate::AnnounceSaves(password, saves);
    };
    services.window.yield = &yield;
    services.window.endProgram = [] { QCoreApplication::exit(0); };

    std::unique_ptr<kiv::main_window::frmmain> window = kiv::app::StartUp(std::move(services));
    if (!window) return 0;
    if (qEnvironmentVariableIsSet("KIVPFXUTIL_STARTUP_CHECK")) {
        // For the package check: once the event loop has shown the loaded window, say what is on
        // screen and end.
        QTimer::singleShot(0, window.get(), [&window] {
            const bool shown = window->isVisible() && window->Grid().isVisible();
            std::printf("startup check: window \"%s\" %s, %d row(s), icon %s, desktop file %s\n",
                        qPrintable(window->windowTitle()), shown ? "shown" : "not shown",
                        window->Grid().Rows(), window->windowIcon().isNull() ? "missing" : "set",
                        qPrintable(QGuiApplication::desktopFileName()));
            std::fflush(stdout);
            QCoreApplication::exit(shown ? 0 : 1);
        });
    }
    return application.exec();
}
