// Weibo posts: what a post holds (its pictures, their clips, its video) and
// when it was posted, read from statuses/show or a list answer; each post is
// asked at most once per run.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringView>

#include <cstdint>

namespace tamblin {

class TamblinCore;

namespace weibo {

// A picture of a post and its clip, or (no pid) a video of the post.
struct PostMedia {
    QString pid;
    QString still;
    QString clip;
};

struct Post {
    bool readable = false;
    QString why;       // when not readable
    bool followersOnly = false;
    bool verifyNeeded = false; // Weibo wants the person to verify first
    std::int64_t time = 0;
    QList<PostMedia> media;
};

// "Tue Feb 23 12:28:47 +0800 2021" in seconds since 1970; 0 when it is not
// that form.
std::int64_t PostTime(const QString &createdAt);

// When a photo of the album service was posted, from its "created_at" (the
// posts' form, or "2013-08-29 16:44:05" in Beijing time) or its
// "timestamp" (seconds, or milliseconds); 0 when it says neither.
std::int64_t PhotoTime(QStringView piece);

// What a post object says (statuses/show already {"ok":1}, or a list's post).
Post ReadPost(const QJsonObject &status);

// Post `mid`, read through statuses/show (from the user's page `referer`)
// the first time this run asks for it.
const Post &PostOf(const TamblinCore &core, const QString &mid, const QString &referer);

// Forgets the posts read so far: a new run begins.
void ForgetPosts();

} // namespace weibo
} // namespace tamblin
