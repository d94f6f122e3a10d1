// Keys paired with their certificates by a localKeyID, as OpenSSL's writer pairs them: NSS and Java
// find a key's certificate by that attribute alone, and take a key without one for a key without a
// certificate.

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>

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

}  // namespace

void PairKeysWithCertificates(Pkcs12Contents& contents) {
    for (Pkcs12Item& key : contents.items) {
        Elements keyAttributes;
        if (!key.IsKey() || !Attributes(key.keyAttributes, keyAttributes) ||
            !LocalKeyId(keyAttributes).empty())
            continue;
        const EvpPkeyPtr publicKey(EVP_PKCS82PKEY(key.key.get()));
        for (Pkcs12Item& certificate : contents.items) {
            if (!publicKey || !certificate.isCertificate) continue;
            const unsigned char* in = certificate.der.data();
            const SafeBagPtr bag(d2i_PKCS12_SAFEBAG(nullptr, &in, static_cast<long>(certificate.der.size())));
            const X509Ptr x509(bag ? PKCS12_SAFEBAG_get1_cert(bag.get()) : nullptr);
            std::span<const unsigned char> value, attributes;
            Elements certificateAttributes;
            if (!x509 || EVP_PKEY_eq(X509_get0_pubkey(x509.get()), publicKey.get()) != 1 ||
                !BagParts({certificate.der.data(), certificate.der.size()}, value, attributes) ||
                !Attributes(attributes, certificateAttributes))
                continue;
            // A certificate that has an ID already lends it to its key.
            const std::span<const unsigned char> lent = LocalKeyId(certificateAttributes);
            const std::vector<unsigned char> made =
                lent.empty() ? LocalKeyIdOf(x509.get()) : std::vector<unsigned char>();
            std::vector<unsigned char> bagDer;
            if (lent.empty()) {
                bagDer = made.empty() ? made
                                      : WithAttributes({certificate.der.data(), certificate.der.size()},
                                                       SetWith(certificateAttributes, made));
                if (bagDer.empty()) break;
            }
            key.keyAttributes =
                SetWith(keyAttributes, lent.empty() ? std::span<const unsigned char>(made) : lent);
            if (!bagDer.empty()) {
                certificate.der.Resize(bagDer.size());
                std::copy(bagDer.begin(), bagDer.end(), certificate.der.data());
            }
            break;
        }
    }
    OpenSslErrors::Clear();
}

}  // namespace kiv::certificate
