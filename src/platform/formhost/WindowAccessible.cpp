#include "platform/formhost/WindowAccessible.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QWidget>

namespace kiv::forms {

namespace {

QHash<QString, QAccessible::Role>& Roles() {
    static QHash<QString, QAccessible::Role> roles;
    return roles;
}

QAccessibleInterface* MakeInterface(const QString& className, QObject* object) {
    const auto it = Roles().constFind(className);
    if (it == Roles().cend() || !object || !object->isWidgetType()) return nullptr;
    return new QAccessibleWidget(static_cast<QWidget*>(object), *it);
}

}  // namespace

void InstallWindowRole(const QMetaObject& windowClass, QAccessible::Role role) {
    static const bool installed = [] {
        QAccessible::installFactory(MakeInterface);
        return true;
    }();
    (void)installed;
    Roles().insert(QString::fromLatin1(windowClass.className()), role);
}

}  // namespace kiv::forms
