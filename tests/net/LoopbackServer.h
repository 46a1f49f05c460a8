// Starts tests/net/loopback_server.py on an ephemeral loopback port for the
// life of the object, and points the HTTP client's environment at it.
#pragma once

#include <QProcess>
#include <QString>

namespace tamblin::test {

class LoopbackServer {
public:
    // `script` is relative to the source tree.
    explicit LoopbackServer(const QString &script = QStringLiteral("tests/net/loopback_server.py"));
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    bool IsRunning() const { return m_port != 0; }
    quint16 Port() const { return m_port; }
    // "http://127.0.0.1:<port>" followed by `pathAndQuery`.
    QString Url(const QString &pathAndQuery) const;

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// Clears the proxy variables for the life of the object and restores them.
class NoProxyEnvironment {
public:
    NoProxyEnvironment();
    ~NoProxyEnvironment();

private:
    QByteArray m_saved[6];
};

} // namespace tamblin::test
