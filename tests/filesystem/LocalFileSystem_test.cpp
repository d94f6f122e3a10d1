// The file-system object over a real temporary folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "filesystem/FileSystem.h"
#include "filesystem/NameOrder.h"
#include "support/TempFolder.h"

namespace kiv::filesystem {
namespace {

namespace fs = std::filesystem;

class LocalFileSystemTest : public kiv::testing::TempFolderTest {
  protected:
    void SetUp() override {
        fs::create_directories(root / "sub" / "deeper");
        std::ofstream(root / "a.pfx") << "x";
        std::ofstream(root / "Other.PFX") << "x";
        fs::create_symlink(root / "a.pfx", root / "link.pfx");
        fs::create_symlink(root / "nowhere", root / "dangling.pfx");
    }
    static std::vector<std::string> Sorted(std::vector<std::string> names) {
        std::sort(names.begin(), names.end());
        return names;
    }

    const fs::path root = Root();
    std::unique_ptr<FileSystem> files = CreateLocalFileSystem();
};

TEST_F(LocalFileSystemTest, ExistenceIsForFilesOnly) {
    EXPECT_TRUE(files->FileExists((root / "a.pfx").string()));
    EXPECT_TRUE(files->FileExists((root / "link.pfx").string())) << "a link to a file is that file";
    EXPECT_FALSE(files->FileExists((root / "dangling.pfx").string()));
    EXPECT_FALSE(files->FileExists((root / "sub").string()));
    EXPECT_FALSE(files->FileExists((root / "missing.pfx").string()));
    EXPECT_FALSE(files->FileExists(""));
    EXPECT_EQ(files->FileName((root / "Other.PFX").string()), "Other.PFX");
    EXPECT_FALSE(files->FileName((root / "sub").string()));
}

TEST_F(LocalFileSystemTest, ListingsSeparateFilesFromFolders) {
    const Listing<FileEntry> listed = files->Files(root.string());
    ASSERT_TRUE(listed.ok);
    std::vector<std::string> names, paths;
    for (const FileEntry& entry : listed.items) {
        names.push_back(entry.name);
        paths.push_back(entry.path);
    }
    EXPECT_EQ(Sorted(names), (std::vector<std::string>{"Other.PFX", "a.pfx", "link.pfx"}));
    EXPECT_EQ(Sorted(paths).front(), (root / "Other.PFX").string());
    const Listing<std::string> folders = files->SubFolders(root.string());
    ASSERT_TRUE(folders.ok);
    EXPECT_EQ(folders.items, std::vector<std::string>{"sub"});
}

TEST_F(LocalFileSystemTest, MissingFolderIsAFailedListingAndHasNoIdentity) {
    const std::string missing = (root / "gone").string();
    EXPECT_FALSE(files->Files(missing).ok);
    EXPECT_FALSE(files->SubFolders(missing).ok);
    EXPECT_FALSE(files->Files((root / "a.pfx").string()).ok) << "a file is not a folder";
    EXPECT_FALSE(files->Identity(missing));
    EXPECT_FALSE(files->Identity((root / "a.pfx").string()));
}

TEST_F(LocalFileSystemTest, FolderReachedThroughALinkHasTheSameIdentity) {
    fs::create_directory_symlink(root, root / "sub" / "back");
    const auto direct = files->Identity(root.string());
    const auto linked = files->Identity((root / "sub" / "back").string());
    ASSERT_TRUE(direct && linked);
    EXPECT_EQ(*direct, *linked);
    EXPECT_NE(*direct, *files->Identity((root / "sub").string()));
}

TEST(NameOrder, LettersCompareInUpperCaseThenTheExactBytesDecide) {
    // Upper case puts '_' (after 'Z') behind every letter, as case-blind file systems order them.
    EXPECT_TRUE(NameLess("aab", "a_b"));
    EXPECT_TRUE(NameLess("Apple", "banana"));
    EXPECT_TRUE(NameLess("banana", "Cherry"));
    EXPECT_TRUE(NameLess("\xc3\xa9ta", "\xc3\x89TZ")) << "accented letters fold too";
    // Names equal but for case are ordered by their bytes, so no two names tie.
    EXPECT_TRUE(NameLess("README", "readme"));
    EXPECT_FALSE(NameLess("readme", "README"));
    EXPECT_FALSE(NameLess("same", "same"));
    // A byte that is no UTF-8 still has its one place.
    EXPECT_TRUE(NameLess("caf\xe8", "caf\xe9"));
    EXPECT_NE(NameLess("caf\xe9", "caf\xc3\xa9"), NameLess("caf\xc3\xa9", "caf\xe9"));
}

TEST_F(LocalFileSystemTest, ListingsComeInNameOrderWhateverTheOrderOfCreation) {
    const fs::path mixed = root / "mixed";
    fs::create_directory(mixed);
    // Made in an order no name order matches.
    for (const char* name :
         {"f10.pfx", "B.pfx", "f2.pfx", "a.PFX", "Zeta.txt", "f1.pfx", "b.pfx", "_x.pfx", "C.pfx"})
        std::ofstream(mixed / name) << "x";
    for (const char* name : {"d199", "D2", "d1", "a", "B"}) fs::create_directory(mixed / name);

    std::vector<std::string> names, paths;
    for (const FileEntry& entry : files->Files(mixed.string()).items) {
        names.push_back(entry.name);
        paths.push_back(entry.path);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a.PFX", "B.pfx", "b.pfx", "C.pfx", "f1.pfx", "f10.pfx",
                                               "f2.pfx", "Zeta.txt", "_x.pfx"}));
    EXPECT_EQ(paths.front(), (mixed / "a.PFX").string());
    EXPECT_EQ(files->SubFolders(mixed.string()).items,
              (std::vector<std::string>{"a", "B", "d1", "d199", "D2"}));
}

}  // namespace
}  // namespace kiv::filesystem
