#include "platform/forms/QtFontSystem.h"

#include <QFontInfo>

#include <cmath>

namespace kiv::forms {

QFont ToQFont(const FontSpec& spec) {
    QFont font(spec.name);
    if (spec.size > 0) font.setPointSizeF(spec.size);
    font.setBold(spec.bold);
    font.setItalic(spec.italic);
    font.setUnderline(spec.underline);
    return font;
}

QtControlFont::QtControlFont(const FontSpec& spec) : font_(ToQFont(spec)) {}

double QtControlFont::Size() const {
    const double given = QFontInfo(font_).pointSizeF();
    return std::nearbyint(given * 10000.0) / 10000.0;
}

void QtControlFont::SetSize(double points) {
    // QFont ignores sizes not above 0 with a warning; the font keeps its size, as a refusal.
    if (points > 0) font_.setPointSizeF(points);
}

QString QtControlFont::Name() const { return font_.family(); }

void QtControlFont::SetName(const QString& name) { font_.setFamily(name); }

FontSpec QtControlFont::Spec() const {
    FontSpec spec;
    spec.name = font_.family();
    spec.size = Size();
    spec.bold = font_.bold();
    spec.italic = font_.italic();
    spec.underline = font_.underline();
    return spec;
}

std::shared_ptr<ControlFont> QtFontSystem::Create(const FontSpec& spec) {
    return std::make_shared<QtControlFont>(spec);
}

}  // namespace kiv::forms
