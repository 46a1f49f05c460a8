// tamblin-cli: the engine of the window, driven from a terminal.
//
//   tamblin-cli list URL [--json] [--cookies FILE]
#include "ConsoleWindow.h"

#include "app/TamblinCore.h"
#include "net/CookieStore.h"
#include "sources/ListDriver.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

using namespace Qt::StringLiterals;
using namespace tamblin;

namespace {

constexpr int kExitFound = 0;
constexpr int kExitNone = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: tamblin-cli list URL [--json] [--cookies FILE]\n"
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
    "Status lines and messages go to standard error. The proxy of the\n"
    "environment (http_proxy, no_proxy) is used.\n"
    "\n"
    "Exit status: 0 when at least one album was found, 1 when none was,\n"
    "2 for a usage error.\n";

std::atomic<std::uint8_t> *g_listState = nullptr;

// The first Ctrl-C stops the list after the album being added, as a second
// press of the get-albums button does; the second one ends the program.
extern "C" void OnInterrupt(int)
{
    if (g_listState)
        g_listState->store(2);
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

int RunList(const ListOptions &options)
{
    ConsoleWindow window;
    TamblinCore core(&window);
    window.SetCore(&core);
    window.SetPrintRows(!options.json);

    core.m_appDir = QDir::currentPath();
    if (!core.m_appDir.endsWith(QDir::separator()))
        core.m_appDir += QDir::separator();
    core.LoadSettings();

    if (!options.cookiesFile.isEmpty()) {
        if (CookieStore::Instance().ImportFile(options.cookiesFile) < 0) {
            std::fprintf(stderr, "tamblin-cli: cannot read the cookies file %s\n",
                         QDir::toNativeSeparators(options.cookiesFile).toUtf8().constData());
            return kExitUsage;
        }
    }

    window.SetAddress(options.url);
    window.SetSavePath(core.m_appDir);
    core.m_ready = 1;

    g_listState = &core.m_listState;
    std::signal(SIGINT, OnInterrupt);
    std::thread worker;
    const ListPress press = PressGetAlbums(core, worker);
    if (worker.joinable())
        worker.join();
    std::signal(SIGINT, SIG_DFL);
    g_listState = nullptr;
    if (press != ListPress::Started)
        return kExitNone;

    if (options.json) {
        const QByteArray text = ListResultJson(core);
        std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
    }
    std::fflush(stdout);
    return core.m_albums.Size() > 0 ? kExitFound : kExitNone;
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
    if (command != u"list"_s)
        return UsageError(u"unknown command \"%1\""_s.arg(command));

    ListOptions options;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == u"--json"_s) {
            options.json = true;
        } else if (arg == u"--cookies"_s) {
            if (i + 1 >= args.size())
                return UsageError(u"--cookies needs a file name"_s);
            options.cookiesFile = args[++i];
        } else if (arg.startsWith(u"--cookies="_s)) {
            options.cookiesFile = arg.mid(10);
        } else if (arg.startsWith(u'-') && arg.size() > 1) {
            return UsageError(u"unknown option \"%1\""_s.arg(arg));
        } else if (options.url.isNull()) {
            options.url = arg;
        } else {
            return UsageError(u"more than one URL given"_s);
        }
    }
    if (options.url.isNull())
        return UsageError(u"no URL given"_s);
    if (!options.cookiesFile.isNull() && options.cookiesFile.isEmpty())
        return UsageError(u"--cookies needs a file name"_s);
    return RunList(options);
}
