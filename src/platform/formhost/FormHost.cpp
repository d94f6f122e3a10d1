#include "platform/formhost/FormHost.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <algorithm>
#include <cmath>

#include "platform/forms/QtFontSystem.h"

namespace kiv::forms {

FormHost::FormHost(QWidget* window, FormModel model)
    : window_(window), model_(std::move(model)), twipsPerPixel_(ScreenTwipsPerPixel()) {}

double FormHost::ScreenTwipsPerPixel() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchX() : 96.0;
    return dpi > 0 ? 1440.0 / dpi : 15.0;
}

QString FormHost::Key(const QString& name, int index) {
    return name.toLower() + QLatin1Char('#') + QString::number(index);
}

void FormHost::Register(const QString& typeName, Factory factory) {
    factories_.insert(typeName.toUpper(), std::move(factory));
}

bool FormHost::Build(QString* error) {
    for (const Control& control : model_.controls) {
        const auto factory = factories_.constFind(control.typeName.toUpper());
        if (factory == factories_.cend()) {
            *error = QStringLiteral("Control %1 has a type this window cannot show: %2")
                         .arg(control.name, control.typeName);
            return false;
        }
        QWidget* parent = window_;
        if (!control.container.isEmpty()) {
            parent = Widget(control.container);
            if (!parent) {
                *error = QStringLiteral("Container %1 of control %2 has no window")
                             .arg(control.container, control.name);
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
            widget->setObjectName(control.index >= 0
                                      ? QStringLiteral("%1_%2").arg(control.name).arg(control.index)
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
            // Edges are rounded where they lie on the window, not inside their container, so a
            // control that ends where its container ends in twips also does in pixels.
            const QPointF origin = OriginOf(control.container);
            const auto x = [&](double twips) { return px(origin.x() + twips) - px(origin.x()); };
            const auto y = [&](double twips) { return px(origin.y() + twips) - px(origin.y()); };
            const int left = x(*control.left);
            const int top = y(*control.top);
            const bool autoSized = control.kind == ControlKind::Label && control.autoSize.value_or(false);
            if (autoSized) {
                auto* label = qobject_cast<QLabel*>(widget);
                if (label && control.wordWrap.value_or(false) && control.width) {
                    label->setFixedWidth(x(*control.left + *control.width) - left);
                    label->setFixedHeight(label->heightForWidth(label->width()));
                } else {
                    widget->adjustSize();
                }
                widget->move(left, top);
            } else if (control.width && control.height) {
                widget->setGeometry(left, top, x(*control.left + *control.width) - left,
                                    y(*control.top + *control.height) - top);
            } else {
                widget->move(left, top);
            }
        }
        widget->setVisible(control.visible);
    }
    window_->setFixedSize(px(model_.width), px(model_.height));
    for (Control& control : model_.controls) {
        if (control.kind != ControlKind::Label || control.autoSize.value_or(false)) continue;
        if (auto* label = qobject_cast<QLabel*>(Widget(control.name, control.index)))
            FitLabel(control, label);
    }
}

QPointF FormHost::OriginOf(const QString& containerName) const {
    QPointF origin;
    QString name = containerName;
    // A description cannot nest deeper than it has controls; the bound stops a container cycle.
    for (std::size_t depth = 0; !name.isEmpty() && depth < model_.controls.size(); ++depth) {
        const Control* box = model_.Find(name);
        if (!box) break;
        origin += QPointF(box->left.value_or(0), box->top.value_or(0));
        name = box->container;
    }
    return origin;
}

// Fonts grow by the mean of the two ratios while a box grows by the ratio of its own axis, and the
// stand-in faces are not the designed ones; either can make a one-line caption larger than its
// box. Rather than cut it, the box grows into free space to its right and below it, never over a
// neighbour or past its container; where that is not enough, the font steps down by tenths of a
// point until the caption fits. A box that reaches past its container loses the part no one sees.
void FormHost::FitLabel(Control& control, QLabel* label) {
    QWidget* parent = label->parentWidget();
    if (!parent) return;
    QRect box = label->geometry() & parent->rect();
    if (box.isEmpty()) return;
    label->setGeometry(box);
    if (label->wordWrap() || label->text().contains(QLatin1Char('\n'))) return;

    int freeWidth = parent->width() - box.left();
    for (const QWidget* other : Siblings(label)) {
        const QRect r = other->geometry();
        if (r.top() <= box.bottom() && r.bottom() >= box.top() && r.left() > box.right())
            freeWidth = std::min(freeWidth, r.left() - box.left());
    }
    int freeHeight = parent->height() - box.top();
    for (const QWidget* other : Siblings(label)) {
        const QRect r = other->geometry();
        if (r.left() < box.left() + freeWidth && r.right() >= box.left() && r.top() > box.bottom())
            freeHeight = std::min(freeHeight, r.top() - box.top());
    }
    freeWidth = std::max(freeWidth, box.width());
    freeHeight = std::max(freeHeight, box.height());

    const auto needed = [label] {
        const QSize hint = label->sizeHint();
        return QSize(hint.width(), std::max(hint.height(), label->fontMetrics().height()));
    };
    QSize need = needed();
    if (control.font) {
        double request = control.font->Size();
        while ((need.width() > freeWidth || need.height() > freeHeight) && request > 1.0) {
            request = std::nearbyint(request * 10.0 - 1.0) / 10.0;
            control.font->SetSize(request);
            if (control.font->Size() > request) continue;
            label->setFont(ToQFont(control.font->Spec()));
            need = needed();
        }
    }
    label->resize(std::clamp(need.width(), box.width(), freeWidth),
                  std::clamp(need.height(), box.height(), freeHeight));
}

std::vector<QWidget*> FormHost::Siblings(const QWidget* widget) {
    std::vector<QWidget*> siblings;
    for (QObject* child : widget->parentWidget()->children()) {
        auto* sibling = qobject_cast<QWidget*>(child);
        if (sibling && sibling != widget && !sibling->isWindow()) siblings.push_back(sibling);
    }
    return siblings;
}

QWidget* FormHost::Widget(const QString& name, int index) const {
    return widgets_.value(Key(name, index));
}

}  // namespace kiv::forms
