// What counts as on the button: its window region decides hits and hover alike.
#include <QApplication>
#include <QCursor>

#include "controls/KivBtn/KivBtn.h"

namespace kiv::controls {

bool KivBtn::HitTest(QPoint local) const {
    return rect().contains(local) && (region_.isEmpty() || region_.contains(local));
}

bool KivBtn::IsMouseOverAt(QPoint global) const {
    if (!isVisible()) return false;
    const QWidget* under = QApplication::widgetAt(global);
    return under == this && HitTest(mapFromGlobal(global));
}

bool KivBtn::IsMouseOver() const {
    return IsMouseOverAt(QCursor::pos());
}

}  // namespace kiv::controls
