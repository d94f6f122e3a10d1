// Life cycle, the layout and colour work behind each paint, DrawButton, and show, hide and resize.
#include "controls/KivBtn/KivBtn.h"

#include <QEvent>
#include <QKeySequence>
#include <QPainter>
#include <algorithm>

#include "controls/KivBtn/KivBtnAccessible.h"
#include "controls/KivBtn/KivBtnRegion.h"

namespace kiv::controls {

KivBtn::KivBtn(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    overTimer_.setInterval(3);
    connect(&overTimer_, &QTimer::timeout, this, &KivBtn::OverTick);
    InstallKivBtnAccessibility();
    // A button that is neither initialised nor loaded by its host still gets usable colours.
    InitProperties(QString());
}

KivBtn::~KivBtn() {
    canRefresh_ = false;
}

void KivBtn::DisableRefresh() {
    canRefresh_ = false;
}

void KivBtn::Refresh() {
    if (buttonType_ == 11) CaptureBackground();
    SetColors();
    CalcCaptionRect();
    canRefresh_ = true;
    Repaint();
}

ColorSet KivBtn::ColorsFor(ColorValue backColor) const {
    ColorInputs in;
    in.scheme = colorScheme_;
    in.buttonType = buttonType_;
    in.softBevel = softBevel_;
    in.backColor = backColor;
    in.foreColor = foreColor_;
    in.foreOver = foreOver_;
    in.maskColor = maskColor_;
    const QWidget* container = parentWidget() ? parentWidget() : this;
    in.containerBack = FromQColor(container->palette().color(container->backgroundRole()));
    in.containerText = FromQColor(container->palette().color(container->foregroundRole()));
    in.system = CurrentSystemColors();
    return MakeColorSet(in);
}

void KivBtn::SetColors() {
    colors_ = ColorsFor(backColor_);
}

QSize KivBtn::DrawnSize(QSize own) const {
    return {qRound(own.width() * ratio_), qRound(own.height() * ratio_)};
}

void KivBtn::GetPictureSize() {
    pictureSize_ = DrawnSize(pictureNormal_.size());
}

QFont KivBtn::FaceFont() const {
    QFont f = font();
    if (ratio_ == 1.0) return f;
    if (f.pointSizeF() > 0) {
        f.setPointSizeF(f.pointSizeF() * ratio_);
    } else if (f.pixelSize() > 0) {
        f.setPixelSize(qRound(f.pixelSize() * ratio_));
    }
    return f;
}

void KivBtn::CalcCaptionRect() {
    const QFont f = FaceFont();
    const QString text = caption_;
    auto measure = [&f, &text](const Rect& r) { return platform::raster::MeasureText(r, text, f); };
    layout_ = LayoutCaption(buttonWidth_, buttonHeight_, picturePosition_, pictureSize_, measure, layout_);
    PictureInputs in;
    in.hasPicture = !pictureNormal_.isNull() || !pictureOver_.isNull();
    in.caption = caption_;
    in.picturePosition = picturePosition_;
    in.captionRect = layout_.captionRect;
    in.pictureSize = pictureSize_;
    in.w = buttonWidth_;
    in.h = buttonHeight_;
    picturePos_ = PlacePicture(in, picturePos_);
}

void KivBtn::SetAccessKey() {
    if (accessKeyId_ != 0) {
        releaseShortcut(accessKeyId_);
        accessKeyId_ = 0;
    }
    accessKey_ = AccessKeyOf(caption_);
    if (accessKey_.isNull()) return;
    accessKeyId_ = grabShortcut(QKeySequence::mnemonic(QStringLiteral("&") + accessKey_), Qt::WindowShortcut);
}

QSize KivBtn::DeviceSize(qreal ratio) const {
    // Qt gives a widget the device pixels from round(left r) up to round(right r) of its window,
    // which at a fractional ratio may be one more or fewer than round(width r).
    const QPoint at = isWindow() ? QPoint() : mapTo(window(), QPoint(0, 0));
    auto span = [ratio](int from, int length) {
        return qRound((from + length) * ratio) - qRound(from * ratio);
    };
    return {span(at.x(), width()), span(at.y(), height())};
}

bool KivBtn::DeviceChanged() const {
    const qreal r = devicePixelRatioF();
    return r != ratio_ || DeviceSize(r) != QSize(buttonWidth_, buttonHeight_);
}

void KivBtn::LayOutFace() {
    ratio_ = devicePixelRatioF();
    const QSize device = DeviceSize(ratio_);
    buttonWidth_ = device.width();
    buttonHeight_ = device.height();
    Rect face{0, 0, buttonWidth_, buttonHeight_};
    if (buttonType_ >= 7 && buttonType_ <= 13) {
        face = {face.left + 3, face.top + 3, face.right - 3, face.bottom - 3};
    } else if (buttonType_ == 14) {
        face = Rect{face.left + 5, face.top + 5, face.right - 5, face.bottom - 5}.Moved(1, 1);
    } else {
        face = {face.left + 4, face.top + 4, face.right - 4, face.bottom - 4};
    }
    faceRect_ = face;
    surface_.Resize(buttonWidth_, buttonHeight_, ratio_);
    GetPictureSize();
    CalcCaptionRect();
}

void KivBtn::ResizeFace() {
    if (busyCapturing_) return;
    LayOutFace();
    // A window region has the resolution of the logical pixels.
    region_ = MakeRegion(buttonType_, width(), height());
    if (region_.isEmpty()) {
        clearMask();
    } else {
        setMask(region_);
    }
    if (buttonHeight_ != 0) RepaintUp();
}

void KivBtn::FollowDevice() {
    if (busyCapturing_ || !DeviceChanged()) return;
    LayOutFace();
    if (buttonType_ == 11 && canRefresh_) CaptureBackground();
    Repaint();
}

void KivBtn::CaptureBackground() {
    // Our windows are composited: read the parent's own image instead of hiding the button.
    busyCapturing_ = true;
    const qreal r = devicePixelRatioF();
    const QSize device = DeviceSize(r);
    QImage bg(std::max(device.width(), 1), std::max(device.height(), 1), QImage::Format_RGB32);
    bg.setDevicePixelRatio(r);
    QWidget* parent = parentWidget();
    bg.fill(parent ? parent->palette().color(parent->backgroundRole()) : palette().color(QPalette::Window));
    if (parent && width() > 0 && height() > 0) {
        parent->render(&bg, QPoint(), QRegion(geometry()),
                       QWidget::DrawWindowBackground | QWidget::DrawChildren);
    }
    bg.setDevicePixelRatio(1.0);  // the face copies it pixel for pixel
    background_ = bg;
    busyCapturing_ = false;
}

void KivBtn::DrawButton(FaceState state, bool force) {
    if (checkBox_ && value_) state = FaceState::Down;
    if (!force && caption_ == drawnCaption_ && state == drawnState_) return;
    if (buttonHeight_ == 0 || !canRefresh_ || surface_.Image().isNull()) return;
    drawnState_ = state;
    drawnCaption_ = caption_;

    FaceParams p;
    p.buttonType = buttonType_;
    p.w = buttonWidth_;
    p.h = buttonHeight_;
    p.state = state;
    p.enabled = enabled_ && isEnabled();
    p.isOver = isOver_;
    p.hasFocus = hasFocus_;
    p.showFocusRect = showFocusRect_;
    p.displayAsDefault = displayAsDefault_;
    p.colorScheme = colorScheme_;
    p.softBevel = softBevel_;
    p.specialEffect = specialEffect_;
    // The hover look of the custom scheme derives every colour from BackOver, for this paint only.
    p.colors = isOver_ && colorScheme_ == 2 ? ColorsFor(backOver_) : colors_;
    const QWidget* container = parentWidget() ? parentWidget() : this;
    p.clearColor = FromQColor(container->palette().color(container->backgroundRole()));
    p.caption = caption_;
    p.font = FaceFont();
    p.faceRect = faceRect_;
    p.layout = layout_;
    p.picturePosition = picturePosition_;
    p.pictureNormal = pictureNormal_.At(pictureSize_, p.colors.mask, useMaskColor_);
    p.pictureOver = pictureOver_.At(DrawnSize(pictureOver_.size()), p.colors.mask, useMaskColor_);
    p.picturePos = picturePos_;
    p.pictureSize = pictureSize_;
    p.useMaskColor = useMaskColor_;
    p.useGreyscale = useGreyscale_;
    p.background = background_;
    p.lastCaptionStyle = lastCaptionStyle_;
    lastCaptionStyle_ = PaintFace(surface_, p);
    ++paintCount_;
    update();
}

void KivBtn::paintEvent(QPaintEvent*) {
    if (busyCapturing_ || surface_.Image().isNull()) return;
    // Shown at a ratio or a place no event told of: this paint shows the old face, the next the new.
    if (DeviceChanged()) QMetaObject::invokeMethod(this, &KivBtn::FollowDevice, Qt::QueuedConnection);
    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), surface_.Image());
}

void KivBtn::changeEvent(QEvent* e) {
    switch (e->type()) {
        case QEvent::EnabledChange:
            enabled_ = !testAttribute(Qt::WA_ForceDisabled);
            RepaintUp();
            break;
        case QEvent::FontChange:
            CalcCaptionRect();
            RepaintUp();
            break;
        case QEvent::PaletteChange:
        case QEvent::ParentChange:
            SetColors();
            Repaint();
            break;
        default:
            break;
    }
    QWidget::changeEvent(e);
}

void KivBtn::resizeEvent(QResizeEvent*) {
    ResizeFace();
}

void KivBtn::moveEvent(QMoveEvent*) {
    FollowDevice();
}

void KivBtn::showEvent(QShowEvent*) {
    if (DeviceChanged()) LayOutFace();
    if (buttonType_ == 11) CaptureBackground();
    canRefresh_ = true;
    SetColors();
    RepaintUp();
}

void KivBtn::hideEvent(QHideEvent*) {
    canRefresh_ = false;
}

}  // namespace kiv::controls
