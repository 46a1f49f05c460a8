#include "sources/WeiboSession.h"

#include "app/TamblinCore.h"
#include "app/WindowPort.h"
#include "net/CookieStore.h"
#include "net/HttpClient.h"
#include "net/Inflate.h"
#include "sources/Endpoints.h"
#include "sources/ListTexts.h"
#include "sources/SourceSupport.h"
#include "text/TextUtils.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QSet>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <chrono>
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

// Per run, on the run's thread: whether the visitor exchange was tried,
// whether weibo.com was asked for a fresh XSRF-TOKEN, whether a renewal is
// under way (its own requests are not renewed), and whether the person
// passed over a verification.
thread_local bool t_visitorTried = false;
thread_local bool t_homeRefreshed = false;
thread_local bool t_renewing = false;
thread_local bool t_verifyPassedOver = false;

std::mutex g_visitorMutex;
QSet<QString> g_servedSubs; // visitor SUBs that have had an answer

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

// The next renewal of the session, when the run allows one now: at most one
// a minute (counted from the last visitor exchange too) and kMaxRenewals in
// all. The minute shrinks with the service waits.
bool TakeRenewal(const TamblinCore &core)
{
    TamblinCore::SessionRenewals &renewals = core.m_sessionRenewals;
    std::lock_guard lock(renewals.mutex);
    const auto now = std::chrono::steady_clock::now();
    if (renewals.count >= kMaxRenewals || (renewals.last && now - *renewals.last < ScaledWait(kRenewalGapMs)))
        return false;
    ++renewals.count;
    renewals.last = now;
    return true;
}

void NoteExchange(const TamblinCore &core)
{
    std::lock_guard lock(core.m_sessionRenewals.mutex);
    core.m_sessionRenewals.last = std::chrono::steady_clock::now();
}

// The passport's two steps: genvisitor2 names a visitor, the crossdomain
// step sets its SUB and SUBP cookies on weibo.com (they enter the store as
// any answer's cookies do). True when the store then holds a new SUB.
bool VisitorExchange(const TamblinCore &core)
{
    StatusText(core, QString::fromUtf16(texts::kWeiboVisitorAsking));
    const QString before = WeiboCookie(u"SUB");
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
    NoteVisitorSub(sub);

    UrlRequest cross = PageRequest(u"\r\nReferer: "_s + endpoints::WeiboVisitorPageUrl());
    cross.url = endpoints::WeiboVisitorCrossDomainUrl(sub, subp, IdText(data.value(u"tid"_s)),
                                                      RandomFraction().trimmed());
    // Its cookies come with the redirect; where it leads is not wanted.
    cross.followRedirects = false;
    if (!FetchPage(core, source, cross))
        return fail(source.errorText);
    source.body = QByteArray();
    const QString now = WeiboCookie(u"SUB");
    if (now.isEmpty() || now == before)
        return fail(u"no SUB cookie (HTTP %1)"_s.arg(source.status));
    return true;
}

// `headers` of a request to `url` for the session the store holds now: its
// cookie line and, for a call of the web client, its X-XSRF-TOKEN.
QString RenewedHeaders(const QString &headers, const QString &url)
{
    QStringList lines;
    bool ajax = false;
    for (const QString &line : headers.split(u"\r\n"_s)) {
        const QString name = line.section(u':', 0, 0).trimmed();
        if (name.compare(u"X-XSRF-TOKEN"_s, Qt::CaseInsensitive) == 0)
            continue;
        if (name.compare(u"cookie"_s, Qt::CaseInsensitive) == 0) {
            lines.append(CookieLine(url).sliced(2));
            continue;
        }
        ajax = ajax || name.compare(u"X-Requested-With"_s, Qt::CaseInsensitive) == 0;
        lines.append(line);
    }
    QString renewed = lines.join(u"\r\n"_s);
    const QString token = WeiboCookie(u"XSRF-TOKEN");
    if (ajax && !token.isEmpty())
        renewed += u"\r\nX-XSRF-TOKEN: "_s + token;
    return renewed;
}

// Why a call failed and what it asks of the user.
struct Refusal {
    QString why;
    FailureKind kind = FailureKind::Final;
    QString verifyUrl; // the page the person is sent to verify at
};

// An answer that sends the person to `to` to verify: a verification when it
// is an https page of Weibo or Sina, else a plain failure naming its host.
Answer SentToVerify(const QString &to, Refusal &refusal)
{
    if (!endpoints::IsSinaHttpsPage(to)) {
        const QString host = QUrl(to.trimmed()).host();
        refusal.why = QString::fromUtf16(texts::kWeiboVerifyElsewhere).arg(ShownAddress(host.isEmpty() ? to : host));
        refusal.kind = FailureKind::LoginMayHelp;
        return Answer::Failed;
    }
    refusal.verifyUrl = to.trimmed();
    refusal.why = QString::fromUtf16(texts::kWeiboVerify).arg(ShownAddress(refusal.verifyUrl));
    refusal.kind = FailureKind::Verify;
    return Answer::VerifyNeeded;
}

// One request to weibo.com/ajax; `object` gets the answer when it is
// {"ok":1,...}. An answer sent to a login page, or {"ok":-100} naming one,
// needs a login; one sent to verify needs a verification (SentToVerify); any
// other `ok` fails with the service's message in `refusal`.
Answer FetchJsonOnce(const TamblinCore &core, UrlSource &source, const QString &url, const QString &referer,
                     QJsonObject &object, int &ok, Refusal &refusal)
{
    UrlRequest request = PageRequest(AjaxHeaders(referer));
    request.url = url;
    // What the fetch itself notes (a certificate, a rate limit given up on)
    // is this call's reason; an earlier note is kept when the call succeeds.
    FailureKind earlierKind = FailureKind::Final;
    const QString earlier = TakeSourceFailure(&earlierKind);
    if (!FetchPage(core, source, request)) {
        refusal.why = TakeSourceFailure(&refusal.kind);
        if (refusal.why.isEmpty())
            refusal.why = source.errorText;
        return Answer::Failed;
    }
    if (!earlier.isEmpty())
        NoteSourceFailure(earlier, earlierKind);
    if (endpoints::IsLoginPage(source.finalUrl))
        return Answer::LoginNeeded;
    if (endpoints::IsVerificationPage(source.finalUrl))
        return SentToVerify(source.finalUrl, refusal);
    QByteArray bytes;
    if (source.gzipped)
        InflateBody(source.body.constData(), source.body.size(), bytes, source.maxTextBytes);
    else
        bytes = source.body;
    source.body = QByteArray();
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    refusal.kind = FailureKind::LoginMayHelp;
    if (!document.isObject()) {
        // An answer from elsewhere than asked names where it came from.
        const QString host = QUrl(source.finalUrl).host();
        QString status = u"HTTP %1"_s.arg(source.status);
        if (!host.isEmpty() && host.compare(QUrl(url).host(), Qt::CaseInsensitive) != 0)
            status += u", "_s + host;
        refusal.why = QString::fromUtf16(texts::kWeiboError).arg(u"not JSON"_s, status);
        return Answer::Failed;
    }
    object = document.object();
    ok = object.value(u"ok"_s).toVariant().toInt();
    if (ok == -100) {
        const QString to = object.value(u"url"_s).toString();
        if (to.trimmed().isEmpty() || endpoints::IsLoginPage(to))
            return Answer::LoginNeeded;
        return SentToVerify(to, refusal);
    }
    if (ok != 1) {
        QString message = object.value(u"msg"_s).toString();
        if (message.isEmpty())
            message = object.value(u"message"_s).toString();
        QString code = IdText(object.value(u"errno"_s));
        if (code.isEmpty())
            code = IdText(object.value(u"error_code"_s));
        refusal.why = QString::fromUtf16(texts::kWeiboError).arg(message.isEmpty() ? u"ok %1"_s.arg(ok) : message, code);
        // A user that does not exist stays so whoever asks.
        if (code == u"20003"_s)
            refusal.kind = FailureKind::Final;
        return Answer::Failed;
    }
    return Answer::Ok;
}

// The window's login browser at `url`, once per call, unless the person
// passed over a verification this run or the front end has none.
bool AskToVerify(const TamblinCore &core, const QString &url)
{
    if (t_verifyPassedOver || RunStopAsked(core) || !core.m_window)
        return false;
    if (core.m_window->OpenVerification(url))
        return true;
    t_verifyPassedOver = true;
    return false;
}

// A visitor SUB that has had an answer worked; when it is turned away later
// it has run out.
void NoteServed()
{
    const QString sub = WeiboCookie(u"SUB");
    if (!sub.isEmpty() && IsVisitorSub(sub)) {
        std::lock_guard lock(g_visitorMutex);
        g_servedSubs.insert(sub);
    }
}

bool RanOut(const QString &sub)
{
    std::lock_guard lock(g_visitorMutex);
    return g_servedSubs.contains(sub);
}

} // namespace

void StartSession()
{
    t_visitorTried = false;
    t_homeRefreshed = false;
    t_verifyPassedOver = false;
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

bool HasLogin()
{
    const QString sub = WeiboCookie(u"SUB");
    return !sub.isEmpty() && !IsVisitorSub(sub);
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
// Guests: the passport's visitor cookies, tried before a login is offered,
// and renewed when they run out. A login's SUB is never traded for a
// visitor's.

bool GetVisitorCookies(const TamblinCore &core)
{
    if (HasLogin())
        return false;
    const QString sub = WeiboCookie(u"SUB");
    if (!sub.isEmpty() && RanOut(sub)) {
        if (!TakeRenewal(core))
            return false;
    } else {
        if (t_visitorTried)
            return false;
        t_visitorTried = true;
        NoteExchange(core);
    }
    return VisitorExchange(core);
}

bool RenewSession(const TamblinCore &core, UrlRequest &request, int status)
{
    if (t_renewing || RunStopAsked(core) || !TakeRenewal(core))
        return false;
    t_renewing = true;
    StatusText(core, QString::fromUtf16(texts::kWeiboSessionRenewing).arg(status));
    RefreshHome(core);
    if (!HasLogin())
        VisitorExchange(core);
    t_renewing = false;
    request.headers = RenewedHeaders(request.headers, request.url);
    return true;
}

// FetchJsonOnce as a browser lives it: a guest turned away gets visitor
// cookies and asks again; a demand to verify opens the login browser there
// and asks again; another refusal (ok below 0) asks weibo.com for a fresh
// XSRF-TOKEN and asks again. Each once.
Answer FetchJson(const TamblinCore &core, UrlSource &source, const QString &url, const QString &referer,
                 QJsonObject &object, QString *why, FailureKind *kind)
{
    bool visitorAsked = false;
    bool verifyAsked = false;
    for (;;) {
        int ok = 1;
        Refusal refusal;
        const Answer answer = FetchJsonOnce(core, source, url, referer, object, ok, refusal);
        if (answer == Answer::Ok) {
            NoteServed();
        } else if (answer == Answer::LoginNeeded && !visitorAsked) {
            visitorAsked = true;
            if (GetVisitorCookies(core))
                continue;
        } else if (answer == Answer::VerifyNeeded && !verifyAsked) {
            verifyAsked = true;
            if (AskToVerify(core, refusal.verifyUrl))
                continue;
        } else if (answer == Answer::VerifyNeeded) {
            // Shown the page, the person did not pass: not asked again.
            t_verifyPassedOver = true;
        } else if (answer == Answer::Failed && ok < 0 && ok != -100 && !t_homeRefreshed && !RunStopAsked(core)) {
            t_homeRefreshed = true;
            RefreshHome(core);
            continue;
        }
        if (why)
            *why = refusal.why;
        if (kind)
            *kind = refusal.kind;
        return answer;
    }
}

} // namespace tamblin::weibo
