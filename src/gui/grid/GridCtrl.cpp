#include "grid/GridCtrl.h"

#include "grid/InPlaceEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <new>

namespace {

// Rows and columns are kept within sizes whose sums cannot overflow for any
// row count the program meets.
constexpr int kMaxRowHeight = 10000;
constexpr int kMaxColWidth = 30000;
// Pixels either side of a border that grab it for resizing.
constexpr int kResizeTolerance = 3;
// Interval of the timer that extends a drag selection and scrolls.
constexpr int kSelectTimerMs = 25;
// Longest delay of the scroll ranges behind appended rows.
constexpr int kScrollBarDelayMs = 30;

// Index i in [from, to) with starts[i] <= pos < starts[i + 1]; -1 when pos
// lies outside. Empty (zero-size) entries are never returned.
int IndexAt(const std::vector<int> &starts, int from, int to, int pos)
{
    if (from >= to || pos < starts[from] || pos >= starts[to])
        return -1;
    const auto first = starts.begin() + from;
    const auto last = starts.begin() + to + 1;
    const auto it = std::upper_bound(first, last, pos);
    return int(it - starts.begin()) - 1;
}

} // namespace

CGridCtrl::CGridCtrl(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    // Every pass paints the whole damaged area itself; with drawing off the
    // screen keeps what it showed.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setMouseTracking(true);

    const QPalette pal = palette();
    m_textColor = pal.color(QPalette::Text);
    m_textBkColor = pal.color(QPalette::Base);
    m_bkColor = pal.color(QPalette::Window);
    m_fixedBkColor = pal.color(QPalette::Button);
    m_fixedTextColor = pal.color(QPalette::ButtonText);
    m_gridLineColor = QColor(192, 192, 192);
    m_selBkColor[0] = m_selBkColor[1] = pal.color(QPalette::Highlight);
    m_selTextColor[0] = m_selTextColor[1] = pal.color(QPalette::HighlightedText);

    for (int i = 0; i < 4; ++i) {
        m_defaultCells[i].SetGrid(this);
        quint32 state = 0;
        if (i & 1)
            state |= kGvisFixed | kGvisFixedRow;
        if (i & 2)
            state |= kGvisFixed | kGvisFixedCol;
        m_defaultCells[i].SetState(state);
    }
    // Read once, as the system reported it when the grid was built.
    m_wheelLines = QApplication::wheelScrollLines();
}

CGridCtrl::~CGridCtrl()
{
    // The editor must not call back into a grid that is going away.
    if (m_editor) {
        m_editor->Disarm();
        delete m_editor;
        m_editor = nullptr;
    }
}

// ---------------------------------------------------------------------------
// Positions

int CGridCtrl::RowTop(int row) const
{
    const int rows = GetRowCount();
    row = std::clamp(row, 0, rows);
    if (row > m_rowTopValid) {
        if (int(m_rowTop.size()) < rows + 1)
            m_rowTop.resize(rows + 1);
        for (int i = m_rowTopValid; i < row; ++i)
            m_rowTop[i + 1] = m_rowTop[i] + m_rowHeights[i];
        m_rowTopValid = row;
    }
    return m_rowTop[row];
}

int CGridCtrl::ColLeft(int col) const
{
    col = std::clamp(col, 0, m_colCount);
    if (col > m_colLeftValid) {
        if (int(m_colLeft.size()) < m_colCount + 1)
            m_colLeft.resize(m_colCount + 1);
        for (int i = m_colLeftValid; i < col; ++i)
            m_colLeft[i + 1] = m_colLeft[i] + m_colWidths[i];
        m_colLeftValid = col;
    }
    return m_colLeft[col];
}

int CGridCtrl::ScrollY() const
{
    return verticalScrollBar()->value();
}

int CGridCtrl::ScrollX() const
{
    return horizontalScrollBar()->value();
}

int CGridCtrl::RowAtY(int y) const
{
    const int rows = GetRowCount();
    if (y < 0 || rows == 0)
        return -1;
    RowTop(rows);
    if (y < m_rowTop[m_fixedRows])
        return IndexAt(m_rowTop, 0, m_fixedRows, y);
    return IndexAt(m_rowTop, m_fixedRows, rows, y + ScrollY());
}

int CGridCtrl::ColAtX(int x) const
{
    if (x < 0 || m_colCount == 0)
        return -1;
    ColLeft(m_colCount);
    if (x < m_colLeft[m_fixedCols])
        return IndexAt(m_colLeft, 0, m_fixedCols, x);
    return IndexAt(m_colLeft, m_fixedCols, m_colCount, x + ScrollX());
}

QRect CGridCtrl::GetCellRect(int row, int col) const
{
    if (!IsValid(row, col))
        return {};
    const int x = ColLeft(col) - (col >= m_fixedCols ? ScrollX() : 0);
    const int y = RowTop(row) - (row >= m_fixedRows ? ScrollY() : 0);
    return {x, y, m_colWidths[col], m_rowHeights[row]};
}

CCellID CGridCtrl::GetCellFromPt(QPoint point) const
{
    const int row = RowAtY(point.y());
    const int col = ColAtX(point.x());
    if (row < 0 || col < 0)
        return {};
    return {row, col};
}

CCellRange CGridCtrl::GetVisibleNonFixedCellRange() const
{
    const QRect vp = viewport()->rect();
    const int fixedH = GetFixedRowHeight();
    const int fixedW = GetFixedColumnWidth();
    const int rows = GetRowCount();
    if (rows <= m_fixedRows || m_colCount <= m_fixedCols)
        return {};
    RowTop(rows);
    ColLeft(m_colCount);
    const int top = fixedH + ScrollY();
    int first = IndexAt(m_rowTop, m_fixedRows, rows, top);
    if (first < 0)
        return {};
    int last = IndexAt(m_rowTop, m_fixedRows, rows, ScrollY() + std::max(vp.height() - 1, fixedH));
    if (last < 0)
        last = rows - 1;
    const int left = fixedW + ScrollX();
    int firstCol = IndexAt(m_colLeft, m_fixedCols, m_colCount, left);
    if (firstCol < 0)
        return {};
    int lastCol = IndexAt(m_colLeft, m_fixedCols, m_colCount, ScrollX() + std::max(vp.width() - 1, fixedW));
    if (lastCol < 0)
        lastCol = m_colCount - 1;
    return {first, firstCol, last, lastCol};
}

bool CGridCtrl::IsCellVisible(int row, int col) const
{
    const QRect rect = GetCellRect(row, col);
    return rect.isValid() && rect.intersects(viewport()->rect());
}

void CGridCtrl::EnsureVisible(int row, int col)
{
    FlushScrollBars();
    if (!IsValid(row, col))
        return;
    const QRect vp = viewport()->rect();
    if (row >= m_fixedRows) {
        const int fixedH = GetFixedRowHeight();
        const int top = RowTop(row) - ScrollY();
        const int bottom = top + m_rowHeights[row];
        if (top < fixedH)
            verticalScrollBar()->setValue(RowTop(row) - fixedH);
        else if (bottom > vp.height())
            verticalScrollBar()->setValue(RowTop(row + 1) - vp.height());
    }
    if (col >= m_fixedCols) {
        const int fixedW = GetFixedColumnWidth();
        const int left = ColLeft(col) - ScrollX();
        const int right = left + m_colWidths[col];
        if (left < fixedW)
            horizontalScrollBar()->setValue(ColLeft(col) - fixedW);
        else if (right > vp.width())
            horizontalScrollBar()->setValue(std::min(ColLeft(col + 1) - vp.width(), ColLeft(col) - fixedW));
    }
}

void CGridCtrl::ScrollRowToTop(int row)
{
    FlushScrollBars();
    if (row < m_fixedRows || row >= GetRowCount())
        return;
    verticalScrollBar()->setValue(RowTop(row) - GetFixedRowHeight());
}

void CGridCtrl::ResetScrollBars()
{
    m_scrollBarTimer.stop();
    const QSize vp = viewport()->size();
    const int fixedH = GetFixedRowHeight();
    const int fixedW = GetFixedColumnWidth();
    QScrollBar *v = verticalScrollBar();
    QScrollBar *h = horizontalScrollBar();
    v->setRange(0, std::max(0, GetTotalHeight() - vp.height()));
    v->setPageStep(std::max(1, vp.height() - fixedH));
    v->setSingleStep(std::max(1, m_defaultCells[0].GetHeight()));
    h->setRange(0, std::max(0, GetTotalWidth() - vp.width()));
    h->setPageStep(std::max(1, vp.width() - fixedW));
    h->setSingleStep(std::max(1, m_defaultCells[0].GetHeight()));
}

void CGridCtrl::FlushScrollBars()
{
    if (m_scrollBarTimer.isActive())
        ResetScrollBars();
}

void CGridCtrl::scrollContentsBy(int, int)
{
    // Fixed rows and columns stay; repaint rather than blit.
    viewport()->update();
}

void CGridCtrl::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    ResetScrollBars();
}

// ---------------------------------------------------------------------------
// Dimensions

std::unique_ptr<CGridCellBase> CGridCtrl::NewCell(int row, int col)
{
    auto cell = std::make_unique<CGridCell>();
    cell->SetGrid(this);
    UpdateFixedState(row, col, cell.get());
    return cell;
}

void CGridCtrl::UpdateFixedState(int row, int col, CGridCellBase *cell)
{
    quint32 state = cell->GetState() & ~(kGvisFixed | kGvisFixedRow | kGvisFixedCol);
    if (row < m_fixedRows)
        state |= kGvisFixed | kGvisFixedRow;
    if (col < m_fixedCols)
        state |= kGvisFixed | kGvisFixedCol;
    if ((state & kGvisFixed) && (state & kGvisSelected)) {
        // Fixed cells are never part of the selection.
        m_selected.erase(Key(row, col));
        state &= ~kGvisSelected;
    }
    cell->SetState(state);
}

void CGridCtrl::RefreshFixedStates(int rowFrom, int rowTo)
{
    for (int r = std::max(0, rowFrom); r < std::min(rowTo, GetRowCount()); ++r)
        for (int c = 0; c < m_colCount; ++c)
            UpdateFixedState(r, c, m_rows[r].cells[c].get());
}

void CGridCtrl::RefreshAllFixedStates()
{
    RefreshFixedStates(0, GetRowCount());
}

bool CGridCtrl::SetRowCount(int count)
{
    if (count < 0)
        return false;
    const int old = GetRowCount();
    if (count == old)
        return true;
    EndEditing();
    if (count < old) {
        for (auto it = m_selected.begin(); it != m_selected.end();) {
            if (int(*it >> 32) >= count)
                it = m_selected.erase(it);
            else
                ++it;
        }
        std::erase_if(m_gestureAdded, [count](quint64 key) { return int(key >> 32) >= count; });
        if (m_focusCell.row >= count)
            m_focusCell = {};
        if (m_selectionStart.row >= count)
            m_selectionStart = {};
        m_rows.resize(count);
        m_rowHeights.resize(count);
        m_rowTop.resize(count + 1);
        m_rowTopValid = std::min(m_rowTopValid, count);
        if (m_fixedRows > count)
            m_fixedRows = count;
    } else {
        try {
            m_rows.reserve(count);
            m_rowHeights.reserve(count);
            m_rowTop.reserve(count + 1);
            const int height = m_defaultCells[0].GetHeight();
            for (int r = old; r < count; ++r) {
                Row row;
                row.cells.reserve(m_colCount);
                for (int c = 0; c < m_colCount; ++c)
                    row.cells.push_back(NewCell(r, c));
                m_rows.push_back(std::move(row));
                m_rowHeights.push_back(height);
            }
            m_rowTop.resize(count + 1);
        } catch (const std::bad_alloc &) {
            m_rows.resize(old);
            m_rowHeights.resize(old);
            m_rowTop.resize(old + 1);
            return false;
        }
    }
    ResetScrollBars();
    viewport()->update();
    return true;
}

bool CGridCtrl::SetColumnCount(int count)
{
    if (count < 0)
        return false;
    const int old = m_colCount;
    if (count == old)
        return true;
    EndEditing();
    if (count < old) {
        for (auto it = m_selected.begin(); it != m_selected.end();) {
            if (int(quint32(*it)) >= count)
                it = m_selected.erase(it);
            else
                ++it;
        }
        std::erase_if(m_gestureAdded, [count](quint64 key) { return int(quint32(key)) >= count; });
        if (m_focusCell.col >= count)
            m_focusCell = {};
        if (m_selectionStart.col >= count)
            m_selectionStart = {};
        for (Row &row : m_rows)
            row.cells.resize(count);
        m_colWidths.resize(count);
        m_colLeft.resize(count + 1);
        m_colLeftValid = std::min(m_colLeftValid, count);
        m_colCount = count;
        if (m_fixedCols > count)
            m_fixedCols = count;
        if (m_sortColumn >= count)
            m_sortColumn = -1;
    } else {
        try {
            for (int r = 0; r < GetRowCount(); ++r) {
                Row &row = m_rows[r];
                row.cells.reserve(count);
                for (int c = old; c < count; ++c)
                    row.cells.push_back(NewCell(r, c));
            }
            const int width = m_defaultCells[0].GetWidth();
            m_colWidths.resize(count, width);
            m_colLeft.resize(count + 1);
        } catch (const std::bad_alloc &) {
            for (Row &row : m_rows)
                row.cells.resize(old);
            m_colWidths.resize(old);
            m_colLeft.resize(old + 1);
            return false;
        }
        m_colCount = count;
    }
    ResetScrollBars();
    viewport()->update();
    return true;
}

bool CGridCtrl::SetFixedRowCount(int count)
{
    if (count < 0)
        return false;
    if (count > GetRowCount() && !SetRowCount(count))
        return false;
    if (count == m_fixedRows)
        return true;
    const int old = m_fixedRows;
    m_fixedRows = count;
    if (m_focusCell.IsValid() && m_focusCell.row < count)
        SetFocusCell(-1, -1);
    RefreshFixedStates(std::min(old, count), std::max(old, count));
    ResetScrollBars();
    viewport()->update();
    return true;
}

bool CGridCtrl::SetFixedColumnCount(int count)
{
    if (count < 0)
        return false;
    if (count > m_colCount && !SetColumnCount(count))
        return false;
    if (count == m_fixedCols)
        return true;
    m_fixedCols = count;
    if (m_focusCell.IsValid() && m_focusCell.col < count)
        SetFocusCell(-1, -1);
    RefreshAllFixedStates();
    ResetScrollBars();
    viewport()->update();
    return true;
}

void CGridCtrl::DeleteAllItems()
{
    EndEditing();
    m_selected.clear();
    BeginSelectionGesture(false);
    m_focusCell = {};
    m_selectionStart = {};
    m_leftClickDownCell = {};
    m_rows.clear();
    m_rowHeights.clear();
    m_colWidths.clear();
    m_rowTop.assign(1, 0);
    m_rowTopValid = 0;
    m_colLeft.assign(1, 0);
    m_colLeftValid = 0;
    m_colCount = 0;
    m_fixedRows = 0;
    m_fixedCols = 0;
    m_sortColumn = -1;
    ResetScrollBars();
    viewport()->update();
}

int CGridCtrl::AppendRow()
{
    if (m_colCount == 0 && !SetColumnCount(1))
        return -1;
    const int row = GetRowCount();
    try {
        Row newRow;
        newRow.cells.reserve(m_colCount);
        for (int c = 0; c < m_colCount; ++c)
            newRow.cells.push_back(NewCell(row, c));
        m_rowHeights.push_back(m_defaultCells[0].GetHeight());
        try {
            m_rows.push_back(std::move(newRow));
            m_rowTop.resize(row + 2);
        } catch (const std::bad_alloc &) {
            m_rowHeights.pop_back();
            if (int(m_rows.size()) > row)
                m_rows.pop_back();
            throw;
        }
    } catch (const std::bad_alloc &) {
        return -1;
    }
    // Rows can arrive far faster than a scroll bar is worth repainting: the
    // ranges follow within kScrollBarDelayMs, or at once when something needs them.
    if (!m_scrollBarTimer.isActive())
        m_scrollBarTimer.start(kScrollBarDelayMs, this);
    // Only the new row's band can have changed on screen.
    const QRect band(0, RowTop(row) - (row >= m_fixedRows ? ScrollY() : 0), viewport()->width(),
                     m_rowHeights[row]);
    if (band.intersects(viewport()->rect()))
        viewport()->update(band);
    return row;
}

int CGridCtrl::GetRowHeight(int row) const
{
    return row >= 0 && row < GetRowCount() ? m_rowHeights[row] : -1;
}

int CGridCtrl::GetColumnWidth(int col) const
{
    return col >= 0 && col < m_colCount ? m_colWidths[col] : -1;
}

bool CGridCtrl::SetRowHeight(int row, int height)
{
    if (row < 0 || row >= GetRowCount())
        return false;
    m_rowHeights[row] = std::clamp(height, 0, kMaxRowHeight);
    InvalidateRowsFrom(row);
    viewport()->update();
    return true;
}

bool CGridCtrl::SetColumnWidth(int col, int width)
{
    if (col < 0 || col >= m_colCount)
        return false;
    m_colWidths[col] = std::clamp(width, 0, kMaxColWidth);
    InvalidateColsFrom(col);
    viewport()->update();
    return true;
}

void CGridCtrl::AutoSizeRows()
{
    for (int r = 0; r < GetRowCount(); ++r) {
        if (m_rowHeights[r] <= 0)
            continue;
        int height = 0;
        for (const auto &cell : m_rows[r].cells)
            height = std::max(height, cell->GetCellExtentHeight());
        if (height > 0)
            m_rowHeights[r] = std::min(height, kMaxRowHeight);
    }
    InvalidateRowsFrom(0);
    ResetScrollBars();
    viewport()->update();
}

bool CGridCtrl::AutoSizeColumn(int col)
{
    if (col < 0 || col >= m_colCount)
        return false;
    int width = 0;
    for (const Row &row : m_rows)
        width = std::max(width, row.cells[col]->GetCellExtent().width());
    if (width <= 0)
        return false;
    SetColumnWidth(col, width);
    ResetScrollBars();
    return true;
}

// ---------------------------------------------------------------------------
// Cells

bool CGridCtrl::IsValid(int row, int col) const
{
    return row >= 0 && row < GetRowCount() && col >= 0 && col < m_colCount;
}

CGridCellBase *CGridCtrl::GetCell(int row, int col) const
{
    return IsValid(row, col) ? m_rows[row].cells[col].get() : nullptr;
}

bool CGridCtrl::ReplaceCell(int row, int col, std::unique_ptr<CGridCellBase> cell)
{
    if (!IsValid(row, col) || !cell)
        return false;
    cell->CopyFrom(*m_rows[row].cells[col]);
    cell->SetGrid(this);
    m_rows[row].cells[col] = std::move(cell);
    RedrawCell(row, col);
    return true;
}

bool CGridCtrl::SetItemText(int row, int col, const QString &text)
{
    CGridCellBase *cell = GetCell(row, col);
    if (!cell)
        return false;
    cell->SetText(text);
    RedrawCell(row, col);
    return true;
}

QString CGridCtrl::GetItemText(int row, int col) const
{
    const CGridCellBase *cell = GetCell(row, col);
    return cell ? cell->GetText() : QString();
}

bool CGridCtrl::SetItemImage(int row, int col, int image)
{
    CGridCellBase *cell = GetCell(row, col);
    if (!cell)
        return false;
    cell->SetImage(image);
    RedrawCell(row, col);
    return true;
}

int CGridCtrl::GetItemImage(int row, int col) const
{
    const CGridCellBase *cell = GetCell(row, col);
    return cell ? cell->GetImage() : -1;
}

bool CGridCtrl::SetItemData(int row, int col, qint32 data)
{
    CGridCellBase *cell = GetCell(row, col);
    if (!cell)
        return false;
    cell->SetData(data);
    return true;
}

qint32 CGridCtrl::GetItemData(int row, int col) const
{
    const CGridCellBase *cell = GetCell(row, col);
    return cell ? cell->GetData() : 0;
}

void CGridCtrl::SetCellSelected(int row, int col, CGridCellBase *cell, bool selected)
{
    if (selected) {
        cell->SetState(cell->GetState() | kGvisSelected);
        m_selected.insert(Key(row, col));
    } else {
        cell->SetState(cell->GetState() & ~kGvisSelected);
        m_selected.erase(Key(row, col));
    }
}

bool CGridCtrl::SetItemState(int row, int col, quint32 state)
{
    CGridCellBase *cell = GetCell(row, col);
    if (!cell)
        return false;
    const quint32 fixedBits = kGvisFixed | kGvisFixedRow | kGvisFixedCol;
    const quint32 old = cell->GetState();
    cell->SetState((state & ~fixedBits & ~kGvisSelected) | (old & fixedBits) | (old & kGvisSelected));
    const bool select = (state & kGvisSelected) && !IsCellFixed(row, col);
    if (select != bool(old & kGvisSelected))
        SetCellSelected(row, col, cell, select);
    RedrawCell(row, col);
    return true;
}

quint32 CGridCtrl::GetItemState(int row, int col) const
{
    const CGridCellBase *cell = GetCell(row, col);
    return cell ? cell->GetState() : 0;
}

bool CGridCtrl::SetItemFormat(int row, int col, quint32 format)
{
    CGridCellBase *cell = GetCell(row, col);
    if (!cell)
        return false;
    cell->SetFormat(format);
    RedrawCell(row, col);
    return true;
}

bool CGridCtrl::SetItemBkColour(int row, int col, const QColor &color)
{
    CGridCellBase *cell = GetCell(row, col);
    if (!cell)
        return false;
    cell->SetBackClr(color);
    RedrawCell(row, col);
    return true;
}

bool CGridCtrl::SetItemFgColour(int row, int col, const QColor &color)
{
    CGridCellBase *cell = GetCell(row, col);
    if (!cell)
        return false;
    cell->SetTextClr(color);
    RedrawCell(row, col);
    return true;
}

bool CGridCtrl::IsCellSelected(int row, int col) const
{
    const CGridCellBase *cell = GetCell(row, col);
    return cell && cell->IsSelected();
}

void CGridCtrl::SetImageList(const QList<QPixmap> *images)
{
    m_images = images;
    viewport()->update();
}

CGridDefaultCell *CGridCtrl::GetDefaultCell(bool fixedRow, bool fixedCol)
{
    return &m_defaultCells[(fixedRow ? 1 : 0) | (fixedCol ? 2 : 0)];
}

const CGridDefaultCell *CGridCtrl::GetDefaultCell(bool fixedRow, bool fixedCol) const
{
    return &m_defaultCells[(fixedRow ? 1 : 0) | (fixedCol ? 2 : 0)];
}

// ---------------------------------------------------------------------------
// Selection and focus

void CGridCtrl::SetFocusCell(int row, int col)
{
    CCellID cell(row, col);
    if (cell.row != -1 && cell.row < m_fixedRows)
        cell.row = m_fixedRows;
    if (cell.col != -1 && cell.col < m_fixedCols)
        cell.col = m_fixedCols;
    if (!IsValid(cell))
        cell = {};
    if (cell == m_focusCell)
        return;
    const CCellID prev = m_focusCell;
    m_focusCell = cell;
    if (CGridCellBase *old = GetCell(prev.row, prev.col)) {
        old->SetState(old->GetState() & ~kGvisFocused);
        RedrawCell(prev.row, prev.col);
    }
    if (CGridCellBase *now = GetCell(cell.row, cell.col)) {
        now->SetState(now->GetState() | kGvisFocused);
        RedrawCell(cell.row, cell.col);
    }
}

CCellRange CGridCtrl::GetSelectedCellRange() const
{
    if (m_selected.empty())
        return {GetRowCount(), m_colCount, -1, -1};
    int minRow = INT_MAX, minCol = INT_MAX, maxRow = -1, maxCol = -1;
    for (quint64 key : m_selected) {
        const int row = int(key >> 32);
        const int col = int(quint32(key));
        minRow = std::min(minRow, row);
        maxRow = std::max(maxRow, row);
        minCol = std::min(minCol, col);
        maxCol = std::max(maxCol, col);
    }
    return {minRow, minCol, maxRow, maxCol};
}

void CGridCtrl::ClearSelectionSet()
{
    for (quint64 key : m_selected) {
        if (CGridCellBase *cell = GetCell(int(key >> 32), int(quint32(key))))
            cell->SetState(cell->GetState() & ~kGvisSelected);
    }
    m_selected.clear();
}

void CGridCtrl::SetSelectedRange(const CCellRange &range, bool forceRedraw, bool selectCells)
{
    SetSelectedRange(range.GetMinRow(), range.GetMinCol(), range.GetMaxRow(), range.GetMaxCol(), forceRedraw,
                     selectCells);
}

void CGridCtrl::SetSelectedRange(int minRow, int minCol, int maxRow, int maxCol, bool forceRedraw,
                                 bool selectCells)
{
    // From outside, a range replaces the selection (or, with selectCells
    // false, is taken out of it); only a Ctrl-click in progress keeps the
    // cells selected before it.
    BeginSelectionGesture(false);
    ApplySelection(minRow, minCol, maxRow, maxCol, forceRedraw, selectCells);
}

void CGridCtrl::BeginSelectionGesture(bool keepPrevious)
{
    m_keepPrevious = keepPrevious;
    m_gestureAdded.clear();
}

void CGridCtrl::ApplySelection(int minRow, int minCol, int maxRow, int maxCol, bool forceRedraw,
                               bool selectCells)
{
    if (!m_enableSelection)
        return;
    // Fixed cells never take part.
    minRow = std::max(minRow, m_fixedRows);
    minCol = std::max(minCol, m_fixedCols);
    CCellRange range;
    if (minRow >= 0 && minCol >= 0 && maxRow >= 0 && maxCol >= 0 && maxRow < GetRowCount()
        && maxCol < m_colCount && minRow <= maxRow && minCol <= maxCol)
        range = CCellRange(minRow, minCol, maxRow, maxCol);

    if (!selectCells) {
        for (int r = range.GetMinRow(); range.IsValid() && r <= range.GetMaxRow(); ++r)
            for (int c = range.GetMinCol(); c <= range.GetMaxCol(); ++c)
                SetCellSelected(r, c, m_rows[r].cells[c].get(), false);
    } else if (m_keepPrevious) {
        // The selection is what it was when the gesture began plus the
        // range. Only the cells the gesture itself added are undone, so a
        // drag over a large kept selection costs the size of the range.
        for (auto it = m_gestureAdded.begin(); it != m_gestureAdded.end();) {
            const int r = int(*it >> 32);
            const int c = int(quint32(*it));
            if (range.InRange(r, c)) {
                ++it;
                continue;
            }
            if (CGridCellBase *cell = GetCell(r, c))
                SetCellSelected(r, c, cell, false);
            it = m_gestureAdded.erase(it);
        }
        for (int r = range.GetMinRow(); range.IsValid() && r <= range.GetMaxRow(); ++r) {
            for (int c = range.GetMinCol(); c <= range.GetMaxCol(); ++c) {
                CGridCellBase *cell = m_rows[r].cells[c].get();
                if (!cell->IsSelected()) {
                    SetCellSelected(r, c, cell, true);
                    m_gestureAdded.insert(Key(r, c));
                }
            }
        }
    } else {
        ClearSelectionSet();
        for (int r = range.GetMinRow(); range.IsValid() && r <= range.GetMaxRow(); ++r)
            for (int c = range.GetMinCol(); c <= range.GetMaxCol(); ++c)
                SetCellSelected(r, c, m_rows[r].cells[c].get(), true);
    }
    if (forceRedraw)
        viewport()->repaint();
    else
        viewport()->update();
}

void CGridCtrl::ResetSelectedRange()
{
    BeginSelectionGesture(false);
    ApplySelection(-1, -1, -1, -1, false, true);
    SetFocusCell(-1, -1);
}

void CGridCtrl::SelectAllCells()
{
    if (!m_enableSelection)
        return;
    SetSelectedRange(m_fixedRows, m_fixedCols, GetRowCount() - 1, m_colCount - 1);
}

void CGridCtrl::SelectRow(int row)
{
    if (row == -1) {
        SelectAllCells();
        return;
    }
    if (row < m_fixedRows || row >= GetRowCount())
        return;
    ResetSelectedRange();
    SetSelectedRange(row, m_fixedCols, row, m_colCount - 1);
    ScrollRowToTop(row);
}

int CGridCtrl::GetNextSelectedRow(int row) const
{
    if (m_selected.empty())
        return -1;
    const int start = row < 0 ? m_fixedRows : std::max(row + 1, 0);
    for (int r = start; r < GetRowCount(); ++r) {
        for (const auto &cell : m_rows[r].cells) {
            if (cell->IsSelected())
                return r;
        }
    }
    return -1;
}

void CGridCtrl::OnSelecting(const CCellID &cell)
{
    if (!m_enableSelection)
        return;
    switch (m_mouseMode) {
    case MouseMode::SelectAll:
        SelectAllCells();
        break;
    case MouseMode::SelectCol:
        SelectColumns(cell);
        break;
    case MouseMode::SelectRow:
        SelectRows(cell);
        break;
    case MouseMode::SelectCells:
        SelectCells(cell);
        break;
    default:
        break;
    }
}

void CGridCtrl::SelectRows(const CCellID &cell, bool forceRedraw, bool selectCells)
{
    if (!m_enableSelection || !IsValid(cell) || cell.row < m_fixedRows)
        return;
    const int anchor = IsValid(m_selectionStart) ? m_selectionStart.row : cell.row;
    ApplySelection(std::min(anchor, cell.row), m_fixedCols, std::max(anchor, cell.row), m_colCount - 1,
                   forceRedraw, selectCells);
}

void CGridCtrl::SelectColumns(const CCellID &cell, bool forceRedraw, bool selectCells)
{
    if (!m_enableSelection || !IsValid(cell) || cell.col < m_fixedCols)
        return;
    const int anchor = IsValid(m_selectionStart) ? m_selectionStart.col : cell.col;
    ApplySelection(m_fixedRows, std::min(anchor, cell.col), GetRowCount() - 1, std::max(anchor, cell.col),
                   forceRedraw, selectCells);
}

void CGridCtrl::SelectCells(const CCellID &cell, bool forceRedraw, bool selectCells)
{
    if (!m_enableSelection || !IsValid(cell) || cell.row < m_fixedRows || cell.col < m_fixedCols)
        return;
    const CCellID anchor = IsValid(m_selectionStart) ? m_selectionStart : cell;
    ApplySelection(std::min(anchor.row, cell.row), std::min(anchor.col, cell.col), std::max(anchor.row, cell.row),
                   std::max(anchor.col, cell.col), forceRedraw, selectCells);
}

// ---------------------------------------------------------------------------
// Options

void CGridCtrl::SetListMode(bool listMode)
{
    ResetSelectedRange();
    m_sortColumn = -1;
    m_listMode = listMode;
    viewport()->update();
}

void CGridCtrl::SetSelectedBkColor(int which, const QColor &c)
{
    m_selBkColor[which ? 1 : 0] = c;
    viewport()->update();
}

void CGridCtrl::SetSelectedTextColor(int which, const QColor &c)
{
    m_selTextColor[which ? 1 : 0] = c;
    viewport()->update();
}

// ---------------------------------------------------------------------------
// Sorting

int CGridCtrl::CompareTexts(const CGridCellBase *a, const CGridCellBase *b)
{
    // QString compares UTF-16 units as unsigned values when case matters.
    const int r = QString::compare(a->TextRef(), b->TextRef(), Qt::CaseSensitive);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

bool CGridCtrl::SortItems(int col, bool ascending)
{
    if (col < 0 || col >= m_colCount)
        return false;
    EndEditing();
    RedrawCell(0, m_sortColumn);
    m_sortColumn = col;
    m_sortAscending = ascending;
    RedrawCell(0, col);
    ResetSelectedRange();
    if (GetRowCount() - 1 > m_fixedRows)
        SortRange(col, ascending, m_fixedRows, GetRowCount() - 1);
    InvalidateRowsFrom(m_fixedRows);
    viewport()->update();
    return true;
}

void CGridCtrl::SortRange(int col, bool ascending, int low, int high)
{
    const auto compare = [this](const CGridCellBase *a, const CGridCellBase *b) {
        return m_compare ? m_compare(a, b) : CompareTexts(a, b);
    };
    // Quicksort around the middle row's cell. The cell objects move with
    // their rows, so the pivot pointer keeps its value. The smaller part is
    // sorted by recursion and the larger by the loop, bounding the depth.
    while (low < high) {
        int lo = low;
        int hi = high;
        const CGridCellBase *pivot = m_rows[(lo + hi) / 2].cells[col].get();
        while (lo <= hi) {
            if (ascending) {
                while (lo < high && compare(m_rows[lo].cells[col].get(), pivot) < 0)
                    ++lo;
                while (hi > low && compare(m_rows[hi].cells[col].get(), pivot) > 0)
                    --hi;
            } else {
                while (lo < high && compare(m_rows[lo].cells[col].get(), pivot) > 0)
                    ++lo;
                while (hi > low && compare(m_rows[hi].cells[col].get(), pivot) < 0)
                    --hi;
            }
            if (lo <= hi) {
                if (compare(m_rows[lo].cells[col].get(), m_rows[hi].cells[col].get()) != 0) {
                    std::swap(m_rows[lo], m_rows[hi]);
                    std::swap(m_rowHeights[lo], m_rowHeights[hi]);
                }
                ++lo;
                --hi;
            }
        }
        if (hi - low < high - lo) {
            if (low < hi)
                SortRange(col, ascending, low, hi);
            low = lo;
        } else {
            if (lo < high)
                SortRange(col, ascending, lo, high);
            high = hi;
        }
    }
}

void CGridCtrl::RenumberFirstColumn()
{
    if (m_colCount == 0)
        return;
    for (int r = m_fixedRows; r < GetRowCount(); ++r) {
        const int n = r - m_fixedRows + 1;
        m_rows[r].cells[0]->SetText(n >= 0 && n < 10000 ? QString::number(n).rightJustified(4, u'0')
                                                        : QString::number(n));
    }
    viewport()->update();
}

void CGridCtrl::OnFixedRowClick(const CCellID &cell)
{
    if (!IsValid(cell))
        return;
    if (m_headerSort) {
        if (cell.col != 0 || !m_renumber) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            const bool ascending = !(cell.col == m_sortColumn && m_sortAscending);
            SortItems(cell.col, ascending);
            QApplication::restoreOverrideCursor();
            if (!m_renumber) {
                viewport()->update();
                return;
            }
        }
        RenumberFirstColumn();
    }
    if (m_fixedColumnSelection && cell.col >= m_fixedCols) {
        m_mouseMode = MouseMode::SelectCol;
        m_selectionStart = {m_fixedRows, cell.col};
        OnSelecting(cell);
        m_selectTimer.start(kSelectTimerMs, this);
    }
}

void CGridCtrl::OnFixedColumnClick(const CCellID &cell)
{
    if (!IsValid(cell) || !m_fixedRowSelection || cell.row < m_fixedRows)
        return;
    m_mouseMode = MouseMode::SelectRow;
    OnSelecting(cell);
    m_selectTimer.start(kSelectTimerMs, this);
}

// ---------------------------------------------------------------------------
// Drawing

void CGridCtrl::SetRedraw(bool allowDraw, bool resetScrollBars)
{
    m_allowDraw.store(allowDraw);
    if (allowDraw) {
        if (resetScrollBars)
            ResetScrollBars();
        viewport()->update();
    }
}

void CGridCtrl::RedrawCell(int row, int col)
{
    if (!IsValid(row, col) || !m_allowDraw.load())
        return;
    const QRect rect = GetCellRect(row, col);
    if (rect.intersects(viewport()->rect()))
        viewport()->update(rect);
}

void CGridCtrl::RedrawRow(int row)
{
    if (row < 0 || row >= GetRowCount())
        return;
    const QRect band(0, RowTop(row) - (row >= m_fixedRows ? ScrollY() : 0), viewport()->width(),
                     m_rowHeights[row]);
    if (band.intersects(viewport()->rect()))
        viewport()->update(band);
}

void CGridCtrl::InvalidateCellRect(const QRect &rect)
{
    viewport()->update(rect);
}

void CGridCtrl::paintEvent(QPaintEvent *event)
{
    m_drawFinished.store(false);
    m_drawnCells = 0;
    if (!m_allowDraw.load()) {
        m_drawFinished.store(true);
        return;
    }
    {
        QPainter p(viewport());
        const QRect clip = event->rect();
        p.fillRect(clip, m_bkColor);

        const int rows = GetRowCount();
        const QSize vp = viewport()->size();
        const int fixedH = GetFixedRowHeight();
        const int fixedW = GetFixedColumnWidth();
        const int sx = ScrollX();
        const int sy = ScrollY();
        RowTop(rows);
        ColLeft(m_colCount);

        // Scrolled rows and columns that meet the damaged area: binary
        // searches, so the cost follows the visible cells, not the rows.
        int firstRow = -1, lastRow = -2;
        if (rows > m_fixedRows && clip.bottom() >= fixedH) {
            firstRow = IndexAt(m_rowTop, m_fixedRows, rows, std::max(clip.top(), fixedH) + sy);
            lastRow = IndexAt(m_rowTop, m_fixedRows, rows, clip.bottom() + sy);
            if (lastRow < 0)
                lastRow = rows - 1;
            if (firstRow < 0)
                lastRow = -2;
        }
        int firstCol = -1, lastCol = -2;
        if (m_colCount > m_fixedCols && clip.right() >= fixedW) {
            firstCol = IndexAt(m_colLeft, m_fixedCols, m_colCount, std::max(clip.left(), fixedW) + sx);
            lastCol = IndexAt(m_colLeft, m_fixedCols, m_colCount, clip.right() + sx);
            if (lastCol < 0)
                lastCol = m_colCount - 1;
            if (firstCol < 0)
                lastCol = -2;
        }

        const auto rowY = [&](int r) { return m_rowTop[r] - (r >= m_fixedRows ? sy : 0); };
        const auto colX = [&](int c) { return m_colLeft[c] - (c >= m_fixedCols ? sx : 0); };
        const auto drawCell = [&](int r, int c) {
            const QRect rect(colX(c), rowY(r), m_colWidths[c], m_rowHeights[r]);
            if (rect.width() <= 0 || rect.height() <= 0 || !rect.intersects(clip))
                return;
            CGridCellBase *cell = m_rows[r].cells[c].get();
            if (IsCellFixed(r, c)) {
                cell->Draw(p, r, c, rect);
            } else {
                cell->Draw(p, r, c, rect.adjusted(0, 0, -1, -1));
                p.setPen(m_gridLineColor);
                p.drawLine(rect.right(), rect.top(), rect.right(), rect.bottom());
                p.drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
            }
            ++m_drawnCells;
        };

        // Scrolled cells.
        p.setClipRect(QRect(fixedW, fixedH, vp.width() - fixedW, vp.height() - fixedH) & clip);
        for (int r = firstRow; r >= 0 && r <= lastRow; ++r)
            for (int c = firstCol; c >= 0 && c <= lastCol; ++c)
                drawCell(r, c);
        // Fixed rows over the scrolled columns.
        p.setClipRect(QRect(fixedW, 0, vp.width() - fixedW, fixedH) & clip);
        for (int r = 0; r < m_fixedRows && clip.top() < fixedH; ++r)
            for (int c = firstCol; c >= 0 && c <= lastCol; ++c)
                drawCell(r, c);
        // Fixed columns beside the scrolled rows.
        p.setClipRect(QRect(0, fixedH, fixedW, vp.height() - fixedH) & clip);
        for (int r = firstRow; r >= 0 && r <= lastRow; ++r)
            for (int c = 0; c < m_fixedCols && clip.left() < fixedW; ++c)
                drawCell(r, c);
        // The corner.
        p.setClipRect(QRect(0, 0, fixedW, fixedH) & clip);
        for (int r = 0; r < m_fixedRows; ++r)
            for (int c = 0; c < m_fixedCols; ++c)
                drawCell(r, c);

        if (m_mouseMode == MouseMode::SizingCol || m_mouseMode == MouseMode::SizingRow) {
            p.setClipping(false);
            p.setCompositionMode(QPainter::RasterOp_NotDestination);
            if (m_mouseMode == MouseMode::SizingCol)
                p.fillRect(QRect(m_resizeLinePos, 0, 2, vp.height()), Qt::black);
            else
                p.fillRect(QRect(0, m_resizeLinePos, vp.width(), 2), Qt::black);
        }
    }
    m_drawFinished.store(true);
}

void CGridCtrl::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void CGridCtrl::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

// ---------------------------------------------------------------------------
// Mouse

void CGridCtrl::SendMessageToParent(int row, int col, int code)
{
    emit notification(code, row, col);
}

QPoint CGridCtrl::PointClicked(int row, int col, QPoint point) const
{
    const QRect rect = GetCellRect(row, col);
    return rect.isValid() ? point - rect.topLeft() : point;
}

bool CGridCtrl::InTextArea(int row, int col, QPoint point) const
{
    const CGridCellBase *cell = GetCell(row, col);
    if (!cell)
        return false;
    return cell->GetTextRect(GetCellRect(row, col)).contains(point);
}

bool CGridCtrl::IsCellEditable(int row, int col) const
{
    const CGridCellBase *cell = GetCell(row, col);
    return m_editable && cell && !IsCellFixed(row, col) && !cell->IsReadOnly();
}

int CGridCtrl::ColumnDividerAt(QPoint point) const
{
    // Borders are grabbed in the fixed rows only.
    if (point.y() < 0 || point.y() >= GetFixedRowHeight())
        return -1;
    int best = -1;
    int bestDistance = kResizeTolerance + 1;
    for (int c = 0; c < m_colCount; ++c) {
        if (m_colWidths[c] <= 0)
            continue; // a hidden column is never grabbed by accident
        const int right = ColLeft(c + 1) - (c >= m_fixedCols ? ScrollX() : 0);
        if (c >= m_fixedCols && right <= GetFixedColumnWidth())
            continue;
        const int distance = std::abs(point.x() - right);
        if (distance < bestDistance) {
            best = c;
            bestDistance = distance;
        }
    }
    return best;
}

int CGridCtrl::RowDividerAt(QPoint point) const
{
    if (point.x() < 0 || point.x() >= GetFixedColumnWidth())
        return -1;
    const int row = RowAtY(point.y());
    // The band around the bottom edge of the row under the point, or of the
    // row above it.
    for (int r : {row, row - 1}) {
        if (r < 0 || r >= GetRowCount() || m_rowHeights[r] <= 0)
            continue;
        const int bottom = RowTop(r + 1) - (r >= m_fixedRows ? ScrollY() : 0);
        if (std::abs(point.y() - bottom) <= kResizeTolerance)
            return r;
    }
    return -1;
}

void CGridCtrl::mousePressEvent(QMouseEvent *event)
{
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        event->accept();
        return; // handled on release
    }
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    // Clicks add to the selection, as if Ctrl were held, unless list mode
    // and exclusive selection are both on.
    const bool ctrl = (event->modifiers() & Qt::ControlModifier) || !(m_listMode && m_exclusiveSelection);
    const bool shift = event->modifiers() & Qt::ShiftModifier;

    m_leftClickDownPoint = point;
    m_lastMousePoint = point;
    m_leftClickDownCell = GetCellFromPt(point);
    if (!IsValid(m_leftClickDownCell))
        return;
    const CCellID cell = m_leftClickDownCell;

    if (!shift)
        m_selectionStart = cell;
    else if (!IsValid(m_selectionStart))
        m_selectionStart = m_focusCell;

    EndEditing();
    setFocus(Qt::MouseFocusReason);
    if (CGridCellBase *c = GetCell(cell.row, cell.col))
        c->OnClickDown(PointClicked(cell.row, cell.col, point));
    m_leftButtonDown = true;

    m_mouseMode = MouseMode::Nothing;
    if (m_allowColumnResize && ColumnDividerAt(point) >= 0)
        m_mouseMode = MouseMode::OverColDivide;
    else if (m_allowRowResize && RowDividerAt(point) >= 0)
        m_mouseMode = MouseMode::OverRowDivide;

    if (m_mouseMode == MouseMode::Nothing) {
        if (cell == m_focusCell && !ctrl && InTextArea(cell.row, cell.col, point)
            && IsCellEditable(cell.row, cell.col)) {
            // Released without moving, this edits the cell.
            m_mouseMode = MouseMode::PrepareEdit;
            return;
        }
        if (IsCellSelected(cell.row, cell.col)) {
            SetFocusCell(cell);
            if (ctrl)
                return; // already part of the selection
            if (m_allowDragAndDrop) {
                m_mouseMode = MouseMode::PrepareDrag;
                return;
            }
        } else if (!IsCellFixed(cell.row, cell.col)) {
            SetFocusCell(cell);
        } else {
            SetFocusCell(-1, -1);
        }
    }

    if (m_mouseMode == MouseMode::OverColDivide) {
        m_mouseMode = MouseMode::SizingCol;
        m_resizeIndex = ColumnDividerAt(point);
        m_resizeLinePos = point.x();
        viewport()->setCursor(Qt::SplitHCursor);
        viewport()->update();
        return;
    }
    if (m_mouseMode == MouseMode::OverRowDivide) {
        m_mouseMode = MouseMode::SizingRow;
        m_resizeIndex = RowDividerAt(point);
        m_resizeLinePos = point.y();
        viewport()->setCursor(Qt::SplitVCursor);
        viewport()->update();
        return;
    }

    SendMessageToParent(cell.row, cell.col, kGvnSelChanging);
    // With Ctrl the selection so far is kept and the new cells are added.
    BeginSelectionGesture(ctrl);
    if (cell.row < m_fixedRows) {
        OnFixedRowClick(cell);
    } else if (cell.col < m_fixedCols) {
        OnFixedColumnClick(cell);
    } else {
        m_mouseMode = m_listMode ? MouseMode::SelectRow : MouseMode::SelectCells;
        OnSelecting(cell);
        m_selectTimer.start(kSelectTimerMs, this);
    }
}

void CGridCtrl::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint point = event->position().toPoint();
    if (!m_leftButtonDown || !(event->buttons() & Qt::LeftButton)) {
        // Hovering: show where a border can be grabbed.
        if (m_allowColumnResize && ColumnDividerAt(point) >= 0) {
            m_mouseMode = MouseMode::OverColDivide;
            viewport()->setCursor(Qt::SplitHCursor);
        } else if (m_allowRowResize && RowDividerAt(point) >= 0) {
            m_mouseMode = MouseMode::OverRowDivide;
            viewport()->setCursor(Qt::SplitVCursor);
        } else if (m_mouseMode == MouseMode::OverColDivide || m_mouseMode == MouseMode::OverRowDivide) {
            m_mouseMode = MouseMode::Nothing;
            viewport()->unsetCursor();
        }
        return;
    }
    m_lastMousePoint = point;
    switch (m_mouseMode) {
    case MouseMode::SelectCol:
    case MouseMode::SelectRow:
    case MouseMode::SelectCells: {
        const CCellID cell = GetCellFromPt(point);
        if (!IsValid(cell))
            return;
        if (cell != m_focusCell) {
            OnSelecting(cell);
            if (!IsCellFixed(cell.row, cell.col))
                SetFocusCell(cell);
        }
        break;
    }
    case MouseMode::SizingCol: {
        const int left = ColLeft(m_resizeIndex) - (m_resizeIndex >= m_fixedCols ? ScrollX() : 0);
        m_resizeLinePos = std::clamp(point.x(), left + (m_allowZeroSize ? 0 : 1), viewport()->width() - 1);
        viewport()->update();
        break;
    }
    case MouseMode::SizingRow: {
        const int top = RowTop(m_resizeIndex) - (m_resizeIndex >= m_fixedRows ? ScrollY() : 0);
        m_resizeLinePos = std::clamp(point.y(), top + (m_allowZeroSize ? 0 : 1), viewport()->height() - 1);
        viewport()->update();
        break;
    }
    case MouseMode::PrepareEdit:
    case MouseMode::PrepareDrag:
        if ((point - m_leftClickDownPoint).manhattanLength() >= QApplication::startDragDistance()) {
            if (m_allowDragAndDrop)
                BeginDrag();
            else
                m_mouseMode = MouseMode::Nothing;
        }
        break;
    default:
        break;
    }
}

void CGridCtrl::BeginDrag()
{
    const CCellRange range = GetSelectedCellRange();
    SendMessageToParent(range.GetMinRow(), range.GetMinCol(), kGvnBeginDrag);
    m_mouseMode = MouseMode::Nothing;
    m_leftButtonDown = false;
    m_selectTimer.stop();
    auto *mime = new QMimeData;
    mime->setText(CopyTextFromGrid());
    auto *drag = new QDrag(this);
    drag->setMimeData(mime);
    // Copies only: a drag never takes album names out of the grid.
    drag->exec(Qt::CopyAction);
}

void CGridCtrl::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        const CCellID cell = GetCellFromPt(point);
        if (CGridCellBase *c = GetCell(cell.row, cell.col))
            c->OnRClick(PointClicked(cell.row, cell.col, point));
        SendMessageToParent(cell.row, cell.col, kNmRClick);
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_leftButtonDown = false;
    m_selectTimer.stop();

    const CCellID focus = m_focusCell;
    switch (m_mouseMode) {
    case MouseMode::PrepareEdit:
        OnEditCell(focus.row, focus.col);
        break;
    case MouseMode::PrepareDrag:
        if (CGridCellBase *c = GetCell(focus.row, focus.col))
            c->OnClick(PointClicked(focus.row, focus.col, point));
        SendMessageToParent(m_leftClickDownCell.row, m_leftClickDownCell.col, kNmClick);
        SendMessageToParent(m_leftClickDownCell.row, m_leftClickDownCell.col, kGvnSelChanging);
        // A click on a selected cell without Ctrl leaves only that cell (row).
        BeginSelectionGesture(false);
        m_selectionStart = m_focusCell;
        if (m_listMode)
            SelectRows(m_focusCell);
        else
            SelectCells(m_focusCell);
        SendMessageToParent(m_focusCell.row, m_focusCell.col, kGvnSelChanged);
        break;
    case MouseMode::SizingCol:
        if (point.x() != m_leftClickDownPoint.x() && m_resizeIndex >= 0) {
            const int left = ColLeft(m_resizeIndex) - (m_resizeIndex >= m_fixedCols ? ScrollX() : 0);
            SetColumnWidth(m_resizeIndex, std::max(m_resizeLinePos - left, m_allowZeroSize ? 0 : 1));
            ResetScrollBars();
        }
        viewport()->update();
        break;
    case MouseMode::SizingRow:
        if (point.y() != m_leftClickDownPoint.y() && m_resizeIndex >= 0) {
            const int top = RowTop(m_resizeIndex) - (m_resizeIndex >= m_fixedRows ? ScrollY() : 0);
            SetRowHeight(m_resizeIndex, std::max(m_resizeLinePos - top, m_allowZeroSize ? 0 : 1));
            ResetScrollBars();
        }
        viewport()->update();
        break;
    default:
        SendMessageToParent(focus.row, focus.col, kGvnSelChanged);
        if (CGridCellBase *c = GetCell(focus.row, focus.col))
            c->OnClick(PointClicked(focus.row, focus.col, point));
        SendMessageToParent(m_leftClickDownCell.row, m_leftClickDownCell.col, kNmClick);
        break;
    }
    m_mouseMode = MouseMode::Nothing;
    m_resizeIndex = -1;
    viewport()->unsetCursor();
    if (IsValid(m_leftClickDownCell))
        QMetaObject::invokeMethod(this, [this] { emit command(); }, Qt::QueuedConnection);
}

void CGridCtrl::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    const QPoint point = event->position().toPoint();
    const CCellID cell = GetCellFromPt(point);
    if (!IsValid(cell))
        return;
    const int divider = m_allowColumnResize ? ColumnDividerAt(point) : -1;
    if (divider >= 0) {
        AutoSizeColumn(divider);
        return;
    }
    const int rowDivider = m_allowRowResize ? RowDividerAt(point) : -1;
    if (rowDivider >= 0) {
        int height = 0;
        for (const auto &c : m_rows[rowDivider].cells)
            height = std::max(height, c->GetCellExtentHeight());
        SetRowHeight(rowDivider, height);
        ResetScrollBars();
        return;
    }
    if (CGridCellBase *c = GetCell(cell.row, cell.col))
        c->OnDblClick(PointClicked(cell.row, cell.col, point));
    SendMessageToParent(cell.row, cell.col, kNmDblClk);
}

void CGridCtrl::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_selectTimer.timerId()) {
        AutoScrollTick();
        return;
    }
    if (event->timerId() == m_scrollBarTimer.timerId()) {
        ResetScrollBars();
        return;
    }
    QAbstractScrollArea::timerEvent(event);
}

void CGridCtrl::AutoScrollTick()
{
    FlushScrollBars();
    if (!m_leftButtonDown) {
        m_selectTimer.stop();
        return;
    }
    const QRect client = viewport()->rect();
    const int fixedH = GetFixedRowHeight();
    const int fixedW = GetFixedColumnWidth();
    QPoint point = m_lastMousePoint;
    if (point.y() > client.bottom()) {
        ScrollLines(1);
        point.setX(std::clamp(point.x(), client.left(), client.right()));
        point.setY(client.bottom());
        OnSelecting(GetCellFromPt(point));
    } else if (point.y() < fixedH) {
        ScrollLines(-1);
        point.setX(std::clamp(point.x(), client.left(), client.right()));
        point.setY(fixedH + 1);
        OnSelecting(GetCellFromPt(point));
    }
    point = m_lastMousePoint;
    if (point.x() > client.right()) {
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        point.setY(std::clamp(point.y(), client.top(), client.bottom()));
        point.setX(client.right());
        OnSelecting(GetCellFromPt(point));
    } else if (point.x() < fixedW) {
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        point.setY(std::clamp(point.y(), client.top(), client.bottom()));
        point.setX(fixedW + 1);
        OnSelecting(GetCellFromPt(point));
    }
}

void CGridCtrl::ScrollLines(int lines)
{
    FlushScrollBars();
    const int rows = GetRowCount();
    if (lines == 0 || rows <= m_fixedRows)
        return;
    const int fixedH = GetFixedRowHeight();
    RowTop(rows);
    const int sy = ScrollY();
    int top = IndexAt(m_rowTop, m_fixedRows, rows, fixedH + sy);
    if (top < 0)
        top = rows - 1;
    // A row cut at the top counts as the current one when scrolling up.
    if (lines < 0 && m_rowTop[top] - fixedH < sy)
        ++lines;
    int target = std::clamp(top + lines, m_fixedRows, rows - 1);
    verticalScrollBar()->setValue(m_rowTop[target] - fixedH);
}

void CGridCtrl::wheelEvent(QWheelEvent *event)
{
    FlushScrollBars();
    const QPoint delta = event->angleDelta();
    if (delta.y() != 0) {
        const int lines = m_wheelLines * delta.y() / 120;
        if (lines != 0)
            ScrollLines(-lines);
        else if (m_wheelLines <= 0)
            verticalScrollBar()->triggerAction(delta.y() > 0 ? QAbstractSlider::SliderPageStepSub
                                                             : QAbstractSlider::SliderPageStepAdd);
    } else if (delta.x() != 0) {
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - delta.x() / 4);
    }
    event->accept();
}

// ---------------------------------------------------------------------------
// Keyboard

void CGridCtrl::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        OnEditCopy();
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        OnEditPaste();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        OnEditSelectAll();
        return;
    }
    if (!IsValid(m_focusCell)) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const int rows = GetRowCount();
    CCellID next = m_focusCell;
    const auto visibleRow = [&](int r, int step) {
        for (int i = r + step; i >= m_fixedRows && i < rows; i += step)
            if (m_rowHeights[i] > 0)
                return i;
        return r;
    };
    const auto visibleCol = [&](int c, int step) {
        for (int i = c + step; i >= m_fixedCols && i < m_colCount; i += step)
            if (m_colWidths[i] > 0)
                return i;
        return c;
    };
    const int pageRows = std::max(1, GetVisibleNonFixedCellRange().GetMaxRow()
                                         - GetVisibleNonFixedCellRange().GetMinRow());
    switch (event->key()) {
    case Qt::Key_Down:
        next.row = visibleRow(next.row, 1);
        break;
    case Qt::Key_Up:
        next.row = visibleRow(next.row, -1);
        break;
    case Qt::Key_Right:
        next.col = visibleCol(next.col, 1);
        break;
    case Qt::Key_Left:
        next.col = visibleCol(next.col, -1);
        break;
    case Qt::Key_PageDown:
        next.row = std::min(rows - 1, next.row + pageRows);
        break;
    case Qt::Key_PageUp:
        next.row = std::max(m_fixedRows, next.row - pageRows);
        break;
    case Qt::Key_Home:
        if (event->modifiers() & Qt::ControlModifier)
            next.row = visibleRow(m_fixedRows - 1, 1);
        next.col = visibleCol(m_fixedCols - 1, 1);
        break;
    case Qt::Key_End:
        if (event->modifiers() & Qt::ControlModifier)
            next.row = visibleRow(rows, -1);
        next.col = visibleCol(m_colCount, -1);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    if (next == m_focusCell || !IsValid(next))
        return;
    if (m_mouseMode == MouseMode::Nothing) {
        BeginSelectionGesture(false);
        m_mouseMode = m_listMode ? MouseMode::SelectRow : MouseMode::SelectCells;
        if (!(event->modifiers() & Qt::ShiftModifier))
            m_selectionStart = next;
        SendMessageToParent(next.row, next.col, kGvnSelChanging);
        OnSelecting(next);
        SendMessageToParent(next.row, next.col, kGvnSelChanged);
        m_mouseMode = MouseMode::Nothing;
    }
    SetFocusCell(next);
    EnsureVisible(next.row, next.col);
}

// ---------------------------------------------------------------------------
// Text

QString CGridCtrl::CopyTextFromGrid() const
{
    const CCellRange range = GetSelectedCellRange();
    if (!range.IsValid())
        return {};
    QString text;
    bool firstRow = true;
    for (int r = range.GetMinRow(); r <= range.GetMaxRow(); ++r) {
        if (m_rowHeights[r] <= 0)
            continue;
        if (!firstRow)
            text += u"\r\n";
        firstRow = false;
        bool firstCol = true;
        for (int c = range.GetMinCol(); c <= range.GetMaxCol(); ++c) {
            if (m_colWidths[c] <= 0)
                continue;
            if (!firstCol)
                text += u'\t';
            firstCol = false;
            const CGridCellBase *cell = m_rows[r].cells[c].get();
            if (cell->IsSelected())
                text += cell->GetText();
        }
    }
    return text;
}

void CGridCtrl::OnEditCopy()
{
    const QString text = CopyTextFromGrid();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void CGridCtrl::OnEditPaste()
{
    if (IsValid(m_focusCell))
        PasteTextToGrid(m_focusCell, QGuiApplication::clipboard()->text());
}

bool CGridCtrl::PasteTextToGrid(const CCellID &topLeft, const QString &text)
{
    if (!IsValid(topLeft) || text.isEmpty())
        return false;
    QStringList lines = text.split(u'\n');
    if (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast();
    bool changed = false;
    for (int i = 0; i < lines.size() && topLeft.row + i < GetRowCount(); ++i) {
        QStringView line(lines[i]);
        if (line.endsWith(u'\r'))
            line.chop(1);
        // Cells are separated by a tab or a comma.
        for (int col = topLeft.col; col < m_colCount; ++col) {
            qsizetype end = 0;
            while (end < line.size() && line[end] != u'\t' && line[end] != u',')
                ++end;
            const int row = topLeft.row + i;
            if (IsCellEditable(row, col) && GetItemText(row, col) != line.first(end)) {
                SetItemText(row, col, line.first(end).toString());
                CGridCellBase *cell = GetCell(row, col);
                cell->SetState(cell->GetState() | kGvisModified);
                changed = true;
            }
            if (end >= line.size())
                break;
            line = line.sliced(end + 1);
        }
    }
    return changed;
}

void CGridCtrl::OnEditSelectAll()
{
    SendMessageToParent(m_focusCell.row, m_focusCell.col, kGvnSelChanging);
    SelectAllCells();
    SendMessageToParent(m_focusCell.row, m_focusCell.col, kGvnSelChanged);
}

void CGridCtrl::OnEditCell(int row, int col)
{
    if (!IsCellEditable(row, col) || m_editor)
        return;
    EnsureVisible(row, col);
    const QRect rect = GetCellRect(row, col);
    if (!rect.isValid() || !rect.intersects(viewport()->rect()))
        return;
    SendMessageToParent(row, col, kGvnBeginLabelEdit);
    m_editCell = {row, col};
    const CGridCellBase *cell = GetCell(row, col);
    m_editor = new CInPlaceEdit(viewport(), cell->GetTextRect(rect.adjusted(0, 0, -1, -1)) & rect,
                                cell->GetText(), [this](bool accept) { FinishEditing(accept); });
    m_editor->setFont(cell->GetFont());
}

void CGridCtrl::EndEditing()
{
    if (m_editor)
        m_editor->Finish(true);
}

void CGridCtrl::FinishEditing(bool accept)
{
    CInPlaceEdit *editor = m_editor;
    if (!editor)
        return;
    m_editor = nullptr;
    const CCellID cell = m_editCell;
    m_editCell = {};
    if (accept && IsValid(cell)) {
        const QString text = editor->text();
        if (text != GetItemText(cell.row, cell.col)) {
            SetItemText(cell.row, cell.col, text);
            CGridCellBase *c = GetCell(cell.row, cell.col);
            c->SetState(c->GetState() | kGvisModified);
        }
    }
    editor->hide();
    editor->deleteLater();
    SendMessageToParent(cell.row, cell.col, kGvnEndLabelEdit);
    if (isVisible())
        setFocus(Qt::OtherFocusReason);
}

bool CGridCtrl::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        ShowTitleTip(help->pos(), help->globalPos());
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void CGridCtrl::ShowTitleTip(QPoint point, QPoint globalPoint)
{
    const CCellID id = GetCellFromPt(point);
    const CGridCellBase *cell = GetCell(id.row, id.col);
    if (!m_titleTips || !cell || cell->TextRef().isEmpty() || m_leftButtonDown) {
        QToolTip::hideText();
        return;
    }
    const QRect rect = GetCellRect(id.row, id.col);
    const QRect textRect = cell->GetTextRect(rect);
    const QFontMetrics fm(cell->GetFont());
    const bool fits = !cell->TextRef().contains(u'\n') && fm.horizontalAdvance(cell->TextRef()) <= textRect.width();
    if (fits) {
        QToolTip::hideText();
        return;
    }
    // Shown over the cell for as long as the mouse stays in it.
    QToolTip::showText(globalPoint, cell->GetText(), viewport(), rect);
}
