#include "certificate/MacScheme.h"

#include <openssl/crypto.h>
#include <openssl/hmac.h>
#include <openssl/objects.h>

#include <climits>

#include "certificate/DerWalk.h"

namespace kiv::certificate {
namespace {

bool Hmac(const EVP_MD* digest, const Secret& key, std::span<const unsigned char> data, unsigned char* mac,
          unsigned int& macLength) {
    return HMAC(digest, key.data(), static_cast<int>(key.size()), data.data(), data.size(), mac,
                &macLength) != nullptr;
}

bool EncodeDer(const PKCS12* p12, std::vector<unsigned char>& der) {
    const int length = i2d_PKCS12(p12, nullptr);
    if (length <= 0) return false;
    der.resize(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    return i2d_PKCS12(p12, &out) == length;
}

ReadResult CannotCompute() {
    return Failure(ReadFailure::Damaged, "The file's integrity check could not be computed.");
}

}  // namespace

KeyRequest MacScheme::Key(Pkcs12Password password) const {
    return {KeyKind::Pkcs12Mac,
            password,
            salt,
            static_cast<int>(iterations),
            digest,
            digest != nullptr ? static_cast<std::size_t>(EVP_MD_get_size(digest)) : 0};
}

bool MacScheme::OwnDerivation() const {
    switch (nid) {
        case NID_sha1:
        case NID_sha224:
        case NID_sha256:
        case NID_sha384:
        case NID_sha512:
            return true;
        default:
            return false;
    }
}

MacScheme ParseMac(const PKCS12* p12) {
    MacScheme scheme;
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* salt = nullptr;
    const ASN1_INTEGER* iterations = nullptr;
    PKCS12_get0_mac(&scheme.value, &algorithm, &salt, &iterations, p12);
    const ASN1_OBJECT* object = nullptr;
    if (algorithm != nullptr) X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
    if (object == nullptr) {
        scheme.name = "an unknown algorithm";
        return scheme;
    }
    char name[128] = {};
    OBJ_obj2txt(name, sizeof name, object, 0);
    scheme.name = name;
    scheme.nid = OBJ_obj2nid(object);
    scheme.digest = EVP_get_digestbyobj(object);
    if (salt != nullptr) scheme.salt.assign(salt->data, salt->data + salt->length);
    if (iterations != nullptr) scheme.iterations = ASN1_INTEGER_get(iterations);
    if (scheme.digest != nullptr && scheme.iterations > 0) {
        scheme.cost = Pkcs12KdfCost(scheme.iterations, scheme.digest,
                                    static_cast<std::size_t>(EVP_MD_get_size(scheme.digest)));
    }
    return scheme;
}

MacScheme CopyMac(const EVP_MD* digest, std::vector<unsigned char> salt, int iterations) {
    MacScheme scheme;
    scheme.nid = EVP_MD_get_type(digest);
    scheme.name = OBJ_nid2ln(scheme.nid);
    scheme.digest = digest;
    scheme.salt = std::move(salt);
    scheme.iterations = iterations;
    scheme.cost = Pkcs12KdfCost(iterations, digest, static_cast<std::size_t>(EVP_MD_get_size(digest)));
    return scheme;
}

ReadResult VerifyMac(const MacScheme& scheme, std::span<const unsigned char> der, Pkcs12Password password,
                     DerivedKeys& keys, WorkBudget& budget) {
    if (scheme.digest == nullptr || scheme.value == nullptr) {
        return Failure(ReadFailure::UnsupportedAlgorithm,
                       "The file's integrity check uses " + scheme.name + ", which is not available.");
    }
    std::span<const unsigned char> authSafe;
    if (scheme.iterations <= 0 || scheme.iterations > INT_MAX || !AuthSafeContents(der, authSafe))
        return CannotCompute();
    const KeyRequest request = scheme.Key(password);
    std::string refused;
    if (!keys.Has(request) && !budget.Charge(scheme.cost, "file's integrity check", refused))
        return Failure(ReadFailure::TooMuchWork, refused);
    const Secret* key = keys.Get(request);
    unsigned char computed[EVP_MAX_MD_SIZE];
    unsigned int computedLength = 0;
    if (key == nullptr || !Hmac(scheme.digest, *key, authSafe, computed, computedLength))
        return CannotCompute();
    if (static_cast<int>(computedLength) != ASN1_STRING_length(scheme.value) ||
        CRYPTO_memcmp(computed, ASN1_STRING_get0_data(scheme.value), computedLength) != 0) {
        return Failure(ReadFailure::WrongPassword, kWrongPasswordText);
    }
    return {};
}

bool WriteMac(PKCS12* p12, const MacScheme& scheme, const Secret& key, std::vector<unsigned char>& der) {
    std::span<const unsigned char> authSafe;
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLength = 0;
    const ASN1_OCTET_STRING* value = nullptr;
    if (scheme.salt.size() > INT_MAX || scheme.iterations > INT_MAX ||
        !PKCS12_setup_mac(p12, static_cast<int>(scheme.iterations),
                          const_cast<unsigned char*>(scheme.salt.data()),
                          static_cast<int>(scheme.salt.size()), scheme.digest) ||
        !EncodeDer(p12, der) || !AuthSafeContents(der, authSafe) ||
        !Hmac(scheme.digest, key, authSafe, mac, macLength)) {
        return false;
    }
    PKCS12_get0_mac(&value, nullptr, nullptr, nullptr, p12);
    // OpenSSL only hands the digest out as const; it is p12's own, writable object.
    return value != nullptr &&
           ASN1_OCTET_STRING_set(const_cast<ASN1_OCTET_STRING*>(value), mac, static_cast<int>(macLength)) ==
               1 &&
           EncodeDer(p12, der);
}

}  // namespace kiv::certificate
