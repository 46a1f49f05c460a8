// Mouse clicks, drags, border resizing and the auto-scroll of a drag selection.

#include "grid/GridCtrl.h"

#include "grid/GridCtrlPrivate.h"

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>

#include <algorithm>

using namespace grid_detail;

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
