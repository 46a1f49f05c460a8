// Starts the fake Sina service (tests/fake_service/fake_service.py) on a
// loopback port for one test and points http_proxy and https_proxy at it, so
// that requests to the real host names reach it, and CURL_CA_BUNDLE at the
// test authority it made, so that its https answers verify. The previous
// settings come back when it is destroyed.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

namespace tamblin::test {

class FakeService {
public:
    // `dataJson` is the content of the service's data file (see
    // tests/fake_service/README.md).
    explicit FakeService(const QByteArray &dataJson);
    ~FakeService();
    FakeService(const FakeService &) = delete;
    FakeService &operator=(const FakeService &) = delete;

    bool IsRunning() const { return m_port != 0; }
    quint16 Port() const { return m_port; }
    QString ProxyUrl() const;
    // A folder beside the data file, for files the data names ("body_file").
    QString DataDir() const { return m_dir.path(); }
    // The certificate of the service's test authority.
    QString CaBundlePath() const;
    // Makes the certificate store Chromium reads, `home`/.pki/nssdb, trust
    // that authority (start.sh's trust_fake_service_in_browser); the login
    // browser must then run with HOME=`home`. False when certutil failed.
    bool TrustInBrowser(const QString &home) const;

    // Every request the service saw, in order: {"method", "url", "headers"
    // as [[name, value], ...]}.
    // A CONNECT is logged with "host:port" as its url.
    QJsonArray Requests() const;
    // The addresses asked for, CONNECT tunnels left out.
    QStringList RequestedUrls() const;
    // The value of header `name` (case-insensitive) of the first request of
    // `url`; nullopt when the request or the header is missing.
    std::optional<QString> RequestHeader(const QString &url, const QString &name) const;

    static QString ScriptPath();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    std::optional<QByteArray> m_savedProxy;
    std::optional<QByteArray> m_savedHttpsProxy;
    std::optional<QByteArray> m_savedCaBundle;
    std::optional<QByteArray> m_savedNoProxy;
    std::optional<QByteArray> m_savedNoProxyUpper;
};

} // namespace tamblin::test
