#include "LoopbackServer.h"

#include "TestSupport.h"

#include <QDir>

namespace tamblin::test {

namespace {
const char *const kProxyVariables[6] = {"http_proxy", "https_proxy", "no_proxy", "HTTPS_PROXY", "NO_PROXY", "ALL_PROXY"};
}

LoopbackServer::LoopbackServer(const QString &script)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("python3"), {QDir(SourceDir()).filePath(script)});
    if (!m_process.waitForStarted(10000))
        return;
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(10000))
            return;
    }
    const QByteArray line = m_process.readLine().trimmed();
    if (line.startsWith("PORT "))
        m_port = quint16(line.mid(5).toUInt());
}

LoopbackServer::~LoopbackServer()
{
    // The server ends when its input closes.
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

QString LoopbackServer::Url(const QString &pathAndQuery) const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port) + pathAndQuery;
}

NoProxyEnvironment::NoProxyEnvironment()
{
    for (int i = 0; i < 6; ++i) {
        m_saved[i] = qgetenv(kProxyVariables[i]);
        qunsetenv(kProxyVariables[i]);
    }
}

NoProxyEnvironment::~NoProxyEnvironment()
{
    for (int i = 0; i < 6; ++i) {
        if (m_saved[i].isNull())
            qunsetenv(kProxyVariables[i]);
        else
            qputenv(kProxyVariables[i], m_saved[i]);
    }
}

} // namespace tamblin::test
