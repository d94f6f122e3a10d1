// How long a hostile file keeps the loader busy: one that names the largest iteration count, and
// files of many parts that together ask for more key derivation than one file may cause. Prints the
// time to each refusal and the rounds counted, by the reader and by `kivpfx inspect`'s reading; and
// for a file of thousands of keys whose certificates are not in it, the pairing of keys with
// certificates a load does, against the reading of the same file.
//   hostile_bench
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "certificate/Inspection.h"
#include "certificate/OpenSslErrors.h"
#include "certificate/OpenSslHandles.h"
#include "certificate/Pkcs12Bags.h"
#include "certificate/WorkLimits.h"

using namespace kiv::certificate;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<unsigned char> Der(PKCS12* p12) {
    std::vector<unsigned char> der(static_cast<std::size_t>(i2d_PKCS12(p12, nullptr)));
    unsigned char* out = der.data();
    i2d_PKCS12(p12, &out);
    return der;
}

// `parts` encrypted safes, each holding one small secret bag, keyed with the empty password.
std::vector<unsigned char> ManyParts(int parts, int pbe, int iterations) {
    Pkcs7StackPtr safes(sk_PKCS7_new_null());
    for (int i = 0; i < parts; ++i) {
        SafeBagStackPtr bags(sk_PKCS12_SAFEBAG_new_null());
        static const unsigned char kSecret[] = "secret";
        sk_PKCS12_SAFEBAG_push(bags.get(),
                               PKCS12_SAFEBAG_create_secret(NID_data, V_ASN1_OCTET_STRING, kSecret, 6));
        STACK_OF(PKCS7)* raw = safes.release();
        PKCS12_add_safe(&raw, bags.get(), pbe, iterations, "");
        safes.reset(raw);
    }
    Pkcs12Ptr p12(PKCS12_add_safes(safes.get(), 0));
    return Der(p12.get());
}

std::vector<unsigned char> HugeMacCount() {
    Pkcs7StackPtr safes(sk_PKCS7_new_null());
    Pkcs12Ptr p12(PKCS12_add_safes(safes.get(), 0));
    unsigned char salt[8] = {};
    PKCS12_setup_mac(p12.get(), INT_MAX, salt, sizeof salt, EVP_sha256());
    return Der(p12.get());
}

// Times the reader on the bytes, then `kivpfx inspect`'s reading of the same file on disk.
void Measure(const char* name, const std::vector<unsigned char>& der) {
    WorkBudget budget;
    Pkcs12Contents contents;
    auto start = Clock::now();
    const ReadResult read = ReadPkcs12(der.data(), der.size(), PasswordLess(), contents, budget);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%-44s %8.3f s  %12s rounds  %s\n", name, seconds, Grouped(budget.Spent()).c_str(),
                read.ok() ? "loaded" : read.description.c_str());

    char path[] = "/tmp/hostile-bench-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0 || ::write(fd, der.data(), der.size()) != static_cast<ssize_t>(der.size())) {
        std::printf("%-44s cannot write a temporary file\n", "  inspect");
    } else {
        start = Clock::now();
        const Inspection inspection = InspectFile(*kiv::filesystem::CreateLocalFileSystem(), path);
        const double inspected = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf(
            "%-44s %8.3f s  %s\n", "  inspect", inspected,
            inspection.kind == Inspection::Kind::PasswordLess ? "password-less" : inspection.detail.c_str());
    }
    if (fd >= 0) ::close(fd);
    ::unlink(path);
}

// `keys` plain key bags without a localKeyID and `certificates` plain certificate bags of another
// key, without a MAC: no derivation at all, so only the pairing of keys with certificates can cost.
std::vector<unsigned char> KeysWithoutTheirCertificates(int keys, int certificates) {
    const EvpPkeyPtr key(EVP_EC_gen("P-256"));
    const EvpPkeyPtr other(EVP_EC_gen("P-256"));
    const X509Ptr x509(X509_new());
    X509_NAME* name = X509_get_subject_name(x509.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("x"), -1, -1,
                               0);
    X509_set_issuer_name(x509.get(), name);
    X509_gmtime_adj(X509_getm_notBefore(x509.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(x509.get()), 86400);
    X509_set_pubkey(x509.get(), other.get());
    X509_sign(x509.get(), other.get(), EVP_sha256());
    STACK_OF(PKCS12_SAFEBAG)* keyBags = nullptr;
    STACK_OF(PKCS12_SAFEBAG)* certificateBags = nullptr;
    for (int i = 0; i < keys; ++i) PKCS12_add_key(&keyBags, key.get(), 0, 0, -1, nullptr);
    for (int i = 0; i < certificates; ++i) PKCS12_add_cert(&certificateBags, x509.get());
    STACK_OF(PKCS7)* safes = nullptr;
    PKCS12_add_safe(&safes, certificateBags, -1, 0, nullptr);
    PKCS12_add_safe(&safes, keyBags, -1, 0, nullptr);
    sk_PKCS12_SAFEBAG_pop_free(keyBags, PKCS12_SAFEBAG_free);
    sk_PKCS12_SAFEBAG_pop_free(certificateBags, PKCS12_SAFEBAG_free);
    Pkcs7StackPtr owned(safes);
    Pkcs12Ptr p12(PKCS12_add_safes(safes, 0));
    return Der(p12.get());
}

// Times the reader and then the pairing a load does after it, side by side.
void MeasurePairing(const char* name, const std::vector<unsigned char>& der) {
    Pkcs12Contents contents;
    auto start = Clock::now();
    const ReadResult read = ReadPkcs12(der.data(), der.size(), PasswordLess(), contents);
    const double reading = std::chrono::duration<double>(Clock::now() - start).count();
    start = Clock::now();
    PairKeysWithCertificates(contents);
    const double pairing = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%-44s %8.3f s  reading %.3f s, pairing %.2f times that  %s\n", name, reading + pairing,
                reading, reading > 0 ? pairing / reading : 0.0,
                read.ok() ? "loaded" : read.description.c_str());
}

}  // namespace

int main() {
    LegacyProviderAvailable();
    std::printf("iteration ceiling %s, budget %s hash rounds per file\n", Grouped(kIterationCeiling).c_str(),
                Grouped(kDerivationBudget).c_str());
    Measure("MAC naming 2,147,483,647 iterations", HugeMacCount());
    std::printf("(making the next files derives their keys too; that is not timed)\n");
    Measure("7 PBES2 parts at 1,000,000 (2M rounds each)", ManyParts(7, NID_aes_256_cbc, 1'000'000));
    Measure("5 3DES parts at 1,000,000 (3M rounds each)",
            ManyParts(5, NID_pbe_WithSHA1And3_Key_TripleDES_CBC, 1'000'000));
    Measure("5 PBES2 parts at 600,000 (within the budget)", ManyParts(5, NID_aes_256_cbc, 600'000));
    MeasurePairing("10,000 keys without IDs, 5,000 other certs", KeysWithoutTheirCertificates(10'000, 5'000));
    return 0;
}
