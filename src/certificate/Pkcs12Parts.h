#pragma once

// What reading a source and checking a written copy share: taking the bags of a SafeContents apart,
// naming algorithms, and the CBC and HMAC primitives.

#include <openssl/evp.h>

#include <functional>
#include <span>
#include <string>

#include "certificate/Pkcs12Bags.h"

namespace kiv::certificate {

inline ReadResult Failure(ReadFailure failure, std::string description) {
    return {failure, std::move(description)};
}

Secret BagDer(const PKCS12_SAFEBAG* bag);
Secret KeyDer(const PKCS8_PRIV_KEY_INFO* key);

// The contents of a safe that is not encrypted, copied into `plain`; a failure when it has none.
ReadResult PlainSafe(const PKCS7* safe, Secret& plain);

// "PBES2 with aes-256-cbc" and the like, for descriptions.
std::string AlgorithmName(const X509_ALGOR* algorithm);

// Decrypts the key of a shrouded key bag.
using KeyOpener = std::function<ReadResult(const PKCS12_SAFEBAG*, Pkcs8Ptr&)>;

// Takes the bags of one SafeContents encoding into `contents`, keeping each bag's own bytes where
// the encoding is DER; `safe` is the number of the file's safe they came from. With `bagsOnly`,
// bags other than keys keep only their bytes: no decoded copy, and certificates are not decoded.
ReadResult TakeBags(std::span<const unsigned char> safeContents, const KeyOpener& openKey,
                    Pkcs12Contents& contents, std::size_t safe, int depth = 0, bool bagsOnly = false);

// CBC with the padding PBES2 prescribes; a wrong key almost always shows as bad padding.
bool Crypt(const EVP_CIPHER* cipher, const Secret& key, const unsigned char* iv, const unsigned char* in,
           std::size_t length, bool encrypt, Secret& out);

// Decrypts one part (an encrypted safe or a shrouded key) with keys from `keys`: PBES2 with PBKDF2
// and a CBC cipher, or pbeWithSHAAnd3-KeyTripleDES-CBC. A derivation not in `keys` yet is charged
// to `budget` first. WrongPassword when the padding is wrong; UnsupportedAlgorithm for any other
// scheme.
ReadResult DecryptPart(const X509_ALGOR* algorithm, const ASN1_OCTET_STRING* data, Pkcs12Password password,
                       DerivedKeys& keys, WorkBudget& budget, const std::string& part, Secret& plain);

// Verifies the MAC of `p12`, whose encoding is `der`, with a key from `keys` (charged to `budget`
// when new). WrongPassword when it does not match.
ReadResult VerifyMacWith(const PKCS12* p12, std::span<const unsigned char> der, Pkcs12Password password,
                         DerivedKeys& keys, WorkBudget& budget);

bool Hmac(const EVP_MD* digest, const Secret& key, std::span<const unsigned char> data, unsigned char* mac,
          unsigned int& macLength);

}  // namespace kiv::certificate
