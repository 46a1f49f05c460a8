// The focus cell, the selection and the keyboard.

#include "grid/GridCtrl.h"

#include "grid/GridCtrlPrivate.h"

#include <QKeyEvent>

#include <algorithm>

using namespace grid_detail;

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
