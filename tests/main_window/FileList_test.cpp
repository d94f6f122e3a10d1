// The file list as the user drives it: Add File, the duplicate test, the two deletes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <fstream>

#include "platform/grid/FlexGrid.h"
#include "support/FakeFileSystem.h"
#include "support/MainWindowHarness.h"

namespace kiv::testing {
namespace {

using prompts::Answer;
using prompts::Icon;

class FileListTest : public ::testing::Test {
  protected:
    void SetUp() override { harness.Show(); }
    void TearDown() override { EXPECT_TRUE(harness.prompts.Pending() == 0); }

    QString MakeFile(const QString& name) {
        const QString path = dir.File(name);
        std::ofstream(path.toStdString()) << "x";
        return path;
    }
    QStringList Column(int col) {
        QStringList texts;
        for (int row = 1; row < harness.Grid().Rows(); ++row) texts << harness.Grid().TextMatrix(row, col);
        return texts;
    }

    TempDir dir;
    MainWindowHarness harness;
};

TEST_F(FileListTest, AddFileListsPathAndBareNameUnderTheNextNumber) {
    const QString first = MakeFile("first.pfx");
    const QString second = MakeFile("Second.PFX");
    harness.AddThroughDialog(first);
    harness.AddThroughDialog(second);

    EXPECT_EQ(harness.Grid().Rows(), 3);
    EXPECT_EQ(Column(0), (QStringList{"1", "2"}));
    EXPECT_EQ(Column(1), (QStringList{first, second}));
    EXPECT_EQ(Column(2), (QStringList{"first.pfx", "Second.PFX"}));
    EXPECT_EQ(Column(3), (QStringList{"", ""}));
    ASSERT_EQ(harness.prompts.Asked().size(), 2u);
    EXPECT_EQ(harness.prompts.Asked()[0].kind, AskedPrompt::Kind::OpenFile);
    EXPECT_EQ(harness.prompts.Asked()[0].text, "Pfx Files|*.Pfx");
    // Adding neither moves the current row nor asks anything else.
    EXPECT_EQ(harness.Grid().Row(), -1);
}

// A.pfx and a.pfx are two files here; a name of a file already listed is refused.
TEST_F(FileListTest, AFileListedUnderAnyOfItsNamesIsRefusedWithMessage) {
    harness.AddThroughDialog(MakeFile("A.pfx"));
    harness.AddThroughDialog(MakeFile("a.pfx"));
    ASSERT_EQ(Column(2), (QStringList{"A.pfx", "a.pfx"}));

    // On a case-insensitive mount two such names are one file.
    FakeFileSystem fake;
    fake.SetFileIdentity(dir.File("a.pfx").toStdString(), {7, 1});
    fake.SetFileIdentity(dir.File("A.PFX").toStdString(), {7, 1});
    harness.UseFileSystem(&fake);
    harness.prompts.AnswerOpenFile(dir.File("A.PFX"));
    harness.prompts.AnswerMessage(Answer::Ok);
    harness.Window().cmdadd_Click();
    harness.UseFileSystem(nullptr);

    EXPECT_EQ(harness.Grid().Rows(), 3);
    const AskedPrompt& message = harness.prompts.Asked().back();
    EXPECT_EQ(message.text, "File already exists in the List.");
    EXPECT_EQ(message.icon, Icon::Information);
    EXPECT_EQ(message.title, "Kiv Pfx Utility");
}

TEST_F(FileListTest, OnlyWholePathsMatch) {
    auto& window = harness.Window();
    ASSERT_TRUE(window.AddFileToList("/c/x.pfx.pfx", "x.pfx.pfx"));
    EXPECT_EQ(window.FindListedFile("/c/x.pfx"), -1);
    EXPECT_TRUE(window.AddFileToList("/c/x.pfx", "x.pfx"));
    EXPECT_EQ(window.FindListedFile("/c/x.pfx"), 2);
    EXPECT_EQ(window.FindListedFile("/C/X.PFX"), -1) << "no file on disk makes it another name of /c/x.pfx";
    EXPECT_EQ(window.FindListedFile("File Name"), -1) << "the header row never matches";
}

TEST_F(FileListTest, CancelAndOtherExtensionsAddNothingAndSayNothing) {
    harness.prompts.AnswerOpenFile(std::nullopt);
    harness.Window().cmdadd_Click();
    harness.AddThroughDialog(MakeFile("notes.txt"));
    harness.AddThroughDialog(".pfx");  // too short to have a name before the extension
    EXPECT_EQ(harness.Grid().Rows(), 1);
    EXPECT_EQ(harness.prompts.Asked().size(), 3u);
}

TEST_F(FileListTest, DeleteRemovesCurrentRowAndRenumbers) {
    for (const char* name : {"a.pfx", "b.pfx", "c.pfx", "d.pfx"}) harness.AddThroughDialog(MakeFile(name));
    harness.Grid().SetRow(2);
    harness.prompts.AnswerMessage(Answer::Yes);
    harness.Window().cmddelete_Click();

    const AskedPrompt& question = harness.prompts.Asked().back();
    EXPECT_EQ(question.text, "Do you really want to delete selected Item from the list?");
    EXPECT_EQ(question.icon, Icon::Question);
    EXPECT_EQ(question.defaultButton, Answer::No);
    EXPECT_EQ(Column(0), (QStringList{"1", "2", "3"}));
    EXPECT_EQ(Column(2), (QStringList{"a.pfx", "c.pfx", "d.pfx"}));
    // The duplicate test follows the rows that moved up.
    EXPECT_EQ(harness.Window().FindListedFile(dir.File("d.pfx")), 3);
    EXPECT_EQ(harness.Window().FindListedFile(dir.File("b.pfx")), -1);
}

TEST_F(FileListTest, NoToEitherDeleteQuestionKeepsTheList) {
    for (const char* name : {"a.pfx", "b.pfx"}) harness.AddThroughDialog(MakeFile(name));
    harness.Grid().SetRow(1);
    harness.prompts.AnswerMessage(Answer::No);
    harness.Window().cmddelete_Click();
    harness.prompts.AnswerMessage(Answer::No);
    harness.Window().cmddeleteall_Click();

    EXPECT_EQ(Column(2), (QStringList{"a.pfx", "b.pfx"}));
    const AskedPrompt& all = harness.prompts.Asked().back();
    EXPECT_EQ(all.text, "Do you really want to delete all the items in the list?");
    EXPECT_EQ(all.icon, Icon::Critical);
    EXPECT_EQ(all.defaultButton, Answer::No);
}

TEST_F(FileListTest, DeletesOnAnEmptyListExplainAndFocusTheGrid) {
    harness.prompts.AnswerMessage(Answer::Ok);
    harness.Window().cmddelete_Click();
    EXPECT_EQ(harness.prompts.Asked().back().text, "Select a File.");
    EXPECT_TRUE(harness.Grid().hasFocus() || QApplication::focusWidget() == &harness.Grid());

    harness.Window().Host().Widget("txtpass", 0)->setFocus();
    harness.prompts.AnswerMessage(Answer::Ok);
    harness.Window().cmddeleteall_Click();
    EXPECT_EQ(harness.prompts.Asked().back().text, "Nothing to Delete.");
    EXPECT_EQ(harness.prompts.Asked().back().icon, Icon::Information);
    EXPECT_EQ(QApplication::focusWidget(), &harness.Grid());
}

// Taking the focus must not choose a row: Delete would then remove a row nobody picked.
TEST_F(FileListTest, FocusMovesNeverChooseTheRowDeleteRemoves) {
    for (const char* name : {"a.pfx", "b.pfx", "c.pfx"}) harness.AddThroughDialog(MakeFile(name));
    auto& grid = harness.Grid();
    QApplication::setActiveWindow(&harness.Window());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&harness.Window()));
    harness.Window().Host().Widget("txtpass", 0)->setFocus();

    for (int attempt = 0; attempt < 2; ++attempt) {
        harness.prompts.AnswerMessage(Answer::Ok);
        harness.Window().cmddelete_Click();
        EXPECT_EQ(harness.prompts.Asked().back().text, "Select a File.") << "attempt " << attempt;
        EXPECT_EQ(QApplication::focusWidget(), &grid);
        EXPECT_EQ(grid.Row(), -1);
    }

    // Tabbing in, either way round, leaves it unset as well.
    for (const Qt::FocusReason reason :
         {Qt::TabFocusReason, Qt::BacktabFocusReason, Qt::ActiveWindowFocusReason}) {
        harness.Window().Host().Widget("txtpass", 1)->setFocus();
        grid.setFocus(reason);
        EXPECT_EQ(QApplication::focusWidget(), &grid);
        EXPECT_EQ(grid.Row(), -1) << "focus reason " << reason;
    }
    QWidget* before = grid.previousInFocusChain();
    while (before != &grid &&
           !(before->isVisible() && before->isEnabled() && (before->focusPolicy() & Qt::TabFocus)))
        before = before->previousInFocusChain();
    before->setFocus();
    QTest::keyClick(before, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), &grid);
    EXPECT_EQ(grid.Row(), -1);
    EXPECT_EQ(Column(2), (QStringList{"a.pfx", "b.pfx", "c.pfx"}));

    // The row the user clicks is the one Delete asks about and removes; it stays chosen across
    // focus moves.
    const QRect second = grid.visualRect(grid.Model().index(1, kiv::main_window::kPathCol));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, second.center());
    EXPECT_EQ(grid.Row(), 2);
    harness.Window().Host().Widget("txtpass", 0)->setFocus();
    grid.setFocus(Qt::TabFocusReason);
    EXPECT_EQ(grid.Row(), 2);
    harness.prompts.AnswerMessage(Answer::Yes);
    harness.Window().cmddelete_Click();
    EXPECT_EQ(harness.prompts.Asked().back().text,
              "Do you really want to delete selected Item from the list?");
    EXPECT_EQ(Column(2), (QStringList{"a.pfx", "c.pfx"}));
}

TEST_F(FileListTest, DeleteAllThenAddStartsNumberingAgain) {
    for (const char* name : {"a.pfx", "b.pfx"}) harness.AddThroughDialog(MakeFile(name));
    harness.prompts.AnswerMessage(Answer::Yes);
    harness.Window().cmddeleteall_Click();
    EXPECT_EQ(harness.Grid().Rows(), 1);
    harness.AddThroughDialog(dir.File("b.pfx"));
    EXPECT_EQ(Column(0), (QStringList{"1"}));
    EXPECT_EQ(harness.Window().FindListedFile(dir.File("a.pfx")), -1);
}

TEST_F(FileListTest, FittedColumnsShowTheLongestPath) {
    const QString path = MakeFile(QString(120, 'n') + ".pfx");
    harness.AddThroughDialog(path);
    const QFontMetrics metrics(harness.Grid().font());
    const double needed = metrics.horizontalAdvance(path) * harness.Grid().TwipsPerPixel();
    EXPECT_GE(harness.Grid().ColWidth(1), needed);
}

TEST_F(FileListTest, FittedColumnsKeepToTheGridsWidthLimits) {
    auto& grid = harness.Grid();
    grid.ColWidthMax = 1500;
    grid.ColWidthMin = 900;
    harness.AddThroughDialog(MakeFile(QString(120, 'n') + ".pfx"));
    const double pixel = grid.TwipsPerPixel();
    EXPECT_NEAR(grid.ColWidth(1), 1500, pixel);
    EXPECT_NEAR(grid.ColWidth(0), 900, pixel) << "a narrow column is widened to the minimum";
}

}  // namespace
}  // namespace kiv::testing
