// Every face of every button type, pixel for pixel against the committed references in faces/.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

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
    QFile form(SourceFile(QStringLiteral("resources/forms/frmmain.json")));
    if (!form.open(QIODevice::ReadOnly)) return {};
    return StoredButtonSet(form.readAll(), QStringLiteral("cmdproceed")).set;
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

// Why a sheet's captions cannot be compared here, or nothing: the caption's pixels are the font's,
// and without the very face the references were drawn with a comparison says nothing of the button.
QString MissingForCaptions(const ReferenceSheet& sheet) {
    if (sheet.set.value(QStringLiteral("tx")).toString().isEmpty()) return {};
    const QFontInfo font{QFont(kReferenceFontFamily)};
    const double dpi = QGuiApplication::primaryScreen()->logicalDotsPerInch();
    if (font.family() != kReferenceFontFamily)
        return QStringLiteral("the font %1 is not installed (Qt gives %2); scripts/setup.sh installs it")
            .arg(kReferenceFontFamily, font.family());
    if (dpi != 96.0) return QStringLiteral("the screen has %1 dpi, not 96").arg(dpi);
    return {};
}

// Where two faces differ: a diff image in the test output and a failure that names it.
void ReportDifference(const QImage& expected, const QImage& actual, const QString& what, const QString& file) {
    int count = 0;
    QPoint first(-1, -1);
    for (int y = 0; y < std::max(expected.height(), actual.height()); ++y) {
        for (int x = 0; x < std::max(expected.width(), actual.width()); ++x) {
            if (expected.valid(x, y) && actual.valid(x, y) && expected.pixel(x, y) == actual.pixel(x, y))
                continue;
            if (count++ == 0) first = {x, y};
        }
    }
    const QString diffPath = OutputFolder().filePath(file);
    DiffImage(expected, actual).save(diffPath, "PNG");
    ADD_FAILURE() << what.toStdString() << ": " << count << " pixels differ, the first at (" << first.x() << ", "
                  << first.y() << "): expected "
                  << (expected.valid(first) ? Hex(expected.pixel(first)) : QStringLiteral("none")).toStdString()
                  << ", drawn "
                  << (actual.valid(first) ? Hex(actual.pixel(first)) : QStringLiteral("none")).toStdString()
                  << "; expected | actual | differences in " << diffPath.toStdString();
}

#define SKIP_OR_FAIL_UNLESS_EMPTY(why)                                     \
    do {                                                                   \
        const QString reason = (why);                                      \
        if (!reason.isEmpty()) {                                           \
            if (qgetenv("CI") == "true") FAIL() << reason.toStdString();   \
            GTEST_SKIP() << reason.toStdString();                          \
        }                                                                  \
    } while (false)

class KivBtnFacesTest : public ::testing::TestWithParam<std::string> {};

TEST_P(KivBtnFacesTest, EveryFaceMatchesItsReference) {
    ASSERT_FALSE(ProgramSet().isEmpty()) << "the program's button set could not be read";
    const auto sheet = SheetNamed(QString::fromStdString(GetParam()));
    ASSERT_TRUE(sheet);
    SKIP_OR_FAIL_UNLESS_EMPTY(MissingForCaptions(*sheet));
    const QString referencePath =
        SourceFile(QStringLiteral("tests/controls/KivBtn/faces/%1.png").arg(sheet->name));
    const QImage reference(referencePath);
    ASSERT_FALSE(reference.isNull()) << referencePath.toStdString()
                                     << " is missing; tests/controls/KivBtn/faces/regenerate.sh makes it";
    ASSERT_EQ(reference.size(), QSize(sheet->cell.width() * static_cast<int>(sheet->looks.size()),
                                      sheet->cell.height() * static_cast<int>(sheet->types.size())));

    QStringList problems;
    QList<QList<QImage>> rows;
    {
        FaceCamera camera;
        ASSERT_TRUE(camera.Ready());
        rows = RenderSheet(camera, *sheet, &problems);
    }
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
    EXPECT_TRUE(problems.isEmpty()) << problems.join(QLatin1Char('\n')).toStdString();
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows.at(r).size(); ++c) {
            const QImage& actual = rows.at(r).at(c);
            const QImage expected = CellOf(reference, sheet->cell, r, c);
            if (actual == expected) continue;
            const QString look = NameOf(sheet->looks.at(c));
            ReportDifference(expected, actual, QStringLiteral("type %1, %2").arg(sheet->types.at(r)).arg(look),
                             QStringLiteral("%1-type%2-%3-diff.png").arg(sheet->name).arg(sheet->types.at(r)).arg(look));
        }
    }
}

QScreen* ScreenAt(double ratio) {
    for (QScreen* s : QGuiApplication::screens()) {
        if (s->devicePixelRatio() == ratio) return s;
    }
    return nullptr;
}

QString MissingScreens(double ratio) {
    if (ScreenAt(1.0) && ScreenAt(ratio)) return {};
    return QStringLiteral("no screens at ratios 1 and %1; ctest runs this with "
                          "QT_QPA_PLATFORM=offscreen:configfile=tests/controls/KivBtn/screens.json")
        .arg(ratio);
}

// At ratio r every rule of the face runs on the display's own pixels: a w x h button draws what a
// round(w r) x round(h r) button draws at ratio 1 with its font r times as large.
class KivBtnRatioTest : public ::testing::TestWithParam<std::tuple<std::string, double>> {};

TEST_P(KivBtnRatioTest, FaceIsTheLargerButtonsFaceAtRatioOne) {
    const auto& [name, ratio] = GetParam();
    const auto sheet = SheetNamed(QString::fromStdString(name));
    ASSERT_TRUE(sheet);
    SKIP_OR_FAIL_UNLESS_EMPTY(MissingForCaptions(*sheet));
    SKIP_OR_FAIL_UNLESS_EMPTY(MissingScreens(ratio));
    QVariantMap larger = sheet->set;
    QVariantMap font = larger.value(QStringLiteral("font")).toMap();
    font.insert(QStringLiteral("size"), font.value(QStringLiteral("size")).toDouble() * ratio);
    larger.insert(QStringLiteral("font"), font);
    const QSize largerCell(qRound(sheet->cell.width() * ratio), qRound(sheet->cell.height() * ratio));
    {
        FaceCamera scaled(ScreenAt(ratio));
        FaceCamera plain(ScreenAt(1.0));
        ASSERT_TRUE(scaled.Ready() && plain.Ready());
        for (int type : sheet->types) {
            for (Look look : sheet->looks) {
                QVariantMap set = sheet->set;
                set.insert(QStringLiteral("btype"), type);
                larger.insert(QStringLiteral("btype"), type);
                QImage drawn = scaled.Render(set, look, sheet->cell).face;
                const QImage expected = plain.Render(larger, look, largerCell).face;
                EXPECT_EQ(drawn.devicePixelRatio(), ratio);
                drawn.setDevicePixelRatio(1.0);
                if (drawn == expected) continue;
                ReportDifference(expected, drawn, QStringLiteral("type %1, %2").arg(type).arg(NameOf(look)),
                                 QStringLiteral("%1-at%2-type%3-%4-diff.png")
                                     .arg(sheet->name)
                                     .arg(ratio)
                                     .arg(type)
                                     .arg(NameOf(look)));
            }
        }
    }
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Sheets, KivBtnFacesTest, ::testing::ValuesIn(SheetNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& ch : name) {
                                 if (ch == '-') ch = '_';
                             }
                             return name;
                         });

INSTANTIATE_TEST_SUITE_P(Sheets, KivBtnRatioTest,
                         ::testing::Combine(::testing::ValuesIn(SheetNames()), ::testing::Values(1.5, 2.0)),
                         [](const ::testing::TestParamInfo<std::tuple<std::string, double>>& info) {
                             std::string name = std::get<0>(info.param) + "_at_" +
                                                (std::get<1>(info.param) == 2.0 ? "2" : "1_5");
                             for (char& ch : name) {
                                 if (ch == '-') ch = '_';
                             }
                             return name;
                         });

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
