// The window interface for a terminal: status and message texts go to
// standard error, one per line; album rows can go to standard output as
// they arrive. During a download on a terminal, the picture status line is
// a progress bar redrawn in place below the other lines. Used by
// tamblin-cli.
#pragma once

#include "app/WindowPort.h"

#include <QList>
#include <QString>

#include <atomic>
#include <cstdint>
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
    // The albums a download takes, as indices into the core's list; without
    // a call, every album.
    void SetChosen(const QList<int> &albums);
    // Shows the picture status in place on one line (for a terminal), with
    // a bar of the pictures done while a pool runs.
    void SetProgressBar(bool on);
    // Redraws the bar with `done` of `total` pictures of the running pool;
    // no-op when it is off.
    void DrawProgress(std::uint32_t done, std::uint32_t total);
    // The pool has ended: its last status text becomes a line of its own.
    void FinishProgress();
    // True once a download run passed its save path checks.
    bool DownloadStarted() const { return m_downStarted; }

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
    // A terminal cannot log in: says what failed, and points a Weibo run
    // at --cookies where a login may help.
    bool ExplainNoAlbums(int subMode, const QString &cause, NoAlbumAdvice advice) override;
    // No login browser here: says in one line how to bring a login along.
    bool OpenLogin(const QString &startUrl) override;
    // No browser here either: prints the address (control characters
    // escaped) and how to pass the verification.
    bool OpenVerification(const QString &url) override;

    // The row of an album as the grid shows it: number, name, count text and
    // remark, separated by tabs.
    static QString RowText(int rowNumber, const QString &name, int count, int flags);
    // "[#####.....]  12/40" in `width` cells for the bar.
    static QString BarText(std::uint32_t done, std::uint32_t total, int width);

private:
    void WriteLine(std::FILE *stream, const QString &text);
    void ClearBarLocked();
    void DrawBarLocked();

    std::mutex m_mutex;
    std::FILE *m_rows;
    std::FILE *m_messages;
    TamblinCore *m_core = nullptr;
    QString m_address;
    QString m_savePath;
    bool m_printRows = true;
    int m_shownRows = 0;
    bool m_chooseAll = true;
    QList<int> m_chosen;
    bool m_bar = false;
    bool m_barShown = false;
    bool m_barActive = false; // a pool's bar is on the status line
    std::uint32_t m_barDone = 0;
    std::uint32_t m_barTotal = 0;
    QString m_barText;
    std::atomic<bool> m_downStarted{false};
};

} // namespace tamblin
