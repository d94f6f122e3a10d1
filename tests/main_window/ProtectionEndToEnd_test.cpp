// Proceed with the real certificate component: the files on disk are what the user gets.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QLineEdit>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "platform/grid/FlexGrid.h"
#include "support/MainWindowHarness.h"
#include "support/pkcs12/Pkcs12Maker.h"

namespace kiv::testing {
namespace {

namespace fs = std::filesystem;

class ProtectionEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        harness.Show();
        harness.SetPasswords(kPassword, kPassword);
    }
    QString Make(const QString& name, PfxVariant variant, const std::string& password = "") {
        const QString path = dir.File(name);
        EXPECT_TRUE(WritePfx(path.toStdString(), variant, password)) << name.toStdString();
        harness.AddThroughDialog(path);
        return path;
    }
    std::string Out(const char* name) { return dir.File(name).toStdString(); }

    static constexpr const char* kPassword = "Ünïcode-pass 1";
    TempDir dir;
    MainWindowHarness harness;
};

TEST_F(ProtectionEndToEndTest, PasswordLessFilesComeOutProtectedWithTheirWholeChain) {
    const QString source = Make("server.PFX", PfxVariant::EmptyPasswordMac);
    Make("legacy.pfx", PfxVariant::Legacy);
    Make("nomac.Pfx", PfxVariant::NoMac);
    harness.ProceedConfirmed();
    for (int row = 1; row <= 3; ++row)
        EXPECT_EQ(harness.Status(row), "OK") << harness.Path(row).toStdString();

    const auto before = ReadPfx(source.toStdString(), "");
    const auto after = ReadPfx(Out("server_Password.Pfx"), kPassword);
    ASSERT_TRUE(before && after);
    ASSERT_EQ(after->certs.size(), static_cast<size_t>(kChainLength));
    for (size_t i = 0; i < after->certs.size(); ++i) EXPECT_EQ(after->certs[i].der, before->certs[i].der);
    ASSERT_EQ(after->keys.size(), 1u);
    EXPECT_EQ(after->keys[0].der, before->keys[0].der);
    EXPECT_FALSE(ReadPfx(Out("server_Password.Pfx"), ""));
    EXPECT_FALSE(ReadPfx(Out("server_Password.Pfx"), "wrong"));

    // The command line opens it with the password and shows every certificate.
    const std::string command = "openssl pkcs12 -in '" + Out("legacy_Password.Pfx") +
                                "' -passin 'pass:" + kPassword +
                                "' -nokeys 2>/dev/null | grep -c 'BEGIN CERTIFICATE'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    char line[32] = {};
    ASSERT_TRUE(fgets(line, sizeof line, pipe));
    pclose(pipe);
    EXPECT_EQ(std::atoi(line), kChainLength);
}

// Names that differ only in letter case are two files here, from Add File and from a search alike.
TEST_F(ProtectionEndToEndTest, TwoFilesWhoseNamesDifferOnlyInCaseAreBothProtected) {
    Make("A.pfx", PfxVariant::Pbes2Aes);
    Make("a.pfx", PfxVariant::EmptyPasswordMac);
    fs::create_directory(dir.Path() / "found");
    for (const char* name : {"found/B.pfx", "found/b.pfx"})
        ASSERT_TRUE(WritePfx(Out(name), PfxVariant::NoMac));
    harness.prompts.AnswerChooseFolder(dir.File("found"));
    harness.Window().cmdsearch_Click();
    ASSERT_EQ(harness.Grid().Rows(), 5);
    harness.ProceedConfirmed();
    for (int row = 1; row <= 4; ++row)
        EXPECT_EQ(harness.Status(row), "OK") << harness.Path(row).toStdString();
    for (const char* copy :
         {"A_Password.Pfx", "a_Password.Pfx", "found/B_Password.Pfx", "found/b_Password.Pfx"})
        EXPECT_TRUE(ReadPfx(Out(copy), kPassword)) << copy;
}

TEST_F(ProtectionEndToEndTest, ProtectedSourcesAndEarlierOutputsAreRecognised) {
    Make("locked.pfx", PfxVariant::PasswordProtected, "other");
    Make("plain.pfx", PfxVariant::Pbes2Aes);
    harness.ProceedConfirmed();
    EXPECT_EQ(harness.Status(1), "File is already password protected");
    EXPECT_EQ(harness.Status(2), "OK");
    EXPECT_FALSE(fs::exists(Out("locked_Password.Pfx")));

    // A search would list the output too: it is protected, so it is left as it is.
    harness.AddThroughDialog(dir.File("plain_Password.Pfx"));
    harness.ProceedConfirmed();
    EXPECT_EQ(harness.Status(2), "File [" + dir.File("plain_Password.Pfx") + "] already exists");
    EXPECT_EQ(harness.Status(3), "File is already password protected");
}

TEST_F(ProtectionEndToEndTest, FailuresAreReportedAndLeaveNothingBehind) {
    const QString garbage = dir.File("garbage.pfx");
    std::ofstream(garbage.toStdString()) << "this is not a certificate";
    harness.AddThroughDialog(garbage);
    const QString longName =
        QString(251, 'n') + ".pfx";  // its output name is longer than the file system allows
    Make(longName, PfxVariant::Pbes2Aes);
    ASSERT_EQ(::mkfifo(dir.File("fifo.pfx").toStdString().c_str(), 0600), 0);  // there, but no file
    harness.AddThroughDialog(dir.File("fifo.pfx"));
    harness.ProceedConfirmed();

    EXPECT_TRUE(harness.Status(1).startsWith("Error Loading : ")) << harness.Status(1).toStdString();
    EXPECT_GT(harness.Status(1).size(), 20);
    EXPECT_TRUE(harness.Status(2).startsWith("Error Saving : ")) << harness.Status(2).toStdString();
    EXPECT_EQ(harness.Status(3), "Error Loading : The path names a FIFO (a named pipe), not a file.");
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(dir.Path())) files += entry.is_regular_file();
    EXPECT_EQ(files, 2u) << "only the two sources";
}

TEST_F(ProtectionEndToEndTest, CopyIsNoMoreReadableThanItsSource) {
    const QString source = Make("private.pfx", PfxVariant::Pbes2Aes);
    ::chmod(source.toStdString().c_str(), 0600);
    harness.ProceedConfirmed();
    ASSERT_EQ(harness.Status(1), "OK");
    struct stat info {};
    ASSERT_EQ(::stat(Out("private_Password.Pfx").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// A file that would keep the window busy for an hour is answered at once, and the run goes on.
TEST_F(ProtectionEndToEndTest, FileNamingAnEndlessDerivationIsRefusedAndTheRunGoesOn) {
    Make("hostile.pfx", PfxVariant::HugeMacCount);
    Make("fine.pfx", PfxVariant::Pbes2Aes);
    harness.ProceedConfirmed();
    EXPECT_EQ(harness.Status(1),
              "Error Loading : The file's integrity check asks for 2,147,483,647 iterations "
              "of key derivation; at most 1,000,000 are accepted.");
    EXPECT_EQ(harness.Status(2), "OK");
    EXPECT_FALSE(fs::exists(Out("hostile_Password.Pfx")));
}

// Key-first files (as NSS and Java write them) and a safe mixing key and certificates come out
// "OK"; a second Proceed finds every copy and changes no file.
TEST_F(ProtectionEndToEndTest, SecondProceedFindsEveryCopyAndChangesNothing) {
    Make("keyfirst.pfx", PfxVariant::KeyFirst);
    Make("mixed.pfx", PfxVariant::MixedSafe);
    Make("classic.pfx", PfxVariant::EmptyPasswordMac);
    harness.ProceedConfirmed();
    for (int row = 1; row <= 3; ++row)
        ASSERT_EQ(harness.Status(row), "OK") << harness.Path(row).toStdString();

    const auto snapshot = [&] {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(dir.Path())) {
            std::ifstream in(entry.path(), std::ios::binary);
            files[entry.path().filename().string()] =
                std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return files;
    };
    const auto before = snapshot();
    EXPECT_EQ(before.size(), 6u);
    harness.ProceedConfirmed();
    for (const char* name : {"keyfirst", "mixed", "classic"}) {
        const int row = name[0] == 'k' ? 1 : name[0] == 'm' ? 2 : 3;
        EXPECT_EQ(harness.Status(row),
                  "File [" + dir.File(QString(name) + "_Password.Pfx") + "] already exists");
    }
    EXPECT_EQ(snapshot(), before);
}

}  // namespace
}  // namespace kiv::testing
