#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "platform/certificate/Certificate.h"
#include "platform/certificate/DerivedKeys.h"
#include "platform/certificate/OpenSslHandles.h"

namespace kiv::certificate {

// One safe bag of a file. Keys are held decrypted, with the attribute set of their bag kept as the
// bytes it was encoded in; every other bag (certificates, CRLs, secrets) is kept whole.
struct Pkcs12Item {
    Pkcs8Ptr key;
    std::vector<unsigned char> keyAttributes;  // DER of the bag's attribute SET, empty when none
    SafeBagPtr bag;
    bool isCertificate = false;

    bool IsKey() const { return key != nullptr; }
};

// Everything a file holds, in file order.
struct Pkcs12Contents {
    std::vector<Pkcs12Item> items;

    std::size_t KeyCount() const;
    std::size_t CertificateCount() const;
};

// Why reading failed, for the caller to pick its wording.
enum class ReadFailure { None, NotPkcs12, WrongPassword, UnsupportedAlgorithm, Damaged };

struct ReadResult {
    ReadFailure failure = ReadFailure::None;
    std::string description;

    bool ok() const { return failure == ReadFailure::None; }
};

inline constexpr const char* kWrongPasswordText = "The specified password is not correct.";

// Opens a DER-encoded PKCS#12 file. Each MAC and each encrypted part is tried with every password of
// `passwords` in turn; a part that opens with none of them is a wrong password.
ReadResult ReadPkcs12(const unsigned char* der, std::size_t length,
                      const std::vector<Pkcs12Password>& passwords, Pkcs12Contents& contents);

// Encodes `contents` protected with `password`: keys in shrouded bags and the other bags in one
// encrypted safe, both PBES2 (PBKDF2-HMAC-SHA256, AES-256-CBC), and an HMAC-SHA256 MAC, each with
// 10,000 iterations and its own random salt. The keys it derives stay in `keys`.
CallResult EncodePkcs12(const Pkcs12Contents& contents, Pkcs12Password password, DerivedKeys& keys,
                        std::vector<unsigned char>& der);

// Opens a file this program wrote: verifies its MAC and decrypts every encrypted part with keys
// for the salts, counts and algorithms the file names, taken from `keys` where already derived.
ReadResult ReadProtectedPkcs12(std::span<const unsigned char> der, Pkcs12Password password, DerivedKeys& keys,
                               Pkcs12Contents& contents);

// Succeeds when `written` opens that way with `password` and holds the same as `source`.
CallResult CheckWrittenPkcs12(std::span<const unsigned char> written, Pkcs12Password password,
                              DerivedKeys& keys, const Pkcs12Contents& source);

// True when both hold the same keys, bags and attributes in the same order.
bool SameContents(const Pkcs12Contents& a, const Pkcs12Contents& b);

#ifdef KIV_SAVE_ITERATIONS
inline constexpr int kProtectionIterations = KIV_SAVE_ITERATIONS;  // lowered by the fuzz build only
#else
inline constexpr int kProtectionIterations = 10000;
#endif

}  // namespace kiv::certificate
