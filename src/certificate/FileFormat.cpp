#include "certificate/FileFormat.h"

#include <openssl/objects.h>
#include <openssl/pkcs12.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "certificate/OpenSslErrors.h"
#include "certificate/OpenSslHandles.h"
#include "certificate/Pkcs12Parts.h"

namespace kiv::certificate {
namespace {

enum class Scheme { Aes256, TripleDes, Other };

// PBES2 counts as the AES-256 format only with the cipher and key derivation Save uses.
Scheme SchemeOf(const X509_ALGOR* algorithm) {
    if (algorithm == nullptr) return Scheme::Other;
    const ASN1_OBJECT* object = nullptr;
    int type = 0;
    const void* parameter = nullptr;
    X509_ALGOR_get0(&object, &type, &parameter, algorithm);
    const int nid = OBJ_obj2nid(object);
    if (nid == NID_pbe_WithSHA1And3_Key_TripleDES_CBC) return Scheme::TripleDes;
    if (nid != NID_pbes2 || type != V_ASN1_SEQUENCE) return Scheme::Other;
    const Pbe2ParamPtr pbe2(static_cast<PBE2PARAM*>(
        ASN1_item_unpack(static_cast<const ASN1_STRING*>(parameter), ASN1_ITEM_rptr(PBE2PARAM))));
    if (!pbe2 || pbe2->keyfunc == nullptr || pbe2->encryption == nullptr ||
        OBJ_obj2nid(pbe2->encryption->algorithm) != NID_aes_256_cbc)
        return Scheme::Other;
    X509_ALGOR_get0(&object, &type, &parameter, pbe2->keyfunc);
    if (OBJ_obj2nid(object) != NID_id_pbkdf2 || type != V_ASN1_SEQUENCE) return Scheme::Other;
    const Pbkdf2ParamPtr kdf(static_cast<PBKDF2PARAM*>(
        ASN1_item_unpack(static_cast<const ASN1_STRING*>(parameter), ASN1_ITEM_rptr(PBKDF2PARAM))));
    if (!kdf || kdf->prf == nullptr) return Scheme::Other;
    return OBJ_obj2nid(kdf->prf->algorithm) == NID_hmacWithSHA256 ? Scheme::Aes256 : Scheme::Other;
}

// What the parts of one kind (keys, or the parts holding everything else) are protected with.
struct Uses {
    std::vector<std::string> names;  // each once, in file order
    bool any = false;
    bool allAes = true;
    bool allTripleDes = true;

    void Add(const X509_ALGOR* algorithm) { Note(AlgorithmName(algorithm), SchemeOf(algorithm)); }
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
    const Pkcs7StackPtr safes(p12 ? PKCS12_unpack_authsafes(p12.get()) : nullptr);
    if (!safes) {
        OpenSslErrors::Clear();
        return format;
    }
    Uses keys, others;
    for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes.get(), i);
        const int type = OBJ_obj2nid(safe->type);
        if (type == NID_pkcs7_encrypted) {
            const PKCS7_ENC_CONTENT* content =
                safe->d.encrypted != nullptr ? safe->d.encrypted->enc_data : nullptr;
            others.Add(content != nullptr ? content->algorithm : nullptr);
            continue;
        }
        if (type != NID_pkcs7_data) {
            others.Note("public-key encryption", Scheme::Other);
            continue;
        }
        const SafeBagStackPtr bags(PKCS12_unpack_p7data(safe));
        for (int j = 0; bags && j < sk_PKCS12_SAFEBAG_num(bags.get()); ++j) {
            const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags.get(), j);
            switch (PKCS12_SAFEBAG_get_nid(bag)) {
                case NID_pkcs8ShroudedKeyBag: {
                    const X509_ALGOR* algorithm = nullptr;
                    if (const X509_SIG* shrouded = PKCS12_SAFEBAG_get0_pkcs8(bag))
                        X509_SIG_get0(shrouded, &algorithm, nullptr);
                    keys.Add(algorithm);
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
    }

    int macDigest = NID_undef;
    std::string mac = "none";
    if (PKCS12_mac_present(p12.get())) {
        const X509_ALGOR* algorithm = nullptr;
        PKCS12_get0_mac(nullptr, &algorithm, nullptr, nullptr, p12.get());
        const ASN1_OBJECT* object = nullptr;
        if (algorithm != nullptr) X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
        macDigest = OBJ_obj2nid(object);
        mac = macDigest == NID_sha256 ? "HMAC-SHA256"
              : macDigest == NID_sha1 ? "HMAC-SHA1"
                                      : "HMAC with " + AlgorithmName(algorithm);
    }
    OpenSslErrors::Clear();

    // A file without encrypted parts is in neither format, whatever protects its keys.
    if (others.any && keys.allAes && others.allAes && macDigest == NID_sha256) {
        format.algorithms = SaveOptions::Algorithms::Aes256;
        format.description = "AES-256 (PBES2, AES-256-CBC, HMAC-SHA256)";
    } else if (others.any && keys.allTripleDes && others.allTripleDes && macDigest == NID_sha1) {
        format.algorithms = SaveOptions::Algorithms::TripleDesSha1;
        format.description = "3DES (pbeWithSHAAnd3-KeyTripleDES-CBC, HMAC-SHA1)";
    } else {
        format.description =
            "keys: " + keys.Text() + "; certificates: " + others.Text() + "; integrity check: " + mac;
    }
    return format;
}

}  // namespace kiv::certificate
