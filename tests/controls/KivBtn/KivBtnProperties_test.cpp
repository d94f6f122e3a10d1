#include "controls/KivBtn/KivBtnProperties.h"

#include <gtest/gtest.h>

#include "controls/KivBtn/MainWindowSet.h"

namespace kiv::controls {
namespace {

PropertyDefaults Defaults() {
    PropertyDefaults d;
    d.font = {QStringLiteral("Sans"), 9.0, false, false, false};
    d.buttonFace = 0xEFEFEF;
    d.buttonText = 0x101010;
    return d;
}

TEST(ReadPropertiesTest, EmptySetGivesTheDefaults) {
    const ReadResult r = ReadProperties({}, Defaults());
    EXPECT_TRUE(r.problems.isEmpty());
    const KivBtnProperties& p = r.properties;
    EXPECT_EQ(p.buttonType, 2);
    EXPECT_EQ(p.caption, QString());
    EXPECT_TRUE(p.enabled);
    EXPECT_EQ(p.font, Defaults().font);
    EXPECT_EQ(p.colorScheme, 1);
    EXPECT_TRUE(p.showFocusRect);
    EXPECT_EQ(p.backColor, 0xEFEFEFu);
    EXPECT_EQ(p.backOver, 0xEFEFEFu);
    EXPECT_EQ(p.foreColor, 0x101010u);
    EXPECT_EQ(p.foreOver, 0x101010u);
    EXPECT_EQ(p.maskColor, 0xC0C0C0u);
    EXPECT_EQ(p.mousePointer, 0);
    EXPECT_TRUE(p.pictureNormal.isEmpty());
    EXPECT_TRUE(p.useMaskColor);
    EXPECT_FALSE(p.handPointer);
}

TEST(ReadPropertiesTest, HoverColoursDefaultToTheNormalColoursJustRead) {
    const ReadResult r = ReadProperties({{"BCOL", 0x123456}, {"Fcol", 0x00FF00}}, Defaults());
    EXPECT_EQ(r.properties.backColor, 0x123456u);
    EXPECT_EQ(r.properties.backOver, 0x123456u);
    EXPECT_EQ(r.properties.foreOver, 0x00FF00u);
}

TEST(ReadPropertiesTest, ReadsTheMainWindowSet) {
    const ReadResult r = ReadProperties(MainWindowSet(), Defaults());
    EXPECT_TRUE(r.problems.isEmpty()) << r.problems.join("; ").toStdString();
    const KivBtnProperties& p = r.properties;
    EXPECT_EQ(p.buttonType, 3);
    EXPECT_EQ(p.caption, "  &Add File");
    EXPECT_EQ(p.font, (BtnFont{"Trebuchet MS", 8.25, true, false, false}));
    EXPECT_EQ(p.colorScheme, 2);
    EXPECT_FALSE(p.showFocusRect);
    EXPECT_EQ(p.backColor, 0xC0E0FFu);
    EXPECT_EQ(p.backOver, 0xC0FFFFu);
    EXPECT_EQ(p.foreOver, 0x400000u);
    EXPECT_EQ(p.mousePointer, 99);
    EXPECT_EQ(p.pictureNormal, ":/icons/add.xpm");
    EXPECT_TRUE(p.softBevel);
    EXPECT_EQ(p.specialEffect, 3);
    EXPECT_TRUE(p.handPointer);
}

TEST(ReadPropertiesTest, NumbersMayArriveAsTextOrWholeDoubles) {
    const ReadResult r = ReadProperties(
        {{"btype", "3"}, {"bcol", "0x00C0E0FF"}, {"fx", 2.0}, {"enab", -1}, {"check", "true"}}, Defaults());
    EXPECT_TRUE(r.problems.isEmpty());
    EXPECT_EQ(r.properties.buttonType, 3);
    EXPECT_EQ(r.properties.backColor, 0xC0E0FFu);
    EXPECT_EQ(r.properties.specialEffect, 2);
    EXPECT_TRUE(r.properties.enabled);
    EXPECT_TRUE(r.properties.checkBoxBehaviour);
}

struct BadValue {
    const char* key;
    QVariant value;
};

class BadValueTest : public ::testing::TestWithParam<BadValue> {};

TEST_P(BadValueTest, TakesTheDefaultAndSaysSo) {
    const BadValue& bad = GetParam();
    QVariantMap set{{"tx", "kept"}, {"fx", 1}};
    set.insert(bad.key, bad.value);
    const ReadResult r = ReadProperties(set, Defaults());
    ASSERT_EQ(r.problems.size(), 1) << bad.key;
    EXPECT_TRUE(r.problems.front().startsWith(QLatin1String(bad.key)));
    KivBtnProperties expected = ReadProperties({{"tx", "kept"}, {"fx", 1}}, Defaults()).properties;
    EXPECT_EQ(r.properties, expected) << bad.key;
}

INSTANTIATE_TEST_SUITE_P(Values, BadValueTest,
                         ::testing::Values(BadValue{"btype", "three"}, BadValue{"btype", 2.5},
                                           BadValue{"btype", 5000000000.0}, BadValue{"enab", QVariantMap{}},
                                           BadValue{"enab", "maybe"}, BadValue{"mptr", 40000},
                                           BadValue{"bcol", QVariantList{1, 2}},
                                           BadValue{"bcol", 5000000000LL}, BadValue{"font", "Arial"},
                                           BadValue{"picn", 7}, BadValue{"coltype", true},
                                           BadValue{"value", QVariantList{}}));

TEST(ReadPropertiesTest, BadFontPartKeepsTheRestOfTheFont) {
    const ReadResult r =
        ReadProperties({{"font", QVariantMap{{"name", "Arial"}, {"size", -3}, {"bold", true}}}}, Defaults());
    EXPECT_EQ(r.problems.size(), 1);
    EXPECT_EQ(r.properties.font, (BtnFont{"Arial", 9.0, true, false, false}));
}

TEST(WritePropertiesTest, WritesEveryKeyInOrderButNoEmptyPicture) {
    KivBtnProperties p = ReadProperties({}, Defaults()).properties;
    PropertyList out = WriteProperties(p);
    QStringList keys;
    for (const auto& entry : out) keys << entry.first;
    QStringList expected = PersistedKeys();
    expected.removeAll("micon");
    expected.removeAll("picn");
    expected.removeAll("pich");
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(PersistedKeys().size(), 23);
}

TEST(WritePropertiesTest, WhatIsWrittenReadsBackTheSame) {
    KivBtnProperties p = ReadProperties(MainWindowSet(), Defaults()).properties;
    p.backOver = SystemColor(kSysColorButtonFace);  // a reference must survive as a reference
    p.pictureOver = ":/icons/other.xpm";
    p.value = true;
    const ReadResult back = ReadProperties(ToVariantMap(WriteProperties(p)), Defaults());
    EXPECT_TRUE(back.problems.isEmpty());
    EXPECT_EQ(back.properties, p);
}

}  // namespace
}  // namespace kiv::controls
