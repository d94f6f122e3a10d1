#include "platform/raster/RasterSurface.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cstdlib>

namespace kiv::platform::raster {

namespace {

constexpr int kTextFlags = Qt::AlignHCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;

QFont Aliased(const QFont& font) {
    QFont f(font);
    f.setStyleStrategy(QFont::NoAntialias);
    return f;
}

QColor ToQColor(Rgb colour) {
    return QColor::fromRgb(ToQRgb(colour));
}

// A painter on the image's own pixels: Qt would scale everything by the image's ratio.
class PixelPainter {
  public:
    explicit PixelPainter(QImage& image) : image_(image), ratio_(image.devicePixelRatio()) {
        image_.setDevicePixelRatio(1.0);
        painter_.begin(&image_);
    }
    ~PixelPainter() {
        painter_.end();
        image_.setDevicePixelRatio(ratio_);
    }
    PixelPainter(const PixelPainter&) = delete;
    PixelPainter& operator=(const PixelPainter&) = delete;
    QPainter* operator->() { return &painter_; }

  private:
    QImage& image_;
    qreal ratio_;
    QPainter painter_;
};

}  // namespace

QRgb ToQRgb(Rgb colour) {
    return qRgb(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                static_cast<int>((colour >> 16) & 0xFF));
}

Rgb FromQRgb(QRgb argb) {
    return static_cast<Rgb>(qRed(argb)) | (static_cast<Rgb>(qGreen(argb)) << 8) |
           (static_cast<Rgb>(qBlue(argb)) << 16);
}

Surface::Surface(int width, int height, qreal ratio) {
    Resize(width, height, ratio);
}

void Surface::Resize(int width, int height, qreal ratio) {
    if (width <= 0 || height <= 0) {
        image_ = QImage();
        return;
    }
    if (image_.width() != width || image_.height() != height)
        image_ = QImage(width, height, QImage::Format_RGB32);
    image_.setDevicePixelRatio(ratio);
}

Rgb Surface::Pixel(int x, int y) const {
    return Contains(x, y) ? FromQRgb(image_.pixel(x, y)) : 0;
}

void Clear(Surface& s, Rgb colour) {
    if (!s.Image().isNull()) s.Image().fill(ToQRgb(colour));
}

void PutPixel(Surface& s, int x, int y, Rgb colour) {
    if (s.Contains(x, y)) s.Image().setPixel(x, y, ToQRgb(colour));
}

void DrawBox(Surface& s, int x, int y, int w, int h, Rgb colour, bool frameOnly) {
    if (w <= 0 || h <= 0 || s.Image().isNull()) return;
    const QRgb c = ToQRgb(colour);
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min(x + w, s.Width()), y1 = std::min(y + h, s.Height());
    QImage& img = s.Image();
    for (int yy = y0; yy < y1; ++yy) {
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(yy));
        const bool edgeRow = yy == y || yy == y + h - 1;
        for (int xx = x0; xx < x1; ++xx) {
            if (!frameOnly || edgeRow || xx == x || xx == x + w - 1) row[xx] = c;
        }
    }
}

void DrawLine(Surface& s, int x1, int y1, int x2, int y2, Rgb colour) {
    // Bresenham, stopping one step short of the end point.
    const int dx = std::abs(x2 - x1), dy = -std::abs(y2 - y1);
    const int sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1;
    int err = dx + dy;
    int x = x1, y = y1;
    while (x != x2 || y != y2) {
        PutPixel(s, x, y, colour);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

void DrawOval(Surface& s, int x, int y, int w, int h, Rgb outline, Rgb fill) {
    if (w <= 0 || h <= 0 || s.Image().isNull()) return;
    PixelPainter p(s.Image());
    p->setRenderHint(QPainter::Antialiasing, false);
    p->setPen(QPen(ToQColor(outline), 2));
    p->setBrush(ToQColor(fill));
    p->drawEllipse(QRectF(x + 1, y + 1, w - 2, h - 2));
}

void InvertFocusRect(Surface& s, const Rect& r) {
    if (r.Width() <= 0 || r.Height() <= 0) return;
    auto flip = [&s](int x, int y) {
        if (s.Contains(x, y) && (x + y) % 2 == 0) {
            s.Image().setPixel(x, y, s.Image().pixel(x, y) ^ 0x00FFFFFFu);
        }
    };
    for (int x = r.left; x < r.right; ++x) {
        flip(x, r.top);
        if (r.bottom - 1 != r.top) flip(x, r.bottom - 1);
    }
    for (int y = r.top + 1; y < r.bottom - 1; ++y) {
        flip(r.left, y);
        if (r.right - 1 != r.left) flip(r.right - 1, y);
    }
}

Rect MeasureText(const Rect& r, const QString& text, const QFont& font) {
    if (text.isEmpty()) return {r.left, r.top, r.left, r.top};
    const QFontMetrics fm(Aliased(font));
    const QRect br =
        fm.boundingRect(QRect(r.left, r.top, std::max(r.Width(), 1), 1 << 20),
                        Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap | Qt::TextShowMnemonic, text);
    return {r.left, r.top, r.left + br.width(), r.top + br.height()};
}

void DrawText(Surface& s, const Rect& r, const QString& text, const QFont& font, Rgb colour) {
    if (text.isEmpty() || s.Image().isNull()) return;
    const QFont f = Aliased(font);
    const QFontMetrics fm(f);
    const QRect single = fm.boundingRect(QRect(0, 0, 1 << 20, 1 << 20), Qt::TextShowMnemonic, text);
    const bool oneLine = !text.contains(QLatin1Char('\n')) && single.width() <= r.Width();
    PixelPainter p(s.Image());
    p->setRenderHint(QPainter::TextAntialiasing, false);
    p->setFont(f);
    p->setPen(ToQColor(colour));
    p->drawText(r.ToQRect(), kTextFlags | (oneLine ? Qt::AlignVCenter : Qt::AlignTop), text);
}

void CopyBlock(Surface& s, int x, int y, const QImage& src) {
    if (src.isNull() || s.Image().isNull()) return;
    PixelPainter p(s.Image());
    p->setCompositionMode(QPainter::CompositionMode_Source);
    p->drawImage(QRect(x, y, src.width(), src.height()), src, src.rect());
}

QImage ReadBlock(const Surface& s, int x, int y, int w, int h) {
    QImage out(std::max(w, 0), std::max(h, 0), QImage::Format_RGB32);
    out.fill(Qt::black);
    for (int yy = 0; yy < h; ++yy) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(yy));
        for (int xx = 0; xx < w; ++xx) {
            if (s.Contains(x + xx, y + yy)) row[xx] = s.Image().pixel(x + xx, y + yy);
        }
    }
    return out;
}

}  // namespace kiv::platform::raster
