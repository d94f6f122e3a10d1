// The certificate check that stands in for a full decode on load: it must take every certificate
// real tools write and refuse anything OpenSSL's decode refuses, the public key aside.
#include "certificate/DerWalk.h"

#include <gtest/gtest.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <algorithm>
#include <vector>

#include "certificate/Pkcs12Bags.h"
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

// Replaces the first `from` in `value` with `to`, of the same length; empty when not found.
Bytes Replaced(const Bytes& value, const Bytes& from, const Bytes& to) {
    const auto at = std::search(value.begin(), value.end(), from.begin(), from.end());
    if (at == value.end() || from.size() != to.size()) return {};
    Bytes changed = value;
    std::copy(to.begin(), to.end(), changed.begin() + (at - value.begin()));
    return changed;
}

// Whether OpenSSL decodes the certificate a certificate bag's [0] holds.
bool OpenSslDecodes(const Bytes& value) {
    const unsigned char* p = value.data();
    const unsigned char* end = p + value.size();
    long length = 0;
    if (!Expect(p, end, V_ASN1_UNIVERSAL, V_ASN1_SEQUENCE, true, length)) return false;
    p += 2 + p[1];  // the certificate type's OBJECT IDENTIFIER
    if (!Expect(p, end, V_ASN1_CONTEXT_SPECIFIC, 0, true, length) ||
        !Expect(p, end, V_ASN1_UNIVERSAL, V_ASN1_OCTET_STRING, false, length))
        return false;
    X509Ptr certificate(d2i_X509(nullptr, &p, length));
    return certificate != nullptr;
}

// Fields in their place but of contents OpenSSL refuses, as the differential fuzz target found
// them in mutated files: refused, as OpenSSL refuses them; and the other way round.
TEST(CertificateLayoutTest, RefusesFieldsOpenSslCannotDecode) {
    const Bytes pfx = kiv::testing::MakePfx(PfxVariant::CertificatesOnly);
    Pkcs12Contents contents;
    ASSERT_TRUE(ReadPkcs12(pfx.data(), pfx.size(), {{"", 0}, {nullptr, 0}}, contents).ok());
    // The root: RSA-signed, with a critical extension.
    ASSERT_EQ(contents.CertificateCount(), 3u);
    std::span<const unsigned char> span, attributes;
    ASSERT_TRUE(
        BagParts({contents.items.back().der.data(), contents.items.back().der.size()}, span, attributes));
    const Bytes value(span.begin(), span.end());
    ASSERT_TRUE(OpenSslDecodes(value));

    const Bytes kCommonName = {0x06, 0x03, 0x55, 0x04, 0x03, 0x0c};  // CN, a UTF8String follows
    const Bytes kBasicConstraints = {0x06, 0x03, 0x55, 0x1d, 0x13};
    const Bytes kSignature = {0x03, 0x82, 0x01, 0x01, 0x00};  // RSA-2048 signature, no unused bits
    struct Case {
        const char* name;
        Bytes from, to;
    };
    const std::vector<Case> cases = {
        {"a name value of a type names cannot hold", kCommonName, {0x06, 0x03, 0x55, 0x04, 0x03, 0x04}},
        {"a name value that is not UTF-8", {0x0c, 0x08, 'K', 'i', 'v'}, {0x0c, 0x08, 0xc3, 0x28, 'v'}},
        {"a name's attribute type with a padded subidentifier",
         kCommonName,
         {0x06, 0x03, 0x80, 0x04, 0x03, 0x0c}},
        {"an element inside a name cut short", {0x31, 0x11, 0x30, 0x0f}, {0x31, 0x11, 0x30, 0x1f}},
        {"an extension's critical flag as an INTEGER",
         {0x06, 0x03, 0x55, 0x1d, 0x13, 0x01, 0x01},
         {0x06, 0x03, 0x55, 0x1d, 0x13, 0x02, 0x01}},
        {"an extension's identifier as an INTEGER", kBasicConstraints, {0x02, 0x03, 0x55, 0x1d, 0x13}},
        {"a signature with 8 unused bits", kSignature, {0x03, 0x82, 0x01, 0x01, 0x08}},
    };
    for (const Case& c : cases) {
        const Bytes changed = Replaced(value, c.from, c.to);
        ASSERT_FALSE(changed.empty()) << c.name;
        EXPECT_FALSE(OpenSslDecodes(changed)) << c.name;
        EXPECT_FALSE(CertBagHoldsCertificate(changed)) << c.name;
    }
    // And what OpenSSL takes in a form real tools do not write is taken too: the extensions'
    // [3] retagged as a constructed [1] and its extension as a string, which OpenSSL reads as an
    // issuer unique ID in pieces (its first byte, 6, the count of unused bits).
    const Bytes retagged =
        Replaced(value, {0xa3, 0x13, 0x30, 0x11, 0x30, 0x0f}, {0xa1, 0x13, 0x30, 0x11, 0x12, 0x0f});
    ASSERT_FALSE(retagged.empty());
    EXPECT_TRUE(OpenSslDecodes(retagged));
    EXPECT_TRUE(CertBagHoldsCertificate(retagged));
}

}  // namespace
}  // namespace kiv::certificate
