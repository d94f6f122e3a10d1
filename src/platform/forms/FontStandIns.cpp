#include "platform/forms/FontStandIns.h"

#include <QFont>

namespace kiv::forms {

// Why these faces: docs/FONTS.md.
const std::vector<std::pair<QString, QStringList>>& FontStandIns() {
    static const std::vector<std::pair<QString, QStringList>> standIns = {
        {QStringLiteral("Times New Roman"),
         {QStringLiteral("Liberation Serif"), QStringLiteral("Nimbus Roman")}},
        {QStringLiteral("Arial"), {QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans")}},
        {QStringLiteral("Courier New"),
         {QStringLiteral("Liberation Mono"), QStringLiteral("Nimbus Mono PS")}},
        {QStringLiteral("MS Sans Serif"), {QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans")}},
        {QStringLiteral("Microsoft Sans Serif"),
         {QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans")}},
        {QStringLiteral("Book Antiqua"), {QStringLiteral("P052"), QStringLiteral("Liberation Serif")}},
        {QStringLiteral("Palatino Linotype"), {QStringLiteral("P052"), QStringLiteral("Liberation Serif")}},
        {QStringLiteral("Trebuchet MS"),
         {QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")}},
        {QStringLiteral("Tahoma"), {QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")}},
        {QStringLiteral("Verdana"), {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")}},
        {QStringLiteral("Lucida Console"),
         {QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono")}},
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
