#pragma once

#include <QAccessible>
#include <QAccessibleWidget>
#include <QString>
#include <QStringList>

namespace kiv::controls {

class KivBtn;

// Registers the button's accessible interface with Qt's accessibility factory; later calls do nothing.
void InstallKivBtnAccessibility();

// The caption as a user reads it: access-key marks dropped, "&&" as one "&", outer blanks trimmed.
QString ReadableCaption(const QString& caption);

// The access key as assistive technology shows a shortcut ("Alt+H"); empty when there is none.
QString AccessKeyText(const QString& caption);

// Tell assistive technology that the button's name, or one of its states, changed.
void AnnounceNameChange(KivBtn* button);
void AnnounceStateChange(KivBtn* button, QAccessible::State changed);
// A check-box button's Value flipped; nothing for a plain button, which has no checked state.
void AnnounceValueChange(KivBtn* button);

// What a screen reader sees of a KivBtn: a push button, or a check box (checked = Value) when
// CheckBoxBehaviour is on. Its one action, press, does what the access key does.
class KivBtnAccessible final : public QAccessibleWidget {
  public:
    explicit KivBtnAccessible(KivBtn* button);

    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;

    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
    QStringList keyBindingsForAction(const QString& actionName) const override;

  private:
    KivBtn* Button() const;
};

}  // namespace kiv::controls
