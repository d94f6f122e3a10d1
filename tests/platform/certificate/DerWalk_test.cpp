// The certificate layout check that stands in for a full decode on load: it must take every
// certificate real tools write and refuse anything whose layout is broken.
#include "platform/certificate/DerWalk.h"

#include <gtest/gtest.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <vector>

#include "platform/certificate/Pkcs12Bags.h"
#include "support/pkcs12/Pkcs12Maker.h"

namespace kiv::certificate {
namespace {

using Bytes = std::vector<unsigned char>;
using kiv::testing::PfxVariant;

// What a certificate bag's [0] holds for `certificate`.
Bytes CertBagValue(X509* certificate) {
    SafeBagPtr bag(PKCS12_SAFEBAG_create_cert(certificate));
    if (!bag) return {};
    Bytes der(static_cast<std::size_t>(i2d_PKCS12_SAFEBAG(bag.get(), nullptr)));
    unsigned char* out = der.data();
    i2d_PKCS12_SAFEBAG(bag.get(), &out);
    std::span<const unsigned char> value, attributes;
    if (!BagParts(der, value, attributes)) return {};
    return Bytes(value.begin(), value.end());
}

// A self-signed version 1 certificate: no version field, no extensions.
X509Ptr VersionOneCertificate() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509Ptr certificate(X509_new());
    X509_NAME* name = X509_NAME_new();
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("V1"), -1, -1,
                               0);
    const bool ok =
        key != nullptr && certificate && X509_set_version(certificate.get(), X509_VERSION_1) &&
        ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 7) &&
        X509_set_subject_name(certificate.get(), name) && X509_set_issuer_name(certificate.get(), name) &&
        X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0) &&
        X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600) &&
        X509_set_pubkey(certificate.get(), key) && X509_sign(certificate.get(), key, EVP_sha256()) > 0;
    X509_NAME_free(name);
    EVP_PKEY_free(key);
    if (!ok) return nullptr;
    return certificate;
}

TEST(CertificateLayoutTest, TakesWhatToolsWriteAndRefusesBrokenLayouts) {
    std::vector<Bytes> values;
    for (PfxVariant variant : {PfxVariant::CertificatesOnly, PfxVariant::EcKey}) {
        const Bytes pfx = kiv::testing::MakePfx(variant);
        Pkcs12Contents contents;
        ASSERT_TRUE(ReadPkcs12(pfx.data(), pfx.size(), {{"", 0}, {nullptr, 0}}, contents).ok());
        for (const Pkcs12Item& item : contents.items) {
            if (!item.isCertificate) continue;
            std::span<const unsigned char> value, attributes;
            ASSERT_TRUE(BagParts({item.der.data(), item.der.size()}, value, attributes));
            values.emplace_back(value.begin(), value.end());
        }
    }
    const X509Ptr versionOne = VersionOneCertificate();
    ASSERT_TRUE(versionOne);
    values.push_back(CertBagValue(versionOne.get()));
    ASSERT_EQ(values.size(), 7u);

    for (const Bytes& value : values) {
        EXPECT_TRUE(CertBagHoldsCertificate(value));
        // Cut short anywhere, or with a byte added: refused.
        for (std::size_t length = 0; length < value.size(); ++length)
            EXPECT_FALSE(CertBagHoldsCertificate({value.data(), length})) << length;
        Bytes longer = value;
        longer.push_back(0);
        EXPECT_FALSE(CertBagHoldsCertificate(longer));
    }

    // A field of the wrong type: the validity's first time as an OCTET STRING, the public key as
    // an OCTET STRING instead of a BIT STRING.
    const Bytes& sample = values.back();
    const auto retag = [&](unsigned char from, unsigned char to) {
        Bytes changed = sample;
        for (unsigned char& byte : changed) {
            if (byte == from) {
                byte = to;
                break;
            }
        }
        return changed;
    };
    EXPECT_FALSE(CertBagHoldsCertificate(retag(0x17, 0x04)));  // UTCTime
    Bytes noKey = sample;
    // The key's BIT STRING follows the algorithm SEQUENCE of the SubjectPublicKeyInfo; flipping the
    // last BIT STRING tag (the signature's) is checked too.
    for (std::size_t i = noKey.size(); i-- > 0;) {
        if (noKey[i] == 0x03 && i + 1 < noKey.size() && noKey[i + 1] == noKey.size() - i - 2) {
            noKey[i] = 0x04;
            break;
        }
    }
    EXPECT_FALSE(CertBagHoldsCertificate(noKey));
    EXPECT_FALSE(CertBagHoldsCertificate(Bytes(64, 0x30)));
}

}  // namespace
}  // namespace kiv::certificate
