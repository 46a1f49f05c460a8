// Sorting rows by a column, and the header clicks that ask for it.

#include "grid/GridCtrl.h"

#include "grid/GridCtrlPrivate.h"

#include <QApplication>

#include <algorithm>

using namespace grid_detail;

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
