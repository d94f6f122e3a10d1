#include "controls/KivBtn/KivBtnAccessible.h"

#include <QKeySequence>
#include <QMetaObject>
#include <QPointer>

#include "controls/KivBtn/KivBtn.h"

namespace kiv::controls {

namespace {

QAccessibleInterface* MakeInterface(const QString& className, QObject* object) {
    if (className != QLatin1String(KivBtn::staticMetaObject.className())) return nullptr;
    auto* button = qobject_cast<KivBtn*>(object);
    return button ? new KivBtnAccessible(button) : nullptr;
}

}  // namespace

void InstallKivBtnAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(MakeInterface);
        return true;
    }();
    (void)installed;
}

QString ReadableCaption(const QString& caption) {
    QString text;
    text.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] != QLatin1Char('&')) {
            text += caption[i];
        } else if (i + 1 < caption.size()) {
            text += caption[++i];  // the marked character, or the second of "&&"
        }
    }
    return text.trimmed();
}

QString AccessKeyText(const QString& caption) {
    const QChar key = AccessKeyOf(caption);
    if (key.isNull()) return {};
    return QKeySequence::mnemonic(QStringLiteral("&") + key).toString(QKeySequence::NativeText);
}

void AnnounceNameChange(KivBtn* button) {
    if (!button->accessibleName().isEmpty()) return;
    QAccessibleEvent event(button, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

void AnnounceStateChange(KivBtn* button, QAccessible::State changed) {
    QAccessibleStateChangeEvent event(button, changed);
    QAccessible::updateAccessibility(&event);
}

void AnnounceValueChange(KivBtn* button) {
    if (!button->CheckBoxBehaviour()) return;
    QAccessible::State changed;
    changed.checked = true;
    AnnounceStateChange(button, changed);
}

void KivBtn::AccessKeyPress() {
    lastButton_ = 1;
    HostClick();
}

KivBtnAccessible::KivBtnAccessible(KivBtn* button) : QAccessibleWidget(button, QAccessible::Button) {}

KivBtn* KivBtnAccessible::Button() const {
    return static_cast<KivBtn*>(widget());
}

QAccessible::Role KivBtnAccessible::role() const {
    return Button()->CheckBoxBehaviour() ? QAccessible::CheckBox : QAccessible::Button;
}

QAccessible::State KivBtnAccessible::state() const {
    QAccessible::State s = QAccessibleWidget::state();
    const KivBtn* button = Button();
    const bool checkBox = button->CheckBoxBehaviour();
    if (checkBox) {
        s.checkable = true;
        s.checked = button->Value();
    }
    // A checked box is drawn pushed all the time; that is its check mark, not a press.
    s.pressed = button->DrawnState() == FaceState::Down && !(checkBox && button->Value());
    return s;
}

QString KivBtnAccessible::text(QAccessible::Text t) const {
    const KivBtn* button = Button();
    switch (t) {
        case QAccessible::Name:
            if (!button->accessibleName().isEmpty()) return button->accessibleName();
            return ReadableCaption(button->Caption());
        case QAccessible::Accelerator:
            return AccessKeyText(button->Caption());
        default:
            return QAccessibleWidget::text(t);
    }
}

QStringList KivBtnAccessible::actionNames() const {
    return {pressAction()};
}

void KivBtnAccessible::doAction(const QString& actionName) {
    if (actionName != pressAction() || !Button()->isEnabled()) return;
    // The forms run long work inside Click; run it from the event loop so the caller gets its
    // answer at once, as it would after pressing the access key.
    const QPointer<KivBtn> button(Button());
    QMetaObject::invokeMethod(
        button,
        [button] {
            if (button) button->AccessKeyPress();
        },
        Qt::QueuedConnection);
}

QStringList KivBtnAccessible::keyBindingsForAction(const QString& actionName) const {
    if (actionName != pressAction()) return {};
    const QString key = AccessKeyText(Button()->Caption());
    return key.isEmpty() ? QStringList() : QStringList{key};
}

}  // namespace kiv::controls
