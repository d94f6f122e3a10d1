#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "certificate/Secret.h"

namespace kiv::certificate {

// Owners for OpenSSL objects: each frees with the matching OpenSSL call.
template <auto Free>
struct FreeWith {
    template <typename T>
    void operator()(T* p) const noexcept {
        Free(p);
    }
};

using X509Ptr = std::unique_ptr<X509, FreeWith<X509_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, FreeWith<EVP_PKEY_free>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, FreeWith<PKCS12_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, FreeWith<PKCS7_free>>;
using BioPtr = std::unique_ptr<BIO, FreeWith<BIO_free_all>>;
using SafeBagPtr = std::unique_ptr<PKCS12_SAFEBAG, FreeWith<PKCS12_SAFEBAG_free>>;
using Pkcs8Ptr = std::unique_ptr<PKCS8_PRIV_KEY_INFO, FreeWith<PKCS8_PRIV_KEY_INFO_free>>;
using X509SigPtr = std::unique_ptr<X509_SIG, FreeWith<X509_SIG_free>>;
using X509AlgorPtr = std::unique_ptr<X509_ALGOR, FreeWith<X509_ALGOR_free>>;
using Asn1OctetStringPtr = std::unique_ptr<ASN1_OCTET_STRING, FreeWith<ASN1_OCTET_STRING_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, FreeWith<EVP_CIPHER_CTX_free>>;
using Pbe2ParamPtr = std::unique_ptr<PBE2PARAM, FreeWith<PBE2PARAM_free>>;
using Pbkdf2ParamPtr = std::unique_ptr<PBKDF2PARAM, FreeWith<PBKDF2PARAM_free>>;

struct X509StackFree {
    void operator()(STACK_OF(X509) * s) const noexcept { sk_X509_pop_free(s, X509_free); }
};
struct Pkcs7StackFree {
    void operator()(STACK_OF(PKCS7) * s) const noexcept { sk_PKCS7_pop_free(s, PKCS7_free); }
};
struct SafeBagStackFree {
    void operator()(STACK_OF(PKCS12_SAFEBAG) * s) const noexcept {
        sk_PKCS12_SAFEBAG_pop_free(s, PKCS12_SAFEBAG_free);
    }
};
// A stack that only lends its elements: freeing it leaves them alone.
struct SafeBagViewFree {
    void operator()(STACK_OF(PKCS12_SAFEBAG) * s) const noexcept { sk_PKCS12_SAFEBAG_free(s); }
};

using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackFree>;
using Pkcs7StackPtr = std::unique_ptr<STACK_OF(PKCS7), Pkcs7StackFree>;
using SafeBagStackPtr = std::unique_ptr<STACK_OF(PKCS12_SAFEBAG), SafeBagStackFree>;
using SafeBagViewPtr = std::unique_ptr<STACK_OF(PKCS12_SAFEBAG), SafeBagViewFree>;

// Memory OpenSSL allocated for us (i2d output and the like).
struct OpenSslFree {
    void operator()(void* p) const noexcept { OPENSSL_free(p); }
};
using OpenSslBytesPtr = std::unique_ptr<unsigned char, OpenSslFree>;

}  // namespace kiv::certificate
