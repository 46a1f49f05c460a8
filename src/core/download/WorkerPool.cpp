#include "download/WorkerPool.h"

#include "app/WindowPort.h"
#include "download/DownloadJobList.h"
#include "net/HttpClient.h"
#include "net/RateLimit.h"
#include "net/SafeFile.h"

#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <cmath>
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
std::atomic<std::uint32_t> g_runJobsDone{0};
std::atomic<std::uint32_t> g_runJobsTotal{0};
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
        if (job >= results.size())
            results.resize(std::size_t(job) + 1);
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
        // The supervisor waits on the job list, for this or for more jobs.
        g_jobs.Wake();
    }

    // True when every worker has ended before `deadline`.
    bool WaitForAll(std::chrono::steady_clock::time_point deadline)
    {
        std::unique_lock lock(mutex);
        return changed.wait_until(lock, deadline, [this] { return running == 0; });
    }

    bool AnyEnded()
    {
        std::lock_guard lock(mutex);
        return !endedSlots.empty();
    }

    // The slot of a worker that ended, or none.
    std::optional<std::uint32_t> TakeEnded()
    {
        std::lock_guard lock(mutex);
        if (endedSlots.empty())
            return std::nullopt;
        const std::uint32_t slot = endedSlots.front();
        endedSlots.pop_front();
        return slot;
    }
};

// Workers a stopped pool left running, with what their pool shares and when
// the stop was seen.
struct Abandoned {
    std::shared_ptr<PoolShared> shared;
    std::vector<std::thread> workers;
    std::chrono::steady_clock::time_point stopSeen;
};
std::mutex g_abandonedMutex;
std::vector<Abandoned> g_abandoned;

using Clock = std::chrono::steady_clock;

// The pause every worker of a run keeps after a rate-limit answer of a
// picture host. A pause is counted once however many workers met the
// answer: a worker whose fetch began before the pause was declared only
// waits it out.
struct RateLimitPause {
    std::mutex mutex;
    Clock::time_point until{};
    std::int64_t waitMs = 0; // unscaled, for the countdown
    int pauses = 0;
    bool gaveUp = false;
};
RateLimitPause g_pause;

// The pause count a fetch starts under.
int PauseEpoch()
{
    std::lock_guard lock(g_pause.mutex);
    return g_pause.pauses;
}

// A rate-limit answer to a fetch begun under `epoch`: declares the next
// pause, unless one was declared since. False once the run has given up.
bool NoteRateLimit(int epoch, const QString &responseHeaders)
{
    std::lock_guard lock(g_pause.mutex);
    if (g_pause.gaveUp)
        return false;
    if (epoch != g_pause.pauses)
        return true;
    if (g_pause.pauses == kRateLimitRetries) {
        g_pause.gaveUp = true;
        return false;
    }
    g_pause.waitMs = RateLimitWaitMs(g_pause.pauses++, responseHeaders);
    g_pause.until = Clock::now() + std::chrono::duration_cast<Clock::duration>(ScaledWait(g_pause.waitMs));
    return true;
}

// The unscaled seconds of the run's pause still to wait, 0 when none.
int PauseSecondsLeft()
{
    std::lock_guard lock(g_pause.mutex);
    const auto left = g_pause.until - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    const double scale = ServiceWaitScale();
    const double leftMs = std::chrono::duration<double, std::milli>(left).count();
    return scale > 0 ? std::max(1, int(std::ceil(leftMs / scale / 1000.0))) : 0;
}

bool Stopped(const PictureJob &job)
{
    return g_stopDownload || (job.cancel && *job.cancel);
}

// Waits until `end` in short slices; false when the picture was stopped.
bool WaitUntil(const PictureJob &job, Clock::time_point end)
{
    for (;;) {
        if (Stopped(job))
            return false;
        const auto now = Clock::now();
        if (now >= end)
            return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(50), end - now));
    }
}

// Waits out the run's pause, which may be lengthened meanwhile.
bool WaitOutPause(const PictureJob &job)
{
    for (;;) {
        Clock::time_point until;
        {
            std::lock_guard lock(g_pause.mutex);
            until = g_pause.until;
        }
        if (Clock::now() >= until)
            return !Stopped(job);
        if (!WaitUntil(job, until))
            return false;
    }
}

// A failure worth another try: the picture may well come next time.
bool IsTransient(const PictureFetch &got)
{
    switch (got.error) {
    case FetchError::TimedOut:
    case FetchError::Connect:
    case FetchError::Incomplete:
        return true;
    case FetchError::HttpStatus:
        return got.status == 500 || got.status == 502 || got.status == 503 || got.status == 504;
    default:
        return false;
    }
}

std::thread StartThread(std::uint32_t, std::function<void()> body)
{
    return std::thread(std::move(body));
}

QString HostOf(const QString &url)
{
    return QUrl(url.trimmed()).host();
}

// A page (HTML, JSON) is no picture, whatever type it claims: a login page,
// an error in JSON, a page that stands in for a picture gone. Only pages are
// refused: clips and formats the program does not know pass.
bool IsPage(QByteArrayView head, const QString &contentType)
{
    const QString type = contentType.section(u';', 0, 0).trimmed().toLower();
    if (type == u"text/html"_s || type == u"application/xhtml+xml"_s || type.contains(u"json"_s))
        return true;
    if (head.startsWith("\xEF\xBB\xBF"))
        head = head.sliced(3);
    return !head.isEmpty() && (head.front() == '<' || head.front() == '{' || head.front() == '[');
}


// What the last fetch of a job did to its picture.
PictureResult Judge(const PictureJob &job, const PictureFetch &got)
{
    if (got.ok)
        return {PictureOutcome::Saved, QString()};
    if (got.error == FetchError::SizeLimit && (job.minKb != 0 || job.maxKb != 0))
        return {PictureOutcome::SkippedBySize, got.errorText};
    return {PictureOutcome::Failed, got.errorText.isEmpty() ? u"failed"_s : got.errorText};
}

// The pictures of a run (see TrackRunPictures): where each saved one is,
// and which are being fetched.
struct RunPictures {
    std::mutex mutex;
    std::condition_variable changed;
    QHash<QString, QString> saved; // PictureKey -> its file
    QSet<QString> fetching;
};
std::mutex g_runPicturesMutex;
std::shared_ptr<RunPictures> g_runPictures;

std::shared_ptr<RunPictures> CurrentRunPictures()
{
    std::lock_guard lock(g_runPicturesMutex);
    return g_runPictures;
}

// Marks a picture as being fetched until it goes out of scope, then records
// the file when it was saved and wakes the workers waiting for it; also when
// the fetch throws.
class FetchClaim {
public:
    FetchClaim(RunPictures &run, QString key) : m_run(run), m_key(std::move(key)) {}
    ~FetchClaim()
    {
        {
            std::lock_guard lock(m_run.mutex);
            m_run.fetching.remove(m_key);
            if (!m_savedAs.isEmpty())
                m_run.saved.insert(m_key, m_savedAs);
        }
        m_run.changed.notify_all();
    }
    FetchClaim(const FetchClaim &) = delete;
    FetchClaim &operator=(const FetchClaim &) = delete;

    void SavedAs(const QString &path) { m_savedAs = path; }

private:
    RunPictures &m_run;
    QString m_key;
    QString m_savedAs;
};

// DownloadWorker, unless the picture was saved earlier in the run: then a
// copy of that file. A picture another worker is fetching is waited for; if
// that fetch fails, this one fetches.
PictureResult DownloadOnceInRun(RunPictures &run, const PictureJob &job, const PictureFetcher &fetch)
{
    const QString key = PictureKey(job.url);
    for (;;) {
        QString source;
        {
            std::unique_lock lock(run.mutex);
            while (run.fetching.contains(key)) {
                if (Stopped(job))
                    return {PictureOutcome::Failed, u"stopped"_s};
                run.changed.wait_for(lock, std::chrono::milliseconds(50));
            }
            source = run.saved.value(key);
            if (source.isEmpty()) {
                run.fetching.insert(key);
                break;
            }
        }
        if (source == job.filePath || CopyFileSafely(source, job.filePath))
            return {PictureOutcome::Saved, QString(), true};
        // The file went (or is no plain file any more): fetch after all.
        std::lock_guard lock(run.mutex);
        if (run.saved.value(key) == source)
            run.saved.remove(key);
    }
    FetchClaim claim(run, key);
    PictureResult result = DownloadWorker(job, fetch);
    if (result.outcome == PictureOutcome::Saved)
        claim.SavedAs(job.filePath);
    return result;
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

QString RefuseNonPicture(const UrlSource &source, QByteArrayView head)
{
    const QString host = QUrl(source.finalUrl).host();
    if (source.bodyBytes == 0)
        return u"empty answer from "_s + host;
    if (IsPage(head, HeaderValue(source.responseHeaders, u"Content-Type")))
        return u"not a picture: a page from "_s + host;
    return {};
}

PictureFetch FetchPicture(const UrlRequest &request)
{
    UrlSource source;
    PictureFetch got;
    got.ok = source.Fetch(request, kFetchKeepInCache | kFetchAllowCached);
    got.bytes = source.bodyBytes;
    got.error = source.error;
    got.errorText = source.errorText;
    got.status = source.status;
    got.rateLimited = !got.ok && IsRateLimited(source);
    got.responseHeaders = source.responseHeaders;
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
    // The counts are the new pool's from now on, not once its thread runs.
    g_jobsDone = 0;
    g_jobsTotal = 0;
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
    request.checkFile = RefuseNonPicture;
    // One attempt per fetch: the pause after it would only delay the tries
    // and waits below.
    request.retryDelaySec = 0;
    const PictureResult stopped{PictureOutcome::Failed, u"stopped"_s};
    std::size_t retries = 0;
    for (;;) {
        if (!WaitOutPause(job))
            return stopped;
        if (PictureRateLimitGaveUp())
            return {PictureOutcome::Failed, QString::fromUtf16(kRateLimitedReason)};
        const int epoch = PauseEpoch();
        request.url = job.url;
        PictureFetch got = fetch(request);
        if (!got.ok && got.error != FetchError::Stopped && !got.rateLimited && !job.fallback.isEmpty()) {
            request.url = job.fallback;
            got = fetch(request);
        }
        if (got.rateLimited) {
            if (!NoteRateLimit(epoch, got.responseHeaders))
                return {PictureOutcome::Failed, QString::fromUtf16(kRateLimitedReason) + u", HTTP "_s
                                                    + QString::number(got.status) + u" from "_s + HostOf(request.url)};
            continue;
        }
        if (!got.ok && IsTransient(got) && retries < std::size(kPictureRetryWaitsMs) && !Stopped(job)) {
            const double jitter = 0.8 + 0.4 * QRandomGenerator::global()->generateDouble();
            const auto wait = ScaledWait(std::int64_t(double(kPictureRetryWaitsMs[retries++]) * jitter));
            if (!WaitUntil(job, Clock::now() + std::chrono::duration_cast<Clock::duration>(wait)))
                return stopped;
            continue;
        }
        return Judge(job, got);
    }
}

void ResetPictureRateLimit()
{
    std::lock_guard lock(g_pause.mutex);
    g_pause.until = {};
    g_pause.waitMs = 0;
    g_pause.pauses = 0;
    g_pause.gaveUp = false;
}

bool PictureRateLimitGaveUp()
{
    std::lock_guard lock(g_pause.mutex);
    return g_pause.gaveUp;
}

void TrackRunPictures(bool on)
{
    std::lock_guard lock(g_runPicturesMutex);
    g_runPictures = on ? std::make_shared<RunPictures>() : nullptr;
}

void NoteSavedPicture(const QString &address, const QString &path)
{
    const std::shared_ptr<RunPictures> run = CurrentRunPictures();
    if (!run)
        return;
    std::lock_guard lock(run->mutex);
    run->saved.insert(PictureKey(address), path);
}

QString PictureKey(const QString &address)
{
    const QUrl url(address.trimmed());
    const QString host = url.host().toLower();
    if (host != u"sinaimg.cn"_s && !host.endsWith(u".sinaimg.cn"_s))
        return address;
    // "/large/<pid>.jpg": the size segment, then the picture id.
    const QString path = url.path();
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString pid = path.mid(slash + 1).section(u'.', 0, 0);
    if (pid.isEmpty())
        return address;
    return u"sinaimg:"_s + path.left(slash + 1) + pid;
}

void DownPicFunc()
{
    g_jobsDone = 0;
    g_jobsTotal = 0;
    auto shared = std::make_shared<PoolShared>();
    {
        std::lock_guard lock(g_lastPoolMutex);
        g_lastPool = shared;
    }
    const std::uint32_t slotCount = std::max<std::uint32_t>(g_threadCount, 1);
    const auto started = std::chrono::steady_clock::now();

    PictureFetcher fetch;
    WorkerStarter start;
    {
        std::lock_guard lock(g_hookMutex);
        fetch = g_fetchHook ? g_fetchHook : PictureFetcher(FetchPicture);
        start = g_startHook ? g_startHook : WorkerStarter(StartThread);
    }
    const std::shared_ptr<RunPictures> run = CurrentRunPictures();

    std::vector<std::thread> workers(slotCount);
    // Slot 0 is handed out first.
    std::vector<std::uint32_t> freeSlots;
    for (std::uint32_t slot = slotCount; slot > 0; --slot)
        freeSlots.push_back(slot - 1);

    // Gives job `index` to `slot`. A worker that cannot be started counts
    // as ended at once, so the pool still reaches its total.
    auto handOut = [&](std::uint32_t slot, std::uint32_t index, PictureJob job) {
        job.cancel = &shared->cancel;
        shared->Started();
        try {
            workers[slot] = start(index, [shared, slot, index, job = std::move(job), fetch, run] {
                PictureResult result;
                try {
                    result = run ? DownloadOnceInRun(*run, job, fetch) : DownloadWorker(job, fetch);
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

    WindowPort *const window = g_jobs.progressWindow;
    std::uint32_t next = 0;  // the next job to hand out
    std::uint32_t total = 0; // the jobs the pool may take so far
    std::uint32_t runCounted = 0; // of them, added to g_runJobsTotal
    std::uint32_t done = 0;
    bool listing = true; // until seen closed
    bool reshow = true;  // the count is to be shown at the next change
    std::uint32_t shownDone = 0;
    std::uint32_t shownTotal = 0;
    std::optional<std::chrono::steady_clock::time_point> stopSeen;
    int pauseShown = 0;
    struct Start {
        std::uint32_t slot;
        std::uint32_t index;
        PictureJob job;
    };
    std::vector<Start> toStart;
    // "done of total" whenever either changed since it was shown.
    auto showCount = [&] {
        if (!window || done == 0 || (!reshow && done == shownDone && total == shownTotal))
            return;
        window->SetItemText(g_jobs.progressControlId, u"已下载%1/%2......"_s.arg(done).arg(total));
        shownDone = done;
        shownTotal = total;
        reshow = false;
    };
    for (;;) {
        {
            std::unique_lock lock(g_jobs.mutex);
            // Jobs for a free slot, an ended worker, the close of the
            // listing; a stop and the rate-limit countdown are looked at
            // every kStopPoll.
            g_jobs.fed.wait_for(lock, kStopPoll, [&] {
                return (!g_stopDownload && !freeSlots.empty() && std::uint32_t(g_jobs.Available()) > next)
                    || shared->AnyEnded() || g_jobs.listing != listing;
            });
            total = std::uint32_t(g_jobs.Available());
            listing = g_jobs.listing;
            while (!g_stopDownload && !freeSlots.empty() && next < total) {
                if (next == 0) {
                    std::lock_guard folderLock(g_poolFolderMutex);
                    g_poolFolder = g_jobs.folder;
                    g_poolRunning = true;
                }
                toStart.push_back({freeSlots.back(), next, MakePictureJob(g_jobs, next)});
                freeSlots.pop_back();
                ++next;
            }
        }
        g_jobsTotal = total;
        if (total > runCounted) {
            g_runJobsTotal += total - runCounted;
            runCounted = total;
        }
        for (Start &job : toStart)
            handOut(job.slot, job.index, std::move(job.job));
        toStart.clear();

        bool ended = false;
        while (const std::optional<std::uint32_t> slot = shared->TakeEnded()) {
            ended = true;
            g_jobsDone = ++done;
            ++g_runJobsDone;
            if (workers[*slot].joinable())
                workers[*slot].join();
            freeSlots.push_back(*slot);
            if (!g_stopDownload)
                showCount();
        }

        if (g_stopDownload && !stopSeen)
            stopSeen = std::chrono::steady_clock::now();
        // The workers wait out a rate limit together; the line counts down.
        const int pauseLeft = PauseSecondsLeft();
        if (pauseLeft != pauseShown && window) {
            window->SetItemText(g_jobs.progressControlId, pauseLeft > 0
                                    ? QString::fromUtf16(texts::kRateLimitWait).arg(pauseLeft)
                                    : QString::fromUtf16(texts::kRateLimitRetrying));
            reshow = true; // the count shows again at the next end
        }
        pauseShown = pauseLeft;
        if (stopSeen) {
            // A stop takes effect when the next worker ends; pictures that
            // never end must not hold it longer than the grace.
            const bool busy = freeSlots.size() < slotCount;
            if (ended || !busy
                || std::chrono::steady_clock::now() - *stopSeen >= std::chrono::milliseconds(g_stragglerGraceMs.load()))
                break;
            continue;
        }
        showCount();
        if (!listing && done == total)
            break;
    }

    // Jobs a stop never handed out did not download.
    for (std::uint32_t index = next; index < total; ++index)
        shared->Record(index, {PictureOutcome::Failed, u"stopped"_s});

    {
        Abandoned left{shared, {}, stopSeen.value_or(std::chrono::steady_clock::now())};
        for (std::thread &worker : workers) {
            if (worker.joinable())
                left.workers.push_back(std::move(worker));
        }
        if (!left.workers.empty()) {
            std::lock_guard lock(g_abandonedMutex);
            g_abandoned.push_back(std::move(left));
        }
    }

    if (window && g_jobs.poolDone && total > 0) {
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
    for (Abandoned &pool : pools) {
        // Twice the grace from the stop, less what a given-up picture takes
        // to notice it, so that the bound the user is told holds.
        const auto deadline = pool.stopSeen + 2 * grace - grace / 15;
        if (!pool.shared->WaitForAll(deadline))
            pool.shared->cancel = true;
        for (std::thread &worker : pool.workers)
            worker.join();
    }
}

} // namespace tamblin
