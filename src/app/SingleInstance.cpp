#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kiv::app {

SingleInstance::SingleInstance(std::string lockPath) : path_(std::move(lockPath)) {}

SingleInstance::~SingleInstance() {
    if (fd_ >= 0) ::close(fd_);
}

std::string SingleInstance::DefaultLockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string(runtime) + "/kivpfxutil.lock";
    return "/tmp/kivpfxutil-" + std::to_string(::getuid()) + ".lock";
}

SingleInstance::State SingleInstance::Acquire() {
    if (fd_ >= 0) return State::First;
    // O_NOFOLLOW and the owner check keep another user's planted file or link in /tmp from
    // deciding whether we may start.
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return State::Unknown;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        ::close(fd);
        return State::Unknown;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? State::AnotherRunning : State::Unknown;
    }
    fd_ = fd;
    return State::First;
}

}  // namespace kiv::app
