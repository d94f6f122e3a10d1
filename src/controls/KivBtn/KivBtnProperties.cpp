#include "controls/KivBtn/KivBtnProperties.h"

#include <cmath>
#include <limits>
#include <optional>

namespace kiv::controls {

namespace {

bool IsNumber(const QVariant& v) {
    switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Double:
        case QMetaType::Float:
        case QMetaType::Short:
        case QMetaType::UShort:
            return true;
        default:
            return false;
    }
}

// A whole number from a number or a decimal/hex text; nothing for fractions, text and other kinds.
std::optional<qint64> WholeNumber(const QVariant& v) {
    if (v.typeId() == QMetaType::Bool) return std::nullopt;
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        bool ok = false;
        const qint64 n = s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? s.mid(2).toLongLong(&ok, 16)
                                                                                : s.toLongLong(&ok, 10);
        return ok ? std::optional<qint64>(n) : std::nullopt;
    }
    if (!IsNumber(v)) return std::nullopt;
    if (v.typeId() == QMetaType::ULongLong) {
        const qulonglong u = v.toULongLong();
        if (u > static_cast<qulonglong>(std::numeric_limits<qint64>::max())) return std::nullopt;
        return static_cast<qint64>(u);
    }
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float) {
        const double d = v.toDouble();
        if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 9.0e15) return std::nullopt;
        return static_cast<qint64>(d);
    }
    return v.toLongLong();
}

class Reader {
  public:
    explicit Reader(const QVariantMap& set) {
        for (auto it = set.cbegin(); it != set.cend(); ++it) lower_.insert(it.key().toLower(), it.value());
    }

    QStringList problems;

    std::int32_t Int32(const char* key, std::int32_t def) {
        const QVariant* v = Find(key);
        if (!v) return def;
        const auto n = WholeNumber(*v);
        if (!n || *n < std::numeric_limits<std::int32_t>::min() ||
            *n > std::numeric_limits<std::int32_t>::max()) {
            return Bad(key, "a 32-bit whole number", def);
        }
        return static_cast<std::int32_t>(*n);
    }

    std::int16_t Int16(const char* key, std::int16_t def) {
        const QVariant* v = Find(key);
        if (!v) return def;
        const auto n = WholeNumber(*v);
        if (!n || *n < std::numeric_limits<std::int16_t>::min() ||
            *n > std::numeric_limits<std::int16_t>::max()) {
            return Bad(key, "a 16-bit whole number", def);
        }
        return static_cast<std::int16_t>(*n);
    }

    // Stored as a signed 32-bit value, so a system colour reference may come back negative.
    ColorValue Colour(const char* key, ColorValue def) {
        const QVariant* v = Find(key);
        if (!v) return def;
        const auto n = WholeNumber(*v);
        if (!n || *n < std::numeric_limits<std::int32_t>::min() ||
            *n > std::numeric_limits<std::uint32_t>::max()) {
            return Bad(key, "a colour value", def);
        }
        return static_cast<ColorValue>(static_cast<std::uint32_t>(*n));
    }

    bool Bool(const char* key, bool def) {
        const QVariant* v = Find(key);
        if (!v) return def;
        if (v->typeId() == QMetaType::Bool) return v->toBool();
        if (v->typeId() == QMetaType::QString) {
            const QString s = v->toString().trimmed().toLower();
            if (s == QLatin1String("true") || s == QLatin1String("-1")) return true;
            if (s == QLatin1String("false") || s == QLatin1String("0")) return false;
            return Bad(key, "true or false", def);
        }
        if (const auto n = WholeNumber(*v)) return *n != 0;
        return Bad(key, "true or false", def);
    }

    QString Text(const char* key, const QString& def) {
        const QVariant* v = Find(key);
        if (!v) return def;
        if (v->typeId() == QMetaType::QString) return v->toString();
        if (IsNumber(*v) || v->typeId() == QMetaType::Bool) return v->toString();
        return Bad(key, "text", def);
    }

    QString Picture(const char* key) {
        const QVariant* v = Find(key);
        if (!v) return {};
        if (v->typeId() == QMetaType::QString) return v->toString();
        return Bad(key, "a picture path", QString());
    }

    BtnFont Font(const char* key, const BtnFont& def) {
        const QVariant* v = Find(key);
        if (!v) return def;
        if (v->typeId() != QMetaType::QVariantMap) return Bad(key, "a font", def);
        Reader inner(v->toMap());
        BtnFont f;
        f.name = inner.Text("name", def.name);
        f.size = def.size;
        if (const QVariant* size = inner.Find("size")) {
            bool ok = IsNumber(*size) || size->typeId() == QMetaType::QString;
            const double d = ok ? size->toDouble(&ok) : 0.0;
            if (ok && std::isfinite(d) && d > 0.0 && d < 2048.0) {
                f.size = d;
            } else {
                problems << QStringLiteral("%1.size: not a usable point size").arg(QLatin1String(key));
            }
        }
        f.bold = inner.Bool("bold", def.bold);
        f.italic = inner.Bool("italic", def.italic);
        f.underline = inner.Bool("underline", def.underline);
        for (const QString& p : inner.problems) problems << QLatin1String(key) + QLatin1Char('.') + p;
        return f;
    }

  private:
    const QVariant* Find(const char* key) const {
        const auto it = lower_.constFind(QLatin1String(key));
        return it == lower_.cend() ? nullptr : &it.value();
    }

    template <typename T>
    T Bad(const char* key, const char* wanted, T def) {
        problems << QStringLiteral("%1: expected %2").arg(QLatin1String(key), QLatin1String(wanted));
        return def;
    }

    QVariantMap lower_;
};

QVariant FontEntry(const BtnFont& f) {
    return QVariantMap{{QStringLiteral("name"), f.name},
                       {QStringLiteral("size"), f.size},
                       {QStringLiteral("bold"), f.bold},
                       {QStringLiteral("italic"), f.italic},
                       {QStringLiteral("underline"), f.underline}};
}

QVariant ColourEntry(ColorValue c) {
    return static_cast<qint32>(c);
}

}  // namespace

const QStringList& PersistedKeys() {
    static const QStringList keys{"btype", "tx",     "enab",  "font", "coltype", "focusr", "bcol", "bcolo",
                                  "fcol",  "fcolo",  "mcol",  "mptr", "micon",   "picn",   "pich", "umcol",
                                  "soft",  "picpos", "ngrey", "fx",   "hand",    "check",  "value"};
    return keys;
}

ReadResult ReadProperties(const QVariantMap& set, const PropertyDefaults& defaults) {
    Reader r(set);
    KivBtnProperties p;
    p.buttonType = r.Int32("btype", 2);
    p.caption = r.Text("tx", QString());
    p.enabled = r.Bool("enab", true);
    p.font = r.Font("font", defaults.font);
    p.colorScheme = r.Int32("coltype", 1);
    p.showFocusRect = r.Bool("focusr", true);
    p.backColor = r.Colour("bcol", defaults.buttonFace);
    p.backOver = r.Colour("bcolo", p.backColor);
    p.foreColor = r.Colour("fcol", defaults.buttonText);
    p.foreOver = r.Colour("fcolo", p.foreColor);
    p.maskColor = r.Colour("mcol", 0xC0C0C0);
    p.mousePointer = r.Int16("mptr", kPointerDefault);
    p.mouseIcon = r.Picture("micon");
    p.pictureNormal = r.Picture("picn");
    p.pictureOver = r.Picture("pich");
    p.useMaskColor = r.Bool("umcol", true);
    p.softBevel = r.Bool("soft", false);
    p.picturePosition = r.Int32("picpos", 0);
    p.useGreyscale = r.Bool("ngrey", false);
    p.specialEffect = r.Int32("fx", 0);
    p.handPointer = r.Bool("hand", false);
    p.checkBoxBehaviour = r.Bool("check", false);
    p.value = r.Bool("value", false);
    return {p, r.problems};
}

PropertyList WriteProperties(const KivBtnProperties& p) {
    PropertyList out;
    auto picture = [&out](const char* key, const QString& path) {
        if (!path.isEmpty()) out.append({QLatin1String(key), path});
    };
    out.append({QStringLiteral("btype"), p.buttonType});
    out.append({QStringLiteral("tx"), p.caption});
    out.append({QStringLiteral("enab"), p.enabled});
    out.append({QStringLiteral("font"), FontEntry(p.font)});
    out.append({QStringLiteral("coltype"), p.colorScheme});
    out.append({QStringLiteral("focusr"), p.showFocusRect});
    out.append({QStringLiteral("bcol"), ColourEntry(p.backColor)});
    out.append({QStringLiteral("bcolo"), ColourEntry(p.backOver)});
    out.append({QStringLiteral("fcol"), ColourEntry(p.foreColor)});
    out.append({QStringLiteral("fcolo"), ColourEntry(p.foreOver)});
    out.append({QStringLiteral("mcol"), ColourEntry(p.maskColor)});
    out.append({QStringLiteral("mptr"), static_cast<int>(p.mousePointer)});
    picture("micon", p.mouseIcon);
    picture("picn", p.pictureNormal);
    picture("pich", p.pictureOver);
    out.append({QStringLiteral("umcol"), p.useMaskColor});
    out.append({QStringLiteral("soft"), p.softBevel});
    out.append({QStringLiteral("picpos"), p.picturePosition});
    out.append({QStringLiteral("ngrey"), p.useGreyscale});
    out.append({QStringLiteral("fx"), p.specialEffect});
    out.append({QStringLiteral("hand"), p.handPointer});
    out.append({QStringLiteral("check"), p.checkBoxBehaviour});
    out.append({QStringLiteral("value"), p.value});
    return out;
}

QVariantMap ToVariantMap(const PropertyList& list) {
    QVariantMap map;
    for (const auto& [key, value] : list) map.insert(key, value);
    return map;
}

}  // namespace kiv::controls
