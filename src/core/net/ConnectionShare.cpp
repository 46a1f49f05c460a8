#include "net/ConnectionShare.h"

#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <vector>

namespace tamblin {

namespace {

using Clock = std::chrono::steady_clock;

// libcurl itself stops reusing a connection idle for 118 s; a handle idle
// that long keeps nothing worth a file descriptor.
constexpr std::chrono::seconds kIdleLimit{120};
// Idle multi handles kept at most, each with the connection of its last
// exchange: the largest worker count (15) and a margin for the list and
// cover fetches running beside a download.
constexpr std::size_t kIdleHandles = 24;
// Connections one multi handle keeps: its last exchange's, and one more for
// an exchange that was redirected to another host.
constexpr long kConnectionsPerHandle = 2;

// Never destroyed: an exchange still running on a worker thread at exit
// must not find them gone.
std::mutex *const g_shareLocks = new std::mutex[CURL_LOCK_DATA_LAST];

void LockShare(CURL *, curl_lock_data data, curl_lock_access, void *)
{
    g_shareLocks[data].lock();
}

void UnlockShare(CURL *, curl_lock_data data, void *)
{
    g_shareLocks[data].unlock();
}

struct IdleHandle {
    CURLM *multi;
    QByteArray origin;
    QByteArray via; // where a redirected exchange started, or empty
    Clock::time_point since;
};

class IdleHandles {
public:
    CURLM *Take(const QByteArray &origin)
    {
        std::vector<CURLM *> stale;
        CURLM *found = nullptr;
        {
            std::lock_guard lock(m_mutex);
            DropStale(stale);
            // The most recently used handle for the host has the warmest
            // connection; one that keeps nothing will do for any host.
            auto last = [&](const QByteArray &want) {
                return std::find_if(m_idle.rbegin(), m_idle.rend(), [&](const IdleHandle &h) {
                    return h.origin == want || (!want.isEmpty() && h.via == want);
                });
            };
            auto it = last(origin);
            if (it == m_idle.rend() && !origin.isEmpty())
                it = last(QByteArray());
            if (it != m_idle.rend()) {
                found = it->multi;
                m_idle.erase(std::next(it).base());
            }
        }
        Close(stale);
        return found ? found : NewHandle();
    }

    void Give(CURLM *multi, const QByteArray &origin, const QByteArray &via)
    {
        std::vector<CURLM *> stale;
        {
            std::lock_guard lock(m_mutex);
            m_idle.push_back({multi, origin, via, Clock::now()});
            DropStale(stale);
            while (m_idle.size() > kIdleHandles) {
                stale.push_back(m_idle.front().multi);
                m_idle.erase(m_idle.begin());
            }
        }
        Close(stale);
    }

private:
    static CURLM *NewHandle()
    {
        CURLM *multi = curl_multi_init();
        if (multi)
            curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, kConnectionsPerHandle);
        return multi;
    }

    void DropStale(std::vector<CURLM *> &stale)
    {
        const Clock::time_point now = Clock::now();
        while (!m_idle.empty() && now - m_idle.front().since > kIdleLimit) {
            stale.push_back(m_idle.front().multi);
            m_idle.erase(m_idle.begin());
        }
    }

    // Closing sends TLS close notifications: done outside the lock.
    static void Close(const std::vector<CURLM *> &handles)
    {
        for (CURLM *multi : handles)
            curl_multi_cleanup(multi);
    }

    std::mutex m_mutex;
    std::vector<IdleHandle> m_idle; // oldest first
};

IdleHandles &Idle()
{
    static IdleHandles *const idle = new IdleHandles;
    return *idle;
}

} // namespace

CURLSH *CurlShare()
{
    static CURLSH *const share = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        CURLSH *s = curl_share_init();
        if (s) {
            curl_share_setopt(s, CURLSHOPT_LOCKFUNC, &LockShare);
            curl_share_setopt(s, CURLSHOPT_UNLOCKFUNC, &UnlockShare);
            curl_share_setopt(s, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
            curl_share_setopt(s, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        }
        return s;
    }();
    return share;
}

ConnectionLease::ConnectionLease(const QByteArray &origin) : m_multi(Idle().Take(origin)) {}

ConnectionLease::~ConnectionLease()
{
    if (m_multi)
        Idle().Give(m_multi, m_origin, m_via);
}

QByteArray OriginOf(const QByteArray &url)
{
    const QUrl parsed = QUrl::fromEncoded(url);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || parsed.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        return {};
    const int port = parsed.port(scheme == u"https" ? 443 : 80);
    return scheme.toLatin1() + "://" + parsed.host(QUrl::FullyEncoded).toLower().toLatin1() + ':'
        + QByteArray::number(port);
}

} // namespace tamblin
