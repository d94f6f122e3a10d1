// The fast derivations must give OpenSSL's results byte for byte, for every shape of input the
// files we read and write can hold: empty, short, block-sized and long passwords and salts, one
// and many iterations, keys longer than one digest, and the hashes handed on to OpenSSL.
#include "certificate/KeyDerivation.h"

#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/pkcs12.h>

#include <string>
#include <vector>

namespace kiv::certificate {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes Pattern(std::size_t n, unsigned seed) {
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<unsigned char>((i * 131 + seed * 17 + 7) & 0xff);
    return bytes;
}

const EVP_MD* const kDigests[] = {EVP_sha1(), EVP_sha256(), EVP_sha512(), EVP_sha384()};

TEST(KeyDerivationTest, Pbkdf2MatchesOpenSsl) {
    for (const EVP_MD* digest : kDigests) {
        for (std::size_t passwordLength : {0, 1, 16, 63, 64, 65, 200}) {
            for (std::size_t saltLength : {0, 8, 16, 55, 56, 64, 100}) {
                for (int iterations : {1, 2, 3, 100}) {
                    for (std::size_t length : {1, 20, 32, 33, 64, 100}) {
                        const Bytes password = Pattern(passwordLength, 1);
                        const Bytes salt = Pattern(saltLength, 2);
                        Bytes expected(length), got(length, 0xAA);
                        static const char kEmpty[] = "";
                        ASSERT_EQ(
                            PKCS5_PBKDF2_HMAC(
                                password.empty() ? kEmpty : reinterpret_cast<const char*>(password.data()),
                                static_cast<int>(password.size()), salt.data(), static_cast<int>(salt.size()),
                                iterations, digest, static_cast<int>(length), expected.data()),
                            1);
                        ASSERT_TRUE(DerivePbkdf2(digest, password, salt, iterations, got));
                        ASSERT_EQ(got, expected)
                            << EVP_MD_get0_name(digest) << " password " << passwordLength << " salt "
                            << saltLength << " iterations " << iterations << " length " << length;
                    }
                }
            }
        }
    }
}

// The BMPString form OpenSSL's own UTF-8 calls use; empty for no password at all.
Bytes Bmp(const char* utf8, int length) {
    if (utf8 == nullptr) return {};
    unsigned char* bmp = nullptr;
    int bmpLength = 0;
    if (OPENSSL_utf82uni(utf8, length, &bmp, &bmpLength) == nullptr) return {};
    Bytes bytes(bmp, bmp + bmpLength);
    OPENSSL_free(bmp);
    return bytes;
}

TEST(KeyDerivationTest, Pkcs12MatchesOpenSsl) {
    const std::string passwords[] = {"",
                                     "p",
                                     "Bench-Password-1",
                                     "p\xC3\xA4ss \xF0\x9F\x94\x91",
                                     "\xFF\xFE broken",
                                     "\xED\xA0\x80 surrogate",
                                     "\xF4\x90\x80\x80 past U+10FFFF",
                                     std::string(40, 'x'),
                                     std::string(150, 'y')};
    for (const EVP_MD* digest : kDigests) {
        for (int id : {1, 2, 3}) {
            for (int p = -1; p < static_cast<int>(std::size(passwords)); ++p) {
                const char* text = p < 0 ? nullptr : passwords[p].c_str();
                const int textLength = p < 0 ? 0 : static_cast<int>(passwords[p].size());
                if (p >= 0) {
                    Secret bmp;
                    ASSERT_TRUE(BmpPassword(
                        {reinterpret_cast<const unsigned char*>(text), static_cast<std::size_t>(textLength)},
                        bmp));
                    EXPECT_EQ(Bytes(bmp.data(), bmp.data() + bmp.size()), Bmp(text, textLength)) << p;
                }
                for (std::size_t saltLength : {1, 8, 20, 64, 65}) {
                    for (int iterations : {1, 2, 100}) {
                        for (std::size_t length : {8, 20, 24, 32, 40, 64, 130}) {
                            const Bytes salt = Pattern(saltLength, 3);
                            Bytes expected(length), got(length, 0xAA);
                            ASSERT_EQ(PKCS12_key_gen_utf8_ex(text, textLength,
                                                             const_cast<unsigned char*>(salt.data()),
                                                             static_cast<int>(salt.size()), id, iterations,
                                                             static_cast<int>(length), expected.data(),
                                                             digest, nullptr, nullptr),
                                      1);
                            ASSERT_TRUE(
                                DerivePkcs12(digest, id, Bmp(text, textLength), salt, iterations, got));
                            ASSERT_EQ(got, expected)
                                << EVP_MD_get0_name(digest) << " id " << id << " password " << p << " salt "
                                << saltLength << " iterations " << iterations << " length " << length;
                        }
                    }
                }
            }
        }
    }
}

TEST(KeyDerivationTest, RefusesWhatCannotBeDerived) {
    const Bytes salt = Pattern(8, 4);
    Bytes out(32);
    EXPECT_FALSE(DerivePbkdf2(nullptr, {}, salt, 10, out));
    EXPECT_FALSE(DerivePbkdf2(EVP_sha256(), {}, salt, 0, out));
    EXPECT_FALSE(DerivePbkdf2(EVP_sha256(), {}, salt, -5, out));
    EXPECT_FALSE(DerivePbkdf2(EVP_sha256(), {}, salt, 10, std::span<unsigned char>()));
    EXPECT_FALSE(DerivePkcs12(EVP_sha256(), 3, {}, salt, 0, out));
    EXPECT_FALSE(DerivePkcs12(nullptr, 3, {}, salt, 10, out));
    EXPECT_FALSE(DerivePkcs12(EVP_sha256(), 256, {}, salt, 10, out));
}

}  // namespace
}  // namespace kiv::certificate
