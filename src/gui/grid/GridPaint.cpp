// Drawing the visible cells, focus changes, and the title tips of cut texts.

#include "grid/GridCtrl.h"

#include "grid/GridCtrlPrivate.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>

using namespace grid_detail;

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
