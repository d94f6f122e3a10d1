#include "platform/forms/FormDescription.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kiv::forms {
namespace {

// Colours are written as "0x00BBGGRR" text or as numbers.
std::optional<std::uint32_t> ReadColour(const QJsonValue& value) {
    if (value.isDouble()) return static_cast<std::uint32_t>(value.toInteger());
    if (!value.isString()) return std::nullopt;
    bool ok = false;
    const uint colour = value.toString().toUInt(&ok, 0);
    if (!ok) return std::nullopt;
    return colour;
}

std::optional<FontSpec> ReadFont(const QJsonObject& object) {
    if (!object.value(QStringLiteral("name")).isString() ||
        !object.value(QStringLiteral("size")).isDouble()) {
        return std::nullopt;
    }
    FontSpec spec;
    spec.name = object.value(QStringLiteral("name")).toString();
    spec.size = object.value(QStringLiteral("size")).toDouble();
    spec.bold = object.value(QStringLiteral("bold")).toBool();
    spec.italic = object.value(QStringLiteral("italic")).toBool();
    spec.underline = object.value(QStringLiteral("underline")).toBool();
    if (spec.name.isEmpty() || !(spec.size > 0)) return std::nullopt;
    return spec;
}

ControlKind KindOf(const QString& typeName) {
    const QString upper = typeName.toUpper();
    if (upper == QLatin1String("LABEL")) return ControlKind::Label;
    if (upper == QLatin1String("LINE")) return ControlKind::Line;
    if (upper == QLatin1String("COMBOBOX")) return ControlKind::ComboBox;
    if (upper == QLatin1String("CHECKBOX")) return ControlKind::CheckBox;
    if (upper == QLatin1String("OPTIONBUTTON")) return ControlKind::OptionButton;
    return ControlKind::Other;
}

std::optional<double> Number(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble()) return std::nullopt;
    return value.toDouble();
}

std::optional<bool> Flag(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isBool()) return std::nullopt;
    return value.toBool();
}

// Lower-cases the keys of a persisted property set, as the stored forms hold them.
QVariantMap LowerKeys(const QJsonObject& object) {
    QVariantMap map;
    for (auto it = object.begin(); it != object.end(); ++it)
        map.insert(it.key().toLower(), it.value().toVariant());
    return map;
}

}  // namespace

DescriptionResult ReadFormDescription(const QByteArray& json, FontSystem& fonts) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return {std::nullopt, QStringLiteral("Window description is malformed at offset %1: %2")
                                  .arg(parseError.offset)
                                  .arg(parseError.errorString())};
    }
    if (!document.isObject()) return {std::nullopt, QStringLiteral("Window description is not an object")};
    const QJsonObject root = document.object();

    FormModel form;
    form.name = root.value(QStringLiteral("name")).toString();
    if (form.name.isEmpty()) return {std::nullopt, QStringLiteral("Window description has no name")};
    form.caption = root.value(QStringLiteral("caption")).toString();
    const auto width = Number(root, "width");
    const auto height = Number(root, "height");
    if (!width || !height || *width <= 0 || *height <= 0) {
        return {std::nullopt, QStringLiteral("Window description of %1 has no valid size").arg(form.name)};
    }
    form.left = Number(root, "left").value_or(0);
    form.top = Number(root, "top").value_or(0);
    form.width = *width;
    form.height = *height;
    form.backColor = ReadColour(root.value(QStringLiteral("backColor"))).value_or(0xFFFFFF);
    form.titleBar = root.value(QStringLiteral("titleBar")).toBool(true);
    form.extra = root.value(QStringLiteral("extra")).toObject().toVariantMap();

    const QJsonValue controls = root.value(QStringLiteral("controls"));
    if (!controls.isArray())
        return {std::nullopt, QStringLiteral("Window description of %1 has no controls").arg(form.name)};
    for (const QJsonValue& item : controls.toArray()) {
        const QJsonObject object = item.toObject();
        Control control;
        control.name = object.value(QStringLiteral("name")).toString();
        control.typeName = object.value(QStringLiteral("type")).toString();
        if (control.name.isEmpty() || control.typeName.isEmpty()) {
            return {std::nullopt, QStringLiteral("A control of %1 has no name or type").arg(form.name)};
        }
        const QString id = control.name;
        control.index = object.value(QStringLiteral("index")).toInt(-1);
        control.kind = KindOf(control.typeName);
        control.container = object.value(QStringLiteral("container")).toString();
        if (!control.container.isEmpty() && !form.Find(control.container)) {
            return {std::nullopt, QStringLiteral("Control %1 of %2 names an unknown container %3")
                                      .arg(id, form.name, control.container)};
        }
        control.left = Number(object, "left");
        control.top = Number(object, "top");
        control.width = Number(object, "width");
        control.height = Number(object, "height");
        control.movable = object.value(QStringLiteral("movable")).toBool(true);
        control.autoSize = Flag(object, "autoSize");
        control.wordWrap = Flag(object, "wordWrap");
        control.x1 = Number(object, "x1");
        control.y1 = Number(object, "y1");
        control.x2 = Number(object, "x2");
        control.y2 = Number(object, "y2");
        control.tabHeight = Number(object, "tabHeight");
        control.tabMaxWidth = Number(object, "tabMaxWidth");
        control.colWidthMax = Number(object, "colWidthMax");
        control.rowHeightMax = Number(object, "rowHeightMax");
        control.colWidthMin = Number(object, "colWidthMin");
        control.rowHeightMin = Number(object, "rowHeightMin");
        control.properties = LowerKeys(object.value(QStringLiteral("properties")).toObject());
        // A button keeps its font inside its persisted property set.
        const QJsonValue fontValue =
            object.contains(QStringLiteral("font"))
                ? object.value(QStringLiteral("font"))
                : QJsonValue::fromVariant(control.properties.value(QStringLiteral("font")));
        if (!fontValue.isNull() && !fontValue.isUndefined()) {
            const auto spec = ReadFont(fontValue.toObject());
            if (!spec)
                return {std::nullopt,
                        QStringLiteral("Control %1 of %2 has a malformed font").arg(id, form.name)};
            control.font = fonts.Create(*spec);
            if (!control.font)
                return {std::nullopt,
                        QStringLiteral("Font %1 of control %2 is not available").arg(spec->name, id)};
        }
        control.caption = object.value(QStringLiteral("caption")).toString();
        control.backColor = ReadColour(object.value(QStringLiteral("backColor")));
        control.foreColor = ReadColour(object.value(QStringLiteral("foreColor")));
        control.visible = object.value(QStringLiteral("visible")).toBool(true);
        control.passwordChar = object.value(QStringLiteral("passwordChar")).toBool(false);
        control.toolTipText = object.value(QStringLiteral("toolTipText")).toString();
        control.extra = object.value(QStringLiteral("extra")).toObject().toVariantMap();
        if (form.Find(control.name, control.index)) {
            return {std::nullopt, QStringLiteral("Control %1 of %2 is described twice").arg(id, form.name)};
        }
        form.controls.push_back(std::move(control));
    }
    return {std::move(form), {}};
}

DescriptionResult LoadFormDescription(const QString& path, FontSystem& fonts) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {std::nullopt,
                QStringLiteral("Window description %1 cannot be read: %2").arg(path, file.errorString())};
    }
    return ReadFormDescription(file.readAll(), fonts);
}

}  // namespace kiv::forms
