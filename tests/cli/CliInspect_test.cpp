#include <gtest/gtest.h>

#include "cli/CliFolder.h"
#include "cli/Inspect.h"
#include "cli/KivpfxProcess.h"
#include "cli/MiniJson.h"

namespace kiv::cli::testing {
namespace {

using kiv::testing::PfxVariant;

class CliInspectTest : public CliFolderTest {};

TEST_F(CliInspectTest, PasswordLessFilesOfEveryFormShowWhatTheyHold) {
    for (PfxVariant variant : {PfxVariant::EmptyPasswordMac, PfxVariant::NullPasswordMac, PfxVariant::NoMac,
                               PfxVariant::UnencryptedBags, PfxVariant::Pbes2Aes, PfxVariant::Legacy}) {
        const std::string name = kiv::testing::VariantName(variant) + ".pfx";
        Pfx(name, variant);
        const Inspection inspection = InspectFile(Path(name));
        EXPECT_EQ(inspection.kind, Inspection::Kind::PasswordLess) << name << ": " << inspection.detail;
        ASSERT_EQ(inspection.keys.size(), 1u) << name;
        EXPECT_EQ(inspection.keys[0].algorithm, "RSA 2048 bits") << name;
        ASSERT_EQ(inspection.certificates.size(), 3u) << name;
        EXPECT_EQ(inspection.certificates[0].subject, "CN=Kiv Test Leaf,O=Kiv Test") << name;
        EXPECT_EQ(inspection.certificates[0].issuer, "CN=Kiv Test Intermediate CA,O=Kiv Test") << name;
        EXPECT_EQ(inspection.certificates[2].subject, "CN=Kiv Test Root CA,O=Kiv Test") << name;
        EXPECT_FALSE(inspection.certificates[0].expired);
        EXPECT_EQ(inspection.certificates[0].notAfter.size(), std::string("2027-01-06 20:29:46 UTC").size());
    }
}

TEST_F(CliInspectTest, KeyAlgorithmAndFriendlyNames) {
    Pfx("ec.pfx", PfxVariant::EcKey);
    Pfx("named.pfx", PfxVariant::ExtraAttributes);
    const Inspection ec = InspectFile(Path("ec.pfx"));
    ASSERT_EQ(ec.keys.size(), 1u);
    EXPECT_EQ(ec.keys[0].algorithm, "EC prime256v1 256 bits");
    const Inspection named = InspectFile(Path("named.pfx"));
    ASSERT_EQ(named.keys.size(), 1u);
    EXPECT_EQ(named.keys[0].friendlyName, "Kiv Leaf Key \xc3\xbc");
    ASSERT_EQ(named.certificates.size(), 3u);
    EXPECT_FALSE(named.certificates[0].friendlyName.empty());
}

TEST_F(CliInspectTest, TellsProtectedAndForeignFilesApart) {
    Pfx("protected.pfx", PfxVariant::PasswordProtected);
    Write("text.pfx", "-----BEGIN CERTIFICATE-----\n");
    Write("empty.pfx", "");
    Pfx("certs.p12", PfxVariant::CertificatesOnly);
    EXPECT_EQ(InspectFile(Path("protected.pfx")).kind, Inspection::Kind::Protected);
    EXPECT_EQ(InspectFile(Path("text.pfx")).kind, Inspection::Kind::NotPkcs12);
    EXPECT_EQ(InspectFile(Path("empty.pfx")).kind, Inspection::Kind::NotPkcs12);
    const Inspection missing = InspectFile(Path("missing.pfx"));
    EXPECT_EQ(missing.kind, Inspection::Kind::Unreadable);
    EXPECT_EQ(missing.detail, "no such file");
    EXPECT_EQ(InspectFile(root_).kind, Inspection::Kind::Unreadable);
    const Inspection certs = InspectFile(Path("certs.p12"));
    EXPECT_EQ(certs.kind, Inspection::Kind::PasswordLess);
    EXPECT_TRUE(certs.keys.empty());
    EXPECT_EQ(certs.certificates.size(), 3u);
}

TEST_F(CliInspectTest, CommandPrintsEachFileAndExitsWithOneForUnreadableOnes) {
    Pfx("a.pfx");
    Pfx("sub/b.pfx", PfxVariant::PasswordProtected);
    Write("sub/c.pfx", "junk");
    Pfx("other.p12");  // named on the command line: inspected whatever its name
    Finished run = RunKivpfx({"inspect", root_, Path("other.p12")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(Path("a.pfx") + ": password-less PKCS#12 file, 1 key, 3 certificates\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("  certificate: CN=Kiv Test Leaf,O=Kiv Test\n    issuer: CN=Kiv Test Intermediate "
                           "CA,O=Kiv Test\n"),
              std::string::npos);
    EXPECT_NE(run.out.find(Path("sub/b.pfx") + ": protected by a password\n"), std::string::npos);
    EXPECT_NE(run.out.find(Path("sub/c.pfx") + ": not a PKCS#12 file\n"), std::string::npos);
    EXPECT_NE(run.out.find(Path("other.p12") + ": password-less"), std::string::npos);
    EXPECT_EQ(Tree(), (std::set<std::string>{"a.pfx", "sub", "sub/b.pfx", "sub/c.pfx", "other.p12"}));

    run = RunKivpfx({"inspect", "--json", Path("a.pfx"), Path("gone.pfx")});
    EXPECT_EQ(run.status, 1);
    const auto report = ParseJson(run.out);
    ASSERT_TRUE(report.has_value()) << run.out;
    const Json& files = (*report)["files"];
    ASSERT_EQ(files.array.size(), 2u);
    EXPECT_EQ(files.array[0]["kind"].string, "password-less");
    EXPECT_EQ(files.array[0]["keys"].array.size(), 1u);
    EXPECT_EQ(files.array[0]["certificates"].array[1]["subject"].string,
              "CN=Kiv Test Intermediate CA,O=Kiv Test");
    EXPECT_EQ(files.array[0]["certificates"].array[1]["expired"].type, Json::Type::Bool);
    EXPECT_EQ(files.array[1]["kind"].string, "unreadable");
    EXPECT_EQ(files.array[1]["detail"].string, "no such file");
}

}  // namespace
}  // namespace kiv::cli::testing
