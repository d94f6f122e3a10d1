#include "app/identity/Resources.h"

#include <QtCore/qglobal.h>

#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterKivResources() {
    Q_INIT_RESOURCE(resources);
}

namespace kiv::app {

void InitResources() {
    static std::once_flag once;
    std::call_once(once, RegisterKivResources);
}

}  // namespace kiv::app
