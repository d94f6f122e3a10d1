// The program's identity on the desktop: the id in the code and in the files installed with it
// must agree, or the desktop shows a generic icon and cannot match windows to their entry.
#include "app/identity/AppIdentity.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QRegularExpression>
#include <QSettings>

#include "support/FakeCertificate.h"
#include "support/MainWindowHarness.h"

namespace kiv::testing {
namespace {

const QString kPackaging = QStringLiteral(KIV_SOURCE_DIR "/packaging/");

QString Read(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QString::fromUtf8(file.readAll());
}

// The value of `key` in the desktop entry's main group.
QString DesktopValue(const QString& entry, const QString& key) {
    const QRegularExpression line(
        QStringLiteral("^") + QRegularExpression::escape(key) + QStringLiteral("=(.*)$"),
        QRegularExpression::MultilineOption);
    return line.match(entry).captured(1);
}

TEST(AppIdentity, DesktopNameAndIconAreSetForTheProgramAndItsMainWindow) {
    app::ApplyAppIdentity();
    EXPECT_EQ(QGuiApplication::desktopFileName(), app::kAppId);
    const QList<QSize> sizes = QGuiApplication::windowIcon().availableSizes();
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
    }

    FakeCertificates certificates;
    MainWindowHarness harness(certificates.Factory());
    EXPECT_FALSE(harness.Window().windowIcon().isNull());
    EXPECT_TRUE(harness.Window().windowIcon().availableSizes().contains(QSize(256, 256)));
}

TEST(AppIdentity, InstalledFilesCarryTheProgramsId) {
    const QString entry = Read(kPackaging + app::kAppId + ".desktop");
    EXPECT_EQ(DesktopValue(entry, "Icon"), app::kAppId);
    EXPECT_EQ(DesktopValue(entry, "Exec"), "kivpfxutil");
    EXPECT_EQ(DesktopValue(entry, "TryExec"), "kivpfxutil");
    EXPECT_EQ(DesktopValue(entry, "Name"), "Kiv Pfx Utility");
    // X11 matches windows to the entry by their class, which Qt takes from the application name.
    app::ApplyAppIdentity();
    EXPECT_EQ(DesktopValue(entry, "StartupWMClass"), QGuiApplication::applicationName());

    const QString metainfo = Read(kPackaging + app::kAppId + ".metainfo.xml.in");
    EXPECT_TRUE(metainfo.contains("<id>" + app::kAppId + "</id>"));
    EXPECT_TRUE(
        metainfo.contains("<launchable type=\"desktop-id\">" + app::kAppId + ".desktop</launchable>"));
    EXPECT_TRUE(metainfo.contains("<binary>kivpfxutil</binary>"));

    EXPECT_TRUE(QFile::exists(kPackaging + "icons/" + app::kAppId + ".svg"));
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString png =
            kPackaging + QStringLiteral("icons/hicolor/%1x%1/apps/").arg(size) + app::kAppId + ".png";
        const QImage image(png);
        EXPECT_EQ(image.size(), QSize(size, size)) << png.toStdString();
        EXPECT_TRUE(image.hasAlphaChannel()) << png.toStdString();
    }
}

}  // namespace
}  // namespace kiv::testing
