// The conversions between a path's bytes and the list's text, and finding the file a dialog's
// shown name stands for.
#include "filesystem/PathText.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "filesystem/FileSystem.h"
#include "filesystem/ShownPath.h"
#include "support/TempFolder.h"

namespace kiv::filesystem {
namespace {

namespace fs = std::filesystem;

TEST(PathText, ValidUtf8IsItsOwnTextAndEveryOtherByteAReservedCharacter) {
    EXPECT_EQ(PathToText("/tmp/a.pfx"), u"/tmp/a.pfx");
    EXPECT_EQ(PathToText("caf\xc3\xa9 e\xcc\x81 \xe2\x82\xac \xf0\x9f\x94\x91"),
              u"café e\u0301 € \U0001F511");
    EXPECT_EQ(PathToText("caf\xe9"), u"caf\xDCE9");
    EXPECT_EQ(PathToText("\xff\x80"), u"\xDCFF\xDC80");
    // Forms that look like UTF-8 but are not: overlong, an encoded surrogate, past U+10FFFF, cut short.
    EXPECT_EQ(PathToText("\xc0\xaf"), u"\xDCC0\xDCAF");
    EXPECT_EQ(PathToText("\xed\xa0\x80"), u"\xDCED\xDCA0\xDC80");
    EXPECT_EQ(PathToText("\xf4\x90\x80\x80"), u"\xDCF4\xDC90\xDC80\xDC80");
    EXPECT_EQ(PathToText("\xe2\x82x"), u"\xDCE2\xDC82x");
    EXPECT_EQ(PathToText(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(PathText, Utf8IsValidExactlyWhenNoByteBecomesAReservedCharacter) {
    EXPECT_TRUE(IsValidUtf8("P\xc3\xa4ss \xf0\x9f\x94\x91"));
    EXPECT_TRUE(IsValidUtf8(""));
    for (const char* invalid : {"\xff", "\xe2\x82", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80"})
        EXPECT_FALSE(IsValidUtf8(invalid)) << invalid;
    std::string encoded;
    for (const char32_t code : {U'a', U'\u00e9', U'\u20ac', U'\U0001F511'}) AppendUtf8(code, encoded);
    EXPECT_EQ(encoded, "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x94\x91");
}

TEST(PathText, EveryByteStringComesBackUnchanged) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255), length(0, 24);
    // Bytes near the UTF-8 boundaries come up far more often than chance would bring them.
    const unsigned char edges[] = {0x00, 0x7F, 0x80, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xED,
                                   0xEF, 0xF0, 0xF4, 0xF5, 0xFF, 0xA0, 0x9F, 0x8F, 0x90, '/'};
    for (int round = 0; round < 20000; ++round) {
        std::string bytes;
        for (int i = length(random); i > 0; --i) {
            bytes.push_back(static_cast<char>(byte(random) < 128 ? edges[byte(random) % 20] : byte(random)));
        }
        ASSERT_EQ(TextToPath(PathToText(bytes)), bytes) << "round " << round;
    }
}

TEST(PathText, TextThatNoNameGivesStillBecomesBytes) {
    EXPECT_EQ(TextToPath(u"\U0001F511"), "\xf0\x9f\x94\x91");
    EXPECT_EQ(TextToPath(u"a\xD800"
                         "b"),
              "a\xef\xbf\xbd"
              "b");                                    // a lone high surrogate
    EXPECT_EQ(TextToPath(u"\xDC7F"), "\xef\xbf\xbd");  // below the reserved bytes
}

class ShownPathTest : public kiv::testing::TempFolderTest {
  protected:
    void SetUp() override {
        fs::create_directories(root / "d\xe9p\xf4t" / "in");
        fs::create_directories(root / "two\xe9");
        fs::create_directories(root / "two\xe8");
        std::ofstream(root / "d\xe9p\xf4t" / "in" / "a\xff\xfe.pfx") << "x";
        std::ofstream(root / "d\xe9p\xf4t" / "b\xff.pfx") << "x";
    }
    std::u16string Shown(const std::string& tail) { return PathToText(root.string()) + PathToText(tail); }

    const fs::path root = Root();
    std::unique_ptr<FileSystem> files = CreateLocalFileSystem();
};

TEST_F(ShownPathTest, ReplacementCharactersAreMatchedAgainstTheRealEntries) {
    const std::string u = "\xef\xbf\xbd";  // U+FFFD
    // One U+FFFD or one per byte: either way a run of stray bytes matches.
    EXPECT_EQ(FindShownPath(files.get(), Shown("/d" + u + "p" + u + "t/in/a" + u + ".pfx"), false),
              (root / "d\xe9p\xf4t" / "in" / "a\xff\xfe.pfx").string());
    EXPECT_EQ(FindShownPath(files.get(), Shown("/d" + u + "p" + u + "t/in/a" + u + u + ".pfx"), false),
              (root / "d\xe9p\xf4t" / "in" / "a\xff\xfe.pfx").string());
    EXPECT_EQ(FindShownPath(files.get(), Shown("/d" + u + "p" + u + "t"), true),
              (root / "d\xe9p\xf4t").string());
    // A folder is not taken for a file.
    EXPECT_EQ(FindShownPath(files.get(), Shown("/d" + u + "p" + u + "t"), false),
              (root / ("d" + u + "p" + u + "t")).string());
    // Two entries that look alike, none that does, and a name with a real U+FFFD stay as given.
    EXPECT_EQ(FindShownPath(files.get(), Shown("/two" + u), true), (root / ("two" + u)).string());
    EXPECT_EQ(FindShownPath(files.get(), Shown("/d" + u + "p" + u + "t/c" + u + ".pfx"), false),
              (root / ("d" + u + "p" + u + "t") / ("c" + u + ".pfx")).string());
    std::ofstream(root / ("real" + u + ".pfx")) << "x";
    EXPECT_EQ(FindShownPath(files.get(), Shown("/real" + u + ".pfx"), false),
              (root / ("real" + u + ".pfx")).string());
    // Names without U+FFFD are never looked up.
    EXPECT_EQ(FindShownPath(files.get(), Shown("/missing.pfx"), false), (root / "missing.pfx").string());
}

}  // namespace
}  // namespace kiv::filesystem
