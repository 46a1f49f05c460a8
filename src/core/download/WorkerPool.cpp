#include "download/WorkerPool.h"

#include "app/WindowPort.h"
#include "download/DownloadJobList.h"
#include "net/HttpClient.h"

#include <QFile>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

namespace tamblin {

using namespace Qt::StringLiterals;

std::atomic<bool> g_stopDownload{false};
std::atomic<std::uint32_t> g_jobsDone{0};
std::atomic<std::uint32_t> g_jobsTotal{0};
std::atomic<bool> g_poolRunning{false};
std::atomic<std::uint32_t> g_minKb{0};
std::atomic<std::uint32_t> g_maxKb{0};
std::atomic<std::uint32_t> g_threadCount{0};
std::atomic<std::uint32_t> g_timeoutSec{0};

namespace {

constexpr std::uint32_t kConnectTimeoutMs = 20000;

// How often the supervisor looks at the stop flag while no worker ends.
constexpr std::chrono::milliseconds kStopPoll{100};
std::atomic<std::int64_t> g_stragglerGraceMs{kStragglerGrace.count()};

std::mutex g_hookMutex;
PictureFetcher g_fetchHook;
WorkerStarter g_startHook;

std::mutex g_poolFolderMutex;
QString g_poolFolder;

// The running pool, or the last one; what PoolCounts and PoolResults read.
struct PoolShared;
std::mutex g_lastPoolMutex;
std::shared_ptr<PoolShared> g_lastPool;

// What the workers of one pool share with their supervisor. The workers hold
// it by shared ownership, so a worker the supervisor abandoned still reports
// into a live object after the supervisor has gone.
struct PoolShared {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::uint32_t> endedSlots;
    std::uint32_t running = 0; // workers started and not yet ended
    std::vector<PictureResult> results; // by job index, under the mutex
    std::atomic<std::uint32_t> saved{0};
    std::atomic<std::uint32_t> skipped{0};
    std::atomic<std::uint32_t> failed{0};
    // Set when stragglers of a stopped pool have had their time.
    std::atomic<bool> cancel{false};

    explicit PoolShared(std::uint32_t total) : results(total) {}

    void Record(std::uint32_t job, PictureResult result)
    {
        switch (result.outcome) {
        case PictureOutcome::Saved:
            ++saved;
            break;
        case PictureOutcome::SkippedBySize:
            ++skipped;
            break;
        case PictureOutcome::NotRun:
        case PictureOutcome::Failed:
            result.outcome = PictureOutcome::Failed;
            ++failed;
            break;
        }
        std::lock_guard lock(mutex);
        results[job] = std::move(result);
    }

    void Started()
    {
        std::lock_guard lock(mutex);
        ++running;
    }

    void Ended(std::uint32_t slot)
    {
        {
            std::lock_guard lock(mutex);
            endedSlots.push_back(slot);
            --running;
        }
        changed.notify_all();
    }

    // True when every worker has ended before `deadline`.
    bool WaitForAll(std::chrono::steady_clock::time_point deadline)
    {
        std::unique_lock lock(mutex);
        return changed.wait_until(lock, deadline, [this] { return running == 0; });
    }

    // The slot of a worker that ended, or none when none ended within `wait`.
    std::optional<std::uint32_t> WaitForEnd(std::chrono::milliseconds wait)
    {
        std::unique_lock lock(mutex);
        if (!changed.wait_for(lock, wait, [this] { return !endedSlots.empty(); }))
            return std::nullopt;
        const std::uint32_t slot = endedSlots.front();
        endedSlots.pop_front();
        return slot;
    }
};

// Workers a stopped pool left running, with what their pool shares.
struct Abandoned {
    std::shared_ptr<PoolShared> shared;
    std::vector<std::thread> workers;
};
std::mutex g_abandonedMutex;
std::vector<Abandoned> g_abandoned;

std::thread StartThread(std::uint32_t, std::function<void()> body)
{
    return std::thread(std::move(body));
}

QString HostOf(const QString &url)
{
    return QUrl(url.trimmed()).host();
}

// What the last fetch of a job did to its picture.
PictureResult Judge(const PictureJob &job, const QString &url, const PictureFetch &got)
{
    if (got.ok && got.bytes > 0)
        return {PictureOutcome::Saved, QString()};
    if (got.ok) {
        // An empty answer is no picture; its empty file goes.
        QFile::remove(job.filePath);
        return {PictureOutcome::Failed, u"empty answer from "_s + HostOf(url)};
    }
    if (got.error == FetchError::SizeLimit && (job.minKb != 0 || job.maxKb != 0))
        return {PictureOutcome::SkippedBySize, got.errorText};
    return {PictureOutcome::Failed, got.errorText.isEmpty() ? u"failed"_s : got.errorText};
}

} // namespace

PictureJob MakePictureJob(const DownloadJobList &jobs, qsizetype index)
{
    PictureJob job;
    const QString &address = jobs.urls.at(index);
    const qsizetype split = address.indexOf(u"\r\n");
    if (split >= 0) {
        job.url = address.left(split);
        job.fallback = address.mid(split + 2);
    } else {
        job.url = address;
    }
    job.headers = jobs.RequestHeaders(index);
    job.filePath = jobs.FilePath(index);
    const PictureExtras extras = jobs.Extras(index);
    // The size limits sort pictures; a clip is wanted whatever its size.
    const bool clip = !extras.clipExtension.isEmpty();
    job.minKb = clip ? 0 : g_minKb.load();
    job.maxKb = clip ? 0 : g_maxKb.load();
    job.timeoutSec = g_timeoutSec;
    job.postTime = extras.postTime;
    return job;
}

PictureFetch FetchPicture(const UrlRequest &request)
{
    UrlSource source;
    PictureFetch got;
    got.ok = source.Fetch(request, kFetchKeepInCache | kFetchAllowCached);
    got.bytes = source.bodyBytes;
    got.error = source.error;
    got.errorText = source.errorText;
    return got;
}

void SetPictureFetcher(PictureFetcher fetch)
{
    std::lock_guard lock(g_hookMutex);
    g_fetchHook = std::move(fetch);
}

void SetWorkerStarter(WorkerStarter start)
{
    std::lock_guard lock(g_hookMutex);
    g_startHook = std::move(start);
}

std::optional<std::thread> StartDownloadPool()
{
    g_stopDownload = false;
    try {
        return std::thread(DownPicFunc);
    } catch (const std::system_error &) {
        return std::nullopt;
    }
}

PictureResult DownloadWorker(const PictureJob &job, const PictureFetcher &fetch)
{
    UrlRequest request(job.url, job.filePath, kConnectTimeoutMs);
    request.readTimeoutMs = job.timeoutSec * 1000;
    request.headers = job.headers;
    request.maxSizeKb = job.maxKb;
    request.minSizeKb = job.minKb;
    request.cancel = job.cancel;
    PictureFetch got = fetch(request);
    const bool saved = got.ok && got.bytes > 0;
    if (!saved && got.error != FetchError::Stopped && !job.fallback.isEmpty()) {
        request.url = job.fallback;
        got = fetch(request);
    }
    return Judge(job, request.url, got);
}

void DownPicFunc()
{
    g_jobsDone = 0;
    const auto total = std::uint32_t(g_jobs.urls.size());
    g_jobsTotal = total;
    const std::uint32_t slotCount = std::min(std::max<std::uint32_t>(g_threadCount, 1), total);
    auto shared = std::make_shared<PoolShared>(total);
    {
        std::lock_guard lock(g_lastPoolMutex);
        g_lastPool = shared;
    }
    if (slotCount == 0)
        return;

    {
        std::lock_guard lock(g_poolFolderMutex);
        g_poolFolder = g_jobs.folder;
    }
    g_poolRunning = true;
    const auto started = std::chrono::steady_clock::now();

    PictureFetcher fetch;
    WorkerStarter start;
    {
        std::lock_guard lock(g_hookMutex);
        fetch = g_fetchHook ? g_fetchHook : PictureFetcher(FetchPicture);
        start = g_startHook ? g_startHook : WorkerStarter(StartThread);
    }

    std::vector<std::thread> workers(slotCount);
    std::uint32_t next = 0;

    // Gives the next job to `slot`. A worker that cannot be started counts
    // as ended at once, so the pool still reaches its total.
    auto handOut = [&](std::uint32_t slot) {
        const std::uint32_t index = next++;
        PictureJob job = MakePictureJob(g_jobs, index);
        job.cancel = &shared->cancel;
        shared->Started();
        try {
            workers[slot] = start(index, [shared, slot, index, job = std::move(job), fetch] {
                PictureResult result;
                try {
                    result = DownloadWorker(job, fetch);
                } catch (...) {
                    // A failed picture leaves no file and still counts as done.
                    result = {PictureOutcome::Failed, u"internal error"_s};
                }
                shared->Record(index, std::move(result));
                shared->Ended(slot);
            });
        } catch (...) {
            shared->Record(index, {PictureOutcome::Failed, u"could not start a thread"_s});
            shared->Ended(slot);
        }
    };

    for (std::uint32_t slot = 0; slot < slotCount; ++slot)
        handOut(slot);

    WindowPort *const window = g_jobs.progressWindow;
    std::uint32_t done = 0;
    std::uint32_t shown = total + 1;
    std::optional<std::chrono::steady_clock::time_point> stopSeen;
    for (;;) {
        const std::optional<std::uint32_t> ended = shared->WaitForEnd(kStopPoll);
        if (!ended) {
            // A stop takes effect when the next worker ends; pictures that
            // never end must not hold it longer than the grace.
            if (g_stopDownload) {
                const auto now = std::chrono::steady_clock::now();
                if (!stopSeen)
                    stopSeen = now;
                else if (now - *stopSeen >= std::chrono::milliseconds(g_stragglerGraceMs.load()))
                    break;
            }
            continue;
        }
        const std::uint32_t slot = *ended;
        g_jobsDone = ++done;
        if (g_stopDownload)
            break;
        if (workers[slot].joinable())
            workers[slot].join();
        if (next < total)
            handOut(slot);
        const bool last = done >= total;
        if ((done != shown || last) && window) {
            window->SetItemText(g_jobs.progressControlId, u"已下载%1/%2......"_s.arg(done).arg(total));
            shown = done;
        }
        if (last)
            break;
    }

    // Jobs a stop never handed out did not download.
    for (std::uint32_t index = next; index < total; ++index)
        shared->Record(index, {PictureOutcome::Failed, u"stopped"_s});

    {
        Abandoned left{shared, {}};
        for (std::thread &worker : workers) {
            if (worker.joinable())
                left.workers.push_back(std::move(worker));
        }
        if (!left.workers.empty()) {
            std::lock_guard lock(g_abandonedMutex);
            g_abandoned.push_back(std::move(left));
        }
    }

    if (window && g_jobs.poolDone) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::steady_clock::now() - started);
        g_jobs.poolDone(seconds.count(), total);
    }
    g_poolRunning = false;
    std::lock_guard lock(g_poolFolderMutex);
    g_poolFolder.clear();
}

PictureCounts PoolCounts()
{
    std::shared_ptr<PoolShared> pool;
    {
        std::lock_guard lock(g_lastPoolMutex);
        pool = g_lastPool;
    }
    PictureCounts counts;
    if (pool) {
        counts.saved = pool->saved;
        counts.skipped = pool->skipped;
        counts.failed = pool->failed;
    }
    return counts;
}

std::vector<PictureResult> PoolResults()
{
    std::shared_ptr<PoolShared> pool;
    {
        std::lock_guard lock(g_lastPoolMutex);
        pool = g_lastPool;
    }
    if (!pool)
        return {};
    std::lock_guard lock(pool->mutex);
    return pool->results;
}

QString PoolFolder()
{
    std::lock_guard lock(g_poolFolderMutex);
    return g_poolFolder;
}

void SetStragglerGrace(std::chrono::milliseconds grace)
{
    g_stragglerGraceMs = grace.count();
}

void JoinAbandonedWorkers()
{
    const std::chrono::milliseconds grace(g_stragglerGraceMs.load());
    std::vector<Abandoned> pools;
    {
        std::lock_guard lock(g_abandonedMutex);
        pools.swap(g_abandoned);
    }
    const auto deadline = std::chrono::steady_clock::now() + grace;
    for (Abandoned &pool : pools) {
        if (!pool.shared->WaitForAll(deadline))
            pool.shared->cancel = true;
        for (std::thread &worker : pool.workers)
            worker.join();
    }
}

} // namespace tamblin
