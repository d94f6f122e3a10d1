#include "platform/certificate/DerWalk.h"

#include <openssl/asn1.h>

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

SecureBytes SequenceOf(const std::vector<std::span<const unsigned char>>& elements) {
    std::size_t contentLength = 0;
    for (const auto& element : elements) contentLength += element.size();
    if (contentLength > INT_MAX / 2) return {};
    const int total = ASN1_object_size(1, static_cast<long>(contentLength), V_ASN1_SEQUENCE);
    if (total <= 0) return {};
    SecureBytes der(static_cast<std::size_t>(total));
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
