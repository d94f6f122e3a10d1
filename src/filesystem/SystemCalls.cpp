#include "filesystem/SystemCalls.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace kiv::filesystem {
namespace {

const SystemCalls kReal = {
    [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
    [](int folder, const char* path, int flags, mode_t mode) { return ::openat(folder, path, flags, mode); },
    ::read,
    ::write,
    ::pread,
    ::fsync,
    ::linkat,
};

}  // namespace

const SystemCalls& RealSystemCalls() {
    return kReal;
}

std::size_t Fully(std::size_t size, const std::function<ssize_t(std::size_t done)>& step) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = step(done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = 0;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::string SystemMessage(int error) {
    return std::error_code(error, std::generic_category()).message();
}

}  // namespace kiv::filesystem
