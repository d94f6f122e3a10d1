#pragma once

#include <QChar>
#include <QPoint>
#include <QSize>
#include <QString>
#include <functional>

#include "platform/raster/RasterSurface.h"

namespace kiv::controls {

using platform::raster::Rect;

struct CaptionLayout {
    Rect captionRect;
    Rect pressedRect;  // captionRect moved one pixel right and down
    int textWidth = 0;
    int textHeight = 0;
};

// Gives the extent of the caption wrapped at the rectangle's width, placed at its top-left.
using MeasureFn = std::function<Rect(const Rect&)>;

// Places the caption beside, above, below or behind the picture (picturePosition 0..4) on a w x h
// face. Any other position measures in the previous rectangle and leaves it where it was.
CaptionLayout LayoutCaption(int w, int h, int picturePosition, QSize pictureSize, const MeasureFn& measure,
                            const CaptionLayout& previous);

struct PictureInputs {
    bool hasPicture = false;  // either picture is set
    QString caption;
    int picturePosition = 0;
    Rect captionRect;
    QSize pictureSize;
    int w = 0;
    int h = 0;
};

// Where the picture's top-left goes; an unknown position keeps the previous place.
QPoint PlacePicture(const PictureInputs& in, QPoint previous);

// The access character the first usable "&" of the caption marks, in lower case; null when none.
QChar AccessKeyOf(const QString& caption);

}  // namespace kiv::controls
