#include "login/CookieBridge.h"

#include <QDateTime>
#include <QMetaObject>
#include <QNetworkCookie>
#include <QWebEngineCookieStore>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tamblin {

namespace {

// The store tells its observers of every change, also of those the bridge
// itself makes from browser news: those must not go back to the browser.
thread_local bool t_applyingBrowserChanges = false;

constexpr int kFlushDelayMs = 100;

QString Key(const Cookie &cookie)
{
    return cookie.domain + u'\t' + cookie.path + u'\t' + cookie.name;
}

} // namespace

std::optional<Cookie> FromBrowserCookie(const QNetworkCookie &browser)
{
    Cookie cookie;
    QString domain = browser.domain().toLower();
    cookie.hostOnly = !domain.startsWith(u'.');
    if (!cookie.hostOnly)
        domain.remove(0, 1);
    if (domain.isEmpty())
        return std::nullopt;
    cookie.domain = domain;
    cookie.path = browser.path().isEmpty() ? u"/"_s : browser.path();
    cookie.secure = browser.isSecure();
    cookie.httpOnly = browser.isHttpOnly();
    // 0 means a session cookie; a date at or before 1970 has expired anyway.
    cookie.expires = browser.isSessionCookie() ? 0 : std::max<std::int64_t>(1, browser.expirationDate().toSecsSinceEpoch());
    cookie.name = QString::fromUtf8(browser.name());
    cookie.value = QString::fromUtf8(browser.value());
    return cookie;
}

QNetworkCookie ToBrowserCookie(const Cookie &cookie, QUrl *origin)
{
    QNetworkCookie browser(cookie.name.toUtf8(), cookie.value.toUtf8());
    browser.setDomain(cookie.hostOnly ? QString() : u'.' + cookie.domain);
    browser.setPath(cookie.path);
    browser.setSecure(cookie.secure);
    browser.setHttpOnly(cookie.httpOnly);
    if (cookie.expires != 0)
        browser.setExpirationDate(QDateTime::fromSecsSinceEpoch(cookie.expires, Qt::UTC));
    if (origin) {
        origin->clear();
        origin->setScheme(cookie.secure ? u"https"_s : u"http"_s);
        origin->setHost(cookie.domain);
        origin->setPath(cookie.path);
    }
    return browser;
}

CookieBridge::CookieBridge(QWebEngineCookieStore *browser, CookieStore &store, QObject *parent)
    : QObject(parent), m_browser(browser), m_store(store)
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(kFlushDelayMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &CookieBridge::Flush);

    // Store changes arrive on whichever thread made them, with the store
    // locked: only a note to this thread is made there.
    m_observer = m_store.AddObserver([this](const Cookie &cookie, bool removed) {
        if (t_applyingBrowserChanges)
            return;
        QMetaObject::invokeMethod(
            this, [this, cookie, removed] { OnStoreChange(cookie, removed); }, Qt::QueuedConnection);
    });
    for (const Cookie &cookie : m_store.AllCookies())
        OnStoreChange(cookie, false);

    connect(m_browser, &QWebEngineCookieStore::cookieAdded, this,
            [this](const QNetworkCookie &cookie) { OnBrowserCookie(cookie, false); });
    connect(m_browser, &QWebEngineCookieStore::cookieRemoved, this,
            [this](const QNetworkCookie &cookie) { OnBrowserCookie(cookie, true); });
    // Asked after the store's cookies were given, so that a cookie the
    // profile kept from an earlier run comes back as the store has it.
    m_browser->loadAllCookies();
}

CookieBridge::~CookieBridge()
{
    m_store.RemoveObserver(m_observer);
    Flush();
}

void CookieBridge::OnStoreChange(const Cookie &cookie, bool removed)
{
    QUrl origin;
    const QNetworkCookie browser = ToBrowserCookie(cookie, &origin);
    if (removed)
        m_browser->deleteCookie(browser, origin);
    else
        m_browser->setCookie(browser, origin);
}

void CookieBridge::OnBrowserCookie(const QNetworkCookie &browser, bool removed)
{
    const std::optional<Cookie> cookie = FromBrowserCookie(browser);
    if (!cookie)
        return;
    // A replaced cookie is reported removed, then added: the last word counts.
    m_pending.insert(Key(*cookie), {*cookie, removed});
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void CookieBridge::Flush()
{
    m_flushTimer.stop();
    if (m_pending.isEmpty())
        return;
    QList<Cookie> removed;
    QList<Cookie> added;
    for (const auto &[cookie, gone] : std::as_const(m_pending))
        (gone ? removed : added).append(cookie);
    m_pending.clear();
    // A removal takes the store's cookie only when it is the one the browser
    // dropped: a newer one from another route stays.
    t_applyingBrowserChanges = true;
    m_store.MergeExchange(removed, added);
    t_applyingBrowserChanges = false;
}

} // namespace tamblin
