// Every face of every button type, pixel for pixel against the committed references in faces/, and
// at other device pixel ratios against the larger button at ratio 1.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include "controls/KivBtn/KivBtn.h"
#include "controls/KivBtn/MainWindowSet.h"
#include "gallery/FaceGallery.h"
#include "gallery/ReferenceFaces.h"

namespace kiv::gallery {
namespace {

QString SourceFile(const QString& relative) {
    return QStringLiteral(KIV_SOURCE_DIR "/") + relative;
}

QDir OutputFolder() {
    const QString path = qEnvironmentVariableIsSet("KIV_TEST_OUTPUT_DIR")
                             ? qEnvironmentVariable("KIV_TEST_OUTPUT_DIR") + QStringLiteral("/KivBtnFaces")
                             : QStringLiteral(KIV_TEST_OUTPUT_DIR "/KivBtnFaces");
    QDir dir(path);
    dir.mkpath(QStringLiteral("."));
    return dir;
}

QVariantMap ProgramSet() {
    return controls::MainWindowSet(QStringLiteral("cmdproceed"));
}

std::optional<ReferenceSheet> SheetNamed(const QString& name) {
    for (const ReferenceSheet& s : ReferenceSheets(ProgramSet())) {
        if (s.name == name) return s;
    }
    return std::nullopt;
}

std::vector<std::string> SheetNames() {
    std::vector<std::string> names;
    for (const ReferenceSheet& s : ReferenceSheets({})) names.push_back(s.name.toStdString());
    return names;
}

QString Hex(QRgb argb) {
    return QStringLiteral("#%1").arg(argb, 8, 16, QLatin1Char('0'));
}

QScreen* ScreenAt(double ratio) {
    for (QScreen* s : QGuiApplication::screens()) {
        if (s->devicePixelRatio() == ratio) return s;
    }
    return nullptr;
}

// Why the sheet cannot be compared here, or nothing. The caption's pixels are the font's: without
// the very face the references were drawn with, a comparison says nothing about the button.
QString Missing(const ReferenceSheet& sheet, double ratio) {
    const QFontInfo font{QFont(kReferenceFontFamily)};
    const double dpi = QGuiApplication::primaryScreen()->logicalDotsPerInch();
    if (!ScreenAt(ratio))
        return QStringLiteral("no screen at ratio %1; ctest gives the tests those of screens.json")
            .arg(ratio);
    if (sheet.set.value(QStringLiteral("tx")).toString().isEmpty()) return {};
    if (font.family() != kReferenceFontFamily)
        return QStringLiteral("the font %1 is not installed (Qt gives %2); scripts/setup.sh installs it")
            .arg(kReferenceFontFamily, font.family());
    return dpi != 96.0 ? QStringLiteral("the screen has %1 dpi, not 96").arg(dpi) : QString();
}

void SkipOrFail(const QString& reason) {
    if (reason.isEmpty()) return;
    if (qgetenv("CI") == "true") FAIL() << reason.toStdString();
    GTEST_SKIP() << reason.toStdString();
}

// At ratio r every rule of the face runs on the display's own pixels: a w x h button draws what a
// round(w r) x round(h r) button draws at ratio 1 with its font r times as large. At ratio 1 the
// faces are the committed references.
class KivBtnFacesTest : public ::testing::TestWithParam<std::tuple<std::string, double>> {};

TEST_P(KivBtnFacesTest, EveryFaceMatchesItsReference) {
    const auto& [name, ratio] = GetParam();
    ASSERT_FALSE(ProgramSet().isEmpty()) << "the program's button set could not be read";
    const auto sheet = SheetNamed(QString::fromStdString(name));
    ASSERT_TRUE(sheet);
    SkipOrFail(Missing(*sheet, ratio));
    if (IsSkipped() || HasFailure()) return;
    ReferenceSheet larger = *sheet;
    QVariantMap font = larger.set.value(QStringLiteral("font")).toMap();
    font.insert(QStringLiteral("size"), font.value(QStringLiteral("size")).toDouble() * ratio);
    larger.set.insert(QStringLiteral("font"), font);
    larger.cell = QSize(qRound(sheet->cell.width() * ratio), qRound(sheet->cell.height() * ratio));
    const QString referencePath =
        SourceFile(QStringLiteral("tests/controls/KivBtn/faces/%1.png").arg(sheet->name));
    const QImage reference(referencePath);
    if (ratio == 1.0) {
        ASSERT_EQ(reference.size(), QSize(sheet->cell.width() * static_cast<int>(sheet->looks.size()),
                                          sheet->cell.height() * static_cast<int>(sheet->types.size())))
            << referencePath.toStdString()
            << " is missing or wrong; tests/controls/KivBtn/faces/regenerate.sh makes it";
    }
    QList<QList<QImage>> expected;
    QStringList problems;
    QList<QList<QImage>> rows;
    {
        FaceCamera camera(ScreenAt(ratio));
        ASSERT_TRUE(camera.Ready());
        rows = RenderSheet(camera, *sheet, &problems, ratio != 1.0);
        if (ratio != 1.0) {
            FaceCamera plain;
            expected = RenderSheet(plain, larger, nullptr, true);
        }
    }
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
    EXPECT_TRUE(problems.isEmpty()) << problems.join(QLatin1Char('\n')).toStdString();
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows.at(r).size(); ++c) {
            QImage actual = rows.at(r).at(c);
            EXPECT_EQ(actual.devicePixelRatio(), ratio);
            actual.setDevicePixelRatio(1.0);
            const QImage e = ratio == 1.0 ? CellOf(reference, sheet->cell, r, c) : expected.at(r).at(c);
            if (actual == e) continue;
            int count = 0;
            QPoint first(-1, -1);
            for (int y = 0; y < e.height(); ++y) {
                for (int x = 0; x < e.width(); ++x) {
                    if (actual.valid(x, y) && e.pixel(x, y) == actual.pixel(x, y)) continue;
                    if (count++ == 0) first = {x, y};
                }
            }
            const QString look = NameOf(sheet->looks.at(c));
            const QString diffPath = OutputFolder().filePath(QStringLiteral("%1-at%2-type%3-%4-diff.png")
                                                                 .arg(sheet->name)
                                                                 .arg(ratio)
                                                                 .arg(sheet->types.at(r))
                                                                 .arg(look));
            DiffImage(e, actual).save(diffPath, "PNG");
            ADD_FAILURE()
                << "type " << sheet->types.at(r) << ", " << look.toStdString() << ": " << count
                << " pixels differ, the first at (" << first.x() << ", " << first.y() << "): expected "
                << Hex(e.pixel(first)).toStdString() << ", drawn "
                << (actual.valid(first) ? Hex(actual.pixel(first)) : QStringLiteral("nothing")).toStdString()
                << "; expected | actual | differences in " << diffPath.toStdString();
        }
    }
}

// The cases at ratio 1 keep the sheet's name alone.
INSTANTIATE_TEST_SUITE_P(Sheets, KivBtnFacesTest,
                         ::testing::Combine(::testing::ValuesIn(SheetNames()),
                                            ::testing::Values(1.0, 1.5, 2.0)),
                         [](const auto& info) {
                             const double ratio = std::get<1>(info.param);
                             QString name = QString::fromStdString(std::get<0>(info.param));
                             if (ratio != 1.0) name += QStringLiteral("_at_%1").arg(ratio);
                             return name.replace(QLatin1Char('-'), QLatin1Char('_'))
                                 .replace(QLatin1Char('.'), QLatin1Char('_'))
                                 .toStdString();
                         });

TEST(KivBtnRatioChange, AButtonMovedToAScreenOfAnotherRatioDrawsItsFaceAgain) {
    SkipOrFail(ScreenAt(2.0) ? QString() : QStringLiteral("no screen at ratio 2"));
    if (IsSkipped() || HasFailure()) return;
    QWidget moved, stays;
    auto faceOn = [](QWidget& host, double ratio) {
        host.setGeometry(QRect(ScreenAt(ratio)->geometry().topLeft(), QSize(200, 100)));
        if (!host.isVisible()) {
            (new controls::KivBtn(&host))->setGeometry(10, 10, 113, 25);
            host.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&host));
        }
        QCoreApplication::processEvents();
        return host.findChild<controls::KivBtn*>()->FaceImage().copy();
    };
    const QImage atOne = faceOn(moved, 1.0), atTwo = faceOn(moved, 2.0);
    EXPECT_EQ(atTwo.size(), QSize(226, 50));
    EXPECT_EQ(atTwo.devicePixelRatio(), 2.0);
    EXPECT_EQ(atTwo, faceOn(stays, 2.0));
    EXPECT_EQ(faceOn(moved, 1.0), atOne);
}

// The folder holds exactly the references the tests read, so a renamed case leaves no stale image.
TEST(KivBtnFaceReferences, FolderHoldsExactlyTheSheets) {
    QStringList expected;
    for (const std::string& name : SheetNames())
        expected << QString::fromStdString(name) + QStringLiteral(".png");
    expected.sort();
    QDir dir(SourceFile(QStringLiteral("tests/controls/KivBtn/faces")));
    EXPECT_EQ(dir.entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name), expected);
}

TEST(FaceGalleryTest, ParsesPersistedKeysAndRefusesUnknownOnes) {
    const ParsedSet ok = ParseProperties({"btype=12", "BCOL=0xC0E0FF", "tx=Proceed >>",
                                          "font=DejaVu Sans,9.75,bold,underline", "focusr=false"});
    EXPECT_TRUE(ok.errors.isEmpty()) << ok.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(ok.set.value("bcol").toString(), "0xC0E0FF");
    EXPECT_EQ(ok.set.value("tx").toString(), "Proceed >>");
    const QVariantMap font = ok.set.value("font").toMap();
    EXPECT_EQ(font.value("name").toString(), "DejaVu Sans");
    EXPECT_DOUBLE_EQ(font.value("size").toDouble(), 9.75);
    EXPECT_TRUE(font.value("bold").toBool());
    EXPECT_FALSE(font.value("italic").toBool());
    EXPECT_TRUE(font.value("underline").toBool());

    const ParsedSet bad =
        ParseProperties({"colour=1", "btype", "font=Arial", "font=Arial,9,heavy", "font=Arial,-1"});
    EXPECT_EQ(bad.errors.size(), 5);
    EXPECT_TRUE(bad.set.isEmpty());
}

TEST(FaceGalleryTest, ValuesTheButtonCannotUseAreReported) {
    FaceCamera camera;
    ASSERT_TRUE(camera.Ready());
    const Shot shot =
        camera.Render(ParseProperties({"btype=twelve", "bcol=0x1FFFFFFFF"}).set, Look::Up, {20, 10});
    EXPECT_EQ(shot.problems.size(), 2);
    EXPECT_EQ(shot.image.size(), QSize(20, 10));
}

TEST(FaceGalleryTest, CornersOutsideTheRegionAreTransparent) {
    FaceCamera camera;
    ASSERT_TRUE(camera.Ready());
    const QImage type4 = camera.Render({{"btype", 4}, {"coltype", 3}}, Look::Up, {30, 12}).image;
    EXPECT_EQ(qAlpha(type4.pixel(1, 0)), 0);
    EXPECT_EQ(qAlpha(type4.pixel(2, 0)), 255);
    EXPECT_EQ(qAlpha(type4.pixel(29, 11)), 0);
}

TEST(FaceGalleryTest, DiffImageShowsBothAndMarksTheDifferenceRed) {
    QImage expected(3, 2, QImage::Format_ARGB32);
    expected.fill(qRgb(10, 20, 30));
    QImage actual = expected;
    actual.setPixel(2, 1, qRgb(10, 20, 31));
    const QImage diff = DiffImage(expected, actual);
    constexpr int zoom = 4;
    // expected | actual | differences, each three pixels wide at four times the size
    const int thirdPanel = 2 * (3 * zoom + 4 + zoom);
    EXPECT_EQ(diff.pixel(0, 0), qRgb(10, 20, 30));
    EXPECT_EQ(diff.pixel(thirdPanel + 2 * zoom, 1 * zoom), qRgb(255, 0, 0));
    EXPECT_NE(diff.pixel(thirdPanel, 0), qRgb(255, 0, 0));
}

}  // namespace
}  // namespace kiv::gallery
