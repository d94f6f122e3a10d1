// Reads arbitrary bytes as the protection run reads a password-less source (the empty password,
// then none), and for what loads, encodes the protected copy in memory and checks it as a save
// does before publishing. Any crash, sanitizer report or broken promise below is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "certificate/OpenSslErrors.h"
#include "certificate/Pkcs12Bags.h"

namespace {

using namespace kiv::certificate;

[[noreturn]] void Broken(const char* what, const std::string& description) {
    std::fprintf(stderr, "pkcs12 fuzz: %s: \"%s\"\n", what, description.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The program loads its providers once per process; so does the fuzzer, outside the inputs.
    LegacyProviderAvailable();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    OpenSslErrors::Clear();
    Pkcs12Contents contents;
    const ReadResult read = ReadPkcs12(data, size, PasswordLess(), contents);
    OpenSslErrors::Clear();
    // The user sees the description after the status prefix; an empty one tells them nothing.
    if (!read.ok()) {
        if (read.description.empty()) Broken("a load failed without a description", read.description);
        return 0;
    }

    // Load refuses a file without a certificate before anything is saved; for the rest it gives
    // keys without an ID their certificate's.
    if (contents.CertificateCount() == 0) return 0;
    PairKeysWithCertificates(contents);
    static constexpr char kPassword[] = "Fuzz-Pa55";
    const Pkcs12Password password{kPassword, static_cast<int>(sizeof kPassword - 1)};
    DerivedKeys keys;
    std::vector<unsigned char> der;
    // Both ways of protecting a copy: the default and the one for older systems.
    SaveOptions options;
    if (size % 2 == 1) options.algorithms = SaveOptions::Algorithms::TripleDesSha1;
    const CallResult encoded = EncodePkcs12(contents, password, options, keys, der);
    if (!encoded.ok) {
        if (encoded.description.empty()) Broken("a save failed without a description", encoded.description);
        return 0;
    }
    // What was read could be encoded, so the check of the copy must pass: otherwise every save of
    // such a file fails after the work is done.
    const CallResult checked = CheckWrittenPkcs12(der, password, keys, contents, options.algorithms);
    OpenSslErrors::Clear();
    if (!checked.ok) Broken("the encoded copy failed its check", checked.description);
    return 0;
}
