#include "controls/KivBtn/KivBtn.h"

#include <QApplication>
#include <QCursor>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QShortcutEvent>
#include <algorithm>
#include <cmath>
#include <limits>

#include "controls/KivBtn/KivBtnAccessible.h"
#include "controls/KivBtn/KivBtnRegion.h"

namespace kiv::controls {

namespace {

// The hand pointer is part of the control, so it is compiled in rather than read from resources.
#include "../../../resources/icons/hand.xpm"

short ButtonCode(Qt::MouseButton b) {
    switch (b) {
        case Qt::LeftButton:
            return 1;
        case Qt::RightButton:
            return 2;
        case Qt::MiddleButton:
            return 4;
        default:
            return 0;
    }
}

short ButtonsCode(Qt::MouseButtons b) {
    short code = 0;
    if (b & Qt::LeftButton) code |= 1;
    if (b & Qt::RightButton) code |= 2;
    if (b & Qt::MiddleButton) code |= 4;
    return code;
}

short ShiftCode(Qt::KeyboardModifiers m) {
    short code = 0;
    if (m & Qt::ShiftModifier) code |= 1;
    if (m & Qt::ControlModifier) code |= 2;
    if (m & Qt::AltModifier) code |= 4;
    return code;
}

// The platform's virtual key numbers, which the forms' key handlers compare against.
short KeyCodeOf(int key) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<short>(key);
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<short>(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return static_cast<short>(112 + (key - Qt::Key_F1));
    switch (key) {
        case Qt::Key_Backspace:
            return 8;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return 9;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 13;
        case Qt::Key_Shift:
            return 16;
        case Qt::Key_Control:
            return 17;
        case Qt::Key_Alt:
            return 18;
        case Qt::Key_Pause:
            return 19;
        case Qt::Key_CapsLock:
            return 20;
        case Qt::Key_Escape:
            return 27;
        case Qt::Key_Space:
            return 32;
        case Qt::Key_PageUp:
            return 33;
        case Qt::Key_PageDown:
            return 34;
        case Qt::Key_End:
            return 35;
        case Qt::Key_Home:
            return 36;
        case Qt::Key_Left:
            return 37;
        case Qt::Key_Up:
            return 38;
        case Qt::Key_Right:
            return 39;
        case Qt::Key_Down:
            return 40;
        case Qt::Key_Insert:
            return 45;
        case Qt::Key_Delete:
            return 46;
        default:
            return 0;
    }
}

constexpr short kKeySpace = 32;

BtnFont ToBtnFont(const QFont& f) {
    BtnFont b;
    b.name = f.family();
    b.size = f.pointSizeF() > 0 ? f.pointSizeF() : f.pixelSize() * 0.75;
    b.bold = f.bold();
    b.italic = f.italic();
    b.underline = f.underline();
    return b;
}

QFont ToQFont(const BtnFont& b, const QFont& base) {
    QFont f(base);
    if (!b.name.isEmpty()) f.setFamily(b.name);
    if (b.size > 0) f.setPointSizeF(b.size);
    f.setBold(b.bold);
    f.setItalic(b.italic);
    f.setUnderline(b.underline);
    return f;
}

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

QPixmap KivBtn::HandPointerImage() {
    return QPixmap(hand_xpm);
}

// Persistence ------------------------------------------------------------------------------------

void KivBtn::InitProperties(const QString& displayName) {
    enabled_ = true;
    showFocusRect_ = true;
    useMaskColor_ = true;
    caption_ = displayName;  // the font is the container's, which the widget inherits
    buttonType_ = 2;
    colorScheme_ = 1;
    SetColors();
    backColor_ = backOver_ = colors_.face;
    foreColor_ = foreOver_ = colors_.text;
    maskColor_ = 0xC0C0C0;
    SetColors();
    SetAccessKey();
    CalcCaptionRect();
}

void KivBtn::ReadProperties(const QVariantMap& bag) {
    const SystemColors system = CurrentSystemColors();
    PropertyDefaults defaults;
    defaults.font = ToBtnFont(font());
    defaults.buttonFace = system.face;
    defaults.buttonText = system.text;
    ReadResult read = kiv::controls::ReadProperties(bag, defaults);
    readProblems_ = read.problems;
    for (const QString& problem : readProblems_)
        qWarning("KivBtn %s: %s", qPrintable(objectName()), qPrintable(problem));
    const KivBtnProperties& p = read.properties;

    buttonType_ = p.buttonType;
    caption_ = p.caption;
    enabled_ = p.enabled;
    ChangeFont(ToQFont(p.font, font()));
    colorScheme_ = p.colorScheme;
    showFocusRect_ = p.showFocusRect;
    backColor_ = p.backColor;
    backOver_ = p.backOver;
    foreColor_ = p.foreColor;
    foreOver_ = p.foreOver;
    maskColor_ = p.maskColor;
    mousePointer_ = p.mousePointer;
    mouseIconPath_ = p.mouseIcon;
    mouseIcon_ = mouseIconPath_ == kHandPointerPicture ? HandPointerImage() : QPixmap(mouseIconPath_);
    pictureNormalPath_ = p.pictureNormal;
    pictureNormal_ = pictureNormalPath_.isEmpty() ? QImage() : QImage(pictureNormalPath_);
    pictureOverPath_ = p.pictureOver;
    pictureOver_ = pictureOverPath_.isEmpty() ? QImage() : QImage(pictureOverPath_);
    useMaskColor_ = p.useMaskColor;
    softBevel_ = p.softBevel;
    picturePosition_ = p.picturePosition;
    useGreyscale_ = p.useGreyscale;
    specialEffect_ = p.specialEffect;
    SetHandPointer(p.handPointer);
    checkBox_ = p.checkBoxBehaviour;
    value_ = p.value;

    setEnabled(enabled_);
    SetColors();
    GetPictureSize();
    CalcCaptionRect();
    SetAccessKey();
    // Loaded into a button that is already sized: its shape must follow the loaded type.
    if (buttonHeight_ != 0) ResizeFace();
}

QVariantMap KivBtn::WriteProperties() const {
    KivBtnProperties p;
    p.buttonType = buttonType_;
    p.caption = caption_;
    p.enabled = enabled_;
    p.font = ToBtnFont(font());
    p.colorScheme = colorScheme_;
    p.showFocusRect = showFocusRect_;
    p.backColor = backColor_;
    p.backOver = backOver_;
    p.foreColor = foreColor_;
    p.foreOver = foreOver_;
    p.maskColor = maskColor_;
    p.mousePointer = mousePointer_;
    p.mouseIcon = mouseIconPath_;
    p.pictureNormal = pictureNormalPath_;
    p.pictureOver = pictureOverPath_;
    p.useMaskColor = useMaskColor_;
    p.softBevel = softBevel_;
    p.picturePosition = picturePosition_;
    p.useGreyscale = useGreyscale_;
    p.specialEffect = specialEffect_;
    p.handPointer = handPointer_;
    p.checkBoxBehaviour = checkBox_;
    p.value = value_;
    return ToVariantMap(kiv::controls::WriteProperties(p));
}

// Property setters: store, recompute, repaint, notify -----------------------------------------

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
    pictureNormal_ = path.isEmpty() ? QImage() : QImage(path);
    GetPictureSize();
    CalcCaptionRect();
    Repaint();
    emit PropertyChanged(QStringLiteral("PICN"));
}

void KivBtn::SetPictureOver(const QString& path) {
    pictureOverPath_ = path;
    pictureOver_ = path.isEmpty() ? QImage() : QImage(path);
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

// Computation glue ---------------------------------------------------------------------------

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

void KivBtn::GetPictureSize() {
    pictureSize_ = pictureNormal_.isNull() ? QSize(0, 0) : pictureNormal_.size();
}

void KivBtn::CalcCaptionRect() {
    const QFont f = font();
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

void KivBtn::ResizeFace() {
    if (busyCapturing_) return;
    buttonWidth_ = width();
    buttonHeight_ = height();
    Rect face{0, 0, buttonWidth_, buttonHeight_};
    if (buttonType_ >= 7 && buttonType_ <= 13) {
        face = {face.left + 3, face.top + 3, face.right - 3, face.bottom - 3};
    } else if (buttonType_ == 14) {
        face = Rect{face.left + 5, face.top + 5, face.right - 5, face.bottom - 5}.Moved(1, 1);
    } else {
        face = {face.left + 4, face.top + 4, face.right - 4, face.bottom - 4};
    }
    faceRect_ = face;
    surface_.Resize(buttonWidth_, buttonHeight_);
    CalcCaptionRect();
    region_ = MakeRegion(buttonType_, buttonWidth_, buttonHeight_);
    if (region_.isEmpty()) {
        clearMask();
    } else {
        setMask(region_);
    }
    if (buttonHeight_ != 0) RepaintUp();
}

void KivBtn::CaptureBackground() {
    // Our windows are composited: read the parent's own image instead of hiding the button.
    busyCapturing_ = true;
    QImage bg(std::max(width(), 1), std::max(height(), 1), QImage::Format_RGB32);
    QWidget* parent = parentWidget();
    bg.fill(parent ? parent->palette().color(parent->backgroundRole()) : palette().color(QPalette::Window));
    if (parent && width() > 0 && height() > 0) {
        QPainter painter(&bg);
        parent->render(&painter, QPoint(), QRegion(geometry()),
                       QWidget::DrawWindowBackground | QWidget::DrawChildren);
    }
    background_ = bg;
    busyCapturing_ = false;
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

// Painting -----------------------------------------------------------------------------------

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
    p.font = font();
    p.faceRect = faceRect_;
    p.layout = layout_;
    p.picturePosition = picturePosition_;
    p.pictureNormal = pictureNormal_;
    p.pictureOver = pictureOver_;
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
    QPainter painter(this);
    painter.drawImage(0, 0, surface_.Image());
}

// Host notifications -------------------------------------------------------------------------

bool KivBtn::event(QEvent* e) {
    if (e->type() == QEvent::Shortcut) {
        auto* se = static_cast<QShortcutEvent*>(e);
        if (se->shortcutId() == accessKeyId_ && accessKeyId_ != 0) {
            if (se->isAmbiguous()) {
                // Two buttons share the key: move to this one rather than guess which to press.
                setFocus(Qt::ShortcutFocusReason);
            } else {
                lastButton_ = 1;
                HostClick();
            }
            return true;
        }
    }
    return QWidget::event(e);
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

void KivBtn::showEvent(QShowEvent*) {
    if (buttonType_ == 11) CaptureBackground();
    canRefresh_ = true;
    SetColors();
    RepaintUp();
}

void KivBtn::hideEvent(QHideEvent*) {
    canRefresh_ = false;
}

void KivBtn::focusInEvent(QFocusEvent*) {
    hasFocus_ = true;
    Repaint();
}

void KivBtn::focusOutEvent(QFocusEvent*) {
    hasFocus_ = false;
    Repaint();
}

// Mouse --------------------------------------------------------------------------------------

// Returns false when the form's handler deleted the button.
bool KivBtn::PressRule(short button, short shift, float x, float y) {
    const QPointer<KivBtn> alive(this);
    emit MouseDown(button, shift, x, y);
    if (!alive) return false;
    lastButton_ = static_cast<std::uint8_t>(button);
    if (button != 2) DrawButton(FaceState::Down, false);
    return true;
}

void KivBtn::mousePressEvent(QMouseEvent* e) {
    releaseEndsDoubleClick_ = false;
    PressRule(ButtonCode(e->button()), ShiftCode(e->modifiers()), static_cast<float>(e->position().x()),
              static_cast<float>(e->position().y()));
}

void KivBtn::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        mousePressEvent(e);  // only the left button makes a double click; others are plain presses
        return;
    }
    releaseEndsDoubleClick_ = true;
    if (lastButton_ == 1) PressRule(1, 0, 0.0f, 0.0f);
}

void KivBtn::mouseReleaseEvent(QMouseEvent* e) {
    const QPointer<KivBtn> alive(this);
    short button = ButtonCode(e->button());
    short shift = ShiftCode(e->modifiers());
    float x = static_cast<float>(e->position().x());
    float y = static_cast<float>(e->position().y());
    const bool secondOfDouble = releaseEndsDoubleClick_;
    releaseEndsDoubleClick_ = false;
    emit MouseUp(button, shift, x, y);
    if (!alive) return;
    if (button != 2) DrawButton(FaceState::Up, false);
    // The host's click: a left press and release on the button, except the end of a double click.
    if (e->button() == Qt::LeftButton && !secondOfDouble && HitTest(e->position().toPoint())) HostClick();
}

void KivBtn::mouseMoveEvent(QMouseEvent* e) {
    const QPointer<KivBtn> alive(this);
    short button = ButtonsCode(e->buttons());
    short shift = ShiftCode(e->modifiers());
    float x = static_cast<float>(e->position().x());
    float y = static_cast<float>(e->position().y());
    emit MouseMove(button, shift, x, y);
    if (!alive || button >= 2) return;
    if (!IsMouseOverAt(e->globalPosition().toPoint())) {
        DrawButton(FaceState::Up, false);
    } else if (button == 0 && !isOver_) {
        overTimer_.start();
        isOver_ = true;
        RepaintUp();
        emit MouseOver();
    } else if (button == 1) {
        isOver_ = true;
        DrawButton(FaceState::Down, false);
        isOver_ = false;
    }
}

void KivBtn::OverTick() {
    if (IsMouseOver()) return;
    overTimer_.stop();
    isOver_ = false;
    RepaintUp();
    emit MouseOut();
}

void KivBtn::HostClick() {
    if (lastButton_ != 1 || !enabled_ || !isEnabled()) return;
    if (checkBox_) value_ = !value_;
    AnnounceValueChange(this);
    RepaintUp();
    repaint();  // the new face is on screen before a long handler runs
    emit Click();
}

bool KivBtn::HitTest(QPoint local) const {
    return rect().contains(local) && (region_.isEmpty() || region_.contains(local));
}

bool KivBtn::IsMouseOverAt(QPoint global) const {
    if (!isVisible()) return false;
    const QWidget* under = QApplication::widgetAt(global);
    return under == this && HitTest(mapFromGlobal(global));
}

bool KivBtn::IsMouseOver() const {
    return IsMouseOverAt(QCursor::pos());
}

// Keyboard -----------------------------------------------------------------------------------

void KivBtn::keyPressEvent(QKeyEvent* e) {
    const QPointer<KivBtn> alive(this);
    short code = KeyCodeOf(e->key());
    short shift = ShiftCode(e->modifiers());
    emit KeyDown(code, shift);
    if (!alive) return;
    lastKey_ = static_cast<std::uint8_t>(code);
    bool handled = true;
    switch (code) {
        case kKeySpace:
            DrawButton(FaceState::Down, false);
            break;
        case 37:
        case 38:
            focusNextPrevChild(false);
            break;
        case 39:
        case 40:
            focusNextPrevChild(true);
            break;
        default:
            handled = false;
            break;
    }
    if (!alive) return;
    const QString text = e->text();
    if (!text.isEmpty() && text.at(0).unicode() < 0x8000) {
        short ascii = static_cast<short>(text.at(0).unicode());
        emit KeyPress(ascii);
        if (!alive) return;
    }
    // Keys the button does nothing with go on to the form.
    e->setAccepted(handled);
}

void KivBtn::keyReleaseEvent(QKeyEvent* e) {
    // The platform repeats releases while a key is held; the button only sees the real one.
    if (e->isAutoRepeat()) return;
    const QPointer<KivBtn> alive(this);
    short code = KeyCodeOf(e->key());
    short shift = ShiftCode(e->modifiers());
    emit KeyUp(code, shift);
    if (!alive) return;
    if (lastKey_ != kKeySpace || code != kKeySpace) {
        e->setAccepted(false);
        return;
    }
    if (checkBox_) value_ = !value_;
    AnnounceValueChange(this);
    DrawButton(FaceState::Up, false);
    repaint();
    emit Click();
}

}  // namespace kiv::controls
