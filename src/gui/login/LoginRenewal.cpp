#include "login/LoginRenewal.h"

#include "login/BrowserSetup.h"
#include "net/CookieStore.h"

#include <QUrl>

#include <algorithm>

#ifdef TAMBLIN_HAVE_WEBENGINE
#include <QWebEnginePage>
#endif

using namespace Qt::StringLiterals;

namespace tamblin {

namespace {

const QString kWeiboHome = u"https://weibo.com/"_s;
const QString kPassport = u"https://passport.weibo.com/"_s;

// A page may go on after its load has finished (script redirects, late
// cookies); it has settled once it stayed quiet this long.
constexpr int kSettleMs = 1000;
constexpr int kDeadlineMs = 20000;

// "value expiry" of the live login cookie, empty when there is none.
QString LoginCookie()
{
    for (const Cookie &cookie : CookieStore::Instance().CookiesForUrl(kWeiboHome)) {
        if (cookie.name == u"SUB"_s)
            return cookie.value + u' ' + QString::number(cookie.expires);
    }
    return QString();
}

} // namespace

bool WeiboLoginRenewal::CanRenew()
{
    if (!LoginBrowserAvailable())
        return false;
    const QList<Cookie> passport = CookieStore::Instance().CookiesForUrl(kPassport);
    return std::any_of(passport.begin(), passport.end(), [](const Cookie &c) { return c.name == u"ALF"_s; });
}

WeiboLoginRenewal::WeiboLoginRenewal(QObject *parent)
    : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(kDeadlineMs);
    connect(&m_settle, &QTimer::timeout, this, &WeiboLoginRenewal::Finish);
    connect(&m_deadline, &QTimer::timeout, this, &WeiboLoginRenewal::Finish);
}

WeiboLoginRenewal::~WeiboLoginRenewal()
{
    // The page goes before the profile does, at the end of the program.
    delete m_page;
}

void WeiboLoginRenewal::Start()
{
    m_loginBefore = LoginCookie();
#ifdef TAMBLIN_HAVE_WEBENGINE
    if (LoginBrowserAvailable()) {
        m_page = new QWebEnginePage(LoginProfile());
        connect(m_page, &QWebEnginePage::loadStarted, &m_settle, qOverload<>(&QTimer::stop));
        connect(m_page, &QWebEnginePage::loadFinished, &m_settle, qOverload<>(&QTimer::start));
        m_deadline.start();
        m_page->load(QUrl(kWeiboHome));
        return;
    }
#endif
    // Nothing to renew with: finished() comes once the caller listens.
    QTimer::singleShot(0, this, &WeiboLoginRenewal::Finish);
}

void WeiboLoginRenewal::Finish()
{
    if (m_done)
        return;
    m_done = true;
    m_settle.stop();
    m_deadline.stop();
#ifdef TAMBLIN_HAVE_WEBENGINE
    if (m_page)
        m_page->triggerAction(QWebEnginePage::Stop);
#endif
    FlushLoginCookies();
    const QString now = LoginCookie();
    emit finished(!now.isEmpty() && now != m_loginBefore);
}

} // namespace tamblin
