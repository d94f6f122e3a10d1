#pragma once

#include <QAccessible>
#include <QMetaObject>

namespace kiv::forms {

// Our windows are plain widgets, which assistive technology would take for a filler inside some
// other window. This gives every widget of `windowClass` the accessible role of a window (or a
// dialog); call it before the first window of the class is made.
void InstallWindowRole(const QMetaObject& windowClass, QAccessible::Role role);

}  // namespace kiv::forms
