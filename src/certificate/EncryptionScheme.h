#pragma once

// How a part of a PKCS#12 file (an encrypted safe or a shrouded key) is encrypted: its
// AlgorithmIdentifier parsed once into a scheme that tells what one attempt at its key derivation
// costs, which keys it needs, and decrypts and encrypts with them. PBES2 with PBKDF2 and a CBC
// cipher, and pbeWithSHAAnd3-KeyTripleDES-CBC, this program decrypts itself; every other scheme is
// parsed for its name and its cost only, and a reader leaves it to OpenSSL.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <span>
#include <string>
#include <vector>

#include "certificate/Pkcs12Bags.h"

namespace kiv::certificate {

struct EncryptionScheme {
    std::string name;     // "PBES2 with aes-256-cbc" and the like, for descriptions
    bool pbes2 = false;   // the identifier names PBES2, whatever its parameters hold
    DerivationCost cost;  // unknown when the parameters could not be read
    // Ok when this program decrypts it itself; otherwise why not: UnsupportedAlgorithm for a scheme,
    // cipher or hash it does not implement, Damaged for parameters that cannot be right.
    ReadResult own;

    const EVP_CIPHER* cipher = nullptr;
    const EVP_MD* digest = nullptr;  // PBKDF2's PRF hash, or the hash of the PKCS#12 derivation
    int prf = NID_undef;             // PBES2: the PRF's identifier
    std::vector<unsigned char> salt;
    int iterations = 0;
    std::vector<unsigned char> iv;  // PBES2's; the PKCS#12 scheme derives its IV

    // The derivations the scheme's key needs: a PBKDF2 key, or a PKCS#12 key and then an IV.
    std::vector<KeyRequest> Keys(Pkcs12Password password) const;
};

EncryptionScheme ParseEncryption(const X509_ALGOR* algorithm);

// The schemes a copy is written with: PBES2 with PBKDF2 (HMAC with `prf`) and `cipher` in CBC mode,
// or pbeWithSHAAnd3-KeyTripleDES-CBC.
EncryptionScheme Pbes2Scheme(const EVP_CIPHER* cipher, int prf, std::vector<unsigned char> salt,
                             int iterations, std::vector<unsigned char> iv);
EncryptionScheme TripleDesScheme(std::vector<unsigned char> salt, int iterations);

// Decrypts `data` with the scheme's keys, taken from `keys`; a derivation not in `keys` yet is
// charged to `budget` first, as `part`. WrongPassword when the padding is wrong; `own` when this
// program does not decrypt the scheme itself.
ReadResult Decrypt(const EncryptionScheme& scheme, const ASN1_OCTET_STRING* data, Pkcs12Password password,
                   DerivedKeys& keys, WorkBudget& budget, const std::string& part, Secret& plain);

// Encrypts `plain` with the scheme's keys, which `keys` must hold already, and gives the
// AlgorithmIdentifier that names the scheme. False when it could not.
bool Encrypt(const EncryptionScheme& scheme, std::span<const unsigned char> plain, Pkcs12Password password,
             DerivedKeys& keys, X509AlgorPtr& algorithm, Asn1OctetStringPtr& data);

// CBC with the padding PBES2 prescribes; a wrong key almost always shows as bad padding.
bool Crypt(const EVP_CIPHER* cipher, const Secret& key, const unsigned char* iv, const unsigned char* in,
           std::size_t length, bool encrypt, Secret& out);

}  // namespace kiv::certificate
