// Files whose names hold bytes that are not UTF-8, beside UTF-8 names with accents and combining
// marks: found, listed, protected and named from their own bytes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/formhost/ListPath.h"
#include "platform/grid/FlexGrid.h"
#include "search/frmsearch.h"
#include "support/MainWindowHarness.h"
#include "support/pkcs12/Pkcs12Maker.h"

namespace kiv::testing {
namespace {

namespace fs = std::filesystem;
using forms::ListTextToPath;
using forms::PathToListText;

// Bare names as bytes: Latin-1 é and è, 0xFF, a lone continuation byte, precomposed é in UTF-8 and
// e with a combining acute.
const std::vector<std::string> kNames = {"caf\xe9.pfx", "caf\xe8.pfx",     "caf\xff.pfx",
                                         "caf\x80.pfx", "caf\xc3\xa9.pfx", "cafe\xcc\x81.pfx"};

std::string OutputName(const std::string& name) {
    return name.substr(0, name.size() - 4) + "_Password.Pfx";
}

class OddNamesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        harness.Show();
        harness.SetPasswords("pw", "pw");
        root = dir.Path() / std::string("d\xe9p\xf4t");  // the searched folder's own name is no UTF-8 either
        fs::create_directory(root);
        for (const std::string& name : kNames)
            ASSERT_TRUE(WritePfx((root / name).string(), PfxVariant::Pbes2Aes));
    }
    std::vector<std::string> ListedPaths() {
        std::vector<std::string> paths;
        for (int row = 1; row < harness.Grid().Rows(); ++row)
            paths.push_back(ListTextToPath(harness.Path(row)));
        return paths;
    }

    TempDir dir;
    fs::path root;
    MainWindowHarness harness;
};

TEST_F(OddNamesTest, SearchListsEachNameOnceAndTheRunWritesEachOutputFromItsOwnBytes) {
    // The folder as a chooser that decodes names as UTF-8 hands it back.
    harness.prompts.AnswerChooseFolder(QString::fromUtf8(root.string().c_str()));
    QStringList folderCaptions;
    harness.yield.afterYield = [&](int) {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* search = qobject_cast<search::frmsearch*>(widget))
                folderCaptions << search->Host().As<QLabel>(QStringLiteral("lblfld"))->text();
        }
    };
    harness.Window().cmdsearch_Click();
    harness.yield.afterYield = nullptr;
    ASSERT_FALSE(folderCaptions.isEmpty());
    EXPECT_TRUE(folderCaptions.first().isValidUtf16());
    EXPECT_TRUE(folderCaptions.first().contains(QString::fromUtf8("d\xef\xbf\xbdp\xef\xbf\xbdt")))
        << folderCaptions.first().toStdString();

    std::set<std::string> expected;
    for (const std::string& name : kNames) expected.insert((root / name).string());
    const std::vector<std::string> listed = ListedPaths();
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), expected);
    EXPECT_EQ(listed.size(), kNames.size());
    // Each row shows its own text, and the shown names of the Latin-1 files carry a visible mark.
    std::set<QString> shown;
    const QFontMetrics metrics(harness.Grid().font());
    for (int row = 1; row < harness.Grid().Rows(); ++row) {
        const QString text =
            harness.Grid().Model().data(harness.Grid().Model().index(row - 1, 1), Qt::DisplayRole).toString();
        shown.insert(harness.Path(row));
        EXPECT_TRUE(text.isValidUtf16()) << "row " << row;
        if (ListTextToPath(harness.Path(row)).find("caf\xc3") == std::string::npos &&
            ListTextToPath(harness.Path(row)).find("cafe") == std::string::npos) {
            EXPECT_TRUE(text.contains(QChar::ReplacementCharacter)) << "row " << row;
        }
        EXPECT_GE(harness.Grid().columnWidth(1), metrics.horizontalAdvance(text)) << "row " << row;
        EXPECT_EQ(ListTextToPath(harness.Grid().TextMatrix(row, 2)),
                  fs::path(ListTextToPath(harness.Path(row))).filename());
    }
    EXPECT_EQ(shown.size(), kNames.size()) << "no two rows share a text";
    // The two Latin-1 names look alike in their cells; their tips tell them apart.
    QStringList tips;
    for (int row = 1; row < harness.Grid().Rows(); ++row)
        tips << harness.Grid()
                    .Model()
                    .data(harness.Grid().Model().index(row - 1, 1), Qt::ToolTipRole)
                    .toString();
    const QString tipFolder = QString::fromStdString(dir.Path().string()) + "/d\\xE9p\\xF4t/";
    EXPECT_TRUE(tips.contains(tipFolder + "caf\\xE9.pfx")) << tips.join('\n').toStdString();
    EXPECT_TRUE(tips.contains(tipFolder + "caf\\xE8.pfx"));

    harness.ProceedConfirmed();
    for (int row = 1; row < harness.Grid().Rows(); ++row)
        EXPECT_EQ(harness.Status(row), "OK") << "row " << row;
    for (const std::string& name : kNames) {
        const std::string output = (root / OutputName(name)).string();
        const auto copy = ReadPfx(output, "pw");
        EXPECT_TRUE(copy) << output;
        const auto source = ReadPfx((root / name).string(), "");
        ASSERT_TRUE(copy && source);
        EXPECT_EQ(copy->keys[0].der, source->keys[0].der);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()),
              2 * static_cast<long>(kNames.size()));

    harness.ProceedConfirmed();
    for (int row = 1; row < harness.Grid().Rows(); ++row) {
        const std::string output = OutputName(ListTextToPath(harness.Path(row)));
        EXPECT_EQ(harness.Status(row), "File [" + PathToListText(output) + "] already exists")
            << "row " << row;
    }
}

TEST_F(OddNamesTest, AddFileTakesADialogsShownNameForTheFileItStandsFor) {
    fs::create_directory(root / "sub\xfe");
    ASSERT_TRUE(WritePfx((root / "sub\xfe" / "x\xff\xfe.pfx").string(), PfxVariant::Pbes2Aes));
    // What a dialog that decodes names as UTF-8 hands back: each run of stray bytes as one U+FFFD.
    const QString shownFolder = QString::fromUtf8(root.string().c_str());
    harness.AddThroughDialog(shownFolder + QString::fromUtf8("/sub\xef\xbf\xbd/x\xef\xbf\xbd.pfx"));
    ASSERT_EQ(harness.Grid().Rows(), 2);
    EXPECT_EQ(ListTextToPath(harness.Path(1)), (root / "sub\xfe" / "x\xff\xfe.pfx").string());
    EXPECT_EQ(ListTextToPath(harness.Grid().TextMatrix(1, 2)), "x\xff\xfe.pfx");

    // caf\xe9 and caf\xe8 both show as "caf\ufffd": nothing tells which was meant, so the name stays as
    // given and the run reports it missing rather than protecting the wrong file.
    harness.AddThroughDialog(shownFolder + QString::fromUtf8("/caf\xef\xbf\xbd.pfx"));
    ASSERT_EQ(harness.Grid().Rows(), 3);
    EXPECT_EQ(harness.Path(2), shownFolder + QString::fromUtf8("/caf\xef\xbf\xbd.pfx"));
    // The exact name of a file is listed once; a second pick of it is a duplicate.
    harness.AddThroughDialog(PathToListText((root / "caf\xe9.pfx").string()));
    harness.AddThroughDialog(PathToListText((root / "caf\xe8.pfx").string()));
    EXPECT_EQ(harness.Grid().Rows(), 5);
    harness.prompts.AnswerOpenFile(PathToListText((root / "caf\xe9.pfx").string()));
    harness.prompts.AnswerMessage(prompts::Answer::Ok);
    harness.Window().cmdadd_Click();
    EXPECT_EQ(harness.prompts.Asked().back().text, "File already exists in the List.");
    EXPECT_EQ(harness.Grid().Rows(), 5);

    harness.ProceedConfirmed();
    EXPECT_EQ(harness.Status(1), "OK");
    EXPECT_EQ(harness.Status(2), "File not found");
    EXPECT_EQ(harness.Status(3), "OK");
    EXPECT_EQ(harness.Status(4), "OK");
    EXPECT_TRUE(fs::exists(root / "caf\xe9_Password.Pfx"));
    EXPECT_TRUE(fs::exists(root / "caf\xe8_Password.Pfx"));
    EXPECT_FALSE(fs::exists(root / "caf\xff_Password.Pfx"));
}

}  // namespace
}  // namespace kiv::testing
