// A scrolling table of cells under fixed header rows and columns.
//
// The grid owns one cell object per (row, column). Fixed rows (at the top) and
// fixed columns (at the left) do not scroll. Rows can number in the tens of
// thousands and arrive one at a time while the grid is shown, so row and
// column positions are kept as running sums that are extended on append and
// recomputed lazily from the first changed index, the visible rows are found
// by binary search, and a paint pass touches only the visible cells.
//
// The owner learns of clicks and selection changes through notification()
// with the codes below, and of every left-button release on a valid cell
// through command().
#pragma once

#include "grid/CellRange.h"
#include "grid/GridCellBase.h"
#include "grid/GridFormat.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QColor>
#include <QList>
#include <QPixmap>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <unordered_set>
#include <vector>

class CInPlaceEdit;

// Notification codes, equal to the platform's list-view codes.
inline constexpr int kNmClick = -2;
inline constexpr int kNmDblClk = -3;
inline constexpr int kNmRClick = -5;
inline constexpr int kGvnSelChanging = -100;
inline constexpr int kGvnSelChanged = -101;
inline constexpr int kGvnBeginDrag = -109;
inline constexpr int kGvnBeginLabelEdit = -175;
inline constexpr int kGvnEndLabelEdit = -176;

class CGridCtrl : public QAbstractScrollArea {
    Q_OBJECT

public:
    // Compares two cells for sorting: below 0, 0 or above 0.
    using CompareFunction = std::function<int(const CGridCellBase *, const CGridCellBase *)>;

    explicit CGridCtrl(QWidget *parent = nullptr);
    ~CGridCtrl() override;

    // --- Dimensions ---
    int GetRowCount() const { return int(m_rows.size()); }
    int GetColumnCount() const { return m_colCount; }
    int GetFixedRowCount() const { return m_fixedRows; }
    int GetFixedColumnCount() const { return m_fixedCols; }
    bool SetRowCount(int count);
    bool SetColumnCount(int count);
    bool SetFixedRowCount(int count);
    bool SetFixedColumnCount(int count);
    // Removes every row, column, cell and size, the selection and the focus.
    void DeleteAllItems();
    // Adds a row at the bottom (and a column first when there is none).
    // Returns its index, or -1 when memory runs out.
    int AppendRow();

    int GetRowHeight(int row) const;
    int GetColumnWidth(int col) const;
    bool SetRowHeight(int row, int height);
    bool SetColumnWidth(int col, int width); // 0 hides the column
    // Sizes every row whose height is above 0 to its content.
    void AutoSizeRows();
    bool AutoSizeColumn(int col);
    void ResetScrollBars();
    // Brings scroll ranges left behind by AppendRow up to date.
    void FlushScrollBars();

    // --- Cells ---
    bool IsValid(int row, int col) const;
    bool IsValid(const CCellID &cell) const { return IsValid(cell.row, cell.col); }
    CGridCellBase *GetCell(int row, int col) const; // nullptr outside the grid
    // Replaces the cell by one of type T, keeping its attributes.
    template <class T>
    bool SetCellType(int row, int col)
    {
        return ReplaceCell(row, col, std::make_unique<T>());
    }

    bool SetItemText(int row, int col, const QString &text);
    QString GetItemText(int row, int col) const;
    template <typename... Args>
    bool SetItemTextFmt(int row, int col, QStringView format, const Args &...args)
    {
        return SetItemText(row, col, tamblin::Format(format, args...));
    }
    bool SetItemImage(int row, int col, int image);
    int GetItemImage(int row, int col) const;
    bool SetItemData(int row, int col, qint32 data);
    qint32 GetItemData(int row, int col) const;
    // State bits (kGvis...); the selected bit also adds the cell to, or
    // removes it from, the selection.
    bool SetItemState(int row, int col, quint32 state);
    quint32 GetItemState(int row, int col) const;
    bool SetItemFormat(int row, int col, quint32 format);
    bool SetItemBkColour(int row, int col, const QColor &color);
    bool SetItemFgColour(int row, int col, const QColor &color);
    bool IsCellSelected(int row, int col) const;
    bool IsCellFixed(int row, int col) const { return row < m_fixedRows || col < m_fixedCols; }

    // Pictures that cells show by image index; the owner keeps the list alive
    // and may append to it.
    void SetImageList(const QList<QPixmap> *images);
    const QList<QPixmap> *GetImageList() const { return m_images; }

    // One of the four default cells.
    CGridDefaultCell *GetDefaultCell(bool fixedRow, bool fixedCol);
    const CGridDefaultCell *GetDefaultCell(bool fixedRow, bool fixedCol) const;

    // --- Selection and focus ---
    CCellID GetFocusCell() const { return m_focusCell; }
    // Moves the focus; a fixed row or column is raised to the first
    // non-fixed one. (-1, -1) clears it.
    void SetFocusCell(int row, int col);
    void SetFocusCell(const CCellID &cell) { SetFocusCell(cell.row, cell.col); }
    // Bounding range of the selected cells; with none selected
    // (row count, column count, -1, -1).
    CCellRange GetSelectedCellRange() const;
    int GetSelectedCount() const { return int(m_selected.size()); }
    // Selects exactly the range (all -1 clears); with selectCells false
    // deselects the range and keeps the rest. Fixed cells are left out.
    void SetSelectedRange(const CCellRange &range, bool forceRedraw = false, bool selectCells = true);
    void SetSelectedRange(int minRow, int minCol, int maxRow, int maxCol, bool forceRedraw = false,
                          bool selectCells = true);
    // Clears the selection and the focus cell.
    void ResetSelectedRange();
    void SelectAllCells();
    // A row: selects only that row and scrolls it to the top. -1: selects
    // every non-fixed cell.
    void SelectRow(int row);
    // First row after `row` (or the first non-fixed row for -1) with a
    // selected cell; -1 when there is none.
    int GetNextSelectedRow(int row) const;

    // --- Options ---
    void SetListMode(bool listMode);
    bool GetListMode() const { return m_listMode; }
    void EnableSelection(bool enable) { ResetSelectedRange(); m_enableSelection = enable; }
    bool IsSelectable() const { return m_enableSelection; }
    // On: a click replaces the selection (in list mode). Off: a click adds.
    void SetExclusiveSelection(bool exclusive) { m_exclusiveSelection = exclusive; }
    bool GetExclusiveSelection() const { return m_exclusiveSelection; }
    void SetHeaderSort(bool sort) { m_headerSort = sort; }
    bool GetHeaderSort() const { return m_headerSort; }
    void SetRenumberFirstColumn(bool renumber) { m_renumber = renumber; }
    bool GetRenumberFirstColumn() const { return m_renumber; }
    void SetFixedColumnSelection(bool select) { m_fixedColumnSelection = select; }
    bool GetFixedColumnSelection() const { return m_fixedColumnSelection; }
    void SetFixedRowSelection(bool select) { m_fixedRowSelection = select; }
    bool GetFixedRowSelection() const { return m_fixedRowSelection; }
    void SetEditable(bool editable) { m_editable = editable; }
    bool IsEditable() const { return m_editable; }
    void EnableDragAndDrop(bool allow) { m_allowDragAndDrop = allow; }
    bool GetDragAndDrop() const { return m_allowDragAndDrop; }
    void SetColumnResize(bool allow) { m_allowColumnResize = allow; }
    void SetRowResize(bool allow) { m_allowRowResize = allow; }
    void EnableHiddenColUnhide(bool allow) { m_allowZeroSize = allow; }
    void EnableTitleTips(bool enable) { m_titleTips = enable; }
    void SetCompareFunction(CompareFunction compare) { m_compare = std::move(compare); }
    // Rows scrolled per wheel notch; the system's value by default.
    void SetWheelScrollLines(int lines) { m_wheelLines = lines; }
    int GetWheelScrollLines() const { return m_wheelLines; }

    // --- Colours ---
    void SetTextColor(const QColor &c) { m_textColor = c; viewport()->update(); }
    QColor GetTextColor() const { return m_textColor; }
    void SetTextBkColor(const QColor &c) { m_textBkColor = c; viewport()->update(); }
    QColor GetTextBkColor() const { return m_textBkColor; }
    // The area outside the cells.
    void SetBkColor(const QColor &c) { m_bkColor = c; viewport()->update(); }
    QColor GetBkColor() const { return m_bkColor; }
    void SetFixedBkColor(const QColor &c) { m_fixedBkColor = c; viewport()->update(); }
    QColor GetFixedBkColor() const { return m_fixedBkColor; }
    void SetFixedTextColor(const QColor &c) { m_fixedTextColor = c; viewport()->update(); }
    QColor GetFixedTextColor() const { return m_fixedTextColor; }
    void SetGridLineColor(const QColor &c) { m_gridLineColor = c; viewport()->update(); }
    QColor GetGridLineColor() const { return m_gridLineColor; }
    // Selection colours: index 0 while the grid has the keyboard focus, 1 otherwise.
    void SetSelectedBkColor(int which, const QColor &c);
    void SetSelectedTextColor(int which, const QColor &c);
    QColor GetSelectedBkColor() const { return m_selBkColor[hasFocus() ? 0 : 1]; }
    QColor GetSelectedTextColor() const { return m_selTextColor[hasFocus() ? 0 : 1]; }

    // --- Sorting ---
    // Sorts the non-fixed rows by the column's cells; whole rows move.
    bool SortItems(int col, bool ascending);
    void SetSortColumn(int col) { m_sortColumn = col; }
    int GetSortColumn() const { return m_sortColumn; }
    bool GetSortAscending() const { return m_sortAscending; }
    // Texts compared unit by unit as unsigned 16-bit values.
    static int CompareTexts(const CGridCellBase *a, const CGridCellBase *b);

    // --- Drawing ---
    // While drawing is off a paint pass draws nothing; the drawing-finished
    // flag is cleared when a pass starts and set when it ends. Whoever
    // rebuilds the rows turns drawing off and waits for the flag.
    void SetRedraw(bool allowDraw, bool resetScrollBars = false);
    bool GetRedraw() const { return m_allowDraw.load(); }
    bool IsDrawFinished() const { return m_drawFinished.load(); }
    // Cells drawn by the last paint pass.
    int GetDrawnCellCount() const { return m_drawnCells; }
    void RedrawCell(int row, int col);
    void RedrawRow(int row);
    void InvalidateCellRect(const QRect &rect);

    // --- Geometry (viewport coordinates) ---
    QRect GetCellRect(int row, int col) const;
    CCellID GetCellFromPt(QPoint point) const;
    // Cells at least partly visible, fixed ones excluded.
    CCellRange GetVisibleNonFixedCellRange() const;
    bool IsCellVisible(int row, int col) const;
    void EnsureVisible(int row, int col);
    // Scrolls so that `row` is the first row below the fixed rows, as far as
    // the scroll range allows.
    void ScrollRowToTop(int row);
    int GetTotalHeight() const { return RowTop(GetRowCount()); }
    int GetTotalWidth() const { return ColLeft(m_colCount); }
    int GetFixedRowHeight() const { return RowTop(m_fixedRows); }
    int GetFixedColumnWidth() const { return ColLeft(m_fixedCols); }

    // --- Text ---
    // The selected cells of their bounding range: tab between cells, CR LF
    // between rows; hidden rows and columns left out.
    QString CopyTextFromGrid() const;
    void OnEditCopy();
    // Ctrl+V: the clipboard's text into the editable cells from the focus
    // cell on, a line per row and a tab or comma between cells.
    void OnEditPaste();
    bool PasteTextToGrid(const CCellID &topLeft, const QString &text);
    void OnEditSelectAll();

    // Starts in-place editing of a cell (-175 before, -176 when it ends).
    void OnEditCell(int row, int col);
    void EndEditing();
    bool IsEditing() const { return m_editor != nullptr; }
    bool IsCellEditable(int row, int col) const;

Q_SIGNALS:
    // Code (kNm..., kGvn...) with the cell concerned.
    void notification(int code, int row, int col);
    // Posted after a left-button release whose press hit a valid cell.
    void command();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool viewportEvent(QEvent *event) override;

    // Header click on a fixed-row cell: sort, renumber the first column.
    virtual void OnFixedRowClick(const CCellID &cell);
    virtual void OnFixedColumnClick(const CCellID &cell);
    void SendMessageToParent(int row, int col, int code);

private:
    enum class MouseMode {
        Nothing,
        SelectAll,
        SelectCol,
        SelectRow,
        SelectCells,
        OverColDivide,
        SizingCol,
        OverRowDivide,
        SizingRow,
        PrepareEdit,
        PrepareDrag,
    };

    struct Row {
        std::vector<std::unique_ptr<CGridCellBase>> cells;
    };

    std::unique_ptr<CGridCellBase> NewCell(int row, int col);
    bool ReplaceCell(int row, int col, std::unique_ptr<CGridCellBase> cell);
    void UpdateFixedState(int row, int col, CGridCellBase *cell);
    void RefreshFixedStates(int rowFrom, int rowTo);
    void RefreshAllFixedStates();

    int RowTop(int row) const;
    int ColLeft(int col) const;
    // The size of this row (column) changed: positions after it are stale.
    void InvalidateRowsFrom(int row) const { m_rowTopValid = std::min(m_rowTopValid, row); }
    void InvalidateColsFrom(int col) const { m_colLeftValid = std::min(m_colLeftValid, col); }
    int ScrollY() const;
    int ScrollX() const;
    int RowAtY(int y) const; // viewport y; -1 when below the rows
    int ColAtX(int x) const;

    void BeginSelectionGesture(bool keepPrevious);
    // Selects the range, plus the cells kept from before a Ctrl-click.
    void ApplySelection(int minRow, int minCol, int maxRow, int maxCol, bool forceRedraw, bool selectCells);
    void OnSelecting(const CCellID &cell);
    void SelectRows(const CCellID &cell, bool forceRedraw = false, bool selectCells = true);
    void SelectColumns(const CCellID &cell, bool forceRedraw = false, bool selectCells = true);
    void SelectCells(const CCellID &cell, bool forceRedraw = false, bool selectCells = true);
    void SetCellSelected(int row, int col, CGridCellBase *cell, bool selected);
    void ClearSelectionSet();

    void SortRange(int col, bool ascending, int low, int high);
    void RenumberFirstColumn();

    int ColumnDividerAt(QPoint point) const; // column whose right edge is at point, or -1
    int RowDividerAt(QPoint point) const;
    void ScrollLines(int lines);
    void AutoScrollTick();
    void BeginDrag();
    void DrawFixedCorner(QPainter &p, const QRect &clip);
    QPoint PointClicked(int row, int col, QPoint point) const;
    bool InTextArea(int row, int col, QPoint point) const;
    void ShowTitleTip(QPoint point, QPoint globalPoint);
    void FinishEditing(bool accept);

    static quint64 Key(int row, int col) { return (quint64(quint32(row)) << 32) | quint32(col); }

    std::vector<Row> m_rows;
    int m_colCount = 0;
    int m_fixedRows = 0;
    int m_fixedCols = 0;
    std::vector<int> m_rowHeights;
    std::vector<int> m_colWidths;
    // m_rowTop[i] = height of rows 0..i-1, valid for i <= m_rowTopValid.
    mutable std::vector<int> m_rowTop{0};
    mutable int m_rowTopValid = 0;
    mutable std::vector<int> m_colLeft{0};
    mutable int m_colLeftValid = 0;

    CGridDefaultCell m_defaultCells[4];
    const QList<QPixmap> *m_images = nullptr;

    CCellID m_focusCell;
    CCellID m_selectionStart;
    CCellID m_leftClickDownCell;
    QPoint m_leftClickDownPoint;
    QPoint m_lastMousePoint;
    std::unordered_set<quint64> m_selected;
    // A selection gesture (press, drag, keys) either replaces the selection
    // or, with Ctrl, adds to what was selected when it began; then these are
    // the cells it added so far.
    bool m_keepPrevious = false;
    std::unordered_set<quint64> m_gestureAdded;
    MouseMode m_mouseMode = MouseMode::Nothing;
    bool m_leftButtonDown = false;
    int m_resizeIndex = -1;
    int m_resizeLinePos = -1;
    QBasicTimer m_selectTimer;
    QBasicTimer m_scrollBarTimer;

    bool m_listMode = false;
    bool m_enableSelection = true;
    bool m_exclusiveSelection = false;
    bool m_headerSort = false;
    bool m_renumber = true;
    bool m_fixedColumnSelection = true;
    bool m_fixedRowSelection = true;
    bool m_editable = true;
    bool m_allowDragAndDrop = false;
    bool m_allowColumnResize = true;
    bool m_allowRowResize = true;
    bool m_allowZeroSize = true;
    bool m_titleTips = true;
    int m_wheelLines = 3;
    CompareFunction m_compare;
    int m_sortColumn = -1;
    bool m_sortAscending = true;

    QColor m_textColor;
    QColor m_textBkColor;
    QColor m_bkColor;
    QColor m_fixedBkColor;
    QColor m_fixedTextColor;
    QColor m_gridLineColor;
    QColor m_selBkColor[2];
    QColor m_selTextColor[2];

    std::atomic<bool> m_allowDraw{true};
    std::atomic<bool> m_drawFinished{true};
    int m_drawnCells = 0;

    CInPlaceEdit *m_editor = nullptr;
    CCellID m_editCell;
};
