// tamblin-cli: the engine of the window, driven from a terminal.
//
//   tamblin-cli list URL [--json] [--cookies FILE]
//   tamblin-cli download URL [--albums LIST] [--save DIR] [--threads N]
//                            [--timeout S] [--min-kb N] [--max-kb N]
#include "ConsoleWindow.h"

#include "app/StartFolder.h"
#include "app/TamblinCore.h"
#include "download/WorkerPool.h"
#include "download/DownloadDriver.h"
#include "download/DownloadJobList.h"
#include "net/CookieStore.h"
#include "sources/ListDriver.h"
#include "sources/SourceSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

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

const char kUsage[] =
    "Usage: tamblin-cli list URL [--json] [--cookies FILE]\n"
    "       tamblin-cli download URL [--albums LIST] [--save DIR] [--threads N]\n"
    "                   [--timeout S] [--min-kb N] [--max-kb N] [--cookies FILE]\n"
    "       tamblin-cli --help\n"
    "\n"
    "list    Lists the albums of the user whose page URL names, as the window's\n"
    "        get-albums button does: a Sina photo page lists its albums, a Sina\n"
    "        blog article-list page (\"/s/articlelist_...\") its articles, a Weibo\n"
    "        page its Weibo albums (this needs the cookies of a Weibo login).\n"
    "\n"
    "        The current directory is the start folder: \"soft.dat\" (settings and\n"
    "        address history) and \"下载器扩展设置.ini\" are read and written\n"
    "        there; a successful URL enters the address history.\n"
    "\n"
    "        Output: one line per album, in list order, with the four columns of\n"
    "        the album grid separated by a tab: the number (0001, 0002, ...), the\n"
    "        name, the picture count (\"未知\" when unknown) and the remark.\n"
    "\n"
    "--json          Print one JSON object instead:\n"
    "                {\"subMode\": n, \"userFolder\": \"...\", \"subFolder\": \"...\",\n"
    "                 \"ownerUid\": \"...\", \"albums\": [{\"index\": n, \"name\": \"...\",\n"
    "                 \"albumUrl\": \"...\", \"coverUrl\": \"...\", \"count\": n,\n"
    "                 \"flags\": n}, ...]}\n"
    "                subMode is 0 for Sina photo albums, 1 for Sina blog\n"
    "                articles, 2 for Weibo albums.\n"
    "--cookies FILE  Import a Netscape cookies.txt (as browsers export it) into\n"
    "                the cookie store before the run, for example a Weibo login.\n"
    "                The store is kept in the per-user data folder (or in the\n"
    "                file TAMBLIN_COOKIE_FILE names), so the login is kept.\n"
    "--help          Show this text.\n"
    "\n"
    "download  Lists the albums of URL as list does (the rows go to standard\n"
    "        error), then downloads the chosen ones as the window's download\n"
    "        button does: one folder per album below the save folder, the\n"
    "        user's folder and, for Weibo, its sub folder; the file and folder\n"
    "        names, the list-only mode, the title file, the skip rule and the\n"
    "        fix-ups follow the naming rules and option bits of the Sina site in\n"
    "        \"soft.dat\" of the current directory.\n"
    "\n"
    "--albums LIST   Row numbers as list prints them, e.g. 1,3-5 (default: all).\n"
    "--save DIR      The save folder (default: the most recent save path of\n"
    "                \"soft.dat\", else the current directory); it enters the\n"
    "                save-path history.\n"
    "--threads N     Pictures fetched at once, 1 to 15.\n"
    "--timeout S     Read time-out of a picture in seconds, 1 to 65535.\n"
    "--min-kb N      Keep only pictures of at least N KiB (0: no limit).\n"
    "--max-kb N      Keep only pictures of at most N KiB (0: no limit).\n"
    "                The four numbers stand for the site's download settings\n"
    "                for this run only; \"soft.dat\" keeps its own.\n"
    "\n"
    "        On a terminal a progress bar shows the pictures of the album done\n"
    "        and to do. Ctrl+C stops the download (running pictures finish,\n"
    "        nothing further starts); a second Ctrl+C ends the program at once.\n"
    "\n"
    "Status lines and messages go to standard error. The proxy of the\n"
    "environment (http_proxy, no_proxy) is used.\n"
    "\n"
    "Exit status of list: 0 when at least one album was found, 1 when none\n"
    "was, 2 for a usage error. Of download: 0 when the run finished (also when\n"
    "stopped), 1 when it could not start (no albums, no album of LIST, a save\n"
    "folder that cannot be made), 2 for a usage error, 130 when Ctrl+C came\n"
    "before the download began.\n";

constexpr int kExitInterrupted = 130;

std::atomic<std::uint8_t> *g_listState = nullptr;
std::atomic<tamblin::TamblinCore *> g_downCore{nullptr};
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<std::uint8_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// The first Ctrl-C stops the list after the album being added, as a second
// press of the get-albums button does, or the download as a second press of
// the download button does; the second one ends the program. Only atomic
// stores here.
extern "C" void OnInterrupt(int)
{
    g_interrupted = true;
    if (g_listState)
        g_listState->store(2);
    if (tamblin::TamblinCore *core = g_downCore.load())
        tamblin::RequestDownloadStop(*core);
    std::signal(SIGINT, SIG_DFL);
}

int UsageError(const QString &problem)
{
    std::fprintf(stderr, "tamblin-cli: %s\n%s", problem.toUtf8().constData(), kUsage);
    return kExitUsage;
}

struct ListOptions {
    QString url;
    bool json = false;
    QString cookiesFile;
};

// A JSON string literal (quotes and escapes as QJsonDocument writes them).
QByteArray JsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.sliced(1, array.size() - 2); // without the brackets
}

// The list result with its keys in the documented order, one album a line.
QByteArray ListResultJson(const TamblinCore &core)
{
    QByteArray out = "{\n";
    out += "  \"subMode\": " + QByteArray::number(core.m_subMode) + ",\n";
    out += "  \"userFolder\": " + JsonString(core.m_userFolder) + ",\n";
    out += "  \"subFolder\": " + JsonString(core.m_subFolder) + ",\n";
    out += "  \"ownerUid\": " + JsonString(core.m_ownerUid) + ",\n";
    out += "  \"albums\": [";
    const char *separator = "\n";
    for (const auto &album : core.m_albums.items) {
        out += separator;
        out += "    {\"index\": " + QByteArray::number(album->index) + ", \"name\": " + JsonString(album->name)
            + ", \"albumUrl\": " + JsonString(album->albumUrl) + ", \"coverUrl\": " + JsonString(album->coverUrl)
            + ", \"count\": " + QByteArray::number(album->count) + ", \"flags\": " + QByteArray::number(album->flags) + "}";
        separator = ",\n";
    }
    out += core.m_albums.items.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

// The start folder follows the window's rule (StartFolder); a cookies
// file is imported before the run. False when that file cannot be read.
bool StartCore(TamblinCore &core, const QString &cookiesFile)
{
    core.m_appDir = StartFolder().appDir;
    core.LoadSettings();
    if (!cookiesFile.isEmpty() && CookieStore::Instance().ImportFile(cookiesFile) < 0) {
        std::fprintf(stderr, "tamblin-cli: cannot read the cookies file %s\n",
                     QDir::toNativeSeparators(cookiesFile).toUtf8().constData());
        return false;
    }
    return true;
}

// Presses the get-albums button and waits for the list run; Ctrl-C stays
// bound to the stop from here on.
ListPress RunListWorker(TamblinCore &core)
{
    g_listState = &core.m_listState;
    std::signal(SIGINT, OnInterrupt);
    std::thread worker;
    const ListPress press = PressGetAlbums(core, worker);
    if (worker.joinable())
        worker.join();
    g_listState = nullptr;
    return press;
}

int RunList(const ListOptions &options)
{
    ConsoleWindow window;
    TamblinCore core(&window);
    window.SetCore(&core);
    window.SetPrintRows(!options.json);

    if (!StartCore(core, options.cookiesFile))
        return kExitUsage;

    window.SetAddress(options.url);
    window.SetSavePath(core.m_appDir);
    core.m_ready = 1;

    const ListPress press = RunListWorker(core);
    std::signal(SIGINT, SIG_DFL);
    if (press != ListPress::Started)
        return kExitNone;

    if (options.json) {
        const QByteArray text = ListResultJson(core);
        std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
    }
    std::fflush(stdout);
    return core.m_albums.Size() > 0 ? kExitFound : kExitNone;
}

struct DownloadOptions {
    QString url;
    QString cookiesFile;
    QString albums; // row numbers, "1,3-5"
    QString saveDir;
    std::optional<std::uint16_t> threads;
    std::optional<std::uint16_t> timeoutSec;
    std::optional<std::uint16_t> minKb;
    std::optional<std::uint16_t> maxKb;
};

// Row numbers "1,3-5" (from 1) as sorted, distinct, zero-based indices; false
// when the text is not such a list.
bool ParseRows(const QString &text, QList<int> &rows)
{
    rows.clear();
    QList<bool> seen;
    for (const QString &part : text.split(u',')) {
        const QString item = part.trimmed();
        const qsizetype dash = item.indexOf(u'-');
        bool ok1 = false;
        bool ok2 = false;
        const int from = (dash < 0 ? item : item.left(dash)).trimmed().toInt(&ok1);
        const int to = dash < 0 ? from : item.mid(dash + 1).trimmed().toInt(&ok2);
        if (!ok1 || (dash >= 0 && !ok2) || from < 1 || to < from || to > 65535)
            return false;
        if (seen.size() < to)
            seen.resize(to, false);
        for (int row = from; row <= to; ++row)
            seen[row - 1] = true;
    }
    for (int i = 0; i < seen.size(); ++i) {
        if (seen[i])
            rows.append(i);
    }
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

int RunDownloadCommand(const DownloadOptions &options)
{
    // The album rows go to standard error with the other status lines.
    ConsoleWindow window(stderr, stderr);
    TamblinCore core(&window);
    window.SetCore(&core);

    if (!StartCore(core, options.cookiesFile))
        return kExitUsage;

    // The save folder: the option (kept in the history, as choosing a folder
    // in the window keeps it), else the most recent one kept, else here.
    QString savePath;
    if (!options.saveDir.isEmpty()) {
        savePath = QDir::toNativeSeparators(QDir(options.saveDir).absolutePath());
        if (!savePath.endsWith(QDir::separator()))
            savePath += QDir::separator();
        if (core.AddHistory(1, savePath))
            core.SaveSettings();
    } else {
        savePath = core.m_settings.savePathHistory[0].Get();
        if (savePath.trimmed().isEmpty())
            savePath = core.m_appDir;
    }

    RegisterPictureExtractors();
    g_jobs.progressWindow = &window;
    g_jobs.progressControlId = kIdStatusPicture;
    g_jobs.poolDone = [&window](std::int64_t, std::uint32_t) { window.FinishProgress(); };

    window.SetAddress(options.url);
    window.SetSavePath(savePath);
    core.m_ready = 1;

    const ListPress press = RunListWorker(core);
    if (press != ListPress::Started || core.m_albums.Size() == 0)
        return kExitNone;
    if (g_interrupted)
        return kExitInterrupted;

    if (!options.albums.isEmpty()) {
        QList<int> rows;
        ParseRows(options.albums, rows);
        QList<int> chosen;
        for (int row : std::as_const(rows)) {
            if (row >= core.m_albums.Size()) {
                std::fprintf(stderr, "tamblin-cli: there is no album %d; the list has %d\n", row + 1,
                             core.m_albums.Size());
                return kExitNone;
            }
            chosen.append(row);
        }
        window.SetChosen(chosen);
    }

    // The site's download settings, with this run's options in their place.
    const int site = core.m_listType;
    DownParams params = site >= 0 && site < kSiteSlots ? core.m_settings.downParams[std::size_t(site)] : DownParams{};
    if (options.threads)
        params.threads = *options.threads;
    if (options.timeoutSec)
        params.timeoutSec = *options.timeoutSec;
    if (options.minKb)
        params.minKb = *options.minKb;
    if (options.maxKb)
        params.maxKb = *options.maxKb;

    window.SetProgressBar(::isatty(STDERR_FILENO) == 1);
    core.m_downState = 1;
    g_downCore = &core;
    // A Ctrl-C between the list and here is not lost.
    if (g_interrupted)
        RequestDownloadStop(core);
    {
        std::optional<ProgressTicker> ticker;
        ticker.emplace(window);
        std::thread run([&core, params] { RunDownload(core, params); });
        // When RunDownload returns, every worker it started has ended.
        run.join();
    }
    g_downCore = nullptr;
    std::signal(SIGINT, SIG_DFL);
    // The window goes with this function.
    g_jobs.progressWindow = nullptr;
    g_jobs.poolDone = {};
    return window.DownloadStarted() && !window.ChosenAlbums().isEmpty() ? kExitFound : kExitNone;
}

// Walks a command's arguments: options as "--name value" or "--name=value",
// and one URL.
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

    // Anything that is no known option: an unknown option, or the URL (once).
    // Returns a usage error's exit status, or 0.
    int TakeUrl(QString &url) const
    {
        const QString &arg = Arg();
        if (arg.startsWith(u'-') && arg.size() > 1)
            return UsageError(u"unknown option \"%1\""_s.arg(arg));
        if (!url.isNull())
            return UsageError(u"more than one URL given"_s);
        url = arg;
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
        } else if (const int error = walk.TakeUrl(options.url)) {
            return error;
        }
    }
    if (options.url.isNull())
        return UsageError(u"no URL given"_s);
    return RunList(options);
}

int ParseDownload(const QStringList &args)
{
    DownloadOptions options;
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
            if (!number(options.timeoutSec, 1, 65535))
                return UsageError(u"--timeout needs seconds from 1 to 65535"_s);
        } else if (name == u"--min-kb"_s) {
            if (!number(options.minKb, 0, 65535))
                return UsageError(u"--min-kb needs a number from 0 to 65535"_s);
        } else if (name == u"--max-kb"_s) {
            if (!number(options.maxKb, 0, 65535))
                return UsageError(u"--max-kb needs a number from 0 to 65535"_s);
        } else if (const int error = walk.TakeUrl(options.url)) {
            return error;
        }
    }
    if (options.url.isNull())
        return UsageError(u"no URL given"_s);
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
    const QString command = args.takeFirst();
    if (command == u"download"_s)
        return ParseDownload(args);
    if (command != u"list"_s)
        return UsageError(u"unknown command \"%1\""_s.arg(command));
    return ParseList(args);
}
