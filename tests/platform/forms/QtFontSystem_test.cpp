#include "platform/forms/QtFontSystem.h"

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>

#include "app/scaling/DisplayMetrics.h"
#include "app/scaling/FormScaler.h"
#include "platform/forms/FontStandIns.h"

namespace kiv::forms {
namespace {

// Qt names a family that more than one foundry ships as "P052 [UKWN]".
QString WithoutFoundry(QString family) {
    return family.remove(QRegularExpression(QStringLiteral("\\s*\\[[^\\]]*\\]$")));
}

class QtFonts : public ::testing::Test {
  protected:
    void SetUp() override {
        InstallFontStandIns();
        // Font sizes snap to whole pixels at the screen's logical dpi; the figures below are at 96.
        if (QGuiApplication::primaryScreen()->logicalDotsPerInchY() != 96)
            GTEST_SKIP() << "needs a 96 dpi screen";
    }
};

TEST_F(QtFonts, EveryStandInIsInstalledAndDrawsItsName) {
    for (const auto& [name, faces] : FontStandIns()) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_FALSE(faces.isEmpty());
        EXPECT_TRUE(QFontDatabase::hasFamily(faces.first())) << faces.first().toStdString() << " is missing";
        const QFontInfo info(QFont(name, 10));
        EXPECT_EQ(WithoutFoundry(info.family()), faces.first());
    }
}

// Left to itself the system would draw Trebuchet MS in its default sans face, which is wider.
TEST_F(QtFonts, AWindowFontDrawsWithItsStandIn) {
    const QFont window(QStringLiteral("Trebuchet MS"), 12);
    const QFont face(QStringLiteral("DejaVu Sans Condensed"), 12);
    const QString text = QStringLiteral("Generating File (3 of 12)");
    EXPECT_EQ(QFontMetricsF(window).horizontalAdvance(text), QFontMetricsF(face).horizontalAdvance(text));
}

// What the font system gives for a request: the nearest whole pixel, read back in points.
struct ReadBack {
    double requested, given;
};

void PrintTo(const ReadBack& c, std::ostream* os) {
    *os << c.requested << " pt";
}

class QtFontReadBack : public QtFonts, public ::testing::WithParamInterface<ReadBack> {};

TEST_P(QtFontReadBack, ReportsTheSizeInEffect) {
    for (const char* name : {"Trebuchet MS", "Book Antiqua", "MS Sans Serif", "Arial"}) {
        SCOPED_TRACE(name);
        QtControlFont font(FontSpec{QString::fromLatin1(name), 8.25});
        font.SetSize(GetParam().requested);
        EXPECT_DOUBLE_EQ(font.Size(), GetParam().given);
        EXPECT_DOUBLE_EQ(font.Spec().size, GetParam().given);
        EXPECT_EQ(font.Spec().name, QString::fromLatin1(name));
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, QtFontReadBack,
                         ::testing::Values(ReadBack{8.25, 8.25},   // 11 pixels
                                           ReadBack{9, 9},         // 12 pixels
                                           ReadBack{10.5, 10.5},   // 14 pixels
                                           ReadBack{10.6, 10.5},   // 14.13 pixels
                                           ReadBack{10.9, 11.25},  // 14.53 pixels
                                           ReadBack{6.6, 6.75}));  // 8.8 pixels

TEST_F(QtFonts, SizeOfZeroOrLessIsRefused) {
    QtControlFont font(FontSpec{QStringLiteral("Trebuchet MS"), 9});
    font.SetSize(0);
    font.SetSize(-3);
    EXPECT_DOUBLE_EQ(font.Size(), 9);
}

// The scaler over real fonts: it ends at a size the font draws, not above the request.
struct RealScale {
    const char* what;
    const char* type;
    ControlKind kind;
    float ratioAvg;
    double given;
};

void PrintTo(const RealScale& c, std::ostream* os) {
    *os << c.what;
}

class QtFontScaling : public QtFonts, public ::testing::WithParamInterface<RealScale> {};

TEST_P(QtFontScaling, EndsAtADrawnSizeNotAboveTheRequest) {
    const RealScale& c = GetParam();
    app::RatioX = app::RatioY = 1.5f;
    app::RatioAvg = c.ratioAvg;
    QtFontSystem fonts;
    FormModel form;
    Control control;
    control.name = QStringLiteral("cmdadd");
    control.typeName = QString::fromLatin1(c.type);
    control.kind = c.kind;
    control.font = fonts.Create(FontSpec{QStringLiteral("Trebuchet MS"), 8.25});
    form.controls.push_back(control);

    app::ScaleForm(form);

    EXPECT_DOUBLE_EQ(form.controls[0].font->Size(), c.given);
    EXPECT_EQ(form.controls[0].font->Name(), QStringLiteral("Trebuchet MS"));
}

INSTANTIATE_TEST_SUITE_P(
    Ratios, QtFontScaling,
    ::testing::Values(
        RealScale{"1.28: 10.6 asked, 10.5 drawn", "KivBtn", ControlKind::Other, 1.28f, 10.5},
        // 10.9 would draw at 11.25; 10.8 draws at 10.5.
        RealScale{"1.32: 10.9 asked, stepped to 10.8", "KivBtn", ControlKind::Other, 1.32f, 10.5},
        // 10.388 down to 10.088 all draw at 14 pixels (10.5); 10.088 is 13.45, drawn at 13.
        RealScale{"check box at 1.28: 10.388 asked", "CheckBox", ControlKind::CheckBox, 1.28f, 9.75},
        RealScale{"0.8: 6.6 asked, 6 drawn", "KivBtn", ControlKind::Other, 0.8f, 6}));

}  // namespace
}  // namespace kiv::forms
