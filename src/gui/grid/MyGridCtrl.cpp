#include "grid/MyGridCtrl.h"

#include "text/TextUtils.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QSaveFile>

using namespace Qt::StringLiterals;

void CMyGridCtrl::SetupGrid(int fixedRows, int rows, int cols, bool listMode)
{
    SetRowCount(rows);
    SetColumnCount(cols);
    SetFixedRowCount(fixedRows);
    SetFixedColumnCount(0);
    SetHeaderSort(true);
    SetFixedColumnSelection(false);
    // A press on a selected cell prepares a drag of the selection.
    EnableDragAndDrop(true);
    const QColor selection(199, 227, 227);
    SetSelectedBkColor(0, selection);
    SetSelectedBkColor(1, selection);
    SetSelectedTextColor(0, Qt::black);
    SetSelectedTextColor(1, Qt::black);
    // The cells' own background.
    SetTextBkColor(Qt::white);
    SetListMode(listMode);
}

int CMyGridCtrl::FindRow(int startRow, QString &keyword, int direction, bool ignoreCase, bool wholeCell)
{
    if (keyword.isEmpty()) {
        ShowMessage(u"关键字不能为空"_s);
        return 1;
    }
    if (ignoreCase)
        keyword = keyword.toLower();
    const int rows = GetRowCount();
    const int cols = GetColumnCount();
    const int step = direction == 1 ? 1 : -1;
    const int first = GetFixedRowCount();
    int row = startRow + step;
    if (step > 0)
        row = std::max(row, first); // the header rows are never searched
    else
        row = std::min(row, rows - 1);
    for (; row >= first && row < rows; row += step) {
        for (int col = 0; col < cols; ++col) {
            const CGridCellBase *cell = GetCell(row, col);
            QString folded;
            const QString &text = ignoreCase ? (folded = cell->TextRef().toLower()) : cell->TextRef();
            const bool match = wholeCell ? text == keyword : text.contains(keyword);
            if (match) {
                SelectRow(row);
                return 1;
            }
        }
    }
    return 0;
}

QString CMyGridCtrl::CsvLine(int row) const
{
    QString line;
    for (int col = 0; col < GetColumnCount(); ++col) {
        QString text = GetItemText(row, col);
        // No quoting: apostrophes go, quotes double, and a comma inside a
        // cell is written as ',' so it cannot split the cell.
        text.remove(u'\'');
        // A NUL would end the GBK conversion and lose the rest of the line.
        text.remove(QChar(u'\0'));
        text.replace(u"\""_s, u"\"\""_s);
        text.replace(u","_s, u"','"_s);
        line += text;
        line += u',';
    }
    return line;
}

bool CMyGridCtrl::WriteCsv(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // The rows below the header rows (in thumbnail mode there are none).
    for (int row = std::max(GetFixedRowCount(), 0); row < GetRowCount(); ++row) {
        QByteArray bytes = tamblin::WideToGbk(CsvLine(row));
        bytes += "\r\n";
        file.write(bytes);
    }
    return file.commit();
}

void CMyGridCtrl::ExportCsv()
{
    const QString path = AskSaveFileName();
    if (path.isEmpty())
        return;
    // Failures are not reported, as before.
    WriteCsv(path);
}

void CMyGridCtrl::ShowMessage(const QString &text)
{
    QMessageBox::information(this, QApplication::applicationDisplayName(), text);
}

QString CMyGridCtrl::AskSaveFileName()
{
    QFileDialog dialog(nullptr);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(u"csv"_s);
    dialog.setNameFilter(u"导出后，自行调整列宽(*.csv)"_s);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}
