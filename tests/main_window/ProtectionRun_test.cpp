// Proceed and the protection run, over a certificate component whose outcomes the tests choose.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <map>

#include "controls/KivBtn/KivBtn.h"
#include "platform/grid/FlexGrid.h"
#include "support/FakeCertificate.h"
#include "support/MainWindowHarness.h"

namespace kiv::testing {
namespace {

using prompts::Answer;
using prompts::Icon;
namespace fs = std::filesystem;

class ProtectionRunTest : public ::testing::Test {
  protected:
    ProtectionRunTest() : harness(certificates.Factory()) {}

    void SetUp() override {
        harness.Show();
        harness.SetPasswords("Secret", "Secret");
        // What the label said at each yield, and whether the progress frame was up.
        harness.yield.afterYield = [this](int) {
            labels << harness.Control<QLabel>("lblpb")->text();
            framesUp.push_back(harness.Window().InRun());
        };
    }

    QString List(const QString& name) {
        const QString path = dir.File(name);
        std::ofstream(path.toStdString()) << "source";
        EXPECT_TRUE(harness.Window().AddFileToList(path, name));
        return path;
    }
    QStringList Statuses() {
        QStringList texts;
        for (int row = 1; row < harness.Grid().Rows(); ++row) texts << harness.Status(row);
        return texts;
    }
    QString Output(const QString& name) { return dir.File(name); }
    void PressStop() { QTest::mouseClick(harness.Control<controls::KivBtn>("cmdstop"), Qt::LeftButton); }

    TempDir dir;
    FakeCertificates certificates;
    MainWindowHarness harness;
    QStringList labels;
    std::vector<bool> framesUp;
};

TEST_F(ProtectionRunTest, ChecksComeInOrderEachWithItsMessageAndFocus) {
    harness.SetPasswords("", "");
    harness.prompts.AnswerMessage(Answer::Ok);
    harness.Window().cmdproceed_Click();
    EXPECT_EQ(harness.prompts.Asked().back().text, "No File Selected.");
    EXPECT_EQ(harness.prompts.Asked().back().icon, Icon::Information);

    List("a.pfx");
    harness.prompts.AnswerMessage(Answer::Ok);
    harness.Window().cmdproceed_Click();
    EXPECT_EQ(harness.prompts.Asked().back().text, "Please Enter Password.");
    EXPECT_EQ(QApplication::focusWidget(), harness.Control<QLineEdit>("txtpass", 0));

    for (const char* second : {"", "secret", "Secret "}) {
        harness.SetPasswords("Secret", second);
        harness.Control<QLineEdit>("txtpass", 0)->setFocus();
        harness.prompts.AnswerMessage(Answer::Ok);
        harness.Window().cmdproceed_Click();
        EXPECT_EQ(harness.prompts.Asked().back().text, "Password Mismatch.") << second;
        EXPECT_EQ(harness.prompts.Asked().back().icon, Icon::Critical);
        EXPECT_EQ(QApplication::focusWidget(), harness.Control<QLineEdit>("txtpass", 1));
    }
    EXPECT_EQ(certificates.made, 0);
    EXPECT_EQ(harness.yield.Count(), 0);
}

TEST_F(ProtectionRunTest, ConfirmationIsAskedWordForWordAndNoKeepsEverything) {
    List("a.pfx");
    harness.Grid().SetTextMatrix(1, 3, "OK");
    harness.prompts.AnswerMessage(Answer::No);
    harness.Window().cmdproceed_Click();

    const AskedPrompt& question = harness.prompts.Asked().back();
    EXPECT_EQ(question.text,
              "Note : It is highly recommended to keep original Pfx files saved with you.\r\n\r\n"
              "All the Pfx files with password will be saved in the same location with [_Password] as "
              "suffix.\r\n\r\n\r\nDo you really want to continue?");
    EXPECT_EQ(question.icon, Icon::Question);
    EXPECT_EQ(question.buttons, prompts::Buttons::YesNo);
    EXPECT_EQ(question.defaultButton, Answer::No);
    EXPECT_EQ(question.title, "Kiv Pfx Utility");
    EXPECT_EQ(Statuses(), QStringList{"OK"});
    EXPECT_EQ(certificates.made, 0);
}

TEST_F(ProtectionRunTest, EveryOutcomeGetsItsStatusInTheOrderOfTheTests) {
    const QString ok = List("ok.pfx");
    const QString exists = List("exists.pfx");
    std::ofstream(Output("exists_Password.Pfx").toStdString()) << "earlier";
    const QString gone = List("gone.pfx");
    fs::remove(gone.toStdString());
    const QString locked = List("locked.pfx");
    const QString broken = List("broken.pfx");
    const QString unsaved = List("unsaved.pfx");
    const QString silent = List("silent.pfx");
    certificates.outcomes[locked.toStdString()].loadError = "The specified Password is NOT correct.";
    certificates.outcomes[broken.toStdString()].loadError = "not a PKCS#12 file";
    certificates.outcomes[unsaved.toStdString()].saveError = "disk full";
    certificates.outcomes[silent.toStdString()].saveWritesNothing = true;

    harness.ProceedConfirmed();

    EXPECT_EQ(Statuses(), (QStringList{"OK", "File [" + Output("exists_Password.Pfx") + "] already exists",
                                       "File not found", "File is already password protected",
                                       "Error Loading : not a PKCS#12 file", "Error Saving : disk full",
                                       "Failed : Unknown Error"}));
    // One fresh object per file that reached the component, none kept between files.
    EXPECT_EQ(certificates.made, 5);
    EXPECT_EQ(certificates.maxAlive, 1);
    EXPECT_EQ(certificates.alive, 0);
    EXPECT_EQ(certificates.calls.front(), "Load " + ok.toStdString() + " [] 1 0");
    EXPECT_EQ(certificates.calls[1], "Save " + Output("ok_Password.Pfx").toStdString() + " [Secret] 0 1");
    std::ifstream earlier(Output("exists_Password.Pfx").toStdString());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(earlier), {}), "earlier");
}

TEST_F(ProtectionRunTest, AMissingComponentFailsOnlyFilesThatPassTheExistenceTests) {
    List("a.pfx");
    const QString gone = List("gone.pfx");
    fs::remove(gone.toStdString());
    certificates.refuse = true;
    harness.ProceedConfirmed();
    EXPECT_EQ(Statuses(), (QStringList{"Can't create ActiveX object", "File not found"}));
}

TEST_F(ProtectionRunTest, OutputNameEndsInTheSuffixWhateverTheExtensionCase) {
    for (const char* name : {"lower.pfx", "upper.PFX", "mixed.PfX"}) List(name);
    harness.ProceedConfirmed();
    EXPECT_EQ(Statuses(), (QStringList{"OK", "OK", "OK"}));
    for (const char* name : {"lower_Password.Pfx", "upper_Password.Pfx", "mixed_Password.Pfx"})
        EXPECT_TRUE(fs::exists(Output(name).toStdString())) << name;
}

TEST_F(ProtectionRunTest, ProgressShowsEachFileAndTheWindowComesBack) {
    for (const char* name : {"a.pfx", "b.pfx", "c.pfx"}) List(name);
    harness.ProceedConfirmed();

    EXPECT_EQ(labels, (QStringList{"Generating File (1 of 3)", "Generating File (2 of 3)",
                                   "Generating File (3 of 3)"}));
    EXPECT_EQ(framesUp, (std::vector<bool>{true, true, true}));
    EXPECT_EQ(harness.yield.Count(), 3);
    auto* progress = harness.Control<QProgressBar>("pb");
    EXPECT_EQ(progress->maximum(), 3);
    EXPECT_EQ(progress->value(), 3);
    EXPECT_FALSE(harness.Window().InRun());
    EXPECT_TRUE(harness.Window().Host().Widget("Frame1")->isVisible());
    EXPECT_TRUE(harness.Grid().isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), harness.Control<controls::KivBtn>("cmdproceed"));
}

// What the screen shows of the progress bar: the window's painted pixels, not a fresh rendering,
// so a bar that was never repainted shows as such.
QImage ShownOnScreen(QWidget* widget) {
    QWidget* window = widget->window();
    const QPoint at = widget->mapTo(window, QPoint(0, 0));
    return window->screen()
        ->grabWindow(window->winId(), at.x(), at.y(), widget->width(), widget->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

int ColourDistance(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
}

// The filled share of the bar's inside along its middle row: the run of pixels from the left that
// are clearly unlike `empty`, the colour of the bar's empty part.
double FilledShare(const QImage& bar, QRgb empty) {
    const int y = bar.height() / 2;
    const int inner = 3;  // past the frame
    const int first = inner, last = bar.width() - 1 - inner;
    int filled = 0;
    for (int x = first; x <= last && ColourDistance(bar.pixel(x, y), empty) > 90; ++x) ++filled;
    return static_cast<double>(filled) / (last - first + 1);
}

QRgb EmptyColour(const QImage& bar) {
    return bar.pixel(bar.width() - 5, bar.height() / 2);
}

// The list, disabled as it is, scrolls along so that the row being protected stays in view.
TEST_F(ProtectionRunTest, ProgressBarOnScreenFillsWithEachFileAndTheListShowsItsRow) {
    // Many files make each step smaller than the bar's own redraw threshold.
    constexpr int kFiles = 240;
    for (int i = 0; i < kFiles; ++i) List(QString::number(i) + ".pfx");
    QRgb empty = 0;
    std::map<int, double> shares;
    std::map<int, QRect> rows;
    grid::FlexGrid& grid = harness.Grid();
    harness.yield.afterYield = [&](int count) {
        const QImage shown = ShownOnScreen(harness.Control<QProgressBar>("pb"));
        if (count == 1) empty = EmptyColour(shown);
        if (count % 40 == 0) shares[count] = FilledShare(shown, empty);
        if (count % 40 == 0) rows[count] = grid.visualRect(grid.Model().index(count - 1, 0));
    };
    harness.ProceedConfirmed();
    ASSERT_EQ(shares.size(), 6u);
    for (const auto& [k, share] : shares)
        EXPECT_NEAR(share, static_cast<double>(k) / kFiles, 0.02) << "file " << k;
    for (const auto& [k, row] : rows)
        EXPECT_TRUE(grid.viewport()->rect().contains(row)) << "file " << k << " at " << row.y();
}

TEST_F(ProtectionRunTest, ProgressBarOnScreenShowsWhereAStopEnded) {
    constexpr int kFiles = 200;
    for (int i = 0; i < kFiles; ++i) List(QString::number(i) + ".pfx");
    QRgb empty = 0;
    double share = -1;
    harness.yield.afterYield = [&](int count) {
        if (count == 1) empty = EmptyColour(ShownOnScreen(harness.Control<QProgressBar>("pb")));
        if (count != 130) return;
        PressStop();
        QApplication::processEvents();
        share = FilledShare(ShownOnScreen(harness.Control<QProgressBar>("pb")), empty);
    };
    harness.ProceedConfirmed();
    EXPECT_EQ(harness.Status(130), "OK");
    EXPECT_EQ(harness.Status(131), "");
    EXPECT_NEAR(share, 130.0 / kFiles, 0.02);
    EXPECT_EQ(harness.Control<QProgressBar>("pb")->value(), 130);
}

TEST_F(ProtectionRunTest, GridAndFormatAreDisabledAndCommandsHiddenDuringTheRun) {
    List("a.pfx");
    auto* format = harness.Control<QComboBox>("cboformat");
    bool gridEnabled = true, formatEnabled = true, commandsVisible = true;
    harness.yield.afterYield = [&](int) {
        gridEnabled = harness.Grid().isEnabled();
        formatEnabled = format->isEnabled();
        commandsVisible = harness.Window().Host().Widget("Frame1")->isVisible();
    };
    harness.ProceedConfirmed();
    EXPECT_FALSE(gridEnabled);
    EXPECT_FALSE(formatEnabled);
    EXPECT_FALSE(commandsVisible);
    EXPECT_TRUE(format->isEnabled());
}

TEST_F(ProtectionRunTest, StopAtTheSecondYieldFinishesFileTwoOnly) {
    for (const char* name : {"1.pfx", "2.pfx", "3.pfx", "4.pfx", "5.pfx"}) List(name);
    harness.yield.afterYield = [this](int count) {
        if (count == 2) PressStop();
    };
    harness.ProceedConfirmed();
    EXPECT_EQ(Statuses(), (QStringList{"OK", "OK", "", "", ""}));
    EXPECT_FALSE(harness.Window().InRun());
    EXPECT_TRUE(harness.Window().Host().Widget("Frame1")->isVisible());
}

TEST_F(ProtectionRunTest, StopMadeWhileAFileLoadsTakesEffectAfterTheNextFile) {
    QStringList paths;
    for (const char* name : {"1.pfx", "2.pfx", "3.pfx", "4.pfx", "5.pfx"}) paths << List(name);
    // The click waits in the queue until the run next lets the window system in.
    certificates.onLoad = [&](const std::string& path) {
        if (path == paths[1].toStdString())
            QTimer::singleShot(0, harness.Control<controls::KivBtn>("cmdstop"), [this] { PressStop(); });
    };
    harness.ProceedConfirmed();
    EXPECT_EQ(Statuses(), (QStringList{"OK", "OK", "OK", "", ""}));
}

TEST_F(ProtectionRunTest, EscapeDuringTheRunStopsWithoutTheQuitQuestion) {
    for (const char* name : {"1.pfx", "2.pfx", "3.pfx"}) List(name);
    harness.yield.afterYield = [this](int count) {
        if (count == 1) QTest::keyClick(harness.Control<controls::KivBtn>("cmdstop"), Qt::Key_Escape);
    };
    harness.ProceedConfirmed();
    EXPECT_EQ(Statuses(), (QStringList{"OK", "", ""}));
    EXPECT_EQ(harness.prompts.Asked().size(), 1u) << "only the confirmation was asked";
}

TEST_F(ProtectionRunTest, CloseBoxDuringTheRunAsksAndNoLetsTheRunGoOn) {
    for (const char* name : {"1.pfx", "2.pfx", "3.pfx"}) List(name);
    harness.yield.afterYield = [this](int count) {
        if (count == 1) {
            harness.prompts.AnswerMessage(Answer::No);
            harness.Window().close();
        }
    };
    harness.ProceedConfirmed();
    EXPECT_EQ(harness.prompts.Asked().back().text, "Do you really want to Quit?");
    EXPECT_EQ(Statuses(), (QStringList{"OK", "OK", "OK"}));
    EXPECT_EQ(harness.programEnds, 0);
    EXPECT_TRUE(harness.Window().isVisible());
}

TEST_F(ProtectionRunTest, CloseBoxDuringTheRunWithYesEndsBetweenTwoFiles) {
    for (const char* name : {"1.pfx", "2.pfx", "3.pfx"}) List(name);
    harness.yield.afterYield = [this](int count) {
        if (count == 2) {
            harness.prompts.AnswerMessage(Answer::Yes);
            harness.Window().close();
        }
    };
    harness.ProceedConfirmed();
    EXPECT_EQ(harness.programEnds, 1);
    EXPECT_EQ(Statuses(), (QStringList{"OK", "", ""}));
    EXPECT_FALSE(fs::exists(Output("2_Password.Pfx").toStdString()));
}

TEST_F(ProtectionRunTest, SecondRunFindsEveryEarlierOutput) {
    List("a.pfx");
    List("b.pfx");
    harness.ProceedConfirmed();
    ASSERT_EQ(Statuses(), (QStringList{"OK", "OK"}));
    harness.ProceedConfirmed();
    EXPECT_EQ(Statuses(), (QStringList{"File [" + Output("a_Password.Pfx") + "] already exists",
                                       "File [" + Output("b_Password.Pfx") + "] already exists"}));
}

}  // namespace
}  // namespace kiv::testing
