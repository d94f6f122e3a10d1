// Encoding the copy: the source's safes in order, keys shrouded, everything else encrypted, one MAC.

#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/rand.h>

#include <climits>
#include <cstring>

#include "certificate/DerWalk.h"
#include "certificate/OpenSslErrors.h"
#include "certificate/Pkcs12Bags.h"
#include "certificate/Pkcs12Parts.h"
#include "certificate/WorkLimits.h"

namespace kiv::certificate {
namespace {

// The bag's encoding with `attributes` (an encoded SET, or nothing) after its value.
std::vector<unsigned char> WithAttributes(const PKCS12_SAFEBAG* bag,
                                          std::span<const unsigned char> attributes) {
    const Secret der = BagDer(bag);
    const unsigned char* p = der.data();
    const unsigned char* end = der.data() + der.size();
    long length = 0;
    if (der.size() == 0 || !Header(p, end, length)) return {};
    const long contentLength = length + static_cast<long>(attributes.size());
    const int total = ASN1_object_size(1, contentLength, V_ASN1_SEQUENCE);
    if (total <= 0) return {};
    std::vector<unsigned char> joined(static_cast<std::size_t>(total));
    unsigned char* out = joined.data();
    ASN1_put_object(&out, 1, contentLength, V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL);
    std::memcpy(out, p, static_cast<std::size_t>(length));
    if (!attributes.empty()) std::memcpy(out + length, attributes.data(), attributes.size());
    return joined;
}

// What one save derives and how it encrypts, from its options.
class Scheme {
  public:
    explicit Scheme(const SaveOptions& options)
        : tripleDes_(options.algorithms == SaveOptions::Algorithms::TripleDesSha1),
          iterations_(options.iterations),
          digest_(tripleDes_ ? EVP_sha1() : EVP_sha256()),
          cipher_(tripleDes_ ? EVP_des_ede3_cbc() : EVP_aes_256_cbc()) {}

    bool TripleDes() const { return tripleDes_; }
    // 3DES copies take the 8-byte salts of the tools the older systems were made to read.
    std::size_t SaltLength() const { return tripleDes_ ? 8 : 16; }
    int Iterations() const { return iterations_; }
    const EVP_MD* MacDigest() const { return digest_; }
    const EVP_CIPHER* Cipher() const { return cipher_; }

    // The derivations one encrypted part with `salt` needs: a PBKDF2 key, or a PKCS#12 key and IV.
    std::vector<KeyRequest> Encryption(Pkcs12Password password,
                                       const std::vector<unsigned char>& salt) const {
        const auto keyLength = static_cast<std::size_t>(EVP_CIPHER_get_key_length(cipher_));
        if (!tripleDes_) return {{KeyKind::Pbkdf2, password, salt, iterations_, digest_, keyLength}};
        return {{KeyKind::Pkcs12Key, password, salt, iterations_, digest_, keyLength},
                {KeyKind::Pkcs12Iv, password, salt, iterations_, digest_,
                 static_cast<std::size_t>(EVP_CIPHER_get_iv_length(cipher_))}};
    }

    KeyRequest Mac(Pkcs12Password password, const std::vector<unsigned char>& salt) const {
        return {KeyKind::Pkcs12Mac, password, salt,
                iterations_,        digest_,  static_cast<std::size_t>(EVP_MD_get_size(digest_))};
    }

    DerivationCost Cost(const KeyRequest& request) const {
        if (request.kind == KeyKind::Pbkdf2)
            return Pbkdf2Cost(request.iterations, request.digest, request.length);
        return Pkcs12KdfCost(request.iterations, request.digest, request.length);
    }

  private:
    bool tripleDes_;
    int iterations_;
    const EVP_MD* digest_;
    const EVP_CIPHER* cipher_;
};

std::vector<unsigned char> Random(std::size_t size) {
    std::vector<unsigned char> bytes(size);
    if (RAND_bytes(bytes.data(), static_cast<int>(size)) != 1) bytes.clear();
    return bytes;
}

// One encrypted part: its PBES2 AlgorithmIdentifier and ciphertext.
struct Encrypted {
    X509AlgorPtr algorithm;
    Asn1OctetStringPtr data;
};

bool Encrypt(const Scheme& scheme, const unsigned char* plain, std::size_t length, Pkcs12Password password,
             const std::vector<unsigned char>& salt, DerivedKeys& keys, Encrypted& out) {
    const std::vector<KeyRequest> requests = scheme.Encryption(password, salt);
    const Secret* key = keys.Get(requests.front());
    if (key == nullptr) return false;
    std::vector<unsigned char> iv;
    if (scheme.TripleDes()) {
        const Secret* derived = keys.Get(requests.back());
        if (derived == nullptr) return false;
        iv.assign(derived->data(), derived->data() + derived->size());
        out.algorithm.reset(PKCS5_pbe_set(NID_pbe_WithSHA1And3_Key_TripleDES_CBC, scheme.Iterations(),
                                          salt.data(), static_cast<int>(salt.size())));
    } else {
        iv = Random(static_cast<std::size_t>(EVP_CIPHER_get_iv_length(scheme.Cipher())));
        if (iv.empty()) return false;
        out.algorithm.reset(PKCS5_pbe2_set_iv_ex(
            scheme.Cipher(), scheme.Iterations(), const_cast<unsigned char*>(salt.data()),
            static_cast<int>(salt.size()), iv.data(), NID_hmacWithSHA256, nullptr));
    }
    Secret ciphertext;
    if (!out.algorithm || !Crypt(scheme.Cipher(), *key, iv.data(), plain, length, true, ciphertext))
        return false;
    out.data.reset(ASN1_OCTET_STRING_new());
    return out.data &&
           ASN1_OCTET_STRING_set(out.data.get(), ciphertext.data(), static_cast<int>(ciphertext.size())) == 1;
}

// The encoding of the key's shrouded bag, with the source bag's attribute bytes.
std::vector<unsigned char> ShroudedKeyBag(const Scheme& scheme, const Pkcs12Item& item,
                                          Pkcs12Password password, const std::vector<unsigned char>& salt,
                                          DerivedKeys& keys) {
    const Secret plain = KeyDer(item.key.get());
    Encrypted encrypted;
    if (plain.size() == 0 || !Encrypt(scheme, plain.data(), plain.size(), password, salt, keys, encrypted))
        return {};
    X509SigPtr shrouded(X509_SIG_new());
    if (!shrouded) return {};
    X509_ALGOR* algorithm = nullptr;
    ASN1_OCTET_STRING* data = nullptr;
    X509_SIG_getm(shrouded.get(), &algorithm, &data);
    if (X509_ALGOR_copy(algorithm, encrypted.algorithm.get()) != 1 ||
        ASN1_STRING_copy(data, encrypted.data.get()) != 1) {
        return {};
    }
    SafeBagPtr bag(PKCS12_SAFEBAG_create0_pkcs8(shrouded.get()));
    if (!bag) return {};
    shrouded.release();  // now owned by `bag`
    return WithAttributes(bag.get(), item.keyAttributes);
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
Pkcs7Ptr EncryptedSafe(const Scheme& scheme, const Secret& safeContents, Pkcs12Password password,
                       const std::vector<unsigned char>& salt, DerivedKeys& keys) {
    Encrypted encrypted;
    if (safeContents.size() == 0 ||
        !Encrypt(scheme, safeContents.data(), safeContents.size(), password, salt, keys, encrypted))
        return nullptr;
    Pkcs7Ptr safe(PKCS7_new());
    if (!safe || !PKCS7_set_type(safe.get(), NID_pkcs7_encrypted)) return nullptr;
    PKCS7_ENC_CONTENT* content = safe->d.encrypted->enc_data;
    ASN1_OCTET_STRING_free(content->enc_data);
    content->enc_data = encrypted.data.release();
    X509_ALGOR_free(content->algorithm);
    content->algorithm = encrypted.algorithm.release();
    return safe;
}

bool EncodeDer(const PKCS12* p12, std::vector<unsigned char>& der) {
    const int length = i2d_PKCS12(p12, nullptr);
    if (length <= 0) return false;
    der.resize(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    return i2d_PKCS12(p12, &out) == length;
}

}  // namespace

CallResult EncodePkcs12(const Pkcs12Contents& contents, Pkcs12Password password, const SaveOptions& options,
                        DerivedKeys& keys, std::vector<unsigned char>& der) {
    OpenSslErrors::Clear();
    const std::string problem = SaveOptionsProblem(options);
    if (!problem.empty())
        return CallResult::Failure("The copy cannot be protected that way: " + problem + ".");
    const Scheme scheme(options);
    const auto failed = [](const std::string& sentence) {
        return CallResult::Failure(WithDetails(sentence, OpenSslErrors::Take()));
    };
    Pkcs7StackPtr safes(sk_PKCS7_new_null());
    if (!safes) return failed("Out of memory.");

    // One output safe per run of like bags within a source safe. Every salt is chosen first so that
    // all keys can be derived at once.
    struct OutputSafe {
        bool keys = false;
        std::vector<const Pkcs12Item*> items;
        std::vector<std::vector<unsigned char>> salts;  // one per key, or the safe's own
    };
    std::vector<OutputSafe> layout;
    std::vector<KeyRequest> requests;
    for (const Pkcs12Item& item : contents.items) {
        if (layout.empty() || layout.back().keys != item.IsKey() ||
            layout.back().items.front()->safe != item.safe)
            layout.push_back({item.IsKey(), {}, {}});
        OutputSafe& safe = layout.back();
        safe.items.push_back(&item);
        if (safe.keys || safe.salts.empty()) {
            safe.salts.push_back(keys.NewSalt(scheme.Encryption(password, {}).front(), scheme.SaltLength()));
            for (KeyRequest& request : scheme.Encryption(password, safe.salts.back()))
                requests.push_back(std::move(request));
        }
    }
    const std::vector<unsigned char> macSalt = keys.NewSalt(scheme.Mac(password, {}), scheme.SaltLength());
    requests.push_back(scheme.Mac(password, macSalt));
    for (const KeyRequest& request : requests) {
        if (request.salt.empty()) return failed("No random numbers are available.");
    }
    // A file of many tiny keys would otherwise keep the window busy for minutes.
    std::uint64_t rounds = 0;
    for (const KeyRequest& request : requests) rounds += scheme.Cost(request).rounds;
    if (rounds > kDerivationBudget) {
        return CallResult::Failure(
            "The file holds too many keys and parts to protect in one save: " + Grouped(requests.size()) +
            " key derivations of " + Grouped(static_cast<std::uint64_t>(scheme.Iterations())) +
            " iterations would take more than " + Grouped(kDerivationBudget) + " hash rounds.");
    }
    if (!keys.Prepare(requests, options.parallelDerivations))
        return failed("The keys could not be derived from the password.");

    for (const OutputSafe& part : layout) {
        Pkcs7Ptr safe;
        if (part.keys) {
            std::vector<std::vector<unsigned char>> keyBags;
            for (std::size_t i = 0; i < part.items.size(); ++i) {
                keyBags.push_back(ShroudedKeyBag(scheme, *part.items[i], password, part.salts[i], keys));
                if (keyBags.back().empty()) return failed("A private key could not be encrypted.");
            }
            safe = PlainSafe(SequenceOf({keyBags.begin(), keyBags.end()}));
            if (!safe) return failed("The private keys could not be packed.");
        } else {
            std::vector<std::span<const unsigned char>> bags;
            for (const Pkcs12Item* item : part.items) bags.emplace_back(item->der.data(), item->der.size());
            safe = EncryptedSafe(scheme, SequenceOf(bags), password, part.salts.front(), keys);
            if (!safe) return failed("The certificates could not be encrypted.");
        }
        if (!sk_PKCS7_push(safes.get(), safe.get())) return failed("Out of memory.");
        safe.release();
    }
    Pkcs12Ptr p12(PKCS12_add_safes(safes.get(), 0));
    if (!p12) return failed("The PKCS#12 structure could not be built.");

    const Secret* macKey = keys.Get(scheme.Mac(password, macSalt));
    std::span<const unsigned char> authSafe;
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLength = 0;
    const ASN1_OCTET_STRING* digest = nullptr;
    if (macKey == nullptr ||
        !PKCS12_setup_mac(p12.get(), scheme.Iterations(), const_cast<unsigned char*>(macSalt.data()),
                          static_cast<int>(macSalt.size()), scheme.MacDigest()) ||
        !EncodeDer(p12.get(), der) || !AuthSafeContents(der, authSafe) ||
        !Hmac(scheme.MacDigest(), *macKey, authSafe, mac, macLength)) {
        return failed("The integrity check could not be computed.");
    }
    PKCS12_get0_mac(&digest, nullptr, nullptr, nullptr, p12.get());
    // OpenSSL only hands the digest out as const; it is p12's own, writable object.
    if (digest == nullptr || ASN1_OCTET_STRING_set(const_cast<ASN1_OCTET_STRING*>(digest), mac,
                                                   static_cast<int>(macLength)) != 1) {
        return failed("The integrity check could not be computed.");
    }
    if (!EncodeDer(p12.get(), der)) return failed("The PKCS#12 file could not be encoded.");
    return CallResult::Success();
}

}  // namespace kiv::certificate
