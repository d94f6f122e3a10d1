#pragma once

#include <QImage>
#include <QSize>
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

// Composes the picture over the surface at (x, y). Zero w or h draws nothing; a negative one takes
// the picture's own size.
void BlitPicture(platform::raster::Surface& target, int x, int y, int w, int h, const QImage& picture,
                 const BlitOptions& o);

}  // namespace kiv::controls
