#pragma once

#include "platform/forms/ControlModel.h"

#include <QFont>

namespace kiv::forms {

// The QFont a widget should use for a described font. The family is the name the window gives;
// the stand-ins installed at start-up decide which face draws it.
QFont ToQFont(const FontSpec& spec);

// A control's font over a QFont. Size() is the size the font system gives for the request, to
// four decimals, not the size asked for.
class QtControlFont : public ControlFont {
public:
    explicit QtControlFont(const FontSpec& spec);

    double Size() const override;
    void SetSize(double points) override;
    QString Name() const override;
    void SetName(const QString& name) override;
    FontSpec Spec() const override;

    const QFont& Font() const { return font_; }

private:
    QFont font_;
};

// Needs a QGuiApplication for as long as its fonts are used.
class QtFontSystem : public FontSystem {
public:
    std::shared_ptr<ControlFont> Create(const FontSpec& spec) override;
};

}  // namespace kiv::forms
