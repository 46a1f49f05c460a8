
#include "grid/GridCellBase.h"

#include "grid/GridCtrl.h"

#include <QApplication>
#include <QColor>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace {

// Room around the text of a caption band, and how much of the picture below
// it shows through (0 to 255).
constexpr int kCaptionPadding = 2;
constexpr int kCaptionBandAlpha = 215;

} // namespace

CGridCellBase::~CGridCellBase() = default;

void CGridCellBase::CopyFrom(const CGridCellBase &other)
{
    m_text = other.m_text;
    m_image = other.m_image;
    m_data = other.m_data;
    m_state = other.m_state;
    m_format = other.m_format;
    m_hasFormat = other.m_hasFormat;
    m_textClr = other.m_textClr;
    m_backClr = other.m_backClr;
    m_hasTextClr = other.m_hasTextClr;
    m_hasBackClr = other.m_hasBackClr;
    m_margin = other.m_margin;
    m_font = other.m_font ? std::make_unique<QFont>(*other.m_font) : nullptr;
}

quint32 CGridCellBase::GetFormat() const
{
    if (m_hasFormat)
        return m_format;
    const CGridDefaultCell *def = GetDefaultCell();
    return def ? def->GetFormat() : m_format;
}

void CGridCellBase::SetTextClr(const QColor &color)
{
    m_hasTextClr = color.isValid();
    m_textClr = color.rgba();
}

void CGridCellBase::SetBackClr(const QColor &color)
{
    m_hasBackClr = color.isValid();
    m_backClr = color.rgba();
}

void CGridCellBase::SetFont(const QFont *font)
{
    m_font = font ? std::make_unique<QFont>(*font) : nullptr;
}

QFont CGridCellBase::GetFont() const
{
    if (m_font)
        return *m_font;
    if (const CGridDefaultCell *def = GetDefaultCell())
        return def->GetFont();
    return m_grid ? m_grid->font() : QApplication::font();
}

int CGridCellBase::GetMargin() const
{
    if (m_margin >= 0)
        return m_margin;
    const CGridDefaultCell *def = GetDefaultCell();
    return def ? def->GetMargin() : 3;
}

const CGridDefaultCell *CGridCellBase::GetDefaultCell() const
{
    return m_grid ? m_grid->GetDefaultCell(IsFixedRow(), IsFixedCol()) : nullptr;
}

QSize CGridCellBase::ImageSize() const
{
    if (m_image < 0 || !m_grid || !m_grid->GetImageList() || m_image >= m_grid->GetImageList()->size())
        return {};
    const QPixmap &pm = m_grid->GetImageList()->at(m_image);
    return pm.deviceIndependentSize().toSize();
}

QRect CGridCellBase::ImageRect(const QRect &cellRect, QSize image) const
{
    const int margin = GetMargin();
    const int top = cellRect.top() + std::max(0, (cellRect.height() - image.height()) / 2);
    const int left = (GetFormat() & Qt::AlignRight) ? cellRect.right() + 1 - margin - image.width()
                                                    : cellRect.left() + margin;
    return QRect(QPoint(std::max(left, cellRect.left()), top), image);
}

QRect CGridCellBase::CaptionBand(const QRect &cellRect) const
{
    const QSize image = ImageSize();
    if (!image.isValid() || image.width() > cellRect.width())
        return {};
    const int line = QFontMetrics(GetFont()).height();
    if (image.height() <= line)
        return {};
    const QRect picture = ImageRect(cellRect, image) & cellRect;
    QRect band = picture;
    band.setTop(std::max(picture.top(), picture.bottom() + 1 - line - 2 * kCaptionPadding));
    return band;
}

QRect CGridCellBase::GetTextRect(const QRect &cellRect) const
{
    const QRect band = CaptionBand(cellRect);
    if (band.isValid())
        return band.adjusted(kCaptionPadding, 0, -kCaptionPadding, 0);
    const int margin = GetMargin();
    QRect r = cellRect.adjusted(margin, 0, -margin, 0);
    const QSize image = ImageSize();
    if (image.isValid() && !(GetFormat() & Qt::AlignRight))
        r.setLeft(std::min(r.left() + image.width() + margin, cellRect.right() + 1));
    else if (image.isValid())
        r.setRight(std::max(r.right() - image.width() - margin, cellRect.left()));
    if (GetFormat() & Qt::TextWordWrap)
        r.adjust(0, margin, 0, -margin);
    return r;
}

QSize CGridCellBase::GetTextExtent(const QString &text) const
{
    const QFontMetrics fm(GetFont());
    const int margin = GetMargin();
    QSize size;
    if (text.contains(u'\n') || (GetFormat() & Qt::TextWordWrap))
        size = fm.boundingRect(QRect(0, 0, 100000, 100000), Qt::AlignLeft | Qt::AlignTop, text).size();
    else
        size = QSize(fm.horizontalAdvance(text), fm.height());
    return size + QSize(4 * margin, 2 * margin);
}

QSize CGridCellBase::GetCellExtent() const
{
    QSize size = GetTextExtent(m_text);
    const QSize image = ImageSize();
    if (image.isValid() && image.height() > QFontMetrics(GetFont()).height()) {
        // The text lies over the picture (CaptionBand).
        size = size.expandedTo(image + QSize(2 * GetMargin(), 2 * GetMargin()));
    } else if (image.isValid()) {
        size.rwidth() += image.width() + GetMargin();
        size.setHeight(std::max(size.height(), image.height() + 2 * GetMargin()));
    }
    return size;
}

int CGridCellBase::GetCellExtentHeight() const
{
    // Most cells hold one line: avoid measuring the text's width.
    int height;
    if (m_text.contains(u'\n') || (GetFormat() & Qt::TextWordWrap))
        height = GetTextExtent(m_text).height();
    else
        height = QFontMetrics(GetFont()).height() + 2 * GetMargin();
    const QSize image = ImageSize();
    if (image.isValid())
        height = std::max(height, image.height() + 2 * GetMargin());
    return height;
}

void CGridCellBase::Draw(QPainter &p, int row, int col, const QRect &rect)
{
    CGridCtrl *grid = m_grid;
    const bool fixed = IsFixed() || IsFixedRow() || IsFixedCol();
    const bool selected = IsSelected() && !fixed && grid;

    QColor back;
    QColor fore;
    if (selected) {
        back = grid->GetSelectedBkColor();
        fore = grid->GetSelectedTextColor();
    } else {
        const CGridDefaultCell *def = GetDefaultCell();
        if (m_hasBackClr)
            back = QColor::fromRgba(m_backClr);
        else if (def && def->HasBackClr())
            back = QColor::fromRgba(def->GetBackClr());
        else if (grid)
            back = fixed ? grid->GetFixedBkColor() : grid->GetTextBkColor();
        else
            back = QApplication::palette().color(fixed ? QPalette::Button : QPalette::Base);
        if (m_hasTextClr)
            fore = QColor::fromRgba(m_textClr);
        else if (def && def->HasTextClr())
            fore = QColor::fromRgba(def->GetTextClr());
        else if (grid)
            fore = fixed ? grid->GetFixedTextColor() : grid->GetTextColor();
        else
            fore = QApplication::palette().color(fixed ? QPalette::ButtonText : QPalette::Text);
    }
    p.fillRect(rect, back);

    if (fixed) {
        // Raised edge: light top and left, shadow bottom and right.
        p.setPen(back.lighter(130));
        p.drawLine(rect.topLeft(), rect.topRight());
        p.drawLine(rect.topLeft(), rect.bottomLeft());
        p.setPen(back.darker(150));
        p.drawLine(rect.bottomLeft(), rect.bottomRight());
        p.drawLine(rect.topRight(), rect.bottomRight());
    }

    if (IsFocused() && grid && !fixed && grid->hasFocus() && !grid->GetListMode()) {
        p.setPen(QPen(fore, 1, Qt::DotLine));
        p.drawRect(rect.adjusted(0, 0, -1, -1));
    }

    const int margin = GetMargin();
    const QSize image = ImageSize();
    if (image.isValid() && image.width() <= rect.width())
        p.drawPixmap(ImageRect(rect, image).topLeft(), grid->GetImageList()->at(m_image));

    QRect textRect = GetTextRect(rect);
    int align = int(GetFormat() & (Qt::AlignHorizontal_Mask | Qt::AlignVertical_Mask));
    const QRect band = m_text.isEmpty() ? QRect() : CaptionBand(rect);
    if (band.isValid()) {
        // In the cell's colours: a selected cell shows it there too, on a
        // solid band; otherwise the picture shows through a little.
        QColor shade = back;
        if (!selected)
            shade.setAlpha(kCaptionBandAlpha);
        p.fillRect(band, shade);
        align = Qt::AlignHCenter | Qt::AlignVCenter;
    }
    // The header of the sort column shows the direction.
    if (grid && IsFixedRow() && col == grid->GetSortColumn() && rect.width() > 3 * margin + 8) {
        const int size = std::min(8, rect.height() / 3);
        const int x = rect.right() - margin - size;
        const int y = rect.center().y();
        QPainterPath arrow;
        if (grid->GetSortAscending()) {
            arrow.moveTo(x, y + size / 2);
            arrow.lineTo(x + size, y + size / 2);
            arrow.lineTo(x + size / 2.0, y - size / 2);
        } else {
            arrow.moveTo(x, y - size / 2);
            arrow.lineTo(x + size, y - size / 2);
            arrow.lineTo(x + size / 2.0, y + size / 2);
        }
        arrow.closeSubpath();
        p.fillPath(arrow, back.darker(180));
        textRect.setRight(std::max(textRect.left(), x - margin));
    }
    if (m_text.isEmpty() || textRect.width() <= 0)
        return;
    p.setPen(fore);
    const QFont font = GetFont();
    p.setFont(font);
    const quint32 format = GetFormat();
    if ((format & Qt::TextWordWrap) && !band.isValid()) {
        p.drawText(textRect, align | Qt::TextWordWrap, m_text);
    } else {
        const QFontMetrics fm(font);
        QString shown = m_text;
        if (shown.contains(u'\n'))
            shown.replace(u'\n', u' ');
        if (fm.horizontalAdvance(shown) > textRect.width())
            shown = fm.elidedText(shown, Qt::ElideRight, textRect.width());
        p.drawText(textRect, align | Qt::TextSingleLine, shown);
    }
    Q_UNUSED(row);
}

void CGridCellBase::OnClickDown(QPoint) {}
void CGridCellBase::OnClick(QPoint) {}
void CGridCellBase::OnRClick(QPoint) {}
void CGridCellBase::OnDblClick(QPoint) {}

CGridDefaultCell::CGridDefaultCell()
{
    SetFormat(kDefaultCellFormat);
}

int CGridDefaultCell::GetHeight() const
{
    return QFontMetrics(GetFont()).height() + 2 * m_defMargin;
}

int CGridDefaultCell::GetWidth() const
{
    return QFontMetrics(GetFont()).averageCharWidth() * 12 + 4 * m_defMargin;
}
