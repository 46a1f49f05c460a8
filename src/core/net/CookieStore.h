// The process-wide cookie store shared by every exchange and the login browser.
//
// Cookies are matched to an address as browsers do (domain, path, expiry,
// secure flag) and kept in a Netscape cookies.txt file in the per-user data
// folder, so a login survives a restart. Session cookies are kept in the file
// too: the login browser's cookies are all the program has of a login; so
// are expired ones for a while, never sent, to tell an ended login.
// Every member is safe to call from any thread.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace tamblin {

struct Cookie {
    QString domain;        // lower case, without a leading dot
    bool hostOnly = true;  // false: the domain and all hosts below it
    QString path = QStringLiteral("/");
    bool secure = false;   // sent over https only
    bool httpOnly = false;
    std::int64_t expires = 0; // seconds since 1970; 0: a session cookie
    QString name;
    QString value;

    bool SameKey(const Cookie &other) const
    {
        return name == other.name && domain == other.domain && path == other.path;
    }
    bool operator==(const Cookie &other) const = default;
};

// Latest expiry kept (the end of the year 9999); later ones are clamped to it.
inline constexpr std::int64_t kMaxCookieExpiry = 253402300799;

// Weibo's SUB cookie of a visitor, not of a login: the passport writes
// visitor SUBs as "_2Ak..." (a login's are "_2A2..."), and those it gave this
// process (NoteVisitorSub) are visitors' whatever they look like. A visitor
// SUB never takes the place of a login's.
bool IsVisitorSub(const QString &value);
void NoteVisitorSub(const QString &value);

// One line of a cookies.txt file ("#HttpOnly_" lines included); nothing for
// comments, blank lines and lines that are not well-formed cookies (six or
// more tab-separated fields, TRUE or FALSE flags, a number for the expiry,
// no control character in any field; the value takes the fields from the
// seventh on, tabs included).
std::optional<Cookie> ParseCookieLine(QByteArrayView line);
// The cookies.txt line of a cookie, without a line end.
QByteArray CookieLine(const Cookie &cookie);

class CookieStore {
public:
    static CookieStore &Instance();

    // Where the store is kept. By default the file "cookies.txt" in the
    // per-user data folder of the application (its name must be set before
    // the store is first used; without one the store stays in memory), or
    // the file named by TAMBLIN_COOKIE_FILE when that variable is set (set
    // but empty: kept in memory only). Setting a path
    // drops the cookies held and loads that file; an empty path keeps the
    // store in memory only.
    //
    // The file is the owner's alone (0600). So is the program's own data
    // folder (0700); a folder the store makes for another path is too, but
    // one it did not make (a home or shared folder that TAMBLIN_COOKIE_FILE
    // names) keeps its mode.
    //
    // Several processes may keep one file (the window and tamblin-cli): each
    // save takes a lock beside the file and merges what the others saved
    // since this process last read or wrote it. Per domain, path and name
    // the newer change wins, a cookie removed (a logout, an expiry, an
    // eviction) stays removed unless the other set it again later, and a
    // visitor's SUB never replaces a login's (with its SUBP).
    void SetFilePath(const QString &path);
    QString FilePath();
    // Makes the folder of the file as a save would (see above); the login
    // browser keeps its profile there.
    void PrepareFolder();

    // Adds or replaces the cookie with the same name, domain and path; a
    // cookie that has already expired removes it instead. A cookie with a
    // control character in a field is not taken.
    void AddCookie(const Cookie &cookie);
    // True when a cookie was removed.
    bool RemoveCookie(const QString &domain, const QString &path, const QString &name);
    void Clear();

    // Every cookie held that has not expired.
    QList<Cookie> AllCookies();
    // The cookies a browser would send to `url`, longest path first.
    QList<Cookie> CookiesForUrl(const QString &url);
    // "name=value; name2=value2" for `url`, or an empty text.
    QString CookieHeader(const QString &url);
    // True when the cookie `name` for `url` has expired and no other took
    // its place: a login that has ended, not one never made. The store
    // remembers an expired cookie (in its file too) for 30 days, never
    // sending it.
    bool HasExpired(const QString &url, const QString &name);

    // Adds the cookies of a cookies.txt file as exported by a browser
    // extension (its first kMaxImportBytes). Returns the number of cookies
    // taken, -1 when the file cannot be read.
    int ImportFile(const QString &path);
    static constexpr qint64 kMaxImportBytes = qint64(16) << 20;
    int ImportText(QByteArrayView text);

    // After an exchange: `before` is what the exchange was given, `after` what
    // it ended with. New and changed cookies are stored; those that the
    // exchange dropped are removed.
    void MergeExchange(const QList<Cookie> &before, const QList<Cookie> &after);

    // Told of every change to the cookies held, whatever made it: a cookie
    // stored (new or replaced, `removed` false) or dropped (`removed` true).
    // Called on the thread that made the change with the store locked, so an
    // observer must not call the store: it hands the news on (the login
    // browser posts it to its own thread). Returns an id for RemoveObserver.
    using Observer = std::function<void(const Cookie &cookie, bool removed)>;
    int AddObserver(Observer observer);
    void RemoveObserver(int id);

    // What the store keeps at most, as browsers bound theirs: a page that
    // sets thousands of cookies evicts the oldest, not the memory or the file.
    // Past kMaxCookies the oldest cookies of the site (a domain and the
    // hosts below it: "sinaimg.cn") holding the most go, and the sites of a
    // login (weibo.com, weibo.cn, sina.com.cn, sina.cn) give way only when
    // no other site has a cookie left: picture hosts that set many cookies
    // never evict a login.
    static constexpr int kMaxCookiesPerDomain = 180;
    static constexpr int kMaxCookies = 3300;
    static constexpr int kMaxNameValueBytes = 4096;

private:
    // What identifies the file on disk, to tell whether another process
    // replaced it.
    struct FileStamp {
        bool exists = false;
        std::int64_t inode = 0;
        std::int64_t size = 0;
        std::int64_t modifiedNs = 0;
        bool operator==(const FileStamp &) const = default;
    };

    CookieStore() = default;
    static FileStamp StampOf(const QString &path);
    void LoadLocked();
    void SaveLocked();
    void PrepareFolderLocked();
    // The cookies of the file (none when there is no file), and its stamp;
    // nothing when it is there but cannot be read.
    std::optional<QList<Cookie>> ReadFileLocked(FileStamp &stamp);
    void MergeFileLocked();
    // True when the store changed.
    bool PutLocked(const Cookie &cookie);
    QList<Cookie> MatchUrl(const QString &url, bool expiredToo);
    bool RemoveLocked(const Cookie &key);
    void NotifyLocked(const Cookie &cookie, bool removed);
    void NoteChangeLocked(const Cookie &key);
    void EvictFromDomainLocked(const QString &domain);
    // Brings the store within kMaxCookies; each public change ends with it.
    void BoundLocked();

    std::mutex m_mutex;
    bool m_loaded = false;
    bool m_pathSet = false;
    bool m_ownFolder = false; // the file is in the program's own data folder
    QString m_path;
    QList<Cookie> m_cookies; // in order of creation
    // The file as this process last read or wrote it, and when (ms since
    // 1970) each cookie changed here since: what a save merges against.
    QList<Cookie> m_synced;
    FileStamp m_stamp;
    QHash<QString, std::int64_t> m_changedAt;
    std::vector<std::pair<int, Observer>> m_observers;
    int m_nextObserverId = 1;
};

} // namespace tamblin
