#include "sources/SinaPhoto.h"

#include "app/TamblinCore.h"
#include "download/DownloadJobList.h"
#include "download/NamingRules.h"
#include "sources/Endpoints.h"
#include "sources/SourceSupport.h"
#include "text/TextUtils.h"

#include <QStringList>

namespace tamblin {

using namespace Qt::StringLiterals;


void ListSinaPhotoAlbums(TamblinCore &core, const QString &address)
{
    UrlSource source;
    UrlRequest request = PageRequest();

    QString page;
    if (!FetchText(core, source, request, address, page))
        return;
    // The owner id is the first "articlelist_" after the title, so the
    // search goes on where the title marker ended.
    QStringView rest(page);
    core.m_userFolder = StripTags(GetBetween(rest, u"blogtitle\">", u"</", kAdvance));
    core.m_ownerUid = GetBetween(rest, u"articlelist_", u"_", kAdvance);
    page.clear();

    QString json;
    if (!FetchText(core, source, request, endpoints::SinaCategoryListUrl(core.m_ownerUid), json))
        return;
    QStringList pieces;
    if (SplitString(pieces, json, u"\"category\":\"") < 1)
        return;
    json.clear();

    ST_PERLISTRECORD album;
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const QStringView piece(pieces[i]);
        const qsizetype nameEnd = piece.indexOf(u"\",");
        if (nameEnd < 0)
            continue;
        album.name = JsonUnescape(piece.first(nameEnd));
        if (album.name.isEmpty())
            continue;
        // Each field is searched after the one before it: a field written
        // earlier in the object than its predecessor stays empty.
        QStringView walk = piece;
        album.count = ReadDecimal(GetBetween(walk, u"pic_cnt\":\"", u"\"", kAdvance));
        album.albumUrl = Unslash(GetBetween(walk, u"ctg_url\":\"", u"\"", kAdvance));
        album.coverUrl = Unslash(GetBetween(walk, u"big_url\":\"", u"\"", kAdvance));
        album.flags = 0;
        core.OnAlbumAdded(album);
        if (ListStopAsked(core))
            return;
    }
}

void ListSinaPhotoPictures(TamblinCore &core, int albumIndex)
{
    const ST_PERLISTRECORD *album = core.m_albums.At(albumIndex);
    if (!album)
        return;
    const QString albumUrl = album->albumUrl;

    g_jobs.referer = PictureReferer(kSubModeSinaPhoto);

    UrlSource source;
    UrlRequest request = PageRequest();
    QStringList pieces;
    PageWalkGuard guard(core);
    bool more = true;
    for (int page = 1; more; ++page) {
        request.url = albumUrl + u"/page"_s + QString::number(page);
        if (!FetchPage(core, source, request)) {
            ListingBrokeOff(core, source);
            return;
        }
        const QString text = TakeText(source, kTextInflate | kTextUtf8);
        if (text.isEmpty())
            break;
        // A service answering page numbers with pages it sent before (and
        // their next-page link) would otherwise be walked for ever.
        if (!guard.Admit(text))
            break;
        if (!text.contains(u"\">下一页"))
            more = false; // the last page, still read

        if (SplitString(pieces, text, u"class=\"pt_border\"") >= 1) {
            for (qsizetype i = 1; i < pieces.size(); ++i) {
                QStringView piece(pieces[i]);
                QString address = GetBetween(piece, u"src=\"", u"\"", kAdvance);
                address.replace(u"/small/"_s, u"/orignal/"_s);
                address.remove(u"amp"_s);
                // Searched after the src attribute only.
                const QString title = GetBetween(piece, u"title=\"", u"\"", kAdvance);
                AddPictureJob(core, address, title, QString(), albumIndex);
                if (ListingEnds(core))
                    return;
            }
        }
        // Pages without pictures still honour a stop.
        if (DownStopAsked(core))
            return;
    }
}

} // namespace tamblin
