#include "platform/formhost/Yield.h"

#include <QCoreApplication>

namespace kiv {

void Yield::operator()() {
    ProcessEvents();
    ++count_;
    if (afterYield) afterYield(count_);
}

void Yield::ProcessEvents() {
    QCoreApplication::processEvents();
}

}  // namespace kiv
