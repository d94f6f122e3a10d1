#pragma once

// The one walk over a file's safes that every reader takes: each safe in file order, an encrypted
// one opened by the reader's own opener, and the bags of its SafeContents taken apart, each shrouded
// key opened the same way.

#include <cstddef>
#include <functional>
#include <string>

#include "certificate/EncryptionScheme.h"
#include "certificate/Pkcs12Bags.h"

namespace kiv::certificate {

Secret BagDer(const PKCS12_SAFEBAG* bag);
Secret KeyDer(const PKCS8_PRIV_KEY_INFO* key);

// An encrypted safe or shrouded key as the walk hands it to a reader.
struct EncryptedPart {
    std::string name;                       // "encrypted part 2", "private key 1", for descriptions
    const X509_ALGOR* algorithm = nullptr;  // as the file names it
    EncryptionScheme scheme;                // parsed from it
    const ASN1_OCTET_STRING* data = nullptr;
    const PKCS12_SAFEBAG* bag = nullptr;  // a shrouded key's bag; null for a safe
};

// One safe of a file: its SafeContents as the file holds them, or its encrypted part.
struct Safe {
    std::size_t index = 0;  // counted from 0
    const ASN1_OCTET_STRING* plain = nullptr;
    const EncryptedPart* encrypted = nullptr;
};

// Hands each safe of `p12` to `visit` in file order and stops at the first failure: what `visit`
// returns, or a safe that is damaged or encrypted to a public key.
ReadResult ForEachSafe(const PKCS12* p12, const std::function<ReadResult(const Safe&)>& visit);

// How a reader opens what is encrypted: a safe into its SafeContents, a shrouded key into its key.
struct PartOpeners {
    std::function<ReadResult(const EncryptedPart&, Secret& safeContents)> safe;
    std::function<ReadResult(const EncryptedPart&, Pkcs8Ptr& key)> key;
};

// Takes the bags of every safe of `p12` into `contents`, keeping each bag's own bytes where the
// encoding is DER. With `bagsOnly`, bags other than keys keep only their bytes: no decoded copy,
// and certificates are not decoded.
ReadResult ReadSafes(const PKCS12* p12, const PartOpeners& open, Pkcs12Contents& contents,
                     bool bagsOnly = false);

}  // namespace kiv::certificate
