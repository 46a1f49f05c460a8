#include "preview/AlbumPreview.h"

#include "app/AlbumGrid.h"
#include "app/GuiThread.h"
#include "app/TamblinCore.h"
#include "grid/MyGridCtrl.h"
#include "preview/CoverThumbnail.h"
#include "sources/SinaBlog.h"
#include "sources/SourceSupport.h"

#include <QDir>
#include <QMessageBox>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

using namespace Qt::StringLiterals;

namespace tamblin {

namespace {

constexpr std::uint8_t kPreviewIdle = 0;
constexpr std::uint8_t kPreviewStopAsked = 2;
// Rows of the list view handed to the GUI thread at a time.
constexpr int kListRowsPerPost = 64;
// Covers fetched ahead of the next cell to fill, per fetching thread.
constexpr std::size_t kLookaheadPerThread = 4;

struct CoverJob {
    QString url;
    QString path;
    bool article = false; // `url` is a blog article, whose first picture is the cover
};

// A blog article list names no covers: an article's is the picture its
// download gives, found on its page.
bool CoverFromArticle(const TamblinCore &core, const ST_PERLISTRECORD &record)
{
    return core.m_subMode == kSubModeSinaBlog && record.coverUrl.isEmpty() && !record.albumUrl.isEmpty();
}

QImage FetchCover(const CoverJob &job, QSize size, const QString &referer, const std::atomic<bool> *cancel)
{
    const QString url =
        job.article ? SinaBlogArticleCover(job.url, kCoverStepTimeoutMs, kCoverTimeoutMs, cancel) : job.url;
    return FetchThumbnail(url, job.path, size, referer, cancel);
}

// Fetches covers on up to `threads` threads, in album order and never more
// than a few ahead of the cell being filled, so memory stays bounded however
// long the list is.
class CoverFetcher {
public:
    CoverFetcher(std::vector<CoverJob> jobs, int threads, QSize size, QString referer)
        : m_jobs(std::move(jobs)), m_results(m_jobs.size()), m_done(m_jobs.size(), 0), m_size(size),
          m_referer(std::move(referer)),
          m_lookahead(kLookaheadPerThread * std::size_t(threads))
    {
        const int count = int(std::min<std::size_t>(std::size_t(threads), m_jobs.size()));
        for (int i = 0; i < count; ++i) {
            try {
                m_threads.emplace_back([this] { Work(); });
            } catch (const std::system_error &) {
                break; // fewer threads; with none, Take fetches itself
            }
        }
    }

    ~CoverFetcher()
    {
        {
            std::lock_guard lock(m_mutex);
            m_cancel = true;
        }
        m_changed.notify_all();
        for (std::thread &thread : m_threads)
            thread.join();
    }

    // The thumbnail of job `k` (null when it failed), once it is there;
    // false when `stop` became true first.
    bool Take(std::size_t k, QImage &thumbnail, const std::function<bool()> &stop)
    {
        if (m_threads.empty()) {
            thumbnail = FetchCover(m_jobs[k], m_size, m_referer, &m_cancel);
            return !stop();
        }
        std::unique_lock lock(m_mutex);
        while (!m_done[k]) {
            if (stop())
                return false;
            m_changed.wait_for(lock, std::chrono::milliseconds(50));
        }
        thumbnail = std::exchange(m_results[k], QImage());
        m_taken = k + 1;
        lock.unlock();
        m_changed.notify_all();
        return true;
    }

private:
    void Work()
    {
        for (;;) {
            std::size_t k;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] {
                    return m_cancel || m_next >= m_jobs.size() || m_next < m_taken + m_lookahead;
                });
                if (m_cancel || m_next >= m_jobs.size())
                    return;
                k = m_next++;
            }
            QImage thumbnail = FetchCover(m_jobs[k], m_size, m_referer, &m_cancel);
            {
                std::lock_guard lock(m_mutex);
                m_results[k] = std::move(thumbnail);
                m_done[k] = 1;
            }
            m_changed.notify_all();
        }
    }

    const std::vector<CoverJob> m_jobs;
    std::vector<QImage> m_results;
    std::vector<char> m_done;
    const QSize m_size;
    const QString m_referer;
    const std::size_t m_lookahead;
    std::size_t m_next = 0;  // the next job a thread takes
    std::size_t m_taken = 0; // jobs handed to their cells
    std::atomic<bool> m_cancel{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::thread> m_threads;
};

} // namespace

// What a rebuild works from, read on the GUI thread where thumbIndex is
// written: the records, and for the preview view which covers to fetch.
struct AlbumPreview::Plan {
    bool preview = false;
    QString appDir;
    QSize thumbSize;
    QString referer;
    std::vector<ST_PERLISTRECORD *> records;
    std::vector<CoverJob> jobs;
    std::vector<char> needsCover; // per album: its cover is one of `jobs`
};

AlbumPreview::AlbumPreview(TamblinCore &core, CMyGridCtrl *grid, QList<QPixmap> *thumbs, QObject *parent)
    : QObject(parent), m_core(core), m_grid(grid), m_thumbs(thumbs)
{
}

AlbumPreview::~AlbumPreview()
{
    Close();
}

bool AlbumPreview::RefuseSwitchWhileBusy(QWidget *parent)
{
    if (m_core.m_previewState == kPreviewIdle)
        return false;
    if (QMessageBox::question(parent, u"提示"_s, u"模式转换未完成,是否中断?"_s, QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes) {
        // The rebuild may have ended while the question was open.
        std::uint8_t running = 1;
        m_core.m_previewState.compare_exchange_strong(running, kPreviewStopAsked);
    }
    return true;
}

AlbumPreview::Plan AlbumPreview::MakePlan() const
{
    Plan plan;
    plan.preview = m_core.m_previewMode != 0;
    plan.appDir = m_core.m_appDir;
    plan.thumbSize = QSize(m_core.m_thumbWidth, m_core.m_thumbHeight);
    plan.referer = PictureReferer(m_core.m_subMode);
    const int count = m_core.m_albums.Size();
    plan.records.reserve(count);
    plan.needsCover.assign(count, 0);
    for (int i = 0; i < count; ++i) {
        ST_PERLISTRECORD *record = m_core.m_albums.At(i);
        plan.records.push_back(record);
        const bool article = CoverFromArticle(m_core, *record);
        if (plan.preview && record->thumbIndex == -1 && (article || !record->coverUrl.isEmpty())) {
            plan.needsCover[i] = 1;
            plan.jobs.push_back({article ? record->albumUrl : record->coverUrl, CoverFilePath(plan.appDir, i), article});
        }
    }
    return plan;
}

bool AlbumPreview::StartRebuild()
{
    if (m_thread.joinable())
        m_thread.join(); // the last rebuild has ended: its GUI part reset the state
    m_stop = false;
    try {
        m_thread = std::thread([this, plan = MakePlan()] { Run(plan); });
    } catch (const std::system_error &) {
        m_core.m_previewState = kPreviewIdle;
        return false;
    }
    return true;
}

void AlbumPreview::RebuildAlbumView()
{
    m_stop = false;
    Run(MakePlan());
}

bool AlbumPreview::StopAsked() const
{
    return m_stop || m_core.m_previewState == kPreviewStopAsked;
}

void AlbumPreview::Run(const Plan &plan)
{
    const int count = int(plan.records.size());
    if (plan.preview) {
        if (!plan.jobs.empty())
            QDir().mkpath(plan.appDir + u"tmp"_s);
        CoverFetcher fetcher(plan.jobs, m_maxParallel, plan.thumbSize, plan.referer);
        std::size_t job = 0;
        for (int i = 0; i < count && !StopAsked(); ++i) {
            QImage cover;
            if (plan.needsCover[i] && !fetcher.Take(job++, cover, [this] { return StopAsked(); }))
                break;
            ST_PERLISTRECORD *record = plan.records[i];
            Post([this, i, record, cover] { FillCell(i, record, cover); });
        }
    } else {
        for (int from = 0; from < count && !StopAsked(); from += kListRowsPerPost) {
            const int to = std::min(count, from + kListRowsPerPost);
            Post([this, from, to, records = std::vector(plan.records.begin() + from, plan.records.begin() + to)] {
                for (int i = from; i < to; ++i) {
                    // An interrupt, or the list emptied meanwhile, ends the rows.
                    if (m_core.m_previewState == kPreviewStopAsked || m_core.m_albums.At(i) != records[i - from])
                        return;
                    if (m_addListRow)
                        m_addListRow(i);
                }
            });
        }
    }
    Post([this, preview = plan.preview] { Finish(preview); });
}

void AlbumPreview::Post(std::function<void()> fn)
{
    PostToGui(this, [this, generation = m_generation.load(), fn = std::move(fn)] {
        if (generation == m_generation && !m_closed)
            fn();
    });
}

void AlbumPreview::AddAlbumToGrid(int index)
{
    ST_PERLISTRECORD *record = m_core.m_albums.At(index);
    if (!record)
        return;
    QImage cover;
    // Only this call writes a new album's thumbIndex, on the GUI thread.
    const bool article = CoverFromArticle(m_core, *record);
    if (record->thumbIndex == -1 && (article || !record->coverUrl.isEmpty())) {
        QDir().mkpath(m_core.m_appDir + u"tmp"_s);
        const CoverJob job{article ? record->albumUrl : record->coverUrl, CoverFilePath(m_core.m_appDir, index), article};
        cover = FetchCover(job, QSize(m_core.m_thumbWidth, m_core.m_thumbHeight), PictureReferer(m_core.m_subMode),
                           &m_closed);
    }
    Post([this, index, record, cover] { FillCell(index, record, cover); });
}

void AlbumPreview::FillCell(int index, ST_PERLISTRECORD *record, const QImage &cover)
{
    // After an interrupt the grid keeps the cells added so far; a list
    // emptied meanwhile has other records.
    if (m_core.m_previewState == kPreviewStopAsked || m_core.m_albums.At(index) != record)
        return;
    const int columns = m_core.m_previewColumns;
    const int row = index / columns;
    const int col = index % columns;
    while (m_grid->GetRowCount() <= row) {
        const int added = m_grid->AppendRow();
        if (added < 0)
            return;
        m_grid->SetRowHeight(added, m_core.m_thumbHeight + kPreviewRowExtra);
    }
    if (!cover.isNull() && record->thumbIndex == -1) {
        m_thumbs->append(QPixmap::fromImage(cover));
        record->thumbIndex = int(m_thumbs->size()) - 1;
    }
    if (record->thumbIndex != -1)
        m_grid->SetItemImage(row, col, record->thumbIndex);
    m_grid->SetItemTextFmt(row, col, u"%d.%s", index + 1, record->name);
    m_grid->SetItemData(row, col, index);
    m_grid->RedrawCell(row, col);
}

void AlbumPreview::Finish(bool preview)
{
    // The preview rows keep their height: measured to their content they
    // would grow by the cell margins.
    if (preview)
        m_grid->ResetScrollBars();
    else
        m_grid->AutoSizeRows();
    m_grid->viewport()->update();
    m_core.m_previewState = kPreviewIdle;
    m_core.m_filterText.clear();
    emit RebuildFinished();
}

void AlbumPreview::Stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    m_stop = false;
    // What the thread posted and has not run yet belongs to the ended rebuild.
    ++m_generation;
    if (m_core.m_previewState != kPreviewIdle) {
        m_core.m_previewState = kPreviewIdle;
        m_core.m_filterText.clear();
    }
}

void AlbumPreview::Close()
{
    m_closed = true;
    Stop();
}

void ResetPreviewGrid(CMyGridCtrl &grid, const TamblinCore &core)
{
    AlbumGridLayout layout;
    layout.thumbnails = true;
    layout.columns = core.m_previewColumns;
    layout.thumbWidth = core.m_thumbWidth;
    ResetAlbumGrid(grid, layout);
}

QList<int> ChosenPreviewAlbums(const CGridCtrl &grid, int albumCount)
{
    QList<int> chosen;
    int visited = 0;
    for (int row = grid.GetFixedRowCount(); row < grid.GetRowCount(); ++row) {
        for (int col = grid.GetFixedColumnCount(); col < grid.GetColumnCount(); ++col, ++visited) {
            if (!grid.IsCellSelected(row, col) || visited >= albumCount)
                continue;
            const qint32 data = grid.GetItemData(row, col);
            if (data >= 0 && data < albumCount)
                chosen.append(data);
        }
    }
    return chosen;
}

} // namespace tamblin
