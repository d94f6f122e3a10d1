// A new instance, and the loading and saving of the persisted property set.
#include <QVariantMap>

#include "controls/KivBtn/KivBtn.h"

namespace kiv::controls {

namespace {

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

}  // namespace

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
    pictureNormal_ = ButtonPicture(pictureNormalPath_);
    pictureOverPath_ = p.pictureOver;
    pictureOver_ = ButtonPicture(pictureOverPath_);
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

}  // namespace kiv::controls
