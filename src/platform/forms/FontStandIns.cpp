#include "platform/forms/FontStandIns.h"

#include <QFont>

namespace kiv::forms {

// Why these faces: docs/FONTS.md.
const std::vector<std::pair<QString, QStringList>>& FontStandIns() {
    static const std::vector<std::pair<QString, QStringList>> standIns = {
        {QStringLiteral("Times New Roman"), {QStringLiteral("Liberation Serif"), QStringLiteral("Nimbus Roman")}},
        {QStringLiteral("Arial"), {QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans")}},
        {QStringLiteral("Book Antiqua"), {QStringLiteral("P052"), QStringLiteral("URW Palladio L")}},
        {QStringLiteral("MS Sans Serif"), {QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans")}},
        {QStringLiteral("Trebuchet MS"), {QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")}},
    };
    return standIns;
}

void InstallFontStandIns() {
    for (const auto& [name, faces] : FontStandIns()) {
        QFont::removeSubstitutions(name);
        QFont::insertSubstitutions(name, faces);
    }
}

}  // namespace kiv::forms
