#include "support/pkcs12/Pkcs12Maker.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <memory>

#include "certificate/OpenSslHandles.h"

namespace kiv::testing {
namespace {

// The program's own OpenSSL owners, under the short names these helpers use.
using certificate::FreeWith;
using KeyPtr = certificate::EvpPkeyPtr;
using CertPtr = certificate::X509Ptr;
using P12Ptr = certificate::Pkcs12Ptr;
using Pbe2Ptr = certificate::Pbe2ParamPtr;
using Pbkdf2Ptr = certificate::Pbkdf2ParamPtr;
using P8Ptr = certificate::Pkcs8Ptr;
using BagsPtr = certificate::SafeBagStackPtr;
using SafesPtr = certificate::Pkcs7StackPtr;
using ExtPtr = std::unique_ptr<X509_EXTENSION, FreeWith<X509_EXTENSION_free>>;
using PbeParamPtr = std::unique_ptr<PBEPARAM, FreeWith<PBEPARAM_free>>;

void LoadProviders() {
    static const bool loaded = [] {
        OSSL_PROVIDER_load(nullptr, "default");
        OSSL_PROVIDER_load(nullptr, "legacy");
        ERR_clear_error();
        return true;
    }();
    (void)loaded;
}

CertPtr MakeCert(const char* commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey, bool ca,
                 long serial) {
    CertPtr cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600L * 24 * 365);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Kiv Test"),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName),
                               -1, -1, 0);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
    X509_set_pubkey(cert.get(), key);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer ? issuer : cert.get(), cert.get(), nullptr, nullptr, 0);
    ExtPtr constraints(
        X509V3_EXT_conf_nid(nullptr, &ctx, NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE"));
    if (constraints) X509_add_ext(cert.get(), constraints.get(), -1);
    if (!X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256())) return nullptr;
    return cert;
}

// Key generation is the slow part; every file of a process shares one set.
struct TestPki {
    KeyPtr rootKey, intermediateKey, leafKey, ecLeafKey;
    CertPtr root, intermediate, leaf, ecLeaf;
    bool ok = false;
};

const TestPki& Pki() {
    static const TestPki* pki = [] {
        LoadProviders();
        auto* p = new TestPki;
        p->rootKey.reset(EVP_RSA_gen(2048));
        p->intermediateKey.reset(EVP_EC_gen("P-256"));
        p->leafKey.reset(EVP_RSA_gen(2048));
        p->ecLeafKey.reset(EVP_EC_gen("P-256"));
        if (!p->rootKey || !p->intermediateKey || !p->leafKey || !p->ecLeafKey) return p;
        p->root = MakeCert("Kiv Test Root CA", p->rootKey.get(), nullptr, nullptr, true, 1);
        p->intermediate = MakeCert("Kiv Test Intermediate CA", p->intermediateKey.get(), p->root.get(),
                                   p->rootKey.get(), true, 2);
        p->leaf = MakeCert("Kiv Test Leaf", p->leafKey.get(), p->intermediate.get(), p->intermediateKey.get(),
                           false, 3);
        p->ecLeaf = MakeCert("Kiv Test EC Leaf", p->ecLeafKey.get(), p->intermediate.get(),
                             p->intermediateKey.get(), false, 4);
        p->ok = p->root && p->intermediate && p->leaf && p->ecLeaf;
        return p;
    }();
    return *pki;
}

struct Recipe {
    int keyPbe = NID_aes_256_cbc;      // -1: plain key bag
    int certPbe = NID_aes_256_cbc;     // -1: plain safe
    const EVP_MD* mac = EVP_sha256();  // nullptr: no MAC
    bool nullPassword = false;
    bool withKey = true;
    bool withCerts = true;
    bool extraAttributes = false;
    bool ecLeaf = false;
    bool keyFirst = false;
    bool mixedSafe = false;
    bool hugeMacCount = false;
};

Recipe RecipeFor(PfxVariant variant) {
    Recipe r;
    constexpr int k3des = NID_pbe_WithSHA1And3_Key_TripleDES_CBC;
    switch (variant) {
        case PfxVariant::EmptyPasswordMac:
            r.keyPbe = r.certPbe = k3des;
            r.mac = EVP_sha1();
            break;
        case PfxVariant::NullPasswordMac:
            r.keyPbe = r.certPbe = k3des;
            r.mac = EVP_sha1();
            r.nullPassword = true;
            break;
        case PfxVariant::NoMac:
            r.keyPbe = r.certPbe = k3des;
            r.mac = nullptr;
            break;
        case PfxVariant::UnencryptedBags:
            r.keyPbe = r.certPbe = -1;
            break;
        case PfxVariant::Pbes2Aes:
            break;
        case PfxVariant::Legacy:
            r.keyPbe = k3des;
            r.certPbe = NID_pbe_WithSHA1And40BitRC2_CBC;
            r.mac = EVP_sha1();
            break;
        case PfxVariant::PasswordProtected:
            break;
        case PfxVariant::ExtraAttributes:
            r.extraAttributes = true;
            break;
        case PfxVariant::CertificatesOnly:
            r.withKey = false;
            break;
        case PfxVariant::KeyOnly:
            r.withCerts = false;
            break;
        case PfxVariant::EcKey:
            r.ecLeaf = true;
            break;
        case PfxVariant::KeyFirst:
            r.keyFirst = true;
            break;
        case PfxVariant::MixedSafe:
            r.mixedSafe = true;
            break;
        case PfxVariant::HugeMacCount:
            r.hugeMacCount = true;
            break;
    }
    return r;
}

bool AddSafe(STACK_OF(PKCS7) * *safes, STACK_OF(PKCS12_SAFEBAG) * bags, int pbe, const char* pass) {
    return PKCS12_add_safe(safes, bags, pbe, 2048, pass) == 1;
}

}  // namespace

std::string VariantName(PfxVariant variant) {
    switch (variant) {
        case PfxVariant::EmptyPasswordMac:
            return "EmptyPasswordMac";
        case PfxVariant::NullPasswordMac:
            return "NullPasswordMac";
        case PfxVariant::NoMac:
            return "NoMac";
        case PfxVariant::UnencryptedBags:
            return "UnencryptedBags";
        case PfxVariant::Pbes2Aes:
            return "Pbes2Aes";
        case PfxVariant::Legacy:
            return "Legacy";
        case PfxVariant::PasswordProtected:
            return "PasswordProtected";
        case PfxVariant::ExtraAttributes:
            return "ExtraAttributes";
        case PfxVariant::CertificatesOnly:
            return "CertificatesOnly";
        case PfxVariant::KeyOnly:
            return "KeyOnly";
        case PfxVariant::EcKey:
            return "EcKey";
        case PfxVariant::KeyFirst:
            return "KeyFirst";
        case PfxVariant::MixedSafe:
            return "MixedSafe";
        case PfxVariant::HugeMacCount:
            return "HugeMacCount";
    }
    return "Unknown";
}

std::vector<unsigned char> MakePfx(PfxVariant variant, const std::string& password) {
    const TestPki& pki = Pki();
    if (!pki.ok) return {};
    const Recipe recipe = RecipeFor(variant);
    std::string secret =
        variant == PfxVariant::PasswordProtected ? (password.empty() ? kTestPassword : password) : "";
    const char* pass = recipe.nullPassword ? nullptr : secret.c_str();
    EVP_PKEY* leafKey = recipe.ecLeaf ? pki.ecLeafKey.get() : pki.leafKey.get();
    X509* leaf = recipe.ecLeaf ? pki.ecLeaf.get() : pki.leaf.get();
    static const unsigned char kKeyId[] = {0x4b, 0x69, 0x76, 0x01, 0x02, 0x03, 0x04, 0x05};

    BagsPtr certBags;
    if (recipe.withCerts) {
        STACK_OF(PKCS12_SAFEBAG)* raw = nullptr;
        const std::pair<X509*, const char*> chain[] = {
            {leaf, "Kiv Leaf"}, {pki.intermediate.get(), "Kiv Intermediate"}, {pki.root.get(), "Kiv Root"}};
        for (const auto& [cert, name] : chain) {
            PKCS12_SAFEBAG* bag = PKCS12_add_cert(&raw, cert);
            if (bag == nullptr) {
                BagsPtr discard(raw);
                return {};
            }
            if (cert == leaf && recipe.withKey)
                PKCS12_add_localkeyid(bag, const_cast<unsigned char*>(kKeyId), sizeof kKeyId);
            if (recipe.extraAttributes) PKCS12_add_friendlyname(bag, name, -1);
        }
        certBags.reset(raw);
    }
    BagsPtr keyBags;
    if (recipe.withKey) {
        STACK_OF(PKCS12_SAFEBAG)* raw = nullptr;
        PKCS12_SAFEBAG* bag = PKCS12_add_key(&raw, leafKey, 0, 2048, recipe.keyPbe, pass);
        keyBags.reset(raw);
        if (bag == nullptr) return {};
        if (recipe.withCerts) PKCS12_add_localkeyid(bag, const_cast<unsigned char*>(kKeyId), sizeof kKeyId);
        if (recipe.extraAttributes) {
            PKCS12_add_friendlyname(bag, "Kiv Leaf Key \xc3\xbc", -1);
            PKCS12_add_CSPName_asc(bag, "Microsoft Enhanced RSA and AES Cryptographic Provider", -1);
            PKCS12_add1_attr_by_txt(bag, "1.3.6.1.4.1.99999.7", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>("custom value"), 12);
        }
    }
    if (recipe.mixedSafe && certBags && keyBags) {
        // The key goes between the leaf and the intermediate, all in one safe.
        PKCS12_SAFEBAG* key = sk_PKCS12_SAFEBAG_shift(keyBags.get());
        if (!sk_PKCS12_SAFEBAG_insert(certBags.get(), key, 1)) {
            PKCS12_SAFEBAG_free(key);
            return {};
        }
    }

    SafesPtr safes(sk_PKCS7_new_null());
    const auto add = [&](STACK_OF(PKCS12_SAFEBAG) * bags, int pbe) {
        if (bags == nullptr || sk_PKCS12_SAFEBAG_num(bags) == 0) return true;
        STACK_OF(PKCS7)* s = safes.release();
        const bool added = AddSafe(&s, bags, pbe, pass);
        safes.reset(s);
        return added;
    };
    const bool added = recipe.keyFirst ? add(keyBags.get(), -1) && add(certBags.get(), recipe.certPbe)
                                       : add(certBags.get(), recipe.certPbe) && add(keyBags.get(), -1);
    if (!added) return {};
    P12Ptr p12(PKCS12_add_safes(safes.get(), 0));
    if (!p12) return {};
    if (recipe.hugeMacCount) {
        // Only the parameters: computing this MAC would take about an hour.
        unsigned char salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        if (!PKCS12_setup_mac(p12.get(), INT_MAX, salt, sizeof salt, EVP_sha256())) return {};
    } else if (recipe.mac != nullptr &&
               !PKCS12_set_mac(p12.get(), pass, pass ? -1 : 0, nullptr, 0, 2048, recipe.mac)) {
        return {};
    }
    const int length = i2d_PKCS12(p12.get(), nullptr);
    if (length <= 0) return {};
    std::vector<unsigned char> der(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    if (i2d_PKCS12(p12.get(), &out) != length) return {};
    return der;
}

bool WritePfx(const std::string& path, PfxVariant variant, const std::string& password) {
    const std::vector<unsigned char> der = MakePfx(variant, password);
    if (der.empty()) return false;
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    const bool written = std::fwrite(der.data(), 1, der.size(), out) == der.size();
    return std::fclose(out) == 0 && written;
}

std::optional<PemFiles> WritePem(const std::string& folder, bool ecLeaf) {
    const TestPki& pki = Pki();
    if (!pki.ok) return std::nullopt;
    const std::string prefix = folder + (ecLeaf ? "/ec-" : "/");
    PemFiles files{prefix + "leaf-key.pem", prefix + "leaf.pem", prefix + "chain.pem",
                   prefix + "intermediate.pem", prefix + "root.pem"};
    EVP_PKEY* leafKey = ecLeaf ? pki.ecLeafKey.get() : pki.leafKey.get();
    X509* leaf = ecLeaf ? pki.ecLeaf.get() : pki.leaf.get();
    const auto write = [](const std::string& path, auto&& body) {
        FILE* out = std::fopen(path.c_str(), "w");
        if (out == nullptr) return false;
        const bool ok = body(out);
        return std::fclose(out) == 0 && ok;
    };
    const auto certificate = [&](X509* cert) {
        return [cert](FILE* out) { return PEM_write_X509(out, cert) == 1; };
    };
    const bool ok =
        write(files.key,
              [&](FILE* out) {
                  return PEM_write_PrivateKey(out, leafKey, nullptr, nullptr, 0, nullptr, nullptr) == 1;
              }) &&
        write(files.leaf, certificate(leaf)) &&
        write(files.intermediate, certificate(pki.intermediate.get())) &&
        write(files.root, certificate(pki.root.get())) && write(files.chain, [&](FILE* out) {
            return PEM_write_X509(out, pki.intermediate.get()) == 1 &&
                   PEM_write_X509(out, pki.root.get()) == 1;
        });
    if (!ok) return std::nullopt;
    return files;
}

namespace {

std::string Hex(const unsigned char* data, int length) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < length; ++i) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 0xF];
    }
    return text;
}

std::string Hex(const ASN1_STRING* s) {
    return s ? Hex(ASN1_STRING_get0_data(s), ASN1_STRING_length(s)) : "";
}

std::string ValueText(const ASN1_TYPE* value) {
    const int type = ASN1_TYPE_get(value);
    if (type == V_ASN1_BMPSTRING || type == V_ASN1_UTF8STRING || type == V_ASN1_PRINTABLESTRING ||
        type == V_ASN1_IA5STRING) {
        unsigned char* utf8 = nullptr;
        const int length = ASN1_STRING_to_UTF8(&utf8, value->value.asn1_string);
        if (length < 0) return "?";
        std::string text(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
        OPENSSL_free(utf8);
        return text;
    }
    if (type == V_ASN1_OCTET_STRING) return Hex(value->value.octet_string);
    unsigned char* der = nullptr;
    const int length = i2d_ASN1_TYPE(value, &der);
    std::string text = length > 0 ? Hex(der, length) : "?";
    OPENSSL_free(der);
    return text;
}

std::vector<std::string> Attributes(const PKCS12_SAFEBAG* bag) {
    std::vector<std::string> summary;
    const STACK_OF(X509_ATTRIBUTE)* attributes = PKCS12_SAFEBAG_get0_attrs(bag);
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, i);
        char name[128] = {};
        OBJ_obj2txt(name, sizeof name, X509_ATTRIBUTE_get0_object(attribute), 0);
        std::string line = std::string(name) + "=";
        for (int v = 0; v < X509_ATTRIBUTE_count(attribute); ++v) {
            if (v > 0) line += ",";
            line += ValueText(X509_ATTRIBUTE_get0_type(attribute, v));
        }
        summary.push_back(line);
    }
    return summary;
}

std::string Describe(const X509_ALGOR* algorithm, std::vector<std::string>& salts) {
    const ASN1_OBJECT* object = nullptr;
    int parameterType = 0;
    const void* parameter = nullptr;
    X509_ALGOR_get0(&object, &parameterType, &parameter, algorithm);
    const int nid = OBJ_obj2nid(object);
    if (nid != NID_pbes2) {
        std::string text = OBJ_nid2sn(nid);
        std::unique_ptr<ASN1_TYPE, FreeWith<ASN1_TYPE_free>> wrapped(ASN1_TYPE_new());
        ASN1_TYPE_set1(wrapped.get(), parameterType, parameter);
        PbeParamPtr pbe(
            static_cast<PBEPARAM*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBEPARAM), wrapped.get())));
        if (pbe) {
            salts.push_back(Hex(pbe->salt));
            text += " iter=" + std::to_string(ASN1_INTEGER_get(pbe->iter));
        }
        return text;
    }
    std::unique_ptr<ASN1_TYPE, FreeWith<ASN1_TYPE_free>> wrapped(ASN1_TYPE_new());
    ASN1_TYPE_set1(wrapped.get(), parameterType, parameter);
    Pbe2Ptr pbe2(
        static_cast<PBE2PARAM*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), wrapped.get())));
    if (!pbe2) return "PBES2 ?";
    std::string text = "PBES2";
    const int kdfNid = OBJ_obj2nid(pbe2->keyfunc->algorithm);
    text += std::string(" ") + OBJ_nid2sn(kdfNid);
    std::string iterations;
    if (kdfNid == NID_id_pbkdf2) {
        Pbkdf2Ptr kdf(static_cast<PBKDF2PARAM*>(
            ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), pbe2->keyfunc->parameter)));
        if (kdf) {
            text +=
                std::string(" ") + OBJ_nid2sn(kdf->prf ? OBJ_obj2nid(kdf->prf->algorithm) : NID_hmacWithSHA1);
            iterations = " iter=" + std::to_string(ASN1_INTEGER_get(kdf->iter));
            if (kdf->salt && kdf->salt->type == V_ASN1_OCTET_STRING)
                salts.push_back(Hex(kdf->salt->value.octet_string));
        }
    }
    text += std::string(" ") + OBJ_nid2sn(OBJ_obj2nid(pbe2->encryption->algorithm)) + iterations;
    return text;
}

bool TakeBags(const STACK_OF(PKCS12_SAFEBAG) * bags, const std::vector<const char*>& passwords,
              PfxContents& contents) {
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
        const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
        const int type = PKCS12_SAFEBAG_get_nid(bag);
        if (type == NID_certBag) {
            CertPtr cert(PKCS12_SAFEBAG_get1_cert(bag));
            if (!cert) return false;
            unsigned char* der = nullptr;
            const int length = i2d_X509(cert.get(), &der);
            contents.certs.push_back({std::vector<unsigned char>(der, der + length), Attributes(bag)});
            OPENSSL_free(der);
        } else if (type == NID_keyBag || type == NID_pkcs8ShroudedKeyBag) {
            P8Ptr key;
            if (type == NID_keyBag) {
                key.reset(static_cast<PKCS8_PRIV_KEY_INFO*>(
                    ASN1_item_dup(ASN1_ITEM_rptr(PKCS8_PRIV_KEY_INFO), PKCS12_SAFEBAG_get0_p8inf(bag))));
            } else {
                const X509_ALGOR* algorithm = nullptr;
                X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), &algorithm, nullptr);
                contents.encryptions.push_back("key " + Describe(algorithm, contents.salts));
                for (const char* pass : passwords) {
                    key.reset(PKCS12_decrypt_skey(bag, pass, pass ? -1 : 0));
                    if (key) break;
                }
            }
            if (!key) return false;
            unsigned char* der = nullptr;
            const int length = i2d_PKCS8_PRIV_KEY_INFO(key.get(), &der);
            contents.keys.push_back({std::vector<unsigned char>(der, der + length), Attributes(bag)});
            OPENSSL_clear_free(der, static_cast<std::size_t>(length));
        } else if (type == NID_safeContentsBag) {
            if (!TakeBags(PKCS12_SAFEBAG_get0_safes(bag), passwords, contents)) return false;
        }
    }
    return true;
}

}  // namespace

std::optional<PfxContents> ReadPfx(const std::string& path, const std::string& password) {
    LoadProviders();
    FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return std::nullopt;
    P12Ptr p12(d2i_PKCS12_fp(in, nullptr));
    std::fclose(in);
    if (!p12) return std::nullopt;
    std::vector<const char*> passwords = {password.c_str()};
    if (password.empty()) passwords.push_back(nullptr);

    PfxContents contents;
    if (PKCS12_mac_present(p12.get())) {
        bool verified = false;
        for (const char* pass : passwords) {
            if (PKCS12_verify_mac(p12.get(), pass, pass ? -1 : 0) == 1) {
                verified = true;
                break;
            }
        }
        if (!verified) return std::nullopt;
        const X509_ALGOR* algorithm = nullptr;
        const ASN1_OCTET_STRING* salt = nullptr;
        const ASN1_INTEGER* iterations = nullptr;
        PKCS12_get0_mac(nullptr, &algorithm, &salt, &iterations, p12.get());
        const ASN1_OBJECT* object = nullptr;
        X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
        contents.mac = std::string(OBJ_nid2sn(OBJ_obj2nid(object))) +
                       " iter=" + std::to_string(iterations ? ASN1_INTEGER_get(iterations) : 1);
        contents.salts.push_back(Hex(salt));
    }
    SafesPtr safes(PKCS12_unpack_authsafes(p12.get()));
    if (!safes) return std::nullopt;
    for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes.get(), i);
        BagsPtr bags;
        const int type = OBJ_obj2nid(safe->type);
        if (type == NID_pkcs7_data) {
            bags.reset(PKCS12_unpack_p7data(safe));
        } else if (type == NID_pkcs7_encrypted) {
            contents.encryptions.push_back("certs " +
                                           Describe(safe->d.encrypted->enc_data->algorithm, contents.salts));
            for (const char* pass : passwords) {
                bags.reset(PKCS12_unpack_p7encdata(safe, pass, pass ? -1 : 0));
                if (bags) break;
            }
        }
        if (!bags || !TakeBags(bags.get(), passwords, contents)) return std::nullopt;
    }
    ERR_clear_error();
    return contents;
}

}  // namespace kiv::testing
