// What outlasts one HTTP exchange: kept-alive connections, name lookups and
// TLS sessions, so that the next picture from the same host skips the TCP and
// TLS handshakes and the slow start of a fresh connection.
//
// Every exchange still builds its own easy handle with its own options; what
// it shares is only where libcurl looks for an idle connection, an address or
// a TLS session. Cookies are not shared here: they stay with CookieStore.
#pragma once

#include <QByteArray>

#include <curl/curl.h>

namespace tamblin {

// libcurl initialised once, and the process-wide share of DNS answers and
// TLS sessions that every easy handle joins (CURLOPT_SHARE). Its lock
// callbacks hold one mutex per kind of data.
CURLSH *CurlShare();

// A multi handle lent to one exchange at a time, with the idle connections
// that earlier exchanges left in its cache. libcurl does not support one
// connection cache used by several threads at once, so connections are
// handed on whole with the multi handle that holds them: a lease takes an
// idle handle whose last exchange went to `origin` (scheme, host and port)
// when there is one, and gives it back for the next exchange when it ends.
class ConnectionLease {
public:
    explicit ConnectionLease(const QByteArray &origin);
    ~ConnectionLease();
    ConnectionLease(const ConnectionLease &) = delete;
    ConnectionLease &operator=(const ConnectionLease &) = delete;

    // Null when libcurl could not make one.
    CURLM *Multi() const { return m_multi; }
    // Where the connection the handle keeps now leads (after redirects);
    // empty when it keeps none worth looking for. A redirected exchange
    // keeps the connection it started on too (`via`): the next exchange
    // that starts there finds both.
    void KeepsConnectionTo(const QByteArray &origin, const QByteArray &via = {})
    {
        m_origin = origin;
        m_via = via == origin ? QByteArray() : via;
    }

private:
    CURLM *m_multi = nullptr;
    QByteArray m_origin;
    QByteArray m_via;
};

// "scheme://host:port" of an absolute address, lower case; empty when it has
// none.
QByteArray OriginOf(const QByteArray &url);

} // namespace tamblin
