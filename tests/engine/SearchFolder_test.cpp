// The folder walk on its own: order, the name test, path joining, stops and failing listings.
#include "engine/SearchFolder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/FakeFileSystem.h"
#include "support/TempFolder.h"

namespace kiv::engine {
namespace {

namespace fs = std::filesystem;
using filesystem::FolderId;
using kiv::testing::FakeFileSystem;

// Records what the walk reports and can ask it to stop at the k-th yield.
struct Recorder {
    std::vector<std::string> entered;
    std::vector<std::string> added;
    int yields = 0;
    int stopAtYield = 0;
    bool stop = false;

    ScanHooks Hooks() {
        ScanHooks hooks;
        hooks.stopRequested = [this] { return stop; };
        hooks.enteringFolder = [this](const std::string& folder) { entered.push_back(folder); };
        hooks.yield = [this] {
            if (++yields == stopAtYield) stop = true;
        };
        hooks.addFile = [this](const std::string& path, const std::string&) { added.push_back(path); };
        return hooks;
    }
};

using Paths = std::vector<std::string>;

TEST(PfxName, AcceptsTheExtensionInAnyCaseButNotTheBareExtensionOrNamesGoingOnPastIt) {
    for (const char* name : {"a.pfx", "A.PFX", "cert.PfX", "\xC3\xA9.pfx", "x.bak.pfx"})
        EXPECT_TRUE(IsPfxName(name)) << name;
    for (const char* name :
         {"", ".pfx", ".PFX", "pfx", "x.pfx.bak", "x.pfxx", "abpfx", "x.pf", "x_pfx", "x.p12"}) {
        EXPECT_FALSE(IsPfxName(name)) << name;
    }
}

TEST(ChildPathJoin, InsertsOneSeparatorUnlessThePathEndsInOne) {
    EXPECT_EQ(ChildPath("/", "etc"), "/etc");
    EXPECT_EQ(ChildPath("/home/me", "certs"), "/home/me/certs");
    EXPECT_EQ(ChildPath("/home/me/", "certs"), "/home/me/certs");
    // A backslash is an ordinary name character here.
    EXPECT_EQ(ChildPath("/odd\\", "x"), "/odd\\/x");
}

TEST(SearchFolderOrder, FolderFilesComeBeforeSubfoldersInDeliveryOrderUnsorted) {
    FakeFileSystem files;
    files.Add("/r", {"z.pfx", "notes.txt", "a.PFX"}, {"s2", "s1"});
    files.Add("/r/s2", {"b.pfx"}, {"deep"});
    files.Add("/r/s2/deep", {"c.Pfx"}, {});
    files.Add("/r/s1", {"d.pfx", ".pfx", "e.pfx.bak"}, {});
    Recorder record;
    SearchFolder(&files, "/r", record.Hooks());
    EXPECT_EQ(record.entered, (Paths{"/r", "/r/s2", "/r/s2/deep", "/r/s1"}));
    EXPECT_EQ(record.added,
              (Paths{"/r/z.pfx", "/r/a.PFX", "/r/s2/b.pfx", "/r/s2/deep/c.Pfx", "/r/s1/d.pfx"}));
    // One yield on entering each folder and one before each file, whatever its name.
    EXPECT_EQ(record.yields, 4 + 3 + 1 + 1 + 3);
}

class SearchFolderStop : public ::testing::Test {
  protected:
    void SetUp() override {
        files.Add("/r", {"f1.pfx", "f2.pfx", "f3.pfx"}, {"s"});
        files.Add("/r/s", {"g.pfx"}, {});
    }
    FakeFileSystem files;
    Recorder record;
};

TEST_F(SearchFolderStop, StopAtTheLastFileOfAFolderSkipsItsSubfolders) {
    record.stopAtYield = 4;  // 1: entering /r, 2-4: before each file
    SearchFolder(&files, "/r", record.Hooks());
    EXPECT_EQ(record.added, (Paths{"/r/f1.pfx", "/r/f2.pfx"}));
    EXPECT_EQ(record.entered, (Paths{"/r"}));
}

TEST(SearchFolderFailures, ListingsThatFailPartWayKeepWhatTheyDelivered) {
    FakeFileSystem files;
    files.Add("/r", {}, {"p", "next"});
    auto& partial = files.Add("/r/p", {"first.pfx"}, {"kept"});
    partial.filesOk = false;
    partial.subFoldersOk = false;
    files.Add("/r/p/kept", {"kept.pfx"}, {});
    files.Add("/r/next", {"next.pfx"}, {});
    Recorder record;
    SearchFolder(&files, "/r", record.Hooks());
    EXPECT_EQ(record.added, (Paths{"/r/p/first.pfx", "/r/p/kept/kept.pfx", "/r/next/next.pfx"}));
}

TEST(SearchFolderFailures, MissingFolderAndMissingFileSystemEndQuietly) {
    FakeFileSystem files;
    Recorder missing;
    SearchFolder(&files, "/nowhere", missing.Hooks());
    EXPECT_EQ(missing.entered, (Paths{"/nowhere"}));
    EXPECT_TRUE(missing.added.empty());

    Recorder none;
    SearchFolder(nullptr, "/r", none.Hooks());
    EXPECT_EQ(none.entered, (Paths{"/r"}));
    EXPECT_EQ(none.yields, 1);
    EXPECT_TRUE(none.added.empty());
}

TEST(SearchFolderLoops, OnlyAFolderOnTheCurrentPathIsSkippedAndOneReachedTwiceIsWalkedUnderBoth) {
    FakeFileSystem files;
    files.Add("/r", {"top.pfx"}, {"a", "link1", "link2", "mnt", "unknown"}).id = FolderId{1, 10};
    files.Add("/r/a", {"a.pfx"}, {"b", "up"}).id = FolderId{1, 11};
    files.Add("/r/a/up", {"top.pfx"}, {"a"}).id = FolderId{1, 10};  // the root again
    files.Add("/r/a/b", {"b.pfx"}, {"loop"}).id = FolderId{1, 12};
    files.Add("/r/a/b/loop", {"a.pfx"}, {"b"}).id = FolderId{1, 11};  // /r/a again, two levels up
    // Two links to one folder outside the tree; each has a link back to the root.
    files.Add("/r/link1", {"shared.pfx"}, {"back"}).id = FolderId{1, 20};
    files.Add("/r/link1/back", {"top.pfx"}, {}).id = FolderId{1, 10};
    files.Add("/r/link2", {"shared.pfx"}, {"back"}).id = FolderId{1, 20};
    files.Add("/r/link2/back", {"top.pfx"}, {}).id = FolderId{1, 10};
    files.Add("/r/mnt", {"m.pfx"}, {}).id = FolderId{2, 10};  // same inode, other device
    files.Add("/r/unknown", {"u.pfx"}, {});                   // identity cannot be read
    Recorder record;
    SearchFolder(&files, "/r", record.Hooks());
    EXPECT_EQ(record.entered,
              (Paths{"/r", "/r/a", "/r/a/b", "/r/link1", "/r/link2", "/r/mnt", "/r/unknown"}));
    EXPECT_EQ(record.added, (Paths{"/r/top.pfx", "/r/a/a.pfx", "/r/a/b/b.pfx", "/r/link1/shared.pfx",
                                   "/r/link2/shared.pfx", "/r/mnt/m.pfx", "/r/unknown/u.pfx"}));
}

TEST(SearchFolderLoops, RealLinksTwoToOneFolderAndOneBackToTheRoot) {
    kiv::testing::TempFolder temp;
    const fs::path root = temp.Root();
    fs::create_directories(root / "a" / "b");
    std::ofstream(root / "top.pfx") << "x";
    std::ofstream(root / "a" / "b" / "leaf.pfx") << "x";
    fs::create_directory_symlink(root, root / "a" / "b" / "up");
    fs::create_directory_symlink(root / "a", root / "l1");
    fs::create_directory_symlink(root / "a", root / "l2");
    auto local = filesystem::CreateLocalFileSystem();
    Recorder record;
    SearchFolder(local.get(), root.string(), record.Hooks());
    const std::string r = root.string();
    EXPECT_EQ(record.added,
              (Paths{r + "/top.pfx", r + "/a/b/leaf.pfx", r + "/l1/b/leaf.pfx", r + "/l2/b/leaf.pfx"}));
    EXPECT_EQ(record.entered,
              (Paths{r, r + "/a", r + "/a/b", r + "/l1", r + "/l1/b", r + "/l2", r + "/l2/b"}));
}

}  // namespace
}  // namespace kiv::engine
