#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

namespace kiv::filesystem {

// The system calls through which a source is read and a copy written. A file system gives the real
// ones (FileSystem::Calls) unless a test's puts its own in place to make a step fail or come up short.
struct SystemCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    int (*openat)(int folder, const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buffer, std::size_t size);
    ssize_t (*write)(int fd, const void* buffer, std::size_t size);
    ssize_t (*pread)(int fd, void* buffer, std::size_t size, off_t offset);
    int (*fsync)(int fd);
    int (*linkat)(int fromFolder, const char* from, int toFolder, const char* to, int flags);
};

// The calls of the system itself.
const SystemCalls& RealSystemCalls();

// Moves `size` bytes with `step(done)`, one read(2) or write(2) of the bytes from `done` on, again
// after an interruption or a short count, until all are through. Returns how many went through:
// fewer when a step failed (errno says why) or moved nothing (errno is 0: the end of the file).
std::size_t Fully(std::size_t size, const std::function<ssize_t(std::size_t done)>& step);

// The system's words for `error`: "No space left on device".
std::string SystemMessage(int error);

}  // namespace kiv::filesystem
