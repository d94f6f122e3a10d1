#include "app/Module1.h"

namespace kiv::app {
namespace {

std::function<std::unique_ptr<filesystem::FileSystem>()>& Maker() {
    static std::function<std::unique_ptr<filesystem::FileSystem>()> maker = filesystem::CreateLocalFileSystem;
    return maker;
}

std::unique_ptr<filesystem::FileSystem>& Shared() {
    static std::unique_ptr<filesystem::FileSystem> shared;
    return shared;
}

}  // namespace

filesystem::FileSystem* SharedFileSystem() {
    if (!Shared() && Maker()) {
        try {
            Shared() = Maker()();
        } catch (...) {
            Shared().reset();
        }
    }
    return Shared().get();
}

void SetFileSystemMaker(std::function<std::unique_ptr<filesystem::FileSystem>()> maker) {
    Maker() = std::move(maker);
    Shared().reset();
}

}  // namespace kiv::app
