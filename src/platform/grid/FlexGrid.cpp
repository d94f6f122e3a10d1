#include "platform/grid/FlexGrid.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "platform/grid/FlexGridAccessible.h"

namespace kiv::grid {

namespace {

// `text` with each lone surrogate (a byte of a name that is not UTF-8) replaced by `show(unit)`.
template <typename Show>
QString ReplaceLoneSurrogates(const QString& text, Show&& show) {
    if (text.isValidUtf16()) return text;
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            shown += text[i];
            shown += text[++i];
        } else if (text[i].isSurrogate()) {
            shown += show(text[i].unicode());
        } else {
            shown += text[i];
        }
    }
    return shown;
}

}  // namespace

QString DisplayText(const QString& text) {
    // U+FFFD is drawn and measured by every font.
    return ReplaceLoneSurrogates(text, [](char16_t) { return QString(QChar::ReplacementCharacter); });
}

QString ToolTipText(const QString& text) {
    // Names that differ only in such a byte look alike in the cell; the tip tells them apart.
    return ReplaceLoneSurrogates(text, [](char16_t unit) {
        return QStringLiteral("\\x") + QString::number(unit & 0xFF, 16).toUpper();
    });
}

GridModel::GridModel(int cols, int keyColumn, QObject* parent)
    : QAbstractTableModel(parent),
      cols_(cols),
      keyColumn_(keyColumn),
      alignments_(cols, Qt::AlignLeft | Qt::AlignVCenter) {
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
        for (auto it = index_.begin(); it != index_.end();)
            it = it.value() >= rows ? index_.erase(it) : std::next(it);
        endRemoveRows();
        return;
    }
    beginInsertRows({}, old - 1, rows - 2);
    QStringList empty;
    for (int c = 0; c < cols_; ++c) empty << QString();
    cells_.resize(rows, empty);
    // Empty rows are listed under the empty key too, so the index answers as a scan would.
    for (int r = old; r < rows; ++r) IndexRow(r);
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
    index_.remove(Key(cells_[row][keyColumn_]), row);
    cells_.erase(cells_.begin() + row);
    // Shifting the row numbers is much cheaper than folding every key again.
    for (auto it = index_.begin(); it != index_.end(); ++it) {
        if (it.value() > row) --it.value();
    }
    endRemoveRows();
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

void GridModel::SetKeyRule(KeyRule rule) {
    keyRule_ = std::move(rule);
    index_.clear();
    for (int r = 1; r < Rows(); ++r) IndexRow(r);
}

int GridModel::FindRow(const QString& text, int startRow, int col) const {
    startRow = std::max(startRow, 0);
    const QString key = Key(text);
    if (col == keyColumn_ && startRow >= 1) {
        int best = -1;
        for (auto it = index_.constFind(key); it != index_.cend() && it.key() == key; ++it) {
            if (it.value() >= startRow && (best < 0 || it.value() < best)) best = it.value();
        }
        return best;
    }
    for (int r = startRow; r < Rows(); ++r) {
        if (Key(cells_[r][col]) == key) return r;
    }
    return -1;
}

void GridModel::IndexRow(int row) {
    index_.insert(Key(cells_[row][keyColumn_]), row);
}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Rows() - 1;
}
int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : cols_;
}

QVariant GridModel::data(const QModelIndex& at, int role) const {
    if (!at.isValid()) return {};
    if (role == Qt::DisplayRole) return DisplayText(cells_[at.row() + 1][at.column()]);
    if (role == Qt::ToolTipRole) return ToolTipText(cells_[at.row() + 1][at.column()]);
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(alignments_[at.column()]);
    return {};
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= cols_) return {};
    if (role == Qt::DisplayRole) return cells_[0][section];
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    return {};
}

FlexGrid::FlexGrid(int cols, int keyColumn, QWidget* parent)
    : QTableView(parent), model_(cols, keyColumn), widthUse_(model_.Cols()) {
    InstallFlexGridAccessibility();
    setModel(&model_);
    connect(&model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { OnRowsInserted(first, last); });
    connect(&model_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) { OnRowsAboutToBeRemoved(first, last); });
    connect(&model_, &QAbstractItemModel::dataChanged, this, &FlexGrid::OnDataChanged);
    connect(&model_, &QAbstractItemModel::modelReset, this, [this] {
        cellWidths_.assign(static_cast<std::size_t>(model_.Rows() - 1) * model_.Cols(), -1);
        ForgetWidths();
    });
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

void FlexGrid::ShowRow(int row) {
    const int column = columnAt(0);
    if (row < 1 || row >= Rows() || column < 0) return;
    const QModelIndex index = model_.index(row - 1, column);
    const QRect shown = visualRect(index);
    if (shown.top() >= 0 && shown.bottom() < viewport()->height()) return;
    // To the middle, so that a walk down the list scrolls (and repaints the list) once every half
    // page, with the rows just done above it; a column cut at the left edge would move the view
    // sideways too.
    const int across = horizontalScrollBar()->value();
    scrollTo(index, QAbstractItemView::PositionAtCenter);
    horizontalScrollBar()->setValue(across);
}

void FlexGrid::SetRow(int row) {
    if (row < 1 || row >= Rows()) {
        setCurrentIndex({});
        clearSelection();
        return;
    }
    setCurrentIndex(model_.index(row - 1, 0));
}

double FlexGrid::ColWidth(int col) const {
    return columnWidth(col) * twipsPerPixel_;
}

void FlexGrid::SetColWidth(int col, double twips) {
    setColumnWidth(col, std::max(0, static_cast<int>(std::nearbyint(twips / twipsPerPixel_))));
}

void FlexGrid::OnRowsInserted(int first, int last) {
    const int cols = model_.Cols();
    cellWidths_.insert(cellWidths_.begin() + static_cast<std::ptrdiff_t>(first) * cols,
                       static_cast<std::size_t>(last - first + 1) * cols, -1);
    unmeasured_ += (last - first + 1) * cols;
}

void FlexGrid::OnRowsAboutToBeRemoved(int first, int last) {
    const int cols = model_.Cols();
    const auto begin = cellWidths_.begin() + static_cast<std::ptrdiff_t>(first) * cols;
    const auto end = cellWidths_.begin() + static_cast<std::ptrdiff_t>(last + 1) * cols;
    for (auto it = begin; it != end; ++it) {
        if (*it < 0) --unmeasured_;
        ForgetWidth(static_cast<int>((it - cellWidths_.begin()) % cols), *it);
    }
    cellWidths_.erase(begin, end);
}

void FlexGrid::OnDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight) {
    const int cols = model_.Cols();
    for (int r = topLeft.row(); r <= bottomRight.row(); ++r) {
        for (int c = topLeft.column(); c <= bottomRight.column(); ++c) {
            int& width = cellWidths_[static_cast<std::size_t>(r) * cols + c];
            if (width >= 0) ++unmeasured_;
            ForgetWidth(c, width);
        }
    }
}

void FlexGrid::ForgetWidth(int col, int& width) {
    if (width >= 0) {
        auto& use = widthUse_[col];
        const auto it = use.find(width);
        if (it != use.end() && --it->second == 0) use.erase(it);
    }
    width = -1;
}

void FlexGrid::ForgetWidths() {
    std::fill(cellWidths_.begin(), cellWidths_.end(), -1);
    for (auto& use : widthUse_) use.clear();
    unmeasured_ = static_cast<int>(cellWidths_.size());
}

int FlexGrid::WidestCell(int col) {
    const int cols = model_.Cols();
    if (unmeasured_ > 0) {
        const QFontMetrics metrics(font());
        for (std::size_t i = col; i < cellWidths_.size(); i += cols) {
            if (cellWidths_[i] >= 0) continue;
            const QString& text = model_.CellText(static_cast<int>(i / cols) + 1, col);
            cellWidths_[i] = text.isEmpty() ? 0 : metrics.horizontalAdvance(DisplayText(text));
            ++widthUse_[col][cellWidths_[i]];
            --unmeasured_;
        }
    }
    const auto& use = widthUse_[col];
    return use.empty() ? -1 : use.rbegin()->first;
}

void FlexGrid::AutoSize(int firstCol, int lastCol) {
    const QFontMetrics headerMetrics(horizontalHeader()->font());
    const int padding = 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 8;
    for (int c = std::max(firstCol, 0); c <= std::min(lastCol, model_.Cols() - 1); ++c) {
        int widest = headerMetrics.horizontalAdvance(model_.TextMatrix(0, c)) + padding + 4;
        if (const int cell = WidestCell(c); cell >= 0) widest = std::max(widest, cell + padding);
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
    verticalHeader()->setDefaultSectionSize(
        std::max(1, static_cast<int>(std::nearbyint(twips / twipsPerPixel_))));
}

void FlexGrid::focusInEvent(QFocusEvent* event) {
    if (currentIndex().isValid()) {
        QTableView::focusInEvent(event);
        return;
    }
    // Qt's view makes its first row current when it takes the focus without one. Here the current
    // row is what Delete removes, so only the user may choose it: focus alone leaves it unset.
    QAbstractScrollArea::focusInEvent(event);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->update();
}

void FlexGrid::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        horizontalHeader()->setFont(font());
        ForgetWidths();
        FitRowHeight();
    }
}

}  // namespace kiv::grid
