// What a screen reader finds in the search window while it searches.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <filesystem>
#include <fstream>

#include "controls/KivBtn/KivBtn.h"
#include "platform/grid/FlexGrid.h"
#include "search/frmsearch.h"
#include "support/MainWindowHarness.h"

namespace kiv::testing {
namespace {

search::frmsearch* OpenSearchWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<search::frmsearch*>(widget)) return window;
    }
    return nullptr;
}

TEST(SearchWindowAccessibleTest, WindowLabelsAndStopAreNamedInFullWhileSearching) {
    MainWindowHarness harness;
    harness.Show();
    TempDir temp;
    // A folder name long enough that the label shows it shortened.
    const std::filesystem::path folder = temp.Path() / std::string(150, 'f');
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "one.pfx") << "x";
    const QString root = QString::fromStdString(temp.Path().string());
    const QString inner = QString::fromStdString(folder.string());

    bool checked = false;
    harness.yield.afterYield = [&](int) {
        search::frmsearch* window = OpenSearchWindow();
        if (checked || !window || window->FolderCaption() != "[" + inner + "]") return;
        checked = true;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(window);
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->text(QAccessible::Name), "Searching for Pfx Files");
        EXPECT_EQ(iface->role(), QAccessible::Dialog);

        auto* lblfld = window->Host().As<QLabel>("lblfld");
        ASSERT_NE(lblfld->text(), window->FolderCaption()) << "the label shows the path shortened";
        EXPECT_EQ(QAccessible::queryAccessibleInterface(lblfld)->text(QAccessible::Name), "[" + inner + "]");
        auto* lblmain = window->Host().As<QLabel>("lblmain");
        EXPECT_EQ(QAccessible::queryAccessibleInterface(lblmain)->text(QAccessible::Name),
                  "Searching for Pfx Files ... [" + root + "]");

        QAccessibleInterface* stop =
            QAccessible::queryAccessibleInterface(window->Host().As<controls::KivBtn>("cmdstop"));
        EXPECT_EQ(stop->role(), QAccessible::Button);
        EXPECT_EQ(stop->text(QAccessible::Name), "Stop");
        EXPECT_EQ(stop->text(QAccessible::Accelerator), "Alt+S");
        QAccessibleInterface* up = stop->parent();
        while (up && up != iface) up = up->parent();
        EXPECT_EQ(up, iface) << "Stop is found inside the search window";
        // Pressing it stops the search as a click does.
        stop->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    };
    harness.prompts.AnswerChooseFolder(root);
    harness.Window().cmdsearch_Click();
    harness.yield.afterYield = nullptr;
    EXPECT_TRUE(checked);
    EXPECT_EQ(harness.Grid().Rows(), 1) << "the press stopped the search before the file";
    EXPECT_EQ(OpenSearchWindow(), nullptr);
}

}  // namespace
}  // namespace kiv::testing
