#include "engine/SameFile.h"

#include <gtest/gtest.h>

#include "filesystem/PathText.h"
#include "support/FakeFileSystem.h"

namespace kiv::engine {
namespace {

TEST(SameFileTest, FoldCaseMakesLetterCaseVariantsOneKey) {
    EXPECT_EQ(FoldCase("/Certs/Server.PFX"), FoldCase("/certs/server.pfx"));
    EXPECT_EQ(FoldCase("/\xc3\x9c"
                       "ber/\xce\xa3.pfx"),
              FoldCase("/\xc3\xbc"
                       "ber/\xcf\x83.pfx"));  // Ü/ü, Σ/σ
    EXPECT_NE(FoldCase("/a/b.pfx"), FoldCase("/a/c.pfx"));
    // Bytes that are not UTF-8 are compared as they are.
    EXPECT_EQ(FoldCase("X\xff.PFX"), "x\xff.pfx");
    EXPECT_NE(FoldCase("\xff"), FoldCase("\xfe"));
    // The list's text of a path folds to the text of the path's key.
    for (const char* path : {"/\xc3\x9c/\xce\xa3\xff.PFX", "/K\xf0\x90\x90\x80\xe9", "/\xed\xa0\x80x"})
        EXPECT_EQ(filesystem::TextToPath(FoldCase(filesystem::PathToText(path))), FoldCase(path)) << path;
}

// Two names are one entry only when they are one file on disk.
TEST(SameFileTest, NamesDifferingInCaseAreOneEntryOnlyForOneFile) {
    testing::FakeFileSystem fake;
    fake.SetFileIdentity("/m/CERT.pfx", {7, 1});
    fake.SetFileIdentity("/m/cert.PFX", {7, 1});  // a case-insensitive mount: one file
    fake.SetFileIdentity("/d/A.pfx", {8, 1});
    fake.SetFileIdentity("/d/a.pfx", {8, 2});  // two files
    ListedPaths listed(&fake);
    for (const char* path : {"/m/CERT.pfx", "/d/A.pfx", "/d/a.pfx", "/x/GONE.pfx", "/x/gone.pfx"})
        EXPECT_TRUE(listed.Add(path)) << path;
    for (const char* path : {"/m/cert.PFX", "/m/CERT.pfx", "/d/a.pfx", "/x/gone.pfx"})
        EXPECT_FALSE(listed.Add(path)) << path;
    EXPECT_FALSE(SameListedFile(&fake, "/m/CERT.pfx", "/n/cert.pfx")) << "not the same name";
    EXPECT_FALSE(SameListedFile(nullptr, "/m/CERT.pfx", "/m/cert.PFX"));
}

}  // namespace
}  // namespace kiv::engine
