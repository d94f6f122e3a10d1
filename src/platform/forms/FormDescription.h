#pragma once

#include <QString>
#include <optional>

#include "platform/forms/ControlModel.h"

namespace kiv::forms {

struct DescriptionResult {
    std::optional<FormModel> form;
    QString error;  // why the description could not be read, when there is no form
};

// Reads a window description (JSON) into the control model, making each control's font with
// `fonts`. Any missing or malformed part gives an error naming it; nothing is half-built.
DescriptionResult ReadFormDescription(const QByteArray& json, FontSystem& fonts);
DescriptionResult LoadFormDescription(const QString& path, FontSystem& fonts);

}  // namespace kiv::forms
