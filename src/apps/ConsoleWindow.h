// The window interface for a terminal: status and message texts go to
// standard error, one per line; album rows can go to standard output as
// they arrive. Used by tamblin-cli.
#pragma once

#include "app/WindowPort.h"

#include <QString>

#include <cstdio>
#include <mutex>

namespace tamblin {

class TamblinCore;

class ConsoleWindow : public WindowPort {
public:
    explicit ConsoleWindow(std::FILE *rows = stdout, std::FILE *messages = stderr);

    // The core whose albums AlbumAdded shows; set before a run.
    void SetCore(TamblinCore *core) { m_core = core; }
    void SetAddress(const QString &text) { m_address = text; }
    void SetSavePath(const QString &text) { m_savePath = text; }
    // Whether AlbumAdded prints a row (off for the JSON output).
    void SetPrintRows(bool print) { m_printRows = print; }

    void SetItemText(int controlId, const QString &text) override;
    void ShowMessage(const QString &text) override;
    void AlbumAdded(int index) override;
    QList<int> ChosenAlbums() override;
    void SetListBusyUi() override;
    void SetListIdleUi() override;
    void SetDownBusyUi() override;
    void SetDownIdleUi() override;
    QString AddressText() override;
    QString SavePathText() override;
    void AddHistoryItem(int which, const QString &text) override;
    void ClearHistoryItems(int which) override;
    void OpenFolder(const QString &path) override;

    // The row of an album as the grid shows it: number, name, count text and
    // remark, separated by tabs.
    static QString RowText(int rowNumber, const QString &name, int count, int flags);

private:
    void WriteLine(std::FILE *stream, const QString &text);

    std::mutex m_mutex;
    std::FILE *m_rows;
    std::FILE *m_messages;
    TamblinCore *m_core = nullptr;
    QString m_address;
    QString m_savePath;
    bool m_printRows = true;
    int m_shownRows = 0;
};

} // namespace tamblin
