#include "sources/WeiboPosts.h"

#include "download/DateRange.h"
#include "net/HttpClient.h"
#include "sources/Endpoints.h"
#include "sources/SourceSupport.h"
#include "sources/WeiboSession.h"
#include "text/TextUtils.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QSet>
#include <QStringList>
#include <QTimeZone>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <atomic>

namespace tamblin::weibo {

using namespace Qt::StringLiterals;

namespace {

// Posts read by the download threads are kept until the next list run.
std::atomic<int> g_postsGeneration{0};

// The best video of a page_info (or a mix item's data): the playback entry
// of the highest quality, else the HD stream, else the stream.
QString VideoOf(const QJsonObject &pageInfo)
{
    const QJsonObject media = pageInfo.value(u"media_info"_s).toObject();
    QString best;
    double bestQuality = -1;
    for (const QJsonValue &entry : media.value(u"playback_list"_s).toArray()) {
        const QJsonObject playback = entry.toObject();
        const double quality = playback.value(u"meta"_s).toObject().value(u"quality_index"_s).toDouble(0);
        const QString url = playback.value(u"play_info"_s).toObject().value(u"url"_s).toString();
        if (!url.isEmpty() && quality > bestQuality) {
            best = url;
            bestQuality = quality;
        }
    }
    for (const QString &key : {u"stream_url_hd"_s, u"stream_url"_s}) {
        if (best.isEmpty())
            best = media.value(key).toString();
    }
    return best;
}

// A picture of pic_infos (or a mix item's data): its largest still and, for
// a Live Photo or a gif, its clip.
void AddPicInfo(Post &post, const QString &pid, const QJsonObject &info)
{
    if (!IsPictureId(pid))
        return;
    PostMedia media{pid, {}, {}};
    for (const QString &size : {u"largest"_s, u"original"_s, u"mw2000"_s}) {
        if (media.still.isEmpty())
            media.still = info.value(size).toObject().value(u"url"_s).toString();
    }
    if (media.still.isEmpty())
        media.still = endpoints::WeiboPictureUrl(pid);
    const QString type = info.value(u"type"_s).toString();
    if (type == u"livephoto"_s || type == u"gif"_s)
        media.clip = info.value(u"video"_s).toString();
    post.media.append(media);
}

// A picture of the mobile site's "pics": its large still and, for a Live
// Photo or a gif, its clip ("videoSrc").
void AddMobilePic(Post &post, const QJsonObject &pic)
{
    const QString pid = pic.value(u"pid"_s).toString();
    if (!IsPictureId(pid))
        return;
    PostMedia media{pid, pic.value(u"large"_s).toObject().value(u"url"_s).toString(), {}};
    if (media.still.isEmpty())
        media.still = endpoints::WeiboPictureUrl(pid);
    media.clip = pic.value(u"videoSrc"_s).toString();
    post.media.append(media);
}

// The http(s) address `text` names, a protocol-relative one over https;
// empty when it names none.
QString HttpAddress(const QString &text)
{
    const QString address = WithScheme(text);
    const QUrl url(address);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http"_s && scheme != u"https"_s) || url.host().isEmpty())
        return {};
    return address;
}

} // namespace

int Post::Pictures() const
{
    return int(std::count_if(media.begin(), media.end(), [](const PostMedia &m) { return !m.pid.isEmpty(); }));
}

std::optional<Clip> ClipOf(const QString &video, bool weiboHostsOnly)
{
    Clip clip;
    clip.address = HttpAddress(video.trimmed());
    if (clip.address.isEmpty() || (weiboHostsOnly && !endpoints::IsWeiboMediaUrl(clip.address)))
        return std::nullopt;
    clip.named = clip.address;
    const QUrlQuery query(QUrl(clip.address).query());
    if (query.hasQueryItem(endpoints::kWeiboLivePhotoParam.toString())) {
        // The stable address of a Live Photo: what it leads to is the clip.
        clip.named = HttpAddress(query.queryItemValue(endpoints::kWeiboLivePhotoParam.toString(), QUrl::FullyDecoded));
        if (clip.named.isEmpty() || (weiboHostsOnly && !endpoints::IsWeiboMediaUrl(clip.named)))
            return std::nullopt;
    }
    const QString path = QUrl(clip.named).path();
    for (const QString &ext : {u".mov"_s, u".mp4"_s}) {
        if (path.endsWith(ext, Qt::CaseInsensitive))
            clip.extension = ext;
    }
    return clip;
}

std::int64_t MidTime(const QString &mid)
{
    if (!IsPostId(mid))
        return 0;
    bool ok = false;
    const qulonglong id = mid.toULongLong(&ok);
    // Weibo opened in August 2009; an id saying earlier is no post's.
    constexpr std::int64_t kWeiboBegan = 1249084800;
    const std::int64_t time = ok ? std::int64_t(id >> 22) + 515483463 : 0;
    return time >= kWeiboBegan && time <= QDateTime::currentSecsSinceEpoch() + 86400 ? time : 0;
}

std::int64_t PostTime(const QString &createdAt)
{
    static const QStringList kMonths = {u"Jan"_s, u"Feb"_s, u"Mar"_s, u"Apr"_s, u"May"_s, u"Jun"_s,
                                        u"Jul"_s, u"Aug"_s, u"Sep"_s, u"Oct"_s, u"Nov"_s, u"Dec"_s};
    const QStringList fields = createdAt.split(u' ', Qt::SkipEmptyParts);
    if (fields.size() != 6)
        return 0;
    const int month = int(kMonths.indexOf(fields[1])) + 1;
    const QDate date(fields[5].toInt(), month, fields[2].toInt());
    const QTime time = QTime::fromString(fields[3], u"HH:mm:ss"_s);
    const QString &zone = fields[4];
    if (!date.isValid() || !time.isValid() || zone.size() != 5 || (zone[0] != u'+' && zone[0] != u'-')
        || !AllDigits(QStringView(zone).sliced(1)))
        return 0;
    const int offset = (zone.sliced(1, 2).toInt() * 3600 + zone.sliced(3, 2).toInt() * 60) * (zone[0] == u'-' ? -1 : 1);
    return QDateTime(date, time, QTimeZone(offset)).toSecsSinceEpoch();
}

std::int64_t PhotoTime(QStringView piece)
{
    const QString createdAt = JsonUnescape(GetBetween(piece, u"\"created_at\":\"", u"\"", 0));
    if (const std::int64_t posted = PostTime(createdAt))
        return posted;
    if (const std::int64_t beijing = ChinaTimeFromText(createdAt, u"yyyy-MM-dd HH:mm:ss"_s))
        return beijing;
    const QString stamp = GetBetween(piece, u"\"timestamp\":", u",", 0).remove(u'}').trimmed();
    const qint64 number = AllDigits(stamp) ? stamp.toLongLong() : 0;
    return number > 100000000000 ? number / 1000 : number;
}

Post ReadPost(const QJsonObject &status)
{
    Post post;
    post.readable = true;
    post.time = PostTime(status.value(u"created_at"_s).toString());
    post.pictureCount = std::clamp(IdText(status.value(u"pic_num"_s)).toInt(), 0, 1000);
    const QJsonObject infos = status.value(u"pic_infos"_s).toObject();
    QStringList order;
    for (const QJsonValue &pid : status.value(u"pic_ids"_s).toArray())
        order.append(pid.toString());
    if (order.isEmpty())
        order = infos.keys();
    for (const QString &pid : std::as_const(order)) {
        if (infos.contains(pid))
            AddPicInfo(post, pid, infos.value(pid).toObject());
    }
    if (infos.isEmpty() && status.value(u"mix_media_info"_s).isObject()) {
        // Whether pic_num counts the videos of a mix is not known: it says
        // nothing here.
        post.pictureCount = 0;
        for (const QJsonValue &entry : status.value(u"mix_media_info"_s).toObject().value(u"items"_s).toArray()) {
            const QJsonObject item = entry.toObject();
            const QJsonObject data = item.value(u"data"_s).toObject();
            if (item.value(u"type"_s).toString() == u"video"_s) {
                const QString video = VideoOf(data);
                if (!video.isEmpty())
                    post.media.append({QString(), QString(), video});
            } else {
                const QString id = IdText(item.value(u"id"_s));
                AddPicInfo(post, id.isEmpty() ? data.value(u"pic_id"_s).toString() : id, data);
            }
        }
    }
    // The mobile site's form.
    if (post.media.isEmpty()) {
        for (const QJsonValue &pic : status.value(u"pics"_s).toArray())
            AddMobilePic(post, pic.toObject());
    }
    if (post.media.isEmpty()) {
        const QString video = VideoOf(status.value(u"page_info"_s).toObject());
        if (!video.isEmpty())
            post.media.append({QString(), QString(), video});
    }
    return post;
}

namespace {

// The answer of `url` as a post: `answer` is the post itself (weibo.com) or
// holds it as "data" (the mobile site).
Post ReadPostAt(const TamblinCore &core, const QString &url, const QString &referer, bool inData)
{
    Post post;
    UrlSource source;
    QJsonObject answer;
    const Answer got = FetchJson(core, source, url, referer, answer, &post.why);
    if (got == Answer::Ok)
        return ReadPost(inData ? answer.value(u"data"_s).toObject() : answer);
    const QString code = IdText(answer.value(u"errno"_s)) + IdText(answer.value(u"error_code"_s));
    post.followersOnly = code == u"20112"_s;
    post.verifyNeeded = got == Answer::VerifyNeeded;
    if (got == Answer::LoginNeeded)
        post.why = u"a Weibo login is needed"_s;
    else if (post.why.isEmpty())
        post.why = source.errorText;
    return post;
}

// Adds to `post` the pictures of its whole answer `whole` that it lacks, in
// the whole answer's order, after its own.
void AddRest(Post &post, const Post &whole)
{
    QSet<QString> listed;
    for (const PostMedia &media : std::as_const(post.media))
        listed.insert(media.pid);
    for (const PostMedia &media : whole.media) {
        if (!media.pid.isEmpty() && !listed.contains(media.pid)) {
            listed.insert(media.pid);
            post.media.append(media);
        }
    }
}

} // namespace

const Post &PostOf(const TamblinCore &core, const QString &mid, const QString &referer, bool whole)
{
    // Kept for one run (a list run starts the next one), and bounded: an
    // account of many posts must not hold them all.
    thread_local QHash<QString, Post> posts;
    thread_local int generation = -1;
    if (generation != g_postsGeneration || posts.size() >= 20000) {
        posts.clear();
        generation = g_postsGeneration;
    }
    auto found = posts.find(mid);
    if (found == posts.end())
        found = posts.insert(mid, ReadPostAt(core, endpoints::WeiboStatusUrl(mid), referer, false));
    Post &post = *found;
    if (whole && post.readable && post.Partial() && post.restWhy.isEmpty()) {
        const Post rest = ReadPostAt(core, endpoints::WeiboMobileStatusUrl(mid), referer, true);
        if (rest.readable)
            AddRest(post, rest);
        if (post.Partial()) {
            post.restWhy = rest.readable ? u"the post's whole answer lists %1 of its %2 pictures"_s.arg(post.Pictures())
                                               .arg(post.pictureCount)
                                         : rest.why.isEmpty() ? u"the post's whole answer could not be read"_s
                                                              : rest.why;
        }
    }
    return post;
}

void ForgetPosts()
{
    ++g_postsGeneration;
}

} // namespace tamblin::weibo
