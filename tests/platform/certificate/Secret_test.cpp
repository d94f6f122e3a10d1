// The one wiped-secret type keeps its bytes through growth, shrinking and moves.

#include "platform/certificate/Secret.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv::certificate {
namespace {

TEST(SecretTest, KeepsItsBytesThroughGrowthShrinkingAndMoves) {
    for (const std::size_t length : {0, 1, 15, 16, 100, 5000}) {
        std::string expected;
        for (std::size_t i = 0; i < length; ++i) expected.push_back(static_cast<char>('a' + i % 26));
        Secret secret;
        for (const char c : expected) secret.Append({&c, 1});
        EXPECT_EQ(secret.Text(), expected) << length;
        secret.Resize(length + 3);
        EXPECT_EQ(secret.Text(), expected + std::string(3, '\0')) << length;
        secret.Resize(length / 2);
        EXPECT_EQ(secret.Text(), expected.substr(0, length / 2)) << length;
        Secret moved(std::move(secret));
        EXPECT_EQ(moved.Text(), expected.substr(0, length / 2)) << length;
        EXPECT_TRUE(secret.empty()) << length;
        Secret assigned(2);
        assigned = std::move(moved);
        EXPECT_EQ(assigned.Text(), expected.substr(0, length / 2)) << length;
        EXPECT_TRUE(moved.empty()) << length;
        assigned.Wipe();
        EXPECT_TRUE(assigned.empty());
    }
}

TEST(SecretTest, EqualOnlyWithTheSameBytes) {
    Secret a, b, c;
    a.Append("pass");
    b.Append("pass");
    c.Append("pas");
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == c);
    c.Append("S");
    EXPECT_FALSE(a == c);
    EXPECT_EQ(Secret(3).Text(), std::string(3, '\0'));
}

}  // namespace
}  // namespace kiv::certificate
