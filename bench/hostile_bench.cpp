// How long a hostile file keeps the loader busy: one that names the largest iteration count, and
// files of many parts that together ask for more key derivation than one file may cause. Prints the
// time to each refusal and the rounds counted, by the reader and by `kivpfx inspect`'s reading.
//   hostile_bench
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "certificate/Inspection.h"
#include "certificate/OpenSslErrors.h"
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
        const Inspection inspection = InspectFile(path);
        const double inspected = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf(
            "%-44s %8.3f s  %s\n", "  inspect", inspected,
            inspection.kind == Inspection::Kind::PasswordLess ? "password-less" : inspection.detail.c_str());
    }
    if (fd >= 0) ::close(fd);
    ::unlink(path);
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
    return 0;
}
