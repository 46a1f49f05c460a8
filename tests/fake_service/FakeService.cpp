#include "FakeService.h"

#include "TestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace tamblin::test {

using namespace Qt::StringLiterals;

namespace {

std::optional<QByteArray> SaveEnv(const char *name)
{
    if (!qEnvironmentVariableIsSet(name))
        return std::nullopt;
    return qgetenv(name);
}

void RestoreEnv(const char *name, const std::optional<QByteArray> &value)
{
    if (value)
        qputenv(name, *value);
    else
        qunsetenv(name);
}

} // namespace

QString FakeService::ScriptPath()
{
    return SourceDir() + u"/tests/fake_service/fake_service.py"_s;
}

FakeService::FakeService(const QByteArray &dataJson)
{
    const QString dataPath = m_dir.filePath(u"data.json"_s);
    QFile data(dataPath);
    if (!data.open(QIODevice::WriteOnly) || data.write(dataJson) != dataJson.size())
        return;
    data.close();

    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(u"python3"_s, {ScriptPath(), u"--data"_s, dataPath, u"--port"_s, u"0"_s,
                                   u"--log"_s, m_dir.filePath(u"requests.jsonl"_s), u"--tls-dir"_s,
                                   m_dir.filePath(u"tls"_s), u"--exit-with-stdin"_s});
    if (!m_process.waitForStarted(10000))
        return;
    // The service prints its port once it listens.
    QByteArray line;
    while (!line.endsWith('\n') && m_process.waitForReadyRead(15000))
        line += m_process.readLine();
    bool ok = false;
    const uint port = line.trimmed().toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return;
    m_port = quint16(port);

    m_savedProxy = SaveEnv("http_proxy");
    m_savedHttpsProxy = SaveEnv("https_proxy");
    m_savedCaBundle = SaveEnv("CURL_CA_BUNDLE");
    m_savedNoProxy = SaveEnv("no_proxy");
    m_savedNoProxyUpper = SaveEnv("NO_PROXY");
    qputenv("http_proxy", ProxyUrl().toUtf8());
    qputenv("https_proxy", ProxyUrl().toUtf8());
    qputenv("CURL_CA_BUNDLE", QFile::encodeName(CaBundlePath()));
    qunsetenv("no_proxy");
    qunsetenv("NO_PROXY");
}

FakeService::~FakeService()
{
    if (m_port != 0) {
        RestoreEnv("http_proxy", m_savedProxy);
        RestoreEnv("https_proxy", m_savedHttpsProxy);
        RestoreEnv("CURL_CA_BUNDLE", m_savedCaBundle);
        RestoreEnv("no_proxy", m_savedNoProxy);
        RestoreEnv("NO_PROXY", m_savedNoProxyUpper);
    }
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString FakeService::ProxyUrl() const
{
    return u"http://127.0.0.1:%1"_s.arg(m_port);
}

QString FakeService::CaBundlePath() const
{
    return m_dir.filePath(u"tls/ca.pem"_s);
}

bool FakeService::TrustInBrowser(const QString &home) const
{
    QProcess certutil;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"CURL_CA_BUNDLE"_s, CaBundlePath());
    certutil.setProcessEnvironment(env);
    certutil.setProcessChannelMode(QProcess::ForwardedChannels);
    certutil.start(u"bash"_s, {u"-c"_s, u". \"$0\" && trust_fake_service_in_browser \"$1\""_s,
                                SourceDir() + u"/tests/fake_service/start.sh"_s, home});
    return certutil.waitForFinished(30000) && certutil.exitStatus() == QProcess::NormalExit
        && certutil.exitCode() == 0;
}

QJsonArray FakeService::Requests() const
{
    QJsonArray requests;
    QFile log(m_dir.filePath(u"requests.jsonl"_s));
    if (!log.open(QIODevice::ReadOnly))
        return requests;
    while (!log.atEnd()) {
        const QByteArray line = log.readLine().trimmed();
        if (!line.isEmpty())
            requests.append(QJsonDocument::fromJson(line).object());
    }
    return requests;
}

QStringList FakeService::RequestedUrls() const
{
    QStringList urls;
    for (const QJsonValue &request : Requests()) {
        if (request.toObject().value(u"method"_s).toString() != u"CONNECT"_s)
            urls.append(request.toObject().value(u"url"_s).toString());
    }
    return urls;
}

std::optional<QString> FakeService::RequestHeader(const QString &url, const QString &name) const
{
    for (const QJsonValue &request : Requests()) {
        const QJsonObject object = request.toObject();
        if (object.value(u"url"_s).toString() != url)
            continue;
        for (const QJsonValue &header : object.value(u"headers"_s).toArray()) {
            const QJsonArray pair = header.toArray();
            if (pair.at(0).toString().compare(name, Qt::CaseInsensitive) == 0)
                return pair.at(1).toString();
        }
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace tamblin::test
