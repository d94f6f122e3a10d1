#include "controls/KivBtn/KivBtnRegion.h"

#include <initializer_list>
#include <utility>

namespace kiv::controls {

QRegion MakeRegion(int buttonType, int w, int h) {
    if (w <= 0 || h <= 0) return QRegion();
    const QRect all(0, 0, w, h);
    if (buttonType == 13) return QRegion(all, QRegion::Ellipse);
    QRegion region(all);
    auto cut = [&region](std::initializer_list<std::pair<int, int>> pixels) {
        for (const auto& [x, y] : pixels) region -= QRegion(x, y, 1, 1);
    };
    switch (buttonType) {
        case 1:
        case 14:
            cut({{0, 0}, {w - 1, h - 1}});
            [[fallthrough]];
        case 5:
            cut({{0, h - 1}, {w - 1, 0}});
            break;
        case 3:
        case 4:
            cut({{0, 0}, {1, 0}, {0, 1}});
            cut({{0, h - 1}, {1, h - 1}, {0, h - 2}});
            cut({{w - 2, 0}, {w - 1, 0}, {w - 1, 1}});
            cut({{w - 2, h - 1}, {w - 1, h - 1}, {w - 1, h - 2}});
            break;
        default:
            break;
    }
    return region;
}

}  // namespace kiv::controls
