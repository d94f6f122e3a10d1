// Reading a password-less input: every part is opened with the empty password or with none at all.

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>

#include "certificate/DerWalk.h"
#include "certificate/OpenSslErrors.h"
#include "certificate/Pkcs12Bags.h"
#include "certificate/Pkcs12Parts.h"
#include "certificate/WorkLimits.h"

namespace kiv::certificate {
namespace {

bool IsPbes2(const X509_ALGOR* algorithm) {
    const ASN1_OBJECT* object = nullptr;
    if (algorithm != nullptr) X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
    return object != nullptr && OBJ_obj2nid(object) == NID_pbes2;
}

// Runs `attempt` with each password until one works, each attempt charged to `budget` first. When
// none works, tells a wrong password from an algorithm that cannot be used.
ReadResult TryPasswords(const std::vector<Pkcs12Password>& passwords, const X509_ALGOR* algorithm,
                        const std::string& part, WorkBudget& budget,
                        const std::function<bool(Pkcs12Password)>& attempt) {
    const DerivationCost cost = EncryptionCost(algorithm);
    OpenSslErrors errors;
    for (const Pkcs12Password& password : passwords) {
        std::string refused;
        if (!budget.Charge(cost, part, refused)) return Failure(ReadFailure::TooMuchWork, refused);
        OpenSslErrors::Clear();
        if (attempt(password)) {
            OpenSslErrors::Clear();
            return {};
        }
        errors = OpenSslErrors::Take();
        if (errors.UnsupportedAlgorithm()) break;
        // PBKDF2 and scrypt take the empty password and no password alike: another try is the same.
        if (IsPbes2(algorithm)) break;
    }
    if (errors.UnsupportedAlgorithm()) {
        std::string text =
            "The file is encrypted with " + AlgorithmName(algorithm) + ", which is not available.";
        if (!LegacyProviderAvailable()) {
            text += " OpenSSL's legacy provider, which older algorithms need, could not be loaded.";
        }
        return Failure(ReadFailure::UnsupportedAlgorithm, WithDetails(text, errors));
    }
    return Failure(ReadFailure::WrongPassword, kWrongPasswordText);
}

// What an attempt by the fast path tells: true it worked, false the password is wrong, nothing when
// OpenSSL should decide.
std::optional<bool> Decided(const ReadResult& result) {
    OpenSslErrors::Clear();
    if (result.ok()) return true;
    if (result.failure == ReadFailure::WrongPassword) return false;
    return std::nullopt;
}

// Whether the MAC under `password` matches, by the project's own derivation (about twice as fast
// as OpenSSL's); nothing when that cannot tell, and OpenSSL is asked instead.
std::optional<bool> FastMacCheck(const PKCS12* p12, std::span<const unsigned char> der,
                                 Pkcs12Password password, DerivedKeys& keys) {
    // The SHA family only: OpenSSL keys a MAC of some other hashes (GOST) in its own way.
    const X509_ALGOR* algorithm = nullptr;
    PKCS12_get0_mac(nullptr, &algorithm, nullptr, nullptr, p12);
    const ASN1_OBJECT* object = nullptr;
    if (algorithm != nullptr) X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
    switch (object != nullptr ? OBJ_obj2nid(object) : NID_undef) {
        case NID_sha1:
        case NID_sha224:
        case NID_sha256:
        case NID_sha384:
        case NID_sha512:
            break;
        default:
            return std::nullopt;
    }
    // Its own budget: the attempt is charged to the file's before this runs.
    WorkBudget attempt;
    return Decided(VerifyMacWith(p12, der, password, keys, attempt));
}

// What one attempt at the MAC of `p12` costs.
DerivationCost MacCost(const PKCS12* p12) {
    const X509_ALGOR* macAlgorithm = nullptr;
    const ASN1_INTEGER* iterations = nullptr;
    PKCS12_get0_mac(nullptr, &macAlgorithm, nullptr, &iterations, p12);
    const ASN1_OBJECT* object = nullptr;
    if (macAlgorithm != nullptr) X509_ALGOR_get0(&object, nullptr, nullptr, macAlgorithm);
    const EVP_MD* digest = object != nullptr ? EVP_get_digestbyobj(object) : nullptr;
    const long count = iterations != nullptr ? ASN1_INTEGER_get(iterations) : 1;
    return digest != nullptr && count > 0
               ? Pkcs12KdfCost(count, digest, static_cast<std::size_t>(EVP_MD_get_size(digest)))
               : DerivationCost{};
}

// Charges a copy of `budget` with one attempt at every derivation the file shows before any is
// run: the MAC, each encrypted part, each shrouded key of a part that is not encrypted. A file
// whose least work is past the budget is refused at once, in the words the read would end with,
// instead of after the budget has been spent.
ReadResult ForecastWork(const PKCS12* p12, WorkBudget budget) {
    std::string refused;
    if (PKCS12_mac_present(p12) && !budget.Charge(MacCost(p12), "file's integrity check", refused))
        return Failure(ReadFailure::TooMuchWork, refused);
    const Pkcs7StackPtr safes(PKCS12_unpack_authsafes(p12));
    std::size_t keyNumber = 0;
    for (int i = 0; safes && i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes.get(), i);
        const int type = OBJ_obj2nid(safe->type);
        if (type == NID_pkcs7_encrypted && safe->d.encrypted != nullptr &&
            safe->d.encrypted->enc_data != nullptr) {
            if (!budget.Charge(EncryptionCost(safe->d.encrypted->enc_data->algorithm),
                               "encrypted part " + std::to_string(i + 1), refused))
                return Failure(ReadFailure::TooMuchWork, refused);
        } else if (type == NID_pkcs7_data) {
            const SafeBagStackPtr bags(PKCS12_unpack_p7data(safe));
            for (int b = 0; bags && b < sk_PKCS12_SAFEBAG_num(bags.get()); ++b) {
                const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags.get(), b);
                if (PKCS12_SAFEBAG_get_nid(bag) != NID_pkcs8ShroudedKeyBag) continue;
                const X509_ALGOR* algorithm = nullptr;
                X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), &algorithm, nullptr);
                if (!budget.Charge(EncryptionCost(algorithm), "private key " + std::to_string(++keyNumber),
                                   refused))
                    return Failure(ReadFailure::TooMuchWork, refused);
            }
        }
    }
    // What could not be looked at here, the read itself reports.
    OpenSslErrors::Clear();
    return {};
}

// Tries the MAC with each password; `verifiedBy` is the index of the one that verified it.
ReadResult CheckMac(PKCS12* p12, std::span<const unsigned char> der,
                    const std::vector<Pkcs12Password>& passwords, WorkBudget& budget, DerivedKeys& keys,
                    std::size_t& verifiedBy) {
    const X509_ALGOR* macAlgorithm = nullptr;
    PKCS12_get0_mac(nullptr, &macAlgorithm, nullptr, nullptr, p12);
    const DerivationCost cost = MacCost(p12);
    OpenSslErrors errors;
    bool verified = false;
    for (std::size_t i = 0; i < passwords.size(); ++i) {
        std::string refused;
        if (!budget.Charge(cost, "file's integrity check", refused))
            return Failure(ReadFailure::TooMuchWork, refused);
        OpenSslErrors::Clear();
        const std::optional<bool> fast = FastMacCheck(p12, der, passwords[i], keys);
        if (fast == false) continue;  // a plain mismatch
        if (fast == true || PKCS12_verify_mac(p12, passwords[i].data, passwords[i].length) == 1) {
            verified = true;
            verifiedBy = i;
            break;
        }
        // A mismatch leaves the queue empty; anything in it means the MAC could not be computed.
        errors = OpenSslErrors::Take();
        if (!errors.Empty()) break;
    }
    if (!verified && errors.UnsupportedAlgorithm()) {
        return Failure(ReadFailure::UnsupportedAlgorithm,
                       WithDetails("The file's integrity check uses " + AlgorithmName(macAlgorithm) +
                                       ", which is not available.",
                                   errors));
    }
    if (!verified && !errors.Empty()) {
        return Failure(ReadFailure::Damaged,
                       WithDetails("The file's integrity check could not be computed.", errors));
    }
    if (!verified) return Failure(ReadFailure::WrongPassword, kWrongPasswordText);
    return {};
}

// Decrypts a part by the project's own derivation: true when it opened, false when the password
// is wrong, nothing when OpenSSL should decide (another scheme, parameters it may read otherwise).
std::optional<bool> FastDecrypt(const X509_ALGOR* algorithm, const ASN1_OCTET_STRING* data,
                                Pkcs12Password password, DerivedKeys& keys, Secret& plain) {
    WorkBudget attempt;  // the file's budget was charged for this attempt already
    return Decided(DecryptPart(algorithm, data, password, keys, attempt, std::string(), plain));
}

ReadResult ReadParts(const PKCS12* p12, std::vector<Pkcs12Password> passwords, WorkBudget& budget,
                     DerivedKeys& keys, Pkcs12Contents& contents) {
    // A tool keys every part with the same password, mostly: the one that opened a part goes first.
    const auto opened = [&](Pkcs12Password password) {
        const auto at = std::find_if(passwords.begin(), passwords.end(), [&](const Pkcs12Password& p) {
            return p.data == password.data && p.length == password.length;
        });
        if (at != passwords.end()) std::rotate(passwords.begin(), at, at + 1);
    };
    std::size_t keyNumber = 0;
    Pkcs7StackPtr safes(PKCS12_unpack_authsafes(p12));
    if (!safes) {
        return Failure(ReadFailure::Damaged,
                       WithDetails("The contents of the file are damaged or use public-key protection.",
                                   OpenSslErrors::Take()));
    }
    const KeyOpener openKey = [&](const PKCS12_SAFEBAG* bag, Pkcs8Ptr& key) {
        const X509_ALGOR* algorithm = nullptr;
        X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), &algorithm, nullptr);
        return TryPasswords(
            passwords, algorithm, "private key " + std::to_string(++keyNumber), budget,
            [&](Pkcs12Password password) {
                key.reset();
                const ASN1_OCTET_STRING* data = nullptr;
                X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), nullptr, &data);
                Secret plain;
                const std::optional<bool> fast = FastDecrypt(algorithm, data, password, keys, plain);
                if (fast == true) {
                    const unsigned char* p = plain.data();
                    key.reset(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(plain.size())));
                    OpenSslErrors::Clear();
                }
                // A key that would not decode goes to OpenSSL, which decides.
                if (!key && fast != false)
                    key.reset(PKCS12_decrypt_skey(bag, password.data, password.length));
                if (key) opened(password);
                return key != nullptr;
            });
    };
    for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes.get(), i);
        Secret plain;
        const int type = OBJ_obj2nid(safe->type);
        if (type == NID_pkcs7_data) {
            if (ReadResult copied = PlainSafe(safe, plain); !copied.ok()) return copied;
        } else if (type == NID_pkcs7_encrypted) {
            const PKCS7_ENC_CONTENT* content =
                safe->d.encrypted != nullptr ? safe->d.encrypted->enc_data : nullptr;
            if (content == nullptr || content->enc_data == nullptr) {
                return Failure(ReadFailure::Damaged, "An encrypted part of the file is empty.");
            }
            const X509_ALGOR* algorithm = content->algorithm;
            const std::string part = "encrypted part " + std::to_string(i + 1);
            ReadResult decrypted =
                TryPasswords(passwords, algorithm, part, budget, [&](Pkcs12Password password) {
                    const std::optional<bool> fast =
                        FastDecrypt(algorithm, content->enc_data, password, keys, plain);
                    if (fast == false) return false;
                    if (!fast) {
                        unsigned char* out = nullptr;
                        int outLength = 0;
                        if (PKCS12_pbe_crypt(algorithm, password.data, password.length,
                                             content->enc_data->data, content->enc_data->length, &out,
                                             &outLength, 0) == nullptr)
                            return false;
                        plain.Resize(static_cast<std::size_t>(outLength));
                        if (outLength > 0) std::memcpy(plain.data(), out, plain.size());
                        OPENSSL_clear_free(out, static_cast<std::size_t>(outLength));
                    }
                    // A wrong key now and then leaves valid padding; only a whole SafeContents counts.
                    const unsigned char* p = plain.data();
                    const unsigned char* end = p + plain.size();
                    long length = 0;
                    const bool whole = plain.size() > 0 && Header(p, end, length) && p + length == end;
                    if (whole) opened(password);
                    return whole;
                });
            if (!decrypted.ok()) return decrypted;
        } else {
            return Failure(ReadFailure::UnsupportedAlgorithm,
                           "A part of the file uses public-key encryption, which this program cannot open.");
        }
        ReadResult taken =
            TakeBags({plain.data(), plain.size()}, openKey, contents, static_cast<std::size_t>(i), 0);
        if (!taken.ok()) return taken;
    }
    return {};
}

}  // namespace

std::size_t Pkcs12Contents::KeyCount() const {
    std::size_t count = 0;
    for (const Pkcs12Item& item : items) count += item.IsKey() ? 1 : 0;
    return count;
}

std::size_t Pkcs12Contents::CertificateCount() const {
    std::size_t count = 0;
    for (const Pkcs12Item& item : items) count += item.isCertificate ? 1 : 0;
    return count;
}

ReadResult ReadPkcs12(const unsigned char* der, std::size_t length,
                      const std::vector<Pkcs12Password>& passwords, Pkcs12Contents& contents) {
    WorkBudget budget;
    return ReadPkcs12(der, length, passwords, contents, budget);
}

ReadResult ReadPkcs12(const unsigned char* der, std::size_t length,
                      const std::vector<Pkcs12Password>& passwords, Pkcs12Contents& contents,
                      WorkBudget& budget) {
    contents.items.clear();
    OpenSslErrors::Clear();
    if (length == 0 || length > LONG_MAX)
        return Failure(ReadFailure::NotPkcs12, "The file is not a PKCS#12 file.");
    const unsigned char* in = der;
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &in, static_cast<long>(length)));
    if (!p12) {
        return Failure(
            ReadFailure::NotPkcs12,
            WithDetails("The file is not a PKCS#12 file, or it is damaged.", OpenSslErrors::Take()));
    }

    // The MAC first: a file keyed with a password fails here before any part costs a derivation,
    // and the password that verified it is the one the parts most likely take.
    if (ReadResult forecast = ForecastWork(p12.get(), budget); !forecast.ok()) return forecast;
    std::vector<Pkcs12Password> ordered = passwords;
    DerivedKeys keys;  // wiped when the read ends
    if (PKCS12_mac_present(p12.get())) {
        std::size_t verifiedBy = 0;
        ReadResult mac = CheckMac(p12.get(), {der, length}, passwords, budget, keys, verifiedBy);
        if (!mac.ok()) return mac;
        std::rotate(ordered.begin(), ordered.begin() + static_cast<long>(verifiedBy),
                    ordered.begin() + static_cast<long>(verifiedBy) + 1);
    }
    ReadResult parts = ReadParts(p12.get(), ordered, budget, keys, contents);
    if (!parts.ok()) {
        contents.items.clear();
        return parts;
    }
    OpenSslErrors::Clear();
    return {};
}

}  // namespace kiv::certificate
