// The six extractors on arbitrary page text, served through the HTTP
// client's test seam instead of the network: whatever a service answers,
// album names stay clean folder names and every picture job names a file
// inside its album folder.
//
// Input: one byte choosing the extractor, one byte of options (bit 0: the
// answer names GBK, bit 1: answers are gzip-encoded, bits 2-3: the file-name
// mode, bit 4: no album name in the folder name, bit 5: the Weibo album is
// one of the image wall, whose items lead to posts), the album's name up to the
// first line feed, then the answers, separated by lines "--page--". Once the
// answers are used up, every further request gets an empty answer.
#include "FuzzSupport.h"

#include "app/TamblinCore.h"
#include "download/DownloadJobList.h"
#include "download/FileUtils.h"
#include "net/HttpClient.h"
#include "sources/Endpoints.h"
#include "sources/SinaBlog.h"
#include "sources/SinaPhoto.h"
#include "sources/SourceSupport.h"
#include "sources/Weibo.h"

#include <QByteArrayList>

#include <zlib.h>

using namespace tamblin;
using namespace Qt::StringLiterals;

namespace {

constexpr int kSite = 4;

struct Served {
    QByteArrayList pages;
    qsizetype next = 0;
    bool gbk = false;
    bool gzip = false;
} g_served;

QByteArray Gzip(const QByteArray &bytes)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        fuzz::Fail("deflateInit2");
    QByteArray out(qsizetype(deflateBound(&stream, uLong(bytes.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END)
        fuzz::Fail("deflate");
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

bool ServePage(UrlSource &source, const UrlRequest &)
{
    source.status = 200;
    source.responseHeaders = u"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset="_s
        + (g_served.gbk ? u"GBK"_s : u"utf-8"_s) + u"\r\n"_s
        + (g_served.gzip ? u"Content-Encoding: gzip\r\n"_s : QString()) + u"\r\n"_s;
    source.body = g_served.next < g_served.pages.size() ? g_served.pages[g_served.next++] : QByteArray();
    if (g_served.gzip)
        source.body = Gzip(source.body);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::InitOnce();
    g_testFetchHook = ServePage;
    // No pacing of the Weibo requests: it would hold each input for seconds.
    SetServiceWaitScale(0.0);
    if (size < 2)
        return 0;
    const int extractor = data[0] % 6;
    const int options = data[1];
    QByteArray rest(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    const qsizetype lineEnd = rest.indexOf('\n');
    const QString albumName = QString::fromUtf8(rest.first(lineEnd < 0 ? rest.size() : lineEnd));
    rest.remove(0, lineEnd < 0 ? rest.size() : lineEnd + 1);

    g_served = Served{};
    g_served.gbk = options & 1;
    g_served.gzip = options & 2;
    g_served.pages = rest.split('\n');
    // Lines back into pages, cut at the "--page--" lines.
    {
        QByteArrayList pages(1);
        for (const QByteArray &line : std::as_const(g_served.pages)) {
            if (line == "--page--")
                pages.append(QByteArray());
            else
                pages.back() += (pages.back().isEmpty() ? QByteArray() : QByteArray("\n")) + line;
        }
        g_served.pages = pages;
    }

    TamblinCore core;
    core.m_ready = 1;
    core.m_listType = kSite;
    core.m_appDir = u"/dev/null/"_s;
    core.m_ownerUid = u"1234567890"_s;
    core.m_userFolder = u"before"_s; // stays when the first page is never read
    SiteRules &rules = core.m_settings.siteRules[kSite];
    rules.fileNameMode = std::uint8_t((options >> 2) & 3);
    rules.folderNameMode = std::uint8_t((options >> 4) & 1);

    const QString save = fuzz::SaveFolder();
    g_jobs.Clear();
    g_jobs.folder = save;
    if (extractor >= 3) {
        ST_PERLISTRECORD album;
        album.name = albumName;
        album.albumUrl = extractor == 5 && (options & 0x20) ? endpoints::WeiboImageWallPrefix(u"1234567890"_s)
                                                            : u"http://example.org/album"_s;
        album.count = 0; // no retries of answers without photos: they would wait seconds
        core.OnAlbumAdded(album);
    }

    switch (extractor) {
    case 0:
        ListSinaPhotoAlbums(core, u"http://photo.blog.sina.com.cn/u/1234567890"_s);
        break;
    case 1:
        ListSinaBlogArticles(core, u"http://blog.sina.com.cn/s/articlelist_1234567890_0"_s);
        break;
    case 2:
        ListWeiboAlbums(core, u"http://weibo.com/u/1234567890"_s);
        fuzz::CheckSanitized(core.m_userFolder, true);
        break;
    case 3:
        ListSinaPhotoPictures(core, 0);
        break;
    case 4:
        ListSinaBlogPictures(core, 0);
        break;
    case 5:
        ListWeiboPictures(core, 0);
        break;
    }
    fuzz::CheckAlbumNames(core.m_albums);
    if (extractor >= 3)
        fuzz::CheckJobs(g_jobs, save);
    g_jobs.Clear();
    return 0;
}
