// Keys made ahead for announced saves: the right keys, each handed out once, only for what was
// announced and only while the announcement lasts.
#include "certificate/KeysAhead.h"

#include <gtest/gtest.h>
#include <openssl/pkcs12.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "certificate/Certificate.h"
#include "certificate/DerivedKeys.h"

namespace kiv::certificate {
namespace {

using Bytes = std::vector<unsigned char>;

constexpr const char* kPassword = "Ahead-Pass-1";
constexpr std::size_t kSalt = 16;

KeyRequest Like(KeyKind kind, const char* password = kPassword, int iterations = kProtectionIterations) {
    return {kind, {password, static_cast<int>(std::strlen(password))}, {}, iterations, EVP_sha256(), 32};
}

// The key OpenSSL derives for `request`.
Bytes Expected(const KeyRequest& request) {
    Bytes key(request.length);
    if (request.kind == KeyKind::Pbkdf2) {
        EXPECT_EQ(PKCS5_PBKDF2_HMAC(request.password.data, request.password.length, request.salt.data(),
                                    static_cast<int>(request.salt.size()), request.iterations, request.digest,
                                    static_cast<int>(key.size()), key.data()),
                  1);
    } else {
        EXPECT_EQ(PKCS12_key_gen_utf8_ex(request.password.data, request.password.length,
                                         const_cast<unsigned char*>(request.salt.data()),
                                         static_cast<int>(request.salt.size()), PKCS12_MAC_ID,
                                         request.iterations, static_cast<int>(key.size()), key.data(),
                                         request.digest, nullptr, nullptr),
                  1);
    }
    return key;
}

TEST(KeysAheadTest, AnnouncedSavesGetRightKeysEachHandedOutOnce) {
    const auto ahead = AnnounceSaves(kPassword, 2);
    DerivedKeys keys;
    std::set<Bytes> salts;
    // Two saves: two encryption keys and one MAC key each, all of them made ahead.
    for (KeyKind kind : {KeyKind::Pbkdf2, KeyKind::Pbkdf2, KeyKind::Pkcs12Mac, KeyKind::Pbkdf2,
                         KeyKind::Pbkdf2, KeyKind::Pkcs12Mac}) {
        KeyRequest request = Like(kind);
        WaitForKeysAhead();
        request.salt = keys.NewSalt(request, kSalt);
        ASSERT_EQ(request.salt.size(), kSalt);
        EXPECT_TRUE(salts.insert(request.salt).second) << "a salt came twice";
        ASSERT_TRUE(keys.Has(request));
        const Secret* key = keys.Get(request);
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(Bytes(key->data(), key->data() + key->size()), Expected(request));
    }
    EXPECT_EQ(keys.Derivations(), 0u) << "every key was made ahead";

    // Beyond what was announced, a save derives its own.
    KeyRequest more = Like(KeyKind::Pbkdf2);
    WaitForKeysAhead();
    more.salt = keys.NewSalt(more, kSalt);
    EXPECT_EQ(more.salt.size(), kSalt);
    EXPECT_FALSE(keys.Has(more));
}

TEST(KeysAheadTest, OnlyWhatWasAnnouncedAndOnlyWhileItLasts) {
    auto ahead = AnnounceSaves(kPassword, 5);
    WaitForKeysAhead();  // keys are ready, yet none of these may have them
    DerivedKeys keys;
    const KeyRequest others[] = {
        Like(KeyKind::Pbkdf2, "Another-Pass"),    // another password
        Like(KeyKind::Pbkdf2, "Ahead-Pass-"),     // a prefix of it
        Like(KeyKind::Pbkdf2, kPassword, 20000),  // another count
        Like(KeyKind::Pkcs12Key),                 // what 3DES copies derive
    };
    for (const KeyRequest& other : others) {
        KeyRequest request = other;
        request.salt = keys.NewSalt(request, kSalt);
        EXPECT_EQ(request.salt.size(), kSalt);
        EXPECT_FALSE(keys.Has(request));
    }
    KeyRequest shortSalt = Like(KeyKind::Pbkdf2);
    shortSalt.salt = keys.NewSalt(shortSalt, 8);
    EXPECT_EQ(shortSalt.salt.size(), 8u);
    EXPECT_FALSE(keys.Has(shortSalt));

    ahead.reset();
    KeyRequest after = Like(KeyKind::Pbkdf2);
    after.salt = keys.NewSalt(after, kSalt);
    EXPECT_FALSE(keys.Has(after)) << "the announcement had ended";

    // A new announcement ends the one before; 3DES copies get nothing made ahead.
    auto first = AnnounceSaves("First-Pass", 3);
    auto second = AnnounceSaves(kPassword, 3);
    KeyRequest firstRequest = Like(KeyKind::Pbkdf2, "First-Pass");
    firstRequest.salt = keys.NewSalt(firstRequest, kSalt);
    EXPECT_FALSE(keys.Has(firstRequest));
    KeyRequest secondRequest = Like(KeyKind::Pbkdf2);
    WaitForKeysAhead();
    secondRequest.salt = keys.NewSalt(secondRequest, kSalt);
    EXPECT_TRUE(keys.Has(secondRequest));
    SaveOptions compat;
    compat.algorithms = SaveOptions::Algorithms::TripleDesSha1;
    auto tripleDes = AnnounceSaves(kPassword, 3, compat);
    KeyRequest none = Like(KeyKind::Pbkdf2);
    none.salt = keys.NewSalt(none, kSalt);
    EXPECT_FALSE(keys.Has(none));
}

}  // namespace
}  // namespace kiv::certificate
