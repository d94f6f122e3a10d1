#pragma once

#include <sys/types.h>

#include <cstddef>

namespace kiv::certificate {

// The system calls through which the certificate layer reads a source and writes a copy. The real
// calls are in force unless a test puts its own in place to make a step fail or come up short.
struct SystemCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    int (*openat)(int folder, const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buffer, std::size_t size);
    ssize_t (*write)(int fd, const void* buffer, std::size_t size);
    ssize_t (*pread)(int fd, void* buffer, std::size_t size, off_t offset);
    int (*fsync)(int fd);
    int (*linkat)(int fromFolder, const char* from, int toFolder, const char* to, int flags);
};

// The calls in force.
const SystemCalls& System();

// The calls of the system itself.
const SystemCalls& RealSystemCalls();

// Puts `calls` in force (nullptr: the real ones again); it must outlive its use. Only between
// files: a call already under way keeps the table it started with.
void UseSystemCalls(const SystemCalls* calls);

}  // namespace kiv::certificate
