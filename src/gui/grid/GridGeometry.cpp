// Where rows, columns and cells are on screen, and scrolling.

#include "grid/GridCtrl.h"

#include "grid/GridCtrlPrivate.h"

#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

using namespace grid_detail;

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
