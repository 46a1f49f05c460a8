#include "sources/WeiboArchive.h"

#include "app/TamblinCore.h"
#include "download/DateRange.h"
#include "download/DownloadJobList.h"
#include "download/ListFiles.h"
#include "download/NamingRules.h"
#include "net/HttpClient.h"
#include "net/SafeFile.h"
#include "sources/Endpoints.h"
#include "sources/SourceSupport.h"
#include "sources/WeiboPosts.h"
#include "sources/WeiboSession.h"
#include "sources/WeiboWall.h"
#include "text/TextUtils.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <algorithm>

namespace tamblin::weibo {

using namespace Qt::StringLiterals;

namespace {

// A post as posts.jsonl keeps it, and what the files it names go by.
struct KeptPost {
    QJsonObject line;     // without "files"
    std::int64_t time = 0;
    QStringList keys;     // PictureExtras::mediaKey of its pictures and clips
    QStringList repostKeys;
    // A repost: the post it reposted, whose pictures go to "转发".
    QString originalMid;
    Post original;
};

// What a post names its pictures and clips by: a picture's id, the clip
// of a picture or of the post (a video).
QStringList MediaKeys(const Post &post, const QString &mid)
{
    QStringList keys;
    for (const PostMedia &media : post.media) {
        if (!media.pid.isEmpty())
            keys.append(media.pid);
        if (!media.clip.isEmpty())
            keys.append(ClipKey(media.pid.isEmpty() ? mid : media.pid));
    }
    return keys;
}

// The plain text of a post object: "text_raw", else "text" without its tags.
QString TextOf(const QJsonObject &status)
{
    const QString raw = status.value(u"text_raw"_s).toString();
    if (!raw.isEmpty())
        return raw;
    QString text = StripTags(status.value(u"text"_s).toString());
    HtmlDecode(text);
    return text;
}

QString MidOf(const QJsonObject &status)
{
    for (const QString &key : {u"mid"_s, u"idstr"_s, u"id"_s}) {
        const QString mid = IdText(status.value(key));
        if (IsPostId(mid))
            return mid;
    }
    return {};
}

std::int64_t TimeOf(const QJsonObject &status, const QString &mid)
{
    const std::int64_t time = PostTime(status.value(u"created_at"_s).toString());
    return time > 0 ? time : MidTime(mid);
}

QString TimeText(std::int64_t time)
{
    return time > 0 ? QDateTime::fromSecsSinceEpoch(time, ChinaStandardTime()).toString(Qt::ISODate) : QString();
}

// A mid compared as the number it is: newer posts have larger ones.
bool NewerMid(const QString &a, const QString &b)
{
    return a.size() != b.size() ? a.size() > b.size() : a > b;
}

QJsonArray Files(const QStringList &keys, const QHash<QString, QString> &saved)
{
    QJsonArray files;
    for (const QString &key : keys) {
        const auto found = saved.find(key);
        if (found != saved.end())
            files.append(*found);
    }
    return files;
}

// `now`'s file names, then those of `earlier` it lacks.
QJsonArray UnitedFiles(const QJsonArray &now, const QJsonArray &earlier)
{
    QJsonArray files = now;
    for (const QJsonValue &file : earlier) {
        if (!files.contains(file))
            files.append(file);
    }
    return files;
}

class Keeper final : public PostKeeper {
public:
    bool Read(TamblinCore &core, const DateRange &range, QString &why) override
    {
        m_posts.clear();
        const QString uid = core.m_ownerUid;
        if (!AllDigits(uid) || uid.isEmpty()) {
            why = u"the Weibo user's id is not known"_s;
            return false;
        }
        m_referer = endpoints::WeiboUserPageUrl(uid, QString());
        UrlSource source;
        PageWalkGuard guard(core);
        QSet<QString> seen;
        for (int page = 1; !DownStopAsked(core); ++page) {
            QJsonObject answer;
            QString failure;
            const Answer got = FetchJson(core, source, endpoints::WeiboUserPostsUrl(uid, page), m_referer, answer,
                                         &failure);
            if (got != Answer::Ok) {
                why = got == Answer::LoginNeeded ? u"a Weibo login is needed"_s
                                                 : failure.isEmpty() ? source.errorText : failure;
                return false;
            }
            const QJsonArray list = answer.value(u"data"_s).toObject().value(u"list"_s).toArray();
            if (list.isEmpty() || !guard.CountPage()
                || guard.Repeats(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact))))
                return true;
            // Newest first, a pinned post ahead: the list ends for the range
            // at the first page of older posts alone.
            bool older = range.since.isValid();
            for (const QJsonValue &entry : list) {
                const QJsonObject status = entry.toObject();
                const QString mid = MidOf(status);
                const std::int64_t time = TimeOf(status, mid);
                const bool pinned = status.value(u"isTop"_s).toInt() == 1 || status.value(u"mblogtype"_s).toInt() == 2;
                if (!pinned)
                    older = older && time > 0 && DateRange::DayOf(time) < range.since;
                if (mid.isEmpty() || seen.contains(mid) || (time > 0 && range.IsSet() && !range.Contains(time)))
                    continue;
                seen.insert(mid);
                m_posts.append(Kept(core, source, status, mid, time));
            }
            if (older)
                return true;
        }
        return true;
    }

    void ListReposts(TamblinCore &core) override
    {
        g_jobs.referer = PictureReferer(kSubModeWeibo);
        QSet<QString> done;
        for (const KeptPost &kept : std::as_const(m_posts)) {
            if (kept.originalMid.isEmpty() && kept.original.media.isEmpty())
                continue;
            // The time of the repost: the range chose it, and names sort by it.
            const std::int64_t posted = kept.time;
            const Post *post = &kept.original;
            if (post->Partial() && IsPostId(kept.originalMid)) {
                // A pause before a request: what is listed goes to the pool.
                FeedListedPictures();
                const Post &whole = PostOf(core, kept.originalMid, m_referer, true);
                if (whole.readable)
                    post = &whole;
            }
            for (const PostMedia &media : post->media) {
                if (!media.pid.isEmpty() && !done.contains(media.pid)) {
                    done.insert(media.pid);
                    PictureExtras extras;
                    extras.postTime = posted;
                    extras.extensionFromBytes = true;
                    extras.mediaKey = media.pid;
                    AddPictureJob(core, media.still, StillName(media.pid, media.still), QString(), kRepostsAlbum,
                                  extras);
                }
                const QString base = media.pid.isEmpty() ? kept.originalMid : media.pid;
                const std::optional<Clip> clip = core.m_weiboClips ? ClipOf(media.clip, false) : std::nullopt;
                if (clip && !base.isEmpty() && !done.contains(ClipKey(base))) {
                    done.insert(ClipKey(base));
                    PictureExtras extras = ClipExtras(*clip, u".mp4"_s, posted, kept.originalMid);
                    extras.mediaKey = ClipKey(base);
                    AddPictureJob(core, clip->address, base, QString(), kRepostsAlbum, extras);
                }
                if (ListingEnds(core))
                    return;
            }
        }
    }

    bool Write(const QString &userFolder, const QHash<QString, QString> &saved) override
    {
        if (m_posts.isEmpty())
            return true;
        QList<QJsonObject> lines;
        for (const KeptPost &kept : std::as_const(m_posts)) {
            QJsonObject line = kept.line;
            line.insert(u"files"_s, Files(kept.keys, saved));
            if (line.contains(u"repost"_s)) {
                QJsonObject repost = line.value(u"repost"_s).toObject();
                repost.insert(u"files"_s, Files(kept.repostKeys, saved));
                line.insert(u"repost"_s, repost);
            }
            lines.append(line);
        }
        const QString path = userFolder + QString::fromUtf16(kPostsFileName);
        QFile earlier(path);
        QByteArray before;
        if (earlier.exists()) {
            // A file that is there but cannot be read is not overwritten:
            // its lines would be lost.
            if (!earlier.open(QIODevice::ReadOnly))
                return false;
            before = earlier.readAll();
        }
        SafeFile file(path);
        return file.Open() && file.Write(MergePostLines(before, lines)) && file.Commit();
    }

private:
    // One post of the list: its line, with the whole text where the list
    // cuts it short, and for a repost the post it reposted.
    KeptPost Kept(const TamblinCore &core, UrlSource &source, const QJsonObject &status, const QString &mid,
                  std::int64_t time)
    {
        KeptPost kept;
        QString text = TextOf(status);
        if (status.value(u"isLongText"_s).toBool()) {
            QJsonObject answer;
            if (FetchJson(core, source, endpoints::WeiboLongTextUrl(mid), m_referer, answer) == Answer::Ok) {
                const QString whole = answer.value(u"data"_s).toObject().value(u"longTextContent"_s).toString();
                if (!whole.isEmpty())
                    text = whole;
            }
        }
        kept.time = time;
        kept.line.insert(u"mid"_s, mid);
        kept.line.insert(u"time"_s, TimeText(time));
        kept.line.insert(u"text"_s, text);
        kept.keys = MediaKeys(ReadPost(status), mid);
        const QJsonValue reposted = status.value(u"retweeted_status"_s);
        if (reposted.isObject()) {
            const QJsonObject original = reposted.toObject();
            const QJsonObject user = original.value(u"user"_s).toObject();
            kept.originalMid = MidOf(original);
            kept.original = ReadPost(original);
            kept.repostKeys = MediaKeys(kept.original, kept.originalMid);
            QJsonObject repost;
            repost.insert(u"mid"_s, kept.originalMid);
            repost.insert(u"author"_s, user.value(u"screen_name"_s).toString());
            repost.insert(u"author_id"_s, IdText(user.value(u"idstr"_s)).isEmpty() ? IdText(user.value(u"id"_s))
                                                                                  : IdText(user.value(u"idstr"_s)));
            repost.insert(u"time"_s, TimeText(TimeOf(original, kept.originalMid)));
            repost.insert(u"text"_s, TextOf(original));
            kept.line.insert(u"repost"_s, repost);
        }
        return kept;
    }

    QList<KeptPost> m_posts;
    QString m_referer;
};

} // namespace

PostKeeper &UserPostKeeper()
{
    static Keeper keeper;
    return keeper;
}

QByteArray MergePostLines(const QByteArray &earlier, const QList<QJsonObject> &posts)
{
    QHash<QString, QJsonObject> byMid;
    QList<QByteArray> others;
    for (const QByteArray &raw : earlier.split('\n')) {
        if (raw.trimmed().isEmpty())
            continue;
        const QJsonObject line = QJsonDocument::fromJson(raw).object();
        const QString mid = line.value(u"mid"_s).toString();
        if (IsPostId(mid) && !byMid.contains(mid))
            byMid.insert(mid, line);
        else
            others.append(raw.trimmed());
    }
    for (const QJsonObject &post : posts) {
        const QString mid = post.value(u"mid"_s).toString();
        QJsonObject merged = byMid.value(mid);
        const QJsonObject before = merged;
        for (auto it = post.begin(); it != post.end(); ++it)
            merged.insert(it.key(), it.value());
        merged.insert(u"files"_s, UnitedFiles(post.value(u"files"_s).toArray(), before.value(u"files"_s).toArray()));
        if (merged.contains(u"repost"_s) && before.contains(u"repost"_s)) {
            QJsonObject repost = merged.value(u"repost"_s).toObject();
            repost.insert(u"files"_s, UnitedFiles(repost.value(u"files"_s).toArray(),
                                                  before.value(u"repost"_s).toObject().value(u"files"_s).toArray()));
            merged.insert(u"repost"_s, repost);
        }
        byMid.insert(mid, merged);
    }
    QStringList mids = byMid.keys();
    std::sort(mids.begin(), mids.end(), NewerMid);
    QByteArray text;
    for (const QString &mid : std::as_const(mids))
        text += QJsonDocument(byMid.value(mid)).toJson(QJsonDocument::Compact) + '\n';
    for (const QByteArray &raw : std::as_const(others))
        text += raw + '\n';
    return text;
}

} // namespace tamblin::weibo
