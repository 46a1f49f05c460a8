// The grid's model side: construction, row and column counts and sizes,
// cells and their attributes, options.

#include "grid/GridCtrl.h"

#include "grid/GridCtrlPrivate.h"
#include "grid/InPlaceEdit.h"

#include <QApplication>

#include <algorithm>

using namespace grid_detail;

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
