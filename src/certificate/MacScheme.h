#pragma once

// The integrity check of a PKCS#12 file: an HMAC over the authSafe's contents, keyed by the PKCS#12
// derivation (ID 3) from the password. Its MacData parsed once into a scheme that tells what one
// attempt at the key costs, and verifies or computes the MAC.

#include <openssl/evp.h>
#include <openssl/pkcs12.h>

#include <span>
#include <string>
#include <vector>

#include "certificate/Pkcs12Bags.h"

namespace kiv::certificate {

struct MacScheme {
    std::string name;                // the hash's name, for descriptions
    int nid = NID_undef;             // the hash's identifier
    const EVP_MD* digest = nullptr;  // null when this process has no such hash
    std::vector<unsigned char> salt;
    long iterations = 1;                       // a MacData without a count means 1
    DerivationCost cost;                       // unknown when the hash or the count cannot be used
    const ASN1_OCTET_STRING* value = nullptr;  // the file's MAC, owned by the file

    KeyRequest Key(Pkcs12Password password) const;
    // The SHA family: the hashes whose MAC key this program derives as OpenSSL does. OpenSSL keys a
    // MAC of some other hashes (GOST) in its own way.
    bool OwnDerivation() const;
};

// The scheme of the MAC of `p12`, which has one (PKCS12_mac_present).
MacScheme ParseMac(const PKCS12* p12);
// The scheme a copy's MAC is written with.
MacScheme CopyMac(const EVP_MD* digest, std::vector<unsigned char> salt, int iterations);

// Verifies the MAC of the file `der` with a key from `keys` (charged to `budget` when new).
// WrongPassword when it does not match.
ReadResult VerifyMac(const MacScheme& scheme, std::span<const unsigned char> der, Pkcs12Password password,
                     DerivedKeys& keys, WorkBudget& budget);

// Gives `p12` the MAC of `scheme` under `key` and encodes it into `der`. False when it could not.
bool WriteMac(PKCS12* p12, const MacScheme& scheme, const Secret& key, std::vector<unsigned char>& der);

}  // namespace kiv::certificate
