#include "controls/KivBtn/KivBtnPictures.h"

#include <QFileInfo>
#include <QPainter>
#include <cmath>

namespace kiv::controls {

namespace raster = platform::raster;

namespace {
int R(ColorValue c) {
    return static_cast<int>(c & 0xFF);
}
int G(ColorValue c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
int B(ColorValue c) {
    return static_cast<int>((c >> 16) & 0xFF);
}
ColorValue Pack(int r, int g, int b) {
    return static_cast<ColorValue>(r) | (static_cast<ColorValue>(g) << 8) |
           (static_cast<ColorValue>(b) << 16);
}
}  // namespace

int GreyOf(ColorValue rgb) {
    const double inner = std::nearbyint(R(rgb) * 0.3);
    const int grey = static_cast<int>(std::nearbyint(inner + G(rgb) * 0.59 + B(rgb) * 0.11));
    return grey > 255 ? 255 : grey;
}

ColorValue ComposePixel(ColorValue picture, ColorValue background, const BlitOptions& o) {
    // True colour surface: the nearest colour the surface can show is the pixel itself.
    if (o.useMask && picture == (o.mask & 0xFFFFFF)) return background;
    if (o.tint) {
        if (o.skipBright && R(picture) + G(picture) + B(picture) > 384) return background;
        return *o.tint & 0xFFFFFF;
    }
    if (o.greyscale) {
        const int g = GreyOf(picture);
        return Pack(g, g, g);
    }
    if (o.blend) {
        return Pack((2 * R(picture) + R(background)) / 3, (2 * G(picture) + G(background)) / 3,
                    (2 * B(picture) + B(background)) / 3);
    }
    return picture;
}

QImage PictureOnMask(const QImage& picture, int w, int h, ColorValue mask) {
    QImage canvas(w, h, QImage::Format_RGB32);
    canvas.fill(raster::ToQRgb(mask));
    QPainter p(&canvas);
    p.drawImage(0, 0, picture);
    return canvas;
}

QImage ScalePicture(const QImage& picture, QSize size, ColorValue mask, bool useMask) {
    if (picture.isNull() || picture.size() == size) return picture;
    if (size.isEmpty()) return {};
    QImage shape = picture.convertToFormat(QImage::Format_ARGB32);
    if (useMask) {
        const QRgb maskRgb = raster::ToQRgb(mask);
        for (int y = 0; y < shape.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(shape.scanLine(y));
            for (int x = 0; x < shape.width(); ++x) {
                if ((row[x] | 0xFF000000u) == maskRgb) row[x] = 0;
            }
        }
    }
    // Premultiplied, so the colours of transparent pixels do not bleed into their neighbours.
    const QImage scaled = shape.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                              .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (!useMask) return PictureOnMask(scaled, size.width(), size.height(), mask);
    QImage out(size, QImage::Format_RGB32);
    const QImage straight = scaled.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(straight.constScanLine(y));
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            dst[x] = qAlpha(src[x]) >= 128 ? (src[x] | 0xFF000000u) : raster::ToQRgb(mask);
        }
    }
    return out;
}

ButtonPicture::ButtonPicture(const QString& path) {
    if (path.isEmpty()) return;
    const QImage own(path);
    if (own.isNull()) return;
    drawings_ << own;
    const QFileInfo file(path);
    const QString suffix = file.suffix().isEmpty() ? QString() : QStringLiteral(".") + file.suffix();
    for (int n = 2; n <= 3; ++n) {
        const QImage larger(file.path() +
                            QStringLiteral("/%1@%2x%3").arg(file.completeBaseName()).arg(n).arg(suffix));
        if (!larger.isNull() && larger.width() > drawings_.back().width()) drawings_ << larger;
    }
}

const QImage& ButtonPicture::At(QSize size, ColorValue mask, bool useMask) {
    static const QImage none;
    if (isNull()) return none;
    if (size == drawings_.front().size()) return drawings_.front();
    if (scaled_.size() == size && scaledMask_ == mask && scaledUseMask_ == useMask) return scaled_;
    const QImage* from = &drawings_.back();
    for (const QImage& d : drawings_) {
        if (d.width() >= size.width() && d.height() >= size.height()) {
            from = &d;
            break;
        }
    }
    scaled_ = ScalePicture(*from, size, mask, useMask);
    scaledMask_ = mask;
    scaledUseMask_ = useMask;
    return scaled_;
}

void BlitPicture(raster::Surface& target, int x, int y, int w, int h, const QImage& picture,
                 const BlitOptions& o) {
    if (w == 0 || h == 0 || picture.isNull()) return;
    if (w < 0) w = picture.width();
    if (h < 0) h = picture.height();
    const QImage pic = PictureOnMask(picture, w, h, o.mask);
    QImage out = raster::ReadBlock(target, x, y, w, h);
    for (int yy = 0; yy < h; ++yy) {
        const auto* src = reinterpret_cast<const QRgb*>(pic.constScanLine(yy));
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(yy));
        for (int xx = 0; xx < w; ++xx) {
            const ColorValue p = raster::FromQRgb(src[xx]);
            const ColorValue bg = raster::FromQRgb(dst[xx]);
            dst[xx] = raster::ToQRgb(ComposePixel(p, bg, o));
        }
    }
    raster::CopyBlock(target, x, y, out);
}

}  // namespace kiv::controls
