#include "platform/certificate/Pkcs12Bags.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <climits>
#include <cstring>
#include <functional>

#include "platform/certificate/OpenSslErrors.h"

namespace kiv::certificate {
namespace {

constexpr int kSaltLength = 16;
// Safe contents may nest; real files never go deeper than one level.
constexpr int kMaxNesting = 4;

ReadResult Failure(ReadFailure failure, std::string description) {
    return {failure, std::move(description)};
}

template <typename T, typename Encode>
SecureBytes Der(const T* object, Encode encode) {
    const int length = encode(object, nullptr);
    if (length <= 0) return {};
    SecureBytes der(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    if (encode(object, &out) != length) return {};
    return der;
}

SecureBytes BagDer(const PKCS12_SAFEBAG* bag) {
    return Der(bag, i2d_PKCS12_SAFEBAG);
}
SecureBytes KeyDer(const PKCS8_PRIV_KEY_INFO* key) {
    return Der(key, i2d_PKCS8_PRIV_KEY_INFO);
}

// Reads one TLV header; on success `p` points at the contents and `length` is their size.
bool Header(const unsigned char*& p, const unsigned char* end, long& length) {
    int tag = 0;
    int xclass = 0;
    const int flags = ASN1_get_object(&p, &length, &tag, &xclass, end - p);
    return (flags & 0x80) == 0 && (flags & 1) == 0 && length <= end - p;
}

// SafeBag ::= SEQUENCE { bagId, [0] bagValue, bagAttributes SET OPTIONAL }: the attribute SET
// is whatever follows the value.
bool AttributeBytes(const PKCS12_SAFEBAG* bag, std::vector<unsigned char>& attributes) {
    const SecureBytes der = BagDer(bag);
    const unsigned char* p = der.data();
    const unsigned char* end = der.data() + der.size();
    long length = 0;
    if (der.size() == 0 || !Header(p, end, length)) return false;
    end = p + length;
    for (int skip = 0; skip < 2; ++skip) {
        if (!Header(p, end, length)) return false;
        p += length;
    }
    attributes.assign(p, end);
    return true;
}

SafeBagPtr WithAttributes(SafeBagPtr bag, const std::vector<unsigned char>& attributes) {
    if (!bag || attributes.empty()) return bag;
    const SecureBytes der = BagDer(bag.get());
    const unsigned char* p = der.data();
    const unsigned char* end = der.data() + der.size();
    long length = 0;
    if (der.size() == 0 || !Header(p, end, length)) return nullptr;
    const long contentLength = length + static_cast<long>(attributes.size());
    const int total = ASN1_object_size(1, contentLength, V_ASN1_SEQUENCE);
    if (total <= 0) return nullptr;
    SecureBytes joined(static_cast<std::size_t>(total));
    unsigned char* out = joined.data();
    ASN1_put_object(&out, 1, contentLength, V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL);
    std::memcpy(out, p, static_cast<std::size_t>(length));
    std::memcpy(out + length, attributes.data(), attributes.size());
    const unsigned char* in = joined.data();
    return SafeBagPtr(d2i_PKCS12_SAFEBAG(nullptr, &in, total));
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

// Runs `attempt` with each password until one works. When none does, tells a wrong password from an
// algorithm that cannot be used.
ReadResult TryPasswords(const std::vector<Pkcs12Password>& passwords, const X509_ALGOR* algorithm,
                        const std::function<bool(Pkcs12Password)>& attempt) {
    OpenSslErrors errors;
    for (const Pkcs12Password& password : passwords) {
        OpenSslErrors::Clear();
        if (attempt(password)) {
            OpenSslErrors::Clear();
            return {};
        }
        errors = OpenSslErrors::Take();
        if (errors.UnsupportedAlgorithm()) break;
    }
    if (errors.UnsupportedAlgorithm()) {
        std::string text =
            "The file is encrypted with " + AlgorithmName(algorithm) + ", which is not available.";
        if (!LegacyProviderAvailable()) {
            text += " OpenSSL's legacy provider, which older algorithms need, could not be loaded.";
        }
        return Failure(ReadFailure::UnsupportedAlgorithm, WithDetails(text, errors));
    }
    return Failure(ReadFailure::WrongPassword, kWrongPasswordText);
}

ReadResult TakeBags(const STACK_OF(PKCS12_SAFEBAG) * bags, const std::vector<Pkcs12Password>& passwords,
                    Pkcs12Contents& contents, int depth) {
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
        const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
        Pkcs12Item item;
        switch (PKCS12_SAFEBAG_get_nid(bag)) {
            case NID_keyBag: {
                const SecureBytes der = KeyDer(PKCS12_SAFEBAG_get0_p8inf(bag));
                const unsigned char* in = der.data();
                item.key.reset(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &in, static_cast<long>(der.size())));
                if (!item.key) return Failure(ReadFailure::Damaged, "A private key in the file is damaged.");
                break;
            }
            case NID_pkcs8ShroudedKeyBag: {
                const X509_ALGOR* algorithm = nullptr;
                X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), &algorithm, nullptr);
                ReadResult opened = TryPasswords(passwords, algorithm, [&](Pkcs12Password password) {
                    item.key.reset(PKCS12_decrypt_skey(bag, password.data, password.length));
                    return item.key != nullptr;
                });
                if (!opened.ok()) return opened;
                break;
            }
            case NID_safeContentsBag: {
                if (depth >= kMaxNesting)
                    return Failure(ReadFailure::Damaged, "The file's safe contents nest too deep.");
                ReadResult nested = TakeBags(PKCS12_SAFEBAG_get0_safes(bag), passwords, contents, depth + 1);
                if (!nested.ok()) return nested;
                continue;
            }
            default:
                item.bag.reset(
                    static_cast<PKCS12_SAFEBAG*>(ASN1_item_dup(ASN1_ITEM_rptr(PKCS12_SAFEBAG), bag)));
                if (!item.bag) return Failure(ReadFailure::Damaged, "A bag in the file could not be copied.");
                if (PKCS12_SAFEBAG_get_nid(bag) == NID_certBag &&
                    PKCS12_SAFEBAG_get_bag_nid(bag) == NID_x509Certificate) {
                    X509Ptr certificate(PKCS12_SAFEBAG_get1_cert(bag));
                    if (!certificate)
                        return Failure(ReadFailure::Damaged, "A certificate in the file is damaged.");
                    item.isCertificate = true;
                }
                break;
        }
        if (item.IsKey() && !AttributeBytes(bag, item.keyAttributes)) {
            return Failure(ReadFailure::Damaged, "The attributes of a private key could not be read.");
        }
        contents.items.push_back(std::move(item));
    }
    return {};
}

X509AlgorPtr Pbes2Algorithm() {
    return X509AlgorPtr(PKCS5_pbe2_set_iv_ex(EVP_aes_256_cbc(), kProtectionIterations, nullptr, kSaltLength,
                                             nullptr, NID_hmacWithSHA256, nullptr));
}

SafeBagPtr ShroudedKeyBag(const Pkcs12Item& item, Pkcs12Password password) {
    X509AlgorPtr algorithm = Pbes2Algorithm();
    if (!algorithm) return nullptr;
    X509SigPtr encrypted(
        PKCS8_set0_pbe_ex(password.data, password.length, item.key.get(), algorithm.get(), nullptr, nullptr));
    if (!encrypted) return nullptr;
    algorithm.release();  // now owned by `encrypted`
    SafeBagPtr bag(PKCS12_SAFEBAG_create0_pkcs8(encrypted.get()));
    if (!bag) return nullptr;
    encrypted.release();  // now owned by `bag`
    return WithAttributes(std::move(bag), item.keyAttributes);
}

Pkcs7Ptr EncryptedSafe(const STACK_OF(PKCS12_SAFEBAG) * bags, Pkcs12Password password) {
    X509AlgorPtr algorithm = Pbes2Algorithm();
    Pkcs7Ptr safe(PKCS7_new());
    if (!algorithm || !safe || !PKCS7_set_type(safe.get(), NID_pkcs7_encrypted)) return nullptr;
    ASN1_OCTET_STRING* data = PKCS12_item_i2d_encrypt_ex(
        algorithm.get(), ASN1_ITEM_rptr(PKCS12_SAFEBAGS), password.data, password.length,
        const_cast<STACK_OF(PKCS12_SAFEBAG)*>(bags), 1, nullptr, nullptr);
    if (data == nullptr) return nullptr;
    PKCS7_ENC_CONTENT* content = safe->d.encrypted->enc_data;
    ASN1_OCTET_STRING_free(content->enc_data);
    content->enc_data = data;
    X509_ALGOR_free(content->algorithm);
    content->algorithm = algorithm.release();
    return safe;
}

}  // namespace

std::size_t Pkcs12Contents::KeyCount() const {
    std::size_t count = 0;
    for (const Pkcs12Item& item : items) count += item.IsKey() ? 1 : 0;
    return count;
}

std::size_t Pkcs12Contents::CertificateCount() const {
    std::size_t count = 0;
    for (const Pkcs12Item& item : items) count += item.isCertificate ? 1 : 0;
    return count;
}

ReadResult ReadPkcs12(const unsigned char* der, std::size_t length,
                      const std::vector<Pkcs12Password>& passwords, Pkcs12Contents& contents) {
    contents.items.clear();
    OpenSslErrors::Clear();
    if (length == 0 || length > LONG_MAX)
        return Failure(ReadFailure::NotPkcs12, "The file is not a PKCS#12 file.");
    const unsigned char* in = der;
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &in, static_cast<long>(length)));
    if (!p12) {
        return Failure(
            ReadFailure::NotPkcs12,
            WithDetails("The file is not a PKCS#12 file, or it is damaged.", OpenSslErrors::Take()));
    }

    if (PKCS12_mac_present(p12.get())) {
        const X509_ALGOR* macAlgorithm = nullptr;
        PKCS12_get0_mac(nullptr, &macAlgorithm, nullptr, nullptr, p12.get());
        OpenSslErrors errors;
        bool verified = false;
        for (const Pkcs12Password& password : passwords) {
            OpenSslErrors::Clear();
            if (PKCS12_verify_mac(p12.get(), password.data, password.length) == 1) {
                verified = true;
                break;
            }
            // A mismatch leaves the queue empty; anything in it means the MAC could not be computed.
            errors = OpenSslErrors::Take();
            if (!errors.Empty()) break;
        }
        if (!verified && errors.UnsupportedAlgorithm()) {
            return Failure(ReadFailure::UnsupportedAlgorithm,
                           WithDetails("The file's integrity check uses " + AlgorithmName(macAlgorithm) +
                                           ", which is not available.",
                                       errors));
        }
        if (!verified && !errors.Empty()) {
            return Failure(ReadFailure::Damaged,
                           WithDetails("The file's integrity check could not be computed.", errors));
        }
        if (!verified) return Failure(ReadFailure::WrongPassword, kWrongPasswordText);
    }

    Pkcs7StackPtr safes(PKCS12_unpack_authsafes(p12.get()));
    if (!safes) {
        return Failure(ReadFailure::Damaged,
                       WithDetails("The contents of the file are damaged or use public-key protection.",
                                   OpenSslErrors::Take()));
    }
    for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes.get(), i);
        SafeBagStackPtr bags;
        const int type = OBJ_obj2nid(safe->type);
        if (type == NID_pkcs7_data) {
            bags.reset(PKCS12_unpack_p7data(safe));
            if (!bags) {
                return Failure(ReadFailure::Damaged,
                               WithDetails("A part of the file is damaged.", OpenSslErrors::Take()));
            }
        } else if (type == NID_pkcs7_encrypted) {
            const PKCS7_ENC_CONTENT* content =
                safe->d.encrypted != nullptr ? safe->d.encrypted->enc_data : nullptr;
            if (content == nullptr || content->enc_data == nullptr) {
                return Failure(ReadFailure::Damaged, "An encrypted part of the file is empty.");
            }
            const X509_ALGOR* algorithm = content->algorithm;
            ReadResult opened = TryPasswords(passwords, algorithm, [&](Pkcs12Password password) {
                bags.reset(PKCS12_unpack_p7encdata(safe, password.data, password.length));
                return bags != nullptr;
            });
            if (!opened.ok()) return opened;
        } else {
            return Failure(ReadFailure::UnsupportedAlgorithm,
                           "A part of the file uses public-key encryption, which this program cannot open.");
        }
        ReadResult taken = TakeBags(bags.get(), passwords, contents, 0);
        if (!taken.ok()) return taken;
    }
    OpenSslErrors::Clear();
    return {};
}

CallResult EncodePkcs12(const Pkcs12Contents& contents, Pkcs12Password password,
                        std::vector<unsigned char>& der) {
    OpenSslErrors::Clear();
    const auto failed = [](const std::string& sentence) {
        return CallResult::Failure(WithDetails(sentence, OpenSslErrors::Take()));
    };
    SafeBagStackPtr keyBags(sk_PKCS12_SAFEBAG_new_null());
    SafeBagViewPtr otherBags(sk_PKCS12_SAFEBAG_new_null());
    Pkcs7StackPtr safes(sk_PKCS7_new_null());
    if (!keyBags || !otherBags || !safes) return failed("Out of memory.");

    for (const Pkcs12Item& item : contents.items) {
        if (item.IsKey()) {
            SafeBagPtr bag = ShroudedKeyBag(item, password);
            if (!bag || !sk_PKCS12_SAFEBAG_push(keyBags.get(), bag.get())) {
                return failed("A private key could not be encrypted.");
            }
            bag.release();  // now owned by `keyBags`
        } else if (!sk_PKCS12_SAFEBAG_push(otherBags.get(), item.bag.get())) {
            return failed("Out of memory.");
        }
    }
    if (sk_PKCS12_SAFEBAG_num(otherBags.get()) > 0) {
        Pkcs7Ptr safe = EncryptedSafe(otherBags.get(), password);
        if (!safe || !sk_PKCS7_push(safes.get(), safe.get()))
            return failed("The certificates could not be encrypted.");
        safe.release();
    }
    if (sk_PKCS12_SAFEBAG_num(keyBags.get()) > 0) {
        Pkcs7Ptr safe(PKCS12_pack_p7data(keyBags.get()));
        if (!safe || !sk_PKCS7_push(safes.get(), safe.get()))
            return failed("The private keys could not be packed.");
        safe.release();
    }
    Pkcs12Ptr p12(PKCS12_add_safes(safes.get(), 0));
    if (!p12) return failed("The PKCS#12 structure could not be built.");
    if (!PKCS12_set_mac(p12.get(), password.data, password.length, nullptr, kSaltLength,
                        kProtectionIterations, EVP_sha256())) {
        return failed("The integrity check could not be computed.");
    }
    const int length = i2d_PKCS12(p12.get(), nullptr);
    if (length <= 0) return failed("The PKCS#12 file could not be encoded.");
    der.resize(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    if (i2d_PKCS12(p12.get(), &out) != length) return failed("The PKCS#12 file could not be encoded.");
    return CallResult::Success();
}

bool SameContents(const Pkcs12Contents& a, const Pkcs12Contents& b) {
    if (a.items.size() != b.items.size()) return false;
    for (std::size_t i = 0; i < a.items.size(); ++i) {
        const Pkcs12Item& x = a.items[i];
        const Pkcs12Item& y = b.items[i];
        if (x.IsKey() != y.IsKey()) return false;
        if (x.IsKey()) {
            const SecureBytes keyX = KeyDer(x.key.get());
            if (keyX.size() == 0 || !(keyX == KeyDer(y.key.get())) || x.keyAttributes != y.keyAttributes)
                return false;
        } else {
            const SecureBytes bagX = BagDer(x.bag.get());
            if (bagX.size() == 0 || !(bagX == BagDer(y.bag.get()))) return false;
        }
    }
    return true;
}

}  // namespace kiv::certificate
