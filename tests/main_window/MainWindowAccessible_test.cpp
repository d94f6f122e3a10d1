// What a screen reader finds in the main window: every command by its name, the password boxes
// named by their labels, the file list without its hidden column, and the progress of a run.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <functional>
#include <utility>
#include <vector>

#include "controls/KivBtn/KivBtn.h"
#include "platform/grid/FlexGrid.h"
#include "support/FakeCertificate.h"
#include "support/MainWindowHarness.h"

namespace kiv::testing {
namespace {

using prompts::Answer;

// Every interface below `root`, depth first.
void Walk(QAccessibleInterface* root, const std::function<void(QAccessibleInterface*)>& visit) {
    for (int i = 0; i < root->childCount(); ++i) {
        QAccessibleInterface* child = root->child(i);
        if (!child) continue;
        visit(child);
        Walk(child, visit);
    }
}

class MainWindowAccessibleTest : public ::testing::Test {
  protected:
    MainWindowAccessibleTest() : harness(certificates.Factory()) {}

    QAccessibleInterface* Window() { return QAccessible::queryAccessibleInterface(&harness.Window()); }

    // The visible descendants of the window with this name and role.
    QList<QAccessibleInterface*> Find(const QString& name, QAccessible::Role role) {
        QList<QAccessibleInterface*> found;
        Walk(Window(), [&](QAccessibleInterface* node) {
            if (node->role() == role && node->text(QAccessible::Name) == name && !node->state().invisible)
                found << node;
        });
        return found;
    }

    FakeCertificates certificates;
    MainWindowHarness harness;
};

TEST_F(MainWindowAccessibleTest, EveryCommandIsAPushButtonFoundByItsName) {
    harness.Show();
    EXPECT_EQ(Window()->text(QAccessible::Name), "Kiv Pfx Utility");
    EXPECT_EQ(Window()->role(), QAccessible::Window);
    const QStringList names{"Add File", "SearcH Files", "Delete", "Delete All", "Proceed >>", "Exit"};
    for (const QString& name : names) {
        const QList<QAccessibleInterface*> found = Find(name, QAccessible::Button);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        EXPECT_EQ(found[0]->actionInterface()->actionNames(),
                  QStringList{QAccessibleActionInterface::pressAction()});
    }
    EXPECT_EQ(Find("Delete", QAccessible::Button)[0]->text(QAccessible::Accelerator), "Alt+D");
    EXPECT_EQ(Find("SearcH Files", QAccessible::Button)[0]->text(QAccessible::Accelerator), "Alt+H");
    EXPECT_TRUE(Find("Stop", QAccessible::Button).isEmpty()) << "Stop is hidden outside a run";
}

TEST_F(MainWindowAccessibleTest, ExitPressedByAScreenReaderAsksTheQuitQuestionOnce) {
    harness.Show();
    const QList<QAccessibleInterface*> exit = Find("Exit", QAccessible::Button);
    ASSERT_EQ(exit.size(), 1);
    harness.prompts.AnswerMessage(Answer::No);
    exit[0]->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_COMPARE(harness.prompts.Asked().size(), size_t(1));
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    ASSERT_EQ(harness.prompts.Asked().size(), 1u);
    EXPECT_EQ(harness.prompts.Asked()[0].text, "Do you really want to Quit?");
    EXPECT_TRUE(harness.Window().isVisible());
}

TEST_F(MainWindowAccessibleTest, PasswordBoxesAreNamedByTheirLabelsWithoutNewKeys) {
    harness.Show();
    const QList<QAccessibleInterface*> first =
        Find("Password to protect Pfx File", QAccessible::EditableText);
    const QList<QAccessibleInterface*> second = Find("Verify Password", QAccessible::EditableText);
    ASSERT_EQ(first.size(), 1);
    ASSERT_EQ(second.size(), 1);
    EXPECT_EQ(first[0]->object(), harness.Control<QLineEdit>("txtpass", 0));
    EXPECT_EQ(second[0]->object(), harness.Control<QLineEdit>("txtpass", 1));
    EXPECT_TRUE(first[0]->state().passwordEdit);
    EXPECT_TRUE(first[0]->text(QAccessible::Accelerator).isEmpty());
    // The labels look as they did: same text, no access key of their own.
    EXPECT_EQ(harness.Control<QLabel>("Label1")->text(), "Password to protect Pfx File");
    EXPECT_EQ(harness.Control<QLabel>("Label2")->text(), "Verify Password");
    // The relation runs both ways, so a reader can go from the label to the box.
    const auto labelled = first[0]->relations(QAccessible::Label);
    ASSERT_EQ(labelled.size(), 1);
    EXPECT_EQ(labelled[0].first->object(), harness.Control<QLabel>("Label1"));
}

TEST_F(MainWindowAccessibleTest, FileListIsATableOfTheShownColumnsOnly) {
    harness.Show();
    TempDir temp;
    const QString path = temp.File("Server.pfx");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    harness.AddThroughDialog(path);
    ASSERT_EQ(harness.Grid().TextMatrix(1, 2), "Server.pfx") << "the hidden column holds the bare name";

    const QList<QAccessibleInterface*> lists = Find("File list", QAccessible::Table);
    ASSERT_EQ(lists.size(), 1);
    QAccessibleInterface* list = lists[0];
    EXPECT_EQ(list->object(), &harness.Grid());
    QAccessibleTableInterface* table = list->tableInterface();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->columnCount(), 3);
    EXPECT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->columnDescription(0), "Sr. No.");
    EXPECT_EQ(table->columnDescription(1), "File Name");
    EXPECT_EQ(table->columnDescription(2), "Status");

    QStringList headers;
    QStringList cells;
    ASSERT_EQ(list->childCount(), 6);
    for (int i = 0; i < list->childCount(); ++i) {
        QAccessibleInterface* child = list->child(i);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(list->indexOfChild(child), i);
        EXPECT_EQ(child->parent(), list);
        (child->role() == QAccessible::ColumnHeader ? headers : cells) << child->text(QAccessible::Name);
    }
    EXPECT_EQ(headers, (QStringList{"Sr. No.", "File Name", "Status"}));
    EXPECT_EQ(cells, (QStringList{"1", path, ""}));

    QAccessibleTableCellInterface* status = table->cellAt(0, 2)->tableCellInterface();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->columnIndex(), 2);
    EXPECT_EQ(status->rowIndex(), 0);
    ASSERT_EQ(status->columnHeaderCells().size(), 1);
    EXPECT_EQ(status->columnHeaderCells()[0]->text(QAccessible::Name), "Status");
    EXPECT_EQ(table->cellAt(0, 3), nullptr);

    // A cell found by its place on the screen is the same one.
    QAccessibleInterface* pathCell = table->cellAt(0, 1);
    EXPECT_EQ(list->childAt(pathCell->rect().center().x(), pathCell->rect().center().y()), pathCell);

    // Selecting the row through the table selects it in the list.
    EXPECT_TRUE(table->selectRow(0));
    EXPECT_EQ(table->selectedRows(), QList<int>{0});
    EXPECT_EQ(table->selectedCellCount(), 3);
    EXPECT_TRUE(pathCell->state().selected);

    // A removed row takes its cells with it.
    harness.Grid().RemoveItem(1);
    EXPECT_EQ(table->rowCount(), 0);
    EXPECT_EQ(list->childCount(), 3);
    EXPECT_EQ(table->cellAt(0, 1), nullptr);
}

TEST_F(MainWindowAccessibleTest, ProgressBarIsNamedAndDescribedByTheRunsText) {
    harness.Show();
    TempDir temp;
    for (const char* name : {"a.pfx", "b.pfx"}) {
        QFile file(temp.File(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        harness.AddThroughDialog(temp.File(name));
    }
    auto* bar = harness.Control<QProgressBar>("pb");
    QAccessibleInterface* progress = QAccessible::queryAccessibleInterface(bar);
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(progress->text(QAccessible::Name), "Progress");
    EXPECT_TRUE(progress->text(QAccessible::Description).isEmpty());

    QStringList seen;
    harness.yield.afterYield = [&](int) { seen << progress->text(QAccessible::Description); };
    harness.SetPasswords("pw", "pw");
    harness.ProceedConfirmed();
    harness.yield.afterYield = nullptr;
    EXPECT_EQ(seen, (QStringList{"Generating File (1 of 2)", "Generating File (2 of 2)"}));
    EXPECT_TRUE(progress->text(QAccessible::Description).isEmpty()) << "no description once the run is over";
}

std::vector<std::pair<QAccessible::Event, QString>>* heard = nullptr;

void Record(QAccessibleEvent* event) {
    if (!heard || event->object() == nullptr) return;
    QAccessibleInterface* target = event->accessibleInterface();
    heard->emplace_back(event->type(), target ? target->text(QAccessible::Name) : QStringLiteral("<none>"));
}

// Qt passes these on only while an accessibility bus listens, which the offscreen platform never
// has: ctest runs this case on a virtual display with a private bus.
TEST_F(MainWindowAccessibleTest, FocusAndSelectionAnnounceTheCellTheUserIsOn) {
    const bool onBus = qEnvironmentVariableIsSet("KIV_A11Y_BUS");
    for (int i = 0; onBus && !QAccessible::isActive() && i < 250; ++i) QTest::qWait(20);
    if (!QAccessible::isActive()) {
        if (onBus) FAIL() << "the accessibility bus did not come up";
        GTEST_SKIP() << "no accessibility bus on this platform";
    }
    harness.Show();
    harness.AddThroughDialog("/nowhere/First.pfx");
    harness.AddThroughDialog("/nowhere/Second.pfx");
    grid::FlexGrid& grid = harness.Grid();
    harness.Window().activateWindow();
    grid.setFocus();
    QTRY_VERIFY(grid.hasFocus());

    std::vector<std::pair<QAccessible::Event, QString>> events;
    heard = &events;
    const QAccessible::UpdateHandler previous = QAccessible::installUpdateHandler(Record);
    grid.setCurrentIndex(grid.Model().index(1, main_window::kPathCol));
    QAccessible::installUpdateHandler(previous);
    heard = nullptr;

    bool focus = false;
    bool selected = false;
    for (const auto& [type, name] : events) {
        if (type == QAccessible::Focus) {
            EXPECT_EQ(name, "/nowhere/Second.pfx");
            focus = true;
        }
        if (type == QAccessible::SelectionAdd) {
            EXPECT_TRUE(name == "2" || name == "/nowhere/Second.pfx") << name.toStdString();
            selected = true;
        }
    }
    EXPECT_TRUE(focus);
    EXPECT_TRUE(selected);
}

}  // namespace
}  // namespace kiv::testing
