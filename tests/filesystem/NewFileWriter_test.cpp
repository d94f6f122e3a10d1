// The file writer on a real folder: nothing left behind, nothing replaced, permissions a user expects.

#include "filesystem/NewFileWriter.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "support/TempFolder.h"

namespace kiv::filesystem {
namespace {

using kiv::testing::Mode;
using kiv::testing::ReadFile;
using kiv::testing::UmaskScope;
using kiv::testing::WriteFile;

class NewFileWriterTest : public kiv::testing::TempFolderTest {
  protected:
    std::set<std::string> Entries() const { return temp_.Tree(); }
    const std::unique_ptr<FileSystem> files_ = CreateLocalFileSystem();
};

// The same cases with the nameless temporary file and with the named one used where there is none.
class WriterTest : public NewFileWriterTest, public ::testing::WithParamInterface<bool> {
  protected:
    NewFileOptions Options() const {
        NewFileOptions options;
        options.anonymousTemporary = GetParam();
        return options;
    }
};

TEST_P(WriterTest, NameTakenJustBeforeLinkingIsNeverReplaced) {
    const std::string target = Path("out.pfx");
    const WriteResult written = WriteNewFile(
        *files_, target, std::vector<unsigned char>{1, 2, 3}, 0600,
        [&](std::span<const unsigned char>) {
            WriteFile(target, "racer");
            return std::string();
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
    const WriteResult failed = WriteNewFile(
        *files_, Path("out.pfx"), bytes, 0600,
        [&](std::span<const unsigned char> back) {
            seen.assign(back.begin(), back.end());
            during = Entries();
            return std::string("no");
        },
        Options());
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.description, "no");
    EXPECT_EQ(seen, bytes);
    EXPECT_TRUE(Entries().empty());
    // The nameless file cannot be seen, or opened by name, while it is checked.
    EXPECT_EQ(during.empty(), GetParam());

    ASSERT_TRUE(WriteNewFile(*files_, Path("out.pfx"), bytes, 0600, {}, Options()).ok);
    EXPECT_EQ(ReadFile(Path("out.pfx")), std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(Entries(), std::set<std::string>{"out.pfx"});
}

// The program ending at once while a file is written leaves nothing: the nameless file goes with
// the process, a named one is removed.
TEST_P(WriterTest, EndingAtOnceRemovesAFileBeingWritten) {
    std::set<std::string> after;
    const WriteResult written = WriteNewFile(
        *files_, Path("out.pfx"), std::vector<unsigned char>{1, 2, 3}, 0600,
        [&](std::span<const unsigned char>) {
            RemoveUnfinishedFiles();
            after = Entries();
            return std::string();
        },
        Options());
    EXPECT_TRUE(after.empty());
    // The write in progress learns that its file is gone; a nameless one is there still.
    EXPECT_EQ(written.ok, GetParam());
    EXPECT_EQ(Entries().empty(), !GetParam());
}

INSTANTIATE_TEST_SUITE_P(Temporaries, WriterTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Nameless" : "Named"; });

// Output paths that cannot take a new file, refused before anything is written in the words the
// check before a write uses too; a name that is taken, even by a link to nothing, is left alone.
TEST_F(NewFileWriterTest, PathsThatCannotTakeANewFileAreRefusedAndNothingIsCreated) {
    WriteFile(Path("file"), "x");
    ASSERT_EQ(::symlink(Path("elsewhere").c_str(), Path("dangling.pfx").c_str()), 0);
    const struct {
        std::string path;
        const char* said;
    } cases[] = {
        {Path("dangling.pfx"), "The file already exists."},
        {Path("no-such-folder/out.pfx"), "The output folder cannot be opened: No such file or directory."},
        {Path("file/out.pfx"), "The output folder cannot be opened: Not a directory."},
        {Path(std::string(300, 'n') + ".pfx"), "The output file cannot be created: File name too long."},
    };
    for (const auto& c : cases) {
        const WriteResult written = WriteNewFile(*files_, c.path, std::vector<unsigned char>{1}, 0600, {});
        EXPECT_FALSE(written.ok);
        EXPECT_EQ(written.description, c.said);
        EXPECT_EQ(written.targetExists, c.path == Path("dangling.pfx")) << c.path;
        EXPECT_EQ(CheckNewFile(*files_, c.path).description, c.said);
    }
    EXPECT_EQ(Entries(), (std::set<std::string>{"dangling.pfx", "file"}));
}

// A save killed while its file is written and checked leaves no file at all.
TEST_F(NewFileWriterTest, KilledSaveLeavesNothingBehind) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        const std::vector<unsigned char> bytes(64 * 1024, 0x5a);
        WriteNewFile(*files_, Path("out.pfx"), bytes, 0600, [&](std::span<const unsigned char>) {
            const char mark = 'x';
            if (::write(ready[1], &mark, 1) != 1) ::_exit(2);
            for (;;) ::pause();  // killed here, between the check and the link
            return std::string();
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
    std::filesystem::current_path(Root());
    const WriteResult written = WriteNewFile(*files_, "plain.pfx", std::vector<unsigned char>{1}, 0640, {});
    std::filesystem::current_path(previous);
    EXPECT_TRUE(written.ok) << written.description;
    EXPECT_EQ(Mode(Path("plain.pfx")), 0640u & ~ProcessUmask());
}

TEST_F(NewFileWriterTest, ModeIsTheSourcesNarrowedByTheUmask) {
    EXPECT_EQ(ProcessUmask(), [] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return mask;
    }());
    {
        UmaskScope scope(077);
        EXPECT_EQ(ProcessUmask(), 077u);
        ASSERT_TRUE(WriteNewFile(*files_, Path("private.pfx"), std::vector<unsigned char>{1}, 0644, {}).ok);
        ASSERT_TRUE(WriteNewFile(*files_, Path("named.pfx"), std::vector<unsigned char>{1}, 0644, {},
                                 NewFileOptions{static_cast<gid_t>(-1), false})
                        .ok);
    }
    UmaskScope scope(022);
    ASSERT_TRUE(WriteNewFile(*files_, Path("shared.pfx"), std::vector<unsigned char>{1}, 0666, {}).ok);
    ASSERT_TRUE(WriteNewFile(*files_, Path("group.pfx"), std::vector<unsigned char>{1}, 0640, {}).ok);
    EXPECT_EQ(Mode(Path("private.pfx")), 0600u);
    EXPECT_EQ(Mode(Path("named.pfx")), 0600u);
    EXPECT_EQ(Mode(Path("shared.pfx")), 0644u);
    EXPECT_EQ(Mode(Path("group.pfx")), 0640u);
}

}  // namespace
}  // namespace kiv::filesystem
