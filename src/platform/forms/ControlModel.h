#pragma once

#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace kiv::forms {

// What a window description says about a font.
struct FontSpec {
    QString name;
    double size = 0;  // points
    bool bold = false;
    bool italic = false;
    bool underline = false;
};

// A control's font as the font system sees it: asking for a size may give another one back,
// and Size() reports the size actually in effect.
class ControlFont {
  public:
    virtual ~ControlFont() = default;
    virtual double Size() const = 0;
    virtual void SetSize(double points) = 0;
    virtual QString Name() const = 0;
    virtual void SetName(const QString& name) = 0;
    // The font as it now stands (name and effective size), for building the widget's QFont.
    virtual FontSpec Spec() const = 0;
};

// Makes fonts for the controls of a description.
class FontSystem {
  public:
    virtual ~FontSystem() = default;
    virtual std::shared_ptr<ControlFont> Create(const FontSpec& spec) = 0;
};

// The kinds the scaler tells apart by the runtime's own type test; everything else goes by type name.
enum class ControlKind { Other, Label, Line, ComboBox, CheckBox, OptionButton };

// One control of a window, in twips relative to its container. A property the control does not
// have is empty; code that needs it passes the control over.
struct Control {
    QString name;
    int index = -1;    // position in a control array such as txtpass(0), txtpass(1); -1 if none
    QString typeName;  // class name, e.g. "Label", "KivBtn", "VSFlexGrid", "SSTab", "Timer"
    ControlKind kind = ControlKind::Other;
    QString container;  // name of the containing control; empty for the form itself

    std::optional<double> left, top, width, height;
    bool movable = true;  // whether Move works on it

    std::optional<bool> autoSize, wordWrap;           // labels
    std::optional<double> x1, y1, x2, y2;             // lines
    std::optional<double> tabHeight, tabMaxWidth;     // tabbed containers
    std::optional<double> colWidthMax, rowHeightMax;  // grids
    std::optional<double> colWidthMin, rowHeightMin;

    std::shared_ptr<ControlFont> font;  // null: the control has no font

    // Presentation, read when the widget is built.
    QString caption;
    std::optional<std::uint32_t> backColor, foreColor;  // 0x00BBGGRR
    bool visible = true;
    bool passwordChar = false;  // text boxes that show "*" for every character
    QString toolTipText;        // shown when the pointer rests on the control
    QVariantMap properties;     // a button's persisted property set, keys in lower case
    QVariantMap extra;          // anything else the builder of this type reads

    // Move with two, three or four arguments. Returns false, changing nothing, when the control
    // cannot be moved.
    bool Move(double newLeft, double newTop, std::optional<double> newWidth = std::nullopt,
              std::optional<double> newHeight = std::nullopt);
};

// A window as data: the form's own rectangle (its client area, in twips) and its controls in order.
struct FormModel {
    QString name;
    QString caption;
    double left = 0, top = 0, width = 0, height = 0;
    std::uint32_t backColor = 0xFFFFFF;
    bool titleBar = true;
    QVariantMap extra;
    std::vector<Control> controls;

    void Move(double newLeft, double newTop, double newWidth, double newHeight);
    Control* Find(const QString& controlName, int index = -1);
    const Control* Find(const QString& controlName, int index = -1) const;
    // The control that contains this one; null when the form itself does (or the name is unknown).
    const Control* ContainerOf(const Control& control) const;
};

// Twips to Qt logical pixels: 1440 twips an inch at the screen's logical dpi (15 a pixel at 96).
// The same dpi must be the one the scale ratios were measured with, so that a window takes the
// same share of every screen.
inline double TwipsToPixels(double twips, double logicalDpi) {
    return twips * logicalDpi / 1440.0;
}

}  // namespace kiv::forms
