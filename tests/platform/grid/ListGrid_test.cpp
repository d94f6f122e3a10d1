// The list grid under the changes a long search makes: its path index and its fitted widths must
// always answer as a fresh look at the cells would.
#include <gtest/gtest.h>

#include <QFont>

#include "platform/grid/FlexGrid.h"

namespace kiv::grid {
namespace {

constexpr int kCols = 4;
constexpr int kKey = 1;

// The lookup by its definition: the first row from startRow whose key cell matches whole, under a
// key rule that ignores letter case.
QString Lower(const QString& text) {
    return text.toLower();
}
int ScanFor(const GridModel& model, const QString& text, int startRow) {
    for (int r = startRow; r < model.Rows(); ++r) {
        if (model.TextMatrix(r, kKey).compare(text, Qt::CaseInsensitive) == 0) return r;
    }
    return -1;
}

void ExpectIndexAgrees(const GridModel& model, const QStringList& probes) {
    for (const QString& probe : probes) {
        for (int start : {1, 2, 3}) {
            EXPECT_EQ(model.FindRow(probe, start, kKey), ScanFor(model, probe, start))
                << "probe '" << probe.toStdString() << "' from row " << start;
        }
    }
}

TEST(ListIndex, AgreesWithAScanThroughAppendsRemovesAndEdits) {
    GridModel model(kCols, kKey);
    const QStringList probes{"/a.pfx", "/A.PFX", "/b.pfx", "/c.pfx", "/d.pfx", "/e.pfx", "", "/a.pf"};
    for (const char* path : {"/a.pfx", "/b.pfx", "/C.pfx"}) model.AppendRow({"", path, "", ""});
    model.SetKeyRule(Lower);  // the rows listed so far are indexed again
    model.AppendRow({"", "/d.pfx", "", ""});
    ExpectIndexAgrees(model, probes);

    model.RemoveRow(2);  // "/b.pfx": the rows below move up
    ExpectIndexAgrees(model, probes);
    EXPECT_EQ(model.FindRow("/d.PFX", 1, kKey), 3);

    model.SetTextMatrix(1, kKey, "/e.pfx");
    model.SetRows(6);  // two empty rows, whose key is the empty text
    ExpectIndexAgrees(model, probes);
    EXPECT_EQ(model.FindRow("", 1, kKey), 4);

    model.SetRangeText(2, kKey, 3, kKey, "/b.pfx");
    ExpectIndexAgrees(model, probes);
    model.SetRows(3);
    ExpectIndexAgrees(model, probes);
    model.SetRows(1);
    ExpectIndexAgrees(model, probes);
    model.AppendRow({"", "/A.pfx", "", ""});
    EXPECT_EQ(model.FindRow("/a.PFX", 1, kKey), 1);
}

// A grid filled with `rows` from scratch, for comparing widths against.
std::unique_ptr<FlexGrid> FreshGrid(const std::vector<QStringList>& rows, const QFont& font) {
    auto grid = std::make_unique<FlexGrid>(kCols, kKey);
    grid->setFont(font);
    for (int c = 0; c < kCols; ++c) grid->SetTextMatrix(0, c, "Head");
    for (const QStringList& row : rows) grid->Model().AppendRow(row);
    grid->AutoSize(0, kCols - 1);
    return grid;
}

void ExpectWidthsOfAFreshGrid(FlexGrid& grid) {
    std::vector<QStringList> rows;
    for (int r = 1; r < grid.Rows(); ++r) {
        QStringList row;
        for (int c = 0; c < kCols; ++c) row << grid.TextMatrix(r, c);
        rows.push_back(row);
    }
    grid.AutoSize(0, kCols - 1);
    const auto fresh = FreshGrid(rows, grid.font());
    for (int c = 0; c < kCols; ++c) EXPECT_EQ(grid.columnWidth(c), fresh->columnWidth(c)) << "column " << c;
}

TEST(ListWidths, FittedWidthsFollowEveryKindOfChange) {
    FlexGrid grid(kCols, kKey);
    for (int c = 0; c < kCols; ++c) grid.SetTextMatrix(0, c, "Head");
    grid.Model().AppendRow({"1", "/short.pfx", "short.pfx", ""});
    grid.Model().AppendRow({"2", "/a/much/longer/path/to/a/certificate.pfx", "certificate.pfx", "Done"});
    grid.Model().AppendRow({"3", "/mid/length.pfx", "length.pfx", ""});
    ExpectWidthsOfAFreshGrid(grid);
    const int wide = grid.columnWidth(1);

    grid.RemoveItem(2);  // the widest path goes
    ExpectWidthsOfAFreshGrid(grid);
    EXPECT_LT(grid.columnWidth(1), wide);

    grid.SetTextMatrix(1, 3, "A much longer status text than any before");
    ExpectWidthsOfAFreshGrid(grid);
    grid.Model().SetRangeText(1, 3, grid.Rows() - 1, 3, QString());
    ExpectWidthsOfAFreshGrid(grid);

    grid.SetRows(5);
    ExpectWidthsOfAFreshGrid(grid);
    grid.SetRows(2);
    ExpectWidthsOfAFreshGrid(grid);

    QFont bigger = grid.font();
    bigger.setPointSizeF(bigger.pointSizeF() * 2);
    const int before = grid.columnWidth(1);
    grid.setFont(bigger);
    ExpectWidthsOfAFreshGrid(grid);
    EXPECT_GT(grid.columnWidth(1), before);

    grid.SetRows(1);
    ExpectWidthsOfAFreshGrid(grid);
}

TEST(ListWidths, LongListKeepsIndexAndWidthsInStepWithRemovals) {
    const auto pathOf = [](int r) {
        return QStringLiteral("/share/dept%1/%2/cert-%3.pfx").arg(r % 31).arg(QString(r % 17, 'x')).arg(r);
    };
    FlexGrid grid(kCols, kKey);
    grid.Model().SetKeyRule(Lower);
    for (int c = 0; c < kCols; ++c) grid.SetTextMatrix(0, c, "Head");
    for (int r = 1; r <= 20000; ++r) {
        ASSERT_EQ(grid.FindRow(pathOf(r).toUpper(), 1, kKey), -1);
        grid.Model().AppendRow(
            {QString::number(r), pathOf(r), QStringLiteral("cert-%1.pfx").arg(r), QString()});
    }
    EXPECT_EQ(grid.FindRow(pathOf(19999).toUpper(), 1, kKey), 19999);
    EXPECT_EQ(grid.FindRow(pathOf(20001), 1, kKey), -1);
    grid.AutoSize(0, kCols - 1);
    const int wide = grid.columnWidth(1);

    // Every row with the longest middle part goes (r % 17 == 16: 1176 rows); the path column narrows.
    for (int r = grid.Rows() - 1; r >= 1; --r) {
        if (grid.TextMatrix(r, 1).contains(QString(16, 'x'))) grid.RemoveItem(r);
    }
    EXPECT_EQ(grid.Rows() - 1, 20000 - 1176);
    EXPECT_EQ(grid.FindRow(pathOf(19991), 1, kKey), -1);
    EXPECT_EQ(grid.FindRow(pathOf(20000), 1, kKey), 20000 - 1176);
    grid.AutoSize(0, kCols - 1);
    EXPECT_LT(grid.columnWidth(1), wide);
    ExpectWidthsOfAFreshGrid(grid);
}

}  // namespace
}  // namespace kiv::grid
