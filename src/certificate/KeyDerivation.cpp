// The hashes' own context and block functions are deprecated in OpenSSL 3 in favour of EVP, but
// they are what makes an iteration cheap; they stay in every OpenSSL 3 release.
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include "certificate/KeyDerivation.h"

#include <openssl/crypto.h>
#include <openssl/pkcs12.h>
#include <openssl/sha.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "filesystem/PathText.h"

namespace kiv::certificate {
namespace {

#ifndef OPENSSL_NO_DEPRECATED_3_0
constexpr std::size_t kBlock = 64;  // SHA-1 and SHA-256 alike

void PutBigEndian(std::uint32_t word, unsigned char* out) {
    word = __builtin_bswap32(word);
    std::memcpy(out, &word, sizeof word);
}

struct Sha256 {
    using Context = SHA256_CTX;
    static constexpr std::size_t kDigest = 32;
    static void Init(Context& c) { SHA256_Init(&c); }
    static void Update(Context& c, const unsigned char* data, std::size_t n) { SHA256_Update(&c, data, n); }
    static void Final(Context& c, unsigned char* out) { SHA256_Final(out, &c); }
    static void Transform(Context& c, const unsigned char* block) { SHA256_Transform(&c, block); }
    // The block function reads and writes the chaining state only; that is all an iteration copies.
    static void CopyState(Context& to, const Context& from) { std::memcpy(to.h, from.h, sizeof to.h); }
    static void State(const Context& c, unsigned char* out) {
        for (std::size_t i = 0; i < 8; ++i) PutBigEndian(c.h[i], out + 4 * i);
    }
};

struct Sha1 {
    using Context = SHA_CTX;
    static constexpr std::size_t kDigest = 20;
    static void Init(Context& c) { SHA1_Init(&c); }
    static void Update(Context& c, const unsigned char* data, std::size_t n) { SHA1_Update(&c, data, n); }
    static void Final(Context& c, unsigned char* out) { SHA1_Final(out, &c); }
    static void Transform(Context& c, const unsigned char* block) { SHA1_Transform(&c, block); }
    static void CopyState(Context& to, const Context& from) {
        to.h0 = from.h0;
        to.h1 = from.h1;
        to.h2 = from.h2;
        to.h3 = from.h3;
        to.h4 = from.h4;
    }
    static void State(const Context& c, unsigned char* out) {
        const std::uint32_t words[5] = {c.h0, c.h1, c.h2, c.h3, c.h4};
        for (std::size_t i = 0; i < 5; ++i) PutBigEndian(words[i], out + 4 * i);
    }
};

// A one-block message tail: `digest` bytes of data at the front, then the padding and the bit
// length of a message of `before` bytes plus the data. Only the data bytes change per iteration.
template <class Hash>
void PrepareTail(unsigned char (&block)[kBlock], std::size_t before) {
    std::memset(block, 0, kBlock);
    block[Hash::kDigest] = 0x80;
    const std::uint64_t bits = static_cast<std::uint64_t>(before + Hash::kDigest) * 8;
    for (std::size_t i = 0; i < 8; ++i) block[kBlock - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
}

template <class Hash>
void Pbkdf2(std::span<const unsigned char> password, std::span<const unsigned char> salt, int iterations,
            std::span<unsigned char> out) {
    using Context = typename Hash::Context;
    constexpr std::size_t u = Hash::kDigest;
    unsigned char key[kBlock] = {};
    if (password.size() > kBlock) {
        Context c;
        Hash::Init(c);
        Hash::Update(c, password.data(), password.size());
        Hash::Final(c, key);
        OPENSSL_cleanse(&c, sizeof c);
    } else if (!password.empty()) {
        std::memcpy(key, password.data(), password.size());
    }
    unsigned char pad[kBlock];
    Context inner, outer;
    for (std::size_t i = 0; i < kBlock; ++i) pad[i] = key[i] ^ 0x36;
    Hash::Init(inner);
    Hash::Update(inner, pad, kBlock);
    for (std::size_t i = 0; i < kBlock; ++i) pad[i] = key[i] ^ 0x5c;
    Hash::Init(outer);
    Hash::Update(outer, pad, kBlock);

    // Both HMAC hashes of an iteration after the first are one block: a key pad already hashed,
    // then the previous result.
    unsigned char innerTail[kBlock], outerTail[kBlock];
    PrepareTail<Hash>(innerTail, kBlock);
    PrepareTail<Hash>(outerTail, kBlock);
    unsigned char sum[u];
    Context c;
    for (std::uint32_t index = 1, done = 0; done < out.size(); ++index) {
        unsigned char counter[4];
        PutBigEndian(index, counter);
        c = inner;
        Hash::Update(c, salt.data(), salt.size());
        Hash::Update(c, counter, sizeof counter);
        Hash::Final(c, outerTail);
        c = outer;
        Hash::Update(c, outerTail, u);
        Hash::Final(c, innerTail);
        std::memcpy(sum, innerTail, u);
        for (int n = 1; n < iterations; ++n) {
            Hash::CopyState(c, inner);
            Hash::Transform(c, innerTail);
            Hash::State(c, outerTail);
            Hash::CopyState(c, outer);
            Hash::Transform(c, outerTail);
            Hash::State(c, innerTail);
            for (std::size_t i = 0; i < u; ++i) sum[i] ^= innerTail[i];
        }
        const std::size_t take = std::min(u, out.size() - done);
        std::memcpy(out.data() + done, sum, take);
        done += take;
    }
    OPENSSL_cleanse(key, sizeof key);
    OPENSSL_cleanse(pad, sizeof pad);
    OPENSSL_cleanse(&inner, sizeof inner);
    OPENSSL_cleanse(&outer, sizeof outer);
    OPENSSL_cleanse(&c, sizeof c);
    OPENSSL_cleanse(innerTail, sizeof innerTail);
    OPENSSL_cleanse(outerTail, sizeof outerTail);
    OPENSSL_cleanse(sum, sizeof sum);
}

template <class Hash>
void Pkcs12(int id, std::span<const unsigned char> password, std::span<const unsigned char> salt,
            int iterations, std::span<unsigned char> out) {
    using Context = typename Hash::Context;
    constexpr std::size_t u = Hash::kDigest;
    const std::size_t saltLength = kBlock * ((salt.size() + kBlock - 1) / kBlock);
    const std::size_t passwordLength = kBlock * ((password.size() + kBlock - 1) / kBlock);
    // I: the salt, then the password, each repeated to whole blocks.
    std::vector<unsigned char> input(saltLength + passwordLength);
    for (std::size_t i = 0; i < saltLength; ++i) input[i] = salt[i % salt.size()];
    for (std::size_t i = 0; i < passwordLength; ++i) input[saltLength + i] = password[i % password.size()];
    unsigned char diversifier[kBlock];
    std::memset(diversifier, id, kBlock);

    unsigned char tail[kBlock];
    PrepareTail<Hash>(tail, 0);
    Context c;
    for (std::size_t done = 0;;) {
        Hash::Init(c);
        Hash::Update(c, diversifier, kBlock);
        Hash::Update(c, input.data(), input.size());
        Hash::Final(c, tail);
        Context initial;
        Hash::Init(initial);
        for (int n = 1; n < iterations; ++n) {
            Hash::CopyState(c, initial);
            Hash::Transform(c, tail);
            Hash::State(c, tail);
        }
        const std::size_t take = std::min(u, out.size() - done);
        std::memcpy(out.data() + done, tail, take);
        done += take;
        if (done == out.size()) break;
        // Each block of I becomes (I_j + B + 1) mod 2^512, B being the result repeated.
        for (std::size_t j = 0; j < input.size(); j += kBlock) {
            unsigned carry = 1;
            for (std::size_t k = kBlock; k-- > 0;) {
                carry += input[j + k] + tail[k % u];
                input[j + k] = static_cast<unsigned char>(carry);
                carry >>= 8;
            }
        }
    }
    OPENSSL_cleanse(input.data(), input.size());
    OPENSSL_cleanse(tail, sizeof tail);
    OPENSSL_cleanse(&c, sizeof c);
}

#endif  // OPENSSL_NO_DEPRECATED_3_0

enum class Kind { Sha1, Sha256, Other };

// An OpenSSL built without its deprecated calls leaves every hash to OpenSSL.
Kind KindOf([[maybe_unused]] const EVP_MD* digest) {
#ifdef OPENSSL_NO_DEPRECATED_3_0
    return Kind::Other;
#else
    switch (EVP_MD_get_type(digest)) {
        case NID_sha1:
            return Kind::Sha1;
        case NID_sha256:
            return Kind::Sha256;
        default:
            return Kind::Other;
    }
#endif
}

bool Usable(const EVP_MD* digest, std::span<const unsigned char> password,
            std::span<const unsigned char> salt, int iterations, std::span<unsigned char> out) {
    return digest != nullptr && iterations > 0 && !out.empty() && out.size() <= INT_MAX &&
           password.size() <= INT_MAX && salt.size() <= INT_MAX;
}

}  // namespace

bool DerivePbkdf2(const EVP_MD* digest, std::span<const unsigned char> password,
                  std::span<const unsigned char> salt, int iterations, std::span<unsigned char> out) {
    if (!Usable(digest, password, salt, iterations, out)) return false;
    switch (KindOf(digest)) {
#ifndef OPENSSL_NO_DEPRECATED_3_0
        case Kind::Sha256:
            Pbkdf2<Sha256>(password, salt, iterations, out);
            return true;
        case Kind::Sha1:
            Pbkdf2<Sha1>(password, salt, iterations, out);
            return true;
#endif
        default:
            break;
    }
    static const char kEmpty[] = "";
    const char* text = password.empty() ? kEmpty : reinterpret_cast<const char*>(password.data());
    return PKCS5_PBKDF2_HMAC(text, static_cast<int>(password.size()), salt.data(),
                             static_cast<int>(salt.size()), iterations, digest, static_cast<int>(out.size()),
                             out.data()) == 1;
}

bool BmpPassword(std::span<const unsigned char> password, Secret& bmp) {
    if (password.size() > INT_MAX / 2) return false;
    const std::string_view text(reinterpret_cast<const char*>(password.data()), password.size());
    // Text that is not UTF-8 is taken byte for byte, as older tools took every password.
    const bool utf8 = filesystem::IsValidUtf8(text);
    std::size_t units = 1;  // the closing zero
    const auto count = [&](char32_t code) { filesystem::ForEachUtf16Unit(code, [&](char16_t) { ++units; }); };
    if (utf8) {
        filesystem::ForEachPathCharacter(text, count);
    } else {
        units += text.size();
    }
    bmp = Secret(2 * units);
    unsigned char* out = bmp.data();
    const auto put = [&](char16_t unit) {
        *out++ = static_cast<unsigned char>(unit >> 8);
        *out++ = static_cast<unsigned char>(unit & 0xFF);
    };
    if (utf8) {
        filesystem::ForEachPathCharacter(text,
                                         [&](char32_t code) { filesystem::ForEachUtf16Unit(code, put); });
    } else {
        for (const unsigned char byte : password) put(byte);
    }
    put(0);
    return true;
}

bool DerivePkcs12(const EVP_MD* digest, int id, std::span<const unsigned char> bmpPassword,
                  std::span<const unsigned char> salt, int iterations, std::span<unsigned char> out) {
    if (!Usable(digest, bmpPassword, salt, iterations, out) || id < 0 || id > 255) return false;
    switch (KindOf(digest)) {
#ifndef OPENSSL_NO_DEPRECATED_3_0
        case Kind::Sha256:
            Pkcs12<Sha256>(id, bmpPassword, salt, iterations, out);
            return true;
        case Kind::Sha1:
            Pkcs12<Sha1>(id, bmpPassword, salt, iterations, out);
            return true;
#endif
        default:
            break;
    }
    return PKCS12_key_gen_uni(const_cast<unsigned char*>(bmpPassword.data()),
                              static_cast<int>(bmpPassword.size()), const_cast<unsigned char*>(salt.data()),
                              static_cast<int>(salt.size()), id, iterations, static_cast<int>(out.size()),
                              out.data(), digest) == 1;
}

}  // namespace kiv::certificate
