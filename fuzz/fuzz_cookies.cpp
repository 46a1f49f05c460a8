// Importing a cookies.txt file and matching cookies to addresses: any file
// imports without harm, what is imported is kept as the file would give it
// back, and no cookie goes to a host, path or scheme it was not set for.
// A flood of fuzzed cookies over many hosts never evicts a login, and a save
// that merges a file another process wrote keeps this process's newer
// change, never trades a login's SUB for a visitor's, and writes what the
// store then holds.
#include "FuzzSupport.h"

#include "net/CookieStore.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>
#include <QUrl>

using namespace tamblin;
using namespace Qt::StringLiterals;

namespace {

// A cookie survives being written to the store's file and read back.
void CheckRoundTrip(QByteArrayView line)
{
    const std::optional<Cookie> cookie = ParseCookieLine(line);
    if (!cookie)
        return;
    const QString shown = QString::fromUtf8(line);
    const QByteArray written = CookieLine(*cookie);
    FUZZ_CHECK(!written.contains('\n'), shown);
    const std::optional<Cookie> again = ParseCookieLine(written);
    FUZZ_CHECK(again && *again == *cookie, shown + u" -> "_s + QString::fromUtf8(written));
}

void CheckMatches(const QString &url)
{
    CookieStore &store = CookieStore::Instance();
    const QList<Cookie> sent = store.CookiesForUrl(url);
    const QString header = store.CookieHeader(url);
    FUZZ_CHECK(!header.contains(u'\r') && !header.contains(u'\n'), header);
    if (sent.isEmpty())
        return;
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    const QString host = parsed.host(QUrl::FullyEncoded).toLower();
    const QString path = parsed.path(QUrl::FullyEncoded).isEmpty() ? u"/"_s : parsed.path(QUrl::FullyEncoded);
    const bool https = parsed.scheme().toLower() == u"https"_s;
    for (const Cookie &cookie : sent) {
        const QString shown = url + u" got "_s + QString::fromUtf8(CookieLine(cookie));
        FUZZ_CHECK(host == cookie.domain || (!cookie.hostOnly && host.endsWith(u'.' + cookie.domain)), shown);
        FUZZ_CHECK(path.startsWith(cookie.path), shown);
        FUZZ_CHECK(https || !cookie.secure, shown);
    }
}

Cookie Login(const QString &name, const QString &value)
{
    Cookie cookie;
    cookie.domain = u"weibo.com"_s;
    cookie.hostOnly = false;
    cookie.name = name;
    cookie.value = value;
    cookie.expires = QDateTime::currentSecsSinceEpoch() + 3600;
    return cookie;
}

// The store's SUB for weibo.com's root, or none.
std::optional<Cookie> StoredSub()
{
    for (const Cookie &cookie : CookieStore::Instance().AllCookies()) {
        if (cookie.SameKey(Login(u"SUB"_s, QString())))
            return cookie;
    }
    return std::nullopt;
}

// Each cookie of `text` on `hosts` hosts below its domain (h0., h1., ...),
// `copies` times under names of their own: a flood past the store's bounds
// from a few fuzzed lines (3,500 cookies at most, to keep the runs quick).
QByteArray Flood(QByteArrayView text, int hosts, int copies)
{
    QByteArray out;
    int left = 3500;
    for (const QByteArray &line : text.toByteArray().split('\n')) {
        const std::optional<Cookie> cookie = ParseCookieLine(line);
        if (!cookie)
            continue;
        for (int i = 0; i < hosts; ++i) {
            for (int j = 0; j < copies && left-- > 0; ++j) {
                Cookie copy = *cookie;
                copy.domain = u"h%1."_s.arg(i) + cookie->domain;
                copy.name = cookie->name + u"%1"_s.arg(j);
                out += CookieLine(copy) + '\n';
            }
        }
    }
    return out;
}

bool TouchesALoginSite(const QList<Cookie> &cookies)
{
    return std::any_of(cookies.begin(), cookies.end(), [](const Cookie &c) {
        return c.domain.contains(u"weibo"_s) || c.domain.contains(u"sina"_s);
    });
}

void CheckFlood(QByteArrayView text, int hosts, int copies)
{
    CookieStore &store = CookieStore::Instance();
    store.Clear();
    store.AddCookie(Login(u"SUB"_s, u"_2A2login"_s));
    const QByteArray flood = Flood(text, hosts, copies);
    QList<Cookie> parsed;
    for (const QByteArray &line : flood.split('\n')) {
        if (std::optional<Cookie> cookie = ParseCookieLine(line))
            parsed.append(*cookie);
    }
    store.ImportText(flood);
    const QList<Cookie> all = store.AllCookies();
    FUZZ_CHECK(all.size() <= CookieStore::kMaxCookies, QString::number(all.size()));
    QHash<QString, int> perDomain;
    for (const Cookie &cookie : all)
        FUZZ_CHECK(++perDomain[cookie.domain] <= CookieStore::kMaxCookiesPerDomain, cookie.domain);
    if (!TouchesALoginSite(parsed))
        FUZZ_CHECK(StoredSub().has_value(), u"the login went, %1 cookies"_s.arg(parsed.size()));
}

void WriteAsAnotherProcess(const QString &path, QByteArrayView text)
{
    QFile file(path + u".other"_s);
    if (file.open(QIODevice::WriteOnly))
        file.write(text.data(), text.size());
    file.close();
    QFile::remove(path);
    QFile::rename(path + u".other"_s, path);
}

void CheckMerge(QByteArrayView before, QByteArrayView theirs)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(u"cookies.txt"_s);
    CookieStore &store = CookieStore::Instance();
    WriteAsAnotherProcess(path, before);
    store.SetFilePath(path);
    store.AddCookie(Login(u"SUB"_s, u"_2A2login"_s));
    const std::optional<Cookie> login = StoredSub();
    WriteAsAnotherProcess(path, theirs);
    Cookie mine;
    mine.domain = u"fuzz.example"_s;
    mine.name = u"mine"_s;
    mine.value = u"newer"_s;
    store.AddCookie(mine);

    const QList<Cookie> held = store.AllCookies();
    // Unless the other's file alone fills the domain, whose oldest give way.
    const qsizetype crowd = std::count_if(held.begin(), held.end(), [](const Cookie &c) { return c.domain == u"fuzz.example"_s; });
    FUZZ_CHECK(held.contains(mine) || crowd >= CookieStore::kMaxCookiesPerDomain, u"this process's newer change was lost"_s);
    const std::optional<Cookie> sub = StoredSub();
    if (login && login->value == u"_2A2login"_s)
        FUZZ_CHECK(!sub || !IsVisitorSub(sub->value), u"a visitor's SUB replaced the login: "_s + sub->value);
    QSet<QString> keys;
    for (const Cookie &cookie : held) {
        const QString key = cookie.domain + u'\t' + cookie.path + u'\t' + cookie.name;
        FUZZ_CHECK(!keys.contains(key), key);
        keys.insert(key);
    }
    // What the store holds is what it wrote.
    store.SetFilePath(path);
    FUZZ_CHECK(store.AllCookies() == held, QString::number(held.size()));
    store.SetFilePath(QString());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::InitOnce();
    FuzzedDataProvider fdp(data, size);
    const int mode = fdp.ConsumeIntegralInRange(0, 2);
    const int hosts = fdp.ConsumeIntegralInRange(1, 40);
    const int copies = fdp.ConsumeIntegralInRange(1, 200);
    const std::string url = fdp.ConsumeRandomLengthString(256);
    const std::string other = mode == 2 ? fdp.ConsumeRandomLengthString(4096) : std::string();
    const std::string file = fdp.ConsumeRemainingBytesAsString();
    const QByteArrayView text(file.data(), qsizetype(file.size()));

    for (const QByteArray &line : text.toByteArray().split('\n'))
        CheckRoundTrip(line);

    CookieStore &store = CookieStore::Instance();
    store.Clear();
    const int taken = store.ImportText(text);
    FUZZ_CHECK(taken >= 0 && store.AllCookies().size() <= taken, QString::number(taken));
    CheckMatches(QString::fromUtf8(url.data(), qsizetype(url.size())));

    if (mode == 1)
        CheckFlood(text, hosts, copies);
    else if (mode == 2)
        CheckMerge(QByteArrayView(other.data(), qsizetype(other.size())), text);
    return 0;
}
