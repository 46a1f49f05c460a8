#include "net/CookieStore.h"

#include "net/SafeFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSet>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <utility>

#include <sys/stat.h>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

constexpr QByteArrayView kHttpOnlyPrefix = "#HttpOnly_";

std::int64_t Now()
{
    return QDateTime::currentSecsSinceEpoch();
}

bool Expired(const Cookie &cookie, std::int64_t now)
{
    return cookie.expires != 0 && cookie.expires <= now;
}

// An expired cookie is kept (not sent) this long after its end, so that the
// program can say that a login has ended rather than that none was made.
constexpr std::int64_t kRememberExpiredSecs = 30 * 86400;

bool Forgotten(const Cookie &cookie, std::int64_t now)
{
    return cookie.expires != 0 && cookie.expires + kRememberExpiredSecs <= now;
}

bool IsIpAddress(const QString &host)
{
    if (host.contains(u':'))
        return true;
    return !host.isEmpty() && std::all_of(host.begin(), host.end(), [](QChar c) { return c.isDigit() || c == u'.'; });
}

// What names a cookie in the store: its domain, path and name.
QString Key(const Cookie &cookie)
{
    return cookie.domain + u'\t' + cookie.path + u'\t' + cookie.name;
}

// The site a domain belongs to: its last two labels, or three under a
// country's com, net, org, gov, edu, ac or co ("sina.com.cn").
QString SiteOf(const QString &domain)
{
    if (IsIpAddress(domain))
        return domain;
    const QStringList labels = domain.split(u'.');
    if (labels.size() <= 2)
        return domain;
    static const QStringList kGeneric{u"com"_s, u"net"_s, u"org"_s, u"gov"_s, u"edu"_s, u"ac"_s, u"co"_s};
    const bool country = labels.last().size() == 2 && kGeneric.contains(labels.at(labels.size() - 2));
    return labels.mid(labels.size() - (country ? 3 : 2)).join(u'.');
}

// The sites whose cookies hold a login to the services.
bool IsLoginSite(const QString &site)
{
    return site == u"weibo.com"_s || site == u"weibo.cn"_s || site == u"sina.com.cn"_s || site == u"sina.cn"_s;
}

std::mutex g_visitorMutex;
QSet<QString> g_visitorSubs; // the SUBs the passport gave this process

bool DomainMatches(const Cookie &cookie, const QString &host)
{
    if (host == cookie.domain)
        return true;
    if (cookie.hostOnly || IsIpAddress(host))
        return false;
    return host.size() > cookie.domain.size() && host.endsWith(cookie.domain)
        && host.at(host.size() - cookie.domain.size() - 1) == u'.';
}

bool PathMatches(const QString &cookiePath, const QString &requestPath)
{
    if (cookiePath == requestPath)
        return true;
    if (!requestPath.startsWith(cookiePath))
        return false;
    return cookiePath.endsWith(u'/') || requestPath.at(cookiePath.size()) == u'/';
}

// "TRUE" or "FALSE" in any case.
std::optional<bool> ReadFlag(const QByteArray &field)
{
    const QByteArray flag = field.trimmed().toUpper();
    if (flag == "TRUE")
        return true;
    if (flag == "FALSE")
        return false;
    return std::nullopt;
}

bool HasControl(const QString &text, bool tabAllowed = false)
{
    return std::any_of(text.begin(), text.end(), [tabAllowed](QChar c) {
        return (c.unicode() < 0x20 && !(tabAllowed && c == u'\t')) || c.unicode() == 0x7F;
    });
}

// What a browser would keep. No control character: it would go out as it
// stands inside the cookie header line (a bare CR splits it) and break the
// file; a value may hold a tab, as browsers allow. No oversized pair, and no
// domain cookie for a bare top-level name or an address (sent to every host
// under it).
bool IsStorable(const Cookie &cookie)
{
    if (cookie.domain.isEmpty() || HasControl(cookie.domain) || HasControl(cookie.path) || HasControl(cookie.name)
        || HasControl(cookie.value, true))
        return false;
    if (cookie.name.toUtf8().size() + cookie.value.toUtf8().size() > CookieStore::kMaxNameValueBytes)
        return false;
    return cookie.hostOnly || (cookie.domain.contains(u'.') && !IsIpAddress(cookie.domain));
}

// Expiry seconds from a file or from libcurl, which caps a huge Max-Age at
// 2^63-1: read as a double that is 2^63, beyond what an int64 holds.
std::int64_t ClampExpiry(double seconds)
{
    if (!(seconds > 0))
        return 0;
    return seconds >= double(kMaxCookieExpiry) ? kMaxCookieExpiry : std::int64_t(seconds);
}

// A field's text with a leading byte-order mark kept (QString::fromUtf8
// drops one), so that a cookie reads back from its line as it was written.
QString FieldText(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder(bytes);
}

// The lines of a cookies.txt text; a UTF-8 byte-order mark before the first
// one is no part of it.
QList<QByteArray> FileLines(QByteArrayView text)
{
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    return text.toByteArray().split('\n');
}

QString DefaultFilePath()
{
    if (qEnvironmentVariableIsSet("TAMBLIN_COOKIE_FILE"))
        return qEnvironmentVariable("TAMBLIN_COOKIE_FILE");
    // Without an application name the data folder would be the user's shared
    // one (a test or tool that never named itself): keep cookies in memory.
    if (QCoreApplication::applicationName().isEmpty())
        return QString();
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return dir.isEmpty() ? QString() : dir + u"/cookies.txt"_s;
}

// A SUB cookie that is a login's and has not ended.
bool IsLoginSub(const Cookie *cookie, std::int64_t now)
{
    return cookie && cookie->name == u"SUB"_s && !cookie->value.isEmpty() && !Expired(*cookie, now)
        && !IsVisitorSub(cookie->value);
}

// How long a save waits for another process's save; past it, it merges and
// writes all the same.
constexpr int kLockWaitMs = 5000;
constexpr int kStaleLockMs = 30000;

} // namespace

bool IsVisitorSub(const QString &value)
{
    if (value.startsWith(u"_2Ak"_s))
        return true;
    std::lock_guard lock(g_visitorMutex);
    return g_visitorSubs.contains(value);
}

void NoteVisitorSub(const QString &value)
{
    std::lock_guard lock(g_visitorMutex);
    g_visitorSubs.insert(value);
}

std::optional<Cookie> ParseCookieLine(QByteArrayView line)
{
    while (!line.isEmpty() && (line.back() == '\r' || line.back() == '\n'))
        line.chop(1);
    // Blanks before a "#" still make a comment, not a cookie of domain "#a".
    while (!line.isEmpty() && line.front() == ' ')
        line = line.sliced(1);
    Cookie cookie;
    if (line.startsWith(kHttpOnlyPrefix)) {
        cookie.httpOnly = true;
        line = line.sliced(kHttpOnlyPrefix.size());
    } else if (line.isEmpty() || line.front() == '#') {
        return std::nullopt;
    }
    const QList<QByteArray> fields = line.toByteArray().split('\t');
    if (fields.size() < 6)
        return std::nullopt;
    QByteArray domain = fields[0].trimmed().toLower();
    const bool dotted = domain.startsWith('.');
    if (dotted)
        domain.remove(0, 1);
    if (domain.isEmpty() || domain.contains('#') || domain.contains(' '))
        return std::nullopt;
    const std::optional<bool> subdomains = ReadFlag(fields[1]);
    const std::optional<bool> secure = ReadFlag(fields[3]);
    if (!subdomains || !secure)
        return std::nullopt;
    cookie.domain = FieldText(domain);
    cookie.hostOnly = !dotted && !*subdomains;
    cookie.path = FieldText(fields[2]);
    if (!cookie.path.startsWith(u'/'))
        cookie.path = u"/"_s;
    cookie.secure = *secure;
    // Some exporters write fractional seconds.
    bool ok = false;
    const double expires = fields[4].trimmed().toDouble(&ok);
    if (!ok || std::isnan(expires))
        return std::nullopt;
    cookie.expires = ClampExpiry(expires);
    cookie.name = FieldText(fields[5]);
    if (fields.size() > 6)
        cookie.value = FieldText(fields.mid(6).join('\t'));
    if (!IsStorable(cookie))
        return std::nullopt;
    return cookie;
}

QByteArray CookieLine(const Cookie &cookie)
{
    QByteArray line;
    if (cookie.httpOnly)
        line += kHttpOnlyPrefix;
    if (!cookie.hostOnly)
        line += '.';
    line += cookie.domain.toUtf8();
    line += cookie.hostOnly ? "\tFALSE\t" : "\tTRUE\t";
    line += cookie.path.toUtf8();
    line += cookie.secure ? "\tTRUE\t" : "\tFALSE\t";
    line += QByteArray::number(qlonglong(cookie.expires));
    line += '\t';
    line += cookie.name.toUtf8();
    line += '\t';
    line += cookie.value.toUtf8();
    return line;
}

CookieStore &CookieStore::Instance()
{
    static CookieStore store;
    return store;
}

void CookieStore::SetFilePath(const QString &path)
{
    std::lock_guard lock(m_mutex);
    m_path = path;
    m_pathSet = true;
    m_ownFolder = false;
    m_cookies.clear();
    m_loaded = false;
    LoadLocked();
}

QString CookieStore::FilePath()
{
    std::lock_guard lock(m_mutex);
    LoadLocked();
    return m_path;
}

void CookieStore::PrepareFolder()
{
    std::lock_guard lock(m_mutex);
    LoadLocked();
    PrepareFolderLocked();
}

CookieStore::FileStamp CookieStore::StampOf(const QString &path)
{
    FileStamp stamp;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return stamp;
    stamp.exists = true;
    stamp.inode = std::int64_t(st.st_ino);
    stamp.size = std::int64_t(st.st_size);
#ifdef Q_OS_LINUX
    stamp.modifiedNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#else
    stamp.modifiedNs = std::int64_t(st.st_mtime) * 1000000000;
#endif
    return stamp;
}

std::optional<QList<Cookie>> CookieStore::ReadFileLocked(FileStamp &stamp)
{
    stamp = StampOf(m_path);
    QList<Cookie> cookies;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return stamp.exists ? std::nullopt : std::optional(cookies);
    const QByteArray text = file.readAll();
    const std::int64_t now = Now();
    QHash<QString, qsizetype> at;
    for (const QByteArray &line : FileLines(text)) {
        std::optional<Cookie> cookie = ParseCookieLine(line);
        if (!cookie || Forgotten(*cookie, now))
            continue;
        // A name written twice: the later line, as a load keeps it.
        const QString key = Key(*cookie);
        if (const auto held = at.constFind(key); held != at.cend()) {
            cookies[*held] = *cookie;
        } else {
            at.insert(key, cookies.size());
            cookies.append(*cookie);
        }
    }
    return cookies;
}

void CookieStore::LoadLocked()
{
    if (m_loaded)
        return;
    m_loaded = true;
    if (!m_pathSet) {
        m_path = DefaultFilePath();
        m_ownFolder = !m_path.isEmpty() && !qEnvironmentVariableIsSet("TAMBLIN_COOKIE_FILE");
    }
    m_synced.clear();
    m_stamp = {};
    if (m_path.isEmpty())
        return;
    m_synced = ReadFileLocked(m_stamp).value_or(QList<Cookie>());
    const std::int64_t now = Now();
    for (const Cookie &cookie : std::as_const(m_synced)) {
        if (!Expired(cookie, now))
            PutLocked(cookie);
        else if (std::none_of(m_cookies.cbegin(), m_cookies.cend(), [&](const Cookie &c) { return c.SameKey(cookie); }))
            m_cookies.append(cookie); // remembered, never sent
    }
    BoundLocked();
    m_changedAt.clear();
}

void CookieStore::PrepareFolderLocked()
{
    if (m_path.isEmpty())
        return;
    // The store holds a login: the program's own data folder is the
    // owner's alone, whatever the umask, and so is a folder made for it.
    // A folder that was there (a home, a shared folder) keeps its mode.
    const QString folder = QFileInfo(m_path).absolutePath();
    if (m_ownFolder || !QFileInfo::exists(folder))
        MakePrivateFolder(folder);
}

void CookieStore::MergeFileLocked()
{
    if (StampOf(m_path) == m_stamp)
        return; // nobody wrote since this process last read or wrote it
    FileStamp stamp;
    const std::optional<QList<Cookie>> read = ReadFileLocked(stamp);
    if (!read)
        return; // there but unreadable: not taken for a file without cookies
    const QList<Cookie> &theirs = *read;
    const std::int64_t theirTimeMs = stamp.modifiedNs / 1000000;

    QHash<QString, const Cookie *> synced;
    QHash<QString, const Cookie *> mine;
    QHash<QString, const Cookie *> other;
    QStringList keys;
    for (const Cookie &cookie : std::as_const(m_synced))
        synced.insert(Key(cookie), &cookie);
    for (const Cookie &cookie : std::as_const(m_cookies)) {
        mine.insert(Key(cookie), &cookie);
        keys.append(Key(cookie));
    }
    for (const Cookie &cookie : theirs) {
        other.insert(Key(cookie), &cookie);
        if (!mine.contains(Key(cookie)))
            keys.append(Key(cookie));
    }
    const auto same = [](const Cookie *a, const Cookie *b) { return a == b || (a && b && *a == *b); };

    // Per cookie, a three-way merge against the file as last synced: a
    // side that did not change it takes the other's change (a removal too);
    // when both did, the newer change wins.
    QHash<QString, const Cookie *> merged;
    for (const QString &key : std::as_const(keys)) {
        const Cookie *base = synced.value(key);
        const Cookie *ours = mine.value(key);
        const Cookie *their = other.value(key);
        if (same(their, base) || same(ours, their))
            merged.insert(key, ours);
        else if (same(ours, base))
            merged.insert(key, their);
        else
            merged.insert(key, m_changedAt.value(key, 0) >= theirTimeMs ? ours : their);
    }
    // A visitor's SUB never replaces a login's: where the merge would, the
    // side holding the login keeps its SUB and the SUBP that goes with it.
    const std::int64_t now = Now();
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QString key = keys.at(i);
        const Cookie *result = merged.value(key);
        if (!result || result->name != u"SUB"_s || !IsVisitorSub(result->value))
            continue;
        const Cookie *ours = mine.value(key);
        const Cookie *their = other.value(key);
        const bool oursIsLogin = IsLoginSub(ours, now);
        if (!oursIsLogin && !IsLoginSub(their, now))
            continue;
        const auto &side = oursIsLogin ? mine : other;
        merged.insert(key, oursIsLogin ? ours : their);
        Cookie subp = *result;
        subp.name = u"SUBP"_s;
        const QString subpKey = Key(subp);
        if (!keys.contains(subpKey))
            keys.append(subpKey);
        merged.insert(subpKey, side.value(subpKey));
    }

    // Applied in place, so that observers (the login browser) hear of it.
    QList<Cookie> next;
    QList<Cookie> added;
    for (const QString &key : std::as_const(keys)) {
        const Cookie *ours = mine.value(key);
        const Cookie *result = merged.value(key);
        if (result)
            next.append(*result);
        if (same(ours, result))
            continue;
        if (!result)
            NotifyLocked(*ours, true);
        else if (!ours)
            added.append(*result);
        if (result)
            NotifyLocked(*result, false);
    }
    m_cookies = std::move(next);
    for (const Cookie &cookie : std::as_const(added))
        EvictFromDomainLocked(cookie.domain);
    BoundLocked();
}

void CookieStore::SaveLocked()
{
    BoundLocked();
    if (m_path.isEmpty())
        return;
    PrepareFolderLocked();
    // Other processes save the same file: under the lock, what they saved
    // since is merged first. A lock that cannot be had (a folder that takes
    // no lock file, a holder that hangs) does not stop the save.
    QLockFile lock(m_path + u".lock"_s);
    lock.setStaleLockTime(kStaleLockMs);
    lock.tryLock(kLockWaitMs);
    MergeFileLocked();
    // A file that cannot be written whole (a full disk) leaves the old one
    // as it was; an older, looser file is tightened as it is replaced.
    SafeFile file(m_path, SafeFile::Access::Private);
    if (!file.Open())
        return;
    QByteArray text = "# Netscape HTTP Cookie File\n";
    QList<Cookie> written;
    const std::int64_t now = Now();
    for (const Cookie &cookie : std::as_const(m_cookies)) {
        if (!Forgotten(cookie, now)) {
            text += CookieLine(cookie) + '\n';
            written.append(cookie);
        }
    }
    if (file.Write(text) && file.Commit()) {
        m_synced = std::move(written);
        m_stamp = StampOf(m_path);
        m_changedAt.clear();
    }
}

bool CookieStore::PutLocked(const Cookie &cookie)
{
    if (!IsStorable(cookie))
        return false;
    if (Expired(cookie, Now()))
        return RemoveLocked(cookie);
    for (Cookie &held : m_cookies) {
        if (held.SameKey(cookie)) {
            if (held == cookie)
                return false;
            held = cookie;
            NoteChangeLocked(held);
            NotifyLocked(held, false);
            return true;
        }
    }
    m_cookies.append(cookie);
    NoteChangeLocked(cookie);
    NotifyLocked(cookie, false);
    EvictFromDomainLocked(cookie.domain);
    // The whole store is bounded once a change is complete (BoundLocked);
    // a long import is bounded on the way too.
    if (m_cookies.size() > kMaxCookies + kMaxCookiesPerDomain)
        BoundLocked();
    return true;
}

void CookieStore::NoteChangeLocked(const Cookie &key)
{
    m_changedAt.insert(Key(key), QDateTime::currentMSecsSinceEpoch());
}

bool CookieStore::RemoveLocked(const Cookie &key)
{
    bool removed = false;
    for (qsizetype i = m_cookies.size(); i-- > 0;) {
        if (m_cookies.at(i).SameKey(key)) {
            NoteChangeLocked(key);
            NotifyLocked(m_cookies.takeAt(i), true);
            removed = true;
        }
    }
    return removed;
}

void CookieStore::AddCookie(const Cookie &cookie)
{
    std::lock_guard lock(m_mutex);
    LoadLocked();
    if (PutLocked(cookie))
        SaveLocked();
}

bool CookieStore::RemoveCookie(const QString &domain, const QString &path, const QString &name)
{
    Cookie key;
    key.domain = domain.toLower();
    if (key.domain.startsWith(u'.'))
        key.domain.remove(0, 1);
    key.path = path;
    key.name = name;
    std::lock_guard lock(m_mutex);
    LoadLocked();
    const bool removed = RemoveLocked(key);
    if (removed)
        SaveLocked();
    return removed;
}

void CookieStore::Clear()
{
    std::lock_guard lock(m_mutex);
    LoadLocked();
    for (const Cookie &cookie : std::exchange(m_cookies, {})) {
        NoteChangeLocked(cookie);
        NotifyLocked(cookie, true);
    }
    SaveLocked();
}

QList<Cookie> CookieStore::AllCookies()
{
    std::lock_guard lock(m_mutex);
    LoadLocked();
    const std::int64_t now = Now();
    QList<Cookie> live;
    for (const Cookie &cookie : std::as_const(m_cookies)) {
        if (!Expired(cookie, now))
            live.append(cookie);
    }
    return live;
}

QList<Cookie> CookieStore::CookiesForUrl(const QString &url)
{
    return MatchUrl(url, false);
}

bool CookieStore::HasExpired(const QString &url, const QString &name)
{
    const auto named = [&](const Cookie &cookie) { return cookie.name == name; };
    const QList<Cookie> all = MatchUrl(url, true);
    const std::int64_t now = Now();
    return std::any_of(all.begin(), all.end(), [&](const Cookie &c) { return named(c) && Expired(c, now); })
        && std::none_of(all.begin(), all.end(), [&](const Cookie &c) { return named(c) && !Expired(c, now); });
}

QList<Cookie> CookieStore::MatchUrl(const QString &url, bool expiredToo)
{
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || (scheme != u"http"_s && scheme != u"https"_s))
        return {};
    const QString host = parsed.host(QUrl::FullyEncoded).toLower();
    QString path = parsed.path(QUrl::FullyEncoded);
    if (path.isEmpty())
        path = u"/"_s;
    const bool secure = scheme == u"https"_s;

    QList<Cookie> matched;
    {
        std::lock_guard lock(m_mutex);
        LoadLocked();
        const std::int64_t now = Now();
        for (const Cookie &cookie : std::as_const(m_cookies)) {
            if ((expiredToo || !Expired(cookie, now)) && (secure || !cookie.secure) && DomainMatches(cookie, host)
                && PathMatches(cookie.path, path))
                matched.append(cookie);
        }
    }
    // Longer paths first; among equal paths the older cookie first.
    std::stable_sort(matched.begin(), matched.end(),
                     [](const Cookie &a, const Cookie &b) { return a.path.size() > b.path.size(); });
    return matched;
}

QString CookieStore::CookieHeader(const QString &url)
{
    QString header;
    for (const Cookie &cookie : CookiesForUrl(url)) {
        if (!header.isEmpty())
            header += u"; "_s;
        // A cookie without a name is sent as its value alone, as browsers do.
        header += cookie.name.isEmpty() ? cookie.value : cookie.name + u'=' + cookie.value;
    }
    return header;
}

int CookieStore::ImportFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    // A cookies file of a browser is far smaller; a huge one is no such file
    // and must not cost memory.
    return ImportText(file.read(kMaxImportBytes));
}

int CookieStore::ImportText(QByteArrayView text)
{
    std::lock_guard lock(m_mutex);
    LoadLocked();
    const std::int64_t now = Now();
    int taken = 0;
    bool changed = false;
    for (const QByteArray &line : FileLines(text)) {
        std::optional<Cookie> cookie = ParseCookieLine(line);
        if (!cookie || Expired(*cookie, now))
            continue;
        ++taken;
        changed = PutLocked(*cookie) || changed;
    }
    if (changed)
        SaveLocked();
    return taken;
}

void CookieStore::MergeExchange(const QList<Cookie> &before, const QList<Cookie> &after)
{
    std::lock_guard lock(m_mutex);
    LoadLocked();
    bool changed = false;
    for (const Cookie &cookie : after) {
        if (!before.contains(cookie))
            changed = PutLocked(cookie) || changed;
    }
    for (const Cookie &cookie : before) {
        const bool kept = std::any_of(after.begin(), after.end(), [&](const Cookie &c) { return c.SameKey(cookie); });
        // Only what the exchange itself saw disappear; another thread may have
        // replaced the cookie meanwhile.
        if (!kept && m_cookies.contains(cookie))
            changed = RemoveLocked(cookie) || changed;
    }
    if (changed)
        SaveLocked();
}

int CookieStore::AddObserver(Observer observer)
{
    std::lock_guard lock(m_mutex);
    LoadLocked();
    const int id = m_nextObserverId++;
    m_observers.emplace_back(id, std::move(observer));
    return id;
}

void CookieStore::RemoveObserver(int id)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_observers, [id](const auto &entry) { return entry.first == id; });
}

void CookieStore::NotifyLocked(const Cookie &cookie, bool removed)
{
    for (const auto &[id, observer] : m_observers)
        observer(cookie, removed);
}

void CookieStore::EvictFromDomainLocked(const QString &domain)
{
    // The oldest of the domain go first.
    const auto inDomain = [&](const Cookie &held) { return held.domain == domain; };
    for (qsizetype i = 0, excess = std::count_if(m_cookies.cbegin(), m_cookies.cend(), inDomain) - kMaxCookiesPerDomain;
         excess > 0 && i < m_cookies.size();) {
        if (inDomain(m_cookies.at(i))) {
            NoteChangeLocked(m_cookies.at(i));
            NotifyLocked(m_cookies.takeAt(i), true);
            --excess;
        } else {
            ++i;
        }
    }
}

void CookieStore::BoundLocked()
{
    if (m_cookies.size() <= kMaxCookies)
        return;
    // The oldest cookies of the site holding the most go first; of two
    // holding as many, the one with the older cookie. The sites of a login
    // give way only when no other site has a cookie left.
    QStringList sites;
    sites.reserve(m_cookies.size());
    QList<std::pair<QString, qsizetype>> counts[2]; // other sites, login sites; in order of their oldest cookie
    QHash<QString, qsizetype> countAt;
    for (const Cookie &held : std::as_const(m_cookies)) {
        sites.append(SiteOf(held.domain));
        QList<std::pair<QString, qsizetype>> &list = counts[IsLoginSite(sites.last()) ? 1 : 0];
        const auto at = countAt.constFind(sites.last());
        if (at == countAt.cend()) {
            countAt.insert(sites.last(), list.size());
            list.append({sites.last(), 1});
        } else {
            ++list[*at].second;
        }
    }
    QHash<QString, qsizetype> take;
    const auto fewer = [](const auto &a, const auto &b) { return a.second < b.second; };
    for (qsizetype excess = m_cookies.size() - kMaxCookies; excess > 0; --excess) {
        auto &list = std::any_of(counts[0].begin(), counts[0].end(), [](const auto &c) { return c.second > 0; })
            ? counts[0]
            : counts[1];
        const auto most = std::max_element(list.begin(), list.end(), fewer);
        --most->second;
        ++take[most->first];
    }
    QList<Cookie> kept;
    kept.reserve(kMaxCookies);
    for (qsizetype i = 0; i < m_cookies.size(); ++i) {
        qsizetype &left = take[sites.at(i)];
        if (left > 0) {
            --left;
            NoteChangeLocked(m_cookies.at(i));
            NotifyLocked(m_cookies.at(i), true);
        } else {
            kept.append(m_cookies.at(i));
        }
    }
    m_cookies = std::move(kept);
}

} // namespace tamblin
