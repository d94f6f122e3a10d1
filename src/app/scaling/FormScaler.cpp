#include "app/scaling/FormScaler.h"

#include <cmath>
#include <cstdint>
#include <optional>

#include "app/scaling/DisplayMetrics.h"

namespace kiv::app {

namespace {

using forms::Control;
using forms::ControlFont;
using forms::ControlKind;
using forms::FormModel;

// Font sizes in points as four-decimal fixed point, so that the 0.1 steps of the search are exact.
using Fixed = std::int64_t;
constexpr Fixed kUnit = 10000;
constexpr Fixed kTenth = 1000;
// Far beyond any font size; keeps the scaled products inside 64 bits and exact in a double.
constexpr double kLargestPoints = 1e6;

std::optional<Fixed> ToFixed(double points) {
    if (!std::isfinite(points) || std::fabs(points) > kLargestPoints) return std::nullopt;
    return static_cast<Fixed>(std::nearbyint(points * kUnit));
}

double ToPoints(Fixed size) {
    return static_cast<double>(size) / kUnit;
}

// The size the font reports, or nothing when it cannot be read.
std::optional<Fixed> ReadSize(const ControlFont& font) {
    return ToFixed(font.Size());
}

// size x ratio rounded to one decimal, halves to the even digit.
Fixed ScaleToTenth(Fixed size, float ratio) {
    const double tenths = std::nearbyint(static_cast<double>(size) * static_cast<double>(ratio) / kTenth);
    if (!std::isfinite(tenths) || std::fabs(tenths) > kLargestPoints * 10) return 0;
    return static_cast<Fixed>(tenths) * kTenth;
}

// size x 98 / 100 to four decimals. Exact for the one-decimal sizes it is given; the rounding
// only keeps it honest for any other.
Fixed NinetyEightPercent(Fixed size) {
    return static_cast<Fixed>(std::nearbyint(static_cast<double>(size) * 98.0 / 100.0));
}

void ScaleFont(Control& control) {
    ControlFont* font = control.font.get();
    if (!font) return;  // no font: OldSize stays 0 and nothing below would run

    Fixed oldSize = 0;
    if (auto size = ReadSize(*font)) oldSize = *size;

    Fixed newSize = ScaleToTenth(oldSize, RatioAvg);
    if (control.kind == ControlKind::CheckBox || control.kind == ControlKind::OptionButton)
        newSize = NinetyEightPercent(newSize);

    // Lower the request until the font system gives a size not above it. A size that cannot be
    // read back counts as above.
    while (newSize > 0) {
        font->SetSize(ToPoints(newSize));
        const std::optional<Fixed> given = ReadSize(*font);
        if (given && *given <= newSize) return;
        newSize -= kTenth;
    }

    // Nothing at or below the request: the font has a minimum size. Try the request, its whole
    // points, then the same in Arial.
    newSize = ScaleToTenth(oldSize, RatioAvg);
    if (newSize <= 0) return;
    const auto refused = [&] {
        const std::optional<Fixed> given = ReadSize(*font);
        return !given || *given == oldSize || *given > newSize;
    };
    const Fixed wholePoints = newSize / kUnit * kUnit;

    font->SetSize(ToPoints(newSize));
    if (!refused()) return;
    font->SetSize(ToPoints(wholePoints));
    if (!refused()) return;
    font->SetName(QStringLiteral("Arial"));
    font->SetSize(ToPoints(newSize));
    if (!refused()) return;
    font->SetSize(ToPoints(wholePoints));
}

void Scale(std::optional<double>& value, float ratio) {
    if (value) *value = *value * static_cast<double>(ratio);
}

// Move with every argument scaled; a control missing one of them is not moved.
void MoveScaled(Control& c) {
    if (!c.left || !c.top || !c.width || !c.height) return;
    c.Move(*c.left * RatioX, *c.top * RatioY, *c.width * RatioX, *c.height * RatioY);
}

bool TypeIs(const Control& c, const char* upperName) {
    return c.typeName.toUpper() == QLatin1String(upperName);
}

void ScaleGeometry(const FormModel& form, Control& c) {
    switch (c.kind) {
        case ControlKind::ComboBox:
            // Its height follows its font.
            Scale(c.left, RatioX);
            Scale(c.top, RatioY);
            Scale(c.width, RatioX);
            return;
        case ControlKind::Line:
            Scale(c.x1, RatioX);
            Scale(c.x2, RatioX);
            Scale(c.y1, RatioY);
            Scale(c.y2, RatioY);
            return;
        case ControlKind::Label:
            // A label that cannot say it sizes itself is treated as one that does not.
            if (!c.autoSize.value_or(false)) {
                MoveScaled(c);
            } else if (!c.wordWrap.value_or(false)) {
                if (c.left && c.top) c.Move(*c.left * RatioX, *c.top * RatioY);
            } else {
                if (c.left && c.top && c.width) c.Move(*c.left * RatioX, *c.top * RatioY, *c.width * RatioX);
            }
            return;
        default:
            break;
    }

    if (TypeIs(c, "SSTAB")) {
        // The tabs must fit the control: widen the control before its tabs, narrow the tabs first.
        Scale(c.tabHeight, RatioY);
        if (RatioX >= 1) {
            MoveScaled(c);
            Scale(c.tabMaxWidth, RatioX);
        } else {
            Scale(c.tabMaxWidth, RatioX);
            MoveScaled(c);
        }
        return;
    }

    // A negative Left parks a control out of sight: a tabbed container parks the controls of its
    // hidden tabs 75000 twips to the left; anything else is brought back onto the form.
    if (c.left && *c.left < 0) {
        const Control* box = form.ContainerOf(c);
        if (box && TypeIs(*box, "SSTAB"))
            *c.left += 75000;
        else
            c.left = 120;
    }
    MoveScaled(c);
}

bool LeftAlone(const Control& c) {
    return TypeIs(c, "MENU") || TypeIs(c, "TIMER") || TypeIs(c, "COMMONDIALOG") || TypeIs(c, "MDIEXTEND");
}

bool HasNoFontStep(const Control& c) {
    return TypeIs(c, "LINE") || TypeIs(c, "SHAPE") || TypeIs(c, "IMAGE") || TypeIs(c, "PROGRESSBAR") ||
           TypeIs(c, "CLGRD");
}

}  // namespace

void ScaleForm(forms::FormModel& form) {
    if (RatioX == 1.0f && RatioY == 1.0f && RatioAvg == 1.0f) return;
    if (!(RatioX > 0) || !(RatioY > 0) || !(RatioAvg > 0)) return;

    for (Control& c : form.controls) {
        if (LeftAlone(c)) continue;
        if (!HasNoFontStep(c)) ScaleFont(c);
        ScaleGeometry(form, c);
        if (TypeIs(c, "VSFLEXGRID")) {
            Scale(c.colWidthMax, RatioX);
            Scale(c.rowHeightMax, RatioY);
            Scale(c.colWidthMin, RatioX);
            Scale(c.rowHeightMin, RatioY);
        }
    }

    form.Move(form.left * RatioX, form.top * RatioY, form.width * RatioX, form.height * RatioY);
}

}  // namespace kiv::app
