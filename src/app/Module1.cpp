#include "app/Module1.h"

namespace kiv::app {
namespace {

std::unique_ptr<filesystem::FileSystem>& Shared() {
    static std::unique_ptr<filesystem::FileSystem> shared;
    return shared;
}

}  // namespace

filesystem::FileSystem* SharedFileSystem() {
    if (!Shared()) {
        try {
            Shared() = filesystem::CreateLocalFileSystem();
        } catch (...) {
            Shared().reset();
        }
    }
    return Shared().get();
}

}  // namespace kiv::app
