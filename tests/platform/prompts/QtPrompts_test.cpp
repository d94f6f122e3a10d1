// The real dialogs, driven from a timer while they run their modal loop.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <fstream>

#include "platform/prompts/Prompts.h"
#include "support/MainWindowHarness.h"

namespace kiv::prompts {
namespace {

// Runs `act` on the modal dialog of type T once it is up, and again on every tick while it stays
// up: the file dialog reads folders in the background and may refuse an accept until it has.
// The timer lives until the end of the test's scope.
template <typename T>
std::unique_ptr<QTimer> WhenShown(std::function<void(T*)> act) {
    auto timer = std::make_unique<QTimer>();
    QObject::connect(timer.get(), &QTimer::timeout, [act] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) act(dialog);
    });
    timer->start(20);
    return timer;
}

TEST(QtPromptsTest, PfxFilterMatchesTheExtensionInAnyLetterCase) {
    EXPECT_EQ(ToQtNameFilter("Pfx Files|*.Pfx"), "Pfx Files (*.[pP][fF][xX])");
    kiv::testing::TempDir dir;
    for (const char* name : {"a.pfx", "B.PFX", "c.Pfx", "d.txt", "e.pfx.bak"})
        std::ofstream(dir.File(name).toStdString());
    QDir folder(dir.File(""));
    const QStringList shown = folder.entryList({"*.[pP][fF][xX]"}, QDir::Files, QDir::Name);
    EXPECT_EQ(shown, (QStringList{"B.PFX", "a.pfx", "c.Pfx"}));
}

TEST(QtPromptsTest, QuestionCarriesTitleIconAndDefaultNo) {
    QtPrompts prompts;
    QString title, text;
    bool defaultIsNo = false;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    auto answer = WhenShown<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
        box->defaultButton()->click();  // what Enter does
    });
    Message message{"Kiv Pfx Utility", "Do you really want to Quit?", Icon::Question, Buttons::YesNo,
                    Answer::No};
    EXPECT_EQ(prompts.ShowMessage(nullptr, message), Answer::No);
    EXPECT_EQ(title, "Kiv Pfx Utility");
    EXPECT_EQ(text, "Do you really want to Quit?");
    EXPECT_EQ(icon, QMessageBox::Question);
    EXPECT_TRUE(defaultIsNo);

    answer = WhenShown<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    EXPECT_EQ(prompts.ShowMessage(nullptr, message), Answer::Yes);
}

TEST(QtPromptsTest, OpenDialogShowsThePfxFilterAndCancelGivesNothing) {
    QtPrompts prompts;
    QStringList filters;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    auto answer = WhenShown<QFileDialog>([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        mode = dialog->fileMode();
        dialog->reject();
    });
    EXPECT_FALSE(prompts.OpenFile(nullptr, "Pfx Files|*.Pfx", QString()));
    EXPECT_EQ(filters, QStringList{"Pfx Files (*.[pP][fF][xX])"});
    EXPECT_EQ(mode, QFileDialog::ExistingFile);
}

// The names the dialog's file list offers, once its background reading has listed `expected`
// entries (or after a few seconds, whatever it has by then).
QStringList ListedNames(QFileDialog& dialog, qsizetype expected) {
    QStringList names;
    QElapsedTimer clock;
    clock.start();
    do {
        QTest::qWait(20);
        names.clear();
        for (const auto* view : dialog.findChildren<QAbstractItemView*>()) {
            if (view->objectName() != QLatin1String("listView")) continue;
            const QAbstractItemModel* model = view->model();
            const QModelIndex root = view->rootIndex();
            for (int row = 0; row < model->rowCount(root); ++row) {
                const QModelIndex at = model->index(row, 0, root);
                if (model->flags(at) & Qt::ItemIsEnabled) names << at.data().toString();
            }
        }
    } while (names.size() < expected && clock.elapsed() < 5000);
    names.sort();
    return names;
}

// The dialog as the user sees it, shown without a modal loop: its type list reads "Pfx Files" and
// its file list offers .pfx files in every letter case and nothing else.
TEST(QtPromptsTest, OpenDialogTypeListReadsPfxFilesAndListsEveryLetterCase) {
    kiv::testing::TempDir dir;
    for (const char* name : {"a.pfx", "B.PFX", "c.Pfx", "d.txt", "e.pfx.bak", "f.pfxx"})
        std::ofstream(dir.File(name).toStdString());
    const auto dialog = MakeOpenFileDialog(nullptr, "Pfx Files|*.Pfx", QString());
    dialog->setDirectory(dir.File(""));
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));

    const auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    ASSERT_NE(types, nullptr) << "not Qt's own dialog";
    ASSERT_EQ(types->count(), 1);
    EXPECT_EQ(types->itemText(0), "Pfx Files");
    EXPECT_EQ(dialog->nameFilters(), QStringList{"Pfx Files (*.[pP][fF][xX])"});
    EXPECT_EQ(ListedNames(*dialog, 3), (QStringList{"B.PFX", "a.pfx", "c.Pfx"}));
    const auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), "") << "the dialog starts with an empty file name";
    dialog->close();
}

}  // namespace
}  // namespace kiv::prompts
