#include "certificate/SystemCalls.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>

namespace kiv::certificate {
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

std::atomic<const SystemCalls*> inForce{&kReal};

}  // namespace

const SystemCalls& System() {
    return *inForce.load(std::memory_order_acquire);
}

const SystemCalls& RealSystemCalls() {
    return kReal;
}

void UseSystemCalls(const SystemCalls* calls) {
    inForce.store(calls ? calls : &kReal, std::memory_order_release);
}

}  // namespace kiv::certificate
