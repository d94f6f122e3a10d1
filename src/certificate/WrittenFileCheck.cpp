// Checking the written file: it is opened again with the password alone, with keys for exactly the
// salts, counts and algorithms it names, and must hold what the source held, bag for bag.

#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>

#include <climits>
#include <cstring>

#include "certificate/DerWalk.h"
#include "certificate/OpenSslErrors.h"
#include "certificate/Pkcs12Bags.h"
#include "certificate/Pkcs12Parts.h"
#include "certificate/WorkLimits.h"

namespace kiv::certificate {
namespace {

std::vector<unsigned char> Bytes(const ASN1_STRING* text) {
    if (text == nullptr) return {};
    const unsigned char* data = ASN1_STRING_get0_data(text);
    return std::vector<unsigned char>(data, data + ASN1_STRING_length(text));
}

ReadResult Unsupported(const X509_ALGOR* algorithm) {
    return Failure(ReadFailure::UnsupportedAlgorithm,
                   "The file is encrypted with " + AlgorithmName(algorithm) + ", which is not available.");
}

// Whether a provider this process has loaded implements `cipher`.
bool Available(const EVP_CIPHER* cipher) {
    EVP_CIPHER* fetched = EVP_CIPHER_fetch(nullptr, OBJ_nid2sn(EVP_CIPHER_get_nid(cipher)), nullptr);
    EVP_CIPHER_free(fetched);
    OpenSslErrors::Clear();
    return fetched != nullptr;
}

ReadResult DecryptWith(const X509_ALGOR* algorithm, const EVP_CIPHER* cipher, const Secret& key,
                       const unsigned char* iv, const ASN1_OCTET_STRING* data, Secret& plain) {
    if (Crypt(cipher, key, iv, data->data, static_cast<std::size_t>(data->length), false, plain)) return {};
    // A cipher of a provider that is not loaded (DES without the legacy one) is no wrong password.
    if (!Available(cipher)) return Unsupported(algorithm);
    return Failure(ReadFailure::WrongPassword, kWrongPasswordText);
}

// Decrypts one pbeWithSHAAnd3-KeyTripleDES-CBC part: key and IV from the PKCS#12 derivation with SHA-1.
ReadResult TripleDesDecrypt(const X509_ALGOR* algorithm, const void* parameter, const ASN1_OCTET_STRING* data,
                            Pkcs12Password password, DerivedKeys& keys, WorkBudget& budget,
                            const std::string& part, Secret& plain) {
    std::unique_ptr<PBEPARAM, FreeWith<PBEPARAM_free>> pbe(static_cast<PBEPARAM*>(
        ASN1_item_unpack(static_cast<const ASN1_STRING*>(parameter), ASN1_ITEM_rptr(PBEPARAM))));
    const long iterations = pbe && pbe->iter != nullptr ? ASN1_INTEGER_get(pbe->iter) : 0;
    if (!pbe || pbe->salt == nullptr || iterations <= 0 || iterations > INT_MAX)
        return Failure(ReadFailure::Damaged, "The encryption parameters of the file are damaged.");
    const EVP_CIPHER* cipher = EVP_des_ede3_cbc();
    const std::vector<unsigned char> salt = Bytes(pbe->salt);
    const KeyRequest keyRequest{KeyKind::Pkcs12Key,
                                password,
                                salt,
                                static_cast<int>(iterations),
                                EVP_sha1(),
                                static_cast<std::size_t>(EVP_CIPHER_get_key_length(cipher))};
    const KeyRequest ivRequest{KeyKind::Pkcs12Iv,
                               password,
                               salt,
                               static_cast<int>(iterations),
                               EVP_sha1(),
                               static_cast<std::size_t>(EVP_CIPHER_get_iv_length(cipher))};
    std::string refused;
    if ((!keys.Has(keyRequest) || !keys.Has(ivRequest)) &&
        !budget.Charge(EncryptionCost(algorithm), part, refused))
        return Failure(ReadFailure::TooMuchWork, refused);
    const Secret* key = keys.Get(keyRequest);
    const Secret* iv = keys.Get(ivRequest);
    if (key == nullptr || iv == nullptr)
        return Failure(ReadFailure::Damaged, "A key could not be derived from the password.");
    return DecryptWith(algorithm, cipher, *key, iv->data(), data, plain);
}

}  // namespace

ReadResult DecryptPart(const X509_ALGOR* algorithm, const ASN1_OCTET_STRING* data, Pkcs12Password password,
                       DerivedKeys& keys, WorkBudget& budget, const std::string& part, Secret& plain) {
    if (algorithm == nullptr || data == nullptr)
        return Failure(ReadFailure::Damaged, "An encrypted part of the file is empty.");
    const ASN1_OBJECT* object = nullptr;
    int type = 0;
    const void* parameter = nullptr;
    X509_ALGOR_get0(&object, &type, &parameter, algorithm);
    if (OBJ_obj2nid(object) == NID_pbe_WithSHA1And3_Key_TripleDES_CBC && type == V_ASN1_SEQUENCE)
        return TripleDesDecrypt(algorithm, parameter, data, password, keys, budget, part, plain);
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
    std::string refused;
    if (!keys.Has(request) && !budget.Charge(Pbkdf2Cost(iterations, digest, keyLength), part, refused))
        return Failure(ReadFailure::TooMuchWork, refused);
    const Secret* key = keys.Get(request);
    if (key == nullptr) return Failure(ReadFailure::Damaged, "A key could not be derived from the password.");
    return DecryptWith(algorithm, cipher, *key, iv, data, plain);
}

ReadResult VerifyMacWith(const PKCS12* p12, std::span<const unsigned char> der, Pkcs12Password password,
                         DerivedKeys& keys, WorkBudget& budget) {
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
    std::string refused;
    if (!keys.Has(request) &&
        !budget.Charge(Pkcs12KdfCost(count, digest, request.length), "file's integrity check", refused))
        return Failure(ReadFailure::TooMuchWork, refused);
    const Secret* key = keys.Get(request);
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

ReadResult ReadProtectedPkcs12(std::span<const unsigned char> der, Pkcs12Password password, DerivedKeys& keys,
                               Pkcs12Contents& contents, bool bagsOnly) {
    contents.items.clear();
    OpenSslErrors::Clear();
    const unsigned char* in = der.data();
    Pkcs12Ptr p12(der.empty() || der.size() > LONG_MAX
                      ? nullptr
                      : d2i_PKCS12(nullptr, &in, static_cast<long>(der.size())));
    if (!p12 || in != der.data() + der.size())
        return Failure(ReadFailure::NotPkcs12, "The file is not a PKCS#12 file, or it is damaged.");
    WorkBudget budget;
    ReadResult mac = VerifyMacWith(p12.get(), der, password, keys, budget);
    if (!mac.ok()) return mac;

    Pkcs7StackPtr safes(PKCS12_unpack_authsafes(p12.get()));
    if (!safes) return Failure(ReadFailure::Damaged, "The contents of the file are damaged.");
    std::size_t keyNumber = 0;
    const KeyOpener openKey = [&](const PKCS12_SAFEBAG* bag, Pkcs8Ptr& key) {
        const X509_ALGOR* algorithm = nullptr;
        const ASN1_OCTET_STRING* data = nullptr;
        const X509_SIG* shrouded = PKCS12_SAFEBAG_get0_pkcs8(bag);
        if (shrouded != nullptr) X509_SIG_get0(shrouded, &algorithm, &data);
        Secret plain;
        ReadResult opened = DecryptPart(algorithm, data, password, keys, budget,
                                        "private key " + std::to_string(++keyNumber), plain);
        if (!opened.ok()) return opened;
        const unsigned char* p = plain.data();
        key.reset(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(plain.size())));
        if (!key || p != plain.data() + plain.size())
            return Failure(ReadFailure::Damaged, "A private key in the file is damaged.");
        return ReadResult{};
    };
    for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes.get(), i);
        Secret plain;
        const int type = OBJ_obj2nid(safe->type);
        if (type == NID_pkcs7_data) {
            if (ReadResult copied = PlainSafe(safe, plain); !copied.ok()) return copied;
        } else if (type == NID_pkcs7_encrypted) {
            const PKCS7_ENC_CONTENT* content =
                safe->d.encrypted != nullptr ? safe->d.encrypted->enc_data : nullptr;
            ReadResult opened = DecryptPart(content != nullptr ? content->algorithm : nullptr,
                                            content != nullptr ? content->enc_data : nullptr, password, keys,
                                            budget, "encrypted part " + std::to_string(i + 1), plain);
            if (!opened.ok()) return opened;
        } else {
            return Failure(ReadFailure::UnsupportedAlgorithm,
                           "A part of the file uses public-key encryption.");
        }
        ReadResult taken = TakeBags({plain.data(), plain.size()}, openKey, contents,
                                    static_cast<std::size_t>(i), 0, bagsOnly);
        if (!taken.ok()) return taken;
    }
    OpenSslErrors::Clear();
    return {};
}

CallResult CheckWrittenPkcs12(std::span<const unsigned char> written, Pkcs12Password password,
                              DerivedKeys& keys, const Pkcs12Contents& source) {
    Pkcs12Contents reread;
    // Only bag bytes are compared, so the certificates need not be decoded again.
    const ReadResult result = ReadProtectedPkcs12(written, password, keys, reread, true);
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
            const Secret keyX = KeyDer(x.key.get());
            if (keyX.size() == 0 || !(keyX == KeyDer(y.key.get())) || x.keyAttributes != y.keyAttributes)
                return false;
        } else if (x.der.size() == 0 || !(x.der == y.der)) {
            return false;
        }
    }
    return true;
}

}  // namespace kiv::certificate
