#include "app/scaling/FormScaler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <vector>

#include "app/scaling/DisplayMetrics.h"
#include "platform/forms/ControlModel.h"

namespace kiv::app {
namespace {

using forms::Control;
using forms::ControlFont;
using forms::ControlKind;
using forms::FontSpec;
using forms::FormModel;

// How a face answers a size request.
struct Face {
    enum class Snap { None, WholePixelAt96, WholePointUp } snap = Snap::None;
    double minimum = 0;       // smallest size it draws (a bitmap face)
    bool frozen = false;      // keeps its design size whatever is asked
    bool unreadable = false;  // its size cannot be read
};

// A font as a font system gives it: the size read back is the size in effect, which depends on the
// face now named. Every size request is logged.
class FakeFont : public ControlFont {
  public:
    FakeFont(QString name, double size, const std::map<QString, Face>* faces)
        : name_(std::move(name)), design_(size), requested_(size), faces_(faces) {}

    double Size() const override {
        const auto it = faces_->find(name_);
        const Face face = it == faces_->end() ? Face{} : it->second;
        if (face.unreadable) return std::numeric_limits<double>::quiet_NaN();
        if (face.frozen) return design_;
        double size = requested_;
        if (face.snap == Face::Snap::WholePixelAt96) size = std::nearbyint(size * 96 / 72) * 72 / 96;
        if (face.snap == Face::Snap::WholePointUp) size = std::ceil(size - 1e-9);
        return std::max(size, face.minimum);
    }
    void SetSize(double points) override {
        requests.push_back(points);
        if (points > 0) requested_ = points;  // a size of 0 is refused, as a real font does
    }
    QString Name() const override { return name_; }
    void SetName(const QString& name) override { name_ = name; }
    FontSpec Spec() const override { return {name_, Size()}; }

    std::vector<double> requests;

  private:
    QString name_;
    double design_;
    double requested_;
    const std::map<QString, Face>* faces_;
};

void SetRatios(float x, float y, float avg) {
    RatioX = x;
    RatioY = y;
    RatioAvg = avg;
}

Control MakeControl(const char* type, ControlKind kind = ControlKind::Other) {
    Control c;
    c.name = QString::fromLatin1(type).toLower() + QStringLiteral("1");
    c.typeName = QString::fromLatin1(type);
    c.kind = kind;
    c.left = 300;
    c.top = 450;
    c.width = 1200;
    c.height = 600;
    return c;
}

FakeFont* GiveFont(Control& c, const std::map<QString, Face>* faces, const char* name = "Trebuchet MS",
                   double size = 8.25) {
    auto font = std::make_shared<FakeFont>(QString::fromLatin1(name), size, faces);
    c.font = font;
    return font.get();
}

// ---------------------------------------------------------------------------------------------
// Font step

// From `from` down to the last size above 0, in tenths: the whole fit-down search.
std::vector<double> SearchFrom(double from) {
    std::vector<double> sizes;
    for (int tenths = static_cast<int>(std::lround(from * 10000)); tenths > 0; tenths -= 1000)
        sizes.push_back(tenths / 10000.0);
    return sizes;
}

std::vector<double> Then(std::vector<double> a, const std::vector<double>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct FontCase {
    const char* what;
    ControlKind kind;
    std::map<QString, Face> faces;
    double designSize;
    float ratioAvg;
    std::vector<double> requests;  // every size set, in order
    double reported;               // the size the font ends at
    const char* name;              // the face it ends with
};

void PrintTo(const FontCase& c, std::ostream* os) {
    *os << c.what;
}

class FontStepTest : public ::testing::TestWithParam<FontCase> {};

TEST_P(FontStepTest, EndsAtTheSizeTheFontGives) {
    const FontCase& c = GetParam();
    SetRatios(1.5f, 1.5f, c.ratioAvg);
    FormModel form;
    form.controls.push_back(MakeControl("KivBtn", c.kind));
    FakeFont* font = GiveFont(form.controls[0], &c.faces, "Trebuchet MS", c.designSize);

    ScaleForm(form);

    ASSERT_EQ(font->requests.size(), c.requests.size());
    for (std::size_t i = 0; i < c.requests.size(); ++i)
        EXPECT_NEAR(font->requests[i], c.requests[i], 1e-9) << "request " << i;
    if (std::isnan(c.reported)) {
        EXPECT_TRUE(std::isnan(font->Size()));
    } else {
        EXPECT_NEAR(font->Size(), c.reported, 1e-9);
    }
    EXPECT_EQ(font->Name(), QString::fromLatin1(c.name));
}

const Face kMinimum8{Face::Snap::None, 8};
const Face kMinimum7{Face::Snap::None, 7};

INSTANTIATE_TEST_SUITE_P(
    Rules, FontStepTest,
    ::testing::Values(
        // 10.6 pt is 14.1 pixels, drawn at 14 (10.5 pt).
        FontCase{"worked example: 8.25 at 1.28 asks 10.6 and keeps the 10.5 given",
                 ControlKind::Other,
                 {{"Trebuchet MS", {Face::Snap::WholePixelAt96}}},
                 8.25,
                 1.28f,
                 {10.6},
                 10.5,
                 "Trebuchet MS"},
        FontCase{"a font that takes the request keeps it",
                 ControlKind::Other,
                 {},
                 8.25,
                 1.28f,
                 {10.6},
                 10.6,
                 "Trebuchet MS"},
        FontCase{"single-precision ratio 1.6533334",
                 ControlKind::Other,
                 {},
                 8.25,
                 1.6533334f,
                 {13.6},
                 13.6,
                 "Trebuchet MS"},
        FontCase{"12 at 0.8 is 9.6, not a hair above",
                 ControlKind::Other,
                 {},
                 12,
                 0.8f,
                 {9.6},
                 9.6,
                 "Trebuchet MS"},
        FontCase{"exact half 10.25 goes down to the even 10.2",
                 ControlKind::Other,
                 {},
                 8.2,
                 1.25f,
                 {10.2},
                 10.2,
                 "Trebuchet MS"},
        FontCase{"exact half 10.75 goes up to the even 10.8",
                 ControlKind::Other,
                 {},
                 8.6,
                 1.25f,
                 {10.8},
                 10.8,
                 "Trebuchet MS"},
        // 10.9 pt is 14.5 pixels, drawn at 15 (11.25 pt): too big; 10.8 pt draws at 14 (10.5 pt).
        FontCase{"a size the font rounds up is lowered a tenth at a time",
                 ControlKind::Other,
                 {{"Trebuchet MS", {Face::Snap::WholePixelAt96}}},
                 8.25,
                 1.32f,
                 {10.9, 10.8},
                 10.5,
                 "Trebuchet MS"},
        // 11.2 draws at 15 pixels (11.25 pt), a hair above; so do 11.1 down to 10.9.
        FontCase{"a size given even a little above the request is not taken",
                 ControlKind::Other,
                 {{"Trebuchet MS", {Face::Snap::WholePixelAt96}}},
                 8.25,
                 1.3576f,
                 {11.2, 11.1, 11.0, 10.9, 10.8},
                 10.5,
                 "Trebuchet MS"},
        FontCase{"a check box asks 98 % of the rounded size",
                 ControlKind::CheckBox,
                 {},
                 8.25,
                 1.28f,
                 {10.388},
                 10.388,
                 "Trebuchet MS"},
        FontCase{"an option button asks 98 % of the rounded size",
                 ControlKind::OptionButton,
                 {},
                 8.25,
                 1.28f,
                 {10.388},
                 10.388,
                 "Trebuchet MS"},
        FontCase{"a font that stays at its size while growing is accepted",
                 ControlKind::Other,
                 {{"Trebuchet MS", {Face::Snap::None, 0, true}}},
                 8.25,
                 1.28f,
                 {10.6},
                 8.25,
                 "Trebuchet MS"},
        FontCase{"shrinking below a minimum ends in Arial at the requested size",
                 ControlKind::Other,
                 {{"Trebuchet MS", kMinimum8}},
                 8.25,
                 0.8f,
                 Then(SearchFrom(6.6), {6.6, 6, 6.6}),
                 6.6,
                 "Arial"},
        FontCase{"a font that will not shrink at all ends in Arial",
                 ControlKind::Other,
                 {{"Trebuchet MS", {Face::Snap::None, 0, true}}},
                 8.25,
                 0.8f,
                 Then(SearchFrom(6.6), {6.6, 6, 6.6}),
                 6.6,
                 "Arial"},
        FontCase{"when Arial has a minimum too, the whole points are asked last",
                 ControlKind::Other,
                 {{"Trebuchet MS", kMinimum8}, {"Arial", kMinimum7}},
                 8.25,
                 0.8f,
                 Then(SearchFrom(6.6), {6.6, 6, 6.6, 6}),
                 7,
                 "Arial"},
        FontCase{"a check box's fallback asks the size without the 98 %",
                 ControlKind::CheckBox,
                 {{"Trebuchet MS", kMinimum8}},
                 8.25,
                 0.8f,
                 Then(SearchFrom(6.468), {6.6, 6, 6.6}),
                 6.6,
                 "Arial"},
        // The check box's requests all fall between whole points; the whole 10 that the fallback asks
        // is the old size, which counts as refused.
        FontCase{"a check box whose font comes back at its old size goes to Arial",
                 ControlKind::CheckBox,
                 {{"Trebuchet MS", {Face::Snap::WholePointUp}}},
                 10,
                 1.05f,
                 Then(SearchFrom(10.29), {10.5, 10, 10.5}),
                 10.5,
                 "Arial"},
        FontCase{"a font whose size cannot be read is left alone",
                 ControlKind::Other,
                 {{"Trebuchet MS", {Face::Snap::None, 0, false, true}}},
                 8.25,
                 1.28f,
                 {},
                 std::numeric_limits<double>::quiet_NaN(),
                 "Trebuchet MS"}));

TEST(FontStep, ControlWithoutAFontStillMoves) {
    SetRatios(1.28f, 1.28f, 1.28f);
    FormModel form;
    form.controls.push_back(MakeControl("TextBox"));
    ScaleForm(form);
    EXPECT_EQ(form.controls[0].font, nullptr);
    EXPECT_NEAR(*form.controls[0].width, 1200 * 1.28, 1e-3);
}

// Which types have their font rescaled at all.
struct TypeCase {
    const char* type;
    ControlKind kind;
    bool fontStep;
    bool geometry;
};

void PrintTo(const TypeCase& c, std::ostream* os) {
    *os << c.type;
}

class TypeRulesTest : public ::testing::TestWithParam<TypeCase> {};

TEST_P(TypeRulesTest, FontAndGeometryByType) {
    const TypeCase& c = GetParam();
    SetRatios(1.28f, 1.28f, 1.28f);
    const std::map<QString, Face> faces;
    FormModel form;
    form.controls.push_back(MakeControl(c.type, c.kind));
    FakeFont* font = GiveFont(form.controls[0], &faces);

    ScaleForm(form);

    const Control& after = form.controls[0];
    if (c.fontStep) {
        EXPECT_NEAR(font->Size(), 10.6, 1e-9);
    } else {
        EXPECT_TRUE(font->requests.empty());
        EXPECT_EQ(font->Size(), 8.25);
    }
    if (c.geometry) {
        EXPECT_NEAR(*after.left, 300 * 1.28, 1e-3);
        EXPECT_NEAR(*after.height, 600 * 1.28, 1e-3);
    } else {
        EXPECT_EQ(*after.left, 300);
        EXPECT_EQ(*after.top, 450);
        EXPECT_EQ(*after.width, 1200);
        EXPECT_EQ(*after.height, 600);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, TypeRulesTest,
                         ::testing::Values(TypeCase{"Timer", ControlKind::Other, false, false},
                                           TypeCase{"Menu", ControlKind::Other, false, false},
                                           TypeCase{"CommonDialog", ControlKind::Other, false, false},
                                           TypeCase{"MDIExtend", ControlKind::Other, false, false},
                                           TypeCase{"timer", ControlKind::Other, false, false},
                                           TypeCase{"ProgressBar", ControlKind::Other, false, true},
                                           TypeCase{"Image", ControlKind::Other, false, true},
                                           TypeCase{"Shape", ControlKind::Other, false, true},
                                           TypeCase{"clGrd", ControlKind::Other, false, true},
                                           TypeCase{"KivBtn", ControlKind::Other, true, true},
                                           TypeCase{"TextBox", ControlKind::Other, true, true},
                                           TypeCase{"Frame", ControlKind::Other, true, true},
                                           TypeCase{"VSFlexGrid", ControlKind::Other, true, true},
                                           TypeCase{"Label", ControlKind::Label, true, true}));

// ---------------------------------------------------------------------------------------------
// Geometry step, at the ratios of a 1280 x 1024 display (the axes differ).

constexpr double kX = 1.6;
constexpr double kY = 1.7066667;

struct Expected {
    std::optional<double> left, top, width, height;
    std::optional<double> x1, y1, x2, y2;
    std::optional<double> tabHeight, tabMaxWidth;
    std::optional<double> colWidthMax, rowHeightMax, colWidthMin, rowHeightMin;
};

struct GeometryCase {
    const char* what;
    std::function<std::vector<Control>()> controls;  // the last one is checked
    Expected expected;
};

void PrintTo(const GeometryCase& c, std::ostream* os) {
    *os << c.what;
}

Control Label(std::optional<bool> autoSize, std::optional<bool> wordWrap) {
    Control c = MakeControl("Label", ControlKind::Label);
    c.autoSize = autoSize;
    c.wordWrap = wordWrap;
    return c;
}

Control Inside(Control c, const Control& container, double left) {
    c.container = container.name;
    c.left = left;
    return c;
}

void ExpectOptional(const char* property, const std::optional<double>& actual,
                    const std::optional<double>& expected) {
    ASSERT_EQ(actual.has_value(), expected.has_value()) << property;
    if (expected) {
        EXPECT_NEAR(*actual, *expected, 0.01) << property;
    }
}

class GeometryTest : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(GeometryTest, ScalesByTheControlsRule) {
    const GeometryCase& c = GetParam();
    SetRatios(1.6f, 1.7066667f, 1.6533334f);
    FormModel form;
    form.controls = c.controls();

    ScaleForm(form);

    const Control& a = form.controls.back();
    const Expected& e = c.expected;
    ExpectOptional("Left", a.left, e.left);
    ExpectOptional("Top", a.top, e.top);
    ExpectOptional("Width", a.width, e.width);
    ExpectOptional("Height", a.height, e.height);
    ExpectOptional("X1", a.x1, e.x1);
    ExpectOptional("Y1", a.y1, e.y1);
    ExpectOptional("X2", a.x2, e.x2);
    ExpectOptional("Y2", a.y2, e.y2);
    ExpectOptional("TabHeight", a.tabHeight, e.tabHeight);
    ExpectOptional("TabMaxWidth", a.tabMaxWidth, e.tabMaxWidth);
    ExpectOptional("ColWidthMax", a.colWidthMax, e.colWidthMax);
    ExpectOptional("RowHeightMax", a.rowHeightMax, e.rowHeightMax);
    ExpectOptional("ColWidthMin", a.colWidthMin, e.colWidthMin);
    ExpectOptional("RowHeightMin", a.rowHeightMin, e.rowHeightMin);
}

Expected Rect(std::optional<double> left, std::optional<double> top, std::optional<double> width,
              std::optional<double> height) {
    Expected e;
    e.left = left;
    e.top = top;
    e.width = width;
    e.height = height;
    return e;
}

const Expected kAllFour = Rect(300 * kX, 450 * kY, 1200 * kX, 600 * kY);

Control TabbedContainer() {
    Control tab = MakeControl("SSTab");
    tab.tabHeight = 360;
    tab.tabMaxWidth = 1500;
    return tab;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, GeometryTest,
    ::testing::Values(
        GeometryCase{"a button scales on both axes", [] { return std::vector{MakeControl("KivBtn")}; },
                     kAllFour},
        GeometryCase{"a combo box keeps its height",
                     [] { return std::vector{MakeControl("ComboBox", ControlKind::ComboBox)}; },
                     Rect(300 * kX, 450 * kY, 1200 * kX, 600)},
        GeometryCase{"a combo box that cannot be moved still scales",
                     [] {
                         Control c = MakeControl("ComboBox", ControlKind::ComboBox);
                         c.movable = false;
                         return std::vector{c};
                     },
                     Rect(300 * kX, 450 * kY, 1200 * kX, 600)},
        GeometryCase{"a line's ends scale by axis",
                     [] {
                         Control c;
                         c.name = "Line1";
                         c.typeName = "Line";
                         c.kind = ControlKind::Line;
                         c.x1 = 100;
                         c.y1 = 200;
                         c.x2 = 4000;
                         c.y2 = 200;
                         return std::vector{c};
                     },
                     [] {
                         Expected e;
                         e.x1 = 100 * kX;
                         e.y1 = 200 * kY;
                         e.x2 = 4000 * kX;
                         e.y2 = 200 * kY;
                         return e;
                     }()},
        GeometryCase{"a fixed-size label scales on both axes",
                     [] { return std::vector{Label(false, false)}; }, kAllFour},
        GeometryCase{"a self-sizing label only moves", [] { return std::vector{Label(true, false)}; },
                     Rect(300 * kX, 450 * kY, 1200, 600)},
        GeometryCase{"a self-sizing wrapping label gets its width",
                     [] { return std::vector{Label(true, true)}; }, Rect(300 * kX, 450 * kY, 1200 * kX, 600)},
        GeometryCase{"a label that cannot say it sizes itself is treated as fixed",
                     [] { return std::vector{Label(std::nullopt, std::nullopt)}; }, kAllFour},
        GeometryCase{"a control parked at a negative Left comes back at 120",
                     [] {
                         Control c = MakeControl("KivBtn");
                         c.left = -5000;
                         return std::vector{c};
                     },
                     Rect(120 * kX, 450 * kY, 1200 * kX, 600 * kY)},
        GeometryCase{"so does one parked inside a frame",
                     [] {
                         const Control frame = MakeControl("Frame");
                         return std::vector{frame, Inside(MakeControl("TextBox"), frame, -5000)};
                     },
                     Rect(120 * kX, 450 * kY, 1200 * kX, 600 * kY)},
        GeometryCase{"a control on a hidden tab returns from 75000 twips away",
                     [] {
                         const Control tab = TabbedContainer();
                         return std::vector{tab, Inside(MakeControl("TextBox"), tab, 300 - 75000)};
                     },
                     kAllFour},
        GeometryCase{"a tabbed container scales its tabs with it",
                     [] { return std::vector{TabbedContainer()}; },
                     [] {
                         Expected e = Rect(300 * kX, 450 * kY, 1200 * kX, 600 * kY);
                         e.tabHeight = 360 * kY;
                         e.tabMaxWidth = 1500 * kX;
                         return e;
                     }()},
        GeometryCase{"the grid's four limits grow with it",
                     [] {
                         Control grid = MakeControl("VSFlexGrid");
                         grid.colWidthMax = 6000;
                         grid.rowHeightMax = 600;
                         grid.colWidthMin = 300;
                         grid.rowHeightMin = 240;
                         return std::vector{grid};
                     },
                     [] {
                         Expected e = Rect(300 * kX, 450 * kY, 1200 * kX, 600 * kY);
                         e.colWidthMax = 6000 * kX;
                         e.rowHeightMax = 600 * kY;
                         e.colWidthMin = 300 * kX;
                         e.rowHeightMin = 240 * kY;
                         return e;
                     }()},
        GeometryCase{"a control that cannot be moved stays",
                     [] {
                         Control c = MakeControl("KivBtn");
                         c.movable = false;
                         return std::vector{c};
                     },
                     Rect(300, 450, 1200, 600)},
        GeometryCase{"a control without a height is not moved",
                     [] {
                         Control c = MakeControl("KivBtn");
                         c.height.reset();
                         return std::vector{c};
                     },
                     Rect(300, 450, 1200, std::nullopt)}));

TEST(ScaleForm, ScalesTheFormItself) {
    SetRatios(1.6f, 1.7066667f, 1.6533334f);
    FormModel form;
    form.left = 1000;
    form.top = 600;
    form.width = 9000;
    form.height = 6000;
    ScaleForm(form);
    EXPECT_NEAR(form.left, 1000 * kX, 0.01);
    EXPECT_NEAR(form.top, 600 * kY, 0.01);
    EXPECT_NEAR(form.width, 9000 * kX, 0.01);
    EXPECT_NEAR(form.height, 6000 * kY, 0.01);
}

TEST(ScaleForm, ShrinksOnASmallDisplay) {
    SetRatios(0.8f, 0.8f, 0.8f);
    const std::map<QString, Face> faces;
    FormModel form;
    form.width = 9000;
    form.controls.push_back(MakeControl("KivBtn"));
    FakeFont* font = GiveFont(form.controls[0], &faces);
    ScaleForm(form);
    EXPECT_NEAR(*form.controls[0].width, 960, 0.01);
    EXPECT_NEAR(form.width, 7200, 0.01);
    EXPECT_NEAR(font->Size(), 6.6, 1e-9);
}

// Ratios of the design screen, or ratios never measured, leave the window exactly as designed.
struct RatioCase {
    const char* what;
    float x, y, avg;
};

void PrintTo(const RatioCase& c, std::ostream* os) {
    *os << c.what;
}

class UnchangedTest : public ::testing::TestWithParam<RatioCase> {};

TEST_P(UnchangedTest, LeavesEverythingAsDesigned) {
    const RatioCase& c = GetParam();
    SetRatios(c.x, c.y, c.avg);
    const std::map<QString, Face> faces;
    FormModel form;
    form.left = 100;
    form.top = 200;
    form.width = 9000;
    form.height = 6000;
    form.controls = {MakeControl("KivBtn"), Label(true, false),
                     MakeControl("CheckBox", ControlKind::CheckBox),
                     MakeControl("ComboBox", ControlKind::ComboBox), TabbedContainer()};
    std::vector<FakeFont*> fonts;
    for (Control& control : form.controls) fonts.push_back(GiveFont(control, &faces));
    const FormModel before = form;

    ScaleForm(form);

    EXPECT_EQ(form.left, before.left);
    EXPECT_EQ(form.top, before.top);
    EXPECT_EQ(form.width, before.width);
    EXPECT_EQ(form.height, before.height);
    for (std::size_t i = 0; i < form.controls.size(); ++i) {
        SCOPED_TRACE(form.controls[i].typeName.toStdString());
        EXPECT_EQ(form.controls[i].left, before.controls[i].left);
        EXPECT_EQ(form.controls[i].top, before.controls[i].top);
        EXPECT_EQ(form.controls[i].width, before.controls[i].width);
        EXPECT_EQ(form.controls[i].height, before.controls[i].height);
        EXPECT_EQ(form.controls[i].tabHeight, before.controls[i].tabHeight);
        EXPECT_TRUE(fonts[i]->requests.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ratios, UnchangedTest,
    ::testing::Values(RatioCase{"design screen", 1, 1, 1}, RatioCase{"never measured", 0, 0, 0},
                      RatioCase{"one ratio never measured", 1.28f, 0, 1.28f},
                      RatioCase{"a negative ratio", -1.28f, 1.28f, 1.28f},
                      RatioCase{"not a number", std::numeric_limits<float>::quiet_NaN(), 1.28f, 1.28f}));

}  // namespace
}  // namespace kiv::app
