#include "certificate/FileFormat.h"

#include <openssl/objects.h>
#include <openssl/pkcs12.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "certificate/EncryptionScheme.h"
#include "certificate/MacScheme.h"
#include "certificate/OpenSslErrors.h"
#include "certificate/OpenSslHandles.h"
#include "certificate/Pkcs12Safes.h"

namespace kiv::certificate {
namespace {

enum class Scheme { Aes256, TripleDes, Other };

// PBES2 counts as the AES-256 format only with the cipher and key derivation Save uses.
Scheme SchemeOf(const EncryptionScheme& scheme) {
    if (!scheme.own.ok() || scheme.cipher == nullptr) return Scheme::Other;
    if (scheme.pbes2) {
        return EVP_CIPHER_get_nid(scheme.cipher) == NID_aes_256_cbc && scheme.prf == NID_hmacWithSHA256
                   ? Scheme::Aes256
                   : Scheme::Other;
    }
    return EVP_CIPHER_get_nid(scheme.cipher) == NID_des_ede3_cbc ? Scheme::TripleDes : Scheme::Other;
}

// What the parts of one kind (keys, or the parts holding everything else) are protected with.
struct Uses {
    std::vector<std::string> names;  // each once, in file order
    bool any = false;
    bool allAes = true;
    bool allTripleDes = true;

    void Add(const EncryptionScheme& scheme) { Note(scheme.name, SchemeOf(scheme)); }
    void Note(const std::string& name, Scheme scheme) {
        any = true;
        allAes = allAes && scheme == Scheme::Aes256;
        allTripleDes = allTripleDes && scheme == Scheme::TripleDes;
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    std::string Text() const {
        if (!any) return "none";
        std::string text;
        for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
        return text;
    }
};

}  // namespace

FileFormat FormatOf(std::span<const unsigned char> der) {
    FileFormat format{std::nullopt, "an unknown format"};
    if (der.empty() || der.size() > LONG_MAX) return format;
    const unsigned char* in = der.data();
    const Pkcs12Ptr p12(d2i_PKCS12(nullptr, &in, static_cast<long>(der.size())));
    if (!p12) {
        OpenSslErrors::Clear();
        return format;
    }
    Uses keys, others;
    const ReadResult walked = ForEachSafe(p12.get(), [&](const Safe& safe) -> ReadResult {
        if (safe.encrypted != nullptr) {
            others.Add(safe.encrypted->scheme);
            return {};
        }
        const unsigned char* in = safe.plain->data;
        const SafeBagStackPtr bags(static_cast<STACK_OF(PKCS12_SAFEBAG)*>(static_cast<void*>(
            ASN1_item_d2i(nullptr, &in, safe.plain->length, ASN1_ITEM_rptr(PKCS12_SAFEBAGS)))));
        for (int j = 0; bags && j < sk_PKCS12_SAFEBAG_num(bags.get()); ++j) {
            const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags.get(), j);
            switch (PKCS12_SAFEBAG_get_nid(bag)) {
                case NID_pkcs8ShroudedKeyBag: {
                    const X509_ALGOR* algorithm = nullptr;
                    if (const X509_SIG* shrouded = PKCS12_SAFEBAG_get0_pkcs8(bag))
                        X509_SIG_get0(shrouded, &algorithm, nullptr);
                    keys.Add(ParseEncryption(algorithm));
                    break;
                }
                case NID_keyBag:
                    keys.Note("not encrypted", Scheme::Other);
                    break;
                default:
                    others.Note("not encrypted", Scheme::Other);
                    break;
            }
        }
        return {};
    });
    if (walked.failure == ReadFailure::UnsupportedAlgorithm) {
        others.Note("public-key encryption", Scheme::Other);
    } else if (!walked.ok()) {
        OpenSslErrors::Clear();
        return format;
    }

    int macDigest = NID_undef;
    std::string mac = "none";
    if (PKCS12_mac_present(p12.get())) {
        const MacScheme scheme = ParseMac(p12.get());
        macDigest = scheme.nid;
        mac = macDigest == NID_sha256 ? "HMAC-SHA256"
              : macDigest == NID_sha1 ? "HMAC-SHA1"
                                      : "HMAC with " + scheme.name;
    }
    OpenSslErrors::Clear();

    // A file with nothing encrypted is in neither format; one of keys alone is in its keys' format.
    const bool encrypted = keys.any || others.any;
    if (encrypted && keys.allAes && others.allAes && macDigest == NID_sha256) {
        format.algorithms = SaveOptions::Algorithms::Aes256;
        format.description = "AES-256 (PBES2, AES-256-CBC, HMAC-SHA256)";
    } else if (encrypted && keys.allTripleDes && others.allTripleDes && macDigest == NID_sha1) {
        format.algorithms = SaveOptions::Algorithms::TripleDesSha1;
        format.description = "3DES (pbeWithSHAAnd3-KeyTripleDES-CBC, HMAC-SHA1)";
    } else {
        format.description =
            "keys: " + keys.Text() + "; certificates: " + others.Text() + "; integrity check: " + mac;
    }
    return format;
}

}  // namespace kiv::certificate
