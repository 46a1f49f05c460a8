// A cell with a check box at its left edge; only a click inside the box
// toggles it.
#pragma once

#include "grid/GridCellBase.h"

class CGridCellCheck : public CGridCell {
public:
    bool SetCheck(bool checked = true);
    bool GetCheck() const { return m_checked; }

    void Draw(QPainter &painter, int row, int col, const QRect &rect) override;
    QRect GetTextRect(const QRect &cellRect) const override;
    QSize GetCellExtent() const override;
    int GetCellExtentHeight() const override;
    void OnClick(QPoint pointCellRelative) override;

    // The box inside a cell drawn at `cellRect`.
    QRect GetCheckPlacement(const QRect &cellRect) const;
    // Where the cell was last drawn.
    QRect GetLastRect() const { return m_rect; }

private:
    static int BoxSide();

    bool m_checked = false;
    QRect m_rect;
};
