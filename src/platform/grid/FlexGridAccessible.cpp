#include "platform/grid/FlexGridAccessible.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPointer>
#include <QWindow>

#include "platform/grid/FlexGrid.h"

namespace kiv::grid {

namespace {

QAccessibleInterface* MakeInterface(const QString& className, QObject* object) {
    if (className != QLatin1String(FlexGrid::staticMetaObject.className())) return nullptr;
    auto* grid = qobject_cast<FlexGrid*>(object);
    return grid ? new FlexGridAccessible(grid) : nullptr;
}

FlexGridAccessible* TableOf(FlexGrid* grid) {
    return grid ? dynamic_cast<FlexGridAccessible*>(QAccessible::queryAccessibleInterface(grid)) : nullptr;
}

// One header or data cell; it reads the model each time, so it never shows stale text.
class GridCell final : public QAccessibleInterface, public QAccessibleTableCellInterface {
  public:
    GridCell(FlexGrid* grid, int row, int column) : grid_(grid), row_(row), column_(column) {}

    bool isValid() const override {
        return grid_ && row_ < grid_->Model().rowCount() && column_ >= 0 &&
               column_ < grid_->Model().columnCount() && !grid_->isColumnHidden(column_);
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return grid_ ? grid_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return TableOf(grid_); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name || !isValid()) return {};
        if (IsHeader()) return grid_->Model().headerData(column_, Qt::Horizontal, Qt::DisplayRole).toString();
        return grid_->Model().data(Index(), Qt::DisplayRole).toString();
    }

    QRect rect() const override {
        if (!isValid()) return {};
        if (IsHeader()) {
            const QHeaderView* header = grid_->horizontalHeader();
            const QRect r(header->sectionViewportPosition(column_), 0, header->sectionSize(column_),
                          header->height());
            return r.translated(header->viewport()->mapToGlobal(QPoint(0, 0)));
        }
        return grid_->visualRect(Index()).translated(grid_->viewport()->mapToGlobal(QPoint(0, 0)));
    }

    QAccessible::Role role() const override {
        return IsHeader() ? QAccessible::ColumnHeader : QAccessible::Cell;
    }

    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        if (IsHeader()) return s;
        s.selectable = true;
        s.selected = isSelected();
        s.focusable = true;
        s.focused = grid_->hasFocus() && grid_->currentIndex() == Index();
        s.disabled = !grid_->isEnabled();
        if (!grid_->viewport()->rect().intersects(grid_->visualRect(Index()))) s.offscreen = true;
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::TableCellInterface && !IsHeader()
                   ? static_cast<QAccessibleTableCellInterface*>(this)
                   : nullptr;
    }

    bool isSelected() const override {
        return isValid() && !IsHeader() && grid_->selectionModel() &&
               grid_->selectionModel()->isSelected(Index());
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override {
        FlexGridAccessible* table = TableOf(grid_);
        if (!table) return {};
        return {table->Cell(-1, column_)};
    }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override {
        FlexGridAccessible* table = TableOf(grid_);
        return table ? static_cast<int>(table->ShownColumns().indexOf(column_)) : -1;
    }
    int rowIndex() const override { return row_; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return TableOf(grid_); }

  private:
    bool IsHeader() const { return row_ < 0; }
    QModelIndex Index() const { return grid_->Model().index(row_, column_); }

    QPointer<FlexGrid> grid_;
    int row_;
    int column_;
};

void AnnounceCell(FlexGrid* grid, QAccessible::Event type, const QModelIndex& index) {
    FlexGridAccessible* table = index.isValid() ? TableOf(grid) : nullptr;
    const int child = table ? table->ChildIndex(index.row(), index.column()) : -1;
    if (child < 0) return;
    QAccessibleEvent event(grid, type);
    event.setChild(child);
    QAccessible::updateAccessibility(&event);
}

QModelIndex FirstShown(const FlexGrid* grid, const QItemSelection& selection) {
    const QModelIndexList indexes = selection.indexes();
    for (const QModelIndex& index : indexes) {
        if (!grid->isColumnHidden(index.column())) return index;
    }
    return {};
}

}  // namespace

void InstallFlexGridAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(MakeInterface);
        return true;
    }();
    (void)installed;
}

FlexGridAccessible::FlexGridAccessible(FlexGrid* grid) : QAccessibleWidget(grid, QAccessible::Table) {}

FlexGridAccessible::~FlexGridAccessible() {
    ForgetCells();
}

FlexGrid* FlexGridAccessible::Grid() const {
    return static_cast<FlexGrid*>(widget());
}

void* FlexGridAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QList<int> FlexGridAccessible::ShownColumns() const {
    const FlexGrid* grid = Grid();
    const QHeaderView* header = grid->horizontalHeader();
    QList<int> shown;
    for (int visual = 0; visual < header->count(); ++visual) {
        const int column = header->logicalIndex(visual);
        if (column >= 0 && !grid->isColumnHidden(column)) shown << column;
    }
    return shown;
}

QAccessibleInterface* FlexGridAccessible::Cell(int row, int modelColumn) const {
    const QPair<int, int> key(row, modelColumn);
    if (auto it = cells_.constFind(key); it != cells_.cend()) return QAccessible::accessibleInterface(*it);
    auto* cell = new GridCell(Grid(), row, modelColumn);
    cells_.insert(key, QAccessible::registerAccessibleInterface(cell));
    return cell;
}

void FlexGridAccessible::ForgetCells() {
    for (const QAccessible::Id id : std::as_const(cells_)) QAccessible::deleteAccessibleInterface(id);
    cells_.clear();
}

// Children: the header row first, then the data rows, each over the shown columns.
int FlexGridAccessible::childCount() const {
    return (rowCount() + 1) * columnCount();
}

QAccessibleInterface* FlexGridAccessible::child(int index) const {
    const QList<int> shown = ShownColumns();
    if (shown.isEmpty() || index < 0 || index >= (rowCount() + 1) * shown.size()) return nullptr;
    const int row = index / static_cast<int>(shown.size()) - 1;
    return Cell(row, shown[index % shown.size()]);
}

int FlexGridAccessible::indexOfChild(const QAccessibleInterface* child) const {
    if (!child) return -1;
    for (auto it = cells_.cbegin(); it != cells_.cend(); ++it) {
        if (QAccessible::accessibleInterface(it.value()) == child)
            return ChildIndex(it.key().first, it.key().second);
    }
    return -1;
}

QAccessibleInterface* FlexGridAccessible::childAt(int x, int y) const {
    const FlexGrid* grid = Grid();
    const QPoint global(x, y);
    const QHeaderView* header = grid->horizontalHeader();
    if (header->isVisible()) {
        const QPoint local = header->viewport()->mapFromGlobal(global);
        if (header->viewport()->rect().contains(local)) {
            const int column = header->logicalIndexAt(local);
            return column >= 0 && !grid->isColumnHidden(column) ? Cell(-1, column) : nullptr;
        }
    }
    const QPoint local = grid->viewport()->mapFromGlobal(global);
    const QModelIndex index = grid->indexAt(local);
    if (!index.isValid() || grid->isColumnHidden(index.column())) return nullptr;
    return Cell(index.row(), index.column());
}

QAccessibleInterface* FlexGridAccessible::focusChild() const {
    const QModelIndex current = Grid()->currentIndex();
    if (!current.isValid() || Grid()->isColumnHidden(current.column())) return nullptr;
    return Cell(current.row(), current.column());
}

QAccessibleInterface* FlexGridAccessible::cellAt(int row, int column) const {
    const QList<int> shown = ShownColumns();
    if (row < 0 || row >= rowCount() || column < 0 || column >= shown.size()) return nullptr;
    return Cell(row, shown[column]);
}

int FlexGridAccessible::columnCount() const {
    return static_cast<int>(ShownColumns().size());
}

int FlexGridAccessible::rowCount() const {
    return Grid()->Model().rowCount();
}

QList<QAccessibleInterface*> FlexGridAccessible::selectedCells() const {
    QList<QAccessibleInterface*> cells;
    const QItemSelectionModel* selection = Grid()->selectionModel();
    if (!selection) return cells;
    const QList<int> shown = ShownColumns();
    const QModelIndexList indexes = selection->selectedIndexes();
    for (const QModelIndex& index : indexes) {
        if (shown.contains(index.column())) cells << Cell(index.row(), index.column());
    }
    return cells;
}

int FlexGridAccessible::selectedCellCount() const {
    return static_cast<int>(selectedCells().size());
}

QString FlexGridAccessible::columnDescription(int column) const {
    const QList<int> shown = ShownColumns();
    if (column < 0 || column >= shown.size()) return {};
    return Grid()->Model().headerData(shown[column], Qt::Horizontal, Qt::DisplayRole).toString();
}

QString FlexGridAccessible::rowDescription(int) const {
    return {};
}

QList<int> FlexGridAccessible::selectedRows() const {
    QList<int> rows;
    for (int row = 0; row < rowCount(); ++row) {
        if (isRowSelected(row)) rows << row;
    }
    return rows;
}

int FlexGridAccessible::selectedRowCount() const {
    return static_cast<int>(selectedRows().size());
}

bool FlexGridAccessible::isRowSelected(int row) const {
    const QItemSelectionModel* selection = Grid()->selectionModel();
    const QList<int> shown = ShownColumns();
    if (!selection || shown.isEmpty() || row < 0 || row >= rowCount()) return false;
    for (const int column : shown) {
        if (!selection->isSelected(Grid()->Model().index(row, column))) return false;
    }
    return true;
}

bool FlexGridAccessible::selectRow(int row) {
    if (row < 0 || row >= rowCount() || !Grid()->selectionModel()) return false;
    Grid()->selectionModel()->select(Grid()->Model().index(row, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    return true;
}

bool FlexGridAccessible::unselectRow(int row) {
    if (row < 0 || row >= rowCount() || !Grid()->selectionModel()) return false;
    Grid()->selectionModel()->select(Grid()->Model().index(row, 0),
                                     QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    return true;
}

int FlexGridAccessible::ChildIndex(int row, int modelColumn) const {
    const QList<int> shown = ShownColumns();
    const qsizetype column = shown.indexOf(modelColumn);
    if (column < 0 || row < -1 || row >= rowCount()) return -1;
    return (row + 1) * static_cast<int>(shown.size()) + static_cast<int>(column);
}

void FlexGridAccessible::modelChange(QAccessibleTableModelChangeEvent* event) {
    // A changed text keeps its cell; when rows or columns come or go, a cell's place may now hold
    // another row, so every cell's identity is given up.
    if (event->modelChangeType() != QAccessibleTableModelChangeEvent::DataChanged) ForgetCells();
}

// QTableView would announce these with its own child numbers, which count the hidden columns; the
// base item view does the rest of the work.
void FlexGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    if (QAccessible::isActive() && current.isValid() && hasFocus())
        AnnounceCell(this, QAccessible::Focus, current);
    QAbstractItemView::currentChanged(current, previous);
}

void FlexGrid::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    if (QAccessible::isActive()) {
        AnnounceCell(this, QAccessible::SelectionAdd, FirstShown(this, selected));
        AnnounceCell(this, QAccessible::SelectionRemove, FirstShown(this, deselected));
    }
    QAbstractItemView::selectionChanged(selected, deselected);
}

}  // namespace kiv::grid
