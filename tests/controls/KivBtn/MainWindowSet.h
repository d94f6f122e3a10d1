#pragma once

#include <QFile>
#include <QVariantMap>

#include "gallery/FaceGallery.h"

namespace kiv::controls {

// The persisted set a button of the main window stores, read from the window's description.
inline QVariantMap MainWindowSet(const QString& button = QStringLiteral("cmdadd")) {
    QFile form(QStringLiteral(KIV_SOURCE_DIR "/resources/forms/frmmain.json"));
    if (!form.open(QIODevice::ReadOnly)) return {};
    return gallery::StoredButtonSet(form.readAll(), button).set;
}

}  // namespace kiv::controls
