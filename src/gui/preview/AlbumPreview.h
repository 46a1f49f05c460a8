// The preview view of the album grid: one cell per album showing its cover
// thumbnail and the caption "%d.%s", m_previewColumns cells a row, rows
// m_thumbHeight + 10 high; and the rebuild of the whole grid after a view
// switch, on its own thread, which touches the grid only through the GUI
// thread.
//
// Covers are fetched up to eight at a time while the cells still fill in
// album order; each cover is fetched once per album list (thumbIndex), so a
// later switch fetches nothing. A cover that cannot be fetched or decoded
// leaves its cell with the caption only and is tried again at the next
// switch.
//
#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QPixmap>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

class CGridCtrl;
class CMyGridCtrl;
class QWidget;

namespace tamblin {

class TamblinCore;
struct ST_PERLISTRECORD;

inline constexpr int kPreviewRowExtra = 10; // a preview row is m_thumbHeight + 10 high
inline constexpr int kMaxParallelCoverFetches = 8;

class AlbumPreview : public QObject {
    Q_OBJECT

public:
    // `grid` shows `thumbs` as its image list (the window's m_thumbs). The
    // three belong to the window and outlive this object, which is made on
    // the GUI thread, usually with the window as parent.
    AlbumPreview(TamblinCore &core, CMyGridCtrl *grid, QList<QPixmap> *thumbs, QObject *parent = nullptr);
    // Close()s.
    ~AlbumPreview() override;

    // The list-view branch of AddAlbumToGrid: list-view rebuilds call it on
    // the GUI thread for every album, in order.
    void SetListRowAdder(std::function<void(int index)> addListRow) { m_addListRow = std::move(addListRow); }
    // How many covers are fetched at once (kMaxParallelCoverFetches; 1
    // fetches one after the other).
    void SetMaxParallelFetches(int count) { m_maxParallel = std::max(1, count); }

    // Check box 1014 was clicked: while a rebuild runs (m_previewState not
    // 0), asks "模式转换未完成,是否中断?" and on Yes asks the rebuild to stop;
    // true then, and the caller puts the box back as it was. False when no
    // rebuild runs: the switch may go on.
    bool RefuseSwitchWhileBusy(QWidget *parent);

    // Runs RebuildAlbumView on its own thread for the view m_previewMode
    // names; the caller has set m_previewState to 1 and reset the grid.
    // False, with m_previewState back at 0, when no thread could be made.
    bool StartRebuild();
    // The same on the GUI thread, returning when the grid is complete (the
    // filter rebuilds the list view so).
    void RebuildAlbumView();

    // The preview branch of AddAlbumToGrid for album `index`, from any
    // thread (the list worker adds albums while the preview view is shown):
    // fetches the cover on the calling thread when the album has none yet,
    // then fills its cell on the GUI thread.
    void AddAlbumToGrid(int index);

    // Ends a running rebuild at once and waits for its thread; what it has
    // not shown yet is dropped (cells not filled by then stay empty), and
    // m_previewState is 0 again. Later rebuilds work as before: for the
    // album list emptied before a list run, and for the filter's rebuild.
    void Stop();
    // Stop() for good, for the window's close: cover fetches still under
    // way on other threads give up, and nothing reaches the grid any more.
    void Close();

signals:
    // A rebuild ended (also after an interrupt): m_previewState is 0 again
    // and m_filterText empty.
    void RebuildFinished();

private:
    struct Plan;

    Plan MakePlan() const;
    void Run(const Plan &plan);
    bool StopAsked() const;
    // PostToGui, dropped when a Stop() comes between.
    void Post(std::function<void()> fn);
    void FillCell(int index, ST_PERLISTRECORD *record, const QImage &cover);
    void Finish(bool preview);

    TamblinCore &m_core;
    CMyGridCtrl *m_grid;
    QList<QPixmap> *m_thumbs;
    std::function<void(int)> m_addListRow;
    int m_maxParallel = kMaxParallelCoverFetches;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_closed{false};
    std::atomic<unsigned> m_generation{0}; // counts the Stop()s
};

// The preview view's empty grid (ResetAlbumGrid in thumbnail mode): no
// fixed rows, no rows, m_previewColumns columns each m_thumbWidth plus twice
// the default cell margin wide, whole-row selection off.
void ResetPreviewGrid(CMyGridCtrl &grid, const TamblinCore &core);

// The albums chosen in the preview view, for the download: selected cells in
// reading order (rows top to bottom, columns left to right), each taken when
// the number of cells before it and its item data are both below
// `albumCount`.
QList<int> ChosenPreviewAlbums(const CGridCtrl &grid, int albumCount);

} // namespace tamblin
