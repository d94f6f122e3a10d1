#include "controls/KivBtn/KivBtnCaption.h"

namespace kiv::controls {

CaptionLayout LayoutCaption(int w, int h, int picturePosition, QSize pictureSize, const MeasureFn& measure,
                            const CaptionLayout& previous) {
    const int pw = pictureSize.width(), ph = pictureSize.height();
    Rect measuring;
    switch (picturePosition) {
        case 0:
            measuring = {pw + 1, 1, w - 2, h - 2};
            break;
        case 1:
            measuring = {1, 1, w - pw - 2, h - 2};
            break;
        case 2:
            measuring = {1, ph + 1, w - 2, h - 2};
            break;
        case 3:
            measuring = {1, 1, w - 2, h - ph - 2};
            break;
        case 4:
            measuring = {1, 1, w - 2, h - 2};
            break;
        default:
            measuring = previous.pressedRect;
            break;
    }
    CaptionLayout out;
    Rect r = measure(measuring);
    out.textWidth = r.Width();
    out.textHeight = r.Height();
    int dx = 0, dy = 0;
    switch (picturePosition) {
        case 1:
            dx = (w - r.right - pw - 4) / 2;
            dy = (h - r.bottom) / 2;
            break;
        case 3:
            dx = (w - r.right) / 2;
            dy = (h - r.bottom - ph - 4) / 2;
            break;
        case 0:
        case 2:
        case 4:
            dx = (w - r.right) / 2;
            dy = (h - r.bottom) / 2;
            break;
        default:
            break;
    }
    out.captionRect = r.Moved(dx, dy);
    out.pressedRect = out.captionRect.Moved(1, 1);
    return out;
}

QPoint PlacePicture(const PictureInputs& in, QPoint previous) {
    if (!in.hasPicture) return previous;
    const int pw = in.pictureSize.width(), ph = in.pictureSize.height();
    const QPoint centred((in.w - pw) / 2, (in.h - ph) / 2);
    if (in.caption.trimmed().isEmpty() || in.picturePosition == 4) return centred;
    const Rect& c = in.captionRect;
    switch (in.picturePosition) {
        case 0:
            return {c.left - pw - 4, (in.h - ph) / 2};
        case 1:
            return {c.right + 4, (in.h - ph) / 2};
        case 2:
            return {(in.w - pw) / 2, c.top - ph - 2};
        case 3:
            return {(in.w - pw) / 2, c.bottom + 2};
        default:
            return previous;
    }
}

QChar AccessKeyOf(const QString& caption) {
    if (caption.size() <= 1) return {};
    const qsizetype p = caption.indexOf(QLatin1Char('&'));
    if (p < 0 || p == caption.size() - 1) return {};
    if (caption[p + 1] != QLatin1Char('&')) return caption[p + 1].toLower();
    // "&&" is a literal ampersand; only the next "&" after it is looked at.
    const qsizetype q = caption.indexOf(QLatin1Char('&'), p + 2);
    if (q < 0 || q == caption.size() - 1 || caption[q + 1] == QLatin1Char('&')) return {};
    return caption[q + 1].toLower();
}

}  // namespace kiv::controls
