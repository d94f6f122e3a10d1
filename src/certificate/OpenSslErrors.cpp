#include "certificate/OpenSslErrors.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>

namespace kiv::certificate {

OpenSslErrors OpenSslErrors::Take() {
    OpenSslErrors errors;
    while (unsigned long code = ERR_get_error()) errors.codes_.push_back(code);
    return errors;
}

void OpenSslErrors::Clear() {
    ERR_clear_error();
}

bool OpenSslErrors::UnsupportedAlgorithm() const {
    for (unsigned long code : codes_) {
        const int lib = ERR_GET_LIB(code);
        const int reason = ERR_GET_REASON(code);
        if (reason == ERR_R_UNSUPPORTED || reason == ERR_R_FETCH_FAILED) return true;
        if (lib == ERR_LIB_EVP &&
            (reason == EVP_R_UNSUPPORTED_ALGORITHM || reason == EVP_R_UNKNOWN_PBE_ALGORITHM ||
             reason == EVP_R_UNSUPPORTED_CIPHER || reason == EVP_R_UNSUPPORTED_KEYLENGTH ||
             reason == EVP_R_UNSUPPORTED_PRF || reason == EVP_R_UNSUPPORTED_KEY_DERIVATION_FUNCTION ||
             reason == EVP_R_UNSUPPORTED_KEY_SIZE || reason == EVP_R_UNSUPPORTED_SALT_TYPE ||
             reason == EVP_R_UNKNOWN_CIPHER || reason == EVP_R_UNKNOWN_DIGEST)) {
            return true;
        }
        if (lib == ERR_LIB_PKCS12 &&
            (reason == PKCS12_R_UNKNOWN_DIGEST_ALGORITHM || reason == PKCS12_R_UNSUPPORTED_PKCS12_MODE)) {
            return true;
        }
    }
    return false;
}

std::string OpenSslErrors::Text() const {
    std::string text;
    for (unsigned long code : codes_) {
        const char* reason = ERR_reason_error_string(code);
        const char* lib = ERR_lib_error_string(code);
        std::string entry = reason ? reason : "error " + std::to_string(ERR_GET_REASON(code));
        if (lib) entry += std::string(" (") + lib + ")";
        if (text.find(entry) != std::string::npos) continue;
        if (!text.empty()) text += "; ";
        text += entry;
    }
    return text;
}

std::string WithDetails(const std::string& sentence, const OpenSslErrors& errors) {
    const std::string details = errors.Text();
    return details.empty() ? sentence : sentence + " (OpenSSL: " + details + ")";
}

bool LegacyProviderAvailable() {
    // Loading any provider by hand stops OpenSSL from loading "default" by itself, so load both.
    // They stay loaded for the life of the process.
    static const bool available = [] {
        OSSL_PROVIDER_load(nullptr, "default");
        const bool legacy = OSSL_PROVIDER_load(nullptr, "legacy") != nullptr;
        ERR_clear_error();
        return legacy;
    }();
    return available;
}

}  // namespace kiv::certificate
