#pragma once

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QList>
#include <QPair>

namespace kiv::grid {

class FlexGrid;

// Registers the grid's accessible interface with Qt's accessibility factory; later calls do nothing.
void InstallFlexGridAccessibility();

// The grid as a screen reader sees it: a table of the columns a user can see, in the order shown,
// under their headers. A hidden column is not part of it at all (the default table interface lists
// every column of the model, hidden or not).
class FlexGridAccessible final : public QAccessibleWidget, public QAccessibleTableInterface {
  public:
    explicit FlexGridAccessible(FlexGrid* grid);
    ~FlexGridAccessible() override;

    void* interface_cast(QAccessible::InterfaceType type) override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override;
    int columnCount() const override;
    int rowCount() const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface*> selectedCells() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int row) const override;
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override;
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override;
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override;
    bool selectRow(int row) override;
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override;
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* event) override;

    // The model columns shown, in the order shown.
    QList<int> ShownColumns() const;
    // The header (row -1) or data cell of a model row and model column.
    QAccessibleInterface* Cell(int row, int modelColumn) const;
    // That cell's child number; -1 for a hidden column or a row out of range.
    int ChildIndex(int row, int modelColumn) const;

  private:
    FlexGrid* Grid() const;
    void ForgetCells();

    mutable QHash<QPair<int, int>, QAccessible::Id> cells_;
};

}  // namespace kiv::grid
