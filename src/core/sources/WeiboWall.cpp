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

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <mutex>
#include <optional>
#include <utility>

namespace tamblin::weibo {

using namespace Qt::StringLiterals;

// The file name of the still of `pid` at `address`: the id, with the
// extension the address names when it is one the bytes may confirm.
QString StillName(const QString &pid, const QString &address)
{
    const QString path = QUrl(address).path();
    QString ext = path.sliced(path.lastIndexOf(u'.') + 1).toLower();
    if (ext != u"gif"_s && ext != u"png"_s && ext != u"jpeg"_s)
        ext = u"jpg"_s;
    return pid + u'.' + ext;
}

PictureExtras ClipExtras(const Clip &clip, const QString &guess, std::int64_t time, const QString &mid)
{
    PictureExtras extras;
    extras.clipExtension = clip.extension.isEmpty() ? guess : clip.extension;
    extras.extensionFromBytes = clip.extension.isEmpty();
    extras.postTime = time;
    if (clip.named != clip.address)
        extras.namingAddress = clip.named;
    if (IsPostId(mid))
        extras.postId = mid;
    return extras;
}

namespace {

// The extension a clip of a wall item of `type` is saved under while its
// address does not say: the bytes then have the last word.
QString ClipGuess(const QString &type)
{
    return type == u"livephoto"_s ? u".mov"_s : u".mp4"_s;
}

const QString kUnreadable = u"the post cannot be read"_s;

// The first page of a user's image wall as the list run read it, kept so
// that the download of "全部图片" that follows does not ask for it again:
// taken once, and only while it is fresh. A page of more items than a wall
// page holds is not worth the memory.
struct KeptPage {
    QString url;
    QJsonObject answer;
    qint64 when = 0;
};
constexpr qint64 kKeptPageSeconds = 300;
constexpr qsizetype kKeptPageItems = 1000;
std::mutex g_keptMutex;
KeptPage g_keptPage;

void KeepFirstPage(const QString &url, const QJsonObject &answer, qsizetype items)
{
    std::lock_guard lock(g_keptMutex);
    g_keptPage = items <= kKeptPageItems ? KeptPage{url, answer, QDateTime::currentSecsSinceEpoch()} : KeptPage{};
}

std::optional<QJsonObject> TakeFirstPage(const QString &url)
{
    std::lock_guard lock(g_keptMutex);
    if (g_keptPage.url != url)
        return std::nullopt;
    const KeptPage kept = std::exchange(g_keptPage, KeptPage{});
    if (QDateTime::currentSecsSinceEpoch() - kept.when > kKeptPageSeconds)
        return std::nullopt;
    return kept.answer;
}

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

    const QString firstPage = endpoints::WeiboImageWallPrefix(uid) + u'0';
    const Answer wall =
        FetchJson(core, source, firstPage, endpoints::WeiboUserPageUrl(uid, QString()), answer, &why, &kind);
    if (wall != Answer::Ok && wall != Answer::LoginNeeded && !why.isEmpty())
        NoteSourceFailure(why, kind);
    if (wall != Answer::Ok)
        return wall;
    const QJsonObject data = answer.value(u"data"_s).toObject();
    KeepFirstPage(firstPage, answer, data.value(u"list"_s).toArray().size());

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

// A retry fetches a recorded clip address only while it has this long to
// live: the pool may reach it minutes later.
constexpr std::int64_t kClipLifeLeftSeconds = 300;

// The clip a failed.txt line records, when a retry may fetch it as it
// stands: an address of no expiry (a Live Photo's stable one) or one that
// holds a while yet, which did not fail by being refused (a 403 is what a
// signature that no longer holds gets). None: the post is to be read again.
std::optional<Clip> RecordedClip(const FailedPicture &line)
{
    if (line.url == endpoints::WeiboStatusUrl(line.postId) || line.reason.startsWith(u"HTTP 403 "_s))
        return std::nullopt;
    const std::optional<std::int64_t> expires = AddressExpiry(line.url);
    if (expires && *expires < QDateTime::currentSecsSinceEpoch() + kClipLifeLeftSeconds)
        return std::nullopt;
    return ClipOf(line.url, false);
}

// The image wall of one album turned into picture jobs: pictures, and Live
// Photos and gifs whose item carries its clip, at once; everything else
// through its post, each post read once per run. What a post that cannot be
// read withholds is recorded as unavailable.
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
        const std::int64_t time = MidTime(mid);
        const QString still = hasPid ? endpoints::WeiboPictureUrl(pid) : QString();
        if (hasPid && (type.isEmpty() || type == u"pic"_s || !m_core.m_weiboClips))
            return AddStill(pid, still, time);
        // A Live Photo or a gif whose item carries its clip, a video whose
        // item carries its address: the post has nothing more to give.
        const bool video = type == u"video"_s && IsPostId(mid);
        if (hasPid && (type == u"livephoto"_s || type == u"gif"_s || video)) {
            if (const std::optional<Clip> clip = ClipOf(item.value(u"video"_s).toString(), true))
                return AddStill(pid, still, time) && AddClip(video ? mid : pid, ClipExtras(*clip, ClipGuess(type), time, mid), clip->address);
        }
        if (!IsPostId(mid))
            return !hasPid || AddStill(pid, still, time);
        // A post outside the run's range is not read: the item counts as
        // one picture left out.
        if (time > 0 && g_jobs.range.IsSet() && !g_jobs.range.Contains(time)) {
            g_jobs.LeaveOut(time);
            return true;
        }

        // A post named by its id alone gives every picture it holds.
        const Post &post = PostOf(m_core, mid, m_referer, !hasPid);
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
            // The still the wall names is not lost with its post; what only
            // the post gives is counted.
            if (hasPid && !AddStill(pid, still, time))
                return false;
            if (!hasPid)
                Unavailable(mid, mid, post.why);
            else if (type == u"livephoto"_s || type == u"gif"_s)
                Unavailable(pid + ClipGuess(type), mid, post.why);
            else if (type == u"video"_s)
                Unavailable(mid + ClipGuess(type), mid, post.why);
            return true;
        }
        const std::int64_t posted = post.time > 0 ? post.time : time;
        const bool onePicture =
            hasPid && std::any_of(post.media.begin(), post.media.end(), [&pid](const PostMedia &m) { return m.pid == pid; });
        // The still of an item its post does not list: a video's cover.
        if (hasPid && !onePicture && !AddStill(pid, still, posted))
            return false;
        for (const PostMedia &media : post.media) {
            if (onePicture && media.pid != pid)
                continue;
            const bool going = media.pid.isEmpty()
                ? AddPostClip(mid, media.clip, posted, mid)
                : AddStill(media.pid, media.still, posted) && AddPostClip(media.pid, media.clip, posted, mid);
            if (!going)
                return false;
        }
        if (!hasPid && post.Partial())
            Unavailable(mid, mid, post.restWhy);
        return true;
    }

private:
    bool AddStill(const QString &pid, const QString &address, std::int64_t time)
    {
        if (!m_done.contains(pid)) {
            m_done.insert(pid);
            PictureExtras extras;
            extras.postTime = time;
            // The address no longer tells the format: the bytes do.
            extras.extensionFromBytes = true;
            extras.mediaKey = pid;
            AddPictureJob(m_core, address, StillName(pid, address), QString(), m_albumIndex, extras);
        }
        return !ListingEnds(m_core);
    }

    // A clip beside the still `base` names (or the video of post `base`).
    bool AddClip(const QString &base, const PictureExtras &extras, const QString &address)
    {
        if (m_done.contains(base + extras.clipExtension))
            return true;
        m_done.insert(base + extras.clipExtension);
        PictureExtras clip = extras;
        clip.mediaKey = ClipKey(base);
        AddPictureJob(m_core, address, base, QString(), m_albumIndex, clip);
        return !ListingEnds(m_core);
    }

    // A clip post `mid` names.
    bool AddPostClip(const QString &base, const QString &address, std::int64_t time, const QString &mid)
    {
        if (address.isEmpty() || !m_core.m_weiboClips)
            return true;
        const std::optional<Clip> clip = ClipOf(address, false);
        if (!clip) {
            StatusText(m_core, QString::fromUtf16(texts::kWeiboBadClip).arg(WithScheme(address).left(200)));
            return true;
        }
        return AddClip(base, ClipExtras(*clip, u".mp4"_s, time, mid), clip->address);
    }

    // What a post that cannot be read withholds: file `name` of post `mid`.
    void Unavailable(const QString &name, const QString &mid, const QString &why)
    {
        if (m_done.contains(name))
            return;
        m_done.insert(name);
        g_jobs.unavailable.append({endpoints::WeiboStatusUrl(mid), name, why.isEmpty() ? kUnreadable : why, mid});
    }

    TamblinCore &m_core;
    const int m_albumIndex;
    const QString m_referer;
    QSet<QString> m_done; // pids and clip names of the album so far
};

// The day a wall cursor ("4885513571270719_-1_20230416_-1") says its page
// begins at or before: the time of the post id it starts with, else the
// date it carries; null when it says neither.
QDate CursorDay(const QString &cursor)
{
    const QStringList fields = cursor.split(u'_');
    if (const std::int64_t time = MidTime(fields.value(0)))
        return DateRange::DayOf(time);
    for (const QString &field : fields) {
        if (field.size() == 8 && AllDigits(field))
            return QDate::fromString(field, u"yyyyMMdd"_s);
    }
    return {};
}

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
    // The wall is newest first: under a range with a first day, the walk
    // ends at the first page of older posts alone, or before a page its
    // cursor says starts before that day.
    const QDate since = endpoints::IsWeiboImageWall(albumUrl) ? g_jobs.range.since : QDate();
    for (;;) {
        const QString url = albumUrl + QString::fromLatin1(QUrl::toPercentEncoding(cursor));
        QJsonObject answer;
        QString why;
        // The wall's first page, when the list run just read it.
        std::optional<QJsonObject> kept = cursor == u"0"_s ? TakeFirstPage(url) : std::nullopt;
        const Answer got = kept ? Answer::Ok : FetchJson(core, source, url, referer, answer, &why);
        if (kept)
            answer = std::move(*kept);
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
            bool older = since.isValid();
            for (const QJsonValue &item : pictures) {
                const std::int64_t time = MidTime(IdText(item.toObject().value(u"mid"_s)));
                older = older && time > 0 && DateRange::DayOf(time) < since;
                if (!jobs.Add(item.toObject()))
                    return;
            }
            if (older)
                return;
        }
        cursor = IdText(data.value(u"since_id"_s));
        if (cursor.isEmpty() || cursor == u"0"_s)
            return;
        if (since.isValid() && CursorDay(cursor).isValid() && CursorDay(cursor) < since)
            return;
        if (seenCursors.contains(cursor))
            return WallWalkEnded(core, QString::fromUtf16(texts::kWeiboCursorRepeats).arg(cursor.left(40)));
        seenCursors.insert(cursor);
    }
}

// A retry's failed.txt lines that name a post: a clip whose recorded address
// still holds is fetched as it stands; otherwise the post is read again
// (with the login the run has now) and gives what it holds under the
// recorded names; a line named by the post's id alone gives every picture
// and clip of the post not in the folder yet. What it still withholds stays
// recorded.
void RetryPostLines(TamblinCore &core, int albumIndex, const QList<FailedPicture> &lines)
{
    const ST_PERLISTRECORD *album = core.m_albums.At(albumIndex);
    QString uid = album ? QUrlQuery(QUrl(album->albumUrl)).queryItemValue(u"uid"_s) : QString();
    if (!AllDigits(uid))
        uid = core.m_ownerUid;
    const QString referer = endpoints::WeiboUserPageUrl(uid, QString());
    const bool clips = core.m_weiboClips;
    auto addAbsent = [](const QString &url, const QString &name, const PictureExtras &extras) {
        if (!QFileInfo::exists(g_jobs.folder + name))
            g_jobs.Append(url, name, QString(), extras);
    };
    for (const FailedPicture &line : lines) {
        if (RunStopAsked(core))
            return;
        const QString name = QFileInfo(QDir::fromNativeSeparators(line.fileName)).fileName();
        const qsizetype dot = name.lastIndexOf(u'.');
        const QString base = dot < 0 ? name : name.first(dot);
        const QString ext = dot < 0 ? QString() : name.sliced(dot).toLower();
        const bool clipLine = ext == u".mov"_s || ext == u".mp4"_s;
        const bool wholeLine = dot < 0 && base == line.postId;
        if (clipLine && !clips)
            continue; // kept for a run that wants clips
        if (const std::optional<Clip> clip = clipLine ? RecordedClip(line) : std::nullopt) {
            // As the first run had it: the post's time, no size limits.
            PictureExtras extras = ClipExtras(*clip, ext, MidTime(line.postId), line.postId);
            extras.clipExtension = ext; // the recorded name stands
            g_jobs.Append(clip->address, line.fileName, QString(), extras);
            continue;
        }
        const Post &post = PostOf(core, line.postId, referer, wholeLine);
        FailedPicture again = line;
        if (!post.readable) {
            again.reason = post.why.isEmpty() ? kUnreadable : post.why;
            g_jobs.unavailable.append(again);
            continue;
        }
        const std::int64_t time = post.time > 0 ? post.time : MidTime(line.postId);
        bool found = false;
        for (const PostMedia &media : post.media) {
            const std::optional<Clip> clip = clips ? ClipOf(media.clip, false) : std::nullopt;
            PictureExtras extras;
            extras.postTime = time;
            if (wholeLine) {
                found = true;
                if (!media.pid.isEmpty()) {
                    extras.extensionFromBytes = true;
                    addAbsent(media.still, StillName(media.pid, media.still), extras);
                }
                if (clip) {
                    const PictureExtras clipExtras = ClipExtras(*clip, u".mp4"_s, time, line.postId);
                    const QString clipBase = media.pid.isEmpty() ? line.postId : media.pid;
                    addAbsent(clip->address, clipBase + clipExtras.clipExtension, clipExtras);
                }
            } else if (media.pid.isEmpty() ? clipLine && base == line.postId : media.pid == base) {
                if (!clipLine) {
                    g_jobs.Append(media.still, line.fileName, QString(), extras);
                    found = true;
                } else if (clip) {
                    PictureExtras clipExtras = ClipExtras(*clip, ext, time, line.postId);
                    clipExtras.clipExtension = ext; // the recorded name stands
                    g_jobs.Append(clip->address, line.fileName, QString(), clipExtras);
                    found = true;
                }
            }
        }
        if (wholeLine) {
            g_jobs.settledFailures.append(line.fileName);
            if (post.Partial()) {
                again.reason = post.restWhy;
                g_jobs.unavailable.append(again);
            }
        } else if (!found) {
            again.reason = u"the post no longer holds it"_s;
            g_jobs.unavailable.append(again);
        }
    }
}

} // namespace tamblin::weibo
