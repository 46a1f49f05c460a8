
#include "grid/GridCellCheck.h"

#include "grid/GridCtrl.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

int CGridCellCheck::BoxSide()
{
    // The height of a horizontal scroll bar, as the box has always been.
    return QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
}

bool CGridCellCheck::SetCheck(bool checked)
{
    const bool previous = m_checked;
    m_checked = checked;
    if (GetGrid() && m_rect.isValid())
        GetGrid()->InvalidateCellRect(m_rect);
    return previous;
}

QRect CGridCellCheck::GetCheckPlacement(const QRect &cellRect) const
{
    const int side = BoxSide();
    const int margin = GetMargin();
    QRect box(cellRect.left() + margin, cellRect.top() + margin, side, side);
    if (cellRect.height() < side + 2 * margin)
        box.moveTop(cellRect.top() + (cellRect.height() - side) / 2);
    return box;
}

QRect CGridCellCheck::GetTextRect(const QRect &cellRect) const
{
    QRect r = CGridCell::GetTextRect(cellRect);
    r.setLeft(std::min(r.left() + BoxSide() + 2 * GetMargin(), cellRect.right() + 1));
    return r;
}

QSize CGridCellCheck::GetCellExtent() const
{
    const int side = BoxSide();
    const QSize base = CGridCell::GetCellExtent();
    return {base.width() + side + 2 * GetMargin(), std::max(base.height(), side + 2 * GetMargin())};
}

int CGridCellCheck::GetCellExtentHeight() const
{
    return std::max(CGridCell::GetCellExtentHeight(), BoxSide() + 2 * GetMargin());
}

void CGridCellCheck::Draw(QPainter &painter, int row, int col, const QRect &rect)
{
    CGridCell::Draw(painter, row, col, rect);
    m_rect = rect;
    QStyleOptionButton option;
    option.rect = GetCheckPlacement(rect);
    option.state = QStyle::State_Enabled | (m_checked ? QStyle::State_On : QStyle::State_Off);
    QWidget *widget = GetGrid() ? GetGrid()->viewport() : nullptr;
    if (widget)
        option.palette = widget->palette();
    QApplication::style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter, widget);
}

void CGridCellCheck::OnClick(QPoint pointCellRelative)
{
    const QPoint client = pointCellRelative + m_rect.topLeft();
    const QRect box = GetCheckPlacement(m_rect);
    if (!m_rect.isValid() || !box.contains(client))
        return;
    m_checked = !m_checked;
    if (GetGrid())
        GetGrid()->InvalidateCellRect(box);
}
