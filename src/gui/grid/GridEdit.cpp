// In-place editing, and copying and pasting cell texts.

#include "grid/GridCtrl.h"

#include "grid/InPlaceEdit.h"
#include "grid/GridCtrlPrivate.h"

#include <QClipboard>
#include <QGuiApplication>

#include <algorithm>

using namespace grid_detail;

// ---------------------------------------------------------------------------
// Text

QString CGridCtrl::CopyTextFromGrid() const
{
    const CCellRange range = GetSelectedCellRange();
    if (!range.IsValid())
        return {};
    QString text;
    bool firstRow = true;
    for (int r = range.GetMinRow(); r <= range.GetMaxRow(); ++r) {
        if (m_rowHeights[r] <= 0)
            continue;
        if (!firstRow)
            text += u"\r\n";
        firstRow = false;
        bool firstCol = true;
        for (int c = range.GetMinCol(); c <= range.GetMaxCol(); ++c) {
            if (m_colWidths[c] <= 0)
                continue;
            if (!firstCol)
                text += u'\t';
            firstCol = false;
            const CGridCellBase *cell = m_rows[r].cells[c].get();
            if (cell->IsSelected())
                text += cell->GetText();
        }
    }
    return text;
}

void CGridCtrl::OnEditCopy()
{
    const QString text = CopyTextFromGrid();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void CGridCtrl::OnEditPaste()
{
    if (IsValid(m_focusCell))
        PasteTextToGrid(m_focusCell, QGuiApplication::clipboard()->text());
}

bool CGridCtrl::PasteTextToGrid(const CCellID &topLeft, const QString &text)
{
    if (!IsValid(topLeft) || text.isEmpty())
        return false;
    QStringList lines = text.split(u'\n');
    if (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast();
    bool changed = false;
    for (int i = 0; i < lines.size() && topLeft.row + i < GetRowCount(); ++i) {
        QStringView line(lines[i]);
        if (line.endsWith(u'\r'))
            line.chop(1);
        // Cells are separated by a tab or a comma.
        for (int col = topLeft.col; col < m_colCount; ++col) {
            qsizetype end = 0;
            while (end < line.size() && line[end] != u'\t' && line[end] != u',')
                ++end;
            const int row = topLeft.row + i;
            if (IsCellEditable(row, col) && GetItemText(row, col) != line.first(end)) {
                SetItemText(row, col, line.first(end).toString());
                CGridCellBase *cell = GetCell(row, col);
                cell->SetState(cell->GetState() | kGvisModified);
                changed = true;
            }
            if (end >= line.size())
                break;
            line = line.sliced(end + 1);
        }
    }
    return changed;
}

void CGridCtrl::OnEditSelectAll()
{
    SendMessageToParent(m_focusCell.row, m_focusCell.col, kGvnSelChanging);
    SelectAllCells();
    SendMessageToParent(m_focusCell.row, m_focusCell.col, kGvnSelChanged);
}

void CGridCtrl::OnEditCell(int row, int col)
{
    if (!IsCellEditable(row, col) || m_editor)
        return;
    EnsureVisible(row, col);
    const QRect rect = GetCellRect(row, col);
    if (!rect.isValid() || !rect.intersects(viewport()->rect()))
        return;
    SendMessageToParent(row, col, kGvnBeginLabelEdit);
    m_editCell = {row, col};
    const CGridCellBase *cell = GetCell(row, col);
    m_editor = new CInPlaceEdit(viewport(), cell->GetTextRect(rect.adjusted(0, 0, -1, -1)) & rect,
                                cell->GetText(), [this](bool accept) { FinishEditing(accept); });
    m_editor->setFont(cell->GetFont());
}

void CGridCtrl::EndEditing()
{
    if (m_editor)
        m_editor->Finish(true);
}

void CGridCtrl::FinishEditing(bool accept)
{
    CInPlaceEdit *editor = m_editor;
    if (!editor)
        return;
    m_editor = nullptr;
    const CCellID cell = m_editCell;
    m_editCell = {};
    if (accept && IsValid(cell)) {
        const QString text = editor->text();
        if (text != GetItemText(cell.row, cell.col)) {
            SetItemText(cell.row, cell.col, text);
            CGridCellBase *c = GetCell(cell.row, cell.col);
            c->SetState(c->GetState() | kGvisModified);
        }
    }
    editor->hide();
    editor->deleteLater();
    SendMessageToParent(cell.row, cell.col, kGvnEndLabelEdit);
    if (isVisible())
        setFocus(Qt::OtherFocusReason);
}
