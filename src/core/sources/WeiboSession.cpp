#include "sources/WeiboSession.h"

#include "app/TamblinCore.h"
#include "app/WindowPort.h"
#include "net/HttpClient.h"
#include "net/Inflate.h"
#include "sources/Endpoints.h"
#include "sources/ListTexts.h"
#include "sources/SourceSupport.h"
#include "text/TextUtils.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QSet>

#include <algorithm>
#include <mutex>

namespace tamblin::weibo {

using namespace Qt::StringLiterals;

namespace {

// The value of cookie `name` in a "a=1; b=2" cookie string.
QString CookieValue(const QString &cookies, QStringView name)
{
    for (QStringView pair : QStringView(cookies).split(u';')) {
        pair = pair.trimmed();
        if (pair.startsWith(name) && pair.sliced(name.size()).startsWith(u'='))
            return pair.sliced(name.size() + 1).toString();
    }
    return {};
}

// Per run, on the run's thread: whether the visitor exchange was tried and
// whether weibo.com was asked for a fresh XSRF-TOKEN.
thread_local bool t_visitorTried = false;
thread_local bool t_homeRefreshed = false;

std::mutex g_visitorMutex;
QSet<QString> g_visitorSubs; // the SUBs the passport gave this process

// The passport writes visitor SUBs as "_2Ak..." (a login's are "_2A2...").
bool IsVisitorSub(const QString &sub)
{
    if (sub.startsWith(u"_2Ak"_s))
        return true;
    std::lock_guard lock(g_visitorMutex);
    return g_visitorSubs.contains(sub);
}

bool HasLoginSub()
{
    const QString sub = WeiboCookie(u"SUB");
    return !sub.isEmpty() && !IsVisitorSub(sub);
}

// The JSON object of a JSONP answer: its outermost braces, whatever wraps
// them.
QJsonObject JsonpObject(const QString &text)
{
    const qsizetype open = text.indexOf(u'{');
    const qsizetype close = text.lastIndexOf(u'}');
    if (open < 0 || close < open)
        return {};
    return QJsonDocument::fromJson(text.sliced(open, close - open + 1).toUtf8()).object();
}

// The headers the web client sends to weibo.com/ajax: from the user's page
// `referer`, as XMLHttpRequest, with the XSRF-TOKEN cookie echoed when there
// is one (read at each request: a refresh may have renewed it). The cookies
// themselves come from the store, over https.
QString AjaxHeaders(const QString &referer)
{
    QString headers = u"\r\nReferer: "_s + referer
        + u"\r\nX-Requested-With: XMLHttpRequest\r\nAccept: application/json, text/plain, */*"_s;
    const QString token = WeiboCookie(u"XSRF-TOKEN");
    if (!token.isEmpty())
        headers += u"\r\nX-XSRF-TOKEN: "_s + token;
    return headers;
}

// Asks weibo.com's home page, whose answer renews the XSRF-TOKEN cookie.
void RefreshHome(const TamblinCore &core)
{
    UrlSource source;
    UrlRequest request = PageRequest();
    request.url = endpoints::WeiboSiteRootUrl();
    FetchPage(core, source, request);
}

// One request to weibo.com/ajax; `object` gets the answer when it is
// {"ok":1,...}. An answer sent to a login page, or {"ok":-100}, needs a
// login; any other `ok` fails with the service's message in `why`.
Answer FetchJsonOnce(const TamblinCore &core, UrlSource &source, const QString &url, const QString &referer,
                     QJsonObject &object, int &ok, QString &why)
{
    UrlRequest request = PageRequest(AjaxHeaders(referer));
    request.url = url;
    if (!FetchPage(core, source, request))
        return Answer::Failed;
    if (endpoints::IsLoginPage(source.finalUrl))
        return Answer::LoginNeeded;
    QByteArray bytes;
    if (source.gzipped)
        InflateBody(source.body.constData(), source.body.size(), bytes, source.maxTextBytes);
    else
        bytes = source.body;
    source.body = QByteArray();
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject()) {
        why = QString::fromUtf16(texts::kWeiboError).arg(u"not JSON"_s, u"HTTP %1"_s.arg(source.status));
        return Answer::Failed;
    }
    object = document.object();
    ok = object.value(u"ok"_s).toVariant().toInt();
    if (ok == -100)
        return Answer::LoginNeeded;
    if (ok != 1) {
        QString message = object.value(u"msg"_s).toString();
        if (message.isEmpty())
            message = object.value(u"message"_s).toString();
        QString code = IdText(object.value(u"errno"_s));
        if (code.isEmpty())
            code = IdText(object.value(u"error_code"_s));
        why = QString::fromUtf16(texts::kWeiboError).arg(message.isEmpty() ? u"ok %1"_s.arg(ok) : message, code);
        return Answer::Failed;
    }
    return Answer::Ok;
}

} // namespace

void StartSession()
{
    t_visitorTried = false;
    t_homeRefreshed = false;
}

// The cookie line of a request to `url`: the login goes only to the Weibo
// hosts and only over https; elsewhere the line is sent empty, which also
// keeps the cookie store's cookies off the request.
QString CookieLine(const QString &url)
{
    const bool secure = url.trimmed().startsWith(u"https://"_s, Qt::CaseInsensitive);
    return u"\r\ncookie: "_s
        + (secure && endpoints::IsWeiboHost(url) ? GetUrlCookies(endpoints::WeiboSiteRootUrl()) : QString());
}

// The value of cookie `name` the store sends to weibo.com over https.
QString WeiboCookie(QStringView name)
{
    return CookieValue(GetUrlCookies(endpoints::WeiboSiteRootUrl()), name);
}

// A picture id: letters and digits only, so that no address or file name
// can be steered by one.
bool IsPictureId(const QString &pid)
{
    if (pid.isEmpty() || pid.size() > 64)
        return false;
    for (QChar c : pid) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')))
            return false;
    }
    return true;
}

bool AllDigits(QStringView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// A post id (mid): decimal, as the web client writes it.
bool IsPostId(const QString &mid)
{
    return mid.size() <= 24 && AllDigits(mid);
}

// A JSON id or cursor as text: strings as they stand, integers in full.
QString IdText(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble()) {
        const double number = value.toDouble();
        const qint64 whole = value.toInteger();
        return double(whole) == number ? QString::number(whole) : QString::number(number, 'f', 0);
    }
    return {};
}

// A status text on the line the run shows: the picture line while a
// download runs, else the main line.
void StatusText(const TamblinCore &core, const QString &text)
{
    if (core.m_window)
        core.m_window->SetItemText(core.m_downState != 0 ? kIdStatusPicture : kIdStatusMain, text);
}

// ---------------------------------------------------------------------------
// Guests: the passport's visitor cookies, tried once per run before a login
// is offered. A login's SUB is never traded for a visitor's.

// The visitor exchange: genvisitor2 names a visitor, the crossdomain step
// sets its SUB and SUBP cookies on weibo.com (they enter the store as any
// answer's cookies do). True when the store then holds a SUB. Not run twice
// in one run, nor over a login.
bool GetVisitorCookies(const TamblinCore &core)
{
    if (t_visitorTried || HasLoginSub())
        return false;
    t_visitorTried = true;
    StatusText(core, QString::fromUtf16(texts::kWeiboVisitorAsking));
    auto fail = [&core](const QString &why) {
        StatusText(core, QString::fromUtf16(texts::kWeiboVisitorFailed).arg(why));
        return false;
    };

    UrlSource source;
    UrlRequest request =
        PageRequest(u"\r\nContent-Type: application/x-www-form-urlencoded\r\nReferer: "_s + endpoints::WeiboVisitorPageUrl());
    request.url = endpoints::WeiboVisitorGenUrl();
    request.verb = u"POST"_s;
    request.postBody = endpoints::kWeiboVisitorForm.toString().toUtf8();
    if (!FetchPage(core, source, request))
        return fail(source.errorText);
    const QJsonObject answer = JsonpObject(TakeText(source, kTextInflate | kTextUtf8));
    if (answer.isEmpty())
        return fail(u"the passport's answer is not JSON"_s);
    const QString retcode = IdText(answer.value(u"retcode"_s));
    const QJsonObject data = answer.value(u"data"_s).toObject();
    const QString sub = data.value(u"sub"_s).toString();
    const QString subp = data.value(u"subp"_s).toString();
    if (retcode != u"20000000"_s || sub.isEmpty() || subp.isEmpty())
        return fail(u"%1 (retcode %2)"_s.arg(answer.value(u"msg"_s).toString(), retcode));
    {
        std::lock_guard lock(g_visitorMutex);
        g_visitorSubs.insert(sub);
    }

    UrlRequest cross = PageRequest(u"\r\nReferer: "_s + endpoints::WeiboVisitorPageUrl());
    cross.url = endpoints::WeiboVisitorCrossDomainUrl(sub, subp, RandomFraction().trimmed());
    // Its cookies come with the redirect; where it leads is not wanted.
    cross.followRedirects = false;
    if (!FetchPage(core, source, cross))
        return fail(source.errorText);
    source.body = QByteArray();
    if (WeiboCookie(u"SUB").isEmpty())
        return fail(u"no SUB cookie (HTTP %1)"_s.arg(source.status));
    return true;
}

// FetchJsonOnce as a browser lives it: a guest turned away gets visitor
// cookies and asks again; another refusal (ok below 0) asks weibo.com for a
// fresh XSRF-TOKEN and asks again. Each once.
Answer FetchJson(const TamblinCore &core, UrlSource &source, const QString &url, const QString &referer,
                 QJsonObject &object, QString *why)
{
    bool visitorAsked = false;
    for (;;) {
        int ok = 1;
        QString failure;
        const Answer answer = FetchJsonOnce(core, source, url, referer, object, ok, failure);
        if (answer == Answer::LoginNeeded && !visitorAsked) {
            visitorAsked = true;
            if (GetVisitorCookies(core))
                continue;
        } else if (answer == Answer::Failed && ok < 0 && !t_homeRefreshed && !RunStopAsked(core)) {
            t_homeRefreshed = true;
            RefreshHome(core);
            continue;
        }
        if (why)
            *why = failure;
        return answer;
    }
}

} // namespace tamblin::weibo
