#include "platform/forms/QtFontSystem.h"

#include <QFontInfo>
#include <cmath>

namespace kiv::forms {

QFont ToQFont(const FontSpec& described) {
    QFont font(described.name);
    if (described.size > 0) font.setPointSizeF(described.size);
    font.setBold(described.bold);
    font.setItalic(described.italic);
    font.setUnderline(described.underline);
    return font;
}

QtControlFont::QtControlFont(const FontSpec& described) : font_(ToQFont(described)) {}

double QtControlFont::Size() const {
    const double given = QFontInfo(font_).pointSizeF();
    return std::nearbyint(given * 10000.0) / 10000.0;
}

void QtControlFont::SetSize(double points) {
    // QFont ignores sizes not above 0 with a warning; the font keeps its size, as a refusal.
    if (points > 0) font_.setPointSizeF(points);
}

QString QtControlFont::Name() const {
    return font_.family();
}

void QtControlFont::SetName(const QString& name) {
    font_.setFamily(name);
}

FontSpec QtControlFont::Spec() const {
    FontSpec described;
    described.name = font_.family();
    described.size = Size();
    described.bold = font_.bold();
    described.italic = font_.italic();
    described.underline = font_.underline();
    return described;
}

std::shared_ptr<ControlFont> QtFontSystem::Create(const FontSpec& described) {
    return std::make_shared<QtControlFont>(described);
}

}  // namespace kiv::forms
