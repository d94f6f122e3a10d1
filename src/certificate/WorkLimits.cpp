#include "certificate/WorkLimits.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>

#include "certificate/OpenSslHandles.h"

namespace kiv::certificate {
namespace {

// SHA-384/512 work on 128-byte blocks with 64-bit words, about twice the time per round here.
std::uint64_t Weight(const EVP_MD* digest) {
    return digest != nullptr && EVP_MD_get_block_size(digest) >= 128 ? 2 : 1;
}

std::uint64_t Blocks(std::size_t bytes, const EVP_MD* digest) {
    const int size = digest != nullptr ? EVP_MD_get_size(digest) : 0;
    if (size <= 0) return 1;
    return bytes == 0 ? 1 : (bytes + static_cast<std::size_t>(size) - 1) / static_cast<std::size_t>(size);
}

long Count(const ASN1_INTEGER* integer) {
    if (integer == nullptr) return -1;
    const long value = ASN1_INTEGER_get(integer);
    return value > 0 ? value : -1;
}

}  // namespace

DerivationCost Pbkdf2Cost(long iterations, const EVP_MD* prf, std::size_t keyLength) {
    if (iterations <= 0) return {};
    // HMAC: an inner and an outer round per iteration and output block.
    return {iterations, static_cast<std::uint64_t>(iterations) * 2 * Blocks(keyLength, prf) * Weight(prf),
            true};
}

DerivationCost Pkcs12KdfCost(long iterations, const EVP_MD* digest, std::size_t bytes) {
    if (iterations <= 0) return {};
    return {iterations, static_cast<std::uint64_t>(iterations) * Blocks(bytes, digest) * Weight(digest),
            true};
}

DerivationCost EncryptionCost(const X509_ALGOR* algorithm) {
    if (algorithm == nullptr) return {};
    const ASN1_OBJECT* object = nullptr;
    int type = 0;
    const void* parameter = nullptr;
    X509_ALGOR_get0(&object, &type, &parameter, algorithm);
    const int nid = OBJ_obj2nid(object);
    if (type != V_ASN1_SEQUENCE || parameter == nullptr) return {};
    const auto* sequence = static_cast<const ASN1_STRING*>(parameter);

    if (nid != NID_pbes2) {
        std::unique_ptr<PBEPARAM, FreeWith<PBEPARAM_free>> pbe(
            static_cast<PBEPARAM*>(ASN1_item_unpack(sequence, ASN1_ITEM_rptr(PBEPARAM))));
        if (!pbe) return {};
        const long iterations = Count(pbe->iter);
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
        // The key and the IV are derived one after the other; take them as one output.
        DerivationCost cost = Pkcs12KdfCost(iterations, digest, keyAndIv);
        if (cost.known) cost.rounds += static_cast<std::uint64_t>(iterations) * Weight(digest);
        return cost;
    }

    Pbe2ParamPtr pbe2(static_cast<PBE2PARAM*>(ASN1_item_unpack(sequence, ASN1_ITEM_rptr(PBE2PARAM))));
    if (!pbe2 || pbe2->keyfunc == nullptr) return {};
    const ASN1_OBJECT* kdfObject = nullptr;
    int kdfType = 0;
    const void* kdfParameter = nullptr;
    X509_ALGOR_get0(&kdfObject, &kdfType, &kdfParameter, pbe2->keyfunc);
    if (kdfType != V_ASN1_SEQUENCE || kdfParameter == nullptr) return {};
    const auto* kdfSequence = static_cast<const ASN1_STRING*>(kdfParameter);
    const EVP_CIPHER* cipher =
        pbe2->encryption != nullptr ? EVP_get_cipherbyobj(pbe2->encryption->algorithm) : nullptr;
    const std::size_t keyLength =
        cipher != nullptr ? static_cast<std::size_t>(EVP_CIPHER_get_key_length(cipher)) : 64;

    if (OBJ_obj2nid(kdfObject) == NID_id_pbkdf2) {
        Pbkdf2ParamPtr kdf(
            static_cast<PBKDF2PARAM*>(ASN1_item_unpack(kdfSequence, ASN1_ITEM_rptr(PBKDF2PARAM))));
        if (!kdf) return {};
        const int prfNid = kdf->prf != nullptr ? OBJ_obj2nid(kdf->prf->algorithm) : NID_hmacWithSHA1;
        int digestNid = NID_undef;
        const EVP_MD* prf = EVP_PBE_find(EVP_PBE_TYPE_PRF, prfNid, nullptr, &digestNid, nullptr) == 1
                                ? EVP_get_digestbynid(digestNid)
                                : nullptr;
        std::size_t length = keyLength;
        if (kdf->keylength != nullptr && ASN1_INTEGER_get(kdf->keylength) > 0)
            length = static_cast<std::size_t>(ASN1_INTEGER_get(kdf->keylength));
        return Pbkdf2Cost(Count(kdf->iter), prf, length);
    }
    if (OBJ_obj2nid(kdfObject) == NID_id_scrypt) {
        std::unique_ptr<SCRYPT_PARAMS, FreeWith<SCRYPT_PARAMS_free>> scrypt(
            static_cast<SCRYPT_PARAMS*>(ASN1_item_unpack(kdfSequence, ASN1_ITEM_rptr(SCRYPT_PARAMS))));
        if (!scrypt) return {};
        const long n = Count(scrypt->costParameter);
        const long r = Count(scrypt->blockSize);
        const long p = Count(scrypt->parallelizationParameter);
        if (n <= 0 || r <= 0 || p <= 0) return {};
        // Each of p lanes mixes 2N times 2r Salsa20/8 blocks, each about a hash round.
        const double work = 4.0 * static_cast<double>(n) * static_cast<double>(r) * static_cast<double>(p);
        return {n, work >= 1e18 ? UINT64_MAX : static_cast<std::uint64_t>(work), true};
    }
    return {};
}

std::string Grouped(std::uint64_t number) {
    std::string digits = std::to_string(number);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}

bool WorkBudget::Charge(const DerivationCost& cost, const std::string& part, std::string& description) {
    if (!cost.known) return true;
    if (cost.iterations > kIterationCeiling) {
        description = "The " + part + " asks for " + Grouped(static_cast<std::uint64_t>(cost.iterations)) +
                      " iterations of key derivation; at most " + Grouped(kIterationCeiling) +
                      " are accepted.";
        return false;
    }
    if (cost.rounds > limit_ - spent_) {
        description = "The file asks for more key derivation work than one file may cause: the " + part +
                      " would bring it past " + Grouped(limit_) + " hash rounds.";
        return false;
    }
    spent_ += cost.rounds;
    return true;
}

}  // namespace kiv::certificate
