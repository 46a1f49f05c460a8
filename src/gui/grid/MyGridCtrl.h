// The album grid: CGridCtrl set up for the album list, with the row search
// of the find box and the CSV export.
#pragma once

#include "grid/GridCtrl.h"

class CMyGridCtrl : public CGridCtrl {
    Q_OBJECT

public:
    using CGridCtrl::CGridCtrl;

    // Counts (no fixed columns), header sort on, header-click column
    // selection off, the selection colours, and the list mode.
    void SetupGrid(int fixedRows, int rows, int cols, bool listMode);

    // Searches the rows after `startRow` (direction 1) or before it (0) for a
    // cell containing the keyword, or equal to it with `wholeCell`; hidden
    // columns count, the fixed rows do not. The first match is selected and
    // scrolled to the top. When case is ignored the keyword is lower-cased in
    // place. Returns non-zero when a row was found or the keyword was empty
    // (after saying so), 0 when nothing was found.
    int FindRow(int startRow, QString &keyword, int direction /*1 forwards, 0 backwards*/, bool ignoreCase,
                bool wholeCell);

    // Asks for a file name and writes the rows below the header to it.
    void ExportCsv();
    // Writes the CSV file: GBK, one CR LF line per row, every cell followed by
    // a comma. False when the file cannot be written.
    bool WriteCsv(const QString &path) const;
    // One row's line before conversion to GBK.
    QString CsvLine(int row) const;

protected:
    // Overridable so that tests are not stopped by modal windows.
    virtual void ShowMessage(const QString &text);
    // The chosen file, or empty when the user cancelled.
    virtual QString AskSaveFileName();
};
