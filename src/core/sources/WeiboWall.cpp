#include "sources/WeiboWall.h"

#include "app/TamblinCore.h"
#include "app/WindowPort.h"
#include "download/DownloadJobList.h"
#include "download/FileUtils.h"
#include "download/NamingRules.h"
#include "net/HttpClient.h"
#include "sources/ListTexts.h"
#include "sources/SourceSupport.h"
#include "sources/WeiboPosts.h"
#include "sources/WeiboSession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

namespace tamblin::weibo {

using namespace Qt::StringLiterals;

namespace {

QString CoverOf(const QString &pic)
{
    if (pic.startsWith(u"//"_s) || pic.contains(u"://"_s))
        return WithScheme(pic);
    return IsPictureId(pic) ? endpoints::WeiboPictureUrl(pic) : QString();
}

// One pass over the web client's endpoints: the owner, then the first page
// of the image wall with its albums.
Answer ListWallOnce(TamblinCore &core, const WeiboOwner &owner)
{
    QString uid = owner.uid;
    UrlSource source;
    QJsonObject answer;
    QString why;
    FailureKind kind = FailureKind::Final;
    const Answer info = FetchJson(core, source, owner.InfoUrl(), owner.PageUrl(), answer, &why, &kind);
    if (info == Answer::VerifyNeeded)
        NoteSourceFailure(why, kind);
    if (info == Answer::LoginNeeded || info == Answer::VerifyNeeded)
        return info;
    if (info == Answer::Ok) {
        const QJsonObject user = answer.value(u"data"_s).toObject().value(u"user"_s).toObject();
        const QString id = IdText(user.value(u"idstr"_s)).isEmpty() ? IdText(user.value(u"id"_s))
                                                                    : IdText(user.value(u"idstr"_s));
        if (!id.isEmpty())
            uid = id;
        const QString nickname = user.value(u"screen_name"_s).toString();
        if (!nickname.isEmpty()) {
            core.m_userFolder = nickname;
            SanitizeName(core.m_userFolder, kTimeStampFallback, true);
        }
    } else if (!why.isEmpty()) {
        NoteSourceFailure(why, kind);
    }
    // Only digits go into the album addresses built below.
    if (!AllDigits(uid))
        return Answer::Failed;
    core.m_ownerUid = uid;

    const Answer wall = FetchJson(core, source, endpoints::WeiboImageWallPrefix(uid) + u'0',
                                  endpoints::WeiboUserPageUrl(uid, QString()), answer, &why, &kind);
    if (wall != Answer::Ok && wall != Answer::LoginNeeded && !why.isEmpty())
        NoteSourceFailure(why, kind);
    if (wall != Answer::Ok)
        return wall;
    const QJsonObject data = answer.value(u"data"_s).toObject();

    ST_PERLISTRECORD album;
    album.count = -1; // the web client does not say
    album.flags = 0;
    for (const QJsonValue &entry : data.value(u"album_list"_s).toArray()) {
        const QJsonObject fields = entry.toObject();
        const QString containerId = IdText(fields.value(u"containerid"_s));
        if (containerId.isEmpty())
            continue;
        album.name = fields.value(u"pic_title"_s).toString();
        if (album.name.isEmpty())
            album.name = containerId;
        album.albumUrl = endpoints::WeiboAlbumDetailPrefix(uid, containerId);
        album.coverUrl = CoverOf(fields.value(u"pic"_s).toString());
        core.OnAlbumAdded(album);
        if (ListStopAsked(core))
            return Answer::Ok;
    }
    const QJsonArray pictures = data.value(u"list"_s).toArray();
    if (!pictures.isEmpty()) {
        album.name = QString::fromUtf16(texts::kWholeImageWall);
        album.albumUrl = endpoints::WeiboImageWallPrefix(uid);
        album.coverUrl = CoverOf(pictures.first().toObject().value(u"pid"_s).toString());
        core.OnAlbumAdded(album);
    }
    return Answer::Ok;
}

// The image wall of one album turned into picture jobs: plain pictures at
// once, everything else through its post, each post read once per run.
class WallJobs {
public:
    WallJobs(TamblinCore &core, int albumIndex, const QString &referer)
        : m_core(core), m_albumIndex(albumIndex), m_referer(referer)
    {
    }

    // False when the listing is to end (a stop, the skip rule).
    bool Add(const QJsonObject &item)
    {
        const QJsonValue pidValue = item.value(u"pid"_s);
        const QString pid = pidValue.toString();
        const QString type = item.value(u"type"_s).toString();
        const QString mid = IdText(item.value(u"mid"_s));
        // A pid that is there but no text (a number, say) is there and wrong.
        const bool hasPid = !pid.isEmpty() || !(pidValue.isUndefined() || pidValue.isNull() || pidValue.isString());
        // An id that could steer an address or a name is not followed.
        if (hasPid && !IsPictureId(pid))
            return true;
        if (hasPid && (type.isEmpty() || type == u"pic"_s))
            return AddStill(pid, endpoints::WeiboPictureUrl(pid), 0);
        if (!IsPostId(mid))
            return !hasPid || AddStill(pid, endpoints::WeiboPictureUrl(pid), 0);
        const Post &post = PostOf(m_core, mid, m_referer);
        if (!post.readable) {
            if (RunStopAsked(m_core))
                return false;
            // A verification passed over: every later request meets it too.
            if (post.verifyNeeded) {
                StatusText(m_core, post.why);
                if (g_jobs.listingError.isEmpty())
                    g_jobs.listingError = post.why;
                return false;
            }
            StatusText(m_core, post.followersOnly ? QString::fromUtf16(texts::kWeiboPostFollowersOnly).arg(mid)
                                                  : QString::fromUtf16(texts::kWeiboPostUnreadable).arg(mid, post.why));
            // The still the wall names is not lost with its post.
            return !hasPid || AddStill(pid, endpoints::WeiboPictureUrl(pid), 0);
        }
        const bool onePicture =
            hasPid && std::any_of(post.media.begin(), post.media.end(), [&pid](const PostMedia &m) { return m.pid == pid; });
        for (const PostMedia &media : post.media) {
            if (onePicture && media.pid != pid)
                continue;
            const bool going = media.pid.isEmpty()
                ? AddClip(mid, media.clip, post.time)
                : AddStill(media.pid, media.still, post.time) && AddClip(media.pid, media.clip, post.time);
            if (!going)
                return false;
        }
        return true;
    }

private:
    bool AddStill(const QString &pid, const QString &address, std::int64_t time)
    {
        if (!m_done.contains(pid)) {
            m_done.insert(pid);
            const QString path = QUrl(address).path();
            QString ext = path.sliced(path.lastIndexOf(u'.') + 1).toLower();
            if (ext != u"gif"_s && ext != u"png"_s && ext != u"jpeg"_s)
                ext = u"jpg"_s;
            PictureExtras extras;
            extras.postTime = time;
            // The address no longer tells the format: the bytes do.
            extras.extensionFromBytes = true;
            AddPictureJob(m_core, address, pid + u'.' + ext, QString(), m_albumIndex, extras);
        }
        return !ListingEnds(m_core);
    }

    // A clip beside the still `base` names (or the video of post `base`).
    bool AddClip(const QString &base, QString address, std::int64_t time)
    {
        if (address.isEmpty() || !m_core.m_weiboClips)
            return true;
        address = WithScheme(address);
        const QUrl url(address);
        const QString scheme = url.scheme().toLower();
        if ((scheme != u"http"_s && scheme != u"https"_s) || url.host().isEmpty()) {
            StatusText(m_core, QString::fromUtf16(texts::kWeiboBadClip).arg(address.left(200)));
            return true;
        }
        const QString ext = url.path().endsWith(u".mov"_s, Qt::CaseInsensitive) ? u".mov"_s : u".mp4"_s;
        if (m_done.contains(base + ext))
            return true;
        m_done.insert(base + ext);
        PictureExtras extras;
        extras.clipExtension = ext;
        extras.postTime = time;
        AddPictureJob(m_core, address, base, QString(), m_albumIndex, extras);
        return !ListingEnds(m_core);
    }

    TamblinCore &m_core;
    const int m_albumIndex;
    const QString m_referer;
    QSet<QString> m_done; // pids and clip names of the album so far
};

// An image-wall walk that the service still named a next page for ended:
// said on the status line and reported as a listing that broke off.
void WallWalkEnded(const TamblinCore &core, const QString &why)
{
    StatusText(core, why);
    if (g_jobs.listingError.isEmpty() && !RunStopAsked(core))
        g_jobs.listingError = why;
}

} // namespace

// The albums of the Weibo web client, when the album service has none to
// give. A login that is needed (the visitor exchange did not help) is
// offered once (the window shows its login browser; a front end without one
// says how to log in) and the pass repeated after it.
void ListWeiboWall(TamblinCore &core, WeiboOwner owner, const QString &uid)
{
    // A certificate or a service that kept refusing fails this route too.
    if (RunStopAsked(core) || SourceFailureNoted())
        return;
    if (!uid.isEmpty())
        owner = WeiboOwner{uid, {}, {}};
    if (ListWallOnce(core, owner) != Answer::LoginNeeded)
        return;
    if (core.m_window && core.m_window->OpenLogin(endpoints::WeiboLoginUrl()))
        ListWallOnce(core, owner);
}

// The pictures of an album listed through the image wall: cursor after
// cursor while the service names a new one (an empty page in the middle
// does not end it), until three empty pages in a row, a cursor it gave
// before or a page it gave before (a service stuck on one cursor).
void ListWeiboWallPictures(TamblinCore &core, int albumIndex, const QString &albumUrl)
{
    const QString uid = QUrlQuery(QUrl(albumUrl)).queryItemValue(u"uid"_s);
    const QString referer = endpoints::WeiboUserPageUrl(uid, QString());
    UrlSource source;
    QString cursor = u"0"_s;
    QSet<QString> seenCursors{cursor};
    PageWalkGuard guard(core);
    WallJobs jobs(core, albumIndex, referer);
    int emptyInARow = 0;
    for (;;) {
        QJsonObject answer;
        QString why;
        const Answer got = FetchJson(core, source, albumUrl + QString::fromLatin1(QUrl::toPercentEncoding(cursor)),
                                     referer, answer, &why);
        if (got != Answer::Ok) {
            NoteSourceFailure(got == Answer::LoginNeeded ? u"a Weibo login is needed"_s : why);
            ListingBrokeOff(core, source);
            return;
        }
        if (!guard.CountPage())
            return;
        const QJsonObject data = answer.value(u"data"_s).toObject();
        const QJsonArray pictures = data.value(u"list"_s).toArray();
        answer = QJsonObject();
        if (pictures.isEmpty()) {
            if (++emptyInARow == kEmptyPagesToEnd)
                return WallWalkEnded(core, QString::fromUtf16(texts::kWeiboEmptyPages).arg(kEmptyPagesToEnd));
        } else {
            emptyInARow = 0;
            if (guard.Repeats(QString::fromUtf8(QJsonDocument(pictures).toJson(QJsonDocument::Compact))))
                return;
            for (const QJsonValue &item : pictures) {
                if (!jobs.Add(item.toObject()))
                    return;
            }
        }
        cursor = IdText(data.value(u"since_id"_s));
        if (cursor.isEmpty() || cursor == u"0"_s)
            return;
        if (seenCursors.contains(cursor))
            return WallWalkEnded(core, QString::fromUtf16(texts::kWeiboCursorRepeats).arg(cursor.left(40)));
        seenCursors.insert(cursor);
    }
}

} // namespace tamblin::weibo
