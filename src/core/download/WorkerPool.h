// The worker pool that downloads the picture jobs of one album.
//
// The driver starts the pool with StartDownloadPool and joins the thread it
// returns. The supervisor DownPicFunc runs one worker thread per job, at most
// g_threadCount at once, handing the jobs out in index order, and keeps the
// progress text of g_jobs.progressWindow up to date. While the album's
// listing is open (DownloadJobList::OpenListing) the pool takes the jobs as
// they are published and ends once the listing is closed and every job has
// ended; otherwise it takes the jobs the list holds.
//
// A stop request (g_stopDownload) ends the supervisor after the next worker
// ends; the workers still fetching are left to finish in the background. Each
// worker owns a copy of its job, so it never reads g_jobs after it started
// and the driver may empty the list at once. Their threads are kept, not
// detached: JoinAbandonedWorkers waits for them, so that nothing outlives the
// run that started it, and gives up pictures that take too long.
#pragma once

#include "net/HttpClient.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

namespace tamblin {

struct DownloadJobList;

// Set by the download button to stop; cleared by StartDownloadPool.
extern std::atomic<bool> g_stopDownload;
// Workers of the current pool that have ended, as its supervisor counted
// them. Workers abandoned by an earlier pool never count here.
extern std::atomic<std::uint32_t> g_jobsDone;
// Jobs of the current pool so far (the total grows while the album is
// listed); with g_jobsDone what a progress display reads from another
// thread. Both are cleared by StartDownloadPool.
extern std::atomic<std::uint32_t> g_jobsTotal;
// The same over every pool of a download run: the jobs ended and the jobs
// handed to a pool so far (it grows while the albums are listed), summed over
// the run's albums. The driver clears them as a run starts; a window reads
// them from its own thread (the ended before the handed, so that the first
// never passes the second).
extern std::atomic<std::uint32_t> g_runJobsDone;
extern std::atomic<std::uint32_t> g_runJobsTotal;
// True while a supervisor has workers.
extern std::atomic<bool> g_poolRunning;
// Download parameters of the run: smallest and largest picture in KiB (0 =
// no limit), number of workers (1 to 15; 0 is taken as 1), read time-out in
// seconds.
extern std::atomic<std::uint32_t> g_minKb;
extern std::atomic<std::uint32_t> g_maxKb;
extern std::atomic<std::uint32_t> g_threadCount;
extern std::atomic<std::uint32_t> g_timeoutSec;

// How a picture job ended.
enum class PictureOutcome : std::uint8_t {
    NotRun,        // the pool ended before the job ended (it counts as failed)
    Saved,
    SkippedBySize, // outside the run's size limits: a rule, not a failure
    Failed,
};

struct PictureResult {
    PictureOutcome outcome = PictureOutcome::NotRun;
    QString reason; // why it failed or was skipped, naming the host
    // Saved as a copy of the same picture saved earlier in the run.
    bool copied = false;
};

// Pictures of a pool by outcome.
struct PictureCounts {
    std::uint32_t saved = 0;
    std::uint32_t skipped = 0;
    std::uint32_t failed = 0;
};

// What one fetch of a picture did.
struct PictureFetch {
    bool ok = false;
    std::int64_t bytes = 0; // body bytes received
    FetchError error = FetchError::None;
    QString errorText;
    int status = 0;           // of the answer, 0 when none came
    bool rateLimited = false; // the answer was a rate-limit answer (IsRateLimited)
    QString responseHeaders;  // of that answer (its Retry-After)
};

// A picture that fails on its way (a time-out, a connection error, a
// cut-short answer, a 500, 502, 503 or 504) is tried again after these
// waits (before scaling, ServiceWaitScale), with a jitter of a fifth either
// way, in the same worker.
inline constexpr std::int64_t kPictureRetryWaitsMs[] = {2000, 4000};

// A rate-limit answer from a picture host pauses every worker of the run:
// the wait of RateLimitWaitMs, at most kRateLimitRetries pauses in a run;
// after that the pictures left fail with this reason.
inline constexpr char16_t kRateLimitedReason[] = u"rate limited";
// Starts a run's count of pauses afresh; the download driver calls it.
void ResetPictureRateLimit();
// The run has had its pauses and pictures now fail without a fetch.
bool PictureRateLimitGaveUp();

// One picture job as its worker holds it.
struct PictureJob {
    QString url;
    QString fallback; // the text after the first CR LF of the job's address
    QString headers;
    QString filePath;
    std::uint32_t minKb = 0; // both 0 for a clip
    std::uint32_t maxKb = 0;
    std::uint32_t timeoutSec = 0;
    // When the service says the picture was posted (seconds since 1970), or 0.
    std::int64_t postTime = 0;
    // Set when the picture is to be given up (see JoinAbandonedWorkers).
    const std::atomic<bool> *cancel = nullptr;
};

// Job `index` of `jobs` with the pool's current parameters.
PictureJob MakePictureJob(const DownloadJobList &jobs, qsizetype index);

// The last check of a picture (or a cover) before it replaces a file of its
// name (UrlRequest::checkFile): an empty answer or a page never does; why
// not, naming the host, or empty.
QString RefuseNonPicture(const UrlSource &source, QByteArrayView head);

// One fetch of a picture into request.filePath.
using PictureFetcher = std::function<PictureFetch(const UrlRequest &request)>;
// Starts the thread of job `jobIndex` running `body`; throws
// std::system_error when it cannot.
using WorkerStarter = std::function<std::thread(std::uint32_t jobIndex, std::function<void()> body)>;

// The HTTP client's fetch with options kFetchKeepInCache | kFetchAllowCached.
PictureFetch FetchPicture(const UrlRequest &request);
// Replace the fetch or the thread start of later pools; an empty function
// restores FetchPicture or std::thread.
void SetPictureFetcher(PictureFetcher fetch);
void SetWorkerStarter(WorkerStarter start);

// Clears g_stopDownload and starts the supervisor; no thread when it cannot
// be started. The caller joins the thread.
std::optional<std::thread> StartDownloadPool();

// The supervisor over g_jobs. Runs on the thread StartDownloadPool made.
void DownPicFunc();

// Fetches one picture: the address, then the fallback when the first fetch
// did not save it (unless it was stopped or rate limited); a failure on the
// way is tried again (kPictureRetryWaitsMs), a rate-limit answer waits out
// the run's pause. An answer without a byte ("empty answer") or a page
// (HTML or JSON by its first bytes or its type: "not a picture") is no
// picture: it fails, and a file saved before under the name keeps its
// bytes. A stop ends any wait at once. Exceptions are the caller's to catch.
PictureResult DownloadWorker(const PictureJob &job, const PictureFetcher &fetch);

// The counts of the running pool, or of the last one once it has ended;
// safe to call from any thread while it runs. A stopped pool's stragglers
// add to its counts as they end.
PictureCounts PoolCounts();

// The outcome of each job of the last pool, by job index. Call after the
// pool's thread has ended and JoinAbandonedWorkers has returned: jobs a stop
// never started, and stragglers given up, are failed ("stopped").
std::vector<PictureResult> PoolResults();

// The album folder of the running pool, or empty when none runs; safe to
// call from any thread (the window's open-folder button).
QString PoolFolder();

// How long pictures in flight at a stop may take: the supervisor waits that
// long at most for the next worker to end, and JoinAbandonedWorkers as long
// again for the rest, so that a server that never finishes a picture cannot
// hold a stopped run for ever.
inline constexpr std::chrono::milliseconds kStragglerGrace{30000};
void SetStragglerGrace(std::chrono::milliseconds grace);

// One download per picture in a run: while a run keeps track (the download
// driver's runs do), a picture saved earlier in the run (the same
// PictureKey) is copied from its file instead of fetched, and one still
// being fetched is waited for. Pools outside a run fetch every job.
// TrackRunPictures(true) starts a run's record afresh, false ends it.
void TrackRunPictures(bool on);
// The file of a picture saved in the run is now `path` (after the album's
// fix-ups): later copies are made from there.
void NoteSavedPicture(const QString &address, const QString &path);
// Which picture an address names: on the Sina picture hosts (*.sinaimg.cn)
// its size segment and picture id, whatever the host number, scheme,
// extension or query; any other address as it stands.
QString PictureKey(const QString &address);

// Waits for every worker that a stopped pool left running; pictures still in
// flight are given up (no partial file is left) so that the whole stop,
// counted from when the supervisor saw it, stays within twice the grace.
void JoinAbandonedWorkers();

} // namespace tamblin
