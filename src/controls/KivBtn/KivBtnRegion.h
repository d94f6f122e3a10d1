#pragma once

#include <QRegion>

namespace kiv::controls {

// The window shape of a w x h button of the given type: the rectangle with corner pixels cut
// (types 1, 3, 4, 5, 14), the inscribed ellipse (13), or the plain rectangle.
QRegion MakeRegion(int buttonType, int w, int h);

}  // namespace kiv::controls
