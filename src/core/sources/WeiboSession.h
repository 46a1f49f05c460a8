// The Weibo room's session with the service: the cookie line and the
// headers of the web client, the passport's visitor cookies for a guest, the
// renewals a browser makes (XSRF-TOKEN, visitor cookies that ran out, a
// session Weibo blocked), the demands to verify, and one call that asks
// weibo.com/ajax for a JSON answer or a reason. Every other part of the room
// asks through it.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringView>

#include <cstdint>

class QJsonValue;

namespace tamblin {

class TamblinCore;
class UrlSource;
struct UrlRequest;
enum class FailureKind;

namespace weibo {

// Starts a run's session on this thread: the visitor exchange and the
// XSRF-TOKEN renewal may be tried again, and a verification the person
// passed over may be asked again.
void StartSession();

// The cookie line of a request to `url`: the login goes only to the Weibo
// hosts and only over https; elsewhere the line is sent empty.
QString CookieLine(const QString &url);

// The value of cookie `name` the store sends to weibo.com over https.
QString WeiboCookie(QStringView name);

// The store holds a login's SUB (not a visitor's).
bool HasLogin();

// Ids and cursors as the service writes them.
bool IsPictureId(const QString &pid);
bool AllDigits(QStringView text);
bool IsPostId(const QString &mid);
QString IdText(const QJsonValue &value);

// A status text on the line the run shows: the picture line while a
// download runs, else the main line.
void StatusText(const TamblinCore &core, const QString &text);

// Renewals of the session a run allows (the store's visitor cookies that ran
// out, a session Weibo blocked): one a minute, counted from the last visitor
// exchange too, and kMaxRenewals in all.
inline constexpr int kMaxRenewals = 5;
inline constexpr std::int64_t kRenewalGapMs = 60 * 1000;

// The passport's visitor exchange for a guest turned away, never over a
// login: tried once per run, and again when the visitor cookies it gave
// worked and have run out (as a renewal); true when the store then holds a
// fresh SUB.
bool GetVisitorCookies(const TamblinCore &core);

// A Weibo page answered `status` (432 or 418, a session Weibo distrusts):
// renews what a browser would renew, the XSRF-TOKEN (from weibo.com's home
// page) and, for a guest, the visitor cookies, and rewrites the cookie line
// and X-XSRF-TOKEN of `request` for the fresh session. False when the run
// allows no renewal now (the bounds above, a stop, a renewal under way).
bool RenewSession(const TamblinCore &core, UrlRequest &request, int status);

enum class Answer { Ok, LoginNeeded, VerifyNeeded, Failed };

// One call to weibo.com/ajax as a browser lives it: `object` gets the answer
// when it is {"ok":1,...}. An answer sent to a login page, or {"ok":-100}
// naming one, needs a login (after the visitor exchange was tried). One that
// sends the person to verify (a redirect to a verification or "sorry" page,
// or {"ok":-100} naming another page) needs a verification when it names an
// https page of Weibo or Sina: the window's login browser is opened there
// once, and the call asked again after it; any other address fails naming
// its host. Another refusal (ok below 0) renews the XSRF-TOKEN once per run
// and asks again. `why` gets the reason of a failure, `kind` what it asks of
// the user.
Answer FetchJson(const TamblinCore &core, UrlSource &source, const QString &url, const QString &referer,
                 QJsonObject &object, QString *why = nullptr, FailureKind *kind = nullptr);

} // namespace weibo
} // namespace tamblin
