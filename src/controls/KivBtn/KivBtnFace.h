#pragma once

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>
#include <cstdint>

#include "controls/KivBtn/KivBtnCaption.h"
#include "controls/KivBtn/KivBtnColors.h"
#include "platform/raster/RasterSurface.h"

namespace kiv::controls {

enum class FaceState : std::uint8_t { Up = 0, Down = 2 };

// Everything one paint of the face depends on, copied out of the button so the drawing can be
// checked pixel by pixel without a widget.
struct FaceParams {
    int buttonType = 2;
    int w = 0;
    int h = 0;
    FaceState state = FaceState::Up;
    bool enabled = true;
    bool isOver = false;
    bool hasFocus = false;
    bool showFocusRect = true;
    bool displayAsDefault = false;
    int colorScheme = 1;
    bool softBevel = false;
    int specialEffect = 0;
    ColorSet colors;  // for a hover paint in scheme 2 already derived from BackOver
    ColorValue clearColor = 0;

    QString caption;
    QFont font;
    Rect faceRect;
    CaptionLayout layout;
    int picturePosition = 0;

    QImage pictureNormal;  // null when none
    QImage pictureOver;
    QPoint picturePos;
    QSize pictureSize;
    bool useMaskColor = true;
    bool useGreyscale = false;

    QImage background;         // what lies behind a see-through (type 11) button
    int lastCaptionStyle = 0;  // style of the previous caption drawing
};

// Paints the whole face onto the surface (already sized w x h). Returns the last caption style used.
int PaintFace(platform::raster::Surface& s, const FaceParams& p);

}  // namespace kiv::controls
