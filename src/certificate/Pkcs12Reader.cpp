// The reader of PKCS#12 files: each MAC and each encrypted part is tried with the passwords it is
// given in turn, the program's own derivations first and OpenSSL where they cannot tell.

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>

#include "certificate/DerWalk.h"
#include "certificate/MacScheme.h"
#include "certificate/OpenSslErrors.h"
#include "certificate/Pkcs12Bags.h"
#include "certificate/Pkcs12Safes.h"
#include "certificate/WorkLimits.h"

namespace kiv::certificate {
namespace {

// What one password made of a part: nothing when it did not open it, a wrong key's doing;
// otherwise what the part's contents gave, read or refused.
using Attempt = std::function<std::optional<ReadResult>(Pkcs12Password)>;

// Runs `attempt` with each password until one opens the part, each attempt charged to `budget`
// first. When none does, tells a wrong password (every try ended in bad padding or in no contents)
// from an algorithm that cannot be used and from a part that cannot be decrypted at all.
ReadResult TryPasswords(const std::vector<Pkcs12Password>& passwords, const EncryptedPart& part,
                        WorkBudget& budget, const Attempt& attempt) {
    OpenSslErrors errors;
    bool undecryptable = false;
    for (const Pkcs12Password& password : passwords) {
        std::string refused;
        if (!budget.Charge(part.scheme.cost, part.name, refused))
            return Failure(ReadFailure::TooMuchWork, refused);
        OpenSslErrors::Clear();
        if (const std::optional<ReadResult> opened = attempt(password)) {
            OpenSslErrors::Clear();
            return *opened;
        }
        errors = OpenSslErrors::Take();
        undecryptable = undecryptable || (!errors.Empty() && !errors.BadDecrypt());
        if (errors.UnsupportedAlgorithm()) break;
        // PBKDF2 and scrypt take the empty password and no password alike: another try is the same.
        if (part.scheme.pbes2) break;
    }
    if (errors.UnsupportedAlgorithm()) {
        std::string text = "The file is encrypted with " + part.scheme.name + ", which is not available.";
        if (!LegacyProviderAvailable()) {
            text += " OpenSSL's legacy provider, which older algorithms need, could not be loaded.";
        }
        return Failure(ReadFailure::UnsupportedAlgorithm, WithDetails(text, errors));
    }
    if (undecryptable)
        return Failure(ReadFailure::Damaged,
                       WithDetails("The " + part.name + " cannot be decrypted.", errors));
    return Failure(ReadFailure::WrongPassword, kWrongPasswordText);
}

// Fewer bytes than this after a decrypted part's contents are padding: a library that pads for a
// block cipher pads for a stream cipher too, and the widest block of a PKCS#12 cipher is AES's.
constexpr std::size_t kPaddingBelow = 16;

// Where the contents of a decrypted part end: nothing when it does not start with a SEQUENCE that
// fits in it, as a wrong key leaves it; otherwise at `length`, refused when more than padding
// follows.
std::optional<ReadResult> Contents(const Secret& plain, const std::string& part, std::size_t& length) {
    const unsigned char* p = plain.data();
    long inner = 0;
    if (plain.size() == 0 || plain.data()[0] != (V_ASN1_CONSTRUCTED | V_ASN1_SEQUENCE) ||
        !Header(p, plain.data() + plain.size(), inner))
        return std::nullopt;
    length = static_cast<std::size_t>(p - plain.data() + inner);
    const std::size_t extra = plain.size() - length;
    if (extra < kPaddingBelow) return ReadResult{};
    return Failure(ReadFailure::Damaged,
                   "The " + part + " holds " + Grouped(extra) + " bytes after its contents.");
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
std::optional<bool> FastMacCheck(const MacScheme& mac, std::span<const unsigned char> der,
                                 Pkcs12Password password, DerivedKeys& keys) {
    if (!mac.OwnDerivation()) return std::nullopt;
    // Its own budget: the attempt is charged to the file's before this runs.
    WorkBudget attempt;
    return Decided(VerifyMac(mac, der, password, keys, attempt));
}

// Charges a copy of `budget` with one attempt at every derivation the file shows before any is
// run: the MAC, each encrypted part, each shrouded key of a part that is not encrypted. A file
// whose least work is past the budget is refused at once, in the words the read would end with,
// instead of after the budget has been spent.
ReadResult ForecastWork(const PKCS12* p12, WorkBudget budget) {
    std::string refused;
    if (PKCS12_mac_present(p12) && !budget.Charge(ParseMac(p12).cost, "file's integrity check", refused))
        return Failure(ReadFailure::TooMuchWork, refused);
    std::size_t keyNumber = 0;
    const ReadResult forecast = ForEachSafe(p12, [&](const Safe& safe) {
        if (safe.encrypted != nullptr) {
            if (!budget.Charge(safe.encrypted->scheme.cost, safe.encrypted->name, refused))
                return Failure(ReadFailure::TooMuchWork, refused);
            return ReadResult{};
        }
        const SafeBagStackPtr bags(static_cast<STACK_OF(PKCS12_SAFEBAG)*>(
            ASN1_item_unpack(safe.plain, ASN1_ITEM_rptr(PKCS12_SAFEBAGS))));
        for (int b = 0; bags && b < sk_PKCS12_SAFEBAG_num(bags.get()); ++b) {
            const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags.get(), b);
            if (PKCS12_SAFEBAG_get_nid(bag) != NID_pkcs8ShroudedKeyBag) continue;
            const X509_ALGOR* algorithm = nullptr;
            X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), &algorithm, nullptr);
            if (!budget.Charge(ParseEncryption(algorithm).cost, "private key " + std::to_string(++keyNumber),
                               refused))
                return Failure(ReadFailure::TooMuchWork, refused);
        }
        return ReadResult{};
    });
    // What could not be looked at here, the read itself reports.
    OpenSslErrors::Clear();
    if (forecast.failure == ReadFailure::TooMuchWork) return forecast;
    return {};
}

// Tries the MAC with each password; `verifiedBy` is the index of the one that verified it.
ReadResult CheckMac(PKCS12* p12, std::span<const unsigned char> der,
                    const std::vector<Pkcs12Password>& passwords, WorkBudget& budget, DerivedKeys& keys,
                    std::size_t& verifiedBy) {
    const MacScheme mac = ParseMac(p12);
    OpenSslErrors errors;
    bool verified = false;
    for (std::size_t i = 0; i < passwords.size(); ++i) {
        std::string refused;
        if (!budget.Charge(mac.cost, "file's integrity check", refused))
            return Failure(ReadFailure::TooMuchWork, refused);
        OpenSslErrors::Clear();
        const std::optional<bool> fast = FastMacCheck(mac, der, passwords[i], keys);
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
        return Failure(
            ReadFailure::UnsupportedAlgorithm,
            WithDetails("The file's integrity check uses " + mac.name + ", which is not available.", errors));
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
std::optional<bool> FastDecrypt(const EncryptedPart& part, Pkcs12Password password, DerivedKeys& keys,
                                Secret& plain) {
    WorkBudget attempt;  // the file's budget was charged for this attempt already
    return Decided(Decrypt(part.scheme, part.data, password, keys, attempt, part.name, plain));
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
    // The part under `password` by the program's own decryption, or OpenSSL's where that cannot
    // tell; false when the key is wrong or OpenSSL could not decrypt it (its queue says why).
    const auto decrypt = [&](const EncryptedPart& part, Pkcs12Password password, Secret& plain) {
        const std::optional<bool> fast = FastDecrypt(part, password, keys, plain);
        if (fast) return *fast;
        unsigned char* out = nullptr;
        int outLength = 0;
        if (PKCS12_pbe_crypt(part.algorithm, password.data, password.length, part.data->data,
                             part.data->length, &out, &outLength, 0) == nullptr)
            return false;
        plain.Resize(static_cast<std::size_t>(outLength));
        if (outLength > 0) std::memcpy(plain.data(), out, plain.size());
        OPENSSL_clear_free(out, static_cast<std::size_t>(outLength));
        return true;
    };
    PartOpeners open;
    open.key = [&](const EncryptedPart& part, Pkcs8Ptr& key) {
        if (part.algorithm == nullptr || part.data == nullptr)
            return Failure(ReadFailure::Damaged, "An encrypted part of the file is empty.");
        return TryPasswords(
            passwords, part, budget, [&](Pkcs12Password password) -> std::optional<ReadResult> {
                Secret plain;
                std::size_t length = 0;
                if (!decrypt(part, password, plain)) return std::nullopt;
                std::optional<ReadResult> held = Contents(plain, part.name, length);
                if (!held || !held->ok()) return held;
                const unsigned char* p = plain.data();
                key.reset(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(length)));
                if (!key)
                    return Failure(ReadFailure::Damaged, "The " + part.name + " in the file is damaged.");
                opened(password);
                return ReadResult{};
            });
    };
    open.safe = [&](const EncryptedPart& part, Secret& plain) {
        return TryPasswords(passwords, part, budget,
                            [&](Pkcs12Password password) -> std::optional<ReadResult> {
                                std::size_t length = 0;
                                if (!decrypt(part, password, plain)) return std::nullopt;
                                std::optional<ReadResult> held = Contents(plain, part.name, length);
                                if (held && held->ok()) {
                                    plain.Resize(length);
                                    opened(password);
                                }
                                return held;
                            });
    };
    return ReadSafes(p12, open, contents);
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
