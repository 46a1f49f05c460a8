#include "sources/WeiboPosts.h"

#include "net/HttpClient.h"
#include "sources/Endpoints.h"
#include "sources/WeiboSession.h"
#include "text/TextUtils.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QStringList>
#include <QTimeZone>

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

} // namespace

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
    const QDateTime local = QDateTime::fromString(createdAt, u"yyyy-MM-dd HH:mm:ss"_s);
    if (local.isValid())
        return QDateTime(local.date(), local.time(), QTimeZone(8 * 3600)).toSecsSinceEpoch();
    const QString stamp = GetBetween(piece, u"\"timestamp\":", u",", 0).remove(u'}').trimmed();
    const qint64 number = AllDigits(stamp) ? stamp.toLongLong() : 0;
    return number > 100000000000 ? number / 1000 : number;
}

Post ReadPost(const QJsonObject &status)
{
    Post post;
    post.readable = true;
    post.time = PostTime(status.value(u"created_at"_s).toString());
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
    if (infos.isEmpty()) {
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
    if (post.media.isEmpty()) {
        const QString video = VideoOf(status.value(u"page_info"_s).toObject());
        if (!video.isEmpty())
            post.media.append({QString(), QString(), video});
    }
    return post;
}

const Post &PostOf(const TamblinCore &core, const QString &mid, const QString &referer)
{
    // Kept for one run (a list run starts the next one), and bounded: an
    // account of many posts must not hold them all.
    thread_local QHash<QString, Post> posts;
    thread_local int generation = -1;
    if (generation != g_postsGeneration || posts.size() >= 20000) {
        posts.clear();
        generation = g_postsGeneration;
    }
    auto found = posts.constFind(mid);
    if (found != posts.constEnd())
        return *found;
    Post post;
    UrlSource source;
    QJsonObject status;
    const Answer answer = FetchJson(core, source, endpoints::WeiboStatusUrl(mid), referer, status, &post.why);
    if (answer == Answer::Ok) {
        post = ReadPost(status);
    } else {
        const QString code = IdText(status.value(u"errno"_s)) + IdText(status.value(u"error_code"_s));
        post.followersOnly = code == u"20112"_s;
        post.verifyNeeded = answer == Answer::VerifyNeeded;
        if (answer == Answer::LoginNeeded)
            post.why = u"a Weibo login is needed"_s;
        else if (post.why.isEmpty())
            post.why = source.errorText;
    }
    return *posts.insert(mid, post);
}

void ForgetPosts()
{
    ++g_postsGeneration;
}

} // namespace tamblin::weibo
