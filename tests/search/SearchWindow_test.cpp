// Search Files through the real main window: the chooser, the search window and its walk, Stop,
// closing, and the list and grid it leaves behind.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "controls/KivBtn/KivBtn.h"
#include "platform/grid/FlexGrid.h"
#include "search/frmsearch.h"
#include "support/FakeFileSystem.h"
#include "support/MainWindowHarness.h"

// Readable failure messages for paths.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace kiv::testing {
namespace {

namespace fs = std::filesystem;
using search::frmsearch;

frmsearch* OpenSearchWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<frmsearch*>(widget)) return window;
    }
    return nullptr;
}

void Touch(const fs::path& file) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "x";
}

class SearchWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { harness.Show(); }
    void TearDown() override {
        harness.yield.afterYield = nullptr;
        EXPECT_EQ(OpenSearchWindow(), nullptr) << "every search window is gone after its search";
    }

    // Searches `folder` as if the user chose it in the folder chooser.
    void Search(const QString& folder) {
        harness.prompts.AnswerChooseFolder(folder);
        harness.Window().cmdsearch_Click();
    }
    void UseFake() { harness.UseFileSystem(&fake); }
    // Runs `act` with the open search window at the k-th yield of the next search.
    void AtYield(int k, std::function<void(frmsearch&)> act) {
        const int target = harness.yield.Count() + k;
        harness.yield.afterYield = [target, act = std::move(act)](int count) {
            if (count != target) return;
            frmsearch* window = OpenSearchWindow();
            ASSERT_NE(window, nullptr);
            act(*window);
        };
    }
    QStringList Paths() {
        QStringList paths;
        for (int row = 1; row < harness.Grid().Rows(); ++row) paths << harness.Path(row);
        return paths;
    }
    controls::KivBtn* SearchButton() { return harness.Control<controls::KivBtn>("cmdsearch"); }
    void ExpectListTidied() {
        EXPECT_TRUE(harness.Grid().isVisible());
        EXPECT_EQ(harness.Window().focusWidget(), SearchButton());
        const QFontMetrics metrics(harness.Grid().font());
        for (int row = 1; row < harness.Grid().Rows(); ++row) {
            EXPECT_GE(harness.Grid().columnWidth(1), metrics.horizontalAdvance(harness.Path(row)))
                << "row " << row;
        }
    }

    MainWindowHarness harness;
    TempDir temp;
    FakeFileSystem fake;
};

TEST_F(SearchWindowTest, FindsFilesAtEveryDepthInPreOrderAndTidiesTheList) {
    // Long folder names so that the fitted path column is wider than its width at load.
    const std::string deep(60, 'd');
    const fs::path root = temp.Path();
    Touch(root / "one.pfx");
    Touch(root / "a" / "two.PFX");
    Touch(root / "a" / deep / "three.Pfx");
    Touch(root / "a" / deep / "skip.txt");
    Touch(root / "a" / ".pfx");
    Touch(root / "a" / "x.pfx.bak");

    Search(QString::fromStdString(root.string()));

    const QString r = QString::fromStdString(root.string());
    EXPECT_EQ(Paths(), (QStringList{r + "/one.pfx", r + "/a/two.PFX",
                                    r + "/a/" + QString::fromStdString(deep) + "/three.Pfx"}));
    for (int row = 1; row < harness.Grid().Rows(); ++row) {
        EXPECT_EQ(harness.Grid().TextMatrix(row, 0), QString::number(row));
        EXPECT_TRUE(harness.Status(row).isEmpty());
    }
    EXPECT_EQ(harness.Grid().TextMatrix(2, 2), "two.PFX");
    ASSERT_EQ(harness.prompts.Asked().size(), 1u) << "no message after a search";
    EXPECT_EQ(harness.prompts.Asked()[0].kind, AskedPrompt::Kind::ChooseFolder);
    EXPECT_EQ(harness.prompts.Asked()[0].text, "C:\\");
    ExpectListTidied();
}

TEST_F(SearchWindowTest, ListedFilesAreSkippedSilentlyAndASecondSearchAddsNothing) {
    const fs::path root = temp.Path();
    Touch(root / "a.pfx");
    Touch(root / "A.pfx");  // another file, not another name of a.pfx
    Touch(root / "sub" / "b.pfx");
    const QString r = QString::fromStdString(root.string());
    harness.AddThroughDialog(r + "/a.pfx");

    Search(r);
    EXPECT_EQ(Paths(), (QStringList{r + "/a.pfx", r + "/A.pfx", r + "/sub/b.pfx"}));
    Search(r);
    EXPECT_EQ(harness.Grid().Rows(), 4);
    EXPECT_EQ(harness.prompts.Asked().size(), 3u)
        << "the open-file dialog and two folder choices, no message";
    ExpectListTidied();
}

TEST_F(SearchWindowTest, ListsEachFolderInNameOrderAndASecondSearchGivesTheSameRows) {
    const fs::path root = temp.Path();
    // Created in an order no name order matches: mixed letter case, numbers, subfolders.
    for (const char* name : {"sub10/z.pfx", "f10.pfx", "Sub2/b.pfx", "B.PFX", "f2.pfx", "sub10/A.pfx",
                             "a.pfx", "sub1/x.pfx", "F1.pfx", "Sub2/a.pfx", "c.txt"})
        Touch(root / name);
    const QString r = QString::fromStdString(root.string());
    const QStringList expected{r + "/a.pfx",      r + "/B.PFX",      r + "/F1.pfx",      r + "/f10.pfx",
                               r + "/f2.pfx",     r + "/sub1/x.pfx", r + "/sub10/A.pfx", r + "/sub10/z.pfx",
                               r + "/Sub2/a.pfx", r + "/Sub2/b.pfx"};

    Search(r);
    EXPECT_EQ(Paths(), expected);
    harness.Grid().SetRows(1);
    Search(r);
    EXPECT_EQ(Paths(), expected);
}

TEST_F(SearchWindowTest, CancelInTheChooserChangesNothing) {
    harness.AddThroughDialog(temp.File("kept.pfx"));
    auto* password = harness.Control<QLineEdit>("txtpass", 0);
    password->setFocus();
    const int width = harness.Grid().columnWidth(1);

    Search(QString());  // nothing chosen

    EXPECT_EQ(harness.Grid().Rows(), 2);
    EXPECT_TRUE(harness.Grid().isVisible());
    EXPECT_EQ(harness.Window().focusWidget(), password);
    EXPECT_EQ(harness.Grid().columnWidth(1), width);
}

TEST_F(SearchWindowTest, WindowLooksAsDesignedWhileItSearches) {
    UseFake();
    const QString longDir = "/" + QString(200, 'x');
    fake.Add(longDir.toStdString(), {"a.pfx"}, {});
    bool seen = false;
    AtYield(1, [&](frmsearch& window) {
        seen = true;
        EXPECT_TRUE(window.isVisible());
        EXPECT_TRUE(window.isModal());
        EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
        EXPECT_EQ(window.parentWidget(), &harness.Window());
        EXPECT_EQ(window.SearchState(), "1");
        EXPECT_EQ(window.palette().color(QPalette::Window), QColor(0xC0, 0xC0, 0xFF));
        // Centred on the main window, give or take a pixel of rounding.
        const QPoint offset = window.frameGeometry().center() - harness.Window().frameGeometry().center();
        EXPECT_LE(offset.manhattanLength(), 2);
        EXPECT_FALSE(harness.Grid().isVisible()) << "the grid is hidden while rows come in";

        EXPECT_EQ(window.MainCaption(), "Searching for Pfx Files ... [" + longDir + "]");
        EXPECT_EQ(window.FolderCaption(), "[" + longDir + "]");
        auto* heading = window.Host().As<QLabel>("lblmain");
        auto* folder = window.Host().As<QLabel>("lblfld");
        ASSERT_TRUE(heading && folder);
        for (QLabel* label : {heading, folder}) {
            // A long path is shortened to fit, keeping its end, and shown whole as a tip.
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
            EXPECT_TRUE(label->text().endsWith("xx]"));
            EXPECT_TRUE(label->toolTip().endsWith(longDir + "]"));
            EXPECT_LE(label->geometry().right(), window.width());
        }
        EXPECT_EQ(folder->palette().color(QPalette::WindowText), QColor(Qt::red));

        auto* stop = window.Host().As<controls::KivBtn>("cmdstop");
        ASSERT_NE(stop, nullptr);
        EXPECT_EQ(stop->Caption(), "  &Stop");
        EXPECT_EQ(stop->ButtonType(), 3);
        EXPECT_TRUE(stop->ReadProblems().isEmpty()) << stop->ReadProblems().join("; ").toStdString();
        EXPECT_LT(stop->geometry().right(), window.width());
    });
    Search(longDir);
    EXPECT_TRUE(seen);
    EXPECT_EQ(Paths(), QStringList{longDir + "/a.pfx"});
}

class SearchStopTest : public SearchWindowTest {
  protected:
    void SetUp() override {
        SearchWindowTest::SetUp();
        UseFake();
        fake.Add("/r", {"f1.pfx", "f2.pfx", "f3.pfx"}, {"s"});
        fake.Add("/r/s", {"g.pfx"}, {});
    }
};

TEST_F(SearchStopTest, StopAtTheKthYieldKeepsRowsFoundSoFarAndEntersNoFurtherFolder) {
    // Yield 1 enters /r, 2 comes before f1, 3 before f2.
    AtYield(3, [](frmsearch& window) {
        QTest::mouseClick(window.Host().As<controls::KivBtn>("cmdstop"), Qt::LeftButton);
        EXPECT_EQ(window.SearchState(), "2");
        EXPECT_TRUE(window.isVisible()) << "the window waits for the walk to notice";
    });
    Search("/r");
    EXPECT_EQ(Paths(), QStringList{"/r/f1.pfx"});
    EXPECT_EQ(fake.FilesListed("/r/s"), 0);
    ExpectListTidied();
}

TEST_F(SearchStopTest, ClosingDuringTheWalkActsAsStop) {
    AtYield(3, [](frmsearch& window) {
        EXPECT_FALSE(window.close()) << "the window stays until the walk has ended";
        EXPECT_EQ(window.SearchState(), "2");
        EXPECT_NE(window.Host().Widget("lblfld"), nullptr);
    });
    Search("/r");
    EXPECT_EQ(Paths(), QStringList{"/r/f1.pfx"});
    EXPECT_EQ(fake.FilesListed("/r/s"), 0);
    ExpectListTidied();
}

TEST_F(SearchStopTest, ASecondActivationDoesNotRestartTheWalk) {
    AtYield(2, [](frmsearch& window) {
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(&window, &activate);
        window.Form_Activate();
        EXPECT_EQ(window.SearchState(), "1");
    });
    Search("/r");
    EXPECT_EQ(fake.FilesListed("/r"), 1);
    EXPECT_EQ(fake.FilesListed("/r/s"), 1);
    EXPECT_EQ(Paths(), (QStringList{"/r/f1.pfx", "/r/f2.pfx", "/r/f3.pfx", "/r/s/g.pfx"}));
}

TEST_F(SearchWindowTest, RootIsJoinedWithoutDoubledSeparatorAndUnreadableFoldersAreSkipped) {
    UseFake();
    fake.Add("/", {"top.pfx"}, {"locked", "certs"});
    fake.Add("/locked", {}, {"inner"}).filesOk = false;
    fake.Add("/locked/inner", {"in.pfx"}, {});
    fake.Add("/certs", {"c.pfx"}, {"gone"});  // "gone" cannot be opened at all
    QStringList captions;
    harness.yield.afterYield = [&](int) {
        if (frmsearch* window = OpenSearchWindow()) {
            if (captions.isEmpty() || captions.back() != window->FolderCaption())
                captions << window->FolderCaption();
        }
    };
    Search("/");
    EXPECT_EQ(captions, (QStringList{"[/]", "[/locked]", "[/locked/inner]", "[/certs]", "[/certs/gone]"}));
    EXPECT_EQ(Paths(), (QStringList{"/top.pfx", "/locked/inner/in.pfx", "/certs/c.pfx"}));
    ExpectListTidied();
}

// Plays a window manager that never activates the window.
class SwallowActivation final : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::WindowActivate; }
};

// The window on its own, without the launcher.
class SearchWindowAloneTest : public ::testing::Test {
  protected:
    std::unique_ptr<frmsearch> Make() {
        search::SearchServices services;
        services.fileSystem = [this] { return local.get(); };
        services.fonts = &fonts;
        services.yield = &yield;
        services.addFile = [this](const QString& path, const QString&) {
            added << path;
            return true;
        };
        QString error;
        auto window = frmsearch::Create(std::move(services), nullptr, &error);
        EXPECT_NE(window, nullptr) << error.toStdString();
        if (window) window->Form_Load();
        return window;
    }
    std::unique_ptr<filesystem::FileSystem> local = filesystem::CreateLocalFileSystem();
    forms::QtFontSystem fonts;
    Yield yield;
    QStringList added;
    TempDir temp;
};

TEST_F(SearchWindowAloneTest, WalkStartsEvenWhenTheWindowIsNeverActivated) {
    Touch(temp.Path() / "only.pfx");
    auto window = Make();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->SearchState(), "");
    SwallowActivation noActivation;
    window->installEventFilter(&noActivation);
    // Should the walk never start, close the window rather than wait for ever.
    QTimer::singleShot(5000, window.get(), [&window] { window->close(); });
    window->SetSrchDir(QString::fromStdString(temp.Path().string()));
    window->ShowModal();
    EXPECT_TRUE(window->Unloaded());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(added, QStringList{QString::fromStdString((temp.Path() / "only.pfx").string())});
}

TEST_F(SearchWindowAloneTest, StopOrCloseBeforeTheWalkBeginsStillClosesTheWindow) {
    Touch(temp.Path() / "only.pfx");
    for (const bool viaClose : {false, true}) {
        auto window = Make();
        ASSERT_NE(window, nullptr);
        window->SetSrchDir(QString::fromStdString(temp.Path().string()));
        if (viaClose) {
            window->show();
            EXPECT_TRUE(window->close());
        } else {
            window->cmdstop_Click();
        }
        window->ShowModal();  // must return, not wait for a walk that will never come
        EXPECT_TRUE(window->Unloaded());
        EXPECT_TRUE(added.isEmpty());
    }
}

}  // namespace
}  // namespace kiv::testing
