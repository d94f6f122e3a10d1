#pragma once

#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QRegion>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <QWidget>
#include <cstdint>

#include "controls/KivBtn/KivBtnCaption.h"
#include "controls/KivBtn/KivBtnColors.h"
#include "controls/KivBtn/KivBtnFace.h"
#include "controls/KivBtn/KivBtnPictures.h"
#include "controls/KivBtn/KivBtnProperties.h"
#include "platform/raster/RasterSurface.h"

namespace kiv::controls {

// The program's push button: fourteen drawn looks (ButtonType 1..14), hover and focus tracking,
// pictures with mask-colour transparency and a persisted property set. The face is drawn into a
// retained image whenever the look changes; painting only copies that image to the screen. The
// image has the display's own pixels: at a device pixel ratio r a w x h button draws its face on
// the device pixels it covers, round(w r) x round(h r) or one more or fewer by its place, with
// its font and pictures at r times their size, and the image carries r.
class KivBtn : public QWidget {
    Q_OBJECT

  public:
    explicit KivBtn(QWidget* parent = nullptr);
    ~KivBtn() override;

    // A new instance: system colours, type 2, scheme 1, the given name as caption, the parent's font.
    void InitProperties(const QString& displayName);
    // Loads a persisted set (lower-case keys, any case accepted). Values that cannot be used take
    // their defaults and are listed in ReadProblems().
    void ReadProperties(const QVariantMap& bag);
    QVariantMap WriteProperties() const;
    const QStringList& ReadProblems() const { return readProblems_; }

    ColorValue BackColor() const { return backColor_; }
    void SetBackColor(ColorValue value);
    ColorValue BackOver() const { return backOver_; }
    void SetBackOver(ColorValue value);
    ColorValue ForeColor() const { return foreColor_; }
    void SetForeColor(ColorValue value);
    ColorValue ForeOver() const { return foreOver_; }
    void SetForeOver(ColorValue value);
    ColorValue MaskColor() const { return maskColor_; }
    void SetMaskColor(ColorValue value);
    int ButtonType() const { return buttonType_; }
    void SetButtonType(int value);
    QString Caption() const { return caption_; }
    void SetCaption(const QString& value);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    QFont Font() const { return font(); }
    void SetFont(const QFont& value);
    bool FontBold() const { return font().bold(); }
    void SetFontBold(bool value);
    bool FontItalic() const { return font().italic(); }
    void SetFontItalic(bool value);
    bool FontUnderline() const { return font().underline(); }
    void SetFontUnderline(bool value);
    std::int16_t FontSize() const;
    void SetFontSize(std::int16_t points);
    QString FontName() const { return font().family(); }
    void SetFontName(const QString& value);
    int ColorScheme() const { return colorScheme_; }
    void SetColorScheme(int value);
    bool ShowFocusRect() const { return showFocusRect_; }
    void SetShowFocusRect(bool value);
    int MousePointer() const { return mousePointer_; }
    // A number outside the 16-bit range is refused: nothing is stored and false comes back.
    bool SetMousePointer(int value);
    QString MouseIcon() const { return mouseIconPath_; }
    void SetMouseIcon(const QString& path);
    bool HandPointer() const { return handPointer_; }
    void SetHandPointer(bool value);
    quintptr Hwnd() const { return static_cast<quintptr>(effectiveWinId()); }
    bool SoftBevel() const { return softBevel_; }
    void SetSoftBevel(bool value);
    // Pictures are image paths; a path that does not load keeps its name but shows no picture.
    QString PictureNormal() const { return pictureNormalPath_; }
    void SetPictureNormal(const QString& path);
    QString PictureOver() const { return pictureOverPath_; }
    void SetPictureOver(const QString& path);
    int PicturePosition() const { return picturePosition_; }
    void SetPicturePosition(int value);
    bool UseMaskColor() const { return useMaskColor_; }
    void SetUseMaskColor(bool value);
    bool UseGreyscale() const { return useGreyscale_; }
    void SetUseGreyscale(bool value);
    int SpecialEffect() const { return specialEffect_; }
    void SetSpecialEffect(int value);
    bool CheckBoxBehaviour() const { return checkBox_; }
    void SetCheckBoxBehaviour(bool value);
    bool Value() const { return value_; }
    void SetValue(bool value);
    QString Version() const { return QStringLiteral("2.0.6 B"); }

    // Ambient settings of the container: design mode (UserMode false) and being the default button.
    bool UserMode() const { return userMode_; }
    void SetUserMode(bool value) { userMode_ = value; }
    bool DisplayAsDefault() const { return displayAsDefault_; }
    void SetDisplayAsDefault(bool value);

    void DisableRefresh();
    void Refresh();
    // What the access key does: LastButton 1, then the click rule, with no pushed face.
    void AccessKeyPress();

    // Paints the face when forced or when the state or caption changed since the last paint.
    void DrawButton(FaceState state, bool force);

    // What the face and the hover tracker see, for callers that must check the drawn result. The
    // image, the face and caption rectangles and the picture's place are in the face's pixels, the
    // region and hit tests in the widget's logical ones.
    const QImage& FaceImage() const { return surface_.Image(); }
    qreal FaceRatio() const { return ratio_; }
    QRegion ButtonRegion() const { return region_; }
    bool HitTest(QPoint local) const;
    bool IsMouseOver() const;
    bool IsOver() const { return isOver_; }
    bool HasFocus() const { return hasFocus_; }
    FaceState DrawnState() const { return drawnState_; }
    quint64 PaintCount() const { return paintCount_; }
    QChar AccessKey() const { return accessKey_; }
    const CaptionLayout& Layout() const { return layout_; }
    const ColorSet& Colors() const { return colors_; }
    QPoint PictureOrigin() const { return picturePos_; }
    QSize PictureSize() const { return pictureSize_; }
    Rect FaceRect() const { return faceRect_; }

    static QPixmap HandPointerImage();
    static QPoint HandPointerHotSpot() { return {13, 9}; }

  signals:
    // Events go to the form before the button acts; arguments are by reference so a handler may
    // change them (KeyCode 0 cancels a key). Buttons: 1 left, 2 right, 4 middle; Shift: 1 Shift,
    // 2 Ctrl, 4 Alt; X and Y in pixels of the button.
    void Click();
    void MouseDown(short& Button, short& Shift, float& X, float& Y);
    void MouseMove(short& Button, short& Shift, float& X, float& Y);
    void MouseUp(short& Button, short& Shift, float& X, float& Y);
    void KeyDown(short& KeyCode, short& Shift);
    void KeyUp(short& KeyCode, short& Shift);
    void KeyPress(short& KeyAscii);
    void MouseOver();
    void MouseOut();
    // The change notice: the persisted key of the property that changed.
    void PropertyChanged(const QString& key);

  protected:
    bool event(QEvent* e) override;
    void changeEvent(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;

  private:
    void SetColors();
    ColorSet ColorsFor(ColorValue backColor) const;
    void CalcCaptionRect();
    void GetPictureSize();
    void SetAccessKey();
    void LayOutFace();
    void ResizeFace();
    void FollowDevice();  // draws the face again when its ratio or its device pixels changed
    QSize DeviceSize(qreal ratio) const;
    bool DeviceChanged() const;
    QFont FaceFont() const;
    QSize DrawnSize(QSize own) const;  // a picture's logical size in the face's pixels
    void CaptureBackground();
    void ApplyPointer();
    void ChangeFont(const QFont& f);
    bool PressRule(short button, short shift, float x, float y);
    void HostClick();
    void OverTick();
    bool IsMouseOverAt(QPoint global) const;
    void Repaint() { DrawButton(drawnState_, true); }
    void RepaintUp() { DrawButton(FaceState::Up, true); }

    int buttonType_ = 2;
    int colorScheme_ = 1;
    int picturePosition_ = 0;
    int specialEffect_ = 0;
    int buttonHeight_ = 0;  // in the face's pixels, as are the rectangles and the picture's place
    int buttonWidth_ = 0;
    qreal ratio_ = 1.0;  // device pixels per logical pixel the face is drawn for
    ColorValue backColor_ = 0;
    ColorValue backOver_ = 0;
    ColorValue foreColor_ = 0;
    ColorValue foreOver_ = 0;
    ColorValue maskColor_ = 0xC0C0C0;
    bool useMaskColor_ = true;
    bool useGreyscale_ = false;
    bool handPointer_ = false;
    QString pictureNormalPath_;
    QString pictureOverPath_;
    ButtonPicture pictureNormal_;
    ButtonPicture pictureOver_;
    QImage background_;
    QString caption_;
    Rect faceRect_;
    QRegion region_;
    std::uint8_t lastButton_ = 0;
    std::uint8_t lastKey_ = 0;
    bool enabled_ = true;
    bool softBevel_ = false;
    bool hasFocus_ = false;
    bool showFocusRect_ = true;
    FaceState drawnState_ = FaceState::Up;
    QString drawnCaption_;
    bool canRefresh_ = true;
    bool isOver_ = false;
    bool busyCapturing_ = false;
    bool checkBox_ = false;
    bool value_ = false;

    ColorSet colors_;
    CaptionLayout layout_;
    QSize pictureSize_{0, 0};  // no picture until one is set or loaded
    QPoint picturePos_;
    int lastCaptionStyle_ = 0;
    QChar accessKey_;
    int accessKeyId_ = 0;
    std::int16_t mousePointer_ = 0;
    QString mouseIconPath_;
    QPixmap mouseIcon_;
    bool userMode_ = true;
    bool displayAsDefault_ = false;
    bool releaseEndsDoubleClick_ = false;
    bool windowLeftSincePress_ = false;  // its window lost activation or was blocked after the last press
    QStringList readProblems_;
    quint64 paintCount_ = 0;
    platform::raster::Surface surface_;
    QTimer overTimer_;
};

}  // namespace kiv::controls
