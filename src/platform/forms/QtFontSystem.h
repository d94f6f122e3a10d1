#pragma once

#include <QFont>

#include "platform/forms/ControlModel.h"

namespace kiv::forms {

// The QFont a widget should use for a described font. The family is the name the window gives;
// the stand-ins installed at start-up decide which face draws it.
QFont ToQFont(const FontSpec& described);

// A control's font over a QFont. Size() is the size the font system gives for the request, to
// four decimals, not the size asked for: Qt draws at whole pixels, so 10.6 pt at 96 dpi comes back
// as 10.5. It is read through the stand-in face, the one that actually draws.
class QtControlFont : public ControlFont {
  public:
    explicit QtControlFont(const FontSpec& described);

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
    std::shared_ptr<ControlFont> Create(const FontSpec& described) override;
};

}  // namespace kiv::forms
