#pragma once

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <optional>

#include "controls/KivBtn/KivBtnColors.h"
#include "platform/raster/RasterSurface.h"

namespace kiv::controls {

struct BlitOptions {
    ColorValue mask = 0xC0C0C0;
    bool useMask = true;             // pixels in the mask colour stay background
    std::optional<ColorValue> tint;  // paint a solid silhouette instead of the picture's colours
    bool skipBright = false;         // with a tint: pixels brighter than 384 (r + g + b) stay background
    bool greyscale = false;
    bool blend = false;  // two parts picture, one part background
};

// The grey of a pixel, each product taken to the nearest integer the way the face expects.
int GreyOf(ColorValue rgb);

// One output pixel from the picture pixel and the background pixel under it.
ColorValue ComposePixel(ColorValue picture, ColorValue background, const BlitOptions& o);

// The picture's pixels on a w x h canvas of the mask colour, so transparent parts read as mask.
QImage PictureOnMask(const QImage& picture, int w, int h, ColorValue mask);

// The picture at another size, smoothly scaled. With useMask the mask colour and transparent parts
// scale as a shape of their own and come out as the mask colour again, with no blend of mask and
// picture at the edge that would show as a fringe. The same size gives the picture unchanged.
QImage ScalePicture(const QImage& picture, QSize size, ColorValue mask, bool useMask);

// A button picture, with the larger drawings of it that may sit beside its file as NAME@2x.EXT
// and NAME@3x.EXT (the names Qt gives them).
class ButtonPicture {
  public:
    ButtonPicture() = default;
    explicit ButtonPicture(const QString& path);  // an empty path or one that does not load: none

    bool isNull() const { return drawings_.isEmpty(); }
    QSize size() const { return isNull() ? QSize(0, 0) : drawings_.front().size(); }  // its logical size
    // The picture drawn at size, from the smallest drawing at least that large (else the largest);
    // made again only when the size or the mask changes.
    const QImage& At(QSize size, ColorValue mask, bool useMask);

  private:
    QList<QImage> drawings_;  // the picture first, then larger drawings of it
    QImage scaled_;
    ColorValue scaledMask_ = 0;
    bool scaledUseMask_ = true;
};

// Composes the picture over the surface at (x, y). Zero w or h draws nothing; a negative one takes
// the picture's own size.
void BlitPicture(platform::raster::Surface& target, int x, int y, int w, int h, const QImage& picture,
                 const BlitOptions& o);

}  // namespace kiv::controls
