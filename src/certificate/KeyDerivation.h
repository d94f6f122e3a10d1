#pragma once

#include <openssl/evp.h>

#include <span>

#include "certificate/OpenSslHandles.h"

namespace kiv::certificate {

// Password-based key derivations with the same results as OpenSSL's PKCS5_PBKDF2_HMAC and
// PKCS12_key_gen_uni, about twice as fast for SHA-1 and SHA-256. OpenSSL 3 runs every iteration
// through its generic digest objects, which copy, allocate and wipe contexts each time; for these
// two hashes each iteration here is one or two calls of the hash's block function on a block
// prepared in place. Other hashes are handed to OpenSSL. Neither call throws or allocates per
// iteration; both return false when the key could not be derived.

// PBKDF2-HMAC (RFC 8018) of `password` (raw bytes) and `salt`, `out.size()` bytes.
bool DerivePbkdf2(const EVP_MD* digest, std::span<const unsigned char> password,
                  std::span<const unsigned char> salt, int iterations, std::span<unsigned char> out);

// The PKCS#12 key derivation (RFC 7292, appendix B.2) with diversifier `id` (1 key, 2 IV, 3 MAC).
// `bmpPassword` is the password as BMPString with its two closing zero bytes, as
// OPENSSL_utf82uni makes it; empty for "no password at all".
bool DerivePkcs12(const EVP_MD* digest, int id, std::span<const unsigned char> bmpPassword,
                  std::span<const unsigned char> salt, int iterations, std::span<unsigned char> out);

// `password` (UTF-8) as the BMPString the PKCS#12 derivation takes, as OpenSSL's own calls make it:
// UTF-16 big-endian with two closing zero bytes, text that is not UTF-8 taken byte for byte. Read
// through the program's one UTF-8 decoder (PathText.h). False when it is too long.
bool BmpPassword(std::span<const unsigned char> password, Secret& bmp);

}  // namespace kiv::certificate
