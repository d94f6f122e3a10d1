#include "certificate/NewFileWriter.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>
#include <vector>

#include "certificate/SystemCalls.h"

namespace kiv::certificate {
namespace {

std::string SystemMessage(int error) {
    return std::error_code(error, std::generic_category()).message();
}

CallResult SystemFailure(const std::string& what, int error) {
    return CallResult::Failure(what + ": " + SystemMessage(error) + ".");
}

CallResult AlreadyExists() {
    return {false, "The file already exists.", true};
}

class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_;
};

// The paths of files being written under a name, for RemoveUnfinishedFiles. A slot holds a path
// its writer owns; whoever swaps it out first removes the file (the program ending at once) or
// keeps it (the writer, done with it).
constexpr std::size_t kUnfinishedSlots = 1024;
std::atomic<const char*> unfinished[kUnfinishedSlots];
char taken;    // marks a slot whose path the ending program is removing
char removed;  // marks a slot whose path the ending program has removed and no longer reads
static_assert(std::atomic<const char*>::is_always_lock_free, "signal handlers read the slots");

// A file name in a folder that is removed again unless it is released, also when the program ends
// at once while it is there (RemoveUnfinishedFiles).
class NameGuard {
  public:
    NameGuard(int folder, std::string folderPath) : folder_(folder), folderPath_(std::move(folderPath)) {}
    NameGuard(const NameGuard&) = delete;
    NameGuard& operator=(const NameGuard&) = delete;
    ~NameGuard() {
        if (!name_.empty()) ::unlinkat(folder_, name_.c_str(), 0);
        Forget();
    }
    void Set(std::string name) {
        name_ = std::move(name);
        path_ = std::make_unique<std::string>(folderPath_ + "/" + name_);
        for (std::size_t i = 0; i < kUnfinishedSlots && slot_ == nullptr; ++i) {
            const char* none = nullptr;
            if (unfinished[i].compare_exchange_strong(none, path_->c_str())) slot_ = &unfinished[i];
        }
    }
    const std::string& name() const { return name_; }
    void Release() {
        Forget();
        name_.clear();
    }

  private:
    void Forget() {
        if (slot_ == nullptr) return;
        const char* seen = path_->c_str();
        if (!slot_->compare_exchange_strong(seen, nullptr)) {
            // Lost to the ending program. Once it has removed the file it no longer reads the path;
            // while it may still be reading it, the path stays (the program is about to end anyway).
            if (seen == &removed) {
                slot_->store(nullptr);
            } else {
                static_cast<void>(path_.release());
            }
        }
        slot_ = nullptr;
    }

    int folder_;
    std::string folderPath_;
    std::string name_;
    std::unique_ptr<std::string> path_;
    std::atomic<const char*>* slot_ = nullptr;
};

bool WriteAll(int fd, std::span<const unsigned char> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = System().write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadBack(int fd, std::vector<unsigned char>& bytes) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            System().pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// For file systems that can neither rename without replacing nor hard-link: create the name
// exclusively and write into it. Not atomic, but it still never replaces anything.
CallResult SetOwnership(int fd, mode_t mode, const NewFileOptions& options);

CallResult WriteUnderFinalName(int folder, const std::string& folderPath, const std::string& name,
                               std::span<const unsigned char> bytes, mode_t mode,
                               const NewFileOptions& options, struct stat& identity) {
    Descriptor fd(
        System().openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.get() < 0) {
        if (errno == EEXIST) return AlreadyExists();
        return SystemFailure("The output file cannot be created", errno);
    }
    NameGuard created(folder, folderPath);
    created.Set(name);
    if (!WriteAll(fd.get(), bytes)) return SystemFailure("The output file cannot be written", errno);
    if (System().fsync(fd.get()) != 0)
        return SystemFailure("The output file cannot be flushed to disk", errno);
    CallResult owned = SetOwnership(fd.get(), mode, options);
    if (!owned.ok) return owned;
    if (::fstat(fd.get(), &identity) != 0) return SystemFailure("The output file cannot be examined", errno);
    created.Release();
    return CallResult::Success();
}

// Gives the file its group and mode before anyone can see it by name.
CallResult SetOwnership(int fd, mode_t mode, const NewFileOptions& options) {
    // Only the group: a user may hand a file to a group of their own, and root to any. Refused, the
    // file keeps the group it was created with.
    if (options.group != static_cast<gid_t>(-1) && ::fchown(fd, static_cast<uid_t>(-1), options.group) != 0 &&
        errno != EPERM) {
        return SystemFailure("The output file's group cannot be set", errno);
    }
    if (::fchmod(fd, mode & 0666 & ~ProcessUmask()) != 0)
        return SystemFailure("The output file's permissions cannot be set", errno);
    return CallResult::Success();
}

CallResult WriteAndCheck(int fd, std::span<const unsigned char> bytes, const WrittenFileCheck& check,
                         std::vector<unsigned char>& written) {
    if (!WriteAll(fd, bytes)) return SystemFailure("The output file cannot be written", errno);
    if (System().fsync(fd) != 0) return SystemFailure("The output file cannot be flushed to disk", errno);
    // What the disk gives back through this very descriptor is what gets the name.
    if (!ReadBack(fd, written)) return SystemFailure("The output file cannot be read back", errno);
    // A disk that gives back other bytes than it took is named as such, not left to the check to
    // report as a file that does not open.
    if (!std::equal(written.begin(), written.end(), bytes.begin(), bytes.end()))
        return CallResult::Failure("The output file reads back differently from what was written.");
    if (check) return check(written);
    return CallResult::Success();
}

// A nameless file in the folder: gone with its descriptor unless it is linked in. Returns -1 with
// errno set, EOPNOTSUPP and the like meaning the file system cannot.
int OpenAnonymous(int folder) {
    return System().openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

bool NoAnonymousFiles(int error) {
    return error == EOPNOTSUPP || error == ENOTSUP || error == EISDIR || error == EINVAL || error == ENOSYS;
}

// Links the nameless file in under `name`; linkat never replaces an existing name.
CallResult LinkAnonymous(int fd, int folder, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (System().linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return CallResult::Success();
    if (errno == EEXIST) return AlreadyExists();
    const int error = errno;
    // Without /proc, AT_EMPTY_PATH does the same where the process may use it.
    if (System().linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0) return CallResult::Success();
    if (errno == EEXIST) return AlreadyExists();
    return SystemFailure("The output file cannot be created", error);
}

// Makes the new name `name` of the file `identity` durable. Until the folder reaches the disk a
// crash can still take the name away, so a folder that cannot be flushed fails the save and the
// name is taken back, if it still names that file.
CallResult FlushFolder(int folder, const std::string& name, const struct stat& identity) {
    int flushed = System().fsync(folder);
    while (flushed != 0 && errno == EINTR) flushed = System().fsync(folder);
    // Some file systems cannot flush a folder at all: nothing there says the name is at risk.
    if (flushed == 0 || errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP)
        return CallResult::Success();
    const int error = errno;
    struct stat named {};
    if (::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == identity.st_dev && named.st_ino == identity.st_ino) {
        ::unlinkat(folder, name.c_str(), 0);
    }
    return SystemFailure("The output folder cannot be flushed to disk", error);
}

constexpr const char* kNoTemporary = "A temporary file cannot be created in the output folder";

// Opens the folder `path` is to be made in and tests that its name is free and allowed there.
CallResult OpenOutputFolder(const std::string& path, Descriptor& folder, std::string& folderPath,
                            std::string& name) {
    const std::size_t slash = path.rfind('/');
    folderPath = slash == std::string::npos ? std::string(".")
                                            : (slash == 0 ? std::string("/") : path.substr(0, slash));
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return CallResult::Failure("The output path does not name a file.");

    folder.reset(System().open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (folder.get() < 0) return SystemFailure("The output folder cannot be opened", errno);

    const long nameMax = ::fpathconf(folder.get(), _PC_NAME_MAX);
    if (nameMax > 0 && name.size() > static_cast<std::size_t>(nameMax)) {
        return SystemFailure("The output file cannot be created", ENAMETOOLONG);
    }
    struct stat existing {};
    if (::fstatat(folder.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) return AlreadyExists();
    if (errno != ENOENT) return SystemFailure("The output file cannot be created", errno);
    return CallResult::Success();
}

}  // namespace

void RemoveUnfinishedFiles() noexcept {
    for (std::atomic<const char*>& slot : unfinished) {
        const char* path = slot.load();
        if (path != nullptr && path != &taken && path != &removed &&
            slot.compare_exchange_strong(path, &taken)) {
            ::unlink(path);
            slot.store(&removed);
        }
    }
}

CallResult CheckNewFile(const std::string& path) {
    Descriptor folder;
    std::string folderPath, name;
    CallResult open = OpenOutputFolder(path, folder, folderPath, name);
    if (!open.ok) return open;
    if (::faccessat(folder.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
        return SystemFailure(kNoTemporary, errno);
    return CallResult::Success();
}

mode_t ProcessUmask() {
    // Linux tells it in /proc; elsewhere setting and restoring it is the only way.
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status) != nullptr)
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found) return static_cast<mode_t>(mask);
    }
    const mode_t mask = ::umask(077);
    ::umask(mask);
    return mask;
}

CallResult WriteNewFile(const std::string& path, std::span<const unsigned char> bytes, mode_t mode,
                        const WrittenFileCheck& check, const NewFileOptions& options) {
    Descriptor folder;
    std::string folderPath, name;
    CallResult open = OpenOutputFolder(path, folder, folderPath, name);
    if (!open.ok) return open;

    std::vector<unsigned char> written;
    if (options.anonymousTemporary) {
        Descriptor file(OpenAnonymous(folder.get()));
        if (file.get() >= 0) {
            CallResult checked = WriteAndCheck(file.get(), bytes, check, written);
            if (!checked.ok) return checked;
            CallResult owned = SetOwnership(file.get(), mode, options);
            if (!owned.ok) return owned;
            struct stat identity {};
            if (::fstat(file.get(), &identity) != 0)
                return SystemFailure("The output file cannot be examined", errno);
            CallResult linked = LinkAnonymous(file.get(), folder.get(), name);
            if (!linked.ok) return linked;
            return FlushFolder(folder.get(), name, identity);
        }
        if (!NoAnonymousFiles(errno)) return SystemFailure(kNoTemporary, errno);
    }

    NameGuard temporary(folder.get(), folderPath);
    Descriptor file;
    for (int attempt = 0; attempt < 16 && file.get() < 0; ++attempt) {
        unsigned char random[8];
        if (RAND_bytes(random, sizeof random) != 1)
            return CallResult::Failure("No random numbers are available.");
        char candidate[40];
        std::snprintf(candidate, sizeof candidate, ".kivpfx-%02x%02x%02x%02x%02x%02x%02x%02x.tmp", random[0],
                      random[1], random[2], random[3], random[4], random[5], random[6], random[7]);
        file.reset(System().openat(folder.get(), candidate,
                                   O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (file.get() >= 0) {
            temporary.Set(candidate);
        } else if (errno != EEXIST) {
            return SystemFailure(kNoTemporary, errno);
        }
    }
    if (file.get() < 0) return SystemFailure(kNoTemporary, EEXIST);

    CallResult checked = WriteAndCheck(file.get(), bytes, check, written);
    if (!checked.ok) return checked;
    CallResult owned = SetOwnership(file.get(), mode, options);
    if (!owned.ok) return owned;
    struct stat identity {};
    if (::fstat(file.get(), &identity) != 0)
        return SystemFailure("The output file cannot be examined", errno);
    file.reset(-1);

    if (::renameat2(folder.get(), temporary.name().c_str(), folder.get(), name.c_str(), RENAME_NOREPLACE) ==
        0) {
        temporary.Release();
    } else if (errno == EEXIST) {
        return AlreadyExists();
    } else if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP || errno == EOPNOTSUPP) {
        // No RENAME_NOREPLACE here: a hard link never replaces either, then the temporary name goes.
        if (System().linkat(folder.get(), temporary.name().c_str(), folder.get(), name.c_str(), 0) != 0) {
            if (errno == EEXIST) return AlreadyExists();
            if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS &&
                errno != EMLINK) {
                return SystemFailure("The output file cannot be created", errno);
            }
            CallResult direct =
                WriteUnderFinalName(folder.get(), folderPath, name, written, mode, options, identity);
            if (!direct.ok) return direct;
        }
    } else {
        return SystemFailure("The output file cannot be created", errno);
    }
    return FlushFolder(folder.get(), name, identity);
}

}  // namespace kiv::certificate
