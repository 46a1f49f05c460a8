#include "NetTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

using UrlSourceTest = NetTest;

TEST_F(UrlSourceTest, SendsAgentAndCallerHeadersOnlyAndKeepsRawHeaderBlock)
{
    UrlSource source;
    UrlRequest request = Request(Url(u"/echo"_s));
    request.headers = u"Accept-Encoding: gzip, deflate\r\nReferer: http://photo.example/a\r\n"_s;
    ASSERT_TRUE(source.Fetch(request, 0));
    const QByteArray sent = source.body;
    EXPECT_TRUE(sent.startsWith("GET /echo HTTP/1.1\r\n")) << sent.toStdString();
    EXPECT_TRUE(sent.contains(QByteArray("\r\nUser-Agent: ") + kUserAgent + "\r\n"));
    EXPECT_TRUE(sent.contains("\r\nAccept-Encoding: gzip, deflate\r\n"));
    EXPECT_TRUE(sent.contains("\r\nReferer: http://photo.example/a\r\n"));
    EXPECT_EQ(sent.count("Accept-Encoding"), 1);
    EXPECT_FALSE(sent.contains("Accept:"));
    EXPECT_FALSE(sent.contains("Expect:"));

    EXPECT_TRUE(source.responseHeaders.startsWith(u"HTTP/1.1 200 X\r\n"_s)) << source.responseHeaders.toStdString();
    EXPECT_TRUE(source.responseHeaders.endsWith(u"\r\nConnection: close\r\n\r\n"_s));
    EXPECT_FALSE(source.gzipped);

    // An exchange that delivers no header block keeps the previous one.
    const QString previous = source.responseHeaders;
    EXPECT_FALSE(source.Fetch(Request(u"http://127.0.0.1:1/"_s), 0));
    EXPECT_EQ(source.responseHeaders, previous);
}

TEST_F(UrlSourceTest, MarkersCutTheTextWhileItArrivesAndStopTheReading)
{
    UrlSource source;
    // Every marker arrives split across two reads.
    UrlRequest request = Request(Url(u"/body?text="_s + Q("AAA<b>x<b>yyy<e>zzz") + u"&pieces=4,8,14&gap=80"_s));
    request.beginMarker = "<b>";
    request.endMarker = "<e>";
    ASSERT_TRUE(source.Fetch(request, 0));
    EXPECT_EQ(source.body, QByteArray("yyy"));
    EXPECT_EQ(source.bodyBytes, 3);
    EXPECT_EQ(source.GetText(kTextInflate | kTextUtf8), u"yyy"_s);

    // Without the begin marker everything before the end marker stays; the
    // rest, held back by the server for seconds, is never waited for.
    request.url = Url(u"/body?text="_s + Q("abc<e>rest") + u"&pieces=6&gap=4000"_s);
    bool ok = false;
    const qint64 ms = TimeMs([&] { ok = source.Fetch(request, 0); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(source.body, QByteArray("abc"));
    EXPECT_LT(ms, 2000);
}

TEST_F(UrlSourceTest, MarkersWaitForInflationAndAreNotAppliedToFiles)
{
    UrlSource source;
    UrlRequest request = Request(Url(u"/body?gzip=1&text="_s + Q("AAA<b>x<b>yyy<e>zzz")));
    request.beginMarker = "<b>";
    request.endMarker = "<e>";
    ASSERT_TRUE(source.Fetch(request, 0));
    EXPECT_TRUE(source.gzipped);
    EXPECT_TRUE(source.body.startsWith("\x1f\x8b")); // still compressed
    EXPECT_EQ(source.GetText(kTextInflate | kTextUtf8), u"yyy"_s);

    const QString file = m_dir.File(u"page.html"_s);
    request = Request(Url(u"/body?text="_s + Q("AAA<b>yyy<e>zzz")), file);
    request.beginMarker = "<b>";
    request.endMarker = "<e>";
    ASSERT_TRUE(source.Fetch(request, kFetchKeepInCache | kFetchAllowCached));
    EXPECT_EQ(m_dir.Read(u"page.html"_s), QByteArray("AAA<b>yyy<e>zzz"));
    EXPECT_TRUE(source.body.isEmpty());
    EXPECT_EQ(source.bodyBytes, 15);
}

TEST_F(UrlSourceTest, AnnouncedLengthIsCheckedBeforeTheBody)
{
    UrlSource source;
    // The body is held back for seconds; the announced 500 bytes already fail.
    UrlRequest request = Request(Url(u"/body?size=500&pieces=0&gap=4000"_s));
    request.minSizeKb = 1;
    bool ok = true;
    qint64 ms = TimeMs([&] { ok = source.Fetch(request, 0); });
    EXPECT_FALSE(ok);
    EXPECT_LT(ms, 2000);
    EXPECT_TRUE(source.body.isEmpty());

    request = Request(Url(u"/body?size=5000&pieces=0&gap=4000"_s));
    request.maxSizeKb = 4;
    ms = TimeMs([&] { ok = source.Fetch(request, 0); });
    EXPECT_FALSE(ok);
    EXPECT_LT(ms, 2000);

    // A lie in the announced length is what counts for this check.
    request = Request(Url(u"/body?size=5000&len=1000&hdr="_s + Q("X-Note: lie")));
    request.minSizeKb = 1;
    EXPECT_FALSE(source.Fetch(request, 0));

    request = Request(Url(u"/body?size=500"_s));
    EXPECT_TRUE(source.Fetch(request, 0));
    EXPECT_EQ(source.body.size(), 500);
}

TEST_F(UrlSourceTest, SizeLimitsApplyWhileReadingAndAtCompletion)
{
    UrlSource source;
    // No announced length: the limit stops the reading once passed.
    UrlRequest request = Request(Url(u"/endless"_s));
    request.maxSizeKb = 100;
    EXPECT_FALSE(source.Fetch(request, 0));
    EXPECT_GT(source.body.size(), 100 * 1024);
    EXPECT_LE(source.body.size(), 100 * 1024 + kReadChunkBytes);

    request = Request(Url(u"/body?size=500&len=none"_s));
    request.minSizeKb = 1;
    EXPECT_FALSE(source.Fetch(request, 0));
    EXPECT_EQ(source.body.size(), 500); // what arrived stays for the caller to see

    request = Request(Url(u"/body?size=2048&len=none&chunked=1&pieces=1000"_s));
    request.minSizeKb = 2;
    request.maxSizeKb = 2;
    EXPECT_TRUE(source.Fetch(request, 0));
}

TEST_F(UrlSourceTest, ChunkedAndUnannouncedBodiesArriveWholeAndCutOnesFail)
{
    UrlSource source;
    EXPECT_TRUE(source.Fetch(Request(Url(u"/body?size=300000&chunked=1&pieces=1,70000,200000&gap=20"_s)), 0));
    // Chunk pieces that would pass the size of one read wait inside libcurl
    // for the next read; nothing may be lost or doubled on the way.
    QByteArray pattern(300000, Qt::Uninitialized);
    for (int i = 0; i < pattern.size(); ++i)
        pattern[i] = char(i % 256);
    EXPECT_TRUE(source.body == pattern);
    EXPECT_TRUE(source.Fetch(Request(Url(u"/body?size=250000&len=none&pieces=100000"_s)), 0));
    EXPECT_EQ(source.body.size(), 250000);

    // Closed before the announced length, a chunked answer without its last
    // chunk, and a length that promises more than comes.
    EXPECT_FALSE(source.Fetch(Request(Url(u"/body?size=5000&cut=1000"_s)), 0));
    EXPECT_FALSE(source.Fetch(Request(Url(u"/body?size=5000&chunked=1&pieces=1000&cut=2000"_s)), 0));
    EXPECT_FALSE(source.Fetch(Request(Url(u"/body?size=10&len=1000"_s)), 0));
    EXPECT_EQ(source.body.size(), 10);
}

TEST_F(UrlSourceTest, ErrorStatusWithBodyIsAnAnswer)
{
    UrlSource source;
    ASSERT_TRUE(source.Fetch(Request(Url(u"/body?status=404&text=missing"_s)), 0));
    EXPECT_EQ(source.body, QByteArray("missing"));
    EXPECT_EQ(source.status, 404);
    EXPECT_EQ(source.error, FetchError::None);
    EXPECT_TRUE(source.responseHeaders.startsWith(u"HTTP/1.1 404"_s));
    ASSERT_TRUE(source.Fetch(Request(Url(u"/body?status=500&text=broken"_s)), 0));
    EXPECT_EQ(source.GetText(kTextUtf8), u"broken"_s);
}

TEST_F(UrlSourceTest, TextDecodingFollowsOptionsAndGbkCharset)
{
    UrlSource source;
    // 中文 in GBK, announced as GBK: decoded as GBK even when UTF-8 is asked for.
    ASSERT_TRUE(source.Fetch(Request(Url(u"/body?hex=d6d0cec4&type="_s + Q("text/html; charset=GBK"))), 0));
    EXPECT_EQ(source.GetText(kTextInflate | kTextUtf8), u"中文"_s);
    // The same bytes without the header: UTF-8 as asked (so not 中文), GBK
    // without options, GBK when detection finds no UTF-8.
    ASSERT_TRUE(source.Fetch(Request(Url(u"/body?hex=d6d0cec4&type=text/html"_s)), 0));
    EXPECT_NE(source.GetText(kTextUtf8), u"中文"_s);
    EXPECT_EQ(source.GetText(0), u"中文"_s);
    EXPECT_EQ(source.GetText(kTextDetectUtf8), u"中文"_s);
    // UTF-8 bytes: detection takes them as UTF-8.
    ASSERT_TRUE(source.Fetch(Request(Url(u"/body?hex=e4b8ade69687"_s)), 0));
    EXPECT_EQ(source.GetText(kTextDetectUtf8), u"中文"_s);
    // Big5 and EUC-KR tables.
    ASSERT_TRUE(source.Fetch(Request(Url(u"/body?hex=a4a4a4e5"_s)), 0));
    EXPECT_EQ(source.GetText(kTextBig5), u"中文"_s);
    ASSERT_TRUE(source.Fetch(Request(Url(u"/body?hex=c7d1b1b9"_s)), 0));
    EXPECT_EQ(source.GetText(kTextEucKr), u"한국"_s);
    // The text ends at the first NUL; entities are decoded last.
    ASSERT_TRUE(source.Fetch(Request(Url(u"/body?hex=266c743b623e26616d703b00787878"_s)), 0));
    EXPECT_EQ(source.GetText(kTextUtf8), u"<b>&"_s);
    // A gzip answer is inflated only when asked to.
    ASSERT_TRUE(source.Fetch(Request(Url(u"/body?gzip=1&text=plain"_s)), 0));
    EXPECT_EQ(source.GetText(kTextInflate | kTextUtf8), u"plain"_s);
    EXPECT_NE(source.GetText(kTextUtf8), u"plain"_s);
}

TEST_F(UrlSourceTest, AttemptLoopRetriesPausesAndChecksContent)
{
    UrlSource source;
    UrlRequest request = Request(Url(u"/body?key=zero&text=x"_s));
    request.attempts = 0;
    EXPECT_FALSE(source.Fetch(request, 0));
    EXPECT_EQ(Hits(u"zero"_s), 0);

    // The server answers "RETRY" twice before the real text.
    request = Request(Url(u"/count?key=retry&fail=2&text=fine"_s));
    request.attempts = 3;
    request.retryDelaySec = 1;
    request.retryText = "RETRY";
    bool ok = false;
    qint64 ms = TimeMs([&] { ok = source.Fetch(request, 0); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(source.body, QByteArray("fine"));
    EXPECT_EQ(Hits(u"retry"_s), 3);
    EXPECT_GE(ms, 2000);
    EXPECT_LT(ms, 3500);

    // One failed attempt still pauses before giving up; the body must be
    // strictly longer than minLength.
    request = Request(Url(u"/body?key=short&text=abc"_s));
    request.retryDelaySec = 1;
    request.minLength = 3;
    ms = TimeMs([&] { ok = source.Fetch(request, 0); });
    EXPECT_FALSE(ok);
    EXPECT_GE(ms, 1000);
    EXPECT_EQ(Hits(u"short"_s), 1);
    request.minLength = 2;
    request.retryDelaySec = 0;
    EXPECT_TRUE(source.Fetch(request, 0));

    // With kFetchKeepInCache the check looks at the inflated text.
    request = Request(Url(u"/body?gzip=1&text=RETRY"_s));
    request.retryText = "RETRY";
    EXPECT_TRUE(source.Fetch(request, 0));
    EXPECT_FALSE(source.Fetch(request, kFetchKeepInCache));
}

TEST_F(UrlSourceTest, RequestBodyIsSentWhole)
{
    QByteArray post;
    for (int i = 0; i < 2500; ++i)
        post += char('a' + i % 26);
    UrlSource source;
    UrlRequest request = Request(Url(u"/echo"_s));
    request.verb = u"POST"_s;
    request.postBody = post;
    ASSERT_TRUE(source.Fetch(request, 0));
    EXPECT_TRUE(source.body.startsWith("POST /echo HTTP/1.1\r\n"));
    EXPECT_TRUE(source.body.contains("\r\nContent-Length: 2500\r\n"));
    EXPECT_FALSE(source.body.contains("Content-Type:"));
    EXPECT_TRUE(source.body.endsWith("\r\n\r\n" + post));
}

TEST_F(UrlSourceTest, StalledAnswerFailsEvenWhenItWouldResume)
{
    UrlSource source;
    for (const QString &path : {u"/body?size=100&pieces=10&gap=1500"_s, u"/body?size=100&hold=1500"_s, u"/silent"_s}) {
        UrlRequest request = Request(Url(path));
        request.readTimeoutMs = 400;
        bool ok = true;
        const qint64 ms = TimeMs([&] { ok = source.Fetch(request, 0); });
        EXPECT_FALSE(ok) << path.toStdString();
        EXPECT_GE(ms, 400) << path.toStdString();
        EXPECT_LT(ms, 1300) << path.toStdString();
    }
    // Gaps shorter than the time-out are fine, also a slow first byte.
    UrlRequest request = Request(Url(u"/body?size=100&pieces=10,20&gap=200"_s));
    request.readTimeoutMs = 600;
    EXPECT_TRUE(source.Fetch(request, 0));
    request = Request(Url(u"/body?size=3000&hold=1100&pieces=1000&gap=300"_s));
    request.readTimeoutMs = 1500;
    EXPECT_TRUE(source.Fetch(request, 0));
}

TEST_F(UrlSourceTest, SendingIsBoundByTheConnectTimeOut)
{
    // The server stops reading; once the socket buffers are full the body
    // makes no progress, and the connect time-out, not the read one, applies.
    UrlSource source;
    UrlRequest request = Request(Url(u"/deaf"_s));
    request.verb = u"POST"_s;
    request.postBody = QByteArray(32 << 20, 'p');
    request.connectTimeoutMs = 500;
    request.readTimeoutMs = 60000;
    bool ok = true;
    const qint64 ms = TimeMs([&] { ok = source.Fetch(request, 0); });
    EXPECT_FALSE(ok);
    EXPECT_LT(ms, 3000);
}

TEST_F(UrlSourceTest, FileModeRenamesOnlyCompletePicturesWithinLimits)
{
    UrlSource source;
    const QString file = m_dir.File(u"pic.jpg"_s);
    auto entries = [&] { return QDir(m_dir.Path()).entryList(QDir::Files | QDir::Hidden).filter(u"pic"_s); };

    UrlRequest request = Request(Url(u"/body?size=300000&pieces=1000,150000&gap=30"_s), file);
    ASSERT_TRUE(source.Fetch(request, kFetchKeepInCache | kFetchAllowCached));
    const QByteArray whole = m_dir.Read(u"pic.jpg"_s);
    ASSERT_EQ(whole.size(), 300000);
    EXPECT_EQ(quint8(whole[299999]), quint8(299999 % 256));
    EXPECT_EQ(source.bodyBytes, 300000);
    EXPECT_EQ(entries(), QStringList{u"pic.jpg"_s});

    // Failures leave the earlier file alone and no temporary file behind:
    // cut short, passing the limit while arriving, below the minimum, an
    // error page of any size.
    const struct {
        QString path;
        FetchError error;
        int status;
    } failing[] = {
        {u"/body?size=200000&cut=120000"_s, FetchError::Incomplete, 200},
        {u"/body?size=400000&len=none"_s, FetchError::SizeLimit, 200},
        {u"/body?size=2000&len=none"_s, FetchError::SizeLimit, 200},
        {u"/body?status=404&size=50000"_s, FetchError::HttpStatus, 404},
        {u"/body?status=503&size=50000&len=none"_s, FetchError::HttpStatus, 503},
    };
    for (const auto &f : failing) {
        request = Request(Url(f.path), file);
        request.minSizeKb = 3;
        request.maxSizeKb = 300;
        EXPECT_FALSE(source.Fetch(request, 3)) << f.path.toStdString();
        EXPECT_EQ(source.error, f.error) << f.path.toStdString();
        EXPECT_EQ(source.status, f.status) << f.path.toStdString();
        EXPECT_TRUE(source.errorText.contains(u"127.0.0.1"_s) || f.error == FetchError::Write)
            << source.errorText.toStdString();
        EXPECT_EQ(m_dir.Read(u"pic.jpg"_s), whole) << f.path.toStdString();
        EXPECT_EQ(entries(), QStringList{u"pic.jpg"_s}) << f.path.toStdString();
    }
    // A new complete picture replaces the old one.
    ASSERT_TRUE(source.Fetch(Request(Url(u"/body?text=new"_s), file), 3));
    EXPECT_EQ(m_dir.Read(u"pic.jpg"_s), QByteArray("new"));

    // A folder that does not exist fails the exchange.
    EXPECT_FALSE(source.Fetch(Request(Url(u"/body?text=x"_s), m_dir.File(u"none/pic.jpg"_s)), 3));
    EXPECT_EQ(source.error, FetchError::Write);
}

TEST_F(UrlSourceTest, RedirectsAreFollowedOnlyToHttp)
{
    UrlSource source;
    ASSERT_TRUE(source.Fetch(Request(Url(u"/redirect?to="_s + Q("/body?text=landed&hdr=X-Final: 1"))), 0));
    EXPECT_EQ(source.body, QByteArray("landed"));
    EXPECT_TRUE(source.responseHeaders.startsWith(u"HTTP/1.1 200"_s));
    EXPECT_TRUE(source.responseHeaders.contains(u"X-Final: 1\r\n"_s));
    ASSERT_TRUE(source.Fetch(Request(Url(u"/redirect?code=301&to="_s + Q(Url(u"/body?text=abs"_s).toUtf8()))), 0));
    EXPECT_EQ(source.body, QByteArray("abs"));

    // A redirect's own Content-Length does not count against the limits.
    UrlRequest request = Request(Url(u"/redirect?to="_s + Q("/body?size=3000")));
    request.minSizeKb = 2;
    EXPECT_TRUE(source.Fetch(request, 0));

    // Not followed when asked: the redirect is the answer.
    request.minSizeKb = 0;
    request.followRedirects = false;
    ASSERT_TRUE(source.Fetch(request, 0));
    EXPECT_EQ(source.status, 302);
    EXPECT_TRUE(source.responseHeaders.contains(u"Location: /body?size=3000"_s)) << source.responseHeaders.toStdString();

    for (const QByteArray &target : {QByteArray("file:///etc/passwd"), QByteArray("ftp://127.0.0.1/x")}) {
        EXPECT_FALSE(source.Fetch(Request(Url(u"/redirect?to="_s + Q(target))), 0)) << target.toStdString();
        EXPECT_FALSE(source.body.contains("root:"));
    }
    EXPECT_FALSE(source.Fetch(Request(u"file:///etc/passwd"_s), 0));
    EXPECT_TRUE(source.body.isEmpty());
    EXPECT_FALSE(source.Fetch(Request(u"ftp://127.0.0.1:%1/body"_s.arg(s_server->Port())), 0));
}

TEST_F(UrlSourceTest, AddressesAreTrimmedAndEncoded)
{
    EXPECT_EQ(PrepareUrl(u" \t\x01http://h.example/a b\"<>|^`{}\\中?q=%20&r=1#top \r\n"_s),
              QByteArray("http://h.example/a%20b%22%3C%3E%7C%5E%60%7B%7D%5C%E4%B8%AD?q=%20&r=1#top"));
    EXPECT_EQ(PrepareUrl(u"HTTPS://user@例子.测试:8080/x"_s), QByteArray("https://user@xn--fsqu00a.xn--0zwm56d:8080/x"));
    EXPECT_EQ(PrepareUrl(u"http://h/a\r\nb"_s), QByteArray("http://h/ab"));
    EXPECT_TRUE(PrepareUrl(u"www.example.com/"_s).isEmpty());
    EXPECT_TRUE(PrepareUrl(u"javascript:alert(1)"_s).isEmpty());
    EXPECT_TRUE(PrepareUrl(u"http:///path"_s).isEmpty());

    // What goes on the wire.
    UrlSource source;
    ASSERT_TRUE(source.Fetch(Request(u"  "_s + Url(u"/echo?a b=中"_s) + u"\n"_s), 0));
    EXPECT_TRUE(source.body.startsWith("GET /echo?a%20b=%E4%B8%AD HTTP/1.1\r\n")) << source.body.left(60).toStdString();
}

TEST_F(UrlSourceTest, ProxyComesFromTheEnvironment)
{
    qputenv("http_proxy", Url(QString()).toUtf8());
    UrlSource source;
    ASSERT_TRUE(source.Fetch(Request(u"http://photo.sina.com.cn/echo?x=1"_s), 0));
    EXPECT_TRUE(source.body.startsWith("PROXIED\r\nGET http://photo.sina.com.cn/echo?x=1 HTTP/1.1\r\n"))
        << source.body.left(80).toStdString();
    EXPECT_TRUE(source.body.contains("\r\nHost: photo.sina.com.cn\r\n"));

    // no_proxy exempts a host: the direct request is not in proxy form.
    qputenv("no_proxy", "127.0.0.1");
    ASSERT_TRUE(source.Fetch(Request(Url(u"/echo"_s)), 0));
    EXPECT_TRUE(source.body.startsWith("GET /echo HTTP/1.1\r\n"));
}

TEST_F(UrlSourceTest, CookiesOfAnswersAreStoredAndSent)
{
    UrlSource source;
    EXPECT_EQ(GetUrlCookies(Url(u"/"_s)), QString());
    ASSERT_TRUE(source.Fetch(Request(Url(u"/body?text=x&cookie="_s + Q("sid=abc; Path=/") + u"&cookie="_s
                                         + Q("deep=1; Path=/echo"))),
                             0));
    EXPECT_EQ(GetUrlCookies(Url(u"/"_s)), u"sid=abc"_s);
    EXPECT_EQ(GetUrlCookies(Url(u"/echo"_s)), u"deep=1; sid=abc"_s);
    EXPECT_EQ(GetUrlCookies(u"http://other.example/"_s), QString());

    // The store's cookies go with the next request, unless the caller sends
    // a cookie line of its own.
    ASSERT_TRUE(source.Fetch(Request(Url(u"/echo"_s)), 0));
    EXPECT_TRUE(source.body.contains("\r\nCookie: deep=1; sid=abc\r\n")) << source.body.toStdString();
    UrlRequest request = Request(Url(u"/echo"_s));
    request.headers = u"cookie: mine=1"_s;
    ASSERT_TRUE(source.Fetch(request, 0));
    EXPECT_TRUE(source.body.contains("\r\ncookie: mine=1\r\n"));
    EXPECT_EQ(source.body.count("ookie:"), 1);

    // An expired Set-Cookie removes the cookie; the file follows the store.
    ASSERT_TRUE(source.Fetch(Request(Url(u"/body?text=x&cookie="_s + Q("sid=gone; Path=/; Max-Age=0"))), 0));
    EXPECT_EQ(GetUrlCookies(Url(u"/"_s)), QString());
    const QByteArray saved = m_dir.Read(u"cookies.txt"_s);
    EXPECT_TRUE(saved.contains("\tdeep\t1"));
    EXPECT_FALSE(saved.contains("sid"));
}

TEST_F(UrlSourceTest, AHugeMaxAgeKeepsTheCookieItReplaces)
{
    // libcurl caps such a Max-Age at 2^63-1 seconds, beyond an int64 once
    // read as a double; the login must stay, clamped, and not count as gone.
    CookieStore::Instance().AddCookie({u"127.0.0.1"_s, true, u"/"_s, false, false, 0, u"login"_s, u"old"_s});
    UrlSource source;
    ASSERT_TRUE(source.Fetch(
        Request(Url(u"/body?text=x&cookie="_s + Q("login=new; Path=/; Max-Age=99999999999999999999"))), 0));
    EXPECT_EQ(GetUrlCookies(Url(u"/"_s)), u"login=new"_s);
    const QList<Cookie> all = CookieStore::Instance().AllCookies();
    ASSERT_EQ(all.size(), 1);
    EXPECT_EQ(all[0].expires, kMaxCookieExpiry);
}

TEST_F(UrlSourceTest, AnExchangeLeavesCookiesItDidNotTouchAlone)
{
    // Cookies libcurl would not take (a public suffix, a lone top-level
    // domain) and ones for other hosts must not be lost or rewritten.
    const QByteArray later = QByteArray::number(QDateTime::currentSecsSinceEpoch() + 3600);
    ASSERT_EQ(CookieStore::Instance().ImportText(".com.cn\tTRUE\t/\tFALSE\t0\tsuffix\tx\n"
                                                 "com\tFALSE\t/\tFALSE\t0\ttld\tx\n"
                                                 "#HttpOnly_.weibo.com\tTRUE\t/\tTRUE\t" + later + "\tSUB\ty\n"
                                                 "127.0.0.1\tFALSE\t/\tFALSE\t0\there\tz\n"),
              4);
    const QByteArray saved = m_dir.Read(u"cookies.txt"_s);
    UrlSource source;
    ASSERT_TRUE(source.Fetch(Request(Url(u"/echo"_s)), 0));
    EXPECT_TRUE(source.body.contains("\r\nCookie: here=z\r\n"));
    EXPECT_EQ(m_dir.Read(u"cookies.txt"_s), saved);
    EXPECT_EQ(CookieStore::Instance().AllCookies().size(), 4);
}

} // namespace
} // namespace tamblin::test
