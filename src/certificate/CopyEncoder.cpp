// Encoding the copy: the source's safes in order, keys shrouded, everything else encrypted, one MAC.

#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/rand.h>

#include <climits>
#include <cstring>

#include "certificate/DerWalk.h"
#include "certificate/EncryptionScheme.h"
#include "certificate/MacScheme.h"
#include "certificate/OpenSslErrors.h"
#include "certificate/Pkcs12Bags.h"
#include "certificate/Pkcs12Safes.h"
#include "certificate/WorkLimits.h"

namespace kiv::certificate {
namespace {

// The schemes one save writes its parts and its MAC with, from its options.
class CopySchemes {
  public:
    explicit CopySchemes(const SaveOptions& options)
        : tripleDes_(options.algorithms == SaveOptions::Algorithms::TripleDesSha1),
          iterations_(options.iterations) {}

    // 3DES copies take the 8-byte salts of the tools the older systems were made to read.
    std::size_t SaltLength() const { return tripleDes_ ? 8 : 16; }
    int Iterations() const { return iterations_; }

    // A part's scheme, its salt still to be chosen; a PBES2 part gets a fresh random IV, and none
    // when no random bytes could be had.
    EncryptionScheme Part() const {
        if (tripleDes_) return TripleDesScheme({}, iterations_);
        std::vector<unsigned char> iv(static_cast<std::size_t>(EVP_CIPHER_get_iv_length(EVP_aes_256_cbc())));
        if (RAND_bytes(iv.data(), static_cast<int>(iv.size())) != 1) iv.clear();
        return Pbes2Scheme(EVP_aes_256_cbc(), NID_hmacWithSHA256, {}, iterations_, std::move(iv));
    }

    MacScheme Mac() const { return CopyMac(tripleDes_ ? EVP_sha1() : EVP_sha256(), {}, iterations_); }

  private:
    bool tripleDes_;
    int iterations_;
};

// The encoding of the key's shrouded bag, with the source bag's attribute bytes.
std::vector<unsigned char> ShroudedKeyBag(const EncryptionScheme& scheme, const Pkcs12Item& item,
                                          Pkcs12Password password, DerivedKeys& keys) {
    const Secret plain = KeyDer(item.key.get());
    X509AlgorPtr encryptedWith;
    Asn1OctetStringPtr ciphertext;
    if (plain.size() == 0 ||
        !Encrypt(scheme, {plain.data(), plain.size()}, password, keys, encryptedWith, ciphertext))
        return {};
    X509SigPtr shrouded(X509_SIG_new());
    if (!shrouded) return {};
    X509_ALGOR* algorithm = nullptr;
    ASN1_OCTET_STRING* data = nullptr;
    X509_SIG_getm(shrouded.get(), &algorithm, &data);
    if (X509_ALGOR_copy(algorithm, encryptedWith.get()) != 1 ||
        ASN1_STRING_copy(data, ciphertext.get()) != 1) {
        return {};
    }
    SafeBagPtr bag(PKCS12_SAFEBAG_create0_pkcs8(shrouded.get()));
    if (!bag) return {};
    shrouded.release();  // now owned by `bag`
    const Secret der = BagDer(bag.get());
    return WithAttributes({der.data(), der.size()}, item.keyAttributes);
}

// A ContentInfo of type data holding `safeContents` as they are.
Pkcs7Ptr PlainSafe(const Secret& safeContents) {
    Pkcs7Ptr safe(PKCS7_new());
    if (!safe || !PKCS7_set_type(safe.get(), NID_pkcs7_data) || safe->d.data == nullptr ||
        ASN1_OCTET_STRING_set(safe->d.data, safeContents.data(), static_cast<int>(safeContents.size())) !=
            1) {
        return nullptr;
    }
    return safe;
}

// A ContentInfo of type encrypted-data holding `safeContents` encrypted.
Pkcs7Ptr EncryptedSafe(const EncryptionScheme& scheme, const Secret& safeContents, Pkcs12Password password,
                       DerivedKeys& keys) {
    X509AlgorPtr encryptedWith;
    Asn1OctetStringPtr ciphertext;
    if (safeContents.size() == 0 || !Encrypt(scheme, {safeContents.data(), safeContents.size()}, password,
                                             keys, encryptedWith, ciphertext))
        return nullptr;
    Pkcs7Ptr safe(PKCS7_new());
    if (!safe || !PKCS7_set_type(safe.get(), NID_pkcs7_encrypted)) return nullptr;
    PKCS7_ENC_CONTENT* content = safe->d.encrypted->enc_data;
    ASN1_OCTET_STRING_free(content->enc_data);
    content->enc_data = ciphertext.release();
    X509_ALGOR_free(content->algorithm);
    content->algorithm = encryptedWith.release();
    return safe;
}

// One output safe per run of like bags within a source safe.
struct OutputSafe {
    bool keys = false;
    std::vector<const Pkcs12Item*> items;
    std::vector<EncryptionScheme> schemes;  // one per key, or the safe's own
};

std::vector<OutputSafe> LayoutOf(const Pkcs12Contents& contents) {
    std::vector<OutputSafe> layout;
    for (const Pkcs12Item& item : contents.items) {
        if (layout.empty() || layout.back().keys != item.IsKey() ||
            layout.back().items.front()->safe != item.safe)
            layout.push_back({item.IsKey(), {}, {}});
        layout.back().items.push_back(&item);
    }
    return layout;
}

}  // namespace

CallResult CopyRefusal(const Pkcs12Contents& contents, const SaveOptions& options) {
    const std::string problem = SaveOptionsProblem(options);
    if (!problem.empty())
        return CallResult::Failure("The copy cannot be protected that way: " + problem + ".");
    const CopySchemes schemes(options);
    std::size_t encryptions = 0;  // a key each, and one for each safe of other bags
    for (const OutputSafe& safe : LayoutOf(contents)) encryptions += safe.keys ? safe.items.size() : 1;
    // A file of many tiny keys would otherwise keep the window busy for minutes.
    const EncryptionScheme part = schemes.Part();
    const MacScheme mac = schemes.Mac();
    const std::uint64_t rounds = encryptions * part.cost.rounds + mac.cost.rounds;
    if (rounds > kDerivationBudget) {
        return CallResult::Failure("The file holds too many keys and parts to protect in one save: " +
                                   Grouped(encryptions * part.Keys({}).size() + 1) + " key derivations of " +
                                   Grouped(static_cast<std::uint64_t>(schemes.Iterations())) +
                                   " iterations would take more than " + Grouped(kDerivationBudget) +
                                   " hash rounds.");
    }
    return CallResult::Success();
}

CallResult EncodePkcs12(const Pkcs12Contents& contents, Pkcs12Password password, const SaveOptions& options,
                        DerivedKeys& keys, std::vector<unsigned char>& der) {
    OpenSslErrors::Clear();
    if (CallResult refused = CopyRefusal(contents, options); !refused.ok) return refused;
    const CopySchemes schemes(options);
    const auto failed = [](const std::string& sentence) {
        return CallResult::Failure(WithDetails(sentence, OpenSslErrors::Take()));
    };
    Pkcs7StackPtr safes(sk_PKCS7_new_null());
    if (!safes) return failed("Out of memory.");

    // Every salt is chosen first so that all keys can be derived at once.
    std::vector<OutputSafe> layout = LayoutOf(contents);
    std::vector<KeyRequest> requests;
    for (OutputSafe& safe : layout) {
        for (std::size_t i = 0; i < (safe.keys ? safe.items.size() : 1); ++i) {
            EncryptionScheme& scheme = safe.schemes.emplace_back(schemes.Part());
            if (scheme.pbes2 && scheme.iv.empty()) return failed("No random numbers are available.");
            scheme.salt = keys.NewSalt(scheme.Keys(password).front(), schemes.SaltLength());
            for (KeyRequest& request : scheme.Keys(password)) requests.push_back(std::move(request));
        }
    }
    MacScheme mac = schemes.Mac();
    mac.salt = keys.NewSalt(mac.Key(password), schemes.SaltLength());
    requests.push_back(mac.Key(password));
    for (const KeyRequest& request : requests) {
        if (request.salt.empty()) return failed("No random numbers are available.");
    }
    if (!keys.Prepare(requests, options.parallelDerivations))
        return failed("The keys could not be derived from the password.");

    for (const OutputSafe& part : layout) {
        Pkcs7Ptr safe;
        if (part.keys) {
            std::vector<std::vector<unsigned char>> keyBags;
            for (std::size_t i = 0; i < part.items.size(); ++i) {
                keyBags.push_back(ShroudedKeyBag(part.schemes[i], *part.items[i], password, keys));
                if (keyBags.back().empty()) return failed("A private key could not be encrypted.");
            }
            safe = PlainSafe(SequenceOf({keyBags.begin(), keyBags.end()}));
            if (!safe) return failed("The private keys could not be packed.");
        } else {
            std::vector<std::span<const unsigned char>> bags;
            for (const Pkcs12Item* item : part.items) bags.emplace_back(item->der.data(), item->der.size());
            safe = EncryptedSafe(part.schemes.front(), SequenceOf(bags), password, keys);
            if (!safe) return failed("The certificates could not be encrypted.");
        }
        if (!sk_PKCS7_push(safes.get(), safe.get())) return failed("Out of memory.");
        safe.release();
    }
    Pkcs12Ptr p12(PKCS12_add_safes(safes.get(), 0));
    if (!p12) return failed("The PKCS#12 structure could not be built.");

    const Secret* macKey = keys.Get(mac.Key(password));
    if (macKey == nullptr || !WriteMac(p12.get(), mac, *macKey, der))
        return failed("The integrity check could not be computed.");
    return CallResult::Success();
}

}  // namespace kiv::certificate
