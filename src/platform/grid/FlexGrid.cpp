#include "platform/grid/FlexGrid.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>

#include <algorithm>
#include <cmath>

namespace kiv::grid {

GridModel::GridModel(int cols, int keyColumn, QObject* parent)
    : QAbstractTableModel(parent), cols_(cols), keyColumn_(keyColumn), alignments_(cols, Qt::AlignLeft | Qt::AlignVCenter) {
    QStringList header;
    for (int c = 0; c < cols_; ++c) header << QString();
    cells_.push_back(header);
}

void GridModel::SetRows(int rows) {
    rows = std::max(rows, 1);
    const int old = Rows();
    if (rows == old) return;
    if (rows < old) {
        beginRemoveRows({}, rows - 1, old - 2);
        cells_.resize(rows);
        endRemoveRows();
        RebuildIndex();
        return;
    }
    beginInsertRows({}, old - 1, rows - 2);
    QStringList empty;
    for (int c = 0; c < cols_; ++c) empty << QString();
    cells_.resize(rows, empty);
    endInsertRows();
}

QString GridModel::TextMatrix(int row, int col) const {
    if (row < 0 || row >= Rows() || col < 0 || col >= cols_) return {};
    return cells_[row][col];
}

void GridModel::SetTextMatrix(int row, int col, const QString& text) {
    if (row < 0 || row >= Rows() || col < 0 || col >= cols_) return;
    if (col == keyColumn_ && row > 0) index_.remove(Key(cells_[row][col]), row);
    cells_[row][col] = text;
    if (col == keyColumn_ && row > 0) IndexRow(row);
    if (row == 0) {
        emit headerDataChanged(Qt::Horizontal, col, col);
    } else {
        const QModelIndex at = index(row - 1, col);
        emit dataChanged(at, at);
    }
}

int GridModel::AppendRow(const QStringList& texts) {
    const int row = Rows();
    beginInsertRows({}, row - 1, row - 1);
    QStringList cells = texts.mid(0, cols_);
    while (cells.size() < cols_) cells << QString();
    cells_.push_back(cells);
    IndexRow(row);
    endInsertRows();
    return row;
}

void GridModel::RemoveRow(int row) {
    if (row < 1 || row >= Rows()) return;
    beginRemoveRows({}, row - 1, row - 1);
    cells_.erase(cells_.begin() + row);
    endRemoveRows();
    RebuildIndex();
}

void GridModel::SetRangeText(int row1, int col1, int row2, int col2, const QString& text) {
    row1 = std::max(row1, 0);
    row2 = std::min(row2, Rows() - 1);
    col1 = std::max(col1, 0);
    col2 = std::min(col2, cols_ - 1);
    if (row1 > row2 || col1 > col2) return;
    for (int r = row1; r <= row2; ++r) {
        for (int c = col1; c <= col2; ++c) {
            if (c == keyColumn_ && r > 0) index_.remove(Key(cells_[r][c]), r);
            cells_[r][c] = text;
            if (c == keyColumn_ && r > 0) IndexRow(r);
        }
    }
    if (row1 == 0) emit headerDataChanged(Qt::Horizontal, col1, col2);
    if (row2 >= 1) emit dataChanged(index(std::max(row1, 1) - 1, col1), index(row2 - 1, col2));
}

int GridModel::FindRow(const QString& text, int startRow, int col) const {
    startRow = std::max(startRow, 0);
    if (col == keyColumn_ && startRow >= 1) {
        int best = -1;
        const QString key = Key(text);
        for (auto it = index_.constFind(key); it != index_.cend() && it.key() == key; ++it) {
            if (it.value() >= startRow && (best < 0 || it.value() < best)) best = it.value();
        }
        return best;
    }
    for (int r = startRow; r < Rows(); ++r) {
        if (cells_[r][col].compare(text, Qt::CaseInsensitive) == 0) return r;
    }
    return -1;
}

void GridModel::IndexRow(int row) { index_.insert(Key(cells_[row][keyColumn_]), row); }

void GridModel::RebuildIndex() {
    index_.clear();
    index_.reserve(Rows());
    for (int r = 1; r < Rows(); ++r) IndexRow(r);
}

int GridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Rows() - 1; }
int GridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : cols_; }

QVariant GridModel::data(const QModelIndex& at, int role) const {
    if (!at.isValid()) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return cells_[at.row() + 1][at.column()];
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(alignments_[at.column()]);
    return {};
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= cols_) return {};
    if (role == Qt::DisplayRole) return cells_[0][section];
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    return {};
}

FlexGrid::FlexGrid(int cols, int keyColumn, QWidget* parent) : QTableView(parent), model_(cols, keyColumn) {
    setModel(&model_);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    FitRowHeight();
}

int FlexGrid::Row() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() + 1 : -1;
}

void FlexGrid::SetRow(int row) {
    if (row < 1 || row >= Rows()) {
        setCurrentIndex({});
        clearSelection();
        return;
    }
    setCurrentIndex(model_.index(row - 1, 0));
}

double FlexGrid::ColWidth(int col) const { return columnWidth(col) * twipsPerPixel_; }

void FlexGrid::SetColWidth(int col, double twips) {
    setColumnWidth(col, std::max(0, static_cast<int>(std::nearbyint(twips / twipsPerPixel_))));
}

void FlexGrid::AutoSize(int firstCol, int lastCol) {
    const QFontMetrics cellMetrics(font());
    const QFontMetrics headerMetrics(horizontalHeader()->font());
    const int padding = 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 8;
    for (int c = std::max(firstCol, 0); c <= std::min(lastCol, model_.Cols() - 1); ++c) {
        int widest = headerMetrics.horizontalAdvance(model_.TextMatrix(0, c)) + padding + 4;
        for (int r = 1; r < model_.Rows(); ++r) {
            widest = std::max(widest, cellMetrics.horizontalAdvance(model_.TextMatrix(r, c)) + padding);
        }
        double twips = widest * twipsPerPixel_;
        if (ColWidthMin > 0) twips = std::max(twips, ColWidthMin);
        if (ColWidthMax > 0) twips = std::min(twips, ColWidthMax);
        SetColWidth(c, twips);
    }
}

void FlexGrid::FitRowHeight() {
    double twips = (QFontMetrics(font()).height() + 4) * twipsPerPixel_;
    if (RowHeightMin > 0) twips = std::max(twips, RowHeightMin);
    if (RowHeightMax > 0) twips = std::min(twips, RowHeightMax);
    verticalHeader()->setDefaultSectionSize(std::max(1, static_cast<int>(std::nearbyint(twips / twipsPerPixel_))));
}

void FlexGrid::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        horizontalHeader()->setFont(font());
        FitRowHeight();
    }
}

}  // namespace kiv::grid
