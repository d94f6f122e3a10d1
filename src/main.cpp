// Kiv Pfx Utility: gives password-less PKCS#12 files a password.
#include <QApplication>

#include "app/DisplayMetrics.h"
#include "app/SingleInstance.h"
#include "app/Startup.h"
#include "platform/forms/FontStandIns.h"
#include "platform/forms/QtFontSystem.h"
#include "platform/prompts/Prompts.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KivPfxUtil"));
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
    services.window.yield = &yield;
    services.window.endProgram = [] { QCoreApplication::exit(0); };

    std::unique_ptr<kiv::main_window::frmmain> window = kiv::app::StartUp(std::move(services));
    if (!window) return 0;
    return application.exec();
}
