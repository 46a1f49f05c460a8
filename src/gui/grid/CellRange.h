// Cell addresses and rectangular ranges of cells.
#pragma once

#include <algorithm>

class CCellID {
public:
    int row = -1;
    int col = -1;

    constexpr CCellID() = default;
    constexpr CCellID(int r, int c) : row(r), col(c) {}

    // Says nothing about a particular grid; CGridCtrl::IsValid checks bounds.
    constexpr bool IsValid() const { return row >= 0 && col >= 0; }
    friend constexpr bool operator==(const CCellID &, const CCellID &) = default;
};

class CCellRange {
public:
    constexpr CCellRange() = default;
    constexpr CCellRange(int minRow, int minCol, int maxRow, int maxCol)
        : m_minRow(minRow), m_minCol(minCol), m_maxRow(maxRow), m_maxCol(maxCol)
    {
    }

    constexpr int GetMinRow() const { return m_minRow; }
    constexpr int GetMinCol() const { return m_minCol; }
    constexpr int GetMaxRow() const { return m_maxRow; }
    constexpr int GetMaxCol() const { return m_maxCol; }
    constexpr void SetMinRow(int v) { m_minRow = v; }
    constexpr void SetMinCol(int v) { m_minCol = v; }
    constexpr void SetMaxRow(int v) { m_maxRow = v; }
    constexpr void SetMaxCol(int v) { m_maxCol = v; }

    constexpr bool IsValid() const
    {
        return m_minRow >= 0 && m_minCol >= 0 && m_maxRow >= 0 && m_maxCol >= 0
            && m_minRow <= m_maxRow && m_minCol <= m_maxCol;
    }
    constexpr bool InRange(int row, int col) const
    {
        return row >= m_minRow && row <= m_maxRow && col >= m_minCol && col <= m_maxCol;
    }
    constexpr bool InRange(const CCellID &cell) const { return InRange(cell.row, cell.col); }
    constexpr int Count() const
    {
        return IsValid() ? (m_maxRow - m_minRow + 1) * (m_maxCol - m_minCol + 1) : 0;
    }
    constexpr CCellID GetTopLeft() const { return {m_minRow, m_minCol}; }

    friend constexpr bool operator==(const CCellRange &, const CCellRange &) = default;

private:
    int m_minRow = -1;
    int m_minCol = -1;
    int m_maxRow = -1;
    int m_maxCol = -1;
};
