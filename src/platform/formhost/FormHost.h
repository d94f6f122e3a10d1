#pragma once

#include <QHash>
#include <QPointF>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <vector>

class QLabel;

#include "platform/forms/ControlModel.h"

namespace kiv::forms {

// Turns a window's control model into Qt widgets on the window and keeps them in step with it.
// The model stays in twips; Apply() maps them to Qt's logical pixels at 1440 / (logical dpi)
// twips a pixel, rounding each edge, so scaling the model never accumulates rounding.
class FormHost {
  public:
    // Makes the widget of one control, parented to `parent`; nullptr for a control with no widget
    // (a dialog component, a timer). Failure to make it is reported through `error`.
    using Factory = std::function<QWidget*(const Control& control, QWidget* parent, QString* error)>;

    FormHost(QWidget* window, FormModel model);

    void Register(const QString& typeName, Factory factory);
    // Makes every control's widget in description order. False, with `error` set, when a type is
    // unknown or a widget cannot be made.
    bool Build(QString* error);
    // Puts the model's geometry, fonts and visibility on the widgets and sizes the window. A
    // one-line label whose caption does not fit its box grows into free space, or failing that
    // its font (in the model too) steps down until the caption fits.
    void Apply();

    FormModel& Model() { return model_; }
    QWidget* Widget(const QString& name, int index = -1) const;
    template <typename T>
    T* As(const QString& name, int index = -1) const {
        return qobject_cast<T*>(Widget(name, index));
    }

    double TwipsPerPixel() const { return twipsPerPixel_; }
    static double ScreenTwipsPerPixel();

  private:
    static QString Key(const QString& name, int index);
    // The container's top-left on the window, in twips; the window's own is 0, 0.
    QPointF OriginOf(const QString& containerName) const;
    void FitLabel(Control& control, QLabel* label);
    static std::vector<QWidget*> Siblings(const QWidget* widget);

    QWidget* window_;
    FormModel model_;
    double twipsPerPixel_;
    QHash<QString, Factory> factories_;
    QHash<QString, QPointer<QWidget>> widgets_;
};

}  // namespace kiv::forms
