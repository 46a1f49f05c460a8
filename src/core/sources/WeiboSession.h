// The Weibo room's session with the service: the cookie line and the
// headers of the web client, the passport's visitor cookies for a guest, the
// XSRF-TOKEN renewal, and one call that asks weibo.com/ajax for a JSON
// answer or a reason. Every other part of the room asks through it.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringView>

class QJsonValue;

namespace tamblin {

class TamblinCore;
class UrlSource;

namespace weibo {

// Starts a run's session on this thread: the visitor exchange and the
// XSRF-TOKEN renewal may be tried again.
void StartSession();

// The cookie line of a request to `url`: the login goes only to the Weibo
// hosts and only over https; elsewhere the line is sent empty.
QString CookieLine(const QString &url);

// The value of cookie `name` the store sends to weibo.com over https.
QString WeiboCookie(QStringView name);

// Ids and cursors as the service writes them.
bool IsPictureId(const QString &pid);
bool AllDigits(QStringView text);
bool IsPostId(const QString &mid);
QString IdText(const QJsonValue &value);

// A status text on the line the run shows: the picture line while a
// download runs, else the main line.
void StatusText(const TamblinCore &core, const QString &text);

// The passport's visitor exchange, tried at most once per run and never over
// a login; true when the store then holds a SUB.
bool GetVisitorCookies(const TamblinCore &core);

enum class Answer { Ok, LoginNeeded, Failed };

// One call to weibo.com/ajax as a browser lives it: `object` gets the answer
// when it is {"ok":1,...}; an answer sent to a login page, or {"ok":-100},
// needs a login (after the visitor exchange was tried); any other failure
// gives the service's message in `why`. Another refusal (ok below 0) renews
// the XSRF-TOKEN once per run and asks again.
Answer FetchJson(const TamblinCore &core, UrlSource &source, const QString &url, const QString &referer,
                 QJsonObject &object, QString *why = nullptr);

} // namespace weibo
} // namespace tamblin
