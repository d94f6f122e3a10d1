#include <gtest/gtest.h>

#include "cli/MiniJson.h"
#include "cli/Text.h"

namespace kiv::cli {
namespace {

TEST(CliTextTest, JsonStringEscapesWhatJsonRequiresAndKeepsEveryByte) {
    EXPECT_EQ(JsonString("plain"), "\"plain\"");
    EXPECT_EQ(JsonString("a\"b\\c\nd\re\tf\x01g\x7f"), "\"a\\\"b\\\\c\\nd\\re\\tf\\u0001g\\u007f\"");
    EXPECT_EQ(JsonString("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\x91"),
              "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\x91\"");
    // Invalid UTF-8: a stray byte, a truncated sequence, an overlong form and an encoded surrogate.
    EXPECT_EQ(JsonString("a\xff"), "\"a\\udcff\"");
    EXPECT_EQ(JsonString("\xc3"), "\"\\udcc3\"");
    EXPECT_EQ(JsonString("\xc0\xaf"), "\"\\udcc0\\udcaf\"");
    EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\\udced\\udca0\\udc80\"");
    EXPECT_EQ(JsonString(std::string("nul\0byte", 8)), "\"nul\\u0000byte\"");
    EXPECT_EQ(JsonString("c1 \xc2\x9b"), "\"c1 \\u009b\"");  // terminals act on C1 controls too
    const auto parsed = testing::ParseJson(JsonString("x\xe9y"));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->string, "x\xed\xb3\xa9y");  // U+DCE9
}

}  // namespace
}  // namespace kiv::cli
