#include "app/identity/AppIdentity.h"

#include <QGuiApplication>

#include "app/identity/Resources.h"

namespace kiv::app {

QIcon AppIcon() {
    InitResources();
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/app/%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

void ApplyAppIdentity() {
    QGuiApplication::setApplicationName(QStringLiteral("KivPfxUtil"));
    QGuiApplication::setDesktopFileName(kAppId);
    QGuiApplication::setWindowIcon(AppIcon());
}

}  // namespace kiv::app
