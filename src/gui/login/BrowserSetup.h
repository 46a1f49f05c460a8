// The login browser's engine: its start-up flags, whether it can run here,
// and the one profile every login window shares.
#pragma once

#include <QString>

class QWebEngineProfile;

namespace tamblin {

// Call once before the application object is constructed (later calls only
// redo what can still take effect). Chromium gets the proxy of
// http_proxy, https_proxy and no_proxy, as the engine's requests use it;
// as root, where Chromium refuses its sandbox, the sandbox is turned off
// with one line on standard error; without OpenGL, pages are drawn in
// software. LoginProfile() calls it too.
void PrepareLoginBrowser();

// Chromium's proxy flags for the proxy environment variables, as curl reads
// them; empty when no proxy is set.
QString ChromiumProxyFlags();

// True when the login browser can run in this process; otherwise `why`
// names what is missing.
bool LoginBrowserAvailable(QString *why = nullptr);
// What the window shows instead of the browser, with the other way to log in.
QString LoginBrowserUnavailableText(const QString &why);

// Hands the browser's latest cookie changes to the store now (they are
// gathered for a moment first); nothing when no login window was ever made.
void FlushLoginCookies();

#ifdef TAMBLIN_HAVE_WEBENGINE
// The profile of every login window, created on first use: persistent,
// beside the cookie store's file (off the record when the store lives in
// memory only), its cookies bridged both ways with CookieStore. It lives
// until the application object ends.
QWebEngineProfile *LoginProfile();
#endif

} // namespace tamblin
