// The file writer on a real folder: nothing left behind, nothing replaced, permissions a user expects.

#include "certificate/NewFileWriter.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "certificate/CertificateTestFolder.h"
#include "support/pkcs12/Pkcs12Maker.h"

namespace kiv::certificate::testing {
namespace {

// The same cases with the nameless temporary file and with the named one used where there is none.
class WriterTest : public CertificateFolderTest, public ::testing::WithParamInterface<bool> {
  protected:
    NewFileOptions Options() const {
        NewFileOptions options;
        options.anonymousTemporary = GetParam();
        return options;
    }
};

TEST_P(WriterTest, NameTakenJustBeforeLinkingIsNeverReplaced) {
    const std::string target = Path("out.pfx");
    const CallResult written = WriteNewFile(
        target, std::vector<unsigned char>{1, 2, 3}, 0600,
        [&](std::span<const unsigned char>) {
            WriteFile(target, "racer");
            return CallResult::Success();
        },
        Options());
    EXPECT_FALSE(written.ok);
    EXPECT_TRUE(written.targetExists);
    EXPECT_EQ(ReadFile(target), "racer");
    EXPECT_EQ(Entries(), std::set<std::string>{"out.pfx"});
}

TEST_P(WriterTest, CheckSeesTheBytesOnDiskAndItsFailureLeavesNothing) {
    const std::vector<unsigned char> bytes = {9, 8, 7, 6};
    std::vector<unsigned char> seen;
    std::set<std::string> during;
    const CallResult failed = WriteNewFile(
        Path("out.pfx"), bytes, 0600,
        [&](std::span<const unsigned char> back) {
            seen.assign(back.begin(), back.end());
            during = Entries();
            return CallResult::Failure("no");
        },
        Options());
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.description, "no");
    EXPECT_EQ(seen, bytes);
    EXPECT_TRUE(Entries().empty());
    // The nameless file cannot be seen, or opened by name, while it is checked.
    EXPECT_EQ(during.empty(), GetParam());

    ASSERT_TRUE(WriteNewFile(Path("out.pfx"), bytes, 0600, {}, Options()).ok);
    EXPECT_EQ(ReadFile(Path("out.pfx")), std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(Entries(), std::set<std::string>{"out.pfx"});
}

// The program ending at once while a file is written leaves nothing: the nameless file goes with
// the process, a named one is removed.
TEST_P(WriterTest, EndingAtOnceRemovesAFileBeingWritten) {
    std::set<std::string> after;
    const CallResult written = WriteNewFile(
        Path("out.pfx"), std::vector<unsigned char>{1, 2, 3}, 0600,
        [&](std::span<const unsigned char>) {
            RemoveUnfinishedFiles();
            after = Entries();
            return CallResult::Success();
        },
        Options());
    EXPECT_TRUE(after.empty());
    // The write in progress learns that its file is gone; a nameless one is there still.
    EXPECT_EQ(written.ok, GetParam());
    EXPECT_EQ(Entries().empty(), !GetParam());
}

INSTANTIATE_TEST_SUITE_P(Temporaries, WriterTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Nameless" : "Named"; });

using NewFileWriterTest = CertificateFolderTest;

// A save killed while its file is written and checked leaves no file at all.
TEST_F(NewFileWriterTest, KilledSaveLeavesNothingBehind) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        const std::vector<unsigned char> bytes(64 * 1024, 0x5a);
        WriteNewFile(Path("out.pfx"), bytes, 0600, [&](std::span<const unsigned char>) {
            const char mark = 'x';
            if (::write(ready[1], &mark, 1) != 1) ::_exit(2);
            for (;;) ::pause();  // killed here, between the check and the link
            return CallResult::Success();
        });
        ::_exit(1);
    }
    ::close(ready[1]);
    char mark = 0;
    const ssize_t got = ::read(ready[0], &mark, 1);
    ::close(ready[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(got, 1) << "the child reached the check";
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(Entries().empty());
}

TEST_F(NewFileWriterTest, RelativeNameGoesIntoTheCurrentFolder) {
    const std::string previous = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
    const CallResult written = WriteNewFile("plain.pfx", std::vector<unsigned char>{1}, 0640, {});
    std::filesystem::current_path(previous);
    EXPECT_TRUE(written.ok) << written.description;
    EXPECT_EQ(Mode(Path("plain.pfx")), 0640u & ~ProcessUmask());
}

class UmaskScope {
  public:
    explicit UmaskScope(mode_t mask) : previous_(::umask(mask)) {}
    ~UmaskScope() { ::umask(previous_); }

  private:
    mode_t previous_;
};

TEST_F(NewFileWriterTest, ModeIsTheSourcesNarrowedByTheUmask) {
    EXPECT_EQ(ProcessUmask(), [] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return mask;
    }());
    {
        UmaskScope scope(077);
        EXPECT_EQ(ProcessUmask(), 077u);
        ASSERT_TRUE(WriteNewFile(Path("private.pfx"), std::vector<unsigned char>{1}, 0644, {}).ok);
        ASSERT_TRUE(WriteNewFile(Path("named.pfx"), std::vector<unsigned char>{1}, 0644, {},
                                 NewFileOptions{static_cast<gid_t>(-1), false})
                        .ok);
    }
    UmaskScope scope(022);
    ASSERT_TRUE(WriteNewFile(Path("shared.pfx"), std::vector<unsigned char>{1}, 0666, {}).ok);
    ASSERT_TRUE(WriteNewFile(Path("group.pfx"), std::vector<unsigned char>{1}, 0640, {}).ok);
    EXPECT_EQ(Mode(Path("private.pfx")), 0600u);
    EXPECT_EQ(Mode(Path("named.pfx")), 0600u);
    EXPECT_EQ(Mode(Path("shared.pfx")), 0644u);
    EXPECT_EQ(Mode(Path("group.pfx")), 0640u);
}

// Groups this process may give a file: its own, its supplementary ones, any when it is root.
bool MayUseGroup(gid_t group) {
    if (::geteuid() == 0 || ::getegid() == group) return true;
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    return count > 0 && std::count(groups.begin(), groups.begin() + count, group) > 0;
}

gid_t Group(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_gid : static_cast<gid_t>(-1);
}

// A 0640 source in another group, in a setgid folder of a third group: the copy is 0640 and in the
// source's group when the user may set it, else in the group it was created with (the folder's).
TEST_F(NewFileWriterTest, CopyTakesTheSourcesGroupInASetgidFolder) {
    const gid_t sourceGroup = ::geteuid() == 0 ? 4242 : ::getegid();
    const gid_t folderGroup = ::geteuid() == 0 ? 4343 : static_cast<gid_t>(-1);
    if (folderGroup != static_cast<gid_t>(-1)) {
        ASSERT_EQ(::chown(folder_.c_str(), -1, folderGroup), 0);
    }
    ASSERT_EQ(::chmod(folder_.c_str(), 02775), 0);
    UmaskScope scope(022);

    const std::string source = Path("server.pfx");
    ASSERT_TRUE(kiv::testing::WritePfx(source, kiv::testing::PfxVariant::Pbes2Aes));
    ASSERT_EQ(::chown(source.c_str(), -1, sourceGroup), 0) << std::strerror(errno);
    ASSERT_EQ(::chmod(source.c_str(), 0640), 0);
    auto certificate = Make();
    ASSERT_TRUE(certificate->Load(source, "", 1, 0).ok);
    const CallResult saved = certificate->Save(Path("server_Password.Pfx"), "pw", 0, 1);
    ASSERT_TRUE(saved.ok) << saved.description;

    EXPECT_EQ(Mode(Path("server_Password.Pfx")), 0640u);
    EXPECT_EQ(Group(Path("server_Password.Pfx")), MayUseGroup(sourceGroup) ? sourceGroup : Group(folder_));
}

}  // namespace
}  // namespace kiv::certificate::testing
