// A machine without OpenSSL's legacy provider: old RC2 files fail with a description that says
// why, and everything else still works.

#include <cstdlib>
#include <string>

#include "certificate/CertificateTestFolder.h"
#include "support/pkcs12/Pkcs12Maker.h"

namespace kiv::certificate::testing {
namespace {

// Before anything in this process loads a provider.
const int kNoProviderModules = setenv("OPENSSL_MODULES", "/nonexistent/kiv-ossl-modules", 1);

using LegacyMissingTest = CertificateFolderTest;

// The openssl tool makes the old files; under CI its absence fails the test instead of skipping it.
bool OpensslMissing() {
    if (std::system("command -v openssl >/dev/null 2>&1") == 0) return false;
    const char* ci = std::getenv("CI");
    if (ci != nullptr && std::string(ci) == "true") ADD_FAILURE() << "openssl is not installed";
    return true;
}

TEST_F(LegacyMissingTest, Rc2FileFailsNamingTheAlgorithmAndTheMissingProvider) {
    ASSERT_EQ(kNoProviderModules, 0);
    const auto pem = kiv::testing::WritePem(folder_);
    ASSERT_TRUE(pem.has_value());
    const std::string source = Path("Old.pfx");
    // The openssl tool runs with the real modules folder.
    const std::string command =
        "env -u OPENSSL_MODULES openssl pkcs12 -export -legacy -passout pass: -inkey " + pem->key + " -in " +
        pem->leaf + " -certfile " + pem->chain + " -out " + source + " >/dev/null 2>&1";
    if (OpensslMissing()) GTEST_SKIP() << "openssl not installed";
    ASSERT_EQ(std::system(command.c_str()), 0);

    const CallResult loaded = Make()->Load(source, "", 1, 0);
    EXPECT_FALSE(loaded.ok);
    EXPECT_NE(loaded.description.find("RC2"), std::string::npos) << loaded.description;
    EXPECT_NE(loaded.description.find("legacy provider"), std::string::npos) << loaded.description;
    EXPECT_EQ(loaded.description.find("password is not correct"), std::string::npos) << loaded.description;
}

// PBES2 around a cipher of the legacy provider: the key derivation works, the cipher does not, and
// that is not a wrong password.
TEST_F(LegacyMissingTest, Pbes2WithALegacyCipherIsNotTakenForAPassword) {
    const auto pem = kiv::testing::WritePem(folder_);
    ASSERT_TRUE(pem.has_value());
    const std::string source = Path("Des.pfx");
    const std::string command =
        "env -u OPENSSL_MODULES openssl pkcs12 -export -legacy -certpbe DES-CBC -keypbe DES-CBC -passout "
        "pass: "
        "-inkey " +
        pem->key + " -in " + pem->leaf + " -certfile " + pem->chain + " -out " + source + " >/dev/null 2>&1";
    if (OpensslMissing()) GTEST_SKIP() << "openssl not installed";
    ASSERT_EQ(std::system(command.c_str()), 0);

    const CallResult loaded = Make()->Load(source, "", 1, 0);
    EXPECT_FALSE(loaded.ok);
    EXPECT_NE(loaded.description.find("des"), std::string::npos) << loaded.description;
    EXPECT_NE(loaded.description.find("legacy provider"), std::string::npos) << loaded.description;
    EXPECT_EQ(loaded.description.find("password is not correct"), std::string::npos) << loaded.description;
}

TEST_F(LegacyMissingTest, ModernFilesStillLoadAndSave) {
    ASSERT_TRUE(kiv::testing::WritePfx(Path("a.pfx"), kiv::testing::PfxVariant::Pbes2Aes));
    auto certificate = Make();
    const CallResult loaded = certificate->Load(Path("a.pfx"), "", 1, 0);
    ASSERT_TRUE(loaded.ok) << loaded.description;
    const CallResult saved = certificate->Save(Path("b.pfx"), "pw", 0, 1);
    EXPECT_TRUE(saved.ok) << saved.description;
}

}  // namespace
}  // namespace kiv::certificate::testing
