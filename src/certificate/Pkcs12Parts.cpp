#include "certificate/Pkcs12Parts.h"

#include <openssl/asn1.h>
#include <openssl/hmac.h>
#include <openssl/objects.h>

#include <climits>
#include <cstring>

#include "certificate/DerWalk.h"
#include "certificate/OpenSslErrors.h"

namespace kiv::certificate {
namespace {

// Safe contents may nest; real files never go deeper than one level.
constexpr int kMaxNesting = 4;

template <typename T, typename Encode>
Secret Der(const T* object, Encode encode) {
    const int length = encode(object, nullptr);
    if (length <= 0) return {};
    Secret der(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    if (encode(object, &out) != length) return {};
    return der;
}

}  // namespace

Secret BagDer(const PKCS12_SAFEBAG* bag) {
    return Der(bag, i2d_PKCS12_SAFEBAG);
}
Secret KeyDer(const PKCS8_PRIV_KEY_INFO* key) {
    return Der(key, i2d_PKCS8_PRIV_KEY_INFO);
}

ReadResult PlainSafe(const PKCS7* safe, Secret& plain) {
    if (safe->d.data == nullptr) return Failure(ReadFailure::Damaged, "A part of the file is damaged.");
    plain.Resize(static_cast<std::size_t>(safe->d.data->length));
    if (plain.size() > 0) std::memcpy(plain.data(), safe->d.data->data, plain.size());
    return ReadResult{};
}

std::string AlgorithmName(const X509_ALGOR* algorithm) {
    if (algorithm == nullptr) return "an unknown algorithm";
    const ASN1_OBJECT* object = nullptr;
    int parameterType = 0;
    const void* parameter = nullptr;
    X509_ALGOR_get0(&object, &parameterType, &parameter, algorithm);
    char name[128] = {};
    OBJ_obj2txt(name, sizeof name, object, 0);
    std::string text = name;
    if (OBJ_obj2nid(object) == NID_pbes2 && parameterType == V_ASN1_SEQUENCE) {
        ASN1_TYPE* wrapped = ASN1_TYPE_new();
        if (wrapped != nullptr) {
            ASN1_TYPE_set1(wrapped, parameterType, parameter);
            if (auto* pbe2 =
                    static_cast<PBE2PARAM*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), wrapped))) {
                char cipher[128] = {};
                OBJ_obj2txt(cipher, sizeof cipher, pbe2->encryption->algorithm, 0);
                text += std::string(" with ") + cipher;
                PBE2PARAM_free(pbe2);
            }
            ASN1_TYPE_free(wrapped);
        }
    }
    return text;
}

// Takes the bags of one SafeContents encoding, keeping each bag's own bytes where the encoding is DER.
ReadResult TakeBags(std::span<const unsigned char> safeContents, const KeyOpener& openKey,
                    Pkcs12Contents& contents, std::size_t safe, int depth, bool bagsOnly) {
    const unsigned char* in = safeContents.data();
    SafeBagStackPtr bags(
        safeContents.empty() || safeContents.size() > LONG_MAX
            ? nullptr
            : static_cast<STACK_OF(PKCS12_SAFEBAG)*>(static_cast<void*>(ASN1_item_d2i(
                  nullptr, &in, static_cast<long>(safeContents.size()), ASN1_ITEM_rptr(PKCS12_SAFEBAGS)))));
    if (!bags || in != safeContents.data() + safeContents.size())
        return Failure(ReadFailure::Damaged,
                       WithDetails("A part of the file is damaged.", OpenSslErrors::Take()));
    std::vector<std::span<const unsigned char>> raw;
    const bool haveRaw = SequenceElements(safeContents, raw) &&
                         raw.size() == static_cast<std::size_t>(sk_PKCS12_SAFEBAG_num(bags.get()));
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags.get()); ++i) {
        const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags.get(), i);
        Secret der;
        if (haveRaw) {
            der.Resize(raw[static_cast<std::size_t>(i)].size());
            std::memcpy(der.data(), raw[static_cast<std::size_t>(i)].data(), der.size());
        } else {
            der = BagDer(bag);  // BER input: its DER form is the closest to what it held
        }
        std::span<const unsigned char> value;
        std::span<const unsigned char> attributes;
        if (der.size() == 0 || !BagParts({der.data(), der.size()}, value, attributes))
            return Failure(ReadFailure::Damaged, "A bag in the file is damaged.");
        Pkcs12Item item;
        item.safe = safe;
        switch (PKCS12_SAFEBAG_get_nid(bag)) {
            case NID_keyBag: {
                const Secret key = KeyDer(PKCS12_SAFEBAG_get0_p8inf(bag));
                const unsigned char* p = key.data();
                item.key.reset(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(key.size())));
                if (!item.key) return Failure(ReadFailure::Damaged, "A private key in the file is damaged.");
                break;
            }
            case NID_pkcs8ShroudedKeyBag: {
                ReadResult opened = openKey(bag, item.key);
                if (!opened.ok()) return opened;
                break;
            }
            case NID_safeContentsBag: {
                if (depth >= kMaxNesting)
                    return Failure(ReadFailure::Damaged, "The file's safe contents nest too deep.");
                ReadResult nested = TakeBags(value, openKey, contents, safe, depth + 1, bagsOnly);
                if (!nested.ok()) return nested;
                continue;
            }
            default:
                if (bagsOnly) {
                    item.der = std::move(der);
                    break;
                }
                if (PKCS12_SAFEBAG_get_nid(bag) == NID_certBag &&
                    PKCS12_SAFEBAG_get_bag_nid(bag) == NID_x509Certificate) {
                    // Every field as OpenSSL decodes it but the public key: decoding that costs as
                    // much as a tenth of the file's key derivations, and takes a lock every thread
                    // waits on.
                    if (!CertBagHoldsCertificate(value))
                        return Failure(ReadFailure::Damaged, "A certificate in the file is damaged.");
                    item.isCertificate = true;
                }
                item.der = std::move(der);
                break;
        }
        if (item.IsKey()) item.keyAttributes.assign(attributes.begin(), attributes.end());
        contents.items.push_back(std::move(item));
    }
    return {};
}

bool Crypt(const EVP_CIPHER* cipher, const Secret& key, const unsigned char* iv, const unsigned char* in,
           std::size_t length, bool encrypt, Secret& out) {
    if (length > INT_MAX / 2 || key.size() != static_cast<std::size_t>(EVP_CIPHER_get_key_length(cipher)))
        return false;
    CipherCtxPtr context(EVP_CIPHER_CTX_new());
    if (!context || EVP_CipherInit_ex(context.get(), cipher, nullptr, key.data(), iv, encrypt ? 1 : 0) != 1)
        return false;
    out.Resize(length + static_cast<std::size_t>(EVP_CIPHER_get_block_size(cipher)));
    int done = 0;
    int last = 0;
    if (EVP_CipherUpdate(context.get(), out.data(), &done, in, static_cast<int>(length)) != 1 ||
        EVP_CipherFinal_ex(context.get(), out.data() + done, &last) != 1) {
        out.Wipe();
        return false;
    }
    out.Resize(static_cast<std::size_t>(done + last));
    return true;
}

bool Hmac(const EVP_MD* digest, const Secret& key, std::span<const unsigned char> data, unsigned char* mac,
          unsigned int& macLength) {
    return HMAC(digest, key.data(), static_cast<int>(key.size()), data.data(), data.size(), mac,
                &macLength) != nullptr;
}

}  // namespace kiv::certificate
