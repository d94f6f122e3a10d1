// Both windows on today's common screens: no caption, label or control is cut. Each screen needs
// its own process, so the cases re-run this program on a made-up offscreen screen, where
// ThisScreen.EveryCaptionAndControlFits checks the windows as the program lays them out.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QResizeEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include "app/scaling/DisplayMetrics.h"
#include "controls/KivBtn/KivBtn.h"
#include "platform/forms/FontStandIns.h"
#include "platform/grid/FlexGrid.h"
#include "search/frmsearch.h"
#include "support/MadeUpScreen.h"
#include "support/MainWindowHarness.h"

namespace kiv::testing {
namespace {

QString Describe(const QRect& r) {
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

QString Describe(const QSize& s) {
    return QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
}

// Texts a label shows while the program works, where its design caption is empty or shorter.
QString LongestText(const QString& name, const QLabel& label) {
    if (name == QLatin1String("lblpb")) return QStringLiteral("Generating File (9999 of 9999)");
    return label.text();
}

// What is cut on one window: controls outside their container, text outside its box.
QStringList CutControls(forms::FormHost& host) {
    QStringList cut;
    for (const forms::Control& control : host.Model().controls) {
        QWidget* widget = host.Widget(control.name, control.index);
        if (!widget) continue;
        const QString name = control.name + (control.index >= 0 ? QString::number(control.index) : QString());
        const QRect box = widget->geometry();
        if (const QWidget* parent = widget->parentWidget(); parent && !parent->rect().contains(box)) {
            cut << QStringLiteral("%1 at %2 lies outside its container (%3)")
                       .arg(name, Describe(box), Describe(parent->rect()));
        }
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            std::printf("  %s %.1f pt at %s\n", qPrintable(name), label->font().pointSizeF(),
                        qPrintable(Describe(box)));
            const QString text = LongestText(control.name, *label);
            QLabel probe(text);
            probe.setFont(label->font());
            probe.setWordWrap(label->wordWrap());
            probe.setMargin(label->margin());
            probe.setIndent(label->indent());
            const QSize needed(label->wordWrap() ? box.width() : probe.sizeHint().width(),
                               label->wordWrap()
                                   ? probe.heightForWidth(box.width())
                                   : std::max(probe.sizeHint().height(), label->fontMetrics().height()));
            if (needed.width() > box.width() || needed.height() > box.height()) {
                cut << QStringLiteral("label %1 needs %2 for \"%3\" but has %4")
                           .arg(name, Describe(needed), text, Describe(box.size()));
            }
        } else if (auto* button = qobject_cast<controls::KivBtn*>(widget)) {
            // A button that was never shown has not been told its size yet; showing it would.
            if (button->testAttribute(Qt::WA_PendingResizeEvent)) {
                QResizeEvent resize(button->size(), QSize());
                QCoreApplication::sendEvent(button, &resize);
            }
            const QRect face = button->FaceImage().rect();  // the face's pixels, as the layout's
            const QRect caption = button->Layout().captionRect.ToQRect();
            if (!face.contains(caption)) {
                cut << QStringLiteral("button %1 caption at %2 on a %3 face")
                           .arg(name, Describe(caption), Describe(face.size()));
            }
            if (!button->PictureSize().isEmpty()) {
                const QRect picture(button->PictureOrigin(), button->PictureSize());
                if (!face.contains(picture)) {
                    cut << QStringLiteral("button %1 picture at %2 on a %3 face")
                               .arg(name, Describe(picture), Describe(face.size()));
                }
            }
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            if (edit->minimumSizeHint().height() > box.height()) {
                cut << QStringLiteral("text box %1 needs a height of %2 but has %3")
                           .arg(name)
                           .arg(edit->minimumSizeHint().height())
                           .arg(box.height());
            }
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            if (combo->sizeHint().width() > box.width() || combo->sizeHint().height() > box.height())
                cut << QStringLiteral("combo box %1 needs %2 but has %3")
                           .arg(name, Describe(combo->sizeHint()), Describe(box.size()));
        } else if (auto* grid = qobject_cast<grid::FlexGrid*>(widget)) {
            const int line = grid->fontMetrics().height();
            if (grid->verticalHeader()->defaultSectionSize() < line)
                cut << QStringLiteral("grid rows lower than a line");
            if (grid->horizontalHeader()->height() < line)
                cut << QStringLiteral("grid header lower than a line");
        }
    }
    return cut;
}

QString Lines(const QStringList& lines) {
    return lines.join(QLatin1Char('\n'));
}

TEST(ThisScreen, EveryCaptionAndControlFits) {
    forms::InstallFontStandIns();
    app::GetScreenMetrics();
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    std::printf("screen %dx%d, logical dpi %.0f, ratios %g %g %g\n", screen->size().width(),
                screen->size().height(), screen->logicalDotsPerInchX(), app::RatioX, app::RatioY,
                app::RatioAvg);

    MainWindowHarness harness;
    harness.Show();
    EXPECT_TRUE(screen->geometry().contains(QRect(QPoint(0, 0), harness.Window().size())))
        << "the main window of " << Describe(harness.Window().size()).toStdString()
        << " is larger than the screen";
    const QStringList mainCut = CutControls(harness.Window().Host());
    EXPECT_TRUE(mainCut.isEmpty()) << "main window:\n" << Lines(mainCut).toStdString();

    search::SearchServices services;
    services.fonts = &harness.fonts;
    QString error;
    auto search = search::frmsearch::Create(services, &harness.Window(), &error);
    ASSERT_TRUE(search) << error.toStdString();
    search->Form_Load();
    const QStringList searchCut = CutControls(search->Host());
    EXPECT_TRUE(searchCut.isEmpty()) << "search window:\n" << Lines(searchCut).toStdString();
    EXPECT_TRUE(screen->geometry().contains(QRect(QPoint(0, 0), search->size())));
}

struct ScreenCase {
    const char* name;
    int width, height, dpi;
    bool qtScaling;  // whether Qt turns the dpi into a device pixel ratio
};

void PrintTo(const ScreenCase& c, std::ostream* os) {
    *os << c.name;
}

class ScreenFitTest : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(ScreenFitTest, NothingIsCut) {
    const ScreenCase& c = GetParam();
    const ChildRun run = RunOnMadeUpScreen(QStringLiteral("ThisScreen.EveryCaptionAndControlFits"), c.width,
                                           c.height, c.dpi, c.qtScaling, QProcess::MergedChannels);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitStatus, QProcess::NormalExit);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << run.output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Screens, ScreenFitTest,
                         ::testing::Values(ScreenCase{"s800x600", 800, 600, 96, true},
                                           ScreenCase{"s1024x768", 1024, 768, 96, true},
                                           ScreenCase{"s1280x1024", 1280, 1024, 96, true},
                                           ScreenCase{"s1366x768", 1366, 768, 96, true},
                                           ScreenCase{"s1440x900", 1440, 900, 96, true},
                                           ScreenCase{"s1600x900", 1600, 900, 96, true},
                                           ScreenCase{"s1920x1080", 1920, 1080, 96, true},
                                           ScreenCase{"s2560x1440", 2560, 1440, 96, true},
                                           ScreenCase{"s3840x2160at200", 3840, 2160, 192, true},
                                           ScreenCase{"s3840x2160at200unscaled", 3840, 2160, 192, false}),
                         [](const ::testing::TestParamInfo<ScreenCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace kiv::testing
