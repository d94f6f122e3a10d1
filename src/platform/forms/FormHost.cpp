#include "platform/forms/FormHost.h"

#include "platform/forms/QtFontSystem.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace kiv::forms {

FormHost::FormHost(QWidget* window, FormModel model)
    : window_(window), model_(std::move(model)), twipsPerPixel_(ScreenTwipsPerPixel()) {}

double FormHost::ScreenTwipsPerPixel() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchX() : 96.0;
    return dpi > 0 ? 1440.0 / dpi : 15.0;
}

QString FormHost::Key(const QString& name, int index) { return name.toLower() + QLatin1Char('#') + QString::number(index); }

void FormHost::Register(const QString& typeName, Factory factory) { factories_.insert(typeName.toUpper(), std::move(factory)); }

bool FormHost::Build(QString* error) {
    for (const Control& control : model_.controls) {
        const auto factory = factories_.constFind(control.typeName.toUpper());
        if (factory == factories_.cend()) {
            *error = QStringLiteral("Control %1 has a type this window cannot show: %2").arg(control.name, control.typeName);
            return false;
        }
        QWidget* parent = window_;
        if (!control.container.isEmpty()) {
            parent = Widget(control.container);
            if (!parent) {
                *error = QStringLiteral("Container %1 of control %2 has no window").arg(control.container, control.name);
                return false;
            }
        }
        QString why;
        QWidget* widget = (*factory)(control, parent, &why);
        if (!why.isEmpty()) {
            *error = QStringLiteral("Control %1 cannot be created: %2").arg(control.name, why);
            return false;
        }
        if (widget) {
            widget->setObjectName(control.index >= 0 ? QStringLiteral("%1_%2").arg(control.name).arg(control.index)
                                                     : control.name);
            widgets_.insert(Key(control.name, control.index), widget);
        }
    }
    return true;
}

void FormHost::Apply() {
    const auto px = [this](double twips) { return static_cast<int>(std::nearbyint(twips / twipsPerPixel_)); };
    for (const Control& control : model_.controls) {
        QWidget* widget = Widget(control.name, control.index);
        if (!widget) continue;
        if (control.font) widget->setFont(ToQFont(control.font->Spec()));
        if (control.left && control.top) {
            const int x = px(*control.left);
            const int y = px(*control.top);
            const bool autoSized = control.kind == ControlKind::Label && control.autoSize.value_or(false);
            if (autoSized) {
                auto* label = qobject_cast<QLabel*>(widget);
                if (label && control.wordWrap.value_or(false) && control.width) {
                    label->setFixedWidth(px(*control.left + *control.width) - x);
                    label->setFixedHeight(label->heightForWidth(label->width()));
                } else {
                    widget->adjustSize();
                }
                widget->move(x, y);
            } else if (control.width && control.height) {
                widget->setGeometry(x, y, px(*control.left + *control.width) - x, px(*control.top + *control.height) - y);
            } else {
                widget->move(x, y);
            }
        }
        widget->setVisible(control.visible);
    }
    for (const Control& control : model_.controls) {
        if (control.kind != ControlKind::Label || control.autoSize.value_or(false)) continue;
        if (auto* label = qobject_cast<QLabel*>(Widget(control.name, control.index))) WidenToText(label);
    }
    window_->setFixedSize(px(model_.width), px(model_.height));
}

// The stand-in faces and the display's font sizes can make a one-line caption a few pixels wider
// than the box it was designed for. Rather than cut its end off, the box grows into free space to
// its right, never over a neighbour or past its container.
void FormHost::WidenToText(QLabel* label) {
    if (label->wordWrap() || label->text().contains(QLatin1Char('\n'))) return;
    const int needed = label->sizeHint().width();
    if (needed <= label->width() || !label->parentWidget()) return;
    const QRect box = label->geometry();
    int limit = label->parentWidget()->width() - box.left();
    for (QObject* child : label->parentWidget()->children()) {
        auto* sibling = qobject_cast<QWidget*>(child);
        if (!sibling || sibling == label || sibling->isWindow()) continue;
        const QRect other = sibling->geometry();
        const bool beside = other.top() < box.bottom() && other.bottom() > box.top();
        if (beside && other.left() >= box.right()) limit = std::min(limit, other.left() - box.left() - 1);
    }
    const int width = std::min(needed, limit);
    if (width > box.width()) label->resize(width, box.height());
}

QWidget* FormHost::Widget(const QString& name, int index) const { return widgets_.value(Key(name, index)); }

}  // namespace kiv::forms
