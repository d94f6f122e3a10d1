// Writes the first corpus of the PKCS#12 fuzz target: one file of every kind the test-file maker
// writes, and the leaf's key and certificates as PEM so scripts/fuzz.sh can add files from the
// openssl command line.
//   pkcs12_fuzz_seeds FOLDER

#include <cstdio>
#include <string>

#include "support/pkcs12/Pkcs12Maker.h"

using kiv::testing::PfxVariant;

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
    if (!kiv::testing::WritePem(folder)) {
        std::fprintf(stderr, "pkcs12_fuzz_seeds: could not write the PEM files\n");
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
