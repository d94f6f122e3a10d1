#include "certificate/DerWalk.h"

#include <openssl/asn1.h>
#include <openssl/asn1t.h>
#include <openssl/x509.h>

#include <climits>
#include <cstring>

namespace kiv::certificate {

bool Header(const unsigned char*& p, const unsigned char* end, long& length) {
    int tag = 0;
    int xclass = 0;
    const int flags = ASN1_get_object(&p, &length, &tag, &xclass, end - p);
    return (flags & 0x80) == 0 && (flags & 1) == 0 && length <= end - p;
}

bool SequenceElements(std::span<const unsigned char> der,
                      std::vector<std::span<const unsigned char>>& elements) {
    elements.clear();
    const unsigned char* p = der.data();
    const unsigned char* end = der.data() + der.size();
    long length = 0;
    if (der.empty() || der.size() > LONG_MAX || !Header(p, end, length) || p + length != end) return false;
    while (p < end) {
        const unsigned char* start = p;
        if (!Header(p, end, length)) return false;
        p += length;
        elements.emplace_back(start, static_cast<std::size_t>(p - start));
    }
    return true;
}

bool BagParts(std::span<const unsigned char> bag, std::span<const unsigned char>& value,
              std::span<const unsigned char>& attributes) {
    const unsigned char* p = bag.data();
    const unsigned char* end = bag.data() + bag.size();
    long length = 0;
    if (bag.empty() || !Header(p, end, length)) return false;
    end = p + length;
    if (!Header(p, end, length)) return false;  // bagId
    p += length;
    if (!Header(p, end, length)) return false;
    value = {p, static_cast<std::size_t>(length)};
    p += length;
    attributes = {p, static_cast<std::size_t>(end - p)};
    return true;
}

Secret SequenceOf(const std::vector<std::span<const unsigned char>>& elements) {
    std::size_t contentLength = 0;
    for (const auto& element : elements) contentLength += element.size();
    if (contentLength > INT_MAX / 2) return {};
    const int total = ASN1_object_size(1, static_cast<long>(contentLength), V_ASN1_SEQUENCE);
    if (total <= 0) return {};
    Secret der(static_cast<std::size_t>(total));
    unsigned char* out = der.data();
    ASN1_put_object(&out, 1, static_cast<long>(contentLength), V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL);
    for (const auto& element : elements) {
        if (!element.empty()) std::memcpy(out, element.data(), element.size());
        out += element.size();
    }
    return der;
}

bool Expect(const unsigned char*& p, const unsigned char* end, int xclass, int tag, bool constructed,
            long& length) {
    int gotTag = 0;
    int gotClass = 0;
    const int flags = ASN1_get_object(&p, &length, &gotTag, &gotClass, end - p);
    return (flags & 0x80) == 0 && (flags & 1) == 0 && length <= end - p && gotClass == xclass &&
           gotTag == tag && ((flags & V_ASN1_CONSTRUCTED) != 0) == constructed;
}

namespace {

// Steps over the next element when it has the given class, tag and form.
bool Skip(const unsigned char*& p, const unsigned char* end, int xclass, int tag, bool constructed) {
    long length = 0;
    if (!Expect(p, end, xclass, tag, constructed, length)) return false;
    p += length;
    return true;
}

// The tag of the next element, or -1 at the end.
int PeekTag(const unsigned char* p, const unsigned char* end, int& xclass) {
    if (p >= end) return -1;
    long length = 0;
    int tag = 0;
    const int flags = ASN1_get_object(&p, &length, &tag, &xclass, end - p);
    return (flags & 0x80) != 0 ? -1 : tag;
}

// Steps over the next element when OpenSSL's decoder takes it as `item`, by the same rules a
// certificate's decode applies to that field (names in their canonical form included); with a
// `tag`, as `item` tagged [tag] IMPLICIT.
bool Decodes(const unsigned char*& p, const unsigned char* end, const ASN1_ITEM* item, int tag = -1) {
    const unsigned char* next = p;
    ASN1_VALUE* value = nullptr;
    if (p >= end || ASN1_item_ex_d2i(&value, &next, end - p, item, tag, tag < 0 ? 0 : V_ASN1_CONTEXT_SPECIFIC,
                                     0, nullptr) <= 0) {
        ASN1_item_free(value, item);
        return false;
    }
    ASN1_item_free(value, item);
    p = next;
    return true;
}

// Certificate ::= SEQUENCE { tbsCertificate, signatureAlgorithm, signatureValue BIT STRING } with
// TBSCertificate ::= SEQUENCE { [0] EXPLICIT version OPTIONAL, serialNumber, signature, issuer,
// validity SEQUENCE { notBefore, notAfter }, subject, subjectPublicKeyInfo SEQUENCE { algorithm,
// BIT STRING }, [1] IMPLICIT BIT STRING OPTIONAL, [2] IMPLICIT BIT STRING OPTIONAL,
// [3] EXPLICIT Extensions OPTIONAL }. Every field is decoded as OpenSSL decodes a certificate,
// but for the public key, which is kept as the bits of its BIT STRING.
bool CertificateLayout(const unsigned char* p, const unsigned char* end) {
    constexpr int kUniversal = V_ASN1_UNIVERSAL;
    constexpr int kContext = V_ASN1_CONTEXT_SPECIFIC;
    long length = 0;
    if (!Expect(p, end, kUniversal, V_ASN1_SEQUENCE, true, length) || p + length != end) return false;
    const unsigned char* const certificateEnd = end;
    if (!Expect(p, end, kUniversal, V_ASN1_SEQUENCE, true, length)) return false;
    const unsigned char* const tbsEnd = p + length;
    int xclass = 0;
    if (PeekTag(p, tbsEnd, xclass) == 0 && xclass == kContext) {
        if (!Expect(p, tbsEnd, kContext, 0, true, length)) return false;
        const unsigned char* const versionEnd = p + length;
        if (!Decodes(p, versionEnd, ASN1_ITEM_rptr(ASN1_INTEGER)) || p != versionEnd) return false;
    }
    if (!Decodes(p, tbsEnd, ASN1_ITEM_rptr(ASN1_INTEGER)) ||
        !Decodes(p, tbsEnd, ASN1_ITEM_rptr(X509_ALGOR)) || !Decodes(p, tbsEnd, ASN1_ITEM_rptr(X509_NAME)))
        return false;
    if (!Expect(p, tbsEnd, kUniversal, V_ASN1_SEQUENCE, true, length)) return false;
    const unsigned char* const validityEnd = p + length;
    if (!Decodes(p, validityEnd, ASN1_ITEM_rptr(ASN1_TIME)) ||
        !Decodes(p, validityEnd, ASN1_ITEM_rptr(ASN1_TIME)) || p != validityEnd)
        return false;
    if (!Decodes(p, tbsEnd, ASN1_ITEM_rptr(X509_NAME))) return false;  // subject
    if (!Expect(p, tbsEnd, kUniversal, V_ASN1_SEQUENCE, true, length)) return false;
    const unsigned char* const keyEnd = p + length;
    if (!Decodes(p, keyEnd, ASN1_ITEM_rptr(X509_ALGOR)) ||
        !Decodes(p, keyEnd, ASN1_ITEM_rptr(ASN1_BIT_STRING)) || p != keyEnd)
        return false;
    for (int optional = 1; optional <= 3 && p < tbsEnd; ++optional) {
        const int tag = PeekTag(p, tbsEnd, xclass);
        if (xclass != kContext || tag < optional || tag > 3) return false;
        if (tag < 3) {
            if (!Decodes(p, tbsEnd, ASN1_ITEM_rptr(ASN1_BIT_STRING), tag)) return false;
        } else {
            if (!Expect(p, tbsEnd, kContext, 3, true, length)) return false;
            const unsigned char* const extensionsEnd = p + length;
            if (!Decodes(p, extensionsEnd, ASN1_ITEM_rptr(X509_EXTENSIONS)) || p != extensionsEnd)
                return false;
        }
        optional = tag;
    }
    if (p != tbsEnd) return false;
    end = certificateEnd;
    return Decodes(p, end, ASN1_ITEM_rptr(X509_ALGOR)) &&  // signatureAlgorithm
           Decodes(p, end, ASN1_ITEM_rptr(ASN1_BIT_STRING)) && p == end;
}

}  // namespace

bool CertBagHoldsCertificate(std::span<const unsigned char> certBag) {
    const unsigned char* p = certBag.data();
    const unsigned char* end = certBag.data() + certBag.size();
    long length = 0;
    if (certBag.empty() || certBag.size() > LONG_MAX ||
        !Expect(p, end, V_ASN1_UNIVERSAL, V_ASN1_SEQUENCE, true, length) || p + length != end ||
        !Skip(p, end, V_ASN1_UNIVERSAL, V_ASN1_OBJECT, false) ||
        !Expect(p, end, V_ASN1_CONTEXT_SPECIFIC, 0, true, length) || p + length != end ||
        !Expect(p, end, V_ASN1_UNIVERSAL, V_ASN1_OCTET_STRING, false, length) || p + length != end)
        return false;
    return CertificateLayout(p, end);
}

// PFX ::= SEQUENCE { version, authSafe ContentInfo, macData }, the ContentInfo being
// SEQUENCE { id-data, [0] EXPLICIT OCTET STRING }: the MAC covers that OCTET STRING's contents
// exactly as they are in the file.
bool AuthSafeContents(std::span<const unsigned char> der, std::span<const unsigned char>& contents) {
    static const unsigned char kIdData[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x01};
    const unsigned char* p = der.data();
    const unsigned char* end = der.data() + der.size();
    long length = 0;
    if (der.size() > LONG_MAX || !Expect(p, end, V_ASN1_UNIVERSAL, V_ASN1_SEQUENCE, true, length))
        return false;
    end = p + length;
    if (!Expect(p, end, V_ASN1_UNIVERSAL, V_ASN1_INTEGER, false, length)) return false;
    p += length;
    if (!Expect(p, end, V_ASN1_UNIVERSAL, V_ASN1_SEQUENCE, true, length)) return false;
    end = p + length;
    if (!Expect(p, end, V_ASN1_UNIVERSAL, V_ASN1_OBJECT, false, length) || length != sizeof kIdData ||
        std::memcmp(p, kIdData, sizeof kIdData) != 0) {
        return false;
    }
    p += length;
    if (!Expect(p, end, V_ASN1_CONTEXT_SPECIFIC, 0, true, length)) return false;
    end = p + length;
    if (!Expect(p, end, V_ASN1_UNIVERSAL, V_ASN1_OCTET_STRING, false, length)) return false;
    contents = {p, static_cast<std::size_t>(length)};
    return true;
}

}  // namespace kiv::certificate
