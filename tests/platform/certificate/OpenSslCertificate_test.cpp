#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "platform/certificate/CertificateTestFolder.h"
#include "platform/certificate/NewFileWriter.h"
#include "support/pkcs12/Pkcs12Maker.h"

namespace kiv::certificate::testing {
namespace {

using kiv::testing::PfxContents;
using kiv::testing::PfxVariant;
using kiv::testing::ReadPfx;
using kiv::testing::WritePfx;

constexpr const char* kPassword = "Correct Horse 7";
constexpr const char* kPbes2 = "PBES2 PBKDF2 hmacWithSHA256 AES-256-CBC iter=10000";

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

void ExpectSameContents(const PfxContents& source, const PfxContents& output) {
    ASSERT_EQ(output.keys.size(), source.keys.size());
    for (std::size_t i = 0; i < source.keys.size(); ++i) {
        EXPECT_EQ(output.keys[i].der, source.keys[i].der) << "key " << i;
        EXPECT_EQ(output.keys[i].attributes, source.keys[i].attributes) << "key " << i;
    }
    ASSERT_EQ(output.certs.size(), source.certs.size());
    for (std::size_t i = 0; i < source.certs.size(); ++i) {
        EXPECT_EQ(output.certs[i].der, source.certs[i].der) << "certificate " << i;
        EXPECT_EQ(output.certs[i].attributes, source.certs[i].attributes) << "certificate " << i;
    }
}

// Every password-less kind the usual tools write.
class RoundTripTest : public CertificateFolderTest, public ::testing::WithParamInterface<PfxVariant> {};

TEST_P(RoundTripTest, OutputOpensWithThePasswordAndHoldsEverythingTheSourceHeld) {
    const std::string source = Path("Source.pfx");
    const std::string output = Path("Source_Password.Pfx");
    ASSERT_TRUE(WritePfx(source, GetParam()));
    const std::string sourceBytes = ReadFile(source);
    const auto before = ReadPfx(source, "");
    ASSERT_TRUE(before.has_value());

    auto certificate = Make();
    ASSERT_TRUE(certificate);
    const CallResult loaded = certificate->Load(source, "", 1, 0);
    ASSERT_TRUE(loaded.ok) << loaded.description;
    const CallResult saved = certificate->Save(output, kPassword, 0, 1);
    ASSERT_TRUE(saved.ok) << saved.description;
    EXPECT_FALSE(saved.targetExists);

    const auto after = ReadPfx(output, kPassword);
    ASSERT_TRUE(after.has_value());
    ExpectSameContents(*before, *after);
    EXPECT_EQ(after->certs.size(), static_cast<std::size_t>(kiv::testing::kChainLength));
    EXPECT_EQ(after->keys.size(), GetParam() == PfxVariant::CertificatesOnly ? 0u : 1u);

    EXPECT_FALSE(ReadPfx(output, "").has_value());
    EXPECT_FALSE(ReadPfx(output, "correct horse 7").has_value());
    EXPECT_EQ(ReadFile(source), sourceBytes);
    EXPECT_EQ(Entries(), (std::set<std::string>{"Source.pfx", "Source_Password.Pfx"}));
}

TEST_P(RoundTripTest, OutputUsesPbes2AesAndAnHmacSha256MacWithFreshSalts) {
    ASSERT_TRUE(WritePfx(Path("a.pfx"), GetParam()));
    auto certificate = Make();
    ASSERT_TRUE(certificate->Load(Path("a.pfx"), "", 1, 0).ok);
    ASSERT_TRUE(certificate->Save(Path("one.pfx"), kPassword, 0, 1).ok);
    ASSERT_TRUE(certificate->Save(Path("two.pfx"), kPassword, 0, 1).ok);

    const auto one = ReadPfx(Path("one.pfx"), kPassword);
    const auto two = ReadPfx(Path("two.pfx"), kPassword);
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->mac, "SHA256 iter=10000");
    std::vector<std::string> expected = {std::string("certs ") + kPbes2};
    if (GetParam() != PfxVariant::CertificatesOnly) expected.push_back(std::string("key ") + kPbes2);
    EXPECT_EQ(one->encryptions, expected);

    std::set<std::string> salts;
    for (const auto* contents : {&*one, &*two}) {
        for (const std::string& salt : contents->salts) {
            EXPECT_GE(salt.size(), 32u) << "salt of at least 16 bytes";
            salts.insert(salt);
        }
    }
    EXPECT_EQ(salts.size(), one->salts.size() + two->salts.size()) << "every salt is fresh";
}

INSTANTIATE_TEST_SUITE_P(Variants, RoundTripTest,
                         ::testing::Values(PfxVariant::EmptyPasswordMac, PfxVariant::NullPasswordMac,
                                           PfxVariant::NoMac, PfxVariant::UnencryptedBags,
                                           PfxVariant::Pbes2Aes, PfxVariant::Legacy,
                                           PfxVariant::ExtraAttributes, PfxVariant::CertificatesOnly,
                                           PfxVariant::EcKey),
                         [](const auto& info) { return kiv::testing::VariantName(info.param); });

using CertificateTest = CertificateFolderTest;

TEST_F(CertificateTest, AttributeSetsSurviveUnchanged) {
    ASSERT_TRUE(WritePfx(Path("a.pfx"), PfxVariant::ExtraAttributes));
    auto certificate = Make();
    ASSERT_TRUE(certificate->Load(Path("a.pfx"), "", 1, 0).ok);
    ASSERT_TRUE(certificate->Save(Path("b.pfx"), kPassword, 0, 1).ok);
    const auto output = ReadPfx(Path("b.pfx"), kPassword);
    ASSERT_TRUE(output && output->keys.size() == 1);
    const std::vector<std::string>& key = output->keys[0].attributes;
    const auto has = [&](const std::string& line) {
        return std::find(key.begin(), key.end(), line) != key.end();
    };
    EXPECT_TRUE(has("friendlyName=Kiv Leaf Key \xc3\xbc"));
    EXPECT_TRUE(has("localKeyID=4b69760102030405"));
    EXPECT_TRUE(has("Microsoft CSP Name=Microsoft Enhanced RSA and AES Cryptographic Provider"));
    EXPECT_TRUE(has("1.3.6.1.4.1.99999.7=custom value"));
    EXPECT_EQ(output->certs[2].attributes, (std::vector<std::string>{"friendlyName=Kiv Root"}));
}

TEST_F(CertificateTest, NonAsciiPasswordIsUsedAsUtf8) {
    const std::string password = "p\xc3\xa4ss w\xc3\xb6rd \xe2\x82\xac";
    ASSERT_TRUE(WritePfx(Path("a.pfx"), PfxVariant::Pbes2Aes));
    auto certificate = Make();
    ASSERT_TRUE(certificate->Load(Path("a.pfx"), "", 1, 0).ok);
    ASSERT_TRUE(certificate->Save(Path("b.pfx"), password, 0, 1).ok);
    EXPECT_TRUE(ReadPfx(Path("b.pfx"), password).has_value());
    EXPECT_FALSE(ReadPfx(Path("b.pfx"), "p\xe4ss w\xf6rd \x80").has_value());
}

TEST_F(CertificateTest, PasswordThatIsNotUtf8IsRefusedAndNothingIsWritten) {
    ASSERT_TRUE(WritePfx(Path("a.pfx"), PfxVariant::Pbes2Aes));
    auto certificate = Make();
    ASSERT_TRUE(certificate->Load(Path("a.pfx"), "", 1, 0).ok);
    const CallResult saved = certificate->Save(Path("b.pfx"), "p\xe4ss", 0, 1);
    EXPECT_FALSE(saved.ok);
    EXPECT_NE(saved.description.find("UTF-8"), std::string::npos);
    EXPECT_EQ(Entries(), std::set<std::string>{"a.pfx"});
}

TEST_F(CertificateTest, LoadWithTheRightPasswordOpensAProtectedFile) {
    ASSERT_TRUE(WritePfx(Path("a.pfx"), PfxVariant::PasswordProtected, "s3cret"));
    auto certificate = Make();
    EXPECT_TRUE(certificate->Load(Path("a.pfx"), "s3cret", 1, 0).ok);
}

// --- Load failures ---------------------------------------------------------------------------

struct BadSource {
    const char* name;
    void (*make)(const std::string& path);
    const char* expected;  // part of the description, lower case
};

class LoadFailureTest : public CertificateFolderTest, public ::testing::WithParamInterface<BadSource> {};

TEST_P(LoadFailureTest, FailsWithADescriptionAndSaveThenRefuses) {
    const std::string source = Path("bad.pfx");
    GetParam().make(source);
    auto certificate = Make();
    const CallResult loaded = certificate->Load(source, "", 1, 0);
    EXPECT_FALSE(loaded.ok);
    EXPECT_NE(Lower(loaded.description).find(GetParam().expected), std::string::npos) << loaded.description;

    const CallResult saved = certificate->Save(Path("bad_Password.Pfx"), kPassword, 0, 1);
    EXPECT_FALSE(saved.ok);
    EXPECT_FALSE(saved.description.empty());
    EXPECT_FALSE(std::filesystem::exists(Path("bad_Password.Pfx")));
}

std::string ValidFile(PfxVariant variant) {
    char pattern[] = "/tmp/kiv-valid-XXXXXX";
    const int fd = mkstemp(pattern);
    close(fd);
    WritePfx(pattern, variant);
    std::string bytes = ReadFile(pattern);
    unlink(pattern);
    return bytes;
}

const BadSource kBadSources[] = {
    {"Garbage", [](const std::string& p) { WriteFile(p, std::string(3000, '\x5a')); }, "not a pkcs#12"},
    {"PemText",
     [](const std::string& p) {
         WriteFile(p, "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n");
     },
     "pem"},
    {"Truncated",
     [](const std::string& p) {
         const std::string bytes = ValidFile(PfxVariant::Pbes2Aes);
         WriteFile(p, bytes.substr(0, bytes.size() / 2));
     },
     "not a pkcs#12"},
    {"Empty", [](const std::string& p) { WriteFile(p, ""); }, "empty"},
    {"Missing", [](const std::string&) {}, "does not exist"},
    {"Folder", [](const std::string& p) { mkdir(p.c_str(), 0700); }, "folder"},
    {"Fifo", [](const std::string& p) { mkfifo(p.c_str(), 0600); }, "regular file"},
    {"Oversize",
     [](const std::string& p) {
         const int fd = open(p.c_str(), O_WRONLY | O_CREAT, 0600);
         EXPECT_EQ(ftruncate(fd, 5 * 1024 * 1024), 0);
         close(fd);
     },
     "too large"},
    {"PasswordProtected", [](const std::string& p) { WritePfx(p, PfxVariant::PasswordProtected); },
     "password is not correct"},
    {"CertificateDer",
     [](const std::string& p) {
         WritePfx(p, PfxVariant::Pbes2Aes);
         const auto contents = ReadPfx(p, "");
         ASSERT_TRUE(contents.has_value());
         WriteFile(p, std::string(contents->certs[0].der.begin(), contents->certs[0].der.end()));
     },
     "not a pkcs#12"},
    {"KeyWithoutCertificate", [](const std::string& p) { WritePfx(p, PfxVariant::KeyOnly); },
     "no certificate"},
};

INSTANTIATE_TEST_SUITE_P(Sources, LoadFailureTest, ::testing::ValuesIn(kBadSources),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CertificateTest, WrongPasswordDescriptionIsThePlatformWording) {
    ASSERT_TRUE(WritePfx(Path("a.pfx"), PfxVariant::PasswordProtected));
    const CallResult loaded = Make()->Load(Path("a.pfx"), "", 1, 0);
    EXPECT_EQ(loaded.description, "The specified password is not correct.");
}

// Damaged files of every length and with single bytes changed: never a crash or hang, and a
// failure always says something.
TEST_F(CertificateTest, DamagedFilesFailCleanly) {
    const std::string bytes = ValidFile(PfxVariant::NoMac);
    ASSERT_GT(bytes.size(), 1000u);
    const std::string path = Path("damaged.pfx");
    for (std::size_t length = 1; length < bytes.size(); length += bytes.size() / 97 + 1) {
        WriteFile(path, bytes.substr(0, length));
        const CallResult loaded = Make()->Load(path, "", 1, 0);
        EXPECT_FALSE(loaded.ok) << length;
        EXPECT_FALSE(loaded.description.empty()) << length;
    }
    for (std::size_t at = 0; at < bytes.size(); at += bytes.size() / 131 + 1) {
        std::string changed = bytes;
        changed[at] = static_cast<char>(changed[at] ^ 0x41);
        WriteFile(path, changed);
        auto certificate = Make();
        const CallResult loaded = certificate->Load(path, "", 1, 0);
        if (!loaded.ok) {
            EXPECT_FALSE(loaded.description.empty()) << at;
            continue;
        }
        const CallResult saved = certificate->Save(Path("out.pfx"), kPassword, 0, 1);
        if (saved.ok) std::filesystem::remove(Path("out.pfx"));
    }
}

// --- Save ------------------------------------------------------------------------------------

class SaveTest : public CertificateFolderTest {
  protected:
    void SetUp() override {
        CertificateFolderTest::SetUp();
        source_ = Path("Source.pfx");
        ASSERT_TRUE(WritePfx(source_, PfxVariant::Pbes2Aes));
        certificate_ = Make();
        const CallResult loaded = certificate_->Load(source_, "", 1, 0);
        ASSERT_TRUE(loaded.ok) << loaded.description;
    }

    std::string source_;
    std::unique_ptr<Certificate> certificate_;
};

TEST_F(SaveTest, ExistingOutputIsLeftUntouched) {
    const std::string output = Path("Source_Password.Pfx");
    WriteFile(output, "keep me");
    const CallResult saved = certificate_->Save(output, kPassword, 0, 1);
    EXPECT_FALSE(saved.ok);
    EXPECT_TRUE(saved.targetExists);
    EXPECT_NE(saved.description.find("already exists"), std::string::npos);
    EXPECT_EQ(ReadFile(output), "keep me");
    EXPECT_EQ(Entries(), (std::set<std::string>{"Source.pfx", "Source_Password.Pfx"}));
}

TEST_F(SaveTest, DanglingSymlinkAtTheOutputCountsAsExisting) {
    const std::string output = Path("Source_Password.Pfx");
    ASSERT_EQ(symlink(Path("elsewhere").c_str(), output.c_str()), 0);
    const CallResult saved = certificate_->Save(output, kPassword, 0, 1);
    EXPECT_TRUE(saved.targetExists);
    EXPECT_FALSE(std::filesystem::exists(Path("elsewhere")));
}

TEST_F(SaveTest, MissingFolderFailsAndCreatesNothing) {
    const CallResult saved = certificate_->Save(Path("no-such-folder/out.pfx"), kPassword, 0, 1);
    EXPECT_FALSE(saved.ok);
    EXPECT_NE(saved.description.find("No such file or directory"), std::string::npos) << saved.description;
    EXPECT_EQ(Entries(), std::set<std::string>{"Source.pfx"});
}

TEST_F(SaveTest, FolderThatIsAFileFails) {
    const CallResult saved = certificate_->Save(source_ + "/out.pfx", kPassword, 0, 1);
    EXPECT_FALSE(saved.ok);
    EXPECT_NE(saved.description.find("Not a directory"), std::string::npos) << saved.description;
    EXPECT_EQ(Entries(), std::set<std::string>{"Source.pfx"});
}

TEST_F(SaveTest, NameTooLongFailsClearly) {
    const CallResult saved =
        certificate_->Save(Path(std::string(300, 'n') + "_Password.Pfx"), kPassword, 0, 1);
    EXPECT_FALSE(saved.ok);
    EXPECT_NE(saved.description.find("File name too long"), std::string::npos) << saved.description;
    EXPECT_EQ(Entries(), std::set<std::string>{"Source.pfx"});
}

TEST_F(SaveTest, OnlyThePkcs12TypeWithTheWholeChainIsOffered) {
    EXPECT_FALSE(certificate_->Save(Path("a.pfx"), kPassword, 1, 1).ok);
    EXPECT_FALSE(certificate_->Save(Path("b.pfx"), kPassword, 0, 2).ok);
    EXPECT_EQ(Entries(), std::set<std::string>{"Source.pfx"});
}

TEST_F(SaveTest, WithoutLoadFails) {
    const CallResult saved = Make()->Save(Path("out.pfx"), kPassword, 0, 1);
    EXPECT_FALSE(saved.ok);
    EXPECT_NE(saved.description.find("loaded"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(Path("out.pfx")));
}

struct ModeCase {
    unsigned source;
    unsigned output;
};

class SaveModeTest : public CertificateFolderTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(SaveModeTest, OutputIsNeverWiderThanTheSource) {
    ASSERT_TRUE(WritePfx(Path("s.pfx"), PfxVariant::Pbes2Aes));
    ASSERT_EQ(chmod(Path("s.pfx").c_str(), GetParam().source), 0);
    auto certificate = Make();
    ASSERT_TRUE(certificate->Load(Path("s.pfx"), "", 1, 0).ok);
    ASSERT_TRUE(certificate->Save(Path("o.pfx"), kPassword, 0, 1).ok);
    EXPECT_EQ(Mode(Path("o.pfx")), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(Modes, SaveModeTest,
                         ::testing::Values(ModeCase{0600, 0600}, ModeCase{0644, 0644}, ModeCase{0640, 0640},
                                           ModeCase{0400, 0400}, ModeCase{0755, 0644}, ModeCase{04711, 0600}),
                         [](const auto& info) { return "Source" + std::to_string(info.param.source); });

// The writer itself: what happens between the last check and the link.
using NewFileWriterTest = CertificateFolderTest;

TEST_F(NewFileWriterTest, NameTakenJustBeforeLinkingIsNeverReplaced) {
    const std::string target = Path("out.pfx");
    const std::vector<unsigned char> bytes = {1, 2, 3};
    const CallResult written = WriteNewFile(target, bytes, 0600, [&](std::span<const unsigned char>) {
        WriteFile(target, "racer");
        return CallResult::Success();
    });
    EXPECT_FALSE(written.ok);
    EXPECT_TRUE(written.targetExists);
    EXPECT_EQ(ReadFile(target), "racer");
    EXPECT_EQ(Entries(), std::set<std::string>{"out.pfx"});
}

TEST_F(NewFileWriterTest, FailedCheckLeavesNothingBehindAndSeesTheWrittenBytes) {
    const std::vector<unsigned char> bytes = {9, 8, 7, 6};
    std::vector<unsigned char> seen;
    const CallResult written =
        WriteNewFile(Path("out.pfx"), bytes, 0600, [&](std::span<const unsigned char> back) {
            seen.assign(back.begin(), back.end());
            return CallResult::Failure("no");
        });
    EXPECT_FALSE(written.ok);
    EXPECT_EQ(written.description, "no");
    EXPECT_EQ(seen, bytes);
    EXPECT_TRUE(Entries().empty());
}

TEST_F(NewFileWriterTest, RelativeNameGoesIntoTheCurrentFolder) {
    const std::string previous = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
    const CallResult written = WriteNewFile("plain.pfx", std::vector<unsigned char>{1}, 0640, {});
    std::filesystem::current_path(previous);
    EXPECT_TRUE(written.ok) << written.description;
    EXPECT_EQ(Mode(Path("plain.pfx")), 0640u);
}

}  // namespace
}  // namespace kiv::certificate::testing
