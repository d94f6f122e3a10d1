#include "gallery/FaceGallery.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QFont>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

#include "controls/KivBtn/KivBtn.h"
#include "controls/KivBtn/KivBtnProperties.h"

namespace kiv::gallery {

using controls::KivBtn;

namespace {

// The main window's own background (its description stores 0x00C0E0FF).
constexpr QRgb kHostBackground = 0xFFFFE0C0;

std::optional<QVariantMap> ParseFont(const QString& value) {
    const QStringList parts = value.split(QLatin1Char(','));
    if (parts.size() < 2 || parts.front().trimmed().isEmpty()) return std::nullopt;
    bool ok = false;
    const double size = parts.at(1).trimmed().toDouble(&ok);
    if (!ok || !(size > 0.0) || size >= 2048.0) return std::nullopt;
    QVariantMap font{{QStringLiteral("name"), parts.front().trimmed()},
                     {QStringLiteral("size"), size},
                     {QStringLiteral("bold"), false},
                     {QStringLiteral("italic"), false},
                     {QStringLiteral("underline"), false}};
    for (int i = 2; i < parts.size(); ++i) {
        const QString style = parts.at(i).trimmed().toLower();
        if (style != QLatin1String("bold") && style != QLatin1String("italic") &&
            style != QLatin1String("underline")) {
            return std::nullopt;
        }
        font.insert(style, true);
    }
    return font;
}

std::optional<QJsonObject> FindNamed(const QJsonArray& controls, const QString& name) {
    for (const QJsonValue& v : controls) {
        const QJsonObject c = v.toObject();
        if (c.value(QStringLiteral("name")).toString() == name) return c;
        if (auto inner = FindNamed(c.value(QStringLiteral("controls")).toArray(), name)) return inner;
    }
    return std::nullopt;
}

void SendMouseMove(QWidget* w, QPoint local) {
    const QPoint global = w->mapToGlobal(local);
    QCursor::setPos(global);
    QMouseEvent move(QEvent::MouseMove, QPointF(local), QPointF(global), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
}

}  // namespace

const QList<Look>& AllLooks() {
    static const QList<Look> looks{Look::Up,    Look::Down,  Look::Pressed, Look::Disabled,
                                   Look::Hover, Look::Focus, Look::Default, Look::Latched};
    return looks;
}

QString NameOf(Look look) {
    switch (look) {
        case Look::Up:
            return QStringLiteral("up");
        case Look::Down:
            return QStringLiteral("down");
        case Look::Pressed:
            return QStringLiteral("pressed");
        case Look::Disabled:
            return QStringLiteral("disabled");
        case Look::Hover:
            return QStringLiteral("hover");
        case Look::Focus:
            return QStringLiteral("focus");
        case Look::Default:
            return QStringLiteral("default");
        case Look::Latched:
            return QStringLiteral("latched");
    }
    return {};
}

std::optional<Look> LookNamed(const QString& name) {
    for (Look look : AllLooks()) {
        if (NameOf(look) == name.trimmed().toLower()) return look;
    }
    return std::nullopt;
}

ParsedSet ParseProperties(const QStringList& words) {
    ParsedSet out;
    const QStringList& keys = controls::PersistedKeys();
    for (const QString& word : words) {
        const qsizetype eq = word.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            out.errors << QStringLiteral("\"%1\": expected key=value").arg(word);
            continue;
        }
        const QString key = word.left(eq).trimmed().toLower();
        const QString value = word.mid(eq + 1);
        if (!keys.contains(key)) {
            out.errors << QStringLiteral("\"%1\": unknown key; the keys are %2")
                              .arg(key, keys.join(QLatin1Char(' ')));
            continue;
        }
        if (key == QLatin1String("font")) {
            const auto font = ParseFont(value);
            if (!font) {
                out.errors << QStringLiteral("\"%1\": expected font=Name,size[,bold][,italic][,underline]")
                                  .arg(word);
                continue;
            }
            out.set.insert(key, *font);
            continue;
        }
        // Text goes in as it is; the button's own reader decides whether it is a usable number or flag.
        out.set.insert(key, value);
    }
    return out;
}

StoredSet StoredButtonSet(const QByteArray& formJson, const QString& buttonName) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(formJson, &error);
    if (doc.isNull())
        return {{}, QStringLiteral("the window description is not JSON: %1").arg(error.errorString())};
    const auto button = FindNamed(doc.object().value(QStringLiteral("controls")).toArray(), buttonName);
    if (!button) return {{}, QStringLiteral("the window description has no control %1").arg(buttonName)};
    const QJsonValue properties = button->value(QStringLiteral("properties"));
    if (!properties.isObject()) return {{}, QStringLiteral("%1 stores no property set").arg(buttonName)};
    return {properties.toObject().toVariantMap(), {}};
}

FaceCamera::FaceCamera(QScreen* screen) : host_(std::make_unique<QWidget>()) {
    QPalette palette = host_->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(kHostBackground));
    host_->setPalette(palette);
    host_->setAutoFillBackground(true);
    host_->setWindowTitle(QStringLiteral("kivbtn-gallery"));
    if (screen) host_->setScreen(screen);
    host_->setGeometry(QRect(screen ? screen->geometry().topLeft() : QPoint(0, 0), QSize(400, 300)));
    host_->show();
    QElapsedTimer waited;
    waited.start();
    while (!(host_->windowHandle() && host_->windowHandle()->isExposed()) && waited.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    ready_ = host_->windowHandle() && host_->windowHandle()->isExposed();
}

FaceCamera::~FaceCamera() = default;

Shot FaceCamera::Render(const QVariantMap& set, Look look, QSize size) {
    if (size.width() > host_->width() || size.height() > host_->height()) {
        host_->resize(std::max(size.width(), host_->width()), std::max(size.height(), host_->height()));
    }
    auto button = std::make_unique<KivBtn>(host_.get());
    button->ReadProperties(set);
    Shot shot;
    shot.problems = button->ReadProblems();
    button->setGeometry(QRect(QPoint(0, 0), size));
    button->show();  // the host's Show: background capture for type 11, colours, the first paint
    switch (look) {
        case Look::Up:
            break;
        case Look::Down: {
            QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
            QCoreApplication::sendEvent(button.get(), &space);
            break;
        }
        case Look::Disabled:
            button->SetEnabled(false);
            break;
        case Look::Hover:
        case Look::Pressed: {
            // Start away from the button so the move onto it is an entry.
            SendMouseMove(host_.get(), QPoint(host_->width() - 1, host_->height() - 1));
            const QPoint centre = button->rect().center();
            SendMouseMove(button.get(), centre);
            if (look == Look::Pressed) {
                QMouseEvent press(QEvent::MouseButtonPress, QPointF(centre),
                                  QPointF(button->mapToGlobal(centre)), Qt::LeftButton, Qt::LeftButton,
                                  Qt::NoModifier);
                QCoreApplication::sendEvent(button.get(), &press);
            }
            break;
        }
        case Look::Focus: {
            QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
            QCoreApplication::sendEvent(button.get(), &in);
            break;
        }
        case Look::Default:
            button->SetDisplayAsDefault(true);
            break;
        case Look::Latched:
            button->SetCheckBoxBehaviour(true);
            button->SetValue(true);
            break;
    }
    shot.face = button->FaceImage();
    QImage image = shot.face.convertToFormat(QImage::Format_ARGB32);
    // The region is in logical pixels; each of the face's pixels belongs to the one it lies in.
    const QRegion region = button->ButtonRegion();
    const qreal ratio = button->FaceRatio();
    if (!region.isEmpty()) {
        for (int y = 0; y < image.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const QPoint logical(static_cast<int>(x / ratio), static_cast<int>(y / ratio));
                if (!region.contains(logical)) row[x] = 0;
            }
        }
    }
    shot.image = image;
    return shot;
}

QImage Tile(const QList<QList<QImage>>& cells) {
    if (cells.isEmpty() || cells.front().isEmpty()) return {};
    const QSize cell = cells.front().front().size();
    qsizetype columns = 0;
    for (const auto& row : cells) columns = std::max(columns, row.size());
    QImage out(cell.width() * static_cast<int>(columns), cell.height() * static_cast<int>(cells.size()),
               QImage::Format_ARGB32);
    out.fill(0);
    QPainter p(&out);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    for (int r = 0; r < cells.size(); ++r) {
        for (int c = 0; c < cells.at(r).size(); ++c) {
            p.drawImage(c * cell.width(), r * cell.height(), cells.at(r).at(c));
        }
    }
    return out;
}

QImage CellOf(const QImage& tiled, QSize cell, int row, int column) {
    return tiled.copy(column * cell.width(), row * cell.height(), cell.width(), cell.height())
        .convertToFormat(QImage::Format_ARGB32);
}

QImage ContactSheet(const QString& title, const QStringList& rowLabels, const QStringList& columnLabels,
                    const QList<QList<QImage>>& cells) {
    if (cells.isEmpty() || cells.front().isEmpty()) return {};
    const QSize cell = cells.front().front().size();
    constexpr int kGap = 8, kLabelWidth = 64, kTitleHeight = 28, kHeaderHeight = 20;
    const int columns = static_cast<int>(columnLabels.size());
    const int width = kGap + kLabelWidth + columns * (cell.width() + kGap);
    const int height =
        kTitleHeight + kHeaderHeight + static_cast<int>(cells.size()) * (cell.height() + kGap) + kGap;
    QImage out(width, height, QImage::Format_ARGB32);
    out.fill(QColor(0xF4, 0xF4, 0xF4));
    QPainter p(&out);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(0x20, 0x20, 0x20));
    p.drawText(QRect(kGap, 0, width - 2 * kGap, kTitleHeight), Qt::AlignVCenter | Qt::AlignLeft, title);
    font.setBold(false);
    font.setPixelSize(11);
    p.setFont(font);
    for (int c = 0; c < columns; ++c) {
        const int x = kGap + kLabelWidth + c * (cell.width() + kGap);
        p.drawText(QRect(x, kTitleHeight, cell.width(), kHeaderHeight), Qt::AlignCenter, columnLabels.at(c));
    }
    for (int r = 0; r < cells.size(); ++r) {
        const int y = kTitleHeight + kHeaderHeight + r * (cell.height() + kGap);
        p.drawText(QRect(kGap, y, kLabelWidth, cell.height()), Qt::AlignVCenter | Qt::AlignLeft,
                   r < rowLabels.size() ? rowLabels.at(r) : QString());
        for (int c = 0; c < cells.at(r).size(); ++c) {
            p.drawImage(kGap + kLabelWidth + c * (cell.width() + kGap), y, cells.at(r).at(c));
        }
    }
    return out;
}

QImage DiffImage(const QImage& expected, const QImage& actual) {
    constexpr int kZoom = 4, kGap = 4;
    const QImage e = expected.convertToFormat(QImage::Format_ARGB32);
    const QImage a = actual.convertToFormat(QImage::Format_ARGB32);
    const int w = std::max(e.width(), a.width()), h = std::max(e.height(), a.height());
    QImage differences(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const bool inE = x < e.width() && y < e.height(), inA = x < a.width() && y < a.height();
            const QRgb pe = inE ? e.pixel(x, y) : 0, pa = inA ? a.pixel(x, y) : 0;
            if (inE && inA && pe == pa) {
                // Same pixel: a faint grey copy keeps the picture readable around the red ones.
                const int grey = 200 + qGray(pe) / 5;
                differences.setPixel(x, y, qRgb(grey, grey, grey));
            } else {
                differences.setPixel(x, y, qRgb(255, 0, 0));
            }
        }
    }
    QImage out((3 * w + 2) * kZoom + 2 * kGap, h * kZoom, QImage::Format_ARGB32);
    out.fill(QColor(0x80, 0x80, 0x80));
    QPainter p(&out);
    int x = 0;
    for (const QImage& part : {e, a, differences}) {
        p.drawImage(QRect(x, 0, part.width() * kZoom, part.height() * kZoom), part);
        x += w * kZoom + kGap + kZoom;
    }
    return out;
}

}  // namespace kiv::gallery
