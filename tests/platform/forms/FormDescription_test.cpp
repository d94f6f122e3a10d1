// Window descriptions: what a broken one reports, and that the main window's own one is whole.
#include "platform/forms/FormDescription.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QWidget>

#include "app/identity/Resources.h"
#include "platform/formhost/FormHost.h"
#include "platform/formhost/StandardControls.h"
#include "platform/forms/QtFontSystem.h"

namespace kiv::forms {
namespace {

DescriptionResult Read(const char* json) {
    QtFontSystem fonts;
    return ReadFormDescription(QByteArray(json), fonts);
}

// A window built from a description with the program's control types.
struct BuiltWindow {
    explicit BuiltWindow(const FormModel& model) : host(&window, model) {
        forms::RegisterStandardControls(host);
    }
    bool Build() { return host.Build(&error); }
    QWidget window;
    FormHost host;
    QString error;
};

TEST(FormDescriptionTest, BrokenDescriptionsSayWhatIsWrong) {
    struct Case {
        const char* json;
        const char* expected;
    } cases[] = {
        {"{\"name\": \"f\", ", "malformed"},
        {"[1, 2]", "not an object"},
        {"{\"width\": 100, \"height\": 100, \"controls\": []}", "no name"},
        {"{\"name\": \"f\", \"controls\": []}", "no valid size"},
        {"{\"name\": \"f\", \"width\": 100, \"height\": 100}", "no controls"},
        {"{\"name\": \"f\", \"width\": 100, \"height\": 100, \"controls\": [{\"name\": \"a\"}]}",
         "no name or type"},
        {"{\"name\": \"f\", \"width\": 100, \"height\": 100, \"controls\": [{\"name\": \"a\", \"type\": "
         "\"Label\", "
         "\"container\": \"nowhere\"}]}",
         "unknown container"},
        {"{\"name\": \"f\", \"width\": 100, \"height\": 100, \"controls\": [{\"name\": \"a\", \"type\": "
         "\"Label\"}, "
         "{\"name\": \"A\", \"type\": \"Label\"}]}",
         "described twice"},
        {"{\"name\": \"f\", \"width\": 100, \"height\": 100, \"controls\": [{\"name\": \"a\", \"type\": "
         "\"Label\", "
         "\"font\": {\"name\": \"Arial\"}}]}",
         "malformed font"},
    };
    for (const Case& c : cases) {
        const DescriptionResult result = Read(c.json);
        EXPECT_FALSE(result.form) << c.json;
        EXPECT_TRUE(result.error.contains(QLatin1String(c.expected))) << result.error.toStdString();
    }
}

TEST(FormDescriptionTest, ButtonPropertyKeysAreLowerCaseAndItsFontComesFromThem) {
    const DescriptionResult result = Read(
        "{\"name\": \"f\", \"width\": 100, \"height\": 100, \"controls\": [{\"name\": \"b\", \"type\": "
        "\"KivBtn\", "
        "\"properties\": {\"BTYPE\": 3, \"Font\": {\"name\": \"Trebuchet MS\", \"size\": 8.25, \"bold\": "
        "true}}}]}");
    ASSERT_TRUE(result.form) << result.error.toStdString();
    const Control& button = result.form->controls.at(0);
    EXPECT_EQ(button.properties.value("btype").toInt(), 3);
    ASSERT_TRUE(button.font);
    EXPECT_EQ(button.font->Spec().name, "Trebuchet MS");
    EXPECT_TRUE(button.font->Spec().bold);
}

TEST(FormDescriptionTest, UnknownControlTypeStopsTheBuild) {
    const DescriptionResult result = Read(
        "{\"name\": \"f\", \"width\": 100, \"height\": 100, \"controls\": [{\"name\": \"x\", \"type\": "
        "\"Gauge\"}]}");
    ASSERT_TRUE(result.form);
    BuiltWindow built(*result.form);
    EXPECT_FALSE(built.Build());
    EXPECT_TRUE(built.error.contains("Gauge")) << built.error.toStdString();
}

TEST(FormDescriptionTest, TwipsBecomePixelsEdgeByEdge) {
    const DescriptionResult result = Read(
        "{\"name\": \"f\", \"width\": 11520, \"height\": 7320, \"controls\": [{\"name\": \"l\", \"type\": "
        "\"Label\", "
        "\"left\": 120, \"top\": 720, \"width\": 11295, \"height\": 5535, \"caption\": \"x\"}]}");
    ASSERT_TRUE(result.form);
    BuiltWindow built(*result.form);
    ASSERT_TRUE(built.Build()) << built.error.toStdString();
    FormHost& host = built.host;
    QWidget& window = built.window;
    host.Apply();
    const double twips = host.TwipsPerPixel();
    const auto px = [twips](double t) { return static_cast<int>(std::nearbyint(t / twips)); };
    QWidget* label = host.Widget("l");
    ASSERT_TRUE(label);
    EXPECT_EQ(label->geometry(),
              QRect(px(120), px(720), px(120 + 11295) - px(120), px(720 + 5535) - px(720)));
    EXPECT_EQ(window.size(), QSize(px(11520), px(7320)));
}

TEST(FormDescriptionTest, MainWindowDescriptionHoldsEveryControl) {
    app::InitResources();
    QtFontSystem fonts;
    const DescriptionResult result = LoadFormDescription(":/forms/frmmain.json", fonts);
    ASSERT_TRUE(result.form) << result.error.toStdString();
    QStringList names;
    for (const Control& c : result.form->controls)
        names << c.name + (c.index >= 0 ? QString::number(c.index) : "");
    EXPECT_EQ(names, (QStringList{"Label3", "Label4", "vs1", "Frame1", "Label1", "txtpass0", "Label2",
                                  "txtpass1", "cmdadd", "cmddelete", "cmdexit", "cmdsearch", "cmddeleteall",
                                  "cmdproceed", "fampg", "lblpb", "pb", "cmdstop", "cd1"}));
    const Control* proceed = result.form->Find("cmdproceed");
    ASSERT_TRUE(proceed);
    EXPECT_EQ(proceed->container, "Frame1");
    EXPECT_EQ(*proceed->left, 9600);
    EXPECT_EQ(*proceed->top, 480);
    EXPECT_EQ(proceed->properties.value("tx").toString(), "  &Proceed >>");
    EXPECT_FALSE(result.form->Find("fampg")->visible);
    EXPECT_EQ(result.form->backColor, 0x00C0E0FFu);
}

}  // namespace
}  // namespace kiv::forms

namespace kiv::forms {
namespace {

TEST(FormHostTest, CaptionTooWideForItsBoxGrowsIntoFreeSpaceButNotOverANeighbour) {
    const DescriptionResult result = Read(
        "{\"name\": \"f\", \"width\": 6000, \"height\": 1000, \"controls\": ["
        "{\"name\": \"free\", \"type\": \"Label\", \"left\": 0, \"top\": 0, \"width\": 300, \"height\": 300, "
        "\"caption\": \"A caption far wider than its box\"},"
        "{\"name\": \"boxed\", \"type\": \"Label\", \"left\": 0, \"top\": 500, \"width\": 300, \"height\": "
        "300, "
        "\"caption\": \"A caption far wider than its box\"},"
        "{\"name\": \"next\", \"type\": \"TextBox\", \"left\": 600, \"top\": 500, \"width\": 1000, "
        "\"height\": 300}]}");
    ASSERT_TRUE(result.form) << result.error.toStdString();
    BuiltWindow built(*result.form);
    ASSERT_TRUE(built.Build()) << built.error.toStdString();
    FormHost& host = built.host;
    host.Apply();
    auto* free = host.As<QLabel>("free");
    EXPECT_GE(free->width(), free->sizeHint().width());
    QWidget* next = host.Widget("next");
    EXPECT_LT(host.Widget("boxed")->geometry().right(), next->geometry().left());
    EXPECT_GT(host.Widget("boxed")->width(), 20);
}

// Fonts grow by the mean ratio while boxes grow by their own axis: a caption taller than its box
// takes free space below it, and where a neighbour leaves too little, its font steps down.
TEST(FormHostTest, CaptionTallerThanItsBoxGrowsDownOrItsFontStepsDown) {
    const DescriptionResult result = Read(
        "{\"name\": \"f\", \"width\": 6000, \"height\": 3000, \"controls\": ["
        "{\"name\": \"free\", \"type\": \"Label\", \"left\": 0, \"top\": 0, \"width\": 3000, \"height\": "
        "150, "
        "\"caption\": \"Free below\", \"font\": {\"name\": \"Times New Roman\", \"size\": 12}},"
        "{\"name\": \"pinned\", \"type\": \"Label\", \"left\": 0, \"top\": 1000, \"width\": 3000, "
        "\"height\": 150, "
        "\"caption\": \"Pinned\", \"font\": {\"name\": \"Times New Roman\", \"size\": 12}},"
        "{\"name\": \"below\", \"type\": \"TextBox\", \"left\": 1500, \"top\": 1200, \"width\": 3000, "
        "\"height\": 300},"
        "{\"name\": \"beside\", \"type\": \"TextBox\", \"left\": 4000, \"top\": 0, \"width\": 1000, "
        "\"height\": 600}]}");
    ASSERT_TRUE(result.form) << result.error.toStdString();
    BuiltWindow built(*result.form);
    ASSERT_TRUE(built.Build()) << built.error.toStdString();
    FormHost& host = built.host;
    host.Apply();

    auto* free = host.As<QLabel>("free");
    EXPECT_GE(free->height(), free->fontMetrics().height());
    EXPECT_EQ(free->font().pointSizeF(), 12) << "room to grow keeps the scaled font";
    EXPECT_EQ(host.Model().Find("free")->font->Size(), 12);

    auto* pinned = host.As<QLabel>("pinned");
    const QRect below = host.Widget("below")->geometry();
    EXPECT_LT(pinned->geometry().bottom(), below.top()) << "never over the neighbour below";
    EXPECT_LT(pinned->font().pointSizeF(), 12);
    EXPECT_GE(pinned->height(), pinned->fontMetrics().height()) << "the smaller font fits";
    EXPECT_GE(pinned->width(), pinned->sizeHint().width());
    EXPECT_EQ(host.Model().Find("pinned")->font->Size(), pinned->font().pointSizeF())
        << "the model says what is shown";

    // Applying again changes nothing further.
    const double size = pinned->font().pointSizeF();
    host.Apply();
    EXPECT_EQ(pinned->font().pointSizeF(), size);
}

TEST(FormHostTest, ControlsEndingWithTheirContainerStayInsideItAfterRounding) {
    // The right-hand button of the main window's command frame at 1366 x 768, in scaled twips:
    // rounded inside the frame it would reach one pixel past the frame's right edge.
    const DescriptionResult result = Read(
        "{\"name\": \"f\", \"width\": 19670.4, \"height\": 9369.6, \"controls\": ["
        "{\"name\": \"box\", \"type\": \"Frame\", \"left\": 204.9, \"top\": 8140.8, \"width\": 19286.2125, "
        "\"height\": 1094.4},"
        "{\"name\": \"last\", \"type\": \"TextBox\", \"container\": \"box\", \"left\": 16392, \"top\": "
        "614.4, "
        "\"width\": 2894.2125, \"height\": 480},"
        "{\"name\": \"tail\", \"type\": \"Label\", \"container\": \"box\", \"left\": 0, \"top\": 800, "
        "\"width\": 600, \"height\": 600, \"caption\": \"x\"}]}");
    ASSERT_TRUE(result.form) << result.error.toStdString();
    BuiltWindow built(*result.form);
    ASSERT_TRUE(built.Build()) << built.error.toStdString();
    built.host.Apply();
    const QWidget* box = built.host.Widget("box");
    const QWidget* last = built.host.Widget("last");
    EXPECT_EQ(last->geometry().right(), box->width() - 1) << "ends exactly where the frame ends";
    // A label reaching past its container loses the part that would never show.
    EXPECT_TRUE(box->rect().contains(built.host.Widget("tail")->geometry()));
}

}  // namespace
}  // namespace kiv::forms
