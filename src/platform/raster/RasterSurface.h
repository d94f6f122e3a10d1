#pragma once

#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>
#include <cstdint>

namespace kiv::platform::raster {

// 0x00BBGGRR: red in the low byte. Turned into Qt's ARGB only inside this file's implementation.
using Rgb = std::uint32_t;

QRgb ToQRgb(Rgb colour);
Rgb FromQRgb(QRgb argb);

// Left, top, right, bottom with right and bottom exclusive.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    Rect Moved(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    QRect ToQRect() const { return QRect(left, top, right - left, bottom - top); }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// An image that keeps its pixels between paints. Everything drawn is clipped to it. Every drawing
// call works in the image's own pixels; the ratio only tells whoever shows the image how many of
// them make one logical pixel.
class Surface {
  public:
    Surface() = default;
    Surface(int width, int height, qreal ratio = 1.0);

    void Resize(int width, int height, qreal ratio = 1.0);  // the content is undefined afterwards
    int Width() const { return image_.width(); }
    int Height() const { return image_.height(); }
    qreal Ratio() const { return image_.isNull() ? 1.0 : image_.devicePixelRatio(); }
    bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < Width() && y < Height(); }

    Rgb Pixel(int x, int y) const;  // 0 outside the surface
    QImage& Image() { return image_; }
    const QImage& Image() const { return image_; }

  private:
    QImage image_;
};

void Clear(Surface& s, Rgb colour);
void PutPixel(Surface& s, int x, int y, Rgb colour);

// frameOnly false fills (x, y, w, h); true draws a one-pixel border just inside it.
void DrawBox(Surface& s, int x, int y, int w, int h, Rgb colour, bool frameOnly);

// From (x1, y1) towards (x2, y2); the end point itself is not painted.
void DrawLine(Surface& s, int x1, int y1, int x2, int y2, Rgb colour);

// The ellipse inscribed in (x, y, w, h): filled, then outlined with a 2-pixel pen.
void DrawOval(Surface& s, int x, int y, int w, int h, Rgb outline, Rgb fill);

// Dotted rectangle drawn by inverting every other pixel of its border; drawing it twice undoes it.
void InvertFocusRect(Surface& s, const Rect& r);

// Word-wrapped, horizontally centred text with "&" marking the underlined access character.
// A caption that fits on one line is also centred vertically; wrapped text starts at the top.
void DrawText(Surface& s, const Rect& r, const QString& text, const QFont& font, Rgb colour);

// The extent of the text wrapped at r's width, placed at r's top-left (right and bottom set to the
// text's extent). An empty text measures to an empty rectangle.
Rect MeasureText(const Rect& r, const QString& text, const QFont& font);

// Copies src pixel for pixel (from its top-left) to (x, y), whatever ratio src carries.
void CopyBlock(Surface& s, int x, int y, const QImage& src);

// The w x h pixels at (x, y) as an RGB32 image; pixels outside the surface read as black.
QImage ReadBlock(const Surface& s, int x, int y, int w, int h);

}  // namespace kiv::platform::raster
