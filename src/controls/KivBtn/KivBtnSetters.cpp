// Property setters: store the value, recompute what depends on it, repaint, send the change notice.
#include <QCursor>
#include <cmath>
#include <limits>

#include "controls/KivBtn/KivBtn.h"
#include "controls/KivBtn/KivBtnAccessible.h"

namespace kiv::controls {

namespace {

// The hand pointer is part of the control, so it is compiled in rather than read from resources.
#include "icons/hand.xpm"

Qt::CursorShape ShapeOf(int pointer) {
    switch (pointer) {
        case 2:
            return Qt::CrossCursor;
        case 3:
            return Qt::IBeamCursor;
        case 5:
        case 15:
            return Qt::SizeAllCursor;
        case 6:
            return Qt::SizeBDiagCursor;
        case 7:
            return Qt::SizeVerCursor;
        case 8:
            return Qt::SizeFDiagCursor;
        case 9:
            return Qt::SizeHorCursor;
        case 10:
            return Qt::UpArrowCursor;
        case 11:
            return Qt::WaitCursor;
        case 12:
            return Qt::ForbiddenCursor;
        case 13:
            return Qt::BusyCursor;
        case 14:
            return Qt::WhatsThisCursor;
        default:
            return Qt::ArrowCursor;
    }
}

}  // namespace

void KivBtn::SetBackColor(ColorValue value) {
    backColor_ = value;
    if (!userMode_) backOver_ = value;
    SetColors();
    Repaint();
    emit PropertyChanged(QStringLiteral("BCOL"));
}

void KivBtn::SetBackOver(ColorValue value) {
    backOver_ = value;
    SetColors();
    Repaint();
    emit PropertyChanged(QStringLiteral("BCOLO"));
}

void KivBtn::SetForeColor(ColorValue value) {
    foreColor_ = value;
    if (!userMode_) foreOver_ = value;
    SetColors();
    Repaint();
    emit PropertyChanged(QStringLiteral("FCOL"));
}

void KivBtn::SetForeOver(ColorValue value) {
    foreOver_ = value;
    SetColors();
    Repaint();
    emit PropertyChanged(QStringLiteral("FCOLO"));
}

void KivBtn::SetMaskColor(ColorValue value) {
    maskColor_ = value;
    SetColors();
    Repaint();
    emit PropertyChanged(QStringLiteral("MCOL"));
}

void KivBtn::SetButtonType(int value) {
    buttonType_ = value;
    if (value == 5 && !userMode_) {
        SetFontBold(true);
    } else if (value == 11 && canRefresh_) {
        CaptureBackground();
    }
    SetColors();  // the pale face colour depends on the type
    ResizeFace();
    emit PropertyChanged(QStringLiteral("BTYPE"));
}

void KivBtn::SetCaption(const QString& value) {
    caption_ = value;
    SetAccessKey();
    CalcCaptionRect();
    RepaintUp();
    AnnounceNameChange(this);
    emit PropertyChanged(QStringLiteral("TX"));
}

void KivBtn::SetEnabled(bool value) {
    enabled_ = value;
    RepaintUp();
    setEnabled(value);
    emit PropertyChanged(QStringLiteral("ENAB"));
}

void KivBtn::ChangeFont(const QFont& f) {
    setFont(f);  // FontChange lays the caption out again and repaints
}

void KivBtn::SetFont(const QFont& value) {
    ChangeFont(value);
    emit PropertyChanged(QStringLiteral("FONT"));
}

void KivBtn::SetFontBold(bool value) {
    QFont f = font();
    f.setBold(value);
    ChangeFont(f);
}

void KivBtn::SetFontItalic(bool value) {
    QFont f = font();
    f.setItalic(value);
    ChangeFont(f);
}

void KivBtn::SetFontUnderline(bool value) {
    QFont f = font();
    f.setUnderline(value);
    ChangeFont(f);
}

std::int16_t KivBtn::FontSize() const {
    const double size = font().pointSizeF() > 0 ? font().pointSizeF() : font().pixelSize() * 0.75;
    return static_cast<std::int16_t>(std::nearbyint(size));
}

void KivBtn::SetFontSize(std::int16_t points) {
    if (points <= 0) return;  // a font cannot be made smaller than nothing
    QFont f = font();
    f.setPointSize(points);
    ChangeFont(f);
}

void KivBtn::SetFontName(const QString& value) {
    QFont f = font();
    f.setFamily(value);
    ChangeFont(f);
}

void KivBtn::SetColorScheme(int value) {
    colorScheme_ = value;
    SetColors();
    RepaintUp();
    emit PropertyChanged(QStringLiteral("COLTYPE"));
}

void KivBtn::SetShowFocusRect(bool value) {
    showFocusRect_ = value;
    Repaint();
    emit PropertyChanged(QStringLiteral("FOCUSR"));
}

bool KivBtn::SetMousePointer(int value) {
    if (value < std::numeric_limits<std::int16_t>::min() ||
        value > std::numeric_limits<std::int16_t>::max()) {
        return false;
    }
    mousePointer_ = static_cast<std::int16_t>(value);
    ApplyPointer();
    emit PropertyChanged(QStringLiteral("MPTR"));
    return true;
}

void KivBtn::SetMouseIcon(const QString& path) {
    mouseIconPath_ = path;
    mouseIcon_ = path == kHandPointerPicture ? HandPointerImage() : QPixmap(path);
    ApplyPointer();
    emit PropertyChanged(QStringLiteral("MICON"));
}

void KivBtn::SetHandPointer(bool value) {
    handPointer_ = value;
    if (value) {
        mouseIconPath_ = kHandPointerPicture;
        mouseIcon_ = HandPointerImage();
        mousePointer_ = kPointerCustom;
    } else {
        mouseIconPath_.clear();
        mouseIcon_ = QPixmap();
        mousePointer_ = kPointerArrow;
    }
    ApplyPointer();
    emit PropertyChanged(QStringLiteral("HAND"));
}

void KivBtn::SetSoftBevel(bool value) {
    softBevel_ = value;
    SetColors();
    Repaint();
    emit PropertyChanged(QStringLiteral("SOFT"));
}

void KivBtn::SetPictureNormal(const QString& path) {
    pictureNormalPath_ = path;
    pictureNormal_ = ButtonPicture(path);
    GetPictureSize();
    CalcCaptionRect();
    Repaint();
    emit PropertyChanged(QStringLiteral("PICN"));
}

void KivBtn::SetPictureOver(const QString& path) {
    pictureOverPath_ = path;
    pictureOver_ = ButtonPicture(path);
    if (isOver_) Repaint();
    emit PropertyChanged(QStringLiteral("PICO"));
}

void KivBtn::SetPicturePosition(int value) {
    picturePosition_ = value;
    emit PropertyChanged(QStringLiteral("PICPOS"));
    CalcCaptionRect();
    Repaint();
}

void KivBtn::SetUseMaskColor(bool value) {
    useMaskColor_ = value;
    if (!pictureNormal_.isNull()) Repaint();
    emit PropertyChanged(QStringLiteral("UMCOL"));
}

void KivBtn::SetUseGreyscale(bool value) {
    useGreyscale_ = value;
    if (!pictureNormal_.isNull()) Repaint();
    emit PropertyChanged(QStringLiteral("NGREY"));
}

void KivBtn::SetSpecialEffect(int value) {
    specialEffect_ = value;
    Repaint();
    emit PropertyChanged(QStringLiteral("FX"));
}

void KivBtn::SetCheckBoxBehaviour(bool value) {
    checkBox_ = value;
    Repaint();
    emit PropertyChanged(QStringLiteral("CHECK"));
}

void KivBtn::SetValue(bool value) {
    value_ = value;
    if (checkBox_) RepaintUp();
    AnnounceValueChange(this);
    emit PropertyChanged(QStringLiteral("VALUE"));
}

void KivBtn::SetDisplayAsDefault(bool value) {
    displayAsDefault_ = value;
    Repaint();
}

void KivBtn::ApplyPointer() {
    if (mousePointer_ == kPointerDefault) {
        unsetCursor();
    } else if (mousePointer_ == kPointerCustom) {
        if (mouseIcon_.isNull()) {
            unsetCursor();
        } else if (mouseIconPath_ == kHandPointerPicture) {
            setCursor(QCursor(mouseIcon_, HandPointerHotSpot().x(), HandPointerHotSpot().y()));
        } else {
            setCursor(QCursor(mouseIcon_, 0, 0));
        }
    } else {
        setCursor(ShapeOf(mousePointer_));
    }
}

QPixmap KivBtn::HandPointerImage() {
    return QPixmap(hand_xpm);
}

}  // namespace kiv::controls
