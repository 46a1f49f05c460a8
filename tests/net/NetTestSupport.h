// Shared set-up of the HTTP client's tests: the scripted server, no proxy,
// and a cookie store of the test's own.
#pragma once

#include "LoopbackServer.h"
#include "TestSupport.h"
#include "net/CookieStore.h"
#include "net/HttpClient.h"
#include "net/Inflate.h"

#include <gtest/gtest.h>

#include <QUrl>

#include <chrono>
#include <memory>

namespace tamblin::test {

class NetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_server = std::make_unique<LoopbackServer>(); }
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(s_server && s_server->IsRunning()) << "the loopback server did not start";
        CookieStore::Instance().SetFilePath(m_dir.File(QStringLiteral("cookies.txt")));
    }

    static QString Url(const QString &pathAndQuery) { return s_server->Url(pathAndQuery); }
    // Query value with every byte that could be taken for syntax escaped.
    static QString Q(const QByteArray &value) { return QString::fromLatin1(QUrl::toPercentEncoding(QString::fromUtf8(value))); }

    // A request that fails at once instead of pausing a second first.
    static UrlRequest Request(const QString &url, const QString &file = QString())
    {
        UrlRequest request(QString(), QString(), 20000);
        request.url = url;
        request.filePath = file;
        request.retryDelaySec = 0;
        return request;
    }

    // Requests the server has seen that carried key=`key`.
    static int Hits(const QString &key)
    {
        UrlSource source;
        UrlRequest request = Request(Url(QStringLiteral("/hits?key=") + key));
        if (!source.Fetch(request, 0))
            return -1;
        return source.body.toInt();
    }

    static inline std::unique_ptr<LoopbackServer> s_server;
    NoProxyEnvironment m_noProxy;
    TempDir m_dir;
};

// Milliseconds taken by `run`.
template<typename F>
qint64 TimeMs(F &&run)
{
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

} // namespace tamblin::test
