// Keeps the login browser's cookies and the engine's CookieStore the same,
// both ways: what a page sets or deletes reaches the store (and so
// GetUrlCookies and the cookies.txt file other processes read), and what
// reaches the store another way (an imported cookies.txt, Set-Cookie answers
// of the engine's own requests) is given to the browser.
#pragma once

#include "net/CookieStore.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

class QNetworkCookie;
class QWebEngineCookieStore;

namespace tamblin {

// The store's form of a browser cookie; nullopt for one without a domain.
std::optional<Cookie> FromBrowserCookie(const QNetworkCookie &cookie);
// The browser's form of a store cookie, and the address it belongs to
// (https for a secure cookie); a host-only cookie is given no domain, so
// that it stays on its host.
QNetworkCookie ToBrowserCookie(const Cookie &cookie, QUrl *origin);

class CookieBridge : public QObject {
    Q_OBJECT

public:
    // Gives the browser every cookie of the store, then takes every cookie
    // the browser's profile holds, and from then on follows both. The store
    // wins where both hold a cookie of the same name, domain and path.
    CookieBridge(QWebEngineCookieStore *browser, CookieStore &store, QObject *parent = nullptr);
    // Hands over what is still pending.
    ~CookieBridge() override;

    // Browser changes are gathered for a moment and written to the store in
    // one go (a page can set thousands of cookies, and every store change
    // rewrites its file); this writes them now.
    void Flush();

private:
    void OnBrowserCookie(const QNetworkCookie &cookie, bool removed);
    void OnStoreChange(const Cookie &cookie, bool removed);

    QWebEngineCookieStore *m_browser;
    CookieStore &m_store;
    int m_observer = 0;
    // The latest browser change per cookie key: the cookie, and whether it
    // was removed.
    QHash<QString, std::pair<Cookie, bool>> m_pending;
    QTimer m_flushTimer;
};

} // namespace tamblin
