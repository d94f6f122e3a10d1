// One table of file-system faults, run through the window (Search Files, then Proceed) and through
// `kivpfx protect`. For each fault: every file gets the status it should, a copy is published only
// whole and checked, nothing stray is left, the run goes on after the file it struck, and a second
// run once the fault is gone completes what is left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "certificate/SystemCalls.h"
#include "cli/Protect.h"
#include "platform/grid/FlexGrid.h"
#include "support/MainWindowHarness.h"
#include "support/pkcs12/Pkcs12Maker.h"

namespace kiv::testing {
namespace {

namespace fs = std::filesystem;
using certificate::SystemCalls;

constexpr const char* kPassword = "Fault-Table 1";
constexpr const char* kFiles[] = {"a.pfx", "b.pfx", "c.pfx", "sub/d.pfx"};  // in the order found

enum class Program { Window, Kivpfx };

// Where a fault strikes. All but Listing and EarlierOpen strike the calls made for b.pfx.
enum class Step {
    Listing,      // the walk has just listed the top folder's subfolders
    EarlierOpen,  // a.pfx is opened, b.pfx already listed
    Open,         // b.pfx is opened to be read
    Read,         // its bytes are read
    Write,        // its copy is written
    Sync,         // the copy is flushed to disk
    ReadBack,     // the copy is read back
    Link,         // the copy is given its name
    FolderSync,   // the folder holding the new name is flushed
};

// What the struck call does.
enum class Io { Real, Fails, Short, Corrupt };

// What happens to the disk at the step, before the call; a second run finds it undone.
enum class Act { None, FillDisk, ReadOnly, RemoveB, TruncateB, ReplaceB, RemoveSub, LockSub };

struct Fault {
    const char* name;
    Step step;
    Io io;
    Act act;
    const char* status;  // b.pfx's status in the first run
    bool lasting;        // the files after b.pfx meet the same fault
    bool named;          // the folder cannot hold nameless files: named temporaries stand in
};

constexpr const char* kDiffers =
    "Error Saving : The output file reads back differently from what was written.";

const Fault kFaults[] = {
    {"DiskFillsUp", Step::Open, Io::Real, Act::FillDisk,
     "Error Saving : The output file cannot be written: No space left on device.", true, false},
    {"DiskFillsUpNamed", Step::Open, Io::Real, Act::FillDisk,
     "Error Saving : The output file cannot be written: No space left on device.", true, true},
    {"MountTurnsReadOnly", Step::Open, Io::Real, Act::ReadOnly,
     "Error Saving : A temporary file cannot be created in the output folder: Read-only file system.", true,
     false},
    {"SourceReadFails", Step::Read, Io::Fails, Act::None,
     "Error Loading : The file cannot be read: Input/output error.", false, false},
    {"SourceReadShort", Step::Read, Io::Short, Act::None, "OK", false, false},
    {"SourceCutShortWhileRead", Step::Read, Io::Real, Act::TruncateB,
     "Error Loading : The file changed while it was read.", false, false},
    {"SourceCutShortAfterListing", Step::EarlierOpen, Io::Real, Act::TruncateB,
     "Error Loading : The file is not a PKCS#12 file, or it is damaged.", false, false},
    {"SourceRemovedAfterListing", Step::EarlierOpen, Io::Real, Act::RemoveB, "File not found", false, false},
    {"SourceRemovedAsItIsOpened", Step::Open, Io::Real, Act::RemoveB,
     "Error Loading : The file does not exist.", false, false},
    {"SourceReplacedAfterListing", Step::Open, Io::Real, Act::ReplaceB, "OK", false, false},
    {"WriteFails", Step::Write, Io::Fails, Act::None,
     "Error Saving : The output file cannot be written: Input/output error.", false, false},
    {"WriteFailsNamed", Step::Write, Io::Fails, Act::None,
     "Error Saving : The output file cannot be written: Input/output error.", false, true},
    {"WriteShort", Step::Write, Io::Short, Act::None, "OK", false, false},
    {"SyncFails", Step::Sync, Io::Fails, Act::None,
     "Error Saving : The output file cannot be flushed to disk: Input/output error.", false, false},
    {"ReadBackFails", Step::ReadBack, Io::Fails, Act::None,
     "Error Saving : The output file cannot be read back: Input/output error.", false, false},
    {"ReadBackShort", Step::ReadBack, Io::Short, Act::None, "OK", false, false},
    {"ReadBackDiffers", Step::ReadBack, Io::Corrupt, Act::None, kDiffers, false, false},
    {"ReadBackDiffersNamed", Step::ReadBack, Io::Corrupt, Act::None, kDiffers, false, true},
    {"LinkFails", Step::Link, Io::Fails, Act::None,
     "Error Saving : The output file cannot be created: Input/output error.", false, false},
    {"FolderSyncFails", Step::FolderSync, Io::Fails, Act::None,
     "Error Saving : The output folder cannot be flushed to disk: Input/output error.", false, false},
    {"FolderSyncFailsNamed", Step::FolderSync, Io::Fails, Act::None,
     "Error Saving : The output folder cannot be flushed to disk: Input/output error.", false, true},
    {"FolderRemovedDuringTheSearch", Step::Listing, Io::Real, Act::RemoveSub, "OK", false, false},
    {"FolderLockedDuringTheSearch", Step::Listing, Io::Real, Act::LockSub, "OK", false, false},
};

bool NeedsMount(const Fault& fault) {
    return fault.act == Act::FillDisk || fault.act == Act::ReadOnly;
}
bool HidesSub(const Fault& fault) {
    return fault.act == Act::RemoveSub || fault.act == Act::LockSub;
}

// Root reads any folder whatever its mode; while this lives, the calling thread (and the threads
// it starts) does not.
class ModesHonoured {
  public:
    ModesHonoured() {
        if (::geteuid() != 0 || ::syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        lowered_ = ::syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~ModesHonoured() {
        if (lowered_) ::syscall(SYS_capset, &header_, saved_);
    }
    ModesHonoured(const ModesHonoured&) = delete;
    ModesHonoured& operator=(const ModesHonoured&) = delete;

  private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2] = {};
    bool lowered_ = false;
};

// The fault in force, shared with the system calls below (they can carry no state of their own).
struct Injection {
    const Fault* fault = nullptr;
    std::string b, a;  // the source paths the steps watch
    std::function<void()> act;
    bool acted = false;
    bool current = false;  // the calls being made are b.pfx's
    int sourceFd = -1, folderFd = -1, outputFd = -1;

    // True when the call at `step` is struck; the act is done the first time.
    bool Strikes(Step step) {
        if (!current || fault->step != step) return false;
        DoAct();
        return true;
    }
    void DoAct() {
        if (acted) return;
        acted = true;
        if (act) act();
    }
};
Injection* injection = nullptr;

const SystemCalls& Real() {
    return certificate::RealSystemCalls();
}

ssize_t Transfer(Step step, int fd, int watched, void* buffer, std::size_t size,
                 const std::function<ssize_t(void*, std::size_t)>& call) {
    if (fd != watched || !injection->Strikes(step)) return call(buffer, size);
    switch (injection->fault->io) {
        case Io::Fails:
            errno = EIO;
            return -1;
        case Io::Short:
            return call(buffer, std::min<std::size_t>(size, 100));
        case Io::Corrupt: {
            const ssize_t n = call(buffer, size);
            if (n > 0) static_cast<unsigned char*>(buffer)[n / 2] ^= 0x40;
            return n;
        }
        case Io::Real:
            break;
    }
    return call(buffer, size);
}

int Fails(Step step, const std::function<int()>& call) {
    if (injection->Strikes(step) && injection->fault->io == Io::Fails) {
        errno = EIO;
        return -1;
    }
    return call();
}

const SystemCalls kInjected = {
    [](const char* path, int flags, mode_t mode) {
        if ((flags & O_DIRECTORY) == 0) {
            injection->current = path == injection->b;
            if (path == injection->a && injection->fault->step == Step::EarlierOpen) injection->DoAct();
            if (injection->Strikes(Step::Open) && injection->fault->io == Io::Fails) {
                errno = EIO;
                return -1;
            }
        }
        const int fd = Real().open(path, flags, mode);
        if (injection->current) ((flags & O_DIRECTORY) ? injection->folderFd : injection->sourceFd) = fd;
        return fd;
    },
    [](int folder, const char* path, int flags, mode_t mode) {
        if ((flags & O_TMPFILE) == O_TMPFILE && injection->fault->named) {
            errno = EOPNOTSUPP;
            return -1;
        }
        const int fd = Real().openat(folder, path, flags, mode);
        if (injection->current) injection->outputFd = fd;
        return fd;
    },
    [](int fd, void* buffer, std::size_t size) {
        return Transfer(Step::Read, fd, injection->sourceFd, buffer, size,
                        [fd](void* to, std::size_t n) { return Real().read(fd, to, n); });
    },
    [](int fd, const void* buffer, std::size_t size) {
        return Transfer(Step::Write, fd, injection->outputFd, const_cast<void*>(buffer), size,
                        [fd](void* from, std::size_t n) { return Real().write(fd, from, n); });
    },
    [](int fd, void* buffer, std::size_t size, off_t offset) {
        return Transfer(Step::ReadBack, fd, injection->outputFd, buffer, size,
                        [fd, offset](void* to, std::size_t n) { return Real().pread(fd, to, n, offset); });
    },
    [](int fd) {
        const Step step = fd == injection->folderFd ? Step::FolderSync : Step::Sync;
        if (fd != injection->folderFd && fd != injection->outputFd) return Real().fsync(fd);
        return Fails(step, [fd] { return Real().fsync(fd); });
    },
    [](int fromFolder, const char* from, int toFolder, const char* to, int flags) {
        return Fails(Step::Link, [=] { return Real().linkat(fromFolder, from, toFolder, to, flags); });
    },
};

// The disk as the program sees it; the walk's listing of the top folder's subfolders is where the
// Listing step strikes.
class WatchedFileSystem final : public filesystem::FileSystem {
  public:
    explicit WatchedFileSystem(std::string top) : top_(std::move(top)) {}
    bool FileExists(const std::string& path) override { return local_->FileExists(path); }
    std::optional<std::string> FileName(const std::string& path) override { return local_->FileName(path); }
    filesystem::Listing<filesystem::FileEntry> Files(const std::string& folder) override {
        return local_->Files(folder);
    }
    filesystem::Listing<std::string> SubFolders(const std::string& folder) override {
        auto listing = local_->SubFolders(folder);
        if (folder == top_ && injection && injection->fault->step == Step::Listing) injection->DoAct();
        return listing;
    }
    std::optional<filesystem::FolderId> Identity(const std::string& folder) override {
        return local_->Identity(folder);
    }
    std::optional<filesystem::FolderId> FileIdentity(const std::string& path) override {
        return local_->FileIdentity(path);
    }

  private:
    std::string top_;
    std::unique_ptr<filesystem::FileSystem> local_ = filesystem::CreateLocalFileSystem();
};

bool UnderCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

// Mounts made here stay in this process's own view of the mounts, so none outlives the test.
bool OwnMountView(std::string& why) {
    static int error = -1;
    if (error < 0) {
        error = 0;
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            error = errno;
    }
    if (error != 0) why = std::string("no mount namespace of its own: ") + std::strerror(error);
    return error == 0;
}

// Each listed file's status, by its path below the top folder. OpenSSL's own account of a damaged
// file, in parentheses at the end, is the library's wording and left out.
using Statuses = std::map<std::string, std::string>;

class FileSystemFaultsTest : public TempFolderTest,
                             public ::testing::WithParamInterface<std::tuple<Program, Fault>> {
  protected:
    const Fault& fault() const { return std::get<1>(GetParam()); }
    Program program() const { return std::get<0>(GetParam()); }

    void SetUp() override {
        fs::create_directories(top_);
        if (NeedsMount(fault())) {
            std::string why;
            if (!OwnMountView(why) ||
                ::mount("tmpfs", top_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m,mode=0755") != 0) {
                if (why.empty()) why = std::string("tmpfs cannot be mounted: ") + std::strerror(errno);
                if (UnderCi()) FAIL() << why;
                GTEST_SKIP() << why << " (mounting needs root)";
            }
            mounted_ = true;
        }
        ASSERT_TRUE(WritePfx(Path("made.pfx"), PfxVariant::Pbes2Aes));
        ASSERT_TRUE(WritePfx(Path("other.pfx"), PfxVariant::EcKey));
        for (const char* file : kFiles) Place(file);
        if (program() == Program::Window) {
            window_.emplace();
            window_->UseFileSystem(&watched_);
            window_->Show();
            window_->SetPasswords(kPassword, kPassword);
        }
    }
    void TearDown() override {
        certificate::UseSystemCalls(nullptr);
        injection = nullptr;
        locked_.reset();
        window_.reset();
        if (mounted_) ::umount2(top_.c_str(), MNT_DETACH);
    }

    std::string In(const std::string& file) const { return top_ + "/" + file; }
    void Place(const std::string& file) const {
        fs::create_directories(fs::path(In(file)).parent_path());
        fs::copy_file(Path("made.pfx"), In(file), fs::copy_options::overwrite_existing);
    }

    std::function<void()> ActOf(Act act) {
        switch (act) {
            case Act::FillDisk:
                return [this] {
                    const int fd = ::open(In(".filler").c_str(), O_WRONLY | O_CREAT, 0600);
                    static const char chunk[65536] = {};
                    for (std::size_t size = sizeof chunk; size > 0; size /= 2) {
                        while (::write(fd, chunk, size) > 0) {
                        }
                    }
                    ::close(fd);
                };
            case Act::ReadOnly:
                return [this] {
                    ASSERT_EQ(::mount(nullptr, top_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
                };
            case Act::RemoveB:
                return [this] { fs::remove(In("b.pfx")); };
            case Act::TruncateB:
                return [this] { fs::resize_file(In("b.pfx"), fs::file_size(In("b.pfx")) / 2); };
            case Act::ReplaceB:
                return [this] {
                    fs::copy_file(Path("other.pfx"), In(".replacement"));
                    fs::rename(In(".replacement"), In("b.pfx"));
                };
            case Act::RemoveSub:
                return [this] { fs::remove_all(In("sub")); };
            case Act::LockSub:
                return [this] {
                    fs::permissions(In("sub"), fs::perms::none);
                    locked_.emplace();
                };
            case Act::None:
                break;
        }
        return nullptr;
    }

    void Undo(Act act) {
        switch (act) {
            case Act::FillDisk:
                fs::remove(In(".filler"));
                break;
            case Act::ReadOnly:
                ASSERT_EQ(::mount(nullptr, top_.c_str(), nullptr, MS_REMOUNT, nullptr), 0);
                break;
            case Act::RemoveB:
            case Act::TruncateB:
                Place("b.pfx");
                break;
            case Act::RemoveSub:
                Place("sub/d.pfx");
                break;
            case Act::LockSub:
                locked_.reset();
                fs::permissions(In("sub"), fs::perms::owner_all);
                break;
            case Act::ReplaceB:
            case Act::None:
                break;
        }
    }

    // One run over the top folder, as the program gives it.
    struct Ran {
        Statuses statuses;
        int exit = -1;     // kivpfx's exit status
        std::string said;  // what kivpfx wrote on standard error
    };
    Ran Run() {
        Ran ran;
        std::vector<std::pair<std::string, std::string>> listed;
        if (program() == Program::Window) {
            window_->prompts.AnswerChooseFolder(QString::fromStdString(top_));
            window_->Window().cmdsearch_Click();
            window_->ProceedConfirmed();
            for (int row = 1; row < window_->Grid().Rows(); ++row)
                listed.emplace_back(window_->Path(row).toStdString(), window_->Status(row).toStdString());
        } else {
            const std::string passwordFile = Path("password");
            WriteFile(passwordFile, std::string(kPassword) + "\n");
            cli::ProtectOptions options;
            options.paths = {top_};
            options.password.kind = cli::PasswordSource::Kind::File;
            options.password.file = passwordFile;
            options.jobs = 1;
            std::FILE* out = std::tmpfile();
            std::FILE* err = std::tmpfile();
            ran.exit = cli::RunProtect(
                options,
                [](const certificate::SaveOptions& save) {
                    return certificate::OpenSslCertificateFactory(save);
                },
                out, err, [this] { return std::make_unique<WatchedFileSystem>(top_); });
            std::rewind(out);
            char line[4096];
            while (std::fgets(line, sizeof line, out)) {
                std::string text(line);
                if (!text.empty() && text.back() == '\n') text.pop_back();
                const std::size_t tab = text.find('\t');
                listed.emplace_back(tab == std::string::npos ? "" : text.substr(tab + 1),
                                    text.substr(0, tab));
            }
            std::rewind(err);
            while (std::fgets(line, sizeof line, err)) ran.said += line;
            std::fclose(out);
            std::fclose(err);
        }
        Statuses& statuses = ran.statuses;
        for (const auto& [path, status] : listed) {
            const std::string relative = path.rfind(top_ + "/", 0) == 0 ? path.substr(top_.size() + 1) : path;
            EXPECT_TRUE(statuses.emplace(relative, status.substr(0, status.find(" (OpenSSL: "))).second)
                << relative << " is listed twice";
        }
        return ran;
    }

    // Checks a run's statuses and the folder it leaves; `done` collects the files whose copy is there.
    // kivpfx names a folder it could not read through, and fails for it.
    void Check(const Ran& ran, const Statuses& expected, bool unreadSub, std::set<std::string>& done) {
        EXPECT_EQ(ran.statuses, expected);
        bool failed = unreadSub;
        for (const auto& [file, status] : expected) {
            // kivpfx skips a source that has a password already (an earlier copy walked again).
            failed |= status != "OK" && status.rfind("File [", 0) != 0 &&
                      status != "File is already password protected";
            if (status == "OK") done.insert(file);
        }
        if (program() == Program::Kivpfx) {
            EXPECT_EQ(ran.exit, failed ? 1 : 0) << ran.said;
            const std::string named =
                "kivpfx: " + In("sub") + ": the folder cannot be read; files in it may be left out";
            EXPECT_EQ(ran.said.find(named) != std::string::npos, unreadSub) << ran.said;
        }
        std::set<std::string> tree;
        for (const char* file : kFiles) {
            if (fs::exists(In(file))) tree.insert(file);
        }
        if (fs::exists(In("sub"))) tree.insert("sub");
        for (const std::string& file : done) {
            const std::string copy = engine::OutputPathFor(file);
            tree.insert(copy);
            // Whole and checked: it opens with the password and holds what the source holds.
            const auto source = ReadPfx(In(file), "");
            const auto written = ReadPfx(In(copy), kPassword);
            ASSERT_TRUE(source && written) << copy;
            ASSERT_EQ(written->keys.size(), source->keys.size()) << copy;
            EXPECT_EQ(written->keys[0].der, source->keys[0].der) << copy;
            ASSERT_EQ(written->certs.size(), source->certs.size()) << copy;
            for (std::size_t i = 0; i < written->certs.size(); ++i)
                EXPECT_EQ(written->certs[i].der, source->certs[i].der) << copy;
        }
        EXPECT_EQ(temp_.Tree("tree", ".filler"), tree) << "only the sources and their checked copies";
    }

    const std::string top_ = Path("tree");
    bool mounted_ = false;
    WatchedFileSystem watched_{top_};
    std::optional<MainWindowHarness> window_;
    std::optional<ModesHonoured> locked_;
};

TEST_P(FileSystemFaultsTest, StatusIsRightNothingStrayIsLeftAndASecondRunCompletesTheRest) {
    Injection struck;
    struck.fault = &fault();
    struck.b = In("b.pfx");
    struck.a = In("a.pfx");
    struck.act = ActOf(fault().act);
    injection = &struck;
    certificate::UseSystemCalls(&kInjected);

    Statuses first = {{"a.pfx", "OK"}, {"b.pfx", fault().status}};
    const std::string after = fault().lasting ? fault().status : "OK";
    first["c.pfx"] = after;
    if (!HidesSub(fault())) first["sub/d.pfx"] = after;

    std::set<std::string> done;
    const Ran firstRun = Run();
    // The folder was locked for the search only; its listing is over.
    if (fault().act == Act::LockSub) Undo(Act::LockSub);
    Check(firstRun, first, HidesSub(fault()), done);
    EXPECT_TRUE(struck.acted) << "the fault was never met";

    // Once the fault is gone, a second run writes every copy still missing; the copies themselves
    // are found by the search too, and have a password.
    certificate::UseSystemCalls(nullptr);
    injection = nullptr;
    Undo(fault().act);
    Statuses second;
    for (const char* file : kFiles)
        second[file] =
            done.contains(file) ? "File [" + In(engine::OutputPathFor(file)) + "] already exists" : "OK";
    for (const std::string& file : done)
        second[engine::OutputPathFor(file)] = "File is already password protected";
    const Ran secondRun = Run();
    Check(secondRun, second, false, done);
}

INSTANTIATE_TEST_SUITE_P(Table, FileSystemFaultsTest,
                         ::testing::Combine(::testing::Values(Program::Window, Program::Kivpfx),
                                            ::testing::ValuesIn(kFaults)),
                         [](const ::testing::TestParamInfo<FileSystemFaultsTest::ParamType>& info) {
                             return std::string(std::get<0>(info.param) == Program::Window ? "Window_"
                                                                                           : "Kivpfx_") +
                                    std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace kiv::testing
