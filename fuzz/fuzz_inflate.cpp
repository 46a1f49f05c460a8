// gzip and zlib inflation of answer bodies, and the decoding of a received
// body to text: any body, compressed or not, stays within its ceiling.
#include "FuzzSupport.h"

#include "net/HttpClient.h"
#include "net/Inflate.h"

using namespace tamblin;
using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::InitOnce();
    FuzzedDataProvider fdp(data, size);
    const qint64 limit = fdp.ConsumeIntegralInRange<qint64>(0, 1 << 20);
    const int options = fdp.ConsumeIntegralInRange(0, 31);
    const bool gbkHeader = fdp.ConsumeBool();
    const std::string begin = fdp.ConsumeRandomLengthString(8);
    const std::string end = fdp.ConsumeRandomLengthString(8);
    const std::string body = fdp.ConsumeRemainingBytesAsString();

    QByteArray inflated;
    const bool ended = InflateBody(body.data(), qsizetype(body.size()), inflated, limit);
    FUZZ_CHECK(inflated.size() <= limit, QString::number(inflated.size()));
    const qint64 counted = InflatedSize(body.data(), qsizetype(body.size()), limit);
    if (ended)
        FUZZ_CHECK(counted == inflated.size(), QString::number(counted));
    if (counted >= 0)
        FUZZ_CHECK(counted == inflated.size(), QString::number(counted));

    // The body as the client holds it after an exchange that announced gzip.
    UrlSource source;
    source.body = QByteArray(body.data(), qsizetype(body.size()));
    source.gzipped = true;
    source.maxTextBytes = limit;
    source.beginMarker = QByteArray(begin.data(), qsizetype(begin.size()));
    source.endMarker = QByteArray(end.data(), qsizetype(end.size()));
    source.responseHeaders = u"HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n"_s
        + (gbkHeader ? u"Content-Type: text/html; charset=GBK\r\n"_s : QString()) + u"\r\n"_s;
    const QString text = source.GetText(options);
    FUZZ_CHECK(!text.contains(QChar(0)), text);
    FUZZ_CHECK(text.size() <= qMax<qint64>(limit, qint64(body.size())), QString::number(text.size()));
    return 0;
}
