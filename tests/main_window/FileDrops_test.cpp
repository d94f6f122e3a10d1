// Files and folders dropped onto the main window, delivered as synthetic drag and drop events.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "controls/KivBtn/KivBtn.h"
#include "platform/formhost/ListPath.h"
#include "platform/grid/FlexGrid.h"
#include "search/frmsearch.h"
#include "support/FakeCertificate.h"
#include "support/MainWindowHarness.h"

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace kiv::testing {
namespace {

namespace fs = std::filesystem;
using prompts::Answer;
using search::frmsearch;

frmsearch* OpenSearchWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<frmsearch*>(widget)) return window;
    }
    return nullptr;
}

std::unique_ptr<QMimeData> Files(const QStringList& paths) {
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
    data->setUrls(urls);
    return data;
}

class FileDropsTest : public ::testing::Test {
  protected:
    FileDropsTest() : harness(certificates.Factory()) {}
    void SetUp() override { harness.Show(); }
    void TearDown() override {
        harness.yield.afterYield = nullptr;
        EXPECT_EQ(OpenSearchWindow(), nullptr);
    }

    QString Make(const fs::path& relative) {
        const fs::path file = temp.Path() / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "x";
        return QString::fromStdString(file.string());
    }
    QString Folder(const fs::path& relative) {
        fs::create_directories(temp.Path() / relative);
        return QString::fromStdString((temp.Path() / relative).string());
    }

    // Drags `data` over the widget `under` the pointer (the file list unless given) and drops
    // it, as a file manager does; the event loop then gets its turn. True when the window took
    // the drop. Like the window system, the events go to the first widget from `under` up to its
    // window that takes drops at all.
    bool Drop(const QMimeData& data, QWidget* under = nullptr,
              Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction, bool thenRunEvents = true) {
        QWidget* target = under ? under : harness.Grid().viewport();
        while (!target->isWindow() && !target->acceptDrops()) target = target->parentWidget();
        if (!target->acceptDrops()) return false;
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted()) return false;
        EXPECT_EQ(enter.dropAction(), Qt::CopyAction) << "a drop never moves the user's files";
        QDropEvent drop(QPointF(at), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        if (!drop.isAccepted()) return false;
        EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
        if (thenRunEvents) QCoreApplication::processEvents();
        return true;
    }
    bool Drop(const QStringList& paths) { return Drop(*Files(paths)); }

    QStringList Paths() {
        QStringList paths;
        for (int row = 1; row < harness.Grid().Rows(); ++row) paths << harness.Path(row);
        return paths;
    }
    void ExpectNumberedAndFitted() {
        const QFontMetrics metrics(harness.Grid().font());
        for (int row = 1; row < harness.Grid().Rows(); ++row) {
            EXPECT_EQ(harness.Grid().TextMatrix(row, 0), QString::number(row));
            EXPECT_TRUE(harness.Status(row).isEmpty());
            EXPECT_GE(harness.Grid().columnWidth(1), metrics.horizontalAdvance(harness.Path(row)))
                << "row " << row;
        }
    }

    FakeCertificates certificates;
    MainWindowHarness harness;
    TempDir temp;
};

TEST_F(FileDropsTest, DroppedPfxFilesAreListedInDropOrderAsAddFileListsThem) {
    const QString deep = QString(80, 'd');
    const QString a = Make("a.pfx");
    const QString upper = Make(fs::path(deep.toStdString()) / "B.PFX");
    const QString mixed = Make("c.Pfx");
    // Add File tests the whole path, so a file named just ".pfx" is listed too.
    const QString bare = Make(".pfx");
    const QStringList ignored = {Make("note.txt"), Make("x.pfx.bak"), temp.File("missing.pfx")};

    EXPECT_TRUE(Drop(QStringList{upper, ignored[0], a, bare, mixed, ignored[1], ignored[2]}));

    EXPECT_EQ(Paths(), (QStringList{upper, a, bare, mixed}));
    EXPECT_EQ(harness.Grid().TextMatrix(1, 2), "B.PFX") << "the bare name, as Add File keeps it";
    EXPECT_TRUE(harness.prompts.Asked().empty()) << "no dialog and no message for a drop";
    ExpectNumberedAndFitted();
}

TEST_F(FileDropsTest, DroppedNamesThatAreNotUtf8KeepTheirBytes) {
    // A file manager sends such names percent-encoded byte for byte.
    const std::string folder = temp.Path().string();
    const std::string e9 = folder + "/caf\xe9.pfx", e8 = folder + "/caf\xe8.pfx";
    std::ofstream(e9) << "x";
    std::ofstream(e8) << "x";
    QMimeData data;
    QByteArray base = QByteArray("file://") + QByteArray::fromStdString(folder).toPercentEncoding("/");
    data.setUrls({QUrl::fromEncoded(base + "/caf%E9.pfx"), QUrl::fromEncoded(base + "/caf%E8.pfx")});

    EXPECT_TRUE(Drop(data));

    ASSERT_EQ(harness.Grid().Rows(), 3) << "two files, not one name shown twice";
    EXPECT_EQ(forms::ListTextToPath(harness.Path(1)), e9);
    EXPECT_EQ(forms::ListTextToPath(harness.Path(2)), e8);
    EXPECT_TRUE(harness.prompts.Asked().empty());
}

TEST_F(FileDropsTest, AListedFileDroppedAloneGetsAddFilesMessageAmongOthersItIsSkippedSilently) {
    const QString a = Make("a.pfx");
    const QString b = Make("b.pfx");
    ASSERT_TRUE(harness.Window().AddFileToList(a, "a.pfx"));

    harness.prompts.AnswerMessage(Answer::Ok);
    EXPECT_TRUE(Drop(QStringList{a}));
    ASSERT_EQ(harness.prompts.Asked().size(), 1u);
    const AskedPrompt& asked = harness.prompts.Asked()[0];
    EXPECT_EQ(asked.kind, AskedPrompt::Kind::Message);
    EXPECT_EQ(asked.text, "File already exists in the List.");
    EXPECT_EQ(asked.title, "Kiv Pfx Utility");
    EXPECT_EQ(asked.icon, prompts::Icon::Information);
    EXPECT_EQ(asked.buttons, prompts::Buttons::Ok);
    EXPECT_EQ(harness.Grid().Rows(), 2);

    EXPECT_TRUE(Drop(QStringList{a, b}));
    EXPECT_EQ(harness.prompts.Asked().size(), 1u) << "no message when several files are dropped";
    EXPECT_EQ(Paths(), (QStringList{a, b}));

    // A folder among the items makes a drop of several too.
    EXPECT_TRUE(Drop(QStringList{Folder("empty"), b}));
    EXPECT_EQ(harness.prompts.Asked().size(), 1u);
    EXPECT_EQ(harness.Grid().Rows(), 3);
}

TEST_F(FileDropsTest, DroppedFolderIsSearchedInTheModalSearchWindowAfterTheFilesBeforeIt) {
    const QString loose = Make("loose.pfx");
    const QString root = Folder("tree");
    Make("tree/one.pfx");
    Make("tree/sub/two.PFX");
    Make("tree/sub/deeper/three.pfx");
    Make("tree/sub/skip.txt");

    bool seen = false;
    harness.yield.afterYield = [&](int count) {
        if (count != 1) return;
        frmsearch* window = OpenSearchWindow();
        ASSERT_NE(window, nullptr);
        seen = true;
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(window->isModal());
        EXPECT_EQ(window->parentWidget(), &harness.Window());
        EXPECT_EQ(window->SrchDir(), root);
        EXPECT_FALSE(harness.Grid().isVisible()) << "the grid is hidden while rows come in";
        EXPECT_EQ(Paths(), QStringList{loose}) << "the file dropped before the folder is already listed";
        QMimeData more;
        more.setUrls({QUrl::fromLocalFile(loose)});
        EXPECT_FALSE(Drop(more, &harness.Window())) << "no drop while a search runs";
    };
    EXPECT_TRUE(Drop(QStringList{loose, root}));

    EXPECT_TRUE(seen);
    EXPECT_EQ(Paths(),
              (QStringList{loose, root + "/one.pfx", root + "/sub/two.PFX", root + "/sub/deeper/three.pfx"}));
    EXPECT_TRUE(harness.prompts.Asked().empty()) << "no folder chooser: the folder came with the drop";
    EXPECT_TRUE(harness.Grid().isVisible());
    EXPECT_EQ(harness.Window().focusWidget(), harness.Control<controls::KivBtn>("cmdsearch"));
    ExpectNumberedAndFitted();

    // Dropped again, everything is listed already and nothing is said.
    EXPECT_TRUE(Drop(QStringList{root}));
    EXPECT_EQ(harness.Grid().Rows(), 5);
    EXPECT_TRUE(harness.prompts.Asked().empty());
}

TEST_F(FileDropsTest, StopInTheSearchWindowOfADroppedFolderKeepsWhatWasFound) {
    const QString root = Folder("tree");
    for (const char* name : {"f1.pfx", "f2.pfx", "f3.pfx", "sub/g.pfx"}) Make(fs::path("tree") / name);
    // Yield 1 enters the folder, 2 comes before its first file, 3 before its second.
    harness.yield.afterYield = [](int count) {
        if (count != 3) return;
        frmsearch* window = OpenSearchWindow();
        ASSERT_NE(window, nullptr);
        QTest::mouseClick(window->Host().As<controls::KivBtn>("cmdstop"), Qt::LeftButton);
    };
    EXPECT_TRUE(Drop(QStringList{root}));
    ASSERT_EQ(harness.Grid().Rows(), 2);
    EXPECT_TRUE(harness.Path(1).startsWith(root + "/f")) << harness.Path(1).toStdString();
    EXPECT_TRUE(harness.Grid().isVisible());
}

TEST_F(FileDropsTest, DropsAreRefusedDuringAProtectionRun) {
    const QString a = Make("a.pfx");
    const QString b = Make("b.pfx");
    const QString late = Make("late.pfx");
    ASSERT_TRUE(harness.Window().AddFileToList(a, "a.pfx"));
    ASSERT_TRUE(harness.Window().AddFileToList(b, "b.pfx"));
    harness.SetPasswords("Secret", "Secret");

    // Taken just before the run starts; its turn comes at the run's first yield.
    ASSERT_TRUE(Drop(*Files({late}), nullptr, Qt::CopyAction, false));
    int checked = 0;
    harness.yield.afterYield = [&](int) {
        ASSERT_TRUE(harness.Window().InRun());
        ++checked;
        auto data = Files({late, temp.Path().c_str()});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&harness.Window(), &enter);
        EXPECT_FALSE(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&harness.Window(), &drop);
        EXPECT_FALSE(drop.isAccepted());
    };
    harness.ProceedConfirmed();
    harness.yield.afterYield = nullptr;
    QCoreApplication::processEvents();

    EXPECT_EQ(checked, 2);
    EXPECT_EQ(Paths(), (QStringList{a, b}));
    EXPECT_FALSE(OpenSearchWindow());
    EXPECT_FALSE(harness.Status(1).isEmpty()) << "the run went on";

    // After the run drops are taken again.
    EXPECT_TRUE(Drop(QStringList{late}));
    EXPECT_EQ(harness.Grid().Rows(), 4);
}

TEST_F(FileDropsTest, OnlyLocalFilesAreTakenAndNeverAsAMove) {
    const QString a = Make("a.pfx");

    QMimeData web;
    web.setUrls({QUrl("https://example.org/a.pfx")});
    EXPECT_FALSE(Drop(web));
    QMimeData text;
    text.setText(a);
    EXPECT_FALSE(Drop(text));
    EXPECT_FALSE(Drop(*Files({a}), nullptr, Qt::MoveAction)) << "a move-only drag is refused";
    EXPECT_EQ(harness.Grid().Rows(), 1);

    // Dropped on a password box, the file goes to the list and the password stays as it was.
    auto* password = harness.Control<QLineEdit>("txtpass", 0);
    EXPECT_TRUE(Drop(*Files({a}), password));
    EXPECT_EQ(Paths(), QStringList{a});
    EXPECT_TRUE(password->text().isEmpty());
    // And on a button.
    const QString b = Make("b.pfx");
    EXPECT_TRUE(Drop(*Files({b}), harness.Control<controls::KivBtn>("cmdproceed")));
    EXPECT_EQ(harness.Grid().Rows(), 3);
}

}  // namespace
}  // namespace kiv::testing
