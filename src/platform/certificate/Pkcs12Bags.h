#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/certificate/Certificate.h"
#include "platform/certificate/OpenSslHandles.h"

namespace kiv::certificate {

// A password as OpenSSL's PKCS#12 calls take it. `data == nullptr` is the "no password at all" that
// some tools key a password-less file with; {"", 0} is the empty password.
struct Pkcs12Password {
    const char* data = nullptr;
    int length = 0;
};

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
// 10,000 iterations and its own random salt.
CallResult EncodePkcs12(const Pkcs12Contents& contents, Pkcs12Password password,
                        std::vector<unsigned char>& der);

// True when both hold the same keys, bags and attributes in the same order.
bool SameContents(const Pkcs12Contents& a, const Pkcs12Contents& b);

inline constexpr int kProtectionIterations = 10000;

}  // namespace kiv::certificate
