#include "certificate/EncryptionScheme.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>

#include <climits>

#include "certificate/OpenSslErrors.h"

namespace kiv::certificate {
namespace {

std::vector<unsigned char> Bytes(const ASN1_STRING* text) {
    if (text == nullptr) return {};
    const unsigned char* data = ASN1_STRING_get0_data(text);
    return std::vector<unsigned char>(data, data + ASN1_STRING_length(text));
}

std::string ObjectName(const ASN1_OBJECT* object) {
    char name[128] = {};
    OBJ_obj2txt(name, sizeof name, object, 0);
    return name;
}

// A count as the file names it; -1 when it is missing or not positive.
long Count(const ASN1_INTEGER* integer) {
    if (integer == nullptr) return -1;
    const long value = ASN1_INTEGER_get(integer);
    return value > 0 ? value : -1;
}

template <typename T>
std::unique_ptr<T, void (*)(T*)> Unpack(const void* sequence, const ASN1_ITEM* item, void (*free)(T*)) {
    return {static_cast<T*>(ASN1_item_unpack(static_cast<const ASN1_STRING*>(sequence), item)), free};
}

ReadResult Damaged() {
    return Failure(ReadFailure::Damaged, "The encryption parameters of the file are damaged.");
}

ReadResult Unsupported(const std::string& name) {
    return Failure(ReadFailure::UnsupportedAlgorithm,
                   "The file is encrypted with " + name + ", which is not available.");
}

// A PKCS#12 PBE derives the key and then the IV; counted as one output of both lengths, and a round
// per iteration for the second derivation's start.
DerivationCost Pkcs12PbeCost(int nid, long iterations) {
    int cipherNid = NID_undef;
    int digestNid = NID_undef;
    const EVP_MD* digest = nullptr;
    std::size_t keyAndIv = 64;  // unknown cipher: more than any of them needs
    if (EVP_PBE_find(EVP_PBE_TYPE_OUTER, nid, &cipherNid, &digestNid, nullptr) == 1) {
        digest = EVP_get_digestbynid(digestNid);
        if (const EVP_CIPHER* cipher = EVP_get_cipherbynid(cipherNid)) {
            keyAndIv = static_cast<std::size_t>(EVP_CIPHER_get_key_length(cipher)) +
                       static_cast<std::size_t>(EVP_CIPHER_get_iv_length(cipher));
        }
    }
    DerivationCost cost = Pkcs12KdfCost(iterations, digest, keyAndIv);
    if (cost.known) cost.rounds += Pkcs12KdfCost(iterations, digest, 0).rounds;
    return cost;
}

void ParsePkcs12Pbe(int nid, const void* parameter, EncryptionScheme& scheme) {
    const auto pbe = Unpack(parameter, ASN1_ITEM_rptr(PBEPARAM), PBEPARAM_free);
    if (!pbe) {
        scheme.own = nid == NID_pbe_WithSHA1And3_Key_TripleDES_CBC ? Damaged() : Unsupported(scheme.name);
        return;
    }
    const long iterations = Count(pbe->iter);
    scheme.cost = Pkcs12PbeCost(nid, iterations);
    if (nid != NID_pbe_WithSHA1And3_Key_TripleDES_CBC) {
        scheme.own = Unsupported(scheme.name);
        return;
    }
    if (pbe->salt == nullptr || iterations <= 0 || iterations > INT_MAX) {
        scheme.own = Damaged();
        return;
    }
    scheme.cipher = EVP_des_ede3_cbc();
    scheme.digest = EVP_sha1();
    scheme.salt = Bytes(pbe->salt);
    scheme.iterations = static_cast<int>(iterations);
}

// PBES2 with scrypt is OpenSSL's to decrypt; its cost is counted all the same.
void ParseScrypt(const void* parameter, EncryptionScheme& scheme) {
    const auto scrypt = Unpack(parameter, ASN1_ITEM_rptr(SCRYPT_PARAMS), SCRYPT_PARAMS_free);
    if (scrypt) {
        scheme.cost = ScryptCost(Count(scrypt->costParameter), Count(scrypt->blockSize),
                                 Count(scrypt->parallelizationParameter));
    }
}

void ParsePbes2(const void* parameter, EncryptionScheme& scheme) {
    scheme.own = Damaged();
    const auto pbe2 = Unpack(parameter, ASN1_ITEM_rptr(PBE2PARAM), PBE2PARAM_free);
    if (!pbe2 || pbe2->keyfunc == nullptr) return;
    if (pbe2->encryption != nullptr) scheme.name += " with " + ObjectName(pbe2->encryption->algorithm);
    const ASN1_OBJECT* kdfObject = nullptr;
    int kdfType = 0;
    const void* kdfParameter = nullptr;
    X509_ALGOR_get0(&kdfObject, &kdfType, &kdfParameter, pbe2->keyfunc);
    const int kdf = OBJ_obj2nid(kdfObject);
    if (kdf != NID_id_pbkdf2 || kdfType != V_ASN1_SEQUENCE || kdfParameter == nullptr) {
        scheme.own = Unsupported(scheme.name);
        if (kdf == NID_id_scrypt && kdfType == V_ASN1_SEQUENCE && kdfParameter != nullptr)
            ParseScrypt(kdfParameter, scheme);
        return;
    }
    const EVP_CIPHER* cipher =
        pbe2->encryption != nullptr ? EVP_get_cipherbyobj(pbe2->encryption->algorithm) : nullptr;
    const std::size_t keyLength =
        cipher != nullptr ? static_cast<std::size_t>(EVP_CIPHER_get_key_length(cipher)) : 64;
    const auto pbkdf2 = Unpack(kdfParameter, ASN1_ITEM_rptr(PBKDF2PARAM), PBKDF2PARAM_free);
    if (!pbkdf2) return;
    const int prf = pbkdf2->prf != nullptr ? OBJ_obj2nid(pbkdf2->prf->algorithm) : NID_hmacWithSHA1;
    int digestNid = NID_undef;
    const EVP_MD* digest = EVP_PBE_find(EVP_PBE_TYPE_PRF, prf, nullptr, &digestNid, nullptr) == 1
                               ? EVP_get_digestbynid(digestNid)
                               : nullptr;
    const long named = pbkdf2->keylength != nullptr ? ASN1_INTEGER_get(pbkdf2->keylength) : 0;
    const long iterations = Count(pbkdf2->iter);
    scheme.cost = Pbkdf2Cost(iterations, digest, named > 0 ? static_cast<std::size_t>(named) : keyLength);

    if (pbkdf2->salt == nullptr || pbkdf2->salt->type != V_ASN1_OCTET_STRING) return;
    if (cipher == nullptr || EVP_CIPHER_get_mode(cipher) != EVP_CIPH_CBC_MODE || digest == nullptr) {
        scheme.own = Unsupported(scheme.name);
        return;
    }
    unsigned char iv[EVP_MAX_IV_LENGTH] = {};
    const int ivLength = pbe2->encryption->parameter != nullptr
                             ? ASN1_TYPE_get_octetstring(pbe2->encryption->parameter, iv, sizeof iv)
                             : -1;
    if (ivLength != EVP_CIPHER_get_iv_length(cipher) || iterations <= 0 || iterations > INT_MAX ||
        (pbkdf2->keylength != nullptr && named != static_cast<long>(keyLength)))
        return;
    scheme.own = {};
    scheme.cipher = cipher;
    scheme.digest = digest;
    scheme.prf = prf;
    scheme.salt = Bytes(pbkdf2->salt->value.octet_string);
    scheme.iterations = static_cast<int>(iterations);
    scheme.iv.assign(iv, iv + ivLength);
}

// Whether a provider this process has loaded implements `cipher`.
bool Available(const EVP_CIPHER* cipher) {
    EVP_CIPHER* fetched = EVP_CIPHER_fetch(nullptr, OBJ_nid2sn(EVP_CIPHER_get_nid(cipher)), nullptr);
    EVP_CIPHER_free(fetched);
    OpenSslErrors::Clear();
    return fetched != nullptr;
}

}  // namespace

std::vector<KeyRequest> EncryptionScheme::Keys(Pkcs12Password password) const {
    const auto keyLength = static_cast<std::size_t>(EVP_CIPHER_get_key_length(cipher));
    if (pbes2) return {{KeyKind::Pbkdf2, password, salt, iterations, digest, keyLength}};
    return {{KeyKind::Pkcs12Key, password, salt, iterations, digest, keyLength},
            {KeyKind::Pkcs12Iv, password, salt, iterations, digest,
             static_cast<std::size_t>(EVP_CIPHER_get_iv_length(cipher))}};
}

EncryptionScheme ParseEncryption(const X509_ALGOR* algorithm) {
    EncryptionScheme scheme;
    if (algorithm == nullptr) {
        scheme.name = "an unknown algorithm";
        scheme.own = Failure(ReadFailure::Damaged, "An encrypted part of the file is empty.");
        return scheme;
    }
    const ASN1_OBJECT* object = nullptr;
    int type = 0;
    const void* parameter = nullptr;
    X509_ALGOR_get0(&object, &type, &parameter, algorithm);
    const int nid = OBJ_obj2nid(object);
    scheme.name = ObjectName(object);
    scheme.pbes2 = nid == NID_pbes2;
    if (type != V_ASN1_SEQUENCE || parameter == nullptr) {
        scheme.own = Unsupported(scheme.name);
    } else if (scheme.pbes2) {
        ParsePbes2(parameter, scheme);
    } else {
        ParsePkcs12Pbe(nid, parameter, scheme);
    }
    OpenSslErrors::Clear();
    return scheme;
}

EncryptionScheme Pbes2Scheme(const EVP_CIPHER* cipher, int prf, std::vector<unsigned char> salt,
                             int iterations, std::vector<unsigned char> iv) {
    EncryptionScheme scheme;
    scheme.name = "PBES2 with " + ObjectName(OBJ_nid2obj(EVP_CIPHER_get_nid(cipher)));
    scheme.pbes2 = true;
    int digestNid = NID_undef;
    EVP_PBE_find(EVP_PBE_TYPE_PRF, prf, nullptr, &digestNid, nullptr);
    scheme.cipher = cipher;
    scheme.digest = EVP_get_digestbynid(digestNid);
    scheme.prf = prf;
    scheme.salt = std::move(salt);
    scheme.iterations = iterations;
    scheme.iv = std::move(iv);
    scheme.cost =
        Pbkdf2Cost(iterations, scheme.digest, static_cast<std::size_t>(EVP_CIPHER_get_key_length(cipher)));
    return scheme;
}

EncryptionScheme TripleDesScheme(std::vector<unsigned char> salt, int iterations) {
    EncryptionScheme scheme;
    scheme.name = ObjectName(OBJ_nid2obj(NID_pbe_WithSHA1And3_Key_TripleDES_CBC));
    scheme.cipher = EVP_des_ede3_cbc();
    scheme.digest = EVP_sha1();
    scheme.salt = std::move(salt);
    scheme.iterations = iterations;
    scheme.cost = Pkcs12PbeCost(NID_pbe_WithSHA1And3_Key_TripleDES_CBC, iterations);
    return scheme;
}

ReadResult Decrypt(const EncryptionScheme& scheme, const ASN1_OCTET_STRING* data, Pkcs12Password password,
                   DerivedKeys& keys, WorkBudget& budget, const std::string& part, Secret& plain) {
    if (data == nullptr) return Failure(ReadFailure::Damaged, "An encrypted part of the file is empty.");
    if (!scheme.own.ok()) return scheme.own;
    const std::vector<KeyRequest> requests = scheme.Keys(password);
    bool known = true;
    for (const KeyRequest& request : requests) known = known && keys.Has(request);
    std::string refused;
    if (!known && !budget.Charge(scheme.cost, part, refused))
        return Failure(ReadFailure::TooMuchWork, refused);
    const Secret* key = keys.Get(requests.front());
    const Secret* derivedIv = scheme.pbes2 ? nullptr : keys.Get(requests.back());
    if (key == nullptr || (!scheme.pbes2 && derivedIv == nullptr))
        return Failure(ReadFailure::Damaged, "A key could not be derived from the password.");
    const unsigned char* iv = scheme.pbes2 ? scheme.iv.data() : derivedIv->data();
    if (Crypt(scheme.cipher, *key, iv, data->data, static_cast<std::size_t>(data->length), false, plain))
        return {};
    // A cipher of a provider that is not loaded (DES without the legacy one) is no wrong password.
    if (!Available(scheme.cipher)) return Unsupported(scheme.name);
    return Failure(ReadFailure::WrongPassword, kWrongPasswordText);
}

bool Encrypt(const EncryptionScheme& scheme, std::span<const unsigned char> plain, Pkcs12Password password,
             DerivedKeys& keys, X509AlgorPtr& algorithm, Asn1OctetStringPtr& data) {
    const std::vector<KeyRequest> requests = scheme.Keys(password);
    const Secret* key = keys.Get(requests.front());
    const Secret* derivedIv = scheme.pbes2 ? nullptr : keys.Get(requests.back());
    if (key == nullptr || (!scheme.pbes2 && derivedIv == nullptr) || scheme.salt.size() > INT_MAX)
        return false;
    const auto saltLength = static_cast<int>(scheme.salt.size());
    auto* salt = const_cast<unsigned char*>(scheme.salt.data());
    if (scheme.pbes2) {
        algorithm.reset(PKCS5_pbe2_set_iv_ex(scheme.cipher, scheme.iterations, salt, saltLength,
                                             const_cast<unsigned char*>(scheme.iv.data()), scheme.prf,
                                             nullptr));
    } else {
        algorithm.reset(
            PKCS5_pbe_set(NID_pbe_WithSHA1And3_Key_TripleDES_CBC, scheme.iterations, salt, saltLength));
    }
    const unsigned char* iv = scheme.pbes2 ? scheme.iv.data() : derivedIv->data();
    Secret ciphertext;
    if (!algorithm || !Crypt(scheme.cipher, *key, iv, plain.data(), plain.size(), true, ciphertext))
        return false;
    data.reset(ASN1_OCTET_STRING_new());
    return data &&
           ASN1_OCTET_STRING_set(data.get(), ciphertext.data(), static_cast<int>(ciphertext.size())) == 1;
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

}  // namespace kiv::certificate
