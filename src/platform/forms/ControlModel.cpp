#include "platform/forms/ControlModel.h"

namespace kiv::forms {

bool Control::Move(double newLeft, double newTop, std::optional<double> newWidth,
                   std::optional<double> newHeight) {
    if (!movable) return false;
    left = newLeft;
    top = newTop;
    if (newWidth) width = *newWidth;
    if (newHeight) height = *newHeight;
    return true;
}

void FormModel::Move(double newLeft, double newTop, double newWidth, double newHeight) {
    left = newLeft;
    top = newTop;
    width = newWidth;
    height = newHeight;
}

Control* FormModel::Find(const QString& controlName, int index) {
    for (auto& c : controls) {
        if (c.name.compare(controlName, Qt::CaseInsensitive) == 0 && c.index == index) return &c;
    }
    return nullptr;
}

const Control* FormModel::Find(const QString& controlName, int index) const {
    return const_cast<FormModel*>(this)->Find(controlName, index);
}

const Control* FormModel::ContainerOf(const Control& control) const {
    if (control.container.isEmpty()) return nullptr;
    for (const auto& c : controls) {
        if (&c != &control && c.name.compare(control.container, Qt::CaseInsensitive) == 0) return &c;
    }
    return nullptr;
}

}  // namespace kiv::forms
