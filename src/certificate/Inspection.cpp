#include "certificate/Inspection.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <ctime>
#include <new>

#include "certificate/DerWalk.h"
#include "certificate/OpenSslErrors.h"
#include "certificate/OpenSslHandles.h"
#include "certificate/Pkcs12Bags.h"
#include "certificate/SourceFile.h"
#include "filesystem/PathText.h"

namespace kiv::certificate {
namespace {

using X509AttributePtr = std::unique_ptr<X509_ATTRIBUTE, FreeWith<X509_ATTRIBUTE_free>>;

Inspection OfKind(Inspection::Kind kind, std::string detail = {}) {
    Inspection result;
    result.kind = kind;
    result.detail = std::move(detail);
    return result;
}

// The friendlyName of a bag's attribute SET (its DER, empty when the bag has none).
std::string FriendlyName(std::span<const unsigned char> attributes) {
    const unsigned char* p = attributes.data();
    const unsigned char* end = p + attributes.size();
    long length = 0;
    if (attributes.empty() || !Expect(p, end, V_ASN1_UNIVERSAL, V_ASN1_SET, true, length)) return {};
    end = p + length;
    while (p < end) {
        const unsigned char* element = p;
        if (!Header(p, end, length)) return {};
        p += length;
        const X509AttributePtr attribute(d2i_X509_ATTRIBUTE(nullptr, &element, p - element));
        if (!attribute || OBJ_obj2nid(X509_ATTRIBUTE_get0_object(attribute.get())) != NID_friendlyName)
            continue;
        const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute.get(), 0);
        if (value == nullptr || value->type != V_ASN1_BMPSTRING) return {};
        // A BMPString is UTF-16 big-endian.
        const unsigned char* bmp = ASN1_STRING_get0_data(value->value.bmpstring);
        std::u16string text;
        for (int i = 0; i + 1 < ASN1_STRING_length(value->value.bmpstring); i += 2)
            text.push_back(static_cast<char16_t>(bmp[i] << 8 | bmp[i + 1]));
        return filesystem::TextToPath(text);
    }
    return {};
}

std::string NameText(const X509_NAME* name) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio) return {};
    // RFC 2253 order and escaping, with non-ASCII characters kept as UTF-8.
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

std::string TimeText(const ASN1_TIME* time) {
    std::tm tm{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) return "unknown";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

std::string KeyAlgorithm(const PKCS8_PRIV_KEY_INFO* info) {
    const EvpPkeyPtr key(EVP_PKCS82PKEY(info));
    if (!key) return "damaged key";
    const char* type = EVP_PKEY_get0_type_name(key.get());
    std::string text = type != nullptr ? type : "unknown";
    char group[80] = {};
    std::size_t groupLength = 0;
    if (EVP_PKEY_get_group_name(key.get(), group, sizeof group, &groupLength) == 1 && groupLength > 0)
        text += std::string(" ") + group;
    const int bits = EVP_PKEY_get_bits(key.get());
    if (bits > 0) text += " " + std::to_string(bits) + " bits";
    return text;
}

CertificateSummary Summary(const Secret& bagDer) {
    CertificateSummary summary;
    std::span<const unsigned char> value, attributes;
    if (BagParts({bagDer.data(), bagDer.size()}, value, attributes))
        summary.friendlyName = FriendlyName(attributes);
    const unsigned char* in = bagDer.data();
    const SafeBagPtr bag(d2i_PKCS12_SAFEBAG(nullptr, &in, static_cast<long>(bagDer.size())));
    const X509Ptr certificate(bag ? PKCS12_SAFEBAG_get1_cert(bag.get()) : nullptr);
    if (!certificate) {
        summary.subject = summary.issuer = summary.notAfter = "unknown";
        return summary;
    }
    summary.subject = NameText(X509_get_subject_name(certificate.get()));
    summary.issuer = NameText(X509_get_issuer_name(certificate.get()));
    summary.notAfter = TimeText(X509_get0_notAfter(certificate.get()));
    summary.expired = X509_cmp_current_time(X509_get0_notAfter(certificate.get())) < 0;
    return summary;
}

Inspection Inspect(const std::string& path) {
    OpenSslErrors::Clear();
    LegacyProviderAvailable();
    SourceFile source;
    const SourceRead read = ReadSourceFile(path, source);
    if (read.problem == SourceRead::Problem::NotPkcs12)
        return OfKind(Inspection::Kind::NotPkcs12, read.description);
    if (!read.ok()) return OfKind(Inspection::Kind::Unreadable, read.description);

    Pkcs12Contents contents;
    const ReadResult result = ReadPkcs12(source.bytes.data(), source.bytes.size(), PasswordLess(), contents);
    switch (result.failure) {
        case ReadFailure::None:
            break;
        case ReadFailure::NotPkcs12:
            return OfKind(Inspection::Kind::NotPkcs12, result.description);
        case ReadFailure::WrongPassword:
            return OfKind(Inspection::Kind::Protected, result.description);
        case ReadFailure::UnsupportedAlgorithm:
        case ReadFailure::Damaged:
        case ReadFailure::TooMuchWork:
            return OfKind(Inspection::Kind::Unreadable, result.description);
    }
    Inspection inspection = OfKind(Inspection::Kind::PasswordLess);
    for (const Pkcs12Item& item : contents.items) {
        if (item.IsKey()) {
            inspection.keys.push_back({KeyAlgorithm(item.key.get()), FriendlyName(item.keyAttributes)});
        } else if (item.isCertificate) {
            inspection.certificates.push_back(Summary(item.der));
        }
    }
    OpenSslErrors::Clear();
    return inspection;
}

}  // namespace

Inspection InspectFile(const std::string& path) {
    try {
        return Inspect(path);
    } catch (const std::bad_alloc&) {
        OpenSslErrors::Clear();
        return OfKind(Inspection::Kind::Unreadable, "Out of memory.");
    } catch (...) {
        OpenSslErrors::Clear();
        return OfKind(Inspection::Kind::Unreadable, "The file could not be read.");
    }
}

}  // namespace kiv::certificate
