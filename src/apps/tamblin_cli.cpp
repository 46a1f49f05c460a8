// tamblin-cli: the engine of the window, driven from a terminal.
//
//   tamblin-cli list URL... [--input-file FILE] [--json] [--cookies FILE]
//   tamblin-cli download URL... [--input-file FILE] [--json] [--albums LIST]
//                            [--save DIR] [--threads N] [--timeout S]
//                            [--min-kb N] [--max-kb N] [--retry-failed]
#include "ConsoleWindow.h"

#include "app/StartFolder.h"
#include "app/TamblinCore.h"
#include "download/WorkerPool.h"
#include "download/DownloadDriver.h"
#include "download/DownloadJobList.h"
#include "download/NamingRules.h"
#include "net/CookieStore.h"
#include "net/TempFiles.h"
#include "sources/ListDriver.h"
#include "sources/SiteTable.h"
#include "sources/SourceSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace tamblin;

namespace {

constexpr int kExitFound = 0;
constexpr int kExitNone = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFailures = 3;
constexpr int kExitInterrupted = 4;

const char kUsage[] =
    "Usage: tamblin-cli list URL... [--input-file FILE] [--json] [--cookies FILE]\n"
    "       tamblin-cli download URL... [--input-file FILE] [--json] [--albums LIST]\n"
    "                   [--save DIR] [--threads N] [--timeout S] [--min-kb N]\n"
    "                   [--max-kb N] [--cookies FILE] [--retry-failed]\n"
    "                   [--all-article-pictures] [--since YYYY-MM-DD]\n"
    "                   [--until YYYY-MM-DD] [--save-posts] [--with-reposts]\n"
    "       tamblin-cli --help | --version\n"
    "\n"
    "URL is an http:// or https:// address of a user's page. Several users may\n"
    "be given: each is listed (and downloaded) in turn, in the order given,\n"
    "with the same options; one that fails does not stop the others.\n"
    "\n"
    "--input-file FILE  Also take the addresses of FILE, one a line, at this\n"
    "                place among the arguments; blank lines and lines starting\n"
    "                with # are skipped; - reads standard input.\n"
    "\n"
    "list    Lists the albums of the user whose page URL names, as the window's\n"
    "        get-albums button does: a Sina photo page lists its albums, a Sina\n"
    "        blog article-list page (\"/s/articlelist_...\") its articles, a Weibo\n"
    "        page its Weibo albums (this needs the cookies of a Weibo login).\n"
    "\n"
    "        The start folder is the current directory, unless it is the home\n"
    "        folder, the root or cannot be written; then it is the per-user\n"
    "        data folder (~/.local/share/tamblin). \"soft.dat\" (settings and\n"
    "        address history) and \"下载器扩展设置.ini\" are read and written\n"
    "        there; a successful URL enters the address history.\n"
    "\n"
    "        Output: one line per album, in list order, with the four columns of\n"
    "        the album grid separated by a tab: the number (0001, 0002, ...), the\n"
    "        name, the picture count (\"未知\" when unknown) and the remark.\n"
    "        With several users, each user's rows follow a line \"# URL\".\n"
    "\n"
    "--json          Print one JSON object instead:\n"
    "                {\"subMode\": n, \"userFolder\": \"...\", \"subFolder\": \"...\",\n"
    "                 \"ownerUid\": \"...\", \"albums\": [{\"index\": n, \"name\": \"...\",\n"
    "                 \"albumUrl\": \"...\", \"coverUrl\": \"...\", \"count\": n,\n"
    "                 \"flags\": n}, ...]}\n"
    "                subMode is 0 for Sina photo albums, 1 for Sina blog\n"
    "                articles, 2 for Weibo albums. With several users, one\n"
    "                such object a line, beginning with \"url\": \"URL\".\n"
    "--cookies FILE  Import a Netscape cookies.txt (as browsers export it) into\n"
    "                the cookie store before the run, for example a Weibo login.\n"
    "                The store is kept in the per-user data folder (or in the\n"
    "                file TAMBLIN_COOKIE_FILE names), so the login is kept;\n"
    "                runs that share it (the window too) merge their saves.\n"
    "                Lines that are no well-formed cookie are skipped; a file\n"
    "                without a cookie is an error. Only its first 16 MiB are\n"
    "                read.\n"
    "--help          Show this text.\n"
    "--version       Show the program's version.\n"
    "\n"
    "download  Lists the albums of URL as list does (the rows go to standard\n"
    "        error), then downloads the chosen ones as the window's download\n"
    "        button does: one folder per album below the save folder, the\n"
    "        user's folder and, for Weibo, its sub folder; the file and folder\n"
    "        names, the list-only mode, the title file, the skip rule and the\n"
    "        fix-ups follow the naming rules and option bits of the Sina site in\n"
    "        \"soft.dat\" of the start folder.\n"
    "\n"
    "        Pictures that do not download are listed in \"failed.txt\" in their\n"
    "        album's folder: one line each, the address, a tab, the file name and\n"
    "        a tab and the reason, and for a Weibo clip or what a post that\n"
    "        could not be read withholds a tab and the post's id (older\n"
    "        versions skip such lines). A line is replaced by the next outcome\n"
    "        of the same file name; a later run of the album without failures\n"
    "        removes the file.\n"
    "        With the list-only mode, addresses signed to expire (Expires= in\n"
    "        the query: the clips a Weibo post names, good for about an hour)\n"
    "        come last in the .lst and .aria2.txt lists, in the .aria2.txt after\n"
    "        a comment line saying when the first of them expires (local time):\n"
    "        fetch the list before then, or make it again.\n"
    "\n"
    "        Weibo: a clip, video or post's pictures whose post cannot be read\n"
    "        (followers only, deleted) is \"unavailable\": counted apart, listed\n"
    "        in failed.txt with its post, and no failure of the run (status 0).\n"
    "        A Live Photo's clip is fetched, listed and recorded by its stable\n"
    "        address (https://video.weibo.com/media/play?livephoto=...), named\n"
    "        after the clip it leads to (.mov), or after its first bytes.\n"
    "\n"
    "        Every name fits 255 bytes (UTF-8): a long title is cut before its\n"
    "        extension and its number, title(1).jpg. A name Windows could not\n"
    "        create gets a \"_\" (CON_.jpg, a trailing dot: \"a._\"). Albums\n"
    "        whose names differ only in letter case, or would take\n"
    "        \"failed.txt\", \"pic.orv\", \"posts.jsonl\" or \"转发\", are numbered\n"
    "        \" (1)\" as duplicates are; where the folder an earlier version\n"
    "        named an album exists and today's does not, it is kept (and said).\n"
    "        Every file is written anew and renamed over its name: a link at\n"
    "        the name is replaced, never followed, and below the save folder a\n"
    "        folder that is a link is not written into (its album fails)."
    "\n"
    "--albums LIST   Row numbers as list prints them, e.g. 1,3-5 (default: all).\n"
    "--save DIR      The save folder (default: the most recent save path of\n"
    "                \"soft.dat\", else the start folder, or ~/Documents/Morvane\n"
    "                when the start folder is the data folder); once it could\n"
    "                be made, it enters the save-path history.\n"
    "--threads N     Pictures fetched at once, 1 to 15.\n"
    "--timeout S     Read time-out of a picture in seconds, 10 to 65535.\n"
    "--min-kb N      Keep only pictures of at least N KiB (0: no limit).\n"
    "--max-kb N      Keep only pictures of at most N KiB (0: no limit); not\n"
    "                below the smallest size.\n"
    "                The four numbers stand for the site's download settings\n"
    "                for this run only; \"soft.dat\" keeps its own.\n"
    "--retry-failed  Download only the pictures listed in the \"failed.txt\" of\n"
    "                each chosen album, under their recorded names, without\n"
    "                reading the album's pages again. A Weibo clip is fetched\n"
    "                by its recorded address while that holds; one whose\n"
    "                Expires= has passed, or that got HTTP 403, is fetched by a\n"
    "                fresh address from its post, read again; either way with\n"
    "                its post's time and outside the size limits. Any other\n"
    "                line naming a Weibo post reads that post again and\n"
    "                fetches what it now gives.\n"
    "--all-article-pictures\n"
    "                Sina blog: every picture of an article, not only its\n"
    "                first (as [新浪博客] 下载文章全部图片=1 in\n"
    "                \"下载器扩展设置.ini\" does).\n"
    "--since YYYY-MM-DD, --until YYYY-MM-DD\n"
    "                Only pictures posted on these days and between them\n"
    "                (days of China Standard Time, UTC+8), either alone; for\n"
    "                this run, in place of 起始日期= and 结束日期= in the\n"
    "                section [下载] of \"下载器扩展设置.ini\", which apply to\n"
    "                every run without these options. Pictures outside are\n"
    "                neither fetched nor failed: the summary counts them\n"
    "                (out_of_range). A Weibo wall is read up to the first page\n"
    "                of older posts; a Sina blog article outside is not\n"
    "                opened; an album whose pages give no dates (Sina photo)\n"
    "                is downloaded whole and named in the summary. The file\n"
    "                numbers (?2, numbered names) count the pictures left out,\n"
    "                and a ranged run neither reads nor writes pic.orv.\n"
    "--save-posts    Weibo: keep the user's posts in \"posts.jsonl\" in its\n"
    "                folder, one JSON object a line (mid, time, text, the\n"
    "                files of its pictures and clips relative to that folder,\n"
    "                and for a repost the reposted post's mid, author, time,\n"
    "                text and files), merged by mid with the lines there (as\n"
    "                [微博] 保存微博=1 does); within the date range.\n"
    "--with-reposts  Weibo: also download the pictures of the posts the user\n"
    "                reposted, into the folder \"转发\" beside the albums (as\n"
    "                [微博] 下载转发图片=1 does).\n"
    "\n"
    "        A picture that fails on the way (a time-out, a lost connection, a\n"
    "        500, 502, 503 or 504) is tried twice more, after about 2 and 4 s;\n"
    "        one that trickles in under 1 KiB/s for the time-out has timed out.\n"
    "        An answer that is no picture fails at once: \"empty answer\" (not a\n"
    "        byte) or \"not a picture\" (a page: HTML or JSON by its first\n"
    "        bytes or its type). A picture an earlier run saved is replaced\n"
    "        only by a whole picture that passes every check: a bad answer on\n"
    "        a re-run leaves it as it was. A page larger than 64 MiB is\n"
    "        refused, naming its host.\n"
    "        A picture host answering \"too many requests\" pauses the whole\n"
    "        run (5 s doubling up to 5 minutes, or its Retry-After, never more\n"
    "        than 5 minutes), at most 6 times; the pictures left then fail as\n"
    "        \"rate limited\".\n"
    "--albums, --save and the four numbers apply to every user of the run.\n"
    "--json          Write one JSON object a line on standard output for each\n"
    "                event (the status texts stay on standard error):\n"
    "  {\"event\": \"album\", \"user\": URL, \"album\": name, \"index\": n,\n"
    "   \"pictures\": n}      an album is listed (index as list --json gives it)\n"
    "  {\"event\": \"saved\", \"path\": file, \"url\": address, \"bytes\": n}\n"
    "  {\"event\": \"skipped\", \"path\": file, \"url\": address, \"reason\": r}\n"
    "                      r: \"size\" (the size limits) or \"skip-rule\" (a\n"
    "                      picture an earlier run saved: the album's listing\n"
    "                      ends there; path is the album's folder)\n"
    "  {\"event\": \"failed\", \"url\": address, \"name\": file name, \"reason\": text}\n"
    "  {\"event\": \"unavailable\", \"url\": address, \"name\": file name,\n"
    "   \"reason\": text, \"post\": id}   its Weibo post cannot be read\n"
    "  {\"event\": \"summary\", \"user\": URL, \"status\": n, \"albums\": n,\n"
    "   \"saved\": n, \"skipped\": n, \"failed\": n, \"unavailable\": n,\n"
    "   \"out_of_range\": n}   one per user\n"
    "  {\"event\": \"total\", \"users\": n, \"status\": n, \"albums\": n,\n"
    "   \"saved\": n, \"skipped\": n, \"failed\": n, \"unavailable\": n,\n"
    "   \"out_of_range\": n}   last\n"
    "                A path is the file's name on disk once the album's\n"
    "                fix-ups are done; the picture events of an album follow\n"
    "                its download. status is the user's exit status (below).\n"
    "\n"
    "        An album's pictures download while its later pages are read; a\n"
    "        picture met again in the run (a Weibo album's pictures in 全部图片)\n"
    "        is fetched once and copied from the file already saved.\n"
    "        On a terminal a progress bar shows the pictures of the album done\n"
    "        and found so far. Ctrl+C stops the download: running pictures\n"
    "        finish, nothing further starts, and a picture that does not end is\n"
    "        given up so that the stop takes at most 60 s; a second Ctrl+C ends\n"
    "        the program at once, leaving no half-written file behind.\n"
    "\n"
    "        A picture whose post time the service gives (a Weibo post's time)\n"
    "        gets it as its modification time, also over the order fix-up's\n"
    "        times; \"文件时间用发布时间=0\" in the section [下载] of\n"
    "        \"下载器扩展设置.ini\" keeps the time of download. A Weibo picture's\n"
    "        post time comes from its post id when its post is not read;\n"
    "        a Sina blog picture takes its article's date. The file-name\n"
    "        escape ?0 is the post's day as YYYYMMDD (empty where none is\n"
    "        known): prefix ?0_ gives 20230416_<name>.jpg.\n"
    "\n"
    "When Weibo pushes back:\n"
    "        A Weibo list that finds nothing says why (an error answer, a\n"
    "        page that could not be fetched) and, where a login may help,\n"
    "        how to bring one with --cookies FILE. A Weibo page answering\n"
    "        432 or 418 first gets the session renewed as a browser renews\n"
    "        it (a fresh XSRF-TOKEN, and a guest's visitor cookies), then the\n"
    "        waits above; a 414 (an address too long) ends the album's pages,\n"
    "        naming the request. Visitor cookies that run out are fetched\n"
    "        again, at most once a minute and five times a command. When\n"
    "        Weibo wants a person to verify, the address is printed (control\n"
    "        characters escaped): complete it in the window (tamblin opens\n"
    "        it), or in a browser and pass that browser's cookies with\n"
    "        --cookies FILE. Listing, that ends the list (status 1);\n"
    "        downloading, the album counts as not fully read (status 3).\n"
    "\n"
    "Status lines and messages go to standard error. The proxy of the\n"
    "environment (http_proxy, https_proxy, no_proxy) is used; certificates\n"
    "are checked against the system's, or the bundle CURL_CA_BUNDLE names.\n"
    "TAMBLIN_COOKIE_FILE names the cookie store's file instead of\n"
    "~/.local/share/tamblin/cookies.txt (set but empty: cookies are kept in\n"
    "memory only); the file is kept readable by its owner alone (0600), its\n"
    "folder keeps its mode unless the program makes it.\n"
    "\n"
    "Exit status:\n"
    "  0  list: at least one album was found. download: every chosen album\n"
    "     was walked and every picture saved, skipped by a rule (size\n"
    "     limits, the skip rule) or unavailable.\n"
    "  1  list: no album was found. download: the run could not start (no\n"
    "     albums, no album of LIST, a save folder that cannot be made).\n"
    "  2  usage error.\n"
    "  3  download: the run ended, but some pictures failed (\"empty answer\",\n"
    "     \"not a picture\", a time-out, ...; the summary says how many and\n"
    "     names the failed.txt files, or lists the pictures when a failed.txt\n"
    "     could not be written), an album's pages could not all be read (a\n"
    "     page larger than 64 MiB among them), an album gave no picture, a\n"
    "     retry found nothing recorded to retry after a run whose failures\n"
    "     could not be recorded, a list file (.lst, .aria2.txt, a title file)\n"
    "     could not be written, or an album folder is a link (its pictures\n"
    "     count as failed).\n"
    "  4  stopped by Ctrl+C (once or twice).\n"
    "With several users, the worst of theirs: 4 above 3 above 1 above 0 (a\n"
    "run of a user that could not start does not hide another's failures).\n";

// Set by the first Ctrl+C; everything else happens outside the handler.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int)
{
    // The second one ends the program at once, with the status of a stop,
    // and leaves no half-written picture or list behind.
    if (g_interrupted) {
        RemoveTempFilesForQuit();
        _exit(kExitInterrupted);
    }
    g_interrupted = true;
}

// Carries a Ctrl+C to the run of one core, as a second press of its button
// does, and tells the user what happens meanwhile.
class InterruptRelay {
public:
    enum class Phase { List, Download };

    InterruptRelay(TamblinCore &core, WindowPort &window) : m_core(core), m_window(window)
    {
        std::signal(SIGINT, OnInterrupt);
        m_thread = std::thread([this] { Run(); });
    }

    ~InterruptRelay()
    {
        {
            std::lock_guard lock(m_mutex);
            m_end = true;
        }
        m_wake.notify_one();
        m_thread.join();
        std::signal(SIGINT, SIG_DFL);
    }

    void SetPhase(Phase phase)
    {
        std::lock_guard lock(m_mutex);
        m_phase = phase;
        m_handled = false; // a Ctrl+C seen during the list stops the download too
    }

private:
    void Run()
    {
        using namespace std::chrono;
        std::unique_lock lock(m_mutex);
        steady_clock::time_point stoppedAt;
        bool warned = false;
        while (!m_wake.wait_for(lock, milliseconds(50), [this] { return m_end; })) {
            if (!g_interrupted)
                continue;
            if (!m_handled) {
                m_handled = true;
                stoppedAt = steady_clock::now();
                if (m_phase == Phase::List) {
                    m_core.m_listState = 2;
                    m_window.ShowMessage(u"Stopping after the album being listed (Ctrl+C again quits at once)."_s);
                } else {
                    RequestDownloadStop(m_core);
                    m_window.ShowMessage(u"Stopping: the pictures in progress finish, nothing further starts "
                                         "(Ctrl+C again quits at once)."_s);
                }
            } else if (m_phase == Phase::Download && !warned && g_poolRunning
                       && steady_clock::now() - stoppedAt > kSlowStop) {
                warned = true;
                const auto grace = duration_cast<seconds>(2 * kStragglerGrace).count();
                m_window.ShowMessage(u"A picture in progress has not ended; it is given up at most %1 s after "
                                     "the stop."_s.arg(grace));
            }
        }
    }

    static constexpr std::chrono::seconds kSlowStop{3};

    TamblinCore &m_core;
    WindowPort &m_window;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    Phase m_phase = Phase::List;
    bool m_handled = false;
    bool m_end = false;
    std::thread m_thread;
};

int UsageError(const QString &problem)
{
    std::fprintf(stderr, "tamblin-cli: %s\n%s", problem.toUtf8().constData(), kUsage);
    return kExitUsage;
}

struct ListOptions {
    QStringList urls;
    bool json = false;
    QString cookiesFile;
};

// The exit status of a run over several users: the worst of theirs, a stop
// above failures above a run that could not start above success.
int WorseStatus(int a, int b)
{
    auto rank = [](int status) {
        switch (status) {
        case kExitInterrupted:
            return 4;
        case kExitUsage:
            return 3;
        case kExitFailures:
            return 2;
        case kExitNone:
            return 1;
        default:
            return 0;
        }
    };
    return rank(b) > rank(a) ? b : a;
}

// A JSON string literal (quotes and escapes as QJsonDocument writes them).
QByteArray JsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.sliced(1, array.size() - 2); // without the brackets
}

// The list result with its keys in the documented order, one album a line;
// given the user's address, all on one line, headed by it (a run over
// several users).
QByteArray ListResultJson(const TamblinCore &core, const QString &url = QString())
{
    const bool oneLine = !url.isNull();
    const QByteArray lineEnd = oneLine ? " " : "\n";
    const QByteArray indent = oneLine ? "" : "  ";
    QByteArray out = oneLine ? "{" : "{\n";
    if (oneLine)
        out += "\"url\": " + JsonString(url) + ", ";
    out += indent + "\"subMode\": " + QByteArray::number(core.m_subMode) + "," + lineEnd;
    out += indent + "\"userFolder\": " + JsonString(core.m_userFolder) + "," + lineEnd;
    out += indent + "\"subFolder\": " + JsonString(core.m_subFolder) + "," + lineEnd;
    out += indent + "\"ownerUid\": " + JsonString(core.m_ownerUid) + "," + lineEnd;
    out += indent + "\"albums\": [";
    QByteArray separator = oneLine ? "" : "\n";
    for (const auto &album : core.m_albums.items) {
        out += separator;
        out += indent + indent + "{\"index\": " + QByteArray::number(album->index) + ", \"name\": "
            + JsonString(album->name) + ", \"albumUrl\": " + JsonString(album->albumUrl)
            + ", \"coverUrl\": " + JsonString(album->coverUrl) + ", \"count\": " + QByteArray::number(album->count)
            + ", \"flags\": " + QByteArray::number(album->flags) + "}";
        separator = oneLine ? ", " : ",\n";
    }
    if (oneLine)
        return out + "]}\n";
    out += core.m_albums.items.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

// The start folder follows the window's rule (StartFolder); a cookies
// file is imported before the run. False when that file cannot be read or
// holds no cookie.
bool StartCore(TamblinCore &core, const QString &cookiesFile)
{
    core.m_appDir = StartFolder().appDir;
    core.LoadSettings();
    // Tests shorten every wait of the service manners (retries, rate limits).
    if (qEnvironmentVariableIsSet("TAMBLIN_WAIT_SCALE"))
        SetServiceWaitScale(qEnvironmentVariable("TAMBLIN_WAIT_SCALE").toDouble());
    if (cookiesFile.isEmpty())
        return true;
    const QByteArray file = QDir::toNativeSeparators(cookiesFile).toUtf8();
    const int taken = CookieStore::Instance().ImportFile(cookiesFile);
    if (taken < 0) {
        std::fprintf(stderr, "tamblin-cli: cannot read the cookies file %s\n", file.constData());
        return false;
    }
    if (taken == 0) {
        std::fprintf(stderr, "tamblin-cli: no cookie found in %s\n", file.constData());
        return false;
    }
    return true;
}

// Presses the get-albums button and waits for the list run.
ListPress RunListWorker(TamblinCore &core)
{
    std::thread worker;
    const ListPress press = PressGetAlbums(core, worker);
    if (worker.joinable())
        worker.join();
    return press;
}

void WriteOut(const QByteArray &text)
{
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
    std::fflush(stdout);
}

int RunList(const ListOptions &options)
{
    ConsoleWindow window;
    TamblinCore core(&window);
    window.SetCore(&core);
    window.SetPrintRows(!options.json);

    if (!StartCore(core, options.cookiesFile))
        return kExitUsage;

    window.SetSavePath(core.m_appDir);
    core.m_ready = 1;

    // With several users each block of rows is headed by its address, and
    // each JSON object takes one line.
    const bool several = options.urls.size() > 1;
    int worst = kExitFound;
    InterruptRelay relay(core, window);
    for (const QString &url : options.urls) {
        if (several && !options.json)
            WriteOut("# " + url.toUtf8() + '\n');
        window.SetAddress(url);
        const ListPress press = RunListWorker(core);
        if (g_interrupted)
            return kExitInterrupted;
        if (press != ListPress::Started) {
            worst = WorseStatus(worst, kExitNone);
            continue;
        }
        if (options.json)
            WriteOut(several ? ListResultJson(core, url) : ListResultJson(core));
        worst = WorseStatus(worst, core.m_albums.Size() > 0 ? kExitFound : kExitNone);
    }
    return worst;
}

struct DownloadArgs {
    QStringList urls;
    bool json = false; // events on standard output
    QString cookiesFile;
    QString albums; // row numbers, "1,3-5"
    QString saveDir;
    std::optional<std::uint16_t> threads;
    std::optional<std::uint16_t> timeoutSec;
    std::optional<std::uint16_t> minKb;
    std::optional<std::uint16_t> maxKb;
    bool retryFailed = false;
    bool allArticlePictures = false;
    std::optional<DateRange> range; // --since, --until
    bool savePosts = false;
    bool withReposts = false;
};

// Row numbers "1,3-5" (from 1) as sorted, distinct, zero-based indices; false
// when the text is not such a list. Any row `list` can print is taken; rows
// past `rowCount` stand for themselves only by the first of them (the caller
// says there is no such album), so that "1-2000000000" costs no memory.
bool ParseRows(const QString &text, QList<int> &rows, int rowCount = 0)
{
    rows.clear();
    QSet<int> seen;
    for (const QString &part : text.split(u',')) {
        const QString item = part.trimmed();
        const qsizetype dash = item.indexOf(u'-');
        bool ok1 = false;
        bool ok2 = false;
        const int from = (dash < 0 ? item : item.left(dash)).trimmed().toInt(&ok1);
        const int to = dash < 0 ? from : item.mid(dash + 1).trimmed().toInt(&ok2);
        if (!ok1 || (dash >= 0 && !ok2) || from < 1 || to < from)
            return false;
        for (int row = from; row <= std::min(to, rowCount); ++row)
            seen.insert(row - 1);
        if (to > rowCount)
            seen.insert(std::max(from, rowCount + 1) - 1);
    }
    rows = QList<int>(seen.begin(), seen.end());
    std::sort(rows.begin(), rows.end());
    return !rows.isEmpty();
}

// A download option's number within [low, high].
std::optional<std::uint16_t> ParseNumber(const QString &text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return std::uint16_t(value);
}

// Redraws the progress bar from the pool's counters until told to end.
class ProgressTicker {
public:
    explicit ProgressTicker(ConsoleWindow &window) : m_window(window)
    {
        m_thread = std::thread([this] { Run(); });
    }
    ~ProgressTicker()
    {
        {
            std::lock_guard lock(m_mutex);
            m_end = true;
        }
        m_wake.notify_one();
        m_thread.join();
        m_window.FinishProgress();
    }

private:
    void Run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_wake.wait_for(lock, std::chrono::milliseconds(100), [this] { return m_end; })) {
            if (g_poolRunning)
                m_window.DrawProgress(g_jobsDone, g_jobsTotal);
        }
    }

    ConsoleWindow &m_window;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_end = false;
    std::thread m_thread;
};

// Lines of `items` on standard error under `heading`, when there are any.
void PrintList(const char *heading, const QStringList &items, bool paths = false)
{
    if (items.isEmpty())
        return;
    std::fputs(heading, stderr);
    for (const QString &item : items)
        std::fprintf(stderr, "  %s\n", (paths ? QDir::toNativeSeparators(item) : item).toUtf8().constData());
}

// The run's outcome on standard error, and the exit status it calls for.
int ReportDownload(const DownloadSummary &summary)
{
    const PictureCounts &n = summary.pictures;
    std::fprintf(stderr, "%u saved, %u skipped by the size limits, %u failed", n.saved, n.skipped, n.failed);
    if (summary.unavailable > 0)
        std::fprintf(stderr, ", %u unavailable", summary.unavailable);
    if (summary.outOfRange > 0)
        std::fprintf(stderr, ", %u outside the date range", summary.outOfRange);
    std::fputc('\n', stderr);
    PrintList("The pages of these albums give no dates; they were downloaded whole:\n", summary.rangeNotApplied);
    if (summary.unavailable > 0)
        std::fprintf(stderr, "%u clips, videos or posts' pictures are unavailable: their post cannot be read "
                             "(followers only, deleted); --retry-failed reads it again, with a login that may "
                             "read it.\n",
                     summary.unavailable);
    if ((n.failed > 0 || summary.unavailable > 0) && !summary.failedLists.isEmpty()) {
        if (n.failed > 0)
            std::fprintf(stderr, "%u pictures failed; they are listed in:\n", n.failed);
        else
            std::fputs("They are listed in:\n", stderr);
        PrintList("", summary.failedLists, true);
    }
    // Never a pointer to a file that is not there: what could not be listed
    // is said here.
    PrintList("These failed.txt files could not be written (is the disk full?):\n", summary.failedListsNotWritten,
              true);
    PrintList("Pictures that failed and are listed nowhere else (address, file, reason):\n",
              summary.unrecordedFailures);
    PrintList("These album folders could not be made; their pictures were not fetched:\n", summary.foldersNotMade,
              true);
    PrintList("These folders below the save folder are links, which are not written into; their albums' pictures "
              "were not fetched:\n",
              summary.folderLinks, true);
    PrintList("These list files could not be written (is the disk full, or is something in the way?):\n",
              summary.listsNotWritten, true);
    if (summary.rateLimited)
        std::fputs("The picture hosts kept answering \"too many requests\"; the pictures left are listed as "
                   "\"rate limited\": try --retry-failed later.\n",
                   stderr);
    PrintList("The pages of these albums could not all be read:\n", summary.brokenListings);
    PrintList("These albums gave no picture:\n", summary.emptyAlbums);
    PrintList("Nothing recorded to retry for these albums, though their last run failed (run the download "
              "again):\n",
              summary.nothingToRetry);
    if (summary.stopped || g_interrupted)
        return kExitInterrupted;
    const bool lost = n.failed > 0 || !summary.brokenListings.isEmpty() || !summary.emptyAlbums.isEmpty()
        || !summary.nothingToRetry.isEmpty() || !summary.listsNotWritten.isEmpty();
    return lost ? kExitFailures : kExitFound;
}

// One JSON object a line on standard output, keys in the order given.
class JsonLine {
public:
    explicit JsonLine(const char *event) { Add("event", QString::fromLatin1(event)); }
    JsonLine &Add(const char *key, const QString &value) { return Raw(key, JsonString(value)); }
    JsonLine &Add(const char *key, std::int64_t value) { return Raw(key, QByteArray::number(value)); }
    void Write() const { WriteOut(m_text + "}\n"); }

private:
    JsonLine &Raw(const char *key, const QByteArray &value)
    {
        m_text += (m_text.isEmpty() ? "{\"" : ", \"") + QByteArray(key) + "\": " + value;
        return *this;
    }
    QByteArray m_text;
};

// The counts of a user's run, as its summary event and the total give them.
struct UserCounts {
    std::uint32_t albums = 0;
    std::uint32_t saved = 0;
    std::uint32_t skipped = 0; // by the size limits and by the skip rule
    std::uint32_t failed = 0;
    std::uint32_t unavailable = 0; // their post cannot be read
    std::uint32_t outOfRange = 0;  // left out by the date range

    void Add(const UserCounts &other)
    {
        outOfRange += other.outOfRange;
        albums += other.albums;
        saved += other.saved;
        skipped += other.skipped;
        failed += other.failed;
        unavailable += other.unavailable;
    }
};

UserCounts CountsOf(const DownloadSummary &summary)
{
    return {summary.albums, summary.pictures.saved, summary.pictures.skipped + summary.ruleSkips,
            summary.pictures.failed, summary.unavailable, summary.outOfRange};
}

// The summary event of one user's run (`who` the user's address), or the
// run's last event, the total (`who` the number of users): the counts and
// the exit status.
void WriteCountsEvent(const char *event, const char *whoKey, const auto &who, const UserCounts &n, int status)
{
    JsonLine(event)
        .Add(whoKey, who)
        .Add("status", status)
        .Add("albums", n.albums)
        .Add("saved", n.saved)
        .Add("skipped", n.skipped)
        .Add("failed", n.failed)
        .Add("unavailable", n.unavailable)
        .Add("out_of_range", n.outOfRange)
        .Write();
}

// The events of the pictures of one user's run.
void WritePictureEvent(const TamblinCore &core, const QString &user, const PictureReport &report)
{
    const auto native = [](const QString &path) { return QDir::toNativeSeparators(path); };
    switch (report.kind) {
    case PictureReport::Kind::Album: {
        const ST_PERLISTRECORD *album = AlbumAt(core, report.albumIndex);
        JsonLine("album")
            .Add("user", user)
            .Add("album", album ? album->name : QString())
            .Add("index", report.albumIndex)
            .Add("pictures", report.pictures)
            .Write();
        break;
    }
    case PictureReport::Kind::Saved:
        JsonLine("saved").Add("path", native(report.path)).Add("url", report.url).Add("bytes", report.bytes).Write();
        break;
    case PictureReport::Kind::Skipped:
        JsonLine("skipped").Add("path", native(report.path)).Add("url", report.url).Add("reason", report.reason).Write();
        break;
    case PictureReport::Kind::Failed:
        JsonLine("failed").Add("url", report.url).Add("name", report.path).Add("reason", report.reason).Write();
        break;
    case PictureReport::Kind::Unavailable:
        JsonLine("unavailable")
            .Add("url", report.url)
            .Add("name", report.path)
            .Add("reason", report.reason)
            .Add("post", report.postId)
            .Write();
        break;
    }
}

// What is shared by the users of one download command.
struct DownloadRun {
    const DownloadArgs &options;
    ConsoleWindow &window;
    TamblinCore &core;
    InterruptRelay &relay;
    DownParams params;
};

// Lists and downloads the albums of one user; the user's exit status.
int DownloadUser(DownloadRun &run, const QString &url, DownloadSummary &summary)
{
    ConsoleWindow &window = run.window;
    TamblinCore &core = run.core;
    run.relay.SetPhase(InterruptRelay::Phase::List);
    window.SetProgressBar(false);
    window.SetAddress(url);
    const ListPress press = RunListWorker(core);
    if (g_interrupted)
        return kExitInterrupted;
    if (press != ListPress::Started || core.m_albums.Size() == 0)
        return kExitNone;

    // Rows of this user's list.
    if (!run.options.albums.isEmpty()) {
        QList<int> rows;
        ParseRows(run.options.albums, rows, core.m_albums.Size());
        for (int row : std::as_const(rows)) {
            if (row >= core.m_albums.Size()) {
                std::fprintf(stderr, "tamblin-cli: there is no album %d; the list has %d\n", row + 1,
                             core.m_albums.Size());
                return kExitNone;
            }
        }
        window.SetChosen(rows);
    }

    window.SetProgressBar(::isatty(STDERR_FILENO) == 1);
    core.m_downState = 1;
    run.relay.SetPhase(InterruptRelay::Phase::Download);
    // The job list reaches the window only for this run.
    g_jobs.progressWindow = &window;
    g_jobs.progressControlId = kIdStatusPicture;
    g_jobs.poolDone = [&window](std::int64_t, std::uint32_t) { window.FinishProgress(); };
    if (run.options.json)
        g_jobs.report = [&core, &url](const PictureReport &report) { WritePictureEvent(core, url, report); };
    {
        std::optional<ProgressTicker> ticker;
        ticker.emplace(window);
        DownloadOptions options;
        options.params = run.params;
        options.retryFailed = run.options.retryFailed;
        options.allArticlePictures = run.options.allArticlePictures;
        options.range = run.options.range;
        options.savePosts = run.options.savePosts;
        options.withReposts = run.options.withReposts;
        std::thread thread([&core, &summary, &options] { summary = RunDownload(core, options); });
        // When RunDownload returns, every worker it started has ended.
        thread.join();
    }
    g_jobs.progressWindow = nullptr;
    g_jobs.poolDone = {};
    g_jobs.report = {};

    if (!summary.started)
        return kExitNone;
    // A save folder enters the history only once it could be made.
    if (!run.options.saveDir.isEmpty() && core.AddHistory(1, window.SavePathText()))
        core.SaveSettings();
    if (window.ChosenAlbums().isEmpty())
        return kExitNone;
    return ReportDownload(summary);
}

// The run's outcome over several users on standard error.
void ReportTotal(int users, const UserCounts &total, const QStringList &notStarted)
{
    std::fprintf(stderr, "Total of %d users: %u saved, %u skipped, %u failed", users, total.saved, total.skipped,
                 total.failed);
    if (total.unavailable > 0)
        std::fprintf(stderr, ", %u unavailable", total.unavailable);
    if (total.outOfRange > 0)
        std::fprintf(stderr, ", %u outside the date range", total.outOfRange);
    std::fputc('\n', stderr);
    if (!notStarted.isEmpty()) {
        std::fputs("Nothing was downloaded for:\n", stderr);
        for (const QString &url : notStarted)
            std::fprintf(stderr, "  %s\n", url.toUtf8().constData());
    }
}

int RunDownloadCommand(const DownloadArgs &options)
{
    // The album rows go to standard error with the other status lines.
    ConsoleWindow window(stderr, stderr);
    TamblinCore core(&window);
    window.SetCore(&core);

    if (!StartCore(core, options.cookiesFile))
        return kExitUsage;

    // The save folder: the option, else the most recent one kept, else the
    // one the window would propose.
    QString savePath;
    if (!options.saveDir.isEmpty()) {
        savePath = QDir::toNativeSeparators(QDir(options.saveDir).absolutePath());
        if (!savePath.endsWith(QDir::separator()))
            savePath += QDir::separator();
    } else {
        savePath = core.m_settings.savePathHistory[0].Get();
        if (savePath.trimmed().isEmpty())
            savePath = StartFolder().savePath;
    }

    // The site's download settings (every run is Sina's), with this run's
    // options in their place.
    DownParams params = core.m_settings.downParams[std::size_t(kSiteSina)];
    if (options.threads)
        params.threads = *options.threads;
    if (options.timeoutSec)
        params.timeoutSec = *options.timeoutSec;
    if (options.minKb)
        params.minKb = *options.minKb;
    if (options.maxKb)
        params.maxKb = *options.maxKb;
    if (params.maxKb != 0 && params.minKb > params.maxKb)
        return UsageError(u"the smallest picture size (%1 KiB) is above the largest (%2 KiB)"_s.arg(params.minKb)
                              .arg(params.maxKb));

    RegisterPictureExtractors();
    window.SetSavePath(savePath);
    core.m_ready = 1;

    InterruptRelay relay(core, window);
    DownloadRun run{options, window, core, relay, params};

    // Each user in turn; one that cannot be listed does not stop the others.
    const qsizetype users = options.urls.size();
    int worst = kExitFound;
    UserCounts total;
    QStringList notStarted;
    for (qsizetype i = 0; i < users && !g_interrupted; ++i) {
        const QString &url = options.urls[i];
        if (users > 1)
            std::fprintf(stderr, "== %s (%lld/%lld)\n", url.toUtf8().constData(), qlonglong(i + 1), qlonglong(users));
        DownloadSummary summary;
        const int status = DownloadUser(run, url, summary);
        worst = WorseStatus(worst, status);
        const UserCounts counts = CountsOf(summary);
        total.Add(counts);
        if (status == kExitNone)
            notStarted.append(url);
        if (options.json)
            WriteCountsEvent("summary", "user", url, counts, status);
    }
    if (g_interrupted)
        worst = kExitInterrupted;
    if (users > 1)
        ReportTotal(int(users), total, notStarted);
    if (options.json)
        WriteCountsEvent("total", "users", std::int64_t(users), total, worst);
    return worst;
}

// Appends the addresses of a file ("-": standard input), one a line; blank
// lines and lines starting with "#" are skipped. False when it cannot be
// read.
bool ReadAddressFile(const QString &name, QStringList &urls)
{
    QFile file;
    const bool opened = name == u"-"_s ? file.open(stdin, QIODevice::ReadOnly)
                                       : (file.setFileName(name), file.open(QIODevice::ReadOnly));
    if (!opened) {
        std::fprintf(stderr, "tamblin-cli: cannot read the address file %s\n",
                     QDir::toNativeSeparators(name).toUtf8().constData());
        return false;
    }
    for (const QByteArray &bytes : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(bytes).trimmed();
        if (!line.isEmpty() && !line.startsWith(u'#'))
            urls.append(line);
    }
    return true;
}

// Walks a command's arguments: options as "--name value" or "--name=value",
// and addresses.
class ArgWalker {
public:
    explicit ArgWalker(const QStringList &args) : m_args(args) {}

    bool Next()
    {
        if (++m_index >= m_args.size())
            return false;
        const QString &arg = m_args[m_index];
        const qsizetype equals = arg.indexOf(u'=');
        if (arg.startsWith(u"--"_s) && equals > 2) {
            m_name = arg.left(equals);
            m_value = arg.mid(equals + 1);
        } else {
            m_name = arg;
            m_value.reset();
        }
        return true;
    }

    const QString &Arg() const { return m_args[m_index]; }
    const QString &Name() const { return m_name; }

    // The option's value: after "=", else the next argument.
    std::optional<QString> Value()
    {
        if (m_value)
            return m_value;
        if (m_index + 1 >= m_args.size())
            return std::nullopt;
        return m_args[++m_index];
    }

    // Anything that is no option of the command: --input-file, an unknown
    // option, or an address. Returns a usage error's exit status, or 0.
    int TakeUrl(QStringList &urls)
    {
        if (m_name == u"--input-file"_s) {
            const std::optional<QString> file = Value();
            if (!file || file->isEmpty())
                return UsageError(u"--input-file needs a file name, or - for standard input"_s);
            return ReadAddressFile(*file, urls) ? 0 : kExitUsage;
        }
        const QString &arg = Arg();
        if (arg.startsWith(u'-') && arg.size() > 1)
            return UsageError(u"unknown option \"%1\""_s.arg(arg));
        urls.append(arg);
        return 0;
    }

private:
    const QStringList &m_args;
    qsizetype m_index = -1;
    QString m_name;
    std::optional<QString> m_value;
};

int ParseList(const QStringList &args)
{
    ListOptions options;
    ArgWalker walk(args);
    while (walk.Next()) {
        if (walk.Arg() == u"--json"_s) {
            options.json = true;
        } else if (walk.Name() == u"--cookies"_s) {
            const std::optional<QString> file = walk.Value();
            if (!file || file->isEmpty())
                return UsageError(u"--cookies needs a file name"_s);
            options.cookiesFile = *file;
        } else if (const int error = walk.TakeUrl(options.urls)) {
            return error;
        }
    }
    if (options.urls.isEmpty())
        return UsageError(u"no URL given"_s);
    return RunList(options);
}

int ParseDownload(const QStringList &args)
{
    DownloadArgs options;
    ArgWalker walk(args);
    while (walk.Next()) {
        const QString &name = walk.Name();
        auto take = [&walk] { return walk.Value(); };
        auto number = [&](std::optional<std::uint16_t> &target, int low, int high) {
            const std::optional<QString> text = take();
            target = text ? ParseNumber(*text, low, high) : std::nullopt;
            return target.has_value();
        };
        if (name == u"--albums"_s) {
            const std::optional<QString> text = take();
            QList<int> rows;
            if (!text || !ParseRows(*text, rows))
                return UsageError(u"--albums needs row numbers such as 1,3-5"_s);
            options.albums = *text;
        } else if (name == u"--save"_s) {
            const std::optional<QString> text = take();
            if (!text || text->trimmed().isEmpty())
                return UsageError(u"--save needs a folder"_s);
            options.saveDir = *text;
        } else if (name == u"--cookies"_s) {
            const std::optional<QString> text = take();
            if (!text || text->isEmpty())
                return UsageError(u"--cookies needs a file name"_s);
            options.cookiesFile = *text;
        } else if (name == u"--threads"_s) {
            if (!number(options.threads, 1, 15))
                return UsageError(u"--threads needs a number from 1 to 15"_s);
        } else if (name == u"--timeout"_s) {
            if (!number(options.timeoutSec, 10, 65535))
                return UsageError(u"--timeout needs seconds from 10 to 65535"_s);
        } else if (name == u"--min-kb"_s) {
            if (!number(options.minKb, 0, 65535))
                return UsageError(u"--min-kb needs a number from 0 to 65535"_s);
        } else if (name == u"--max-kb"_s) {
            if (!number(options.maxKb, 0, 65535))
                return UsageError(u"--max-kb needs a number from 0 to 65535"_s);
        } else if (walk.Arg() == u"--retry-failed"_s) {
            options.retryFailed = true;
        } else if (walk.Arg() == u"--all-article-pictures"_s) {
            options.allArticlePictures = true;
        } else if (name == u"--since"_s || name == u"--until"_s) {
            const std::optional<QString> text = take();
            const QDate day = text ? DateRange::ParseDay(*text) : QDate();
            if (!day.isValid())
                return UsageError(u"%1 needs a day as YYYY-MM-DD"_s.arg(name));
            if (!options.range)
                options.range = DateRange();
            (name == u"--since"_s ? options.range->since : options.range->until) = day;
        } else if (walk.Arg() == u"--save-posts"_s) {
            options.savePosts = true;
        } else if (walk.Arg() == u"--with-reposts"_s) {
            options.withReposts = true;
        } else if (walk.Arg() == u"--json"_s) {
            options.json = true;
        } else if (const int error = walk.TakeUrl(options.urls)) {
            return error;
        }
    }
    if (options.urls.isEmpty())
        return UsageError(u"no URL given"_s);
    if (options.range && options.range->since.isValid() && options.range->until.isValid()
        && options.range->since > options.range->until)
        return UsageError(u"--since (%1) is after --until (%2)"_s.arg(options.range->since.toString(Qt::ISODate),
                                                                      options.range->until.toString(Qt::ISODate)));
    return RunDownloadCommand(options);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"tamblin"_s);

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty())
        return UsageError(u"no command given"_s);
    if (args.contains(u"--help"_s) || args.contains(u"-h"_s)) {
        std::fputs(kUsage, stdout);
        return kExitFound;
    }
    if (args.contains(u"--version"_s)) {
        std::puts("tamblin-cli " TAMBLIN_VERSION);
        return kExitFound;
    }
    const QString command = args.takeFirst();
    if (command == u"download"_s)
        return ParseDownload(args);
    if (command != u"list"_s)
        return UsageError(u"unknown command \"%1\""_s.arg(command));
    return ParseList(args);
}
