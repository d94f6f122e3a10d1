#include "gallery/ReferenceFaces.h"

namespace kiv::gallery {

namespace {

QVariantMap CaptionSet(QVariantMap set, const QString& caption) {
    set.remove(QStringLiteral("btype"));
    // Pictures have their own tests; here every pixel is the face's and the caption's.
    set.remove(QStringLiteral("picn"));
    set.remove(QStringLiteral("pich"));
    set.insert(QStringLiteral("tx"), caption);
    set.insert(QStringLiteral("font"), QVariantMap{{QStringLiteral("name"), kReferenceFontFamily},
                                                   {QStringLiteral("size"), 8.25},
                                                   {QStringLiteral("bold"), true}});
    // The program's buttons hide the focus rectangle; shown, the focus look has something to show.
    set.insert(QStringLiteral("focusr"), true);
    return set;
}

}  // namespace

QList<ReferenceSheet> ReferenceSheets(const QVariantMap& programSet) {
    const QList<Look> looks{Look::Up,    Look::Down,  Look::Pressed, Look::Disabled,
                            Look::Hover, Look::Focus, Look::Default};
    QList<int> allTypes;
    for (int t = 0; t <= 14; ++t) allTypes << t;
    const QList<int> gradientTypes{3, 14};

    struct Scheme {
        QString name;
        QVariantMap set;
    };
    QVariantMap custom = programSet;
    custom.insert(QStringLiteral("coltype"), 2);
    // The fixed scheme without the soft bevel, so every offset is drawn at its full size, and with
    // the raised caption effect, so both effect copies are drawn.
    QVariantMap fixed = programSet;
    fixed.insert(QStringLiteral("coltype"), 3);
    fixed.insert(QStringLiteral("soft"), false);
    fixed.insert(QStringLiteral("fx"), 1);
    const QList<Scheme> schemes{{QStringLiteral("scheme2"), custom}, {QStringLiteral("scheme3"), fixed}};
    const QList<std::pair<QString, QString>> captions{
        {QStringLiteral("empty"), QString()}, {QStringLiteral("proceed"), QStringLiteral("Proceed >>")}};

    QList<ReferenceSheet> sheets;
    for (const Scheme& scheme : schemes) {
        for (const auto& [captionName, caption] : captions) {
            const QVariantMap set = CaptionSet(scheme.set, caption);
            auto add = [&](const QString& kind, QSize cell, const QList<int>& types) {
                const QString name = QStringLiteral("%1-%2-%3-%4x%5")
                                         .arg(kind, scheme.name, captionName)
                                         .arg(cell.width())
                                         .arg(cell.height());
                sheets.append({name, set, cell, types, looks});
            };
            add(QStringLiteral("faces"), {113, 25}, allTypes);
            add(QStringLiteral("faces"), {97, 31}, allTypes);
            for (int h : {12, 30, 90}) add(QStringLiteral("gradient"), {113, h}, gradientTypes);
        }
    }
    return sheets;
}

QList<QList<QImage>> RenderSheet(FaceCamera& camera, const ReferenceSheet& sheet, QStringList* problems,
                                 bool faces) {
    QList<QList<QImage>> rows;
    for (int type : sheet.types) {
        QVariantMap set = sheet.set;
        set.insert(QStringLiteral("btype"), type);
        QList<QImage> row;
        for (Look look : sheet.looks) {
            Shot shot = camera.Render(set, look, sheet.cell);
            if (problems) *problems << shot.problems;
            row << (faces ? shot.face : shot.image);
        }
        rows << row;
    }
    return rows;
}

}  // namespace kiv::gallery
