// Keys paired with their certificates by a localKeyID, as OpenSSL's writer pairs them: NSS and Java
// find a key's certificate by that attribute alone, and take a key without one for a key without a
// certificate.

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <string>
#include <unordered_map>

#include "certificate/DerWalk.h"
#include "certificate/OpenSslErrors.h"
#include "certificate/OpenSslHandles.h"
#include "certificate/Pkcs12Bags.h"

namespace kiv::certificate {
namespace {

using AttributePtr = std::unique_ptr<X509_ATTRIBUTE, FreeWith<X509_ATTRIBUTE_free>>;
using Elements = std::vector<std::span<const unsigned char>>;

// The elements of an attribute SET as the bag holds it (DER), none when there is no SET; false for
// an encoding this program does not take apart.
bool Attributes(std::span<const unsigned char> set, Elements& elements) {
    elements.clear();
    return set.empty() || (set[0] == (V_ASN1_CONSTRUCTED | V_ASN1_SET) && SequenceElements(set, elements));
}

// The localKeyID among `elements`, whole; empty when there is none.
std::span<const unsigned char> LocalKeyId(const Elements& elements) {
    for (const std::span<const unsigned char> element : elements) {
        const unsigned char* p = element.data();
        const AttributePtr attribute(d2i_X509_ATTRIBUTE(nullptr, &p, static_cast<long>(element.size())));
        if (attribute && OBJ_obj2nid(X509_ATTRIBUTE_get0_object(attribute.get())) == NID_localKeyID)
            return element;
    }
    return {};
}

// The localKeyID OpenSSL's writer gives a key and its certificate: the SHA-1 of the certificate.
std::vector<unsigned char> LocalKeyIdOf(const X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    Asn1OctetStringPtr id(ASN1_OCTET_STRING_new());
    if (!id || X509_digest(certificate, EVP_sha1(), digest, &length) != 1 ||
        ASN1_OCTET_STRING_set(id.get(), digest, static_cast<int>(length)) != 1)
        return {};
    const AttributePtr attribute(X509_ATTRIBUTE_create(NID_localKeyID, V_ASN1_OCTET_STRING, id.get()));
    if (!attribute) return {};
    static_cast<void>(id.release());  // now the attribute's
    unsigned char* out = nullptr;
    const int encoded = i2d_X509_ATTRIBUTE(attribute.get(), &out);
    const OpenSslBytesPtr owner(out);
    return encoded > 0 ? std::vector<unsigned char>(out, out + encoded) : std::vector<unsigned char>();
}

// The attribute SET of `elements` and then `added`.
std::vector<unsigned char> SetWith(Elements elements, std::span<const unsigned char> added) {
    elements.push_back(added);
    const Secret set = SequenceOf(elements, V_ASN1_SET);
    return {set.data(), set.data() + set.size()};
}

// True for a key whose attributes this program reads, into `attributes`, and that has no localKeyID.
bool KeyWithoutId(const Pkcs12Item& item, Elements& attributes) {
    return item.IsKey() && Attributes(item.keyAttributes, attributes) && LocalKeyId(attributes).empty();
}

// The public key as a SubjectPublicKeyInfo in one form whatever form it was read in (an EC point
// uncompressed), so that equal keys give equal bytes; empty when it cannot be encoded. `key` is
// this program's own copy, which the form change does not reach beyond.
std::string CanonicalPublicKey(EVP_PKEY* key) {
    if (key == nullptr) return {};
    if (EVP_PKEY_is_a(key, "EC"))
        EVP_PKEY_set_utf8_string_param(key, OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT,
                                       OSSL_PKEY_EC_POINT_CONVERSION_FORMAT_UNCOMPRESSED);
    unsigned char* out = nullptr;
    const int encoded = i2d_PUBKEY(key, &out);
    const OpenSslBytesPtr owner(out);
    return encoded > 0 ? std::string(reinterpret_cast<const char*>(out), static_cast<std::size_t>(encoded))
                       : std::string();
}

// A certificate bag as the pairing needs it, decoded once however many keys look for it.
struct CertificateBag {
    Pkcs12Item* item = nullptr;
    X509Ptr x509;
    Elements attributes;
};

}  // namespace

void PairKeysWithCertificates(Pkcs12Contents& contents) {
    const auto needsId = [](const Pkcs12Item& item) {
        Elements attributes;
        return KeyWithoutId(item, attributes);
    };
    if (std::none_of(contents.items.begin(), contents.items.end(), needsId)) return;

    // Each certificate's public key, the first certificate of each key kept: one decoding per bag
    // and one lookup per key, so a file of thousands of both costs no more than reading it.
    std::vector<CertificateBag> certificates;
    std::unordered_map<std::string, std::size_t> byPublicKey;
    for (Pkcs12Item& item : contents.items) {
        if (!item.isCertificate) continue;
        const unsigned char* in = item.der.data();
        const SafeBagPtr bag(d2i_PKCS12_SAFEBAG(nullptr, &in, static_cast<long>(item.der.size())));
        X509Ptr x509(bag ? PKCS12_SAFEBAG_get1_cert(bag.get()) : nullptr);
        std::span<const unsigned char> value, attributes;
        Elements elements;
        if (!x509 || !BagParts({item.der.data(), item.der.size()}, value, attributes) ||
            !Attributes(attributes, elements))
            continue;
        const std::string publicKey = CanonicalPublicKey(X509_get0_pubkey(x509.get()));
        if (publicKey.empty()) continue;
        byPublicKey.emplace(publicKey, certificates.size());
        certificates.push_back({&item, std::move(x509), std::move(elements)});
    }

    for (Pkcs12Item& key : contents.items) {
        Elements keyAttributes;
        if (!KeyWithoutId(key, keyAttributes)) continue;
        const EvpPkeyPtr publicKey(EVP_PKCS82PKEY(key.key.get()));
        const auto found = byPublicKey.find(CanonicalPublicKey(publicKey.get()));
        if (found == byPublicKey.end()) continue;
        CertificateBag& certificate = certificates[found->second];
        if (EVP_PKEY_eq(X509_get0_pubkey(certificate.x509.get()), publicKey.get()) != 1) continue;
        Pkcs12Item& bag = *certificate.item;
        // A certificate that has an ID already lends it to its key.
        const std::span<const unsigned char> lent = LocalKeyId(certificate.attributes);
        if (!lent.empty()) {
            key.keyAttributes = SetWith(keyAttributes, lent);
            continue;
        }
        const std::vector<unsigned char> made = LocalKeyIdOf(certificate.x509.get());
        if (made.empty()) continue;
        const std::vector<unsigned char> bagDer =
            WithAttributes({bag.der.data(), bag.der.size()}, SetWith(certificate.attributes, made));
        if (bagDer.empty()) continue;
        key.keyAttributes = SetWith(keyAttributes, made);
        bag.der.Resize(bagDer.size());
        std::copy(bagDer.begin(), bagDer.end(), bag.der.data());
        // The next key of this certificate borrows the ID it has now.
        certificate.attributes.clear();
        std::span<const unsigned char> value, attributes;
        if (!BagParts({bag.der.data(), bag.der.size()}, value, attributes) ||
            !Attributes(attributes, certificate.attributes))
            certificate.attributes.clear();
    }
    OpenSslErrors::Clear();
}

}  // namespace kiv::certificate
