// The main window outside a run: what load leaves, Escape, Exit and the quit question.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include "app/scaling/DisplayMetrics.h"
#include "controls/KivBtn/KivBtn.h"
#include "platform/grid/FlexGrid.h"
#include "support/FakeCertificate.h"
#include "support/MainWindowHarness.h"

namespace kiv::testing {
namespace {

using prompts::Answer;

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest() : harness(certificates.Factory()) {}
    FakeCertificates certificates;
    MainWindowHarness harness;
};

TEST_F(MainWindowTest, LoadLeavesAnEmptyListAndTheCommandArea) {
    harness.Show();
    EXPECT_EQ(harness.Grid().Rows(), 1);
    EXPECT_EQ(harness.Grid().TextMatrix(0, 0), "Sr. No.");
    EXPECT_EQ(harness.Grid().TextMatrix(0, 1), "File Name");
    EXPECT_EQ(harness.Grid().TextMatrix(0, 3), "Status");
    EXPECT_TRUE(harness.Grid().isColumnHidden(2));
    EXPECT_TRUE(harness.Window().Host().Widget("Frame1")->isVisible());
    EXPECT_FALSE(harness.Window().Host().Widget("fampg")->isVisible());
    EXPECT_EQ(harness.Window().windowTitle(), "Kiv Pfx Utility");
    EXPECT_EQ(harness.Control<QLineEdit>("txtpass", 0)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(harness.Control<controls::KivBtn>("cmdproceed")->Caption(), "  &Proceed >>");
}

TEST_F(MainWindowTest, GridFontIsCappedAtNinePointsAfterScaling) {
    app::RatioX = 2.0f;
    app::RatioY = 2.0f;
    app::RatioAvg = 2.0f;
    harness.Show();
    app::RatioX = app::RatioY = app::RatioAvg = 1.0f;
    EXPECT_LE(harness.Grid().font().pointSizeF(), 9.0);
    EXPECT_GT(harness.Control<QLineEdit>("txtpass", 0)->font().pointSizeF(), 9.0)
        << "other fonts keep their scaled size";
}

TEST_F(MainWindowTest, EscapeAsksToQuitAndNoKeepsTheWindow) {
    harness.Show();
    harness.prompts.AnswerMessage(Answer::No);
    QTest::keyClick(harness.Control<QLineEdit>("txtpass", 0), Qt::Key_Escape);

    ASSERT_EQ(harness.prompts.Asked().size(), 1u);
    const AskedPrompt& question = harness.prompts.Asked()[0];
    EXPECT_EQ(question.text, "Do you really want to Quit?");
    EXPECT_EQ(question.icon, prompts::Icon::Question);
    EXPECT_EQ(question.defaultButton, Answer::No);
    EXPECT_TRUE(harness.Window().isVisible());
    EXPECT_EQ(harness.programEnds, 0);
    EXPECT_TRUE(harness.Control<QLineEdit>("txtpass", 0)->text().isEmpty()) << "Escape never reaches the box";
}

TEST_F(MainWindowTest, ExitWithYesEndsTheProgram) {
    harness.Show();
    harness.prompts.AnswerMessage(Answer::Yes);
    QTest::mouseClick(harness.Control<controls::KivBtn>("cmdexit"), Qt::LeftButton);
    EXPECT_EQ(harness.programEnds, 1);
    EXPECT_FALSE(harness.Window().isVisible());
}

TEST_F(MainWindowTest, OtherKeysPassThrough) {
    harness.Show();
    int key = 'a';
    harness.Window().Form_KeyPress(key);
    EXPECT_EQ(key, 'a');
    key = 13;
    harness.Window().Form_KeyPress(key);
    EXPECT_EQ(key, 13);
    EXPECT_TRUE(harness.prompts.Asked().empty());
}

}  // namespace
}  // namespace kiv::testing
