#include "login/BrowserSetup.h"

#include "net/CookieStore.h"
#include "net/SafeFile.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#ifdef TAMBLIN_HAVE_WEBENGINE
#include "login/CookieBridge.h"

#include <QOpenGLContext>
#include <QPointer>
#include <QQuickWindow>
#include <QWebEngineProfile>
#endif

using namespace Qt::StringLiterals;

namespace tamblin {

namespace {

QString Env(const char *lower, const char *upper = nullptr)
{
    QString value = qEnvironmentVariable(lower).trimmed();
    if (value.isEmpty() && upper)
        value = qEnvironmentVariable(upper).trimmed();
    return value;
}

// "scheme://host:port" from a proxy variable; curl's defaults (http, port
// 1080) fill in what it leaves out.
QString ProxyUri(QString value)
{
    if (!value.contains(u"://"_s))
        value.prepend(u"http://"_s);
    const QUrl url(value);
    if (!url.isValid() || url.host().isEmpty())
        return QString();
    QString host = url.host(QUrl::FullyEncoded);
    if (host.contains(u':'))
        host = u'[' + host + u']';
    return url.scheme().toLower() + u"://"_s + host + u':' + QString::number(url.port(1080));
}

} // namespace

QString ChromiumProxyFlags()
{
    const QString all = Env("all_proxy", "ALL_PROXY");
    // curl leaves an upper-case HTTP_PROXY alone (a CGI program gets it from
    // a request header), and so does this.
    QString http = Env("http_proxy");
    QString https = Env("https_proxy", "HTTPS_PROXY");
    http = ProxyUri(http.isEmpty() ? all : http);
    https = ProxyUri(https.isEmpty() ? all : https);
    if (http.isEmpty() && https.isEmpty())
        return QString();

    const QString noProxy = Env("no_proxy", "NO_PROXY");
    if (noProxy == u"*"_s)
        return QString();
    QStringList rules;
    if (!http.isEmpty())
        rules << u"http="_s + http;
    if (!https.isEmpty())
        rules << u"https="_s + https;
    QString flags = u"--proxy-server="_s + rules.join(u';');

    // curl's "example.com" covers the host and every host below it.
    QStringList bypass;
    for (QString entry : noProxy.split(u',', Qt::SkipEmptyParts)) {
        entry = entry.trimmed();
        if (entry.isEmpty())
            continue;
        if (entry.startsWith(u'.'))
            bypass << u'*' + entry;
        else
            bypass << entry << u"*."_s + entry;
    }
    if (!bypass.isEmpty())
        flags += u" --proxy-bypass-list="_s + bypass.join(u';');
    return flags;
}

void PrepareLoginBrowser()
{
    // Qt WebEngine shares its OpenGL context with the widgets; this only
    // takes effect before the application object exists.
    if (!QCoreApplication::instance())
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);

    static bool flagsSet = false;
    if (!flagsSet) {
        flagsSet = true;
        const QString proxy = ChromiumProxyFlags();
        if (!proxy.isEmpty()) {
            QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
            if (!flags.isEmpty())
                flags += ' ';
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags + proxy.toUtf8());
        }
#ifdef Q_OS_UNIX
        if (geteuid() == 0) {
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
            std::fputs("tamblin: running as root: the login browser runs without the Chromium sandbox\n", stderr);
        }
#endif
    }

#ifdef TAMBLIN_HAVE_WEBENGINE
    // Without OpenGL (no GPU, no software GL either) pages are still drawn,
    // by the software scene graph; Chromium then composites without a GPU.
    // The probe needs the application object.
    static bool graphicsChosen = false;
    if (!graphicsChosen && QGuiApplication::instance()) {
        graphicsChosen = true;
        QOpenGLContext probe;
        if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") && !probe.create()) {
            QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
            std::fputs("tamblin: no OpenGL: the login browser draws in software\n", stderr);
        }
    }
#endif
}

bool LoginBrowserAvailable(QString *why)
{
    QString missing;
#ifndef TAMBLIN_HAVE_WEBENGINE
    missing = u"本程序构建时没有 Qt WebEngine"_s;
#else
    // Qt WebEngine ends the process when its helper or its resources are
    // missing: look where it looks first.
    const auto anyExists = [](const QStringList &paths) {
        return std::any_of(paths.begin(), paths.end(), [](const QString &p) { return QFileInfo::exists(p); });
    };
    const QString appDir = QCoreApplication::applicationDirPath();
    const QString process = u"/QtWebEngineProcess"_s;
    const QString pak = u"/qtwebengine_resources.pak"_s;
    const QString processEnv = qEnvironmentVariable("QTWEBENGINEPROCESS_PATH");
    const QString resourcesEnv = qEnvironmentVariable("QTWEBENGINE_RESOURCES_PATH");
    const QStringList processes = processEnv.isEmpty()
        ? QStringList{QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + process, appDir + process}
        : QStringList{processEnv};
    const QStringList resources = resourcesEnv.isEmpty()
        ? QStringList{QLibraryInfo::path(QLibraryInfo::DataPath) + u"/resources"_s + pak, appDir + pak}
        : QStringList{resourcesEnv + pak};
    const QString platform = QGuiApplication::platformName();
    if (!anyExists(processes))
        missing = u"找不到 QtWebEngineProcess"_s;
    else if (!anyExists(resources))
        missing = u"找不到 Qt WebEngine 的资源文件"_s;
    else if (platform == u"offscreen"_s || platform == u"minimal"_s)
        missing = u"没有可用的显示"_s;
#endif
    if (why)
        *why = missing;
    return missing.isEmpty();
}

QString LoginBrowserUnavailableText(const QString &why)
{
    return u"登录浏览器不可用：%1。\n\n可以在其他浏览器中登录网站，导出 cookies.txt（Netscape 格式），"
           "再运行 tamblin-cli list <网址> --cookies cookies.txt 导入；导入的登录本程序同样使用。"_s.arg(why);
}

#ifdef TAMBLIN_HAVE_WEBENGINE

namespace {

QPointer<QWebEngineProfile> g_profile;
QPointer<CookieBridge> g_bridge;

// Pages go with their windows before the application object ends; the
// profile must go after them and before Qt WebEngine shuts down, whose own
// clean-up routine was added before this one and so runs after it.
void DeleteLoginProfile()
{
    delete g_bridge.data();
    delete g_profile.data();
}

} // namespace

void FlushLoginCookies()
{
    if (g_bridge)
        g_bridge->Flush();
}

QWebEngineProfile *LoginProfile()
{
    if (g_profile)
        return g_profile;
    PrepareLoginBrowser();
    CookieStore &store = CookieStore::Instance();
    const QString cookieFile = store.FilePath();
    if (cookieFile.isEmpty()) {
        g_profile = new QWebEngineProfile();
    } else {
        // The profile holds the login as the cookie store does: the owner's
        // alone (the store's folder keeps its mode when the store did not
        // make it).
        const QString dir = QFileInfo(cookieFile).absolutePath() + u"/browser"_s;
        store.PrepareFolder();
        MakePrivateFolder(dir);
        g_profile = new QWebEngineProfile(u"login"_s);
        g_profile->setPersistentStoragePath(dir);
        g_profile->setCachePath(dir + u"/cache"_s);
    }
    g_bridge = new CookieBridge(g_profile->cookieStore(), store);
    qAddPostRoutine(DeleteLoginProfile);
    return g_profile;
}

#else

void FlushLoginCookies() {}

#endif

} // namespace tamblin
