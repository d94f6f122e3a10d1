#include "platform/certificate/Pkcs12Bags.h"

#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/hmac.h>
#include <openssl/objects.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <thread>

#include "platform/certificate/OpenSslErrors.h"

namespace kiv::certificate {
namespace {

constexpr int kSaltLength = 16;
constexpr int kKeyLength = 32;  // AES-256
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

// The whole encoding of each element of a DER SEQUENCE OF that spans exactly `der`. False for
// anything else, such as BER with indefinite lengths.
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

// SafeBag ::= SEQUENCE { bagId, [0] EXPLICIT bagValue, bagAttributes SET OPTIONAL }: `value` is
// what the [0] holds, `attributes` whatever follows it.
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

// The bag's encoding with `attributes` (an encoded SET, or nothing) after its value.
std::vector<unsigned char> WithAttributes(const PKCS12_SAFEBAG* bag,
                                          std::span<const unsigned char> attributes) {
    const SecureBytes der = BagDer(bag);
    const unsigned char* p = der.data();
    const unsigned char* end = der.data() + der.size();
    long length = 0;
    if (der.size() == 0 || !Header(p, end, length)) return {};
    const long contentLength = length + static_cast<long>(attributes.size());
    const int total = ASN1_object_size(1, contentLength, V_ASN1_SEQUENCE);
    if (total <= 0) return {};
    std::vector<unsigned char> joined(static_cast<std::size_t>(total));
    unsigned char* out = joined.data();
    ASN1_put_object(&out, 1, contentLength, V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL);
    std::memcpy(out, p, static_cast<std::size_t>(length));
    if (!attributes.empty()) std::memcpy(out + length, attributes.data(), attributes.size());
    return joined;
}

// SEQUENCE OF with these elements, as SafeContents are encoded.
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

// Decrypts the key of a shrouded key bag.
using KeyOpener = std::function<ReadResult(const PKCS12_SAFEBAG*, Pkcs8Ptr&)>;

// Takes the bags of one SafeContents encoding, keeping each bag's own bytes where the encoding is DER.
ReadResult TakeBags(std::span<const unsigned char> safeContents, const KeyOpener& openKey,
                    Pkcs12Contents& contents, std::size_t safe, int depth) {
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
        SecureBytes der;
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
                const SecureBytes key = KeyDer(PKCS12_SAFEBAG_get0_p8inf(bag));
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
                ReadResult nested = TakeBags(value, openKey, contents, safe, depth + 1);
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
                item.der = std::move(der);
                break;
        }
        if (item.IsKey()) item.keyAttributes.assign(attributes.begin(), attributes.end());
        contents.items.push_back(std::move(item));
    }
    return {};
}

KeyRequest EncryptionKey(Pkcs12Password password, std::vector<unsigned char> salt) {
    return {KeyKind::Pbkdf2, password, std::move(salt), kProtectionIterations, EVP_sha256(), kKeyLength};
}

KeyRequest MacKey(Pkcs12Password password, std::vector<unsigned char> salt) {
    return {KeyKind::Pkcs12Mac,    password,     std::move(salt),
            kProtectionIterations, EVP_sha256(), static_cast<std::size_t>(EVP_MD_get_size(EVP_sha256()))};
}

std::vector<unsigned char> Random(std::size_t size) {
    std::vector<unsigned char> bytes(size);
    if (RAND_bytes(bytes.data(), static_cast<int>(size)) != 1) bytes.clear();
    return bytes;
}

// CBC with the padding PBES2 prescribes; a wrong key almost always shows as bad padding.
bool Crypt(const EVP_CIPHER* cipher, const SecureBytes& key, const unsigned char* iv, const unsigned char* in,
           std::size_t length, bool encrypt, SecureBytes& out) {
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

// One encrypted part: its PBES2 AlgorithmIdentifier and ciphertext.
struct Encrypted {
    X509AlgorPtr algorithm;
    Asn1OctetStringPtr data;
};

bool Pbes2Encrypt(const unsigned char* plain, std::size_t length, Pkcs12Password password,
                  const std::vector<unsigned char>& salt, DerivedKeys& keys, Encrypted& out) {
    std::vector<unsigned char> iv =
        Random(static_cast<std::size_t>(EVP_CIPHER_get_iv_length(EVP_aes_256_cbc())));
    const SecureBytes* key = keys.Get(EncryptionKey(password, salt));
    if (iv.empty() || key == nullptr) return false;
    out.algorithm.reset(PKCS5_pbe2_set_iv_ex(
        EVP_aes_256_cbc(), kProtectionIterations, const_cast<unsigned char*>(salt.data()),
        static_cast<int>(salt.size()), iv.data(), NID_hmacWithSHA256, nullptr));
    SecureBytes ciphertext;
    if (!out.algorithm || !Crypt(EVP_aes_256_cbc(), *key, iv.data(), plain, length, true, ciphertext))
        return false;
    out.data.reset(ASN1_OCTET_STRING_new());
    return out.data &&
           ASN1_OCTET_STRING_set(out.data.get(), ciphertext.data(), static_cast<int>(ciphertext.size())) == 1;
}

// The encoding of the key's shrouded bag, with the source bag's attribute bytes.
std::vector<unsigned char> ShroudedKeyBag(const Pkcs12Item& item, Pkcs12Password password,
                                          const std::vector<unsigned char>& salt, DerivedKeys& keys) {
    const SecureBytes plain = KeyDer(item.key.get());
    Encrypted encrypted;
    if (plain.size() == 0 || !Pbes2Encrypt(plain.data(), plain.size(), password, salt, keys, encrypted))
        return {};
    X509SigPtr shrouded(X509_SIG_new());
    if (!shrouded) return {};
    X509_ALGOR* algorithm = nullptr;
    ASN1_OCTET_STRING* data = nullptr;
    X509_SIG_getm(shrouded.get(), &algorithm, &data);
    if (X509_ALGOR_copy(algorithm, encrypted.algorithm.get()) != 1 ||
        ASN1_STRING_copy(data, encrypted.data.get()) != 1) {
        return {};
    }
    SafeBagPtr bag(PKCS12_SAFEBAG_create0_pkcs8(shrouded.get()));
    if (!bag) return {};
    shrouded.release();  // now owned by `bag`
    return WithAttributes(bag.get(), item.keyAttributes);
}

// A ContentInfo of type data holding `safeContents` as they are.
Pkcs7Ptr PlainSafe(const SecureBytes& safeContents) {
    Pkcs7Ptr safe(PKCS7_new());
    if (!safe || !PKCS7_set_type(safe.get(), NID_pkcs7_data) || safe->d.data == nullptr ||
        ASN1_OCTET_STRING_set(safe->d.data, safeContents.data(), static_cast<int>(safeContents.size())) !=
            1) {
        return nullptr;
    }
    return safe;
}

// A ContentInfo of type encrypted-data holding `safeContents` encrypted.
Pkcs7Ptr EncryptedSafe(const SecureBytes& safeContents, Pkcs12Password password,
                       const std::vector<unsigned char>& salt, DerivedKeys& keys) {
    Encrypted encrypted;
    if (safeContents.size() == 0 ||
        !Pbes2Encrypt(safeContents.data(), safeContents.size(), password, salt, keys, encrypted))
        return nullptr;
    Pkcs7Ptr safe(PKCS7_new());
    if (!safe || !PKCS7_set_type(safe.get(), NID_pkcs7_encrypted)) return nullptr;
    PKCS7_ENC_CONTENT* content = safe->d.encrypted->enc_data;
    ASN1_OCTET_STRING_free(content->enc_data);
    content->enc_data = encrypted.data.release();
    X509_ALGOR_free(content->algorithm);
    content->algorithm = encrypted.algorithm.release();
    return safe;
}

bool EncodeDer(const PKCS12* p12, std::vector<unsigned char>& der) {
    const int length = i2d_PKCS12(p12, nullptr);
    if (length <= 0) return false;
    der.resize(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    return i2d_PKCS12(p12, &out) == length;
}

// Steps into the next element, which must be of the given class, tag and form.
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

bool Hmac(const EVP_MD* digest, const SecureBytes& key, std::span<const unsigned char> data,
          unsigned char* mac, unsigned int& macLength) {
    return HMAC(digest, key.data(), static_cast<int>(key.size()), data.data(), data.size(), mac,
                &macLength) != nullptr;
}

std::vector<unsigned char> Bytes(const ASN1_STRING* text) {
    if (text == nullptr) return {};
    const unsigned char* data = ASN1_STRING_get0_data(text);
    return std::vector<unsigned char>(data, data + ASN1_STRING_length(text));
}

ReadResult Unsupported(const X509_ALGOR* algorithm) {
    return Failure(ReadFailure::UnsupportedAlgorithm,
                   "The file is encrypted with " + AlgorithmName(algorithm) + ", which is not available.");
}

// Decrypts one PBES2 part with the salt, count, PRF, cipher and IV its AlgorithmIdentifier names.
ReadResult Pbes2Decrypt(const X509_ALGOR* algorithm, const ASN1_OCTET_STRING* data, Pkcs12Password password,
                        DerivedKeys& keys, SecureBytes& plain) {
    if (algorithm == nullptr || data == nullptr)
        return Failure(ReadFailure::Damaged, "An encrypted part of the file is empty.");
    const ASN1_OBJECT* object = nullptr;
    int type = 0;
    const void* parameter = nullptr;
    X509_ALGOR_get0(&object, &type, &parameter, algorithm);
    if (OBJ_obj2nid(object) != NID_pbes2 || type != V_ASN1_SEQUENCE) return Unsupported(algorithm);
    Pbe2ParamPtr pbe2(static_cast<PBE2PARAM*>(
        ASN1_item_unpack(static_cast<const ASN1_STRING*>(parameter), ASN1_ITEM_rptr(PBE2PARAM))));
    if (!pbe2) return Failure(ReadFailure::Damaged, "The encryption parameters of the file are damaged.");
    X509_ALGOR_get0(&object, &type, &parameter, pbe2->keyfunc);
    if (OBJ_obj2nid(object) != NID_id_pbkdf2 || type != V_ASN1_SEQUENCE) return Unsupported(algorithm);
    Pbkdf2ParamPtr kdf(static_cast<PBKDF2PARAM*>(
        ASN1_item_unpack(static_cast<const ASN1_STRING*>(parameter), ASN1_ITEM_rptr(PBKDF2PARAM))));
    if (!kdf || kdf->salt == nullptr || kdf->salt->type != V_ASN1_OCTET_STRING)
        return Failure(ReadFailure::Damaged, "The encryption parameters of the file are damaged.");

    const EVP_CIPHER* cipher = EVP_get_cipherbyobj(pbe2->encryption->algorithm);
    if (cipher == nullptr || EVP_CIPHER_get_mode(cipher) != EVP_CIPH_CBC_MODE) return Unsupported(algorithm);
    const int prf = kdf->prf != nullptr ? OBJ_obj2nid(kdf->prf->algorithm) : NID_hmacWithSHA1;
    int digestId = NID_undef;
    if (EVP_PBE_find(EVP_PBE_TYPE_PRF, prf, nullptr, &digestId, nullptr) != 1) return Unsupported(algorithm);
    const EVP_MD* digest = EVP_get_digestbynid(digestId);
    if (digest == nullptr) return Unsupported(algorithm);

    unsigned char iv[EVP_MAX_IV_LENGTH] = {};
    const long iterations = ASN1_INTEGER_get(kdf->iter);
    const auto keyLength = static_cast<std::size_t>(EVP_CIPHER_get_key_length(cipher));
    if (pbe2->encryption->parameter == nullptr ||
        ASN1_TYPE_get_octetstring(pbe2->encryption->parameter, iv, sizeof iv) !=
            EVP_CIPHER_get_iv_length(cipher) ||
        iterations <= 0 || iterations > INT_MAX ||
        (kdf->keylength != nullptr && ASN1_INTEGER_get(kdf->keylength) != static_cast<long>(keyLength))) {
        return Failure(ReadFailure::Damaged, "The encryption parameters of the file are damaged.");
    }
    const KeyRequest request{
        KeyKind::Pbkdf2, password, Bytes(kdf->salt->value.octet_string), static_cast<int>(iterations),
        digest,          keyLength};
    const SecureBytes* key = keys.Get(request);
    if (key == nullptr) return Failure(ReadFailure::Damaged, "A key could not be derived from the password.");
    if (!Crypt(cipher, *key, iv, data->data, static_cast<std::size_t>(data->length), false, plain))
        return Failure(ReadFailure::WrongPassword, kWrongPasswordText);
    return {};
}

ReadResult VerifyMac(const PKCS12* p12, std::span<const unsigned char> der, Pkcs12Password password,
                     DerivedKeys& keys) {
    if (!PKCS12_mac_present(p12)) return Failure(ReadFailure::Damaged, "The file has no integrity check.");
    const ASN1_OCTET_STRING* mac = nullptr;
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* salt = nullptr;
    const ASN1_INTEGER* iterations = nullptr;
    PKCS12_get0_mac(&mac, &algorithm, &salt, &iterations, p12);
    const ASN1_OBJECT* object = nullptr;
    X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
    const EVP_MD* digest = EVP_get_digestbyobj(object);
    if (digest == nullptr || mac == nullptr) {
        return Failure(
            ReadFailure::UnsupportedAlgorithm,
            "The file's integrity check uses " + AlgorithmName(algorithm) + ", which is not available.");
    }
    const long count = iterations != nullptr ? ASN1_INTEGER_get(iterations) : 1;
    std::span<const unsigned char> authSafe;
    if (count <= 0 || count > INT_MAX || !AuthSafeContents(der, authSafe))
        return Failure(ReadFailure::Damaged, "The file's integrity check could not be computed.");
    const KeyRequest request{
        KeyKind::Pkcs12Mac,      password, Bytes(salt),
        static_cast<int>(count), digest,   static_cast<std::size_t>(EVP_MD_get_size(digest))};
    const SecureBytes* key = keys.Get(request);
    unsigned char computed[EVP_MAX_MD_SIZE];
    unsigned int computedLength = 0;
    if (key == nullptr || !Hmac(digest, *key, authSafe, computed, computedLength))
        return Failure(ReadFailure::Damaged, "The file's integrity check could not be computed.");
    if (static_cast<int>(computedLength) != ASN1_STRING_length(mac) ||
        CRYPTO_memcmp(computed, ASN1_STRING_get0_data(mac), computedLength) != 0) {
        return Failure(ReadFailure::WrongPassword, kWrongPasswordText);
    }
    return {};
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

// Tries the MAC with each password; runs on a thread of its own, so it reports through its result.
ReadResult CheckMac(PKCS12* p12, const std::vector<Pkcs12Password>& passwords) {
    const X509_ALGOR* macAlgorithm = nullptr;
    PKCS12_get0_mac(nullptr, &macAlgorithm, nullptr, nullptr, p12);
    OpenSslErrors errors;
    bool verified = false;
    for (std::size_t i = 0; i < passwords.size(); ++i) {
        OpenSslErrors::Clear();
        if (PKCS12_verify_mac(p12, passwords[i].data, passwords[i].length) == 1) {
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
    return {};
}

ReadResult ReadParts(const PKCS12* p12, const std::vector<Pkcs12Password>& passwords,
                     Pkcs12Contents& contents) {
    Pkcs7StackPtr safes(PKCS12_unpack_authsafes(p12));
    if (!safes) {
        return Failure(ReadFailure::Damaged,
                       WithDetails("The contents of the file are damaged or use public-key protection.",
                                   OpenSslErrors::Take()));
    }
    const KeyOpener openKey = [&](const PKCS12_SAFEBAG* bag, Pkcs8Ptr& key) {
        const X509_ALGOR* algorithm = nullptr;
        X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), &algorithm, nullptr);
        return TryPasswords(passwords, algorithm, [&](Pkcs12Password password) {
            key.reset(PKCS12_decrypt_skey(bag, password.data, password.length));
            return key != nullptr;
        });
    };
    for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes.get(), i);
        SecureBytes plain;
        const int type = OBJ_obj2nid(safe->type);
        if (type == NID_pkcs7_data) {
            if (safe->d.data == nullptr)
                return Failure(ReadFailure::Damaged, "A part of the file is damaged.");
            plain.Resize(static_cast<std::size_t>(safe->d.data->length));
            if (plain.size() > 0) std::memcpy(plain.data(), safe->d.data->data, plain.size());
        } else if (type == NID_pkcs7_encrypted) {
            const PKCS7_ENC_CONTENT* content =
                safe->d.encrypted != nullptr ? safe->d.encrypted->enc_data : nullptr;
            if (content == nullptr || content->enc_data == nullptr) {
                return Failure(ReadFailure::Damaged, "An encrypted part of the file is empty.");
            }
            const X509_ALGOR* algorithm = content->algorithm;
            ReadResult opened = TryPasswords(passwords, algorithm, [&](Pkcs12Password password) {
                unsigned char* out = nullptr;
                int outLength = 0;
                if (PKCS12_pbe_crypt(algorithm, password.data, password.length, content->enc_data->data,
                                     content->enc_data->length, &out, &outLength, 0) == nullptr)
                    return false;
                plain.Resize(static_cast<std::size_t>(outLength));
                if (outLength > 0) std::memcpy(plain.data(), out, plain.size());
                OPENSSL_clear_free(out, static_cast<std::size_t>(outLength));
                // A wrong key now and then leaves valid padding; only a whole SafeContents counts.
                const unsigned char* p = plain.data();
                const unsigned char* end = p + plain.size();
                long length = 0;
                return plain.size() > 0 && Header(p, end, length) && p + length == end;
            });
            if (!opened.ok()) return opened;
        } else {
            return Failure(ReadFailure::UnsupportedAlgorithm,
                           "A part of the file uses public-key encryption, which this program cannot open.");
        }
        ReadResult taken =
            TakeBags({plain.data(), plain.size()}, openKey, contents, static_cast<std::size_t>(i), 0);
        if (!taken.ok()) return taken;
    }
    return {};
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

    // The MAC and the encrypted parts each need a key derivation of their own: the MAC is checked
    // on a second thread meanwhile. Its result still decides first, as if it had been checked first.
    ReadResult mac;
    std::thread macThread;
    if (PKCS12_mac_present(p12.get())) {
        try {
            macThread = std::thread([&]() noexcept {
                try {
                    mac = CheckMac(p12.get(), passwords);
                } catch (...) {
                    mac.failure = ReadFailure::Damaged;
                }
            });
        } catch (...) {
            mac = CheckMac(p12.get(), passwords);
            if (!mac.ok()) return mac;
        }
    }
    struct Joiner {
        std::thread& thread;
        ~Joiner() {
            if (thread.joinable()) thread.join();
        }
    } joiner{macThread};
    ReadResult parts = ReadParts(p12.get(), passwords, contents);
    if (macThread.joinable()) macThread.join();
    if (!mac.ok()) {
        contents.items.clear();
        if (mac.description.empty()) mac.description = "The file's integrity check could not be computed.";
        return mac;
    }
    if (!parts.ok()) {
        contents.items.clear();
        return parts;
    }
    OpenSslErrors::Clear();
    return {};
}

CallResult EncodePkcs12(const Pkcs12Contents& contents, Pkcs12Password password, DerivedKeys& keys,
                        std::vector<unsigned char>& der) {
    OpenSslErrors::Clear();
    const auto failed = [](const std::string& sentence) {
        return CallResult::Failure(WithDetails(sentence, OpenSslErrors::Take()));
    };
    Pkcs7StackPtr safes(sk_PKCS7_new_null());
    if (!safes) return failed("Out of memory.");

    // One output safe per run of like bags within a source safe. Every salt is chosen first so that
    // all keys can be derived at once.
    struct OutputSafe {
        bool keys = false;
        std::vector<const Pkcs12Item*> items;
        std::vector<std::vector<unsigned char>> salts;  // one per key, or the safe's own
    };
    std::vector<OutputSafe> layout;
    std::vector<KeyRequest> requests;
    for (const Pkcs12Item& item : contents.items) {
        if (layout.empty() || layout.back().keys != item.IsKey() ||
            layout.back().items.front()->safe != item.safe)
            layout.push_back({item.IsKey(), {}, {}});
        OutputSafe& safe = layout.back();
        safe.items.push_back(&item);
        if (safe.keys || safe.salts.empty()) {
            safe.salts.push_back(Random(kSaltLength));
            requests.push_back(EncryptionKey(password, safe.salts.back()));
        }
    }
    const std::vector<unsigned char> macSalt = Random(kSaltLength);
    requests.push_back(MacKey(password, macSalt));
    for (const KeyRequest& request : requests) {
        if (request.salt.empty()) return failed("No random numbers are available.");
    }
    if (!keys.Prepare(requests)) return failed("The keys could not be derived from the password.");

    for (const OutputSafe& part : layout) {
        Pkcs7Ptr safe;
        if (part.keys) {
            std::vector<std::vector<unsigned char>> keyBags;
            for (std::size_t i = 0; i < part.items.size(); ++i) {
                keyBags.push_back(ShroudedKeyBag(*part.items[i], password, part.salts[i], keys));
                if (keyBags.back().empty()) return failed("A private key could not be encrypted.");
            }
            safe = PlainSafe(SequenceOf({keyBags.begin(), keyBags.end()}));
            if (!safe) return failed("The private keys could not be packed.");
        } else {
            std::vector<std::span<const unsigned char>> bags;
            for (const Pkcs12Item* item : part.items) bags.emplace_back(item->der.data(), item->der.size());
            safe = EncryptedSafe(SequenceOf(bags), password, part.salts.front(), keys);
            if (!safe) return failed("The certificates could not be encrypted.");
        }
        if (!sk_PKCS7_push(safes.get(), safe.get())) return failed("Out of memory.");
        safe.release();
    }
    Pkcs12Ptr p12(PKCS12_add_safes(safes.get(), 0));
    if (!p12) return failed("The PKCS#12 structure could not be built.");

    const SecureBytes* macKey = keys.Get(MacKey(password, macSalt));
    std::span<const unsigned char> authSafe;
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLength = 0;
    const ASN1_OCTET_STRING* digest = nullptr;
    if (macKey == nullptr ||
        !PKCS12_setup_mac(p12.get(), kProtectionIterations, const_cast<unsigned char*>(macSalt.data()),
                          kSaltLength, EVP_sha256()) ||
        !EncodeDer(p12.get(), der) || !AuthSafeContents(der, authSafe) ||
        !Hmac(EVP_sha256(), *macKey, authSafe, mac, macLength)) {
        return failed("The integrity check could not be computed.");
    }
    PKCS12_get0_mac(&digest, nullptr, nullptr, nullptr, p12.get());
    // OpenSSL only hands the digest out as const; it is p12's own, writable object.
    if (digest == nullptr || ASN1_OCTET_STRING_set(const_cast<ASN1_OCTET_STRING*>(digest), mac,
                                                   static_cast<int>(macLength)) != 1) {
        return failed("The integrity check could not be computed.");
    }
    if (!EncodeDer(p12.get(), der)) return failed("The PKCS#12 file could not be encoded.");
    return CallResult::Success();
}

ReadResult ReadProtectedPkcs12(std::span<const unsigned char> der, Pkcs12Password password, DerivedKeys& keys,
                               Pkcs12Contents& contents) {
    contents.items.clear();
    OpenSslErrors::Clear();
    const unsigned char* in = der.data();
    Pkcs12Ptr p12(der.empty() || der.size() > LONG_MAX
                      ? nullptr
                      : d2i_PKCS12(nullptr, &in, static_cast<long>(der.size())));
    if (!p12 || in != der.data() + der.size())
        return Failure(ReadFailure::NotPkcs12, "The file is not a PKCS#12 file, or it is damaged.");
    ReadResult mac = VerifyMac(p12.get(), der, password, keys);
    if (!mac.ok()) return mac;

    Pkcs7StackPtr safes(PKCS12_unpack_authsafes(p12.get()));
    if (!safes) return Failure(ReadFailure::Damaged, "The contents of the file are damaged.");
    const KeyOpener openKey = [&](const PKCS12_SAFEBAG* bag, Pkcs8Ptr& key) {
        const X509_ALGOR* algorithm = nullptr;
        const ASN1_OCTET_STRING* data = nullptr;
        const X509_SIG* shrouded = PKCS12_SAFEBAG_get0_pkcs8(bag);
        if (shrouded != nullptr) X509_SIG_get0(shrouded, &algorithm, &data);
        SecureBytes plain;
        ReadResult opened = Pbes2Decrypt(algorithm, data, password, keys, plain);
        if (!opened.ok()) return opened;
        const unsigned char* p = plain.data();
        key.reset(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(plain.size())));
        if (!key || p != plain.data() + plain.size())
            return Failure(ReadFailure::Damaged, "A private key in the file is damaged.");
        return ReadResult{};
    };
    for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes.get(), i);
        SecureBytes plain;
        const int type = OBJ_obj2nid(safe->type);
        if (type == NID_pkcs7_data) {
            if (safe->d.data == nullptr)
                return Failure(ReadFailure::Damaged, "A part of the file is damaged.");
            plain.Resize(static_cast<std::size_t>(safe->d.data->length));
            if (plain.size() > 0) std::memcpy(plain.data(), safe->d.data->data, plain.size());
        } else if (type == NID_pkcs7_encrypted) {
            const PKCS7_ENC_CONTENT* content =
                safe->d.encrypted != nullptr ? safe->d.encrypted->enc_data : nullptr;
            ReadResult opened =
                Pbes2Decrypt(content != nullptr ? content->algorithm : nullptr,
                             content != nullptr ? content->enc_data : nullptr, password, keys, plain);
            if (!opened.ok()) return opened;
        } else {
            return Failure(ReadFailure::UnsupportedAlgorithm,
                           "A part of the file uses public-key encryption.");
        }
        ReadResult taken =
            TakeBags({plain.data(), plain.size()}, openKey, contents, static_cast<std::size_t>(i), 0);
        if (!taken.ok()) return taken;
    }
    OpenSslErrors::Clear();
    return {};
}

CallResult CheckWrittenPkcs12(std::span<const unsigned char> written, Pkcs12Password password,
                              DerivedKeys& keys, const Pkcs12Contents& source) {
    Pkcs12Contents reread;
    const ReadResult result = ReadProtectedPkcs12(written, password, keys, reread);
    OpenSslErrors::Clear();
    if (!result.ok())
        return CallResult::Failure("The written file does not open with the password: " + result.description);
    if (!SameContents(source, reread)) {
        return CallResult::Failure(
            "The written file does not hold the same keys and certificates as the source.");
    }
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
        } else if (x.der.size() == 0 || !(x.der == y.der)) {
            return false;
        }
    }
    return true;
}

}  // namespace kiv::certificate
