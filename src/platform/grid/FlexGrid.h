#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QStringList>
#include <QTableView>
#include <functional>
#include <map>
#include <vector>

namespace kiv::grid {

// A cell's text as the grid draws and measures it: a lone surrogate (a byte of a file name that is
// not UTF-8) shows as U+FFFD. The cell keeps its text unchanged.
QString DisplayText(const QString& text);
// The same for the cell's tip, with each such byte as "\xE9".
QString ToolTipText(const QString& text);

// Cell storage of the grid: row 0 is the fixed header row, rows 1..n hold data. Column `keyColumn`
// is indexed by the key its owner's rule gives each text (the text itself when none is set), so
// whole-text lookups stay constant time on big lists.
class GridModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit GridModel(int cols, int keyColumn, QObject* parent = nullptr);

    int Rows() const { return static_cast<int>(cells_.size()); }
    int Cols() const { return cols_; }
    void SetRows(int rows);
    QString TextMatrix(int row, int col) const;
    // The cell's text without a copy; row and col must be in range.
    const QString& CellText(int row, int col) const { return cells_[row][col]; }
    void SetTextMatrix(int row, int col, const QString& text);
    // Appends one data row holding `texts` (missing columns empty); returns its row index.
    int AppendRow(const QStringList& texts);
    void RemoveRow(int row);
    void SetRangeText(int row1, int col1, int row2, int col2, const QString& text);
    // First row >= startRow whose cell in `col` has the key of `text`; -1 if none.
    int FindRow(const QString& text, int startRow, int col) const;
    using KeyRule = std::function<QString(const QString& text)>;
    void SetKeyRule(KeyRule rule);
    void SetAlignment(int col, Qt::Alignment alignment) { alignments_[col] = alignment; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    QString Key(const QString& text) const { return keyRule_ ? keyRule_(text) : text; }
    void IndexRow(int row);

    int cols_;
    int keyColumn_;
    std::vector<QStringList> cells_;
    std::vector<Qt::Alignment> alignments_;
    QMultiHash<QString, int> index_;
    KeyRule keyRule_;
};

// Our list grid: a table view over GridModel with the operations the file list needs. Sizes that
// the window description gives in twips are converted with the grid's twips per pixel.
class FlexGrid final : public QTableView {
    Q_OBJECT
  public:
    FlexGrid(int cols, int keyColumn, QWidget* parent = nullptr);

    GridModel& Model() { return model_; }
    const GridModel& Model() const { return model_; }

    int Rows() const { return model_.Rows(); }
    void SetRows(int rows) { model_.SetRows(rows); }
    QString TextMatrix(int row, int col) const { return model_.TextMatrix(row, col); }
    void SetTextMatrix(int row, int col, const QString& text) { model_.SetTextMatrix(row, col, text); }
    int FindRow(const QString& text, int startRow, int col) const {
        return model_.FindRow(text, startRow, col);
    }
    void RemoveItem(int row) { model_.RemoveRow(row); }

    // The current row, 1..n, or -1 when no data row is current.
    int Row() const;
    void SetRow(int row);
    // Scrolls data row `row`, when it is out of view, to the middle of the view, up or down only;
    // the current row and the selection stay.
    void ShowRow(int row);

    double TwipsPerPixel() const { return twipsPerPixel_; }
    void SetTwipsPerPixel(double twips) { twipsPerPixel_ = twips; }
    double ColWidth(int col) const;
    void SetColWidth(int col, double twips);
    void SetColHidden(int col, bool hidden) { setColumnHidden(col, hidden); }

    // Width limits for fitting columns, in twips; 0 means no limit.
    double ColWidthMax = 0;
    double ColWidthMin = 0;
    double RowHeightMax = 0;
    double RowHeightMin = 0;

    // Fits the widths of columns first..last to their text, the header included.
    void AutoSize(int firstCol, int lastCol);
    // Applies the row-height limits to the current font's row height.
    void FitRowHeight();

  protected:
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    // Focus and selection reach assistive technology numbered as our accessible table numbers its
    // cells, without the hidden columns (FlexGridAccessible.cpp).
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

  private:
    // Text widths of the data cells, in pixels of the current font, kept in step with the model so
    // that fitting the columns of a long list measures only the cells that changed.
    void OnRowsInserted(int first, int last);
    void OnRowsAboutToBeRemoved(int first, int last);
    void OnDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);
    void ForgetWidths();
    void ForgetWidth(int col, int& width);
    int WidestCell(int col);

    GridModel model_;
    double twipsPerPixel_ = 15.0;
    std::vector<int> cellWidths_;               // row-major over data rows; -1 not measured yet
    std::vector<std::map<int, int>> widthUse_;  // per column: measured width -> number of cells
    int unmeasured_ = 0;
};

}  // namespace kiv::grid
