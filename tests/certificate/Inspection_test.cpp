// What inspect is told about a file without a password: what a password-less file holds, and the
// kinds of file that are not one, each read within the limits a protection run's load keeps.

#include "certificate/Inspection.h"

#include <unistd.h>

#include "certificate/CertificateTestFolder.h"
#include "certificate/SourceFile.h"
#include "support/pkcs12/Pkcs12Maker.h"

namespace kiv::certificate::testing {
namespace {

using kiv::testing::PfxVariant;
using kiv::testing::WritePfx;

class InspectionTest : public CertificateFolderTest {};

TEST_F(InspectionTest, PasswordLessFilesOfEveryFormShowWhatTheyHold) {
    for (PfxVariant variant : {PfxVariant::EmptyPasswordMac, PfxVariant::NullPasswordMac, PfxVariant::NoMac,
                               PfxVariant::UnencryptedBags, PfxVariant::Pbes2Aes, PfxVariant::Legacy}) {
        const std::string path = Path(kiv::testing::VariantName(variant) + ".pfx");
        ASSERT_TRUE(WritePfx(path, variant));
        const Inspection inspection = InspectFile(path);
        EXPECT_EQ(inspection.kind, Inspection::Kind::PasswordLess) << path << ": " << inspection.detail;
        ASSERT_EQ(inspection.keys.size(), 1u) << path;
        EXPECT_EQ(inspection.keys[0].algorithm, "RSA 2048 bits") << path;
        ASSERT_EQ(inspection.certificates.size(), 3u) << path;
        EXPECT_EQ(inspection.certificates[0].subject, "CN=Kiv Test Leaf,O=Kiv Test") << path;
        EXPECT_EQ(inspection.certificates[0].issuer, "CN=Kiv Test Intermediate CA,O=Kiv Test") << path;
        EXPECT_EQ(inspection.certificates[2].subject, "CN=Kiv Test Root CA,O=Kiv Test") << path;
        EXPECT_FALSE(inspection.certificates[0].expired);
        EXPECT_EQ(inspection.certificates[0].notAfter.size(), std::string("2027-01-06 20:29:46 UTC").size());
    }
}

TEST_F(InspectionTest, KeyAlgorithmAndFriendlyNames) {
    ASSERT_TRUE(WritePfx(Path("ec.pfx"), PfxVariant::EcKey));
    ASSERT_TRUE(WritePfx(Path("named.pfx"), PfxVariant::ExtraAttributes));
    const Inspection ec = InspectFile(Path("ec.pfx"));
    ASSERT_EQ(ec.keys.size(), 1u);
    EXPECT_EQ(ec.keys[0].algorithm, "EC prime256v1 256 bits");
    EXPECT_EQ(ec.keys[0].friendlyName, "");
    const Inspection named = InspectFile(Path("named.pfx"));
    ASSERT_EQ(named.keys.size(), 1u);
    EXPECT_EQ(named.keys[0].friendlyName, "Kiv Leaf Key \xc3\xbc");
    ASSERT_EQ(named.certificates.size(), 3u);
    EXPECT_FALSE(named.certificates[0].friendlyName.empty());
}

// Each kind of file that is not a password-less one, with the words the protection run's load
// would use. The hostile file gets its refusal before any derivation: without the ceiling it would
// keep the test busy far past its time-out.
TEST_F(InspectionTest, FilesThatAreNotPasswordLessAreToldApart) {
    ASSERT_TRUE(WritePfx(Path("protected.pfx"), PfxVariant::PasswordProtected));
    ASSERT_TRUE(WritePfx(Path("certs.p12"), PfxVariant::CertificatesOnly));
    ASSERT_TRUE(WritePfx(Path("hostile.pfx"), PfxVariant::HugeMacCount));
    WriteFile(Path("text.pfx"), "-----BEGIN CERTIFICATE-----\n");
    WriteFile(Path("empty.pfx"), "");
    WriteFile(Path("large.pfx"), std::string(static_cast<std::size_t>(kLargestSource) + 1, '\x30'));
    ASSERT_EQ(::mkfifo(Path("fifo.pfx").c_str(), 0600), 0);

    struct Case {
        const char* name;
        Inspection::Kind kind;
        const char* detail;  // the start of it; null when any
    };
    const Case cases[] = {
        {"protected.pfx", Inspection::Kind::Protected, "The specified password is not correct."},
        {"certs.p12", Inspection::Kind::PasswordLess, ""},
        {"hostile.pfx", Inspection::Kind::Unreadable,
         "The file's integrity check asks for 2,147,483,647 iterations of key derivation; at most "
         "1,000,000 are accepted."},
        {"text.pfx", Inspection::Kind::NotPkcs12, "The file is not a PKCS#12 file"},
        {"empty.pfx", Inspection::Kind::NotPkcs12, "The file is empty."},
        {"large.pfx", Inspection::Kind::NotPkcs12, "The file is too large to be a PKCS#12 file"},
        {"missing.pfx", Inspection::Kind::Unreadable, "The file does not exist."},
        {"fifo.pfx", Inspection::Kind::Unreadable, "The path does not name a regular file."},
        {"", Inspection::Kind::Unreadable, "The path names a folder, not a file."},
    };
    for (const Case& c : cases) {
        const Inspection inspection = InspectFile(Path(c.name));
        EXPECT_EQ(inspection.kind, c.kind) << c.name << ": " << inspection.detail;
        EXPECT_EQ(inspection.detail.rfind(c.detail, 0), 0u) << c.name << ": " << inspection.detail;
        if (c.kind != Inspection::Kind::PasswordLess) {
            EXPECT_TRUE(inspection.keys.empty() && inspection.certificates.empty()) << c.name;
        }
    }
    const Inspection certs = InspectFile(Path("certs.p12"));
    EXPECT_TRUE(certs.keys.empty());
    EXPECT_EQ(certs.certificates.size(), 3u);
}

}  // namespace
}  // namespace kiv::certificate::testing
