#include "engine/ProtectFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "support/TempFolder.h"

namespace kiv::engine {
namespace {

namespace fs = std::filesystem;

// A certificate object that fails or succeeds as told; a successful Save writes a small file.
struct ScriptedCertificate final : certificate::Certificate {
    certificate::CallResult load, save;
    certificate::CallResult Load(const std::string&, const std::string&, int, int) override { return load; }
    certificate::CallResult Save(const std::string& path, const std::string&, int, int) override {
        if (save.ok) std::ofstream(path) << "copy";
        return save;
    }
};

class ProtectFileTest : public kiv::testing::TempFolderTest {
  protected:
    void SetUp() override {
        source_ = (folder_ / "Server.pfx").string();
        std::ofstream(source_) << "source";
        files_ = filesystem::CreateLocalFileSystem();
    }
    FileResult Run(certificate::CallResult load, certificate::CallResult save) {
        certificate::CertificateFactory factory = [=](filesystem::FileSystem&) {
            auto made = std::make_unique<ScriptedCertificate>();
            made->load = load;
            made->save = save;
            return made;
        };
        return ProtectFile(files_.get(), factory, source_, OutputPathFor(source_), "pw");
    }

    const fs::path folder_ = Root();
    std::string source_;
    std::unique_ptr<filesystem::FileSystem> files_;
};

TEST(OutputPathTest, ReplacesTheLastFourBytesWhateverTheName) {
    EXPECT_EQ(OutputPathFor("/a/Server.pfx"), "/a/Server_Password.Pfx");
    EXPECT_EQ(OutputPathFor("/a/B.PFX"), "/a/B_Password.Pfx");
    EXPECT_EQ(OutputPathFor("/a/caf\xe9.pfx"), "/a/caf\xe9_Password.Pfx");
    EXPECT_EQ(OutputPathFor("/\xc3\xa9t\xc3\xa9.Pfx"), "/\xc3\xa9t\xc3\xa9_Password.Pfx");
}

TEST_F(ProtectFileTest, EachOutcomeHasItsStatus) {
    const std::string output = OutputPathFor(source_);
    auto ok = certificate::CallResult::Success();

    FileResult r = Run(certificate::CallResult::Failure("The specified password is not correct."), ok);
    EXPECT_EQ(r.outcome, Outcome::AlreadyProtected);
    EXPECT_EQ(r.status, "File is already password protected");

    r = Run(certificate::CallResult::Failure("not a PKCS#12 file"), ok);
    EXPECT_EQ(r.outcome, Outcome::LoadError);
    EXPECT_EQ(r.status, "Error Loading : not a PKCS#12 file");

    r = Run(ok, certificate::CallResult::Failure("disk full"));
    EXPECT_EQ(r.outcome, Outcome::SaveError);
    EXPECT_EQ(r.status, "Error Saving : disk full");
    EXPECT_FALSE(fs::exists(output));
    // Text from outside in a status never breaks its line.
    EXPECT_EQ(Run(certificate::CallResult::Failure("one\ntwo"), ok).status,
              "Error Loading : 'one'$'\\n''two'");
    EXPECT_EQ(OutputTaken("/a/b\tc.pfx").status, "File ['/a/b'$'\\t''c.pfx'] already exists");

    certificate::CallResult raced = certificate::CallResult::Failure("taken");
    raced.targetExists = true;
    r = Run(ok, raced);
    EXPECT_EQ(r.outcome, Outcome::OutputExists);
    EXPECT_EQ(r.status, "File [" + output + "] already exists");

    r = Run(ok, ok);
    EXPECT_EQ(r.outcome, Outcome::Ok);
    EXPECT_EQ(r.status, "OK");
    EXPECT_TRUE(Succeeded(r.outcome));

    // The output is there now: it is never written again.
    r = Run(ok, ok);
    EXPECT_EQ(r.outcome, Outcome::OutputExists);
    EXPECT_TRUE(Succeeded(r.outcome));
}

TEST_F(ProtectFileTest, MissingSourceAndMissingComponent) {
    fs::remove(source_);
    FileResult r = Run(certificate::CallResult::Success(), certificate::CallResult::Success());
    EXPECT_EQ(r.outcome, Outcome::NotFound);
    EXPECT_EQ(r.status, "File not found");
    // Something there that is no file is not missing: the file system says what it is.
    fs::create_symlink("/dev/null", source_);
    r = Run(certificate::CallResult::Success(), certificate::CallResult::Success());
    EXPECT_EQ(r.outcome, Outcome::LoadError);
    EXPECT_EQ(r.status, "Error Loading : The path names a device, not a file.");
    fs::remove(source_);
    std::ofstream(source_) << "source";
    certificate::CertificateFactory none = [](auto&) { return std::unique_ptr<certificate::Certificate>(); };
    r = ProtectFile(files_.get(), none, source_, OutputPathFor(source_), "pw");
    EXPECT_EQ(r.outcome, Outcome::NoComponent);
    EXPECT_EQ(r.status, "Can't create ActiveX object");
    certificate::CertificateFactory throws = [](auto&) -> std::unique_ptr<certificate::Certificate> {
        throw std::runtime_error("no");
    };
    EXPECT_EQ(ProtectFile(files_.get(), throws, source_, OutputPathFor(source_), "pw").outcome,
              Outcome::NoComponent);
}

TEST_F(ProtectFileTest, LoadSourceHandsOverTheLoadedObjectOnlyWhenItLoaded) {
    std::unique_ptr<certificate::Certificate> loaded;
    certificate::CertificateFactory factory = [](auto&) {
        auto made = std::make_unique<ScriptedCertificate>();
        made->load = certificate::CallResult::Failure("The specified password is not correct.");
        return made;
    };
    FileResult r = LoadSource(files_.get(), factory, source_, OutputPathFor(source_), loaded);
    EXPECT_EQ(r.outcome, Outcome::AlreadyProtected);
    EXPECT_EQ(loaded, nullptr);

    factory = [](auto&) { return std::make_unique<ScriptedCertificate>(); };
    r = LoadSource(files_.get(), factory, source_, OutputPathFor(source_), loaded);
    EXPECT_EQ(r.outcome, Outcome::Ok);
    EXPECT_TRUE(r.status.empty());
    EXPECT_NE(loaded, nullptr);
    EXPECT_FALSE(fs::exists(OutputPathFor(source_))) << "loading writes nothing";
}

// --remove-sources: a source goes only while its name still names the file that was read, alone.
TEST_F(ProtectFileTest, ASourceIsRemovedOnlyWhileItsNameStillNamesTheFileThatWasRead) {
    const auto remove = [&](const std::string& path, const std::optional<filesystem::FileStamp>& read,
                            bool dryRun = false) {
        return RemoveSource(files_.get(), {Outcome::Ok, "OK"}, path, read, dryRun);
    };
    std::ofstream(folder_ / "other.pfx") << "other";
    fs::create_symlink(source_, folder_ / "link.pfx");
    const std::string kept = "OK, source kept: ";
    EXPECT_EQ(remove(source_, files_->Stamp(source_), true).status, "OK, source to be removed");
    EXPECT_EQ(remove((folder_ / "link.pfx").string(), files_->Stamp((folder_ / "link.pfx").string())).status,
              kept + "it is a symbolic link, and the file it names stays.");
    fs::create_hard_link(source_, folder_ / "hard.pfx");
    EXPECT_EQ(remove(source_, files_->Stamp(source_)).status,
              kept + "the file has other names (hard links).");
    fs::remove(folder_ / "hard.pfx");
    const auto read = files_->Stamp(source_);
    fs::rename(folder_ / "other.pfx", source_);  // replaced after it was read
    const FileResult replaced = remove(source_, read);
    EXPECT_EQ(replaced.outcome, Outcome::SourceKept);
    EXPECT_EQ(replaced.status, kept + "it was replaced or changed after it was read.");
    ASSERT_TRUE(fs::exists(source_));
    const FileResult removed = remove(source_, files_->Stamp(source_));
    EXPECT_EQ(removed.status, "OK, source removed");
    EXPECT_TRUE(removed.sourceRemoved);
    EXPECT_FALSE(fs::exists(source_));
}

TEST_F(ProtectFileTest, ASaveThatLeavesNoFileIsNotOk) {
    struct Silent final : certificate::Certificate {
        certificate::CallResult Load(const std::string&, const std::string&, int, int) override { return {}; }
        certificate::CallResult Save(const std::string&, const std::string&, int, int) override { return {}; }
    };
    certificate::CertificateFactory silent = [](auto&) { return std::make_unique<Silent>(); };
    const FileResult r = ProtectFile(files_.get(), silent, source_, OutputPathFor(source_), "pw");
    EXPECT_EQ(r.outcome, Outcome::Unknown);
    EXPECT_EQ(r.status, "Failed : Unknown Error");
}

}  // namespace
}  // namespace kiv::engine
