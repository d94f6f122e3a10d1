#include "controls/KivBtn/KivBtnPictures.h"

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
