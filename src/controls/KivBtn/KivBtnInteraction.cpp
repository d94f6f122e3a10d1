// Mouse, keys, access key and focus become the form's events, the pushed face and Click; hover tracking.
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QShortcutEvent>

#include "controls/KivBtn/KivBtn.h"
#include "controls/KivBtn/KivBtnAccessible.h"

namespace kiv::controls {

namespace {

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

// Qt 6.4 tells every widget of a window that moved to another screen; from 6.6 Qt also tells them
// of a new ratio on the same screen.
bool ChangesTheRatio(QEvent::Type type) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    if (type == QEvent::DevicePixelRatioChange) return true;
#endif
    return type == QEvent::ScreenChangeInternal;
}

}  // namespace

bool KivBtn::event(QEvent* e) {
    // A window manager does not always move the activation to a dialog (a bare X server has none),
    // but a modal dialog always blocks this window, and Qt passes that on to every widget in it.
    if (e->type() == QEvent::WindowDeactivate || e->type() == QEvent::WindowBlocked)
        windowLeftSincePress_ = true;
    if (ChangesTheRatio(e->type())) {
        const bool done = QWidget::event(e);
        FollowDevice();
        return done;
    }
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

void KivBtn::focusInEvent(QFocusEvent*) {
    hasFocus_ = true;
    Repaint();
}

void KivBtn::focusOutEvent(QFocusEvent*) {
    hasFocus_ = false;
    Repaint();
}

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
    windowLeftSincePress_ = false;
    PressRule(ButtonCode(e->button()), ShiftCode(e->modifiers()), static_cast<float>(e->position().x()),
              static_cast<float>(e->position().y()));
}

void KivBtn::mouseDoubleClickEvent(QMouseEvent* e) {
    // Only the left button makes a double click; others are plain presses. Qt goes by time and place
    // alone, so a quick press after the first click's handler put up a dialog (which the user answered)
    // would count as the second half and lose its click: a window change or a dialog in between makes
    // it a new press.
    if (e->button() != Qt::LeftButton || windowLeftSincePress_) {
        mousePressEvent(e);
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
