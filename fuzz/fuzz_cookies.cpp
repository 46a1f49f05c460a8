// Importing a cookies.txt file and matching cookies to addresses: any file
// imports without harm, what is imported is kept as the file would give it
// back, and no cookie goes to a host, path or scheme it was not set for.
#include "FuzzSupport.h"

#include "net/CookieStore.h"

#include <QUrl>

using namespace tamblin;
using namespace Qt::StringLiterals;

namespace {

// A cookie survives being written to the store's file and read back.
void CheckRoundTrip(QByteArrayView line)
{
    const std::optional<Cookie> cookie = ParseCookieLine(line);
    if (!cookie)
        return;
    const QString shown = QString::fromUtf8(line);
    const QByteArray written = CookieLine(*cookie);
    FUZZ_CHECK(!written.contains('\n'), shown);
    const std::optional<Cookie> again = ParseCookieLine(written);
    FUZZ_CHECK(again && *again == *cookie, shown + u" -> "_s + QString::fromUtf8(written));
}

void CheckMatches(const QString &url)
{
    CookieStore &store = CookieStore::Instance();
    const QList<Cookie> sent = store.CookiesForUrl(url);
    const QString header = store.CookieHeader(url);
    FUZZ_CHECK(!header.contains(u'\r') && !header.contains(u'\n'), header);
    if (sent.isEmpty())
        return;
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    const QString host = parsed.host(QUrl::FullyEncoded).toLower();
    const QString path = parsed.path(QUrl::FullyEncoded).isEmpty() ? u"/"_s : parsed.path(QUrl::FullyEncoded);
    const bool https = parsed.scheme().toLower() == u"https"_s;
    for (const Cookie &cookie : sent) {
        const QString shown = url + u" got "_s + QString::fromUtf8(CookieLine(cookie));
        FUZZ_CHECK(host == cookie.domain || (!cookie.hostOnly && host.endsWith(u'.' + cookie.domain)), shown);
        FUZZ_CHECK(path.startsWith(cookie.path), shown);
        FUZZ_CHECK(https || !cookie.secure, shown);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::InitOnce();
    FuzzedDataProvider fdp(data, size);
    const std::string url = fdp.ConsumeRandomLengthString(256);
    const std::string file = fdp.ConsumeRemainingBytesAsString();
    const QByteArrayView text(file.data(), qsizetype(file.size()));

    for (const QByteArray &line : text.toByteArray().split('\n'))
        CheckRoundTrip(line);

    CookieStore &store = CookieStore::Instance();
    store.Clear();
    const int taken = store.ImportText(text);
    FUZZ_CHECK(taken >= 0 && store.AllCookies().size() <= taken, QString::number(taken));
    CheckMatches(QString::fromUtf8(url.data(), qsizetype(url.size())));
    return 0;
}
