// The cells of CGridCtrl: what every cell holds and how it draws itself.
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QRgb>
#include <QSize>
#include <QString>

#include <memory>

class CGridCtrl;
class CGridDefaultCell;
class QColor;
class QPainter;

// Cell state bits.
inline constexpr quint32 kGvisFocused = 0x0001;
inline constexpr quint32 kGvisSelected = 0x0002;
inline constexpr quint32 kGvisDropHilited = 0x0004;
inline constexpr quint32 kGvisReadOnly = 0x0008;
inline constexpr quint32 kGvisFixed = 0x0010;
inline constexpr quint32 kGvisFixedRow = 0x0020;
inline constexpr quint32 kGvisFixedCol = 0x0040;
inline constexpr quint32 kGvisModified = 0x0080;

// Text format: Qt alignment flags, plus Qt::TextWordWrap for text that may
// take several lines. Single-line text that does not fit ends in "...".
inline constexpr quint32 kDefaultCellFormat = Qt::AlignLeft | Qt::AlignVCenter;

class CGridCellBase {
public:
    CGridCellBase() = default;
    virtual ~CGridCellBase();
    CGridCellBase(const CGridCellBase &) = delete;
    CGridCellBase &operator=(const CGridCellBase &) = delete;

    // Copies every attribute but the grid (used when a cell changes type).
    void CopyFrom(const CGridCellBase &other);

    virtual void SetText(const QString &text) { m_text = text; }
    virtual QString GetText() const { return m_text; }
    // Without a copy, for the search and the painting of many cells.
    const QString &TextRef() const { return m_text; }

    void SetImage(int image) { m_image = image; }
    int GetImage() const { return m_image; }
    void SetData(qint32 data) { m_data = data; }
    qint32 GetData() const { return m_data; }
    void SetState(quint32 state) { m_state = state; }
    quint32 GetState() const { return m_state; }
    void SetFormat(quint32 format) { m_format = format; m_hasFormat = true; }
    quint32 GetFormat() const;
    // Colours; an unset colour comes from the grid or the default cell.
    void SetTextClr(const QColor &color);
    void SetBackClr(const QColor &color);
    bool HasTextClr() const { return m_hasTextClr; }
    bool HasBackClr() const { return m_hasBackClr; }
    QRgb GetTextClr() const { return m_textClr; }
    QRgb GetBackClr() const { return m_backClr; }
    void SetFont(const QFont *font); // nullptr: the default cell's font
    QFont GetFont() const;
    void SetMargin(int margin) { m_margin = margin; } // -1: the default cell's margin
    virtual int GetMargin() const;
    void SetGrid(CGridCtrl *grid) { m_grid = grid; }
    CGridCtrl *GetGrid() const { return m_grid; }

    bool IsSelected() const { return m_state & kGvisSelected; }
    bool IsFocused() const { return m_state & kGvisFocused; }
    bool IsFixed() const { return m_state & kGvisFixed; }
    bool IsFixedRow() const { return m_state & kGvisFixedRow; }
    bool IsFixedCol() const { return m_state & kGvisFixedCol; }
    bool IsReadOnly() const { return m_state & kGvisReadOnly; }

    // The default cell whose margin, font and colours this cell falls back on.
    virtual const CGridDefaultCell *GetDefaultCell() const;

    // Draws the cell into `rect` (the cell without its grid lines).
    virtual void Draw(QPainter &painter, int row, int col, const QRect &rect);
    // Where the text goes inside a cell drawn at `cellRect`.
    virtual QRect GetTextRect(const QRect &cellRect) const;
    virtual QSize GetTextExtent(const QString &text) const;
    // Size the cell needs to show its text and image in full.
    virtual QSize GetCellExtent() const;
    virtual int GetCellExtentHeight() const;

    // Mouse handlers; the point is relative to the cell's top-left corner.
    virtual void OnClickDown(QPoint pointCellRelative);
    virtual void OnClick(QPoint pointCellRelative);
    virtual void OnRClick(QPoint pointCellRelative);
    virtual void OnDblClick(QPoint pointCellRelative);

protected:
    QSize ImageSize() const;
    // Where the image of a cell drawn at `cellRect` goes.
    QRect ImageRect(const QRect &cellRect, QSize image) const;
    // A picture taller than a line of text (a thumbnail) leaves no room for
    // the text beside it: the text goes on a band over the picture's foot.
    // That band, or a null rectangle for other cells.
    QRect CaptionBand(const QRect &cellRect) const;

private:
    QString m_text;
    int m_image = -1;
    qint32 m_data = 0;
    quint32 m_state = 0;
    quint32 m_format = kDefaultCellFormat;
    QRgb m_textClr = 0;
    QRgb m_backClr = 0;
    short m_margin = -1;
    bool m_hasTextClr = false;
    bool m_hasBackClr = false;
    bool m_hasFormat = false;
    std::unique_ptr<QFont> m_font;
    CGridCtrl *m_grid = nullptr;
};

// The ordinary cell.
class CGridCell : public CGridCellBase {
};

// One of the grid's four default cells (normal, fixed row, fixed column,
// both): the margin, font, format and colours that cells of that kind use
// unless they set their own, and the size of a new row or column.
class CGridDefaultCell : public CGridCell {
public:
    CGridDefaultCell();

    int GetMargin() const override { return m_defMargin; }
    void SetMargin(int margin) { m_defMargin = margin < 0 ? 0 : margin; }
    const CGridDefaultCell *GetDefaultCell() const override { return nullptr; }
    // Height of a new row and width of a new column.
    int GetHeight() const;
    int GetWidth() const;

private:
    int m_defMargin = 3;
};
