// Writes the first corpus of the PKCS#12 fuzz targets: one file of every kind the test-file maker
// writes, files in the forms where readers differ (parts keyed with the empty password and with
// none, two keys, attributes of other types, a part encrypted to a public key, bytes after a
// part's contents), and the leaf's key and certificates as PEM so scripts/fuzz.sh can add files
// from the openssl command line.
//   pkcs12_fuzz_seeds FOLDER

#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>

#include <cstdio>
#include <functional>
#include <string>

#include "certificate/OpenSslHandles.h"
#include "support/pkcs12/Pkcs12Maker.h"

using kiv::testing::PfxVariant;
using namespace kiv::certificate;

namespace {

constexpr int k3des = NID_pbe_WithSHA1And3_Key_TripleDES_CBC;

bool Write(const std::string& path, PKCS12* p12) {
    FILE* out = p12 != nullptr ? std::fopen(path.c_str(), "wb") : nullptr;
    if (out == nullptr) return false;
    const bool written = i2d_PKCS12_fp(out, p12) == 1;
    return std::fclose(out) == 0 && written;
}

template <typename T>
T* ReadPem(const std::string& path, T* (*read)(FILE*, T**, pem_password_cb*, void*)) {
    FILE* in = std::fopen(path.c_str(), "r");
    if (in == nullptr) return nullptr;
    T* value = read(in, nullptr, nullptr, nullptr);
    std::fclose(in);
    return value;
}

// One file: `build` adds its safes; a MAC with `macPassword` unless `mac` is false. Every count is 1.
bool Seed(const std::string& path, bool mac, const char* macPassword,
          const std::function<bool(STACK_OF(PKCS7) * *safes)>& build) {
    STACK_OF(PKCS7)* raw = nullptr;
    const bool built = build(&raw);
    Pkcs7StackPtr safes(raw);
    if (!built) return false;
    Pkcs12Ptr p12(PKCS12_add_safes(safes.get(), 0));
    if (!p12) return false;
    if (mac && PKCS12_set_mac(p12.get(), macPassword, macPassword != nullptr ? -1 : 0, nullptr, 0, 1,
                              EVP_sha1()) != 1)
        return false;
    return Write(path, p12.get());
}

bool AddSafe(STACK_OF(PKCS7) * *safes, STACK_OF(PKCS12_SAFEBAG) * bags, int pbe, const char* password) {
    SafeBagStackPtr owned(bags);
    return owned && PKCS12_add_safe(safes, owned.get(), pbe, 1, password) == 1;
}

bool DifferentialSeeds(const std::string& folder, const kiv::testing::PemFiles& pem) {
    EvpPkeyPtr key(ReadPem<EVP_PKEY>(pem.key, PEM_read_PrivateKey));
    X509Ptr leaf(ReadPem<X509>(pem.leaf, PEM_read_X509));
    X509Ptr root(ReadPem<X509>(pem.root, PEM_read_X509));
    EvpPkeyPtr ecKey(EVP_EC_gen("P-256"));
    if (!key || !leaf || !root || !ecKey) return false;
    const auto certificates = [&](bool attributes) {
        STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
        PKCS12_SAFEBAG* bag = PKCS12_add_cert(&bags, leaf.get());
        if (bag != nullptr && attributes) {
            PKCS12_add_friendlyname_asc(bag, "Leaf", -1);
            static const unsigned char kId[] = {1, 2, 3, 4};
            PKCS12_add_localkeyid(bag, const_cast<unsigned char*>(kId), sizeof kId);
        }
        PKCS12_add_cert(&bags, root.get());
        return bags;
    };
    const auto shroudedKey = [&](const char* password) {
        STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
        PKCS12_add_key(&bags, key.get(), 0, 1, k3des, password);
        return bags;
    };
    bool ok = true;
    // Certificates keyed with the empty password, the key with none, no MAC.
    ok &= Seed(folder + "/diff-mixed-passwords.pfx", false, nullptr, [&](STACK_OF(PKCS7) * *safes) {
        return AddSafe(safes, certificates(false), k3des, "") &&
               AddSafe(safes, shroudedKey(nullptr), -1, nullptr);
    });
    // A MAC over no password, the parts keyed with the empty one.
    ok &= Seed(folder + "/diff-null-mac.pfx", true, nullptr, [&](STACK_OF(PKCS7) * *safes) {
        return AddSafe(safes, certificates(false), k3des, "") && AddSafe(safes, shroudedKey(""), -1, nullptr);
    });
    // Two plain keys and certificates with a friendlyName and a localKeyID, no MAC.
    ok &= Seed(folder + "/diff-two-keys.pfx", false, nullptr, [&](STACK_OF(PKCS7) * *safes) {
        STACK_OF(PKCS12_SAFEBAG)* keys = nullptr;
        PKCS12_add_key(&keys, key.get(), 0, 1, -1, nullptr);
        PKCS12_add_key(&keys, ecKey.get(), 0, 1, -1, nullptr);
        return AddSafe(safes, keys, -1, nullptr) && AddSafe(safes, certificates(true), -1, nullptr);
    });
    // A part encrypted to the leaf's public key before the certificates.
    ok &= Seed(folder + "/diff-enveloped.pfx", false, nullptr, [&](STACK_OF(PKCS7) * *safes) {
        STACK_OF(X509)* recipients = sk_X509_new_null();
        BioPtr content(BIO_new_mem_buf("0", 1));
        const bool pushed = recipients != nullptr && sk_X509_push(recipients, leaf.get()) > 0;
        PKCS7* enveloped =
            pushed ? PKCS7_encrypt(recipients, content.get(), EVP_aes_128_cbc(), PKCS7_BINARY) : nullptr;
        sk_X509_free(recipients);
        if (enveloped == nullptr) return false;
        if (*safes == nullptr) *safes = sk_PKCS7_new_null();
        if (*safes == nullptr || sk_PKCS7_push(*safes, enveloped) <= 0) {
            PKCS7_free(enveloped);
            return false;
        }
        return AddSafe(safes, certificates(false), -1, nullptr);
    });
    // A plain part whose SafeContents is followed by more bytes.
    ok &= Seed(folder + "/diff-trailing.pfx", false, nullptr, [&](STACK_OF(PKCS7) * *safes) {
        SafeBagStackPtr bags(certificates(false));
        Pkcs7Ptr safe(bags ? PKCS12_pack_p7data(bags.get()) : nullptr);
        if (!safe || safe->d.data == nullptr) return false;
        std::string contents(reinterpret_cast<const char*>(safe->d.data->data),
                             static_cast<std::size_t>(safe->d.data->length));
        contents.append("\x30\x00", 2);
        if (ASN1_OCTET_STRING_set(safe->d.data, reinterpret_cast<const unsigned char*>(contents.data()),
                                  static_cast<int>(contents.size())) != 1)
            return false;
        if (*safes == nullptr) *safes = sk_PKCS7_new_null();
        if (*safes == nullptr || sk_PKCS7_push(*safes, safe.get()) <= 0) return false;
        safe.release();
        return true;
    });
    ERR_clear_error();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    int failures = 0;
    for (int v = static_cast<int>(PfxVariant::EmptyPasswordMac); v <= static_cast<int>(PfxVariant::EcKey);
         ++v) {
        const auto variant = static_cast<PfxVariant>(v);
        const std::string path = folder + "/maker-" + kiv::testing::VariantName(variant) + ".pfx";
        if (!kiv::testing::WritePfx(path, variant)) {
            std::fprintf(stderr, "pkcs12_fuzz_seeds: could not write %s\n", path.c_str());
            ++failures;
        }
    }
    const std::optional<kiv::testing::PemFiles> pem = kiv::testing::WritePem(folder);
    if (!pem) {
        std::fprintf(stderr, "pkcs12_fuzz_seeds: could not write the PEM files\n");
        ++failures;
    } else if (!DifferentialSeeds(folder, *pem)) {
        std::fprintf(stderr, "pkcs12_fuzz_seeds: could not write the differential seeds\n");
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
