#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include "gallery/FaceGallery.h"

namespace kiv::gallery {

// Captions of the reference faces are drawn with this face, which the setup script installs. It is
// named directly, so no font substitution stands between the persisted set and the pixels.
inline const QString kReferenceFontFamily = QStringLiteral("DejaVu Sans Condensed");

// One reference image: a row of cells per button type, a column per look, all of one size and set.
struct ReferenceSheet {
    QString name;     // file name without ".png"
    QVariantMap set;  // every key but "btype"
    QSize cell;
    QList<int> types;
    QList<Look> looks;
};

// The faces the pixel tests hold still. programSet is the persisted set the program's own buttons
// store; its colours, bevel and effect settings give the custom-scheme sheets.
QList<ReferenceSheet> ReferenceSheets(const QVariantMap& programSet);

// The sheet rendered now, one cell per type and look: the shots, or with faces the buttons' own
// images. Problems the button reported go to problems.
QList<QList<QImage>> RenderSheet(FaceCamera& camera, const ReferenceSheet& sheet, QStringList* problems,
                                 bool faces = false);

}  // namespace kiv::gallery
