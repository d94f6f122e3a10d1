// The real dialogs, driven from a timer while they run their modal loop.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

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
    for (const char* name : {"a.pfx", "B.PFX", "c.Pfx", "d.txt", "e.pfx.bak"}) std::ofstream(dir.File(name).toStdString());
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
    Message message{"Kiv Pfx Utility", "Do you really want to Quit?", Icon::Question, Buttons::YesNo, Answer::No};
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

}  // namespace
}  // namespace kiv::prompts
