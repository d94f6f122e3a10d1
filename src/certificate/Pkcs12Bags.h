#pragma once

// The PKCS#12 work of the certificate object, in memory: read a password-less source
// (PasswordlessReader.cpp), encode the protected copy (CopyEncoder.cpp) and check the written file
// (WrittenFileCheck.cpp).

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "certificate/Certificate.h"
#include "certificate/DerivedKeys.h"
#include "certificate/OpenSslHandles.h"
#include "certificate/WorkLimits.h"

namespace kiv::certificate {

// One safe bag of a file. Keys are held decrypted, with the attribute set of their bag kept as the
// bytes it was encoded in; every other bag (certificates, CRLs, secrets) is kept whole, as the
// bytes it was encoded in: re-encoding would sort an attribute SET that a tool wrote unsorted.
struct Pkcs12Item {
    Pkcs8Ptr key;
    std::vector<unsigned char> keyAttributes;  // DER of the bag's attribute SET, empty when none
    Secret der;                                // the whole bag as the file held it (not for keys)
    bool isCertificate = false;
    std::size_t safe = 0;  // which of the file's safes (top-level parts) held it, counted from 0

    bool IsKey() const { return key != nullptr; }
};

// Everything a file holds, in file order.
struct Pkcs12Contents {
    std::vector<Pkcs12Item> items;

    std::size_t KeyCount() const;
    std::size_t CertificateCount() const;
};

// Why reading failed, for the caller to pick its wording.
// TooMuchWork: an iteration count above the ceiling, or more derivation work than one file may cause.
enum class ReadFailure { None, NotPkcs12, WrongPassword, UnsupportedAlgorithm, Damaged, TooMuchWork };

struct ReadResult {
    ReadFailure failure = ReadFailure::None;
    std::string description;

    bool ok() const { return failure == ReadFailure::None; }
};

// What a password-less file is keyed with: the empty password, or none at all.
inline std::vector<Pkcs12Password> PasswordLess() {
    return {{"", 0}, {nullptr, 0}};
}

inline constexpr const char* kWrongPasswordText = "The specified password is not correct.";

// Opens a DER-encoded PKCS#12 file. Each MAC and each encrypted part is tried with every password of
// `passwords` in turn; a part that opens with none of them is a wrong password. The derivations are
// bounded by the iteration ceiling and the per-file budget (WorkLimits.h).
ReadResult ReadPkcs12(const unsigned char* der, std::size_t length,
                      const std::vector<Pkcs12Password>& passwords, Pkcs12Contents& contents);
// The same within `budget`.
ReadResult ReadPkcs12(const unsigned char* der, std::size_t length,
                      const std::vector<Pkcs12Password>& passwords, Pkcs12Contents& contents,
                      WorkBudget& budget);

// Encodes `contents` protected with `password`, safe by safe as the source had them: keys in shrouded
// bags inside plain safes and every other bag inside encrypted safes, and a MAC, each with the
// iterations of `options` and its own random salt. The algorithms are those `options` names: PBES2
// (PBKDF2-HMAC-SHA256, AES-256-CBC) with HMAC-SHA256, or pbeWithSHAAnd3-KeyTripleDES-CBC with
// HMAC-SHA1. A source safe that mixes keys with other bags becomes one safe per run of like bags, so
// bag order is kept. The keys it derives stay in `keys`.
CallResult EncodePkcs12(const Pkcs12Contents& contents, Pkcs12Password password, const SaveOptions& options,
                        DerivedKeys& keys, std::vector<unsigned char>& der);

// Opens a file this program wrote: verifies its MAC and decrypts every encrypted part with keys
// for the salts, counts and algorithms the file names, taken from `keys` where already derived.
// With `bagsOnly` the items other than keys hold only their bytes (TakeBags).
ReadResult ReadProtectedPkcs12(std::span<const unsigned char> der, Pkcs12Password password, DerivedKeys& keys,
                               Pkcs12Contents& contents, bool bagsOnly = false);

// Succeeds when `written` opens that way with `password` and holds the same as `source`.
CallResult CheckWrittenPkcs12(std::span<const unsigned char> written, Pkcs12Password password,
                              DerivedKeys& keys, const Pkcs12Contents& source);

// True when both hold the same keys, bags and attributes in the same order.
bool SameContents(const Pkcs12Contents& a, const Pkcs12Contents& b);

}  // namespace kiv::certificate
