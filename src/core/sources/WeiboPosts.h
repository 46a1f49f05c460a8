// Weibo posts: what a post holds (its pictures, their clips, its video) and
// when it was posted, read from statuses/show or a list answer; each post is
// asked at most once per run. And the clips the posts and the image wall
// name: which addresses are fetched, and what they are called.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

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
    // The pictures the post says it holds ("pic_num"); 0 when it does not say.
    int pictureCount = 0;
    QList<PostMedia> media;
    // Why the pictures a partial answer left out could not be read (the
    // post's whole answer failed); empty while that was not tried.
    QString restWhy;

    // The pictures (media with a pid) the answer lists.
    int Pictures() const;
    // The answer lists fewer pictures than the post holds.
    bool Partial() const { return pictureCount > Pictures(); }
};

// A clip as it is fetched: `address` is fetched, listed and recorded;
// `named` is the address whose path tells what the clip is (the inner
// livephoto= address of a Live Photo's stable address, else the address
// itself); `extension` is ".mov" or ".mp4" as that path says, empty when it
// says neither (the clip's first bytes then decide).
struct Clip {
    QString address;
    QString named;
    QString extension;
};

// The clip a post or a wall item names by `video`: an http or https
// address (a protocol-relative one over https), and, with `weiboHostsOnly`,
// one on a Weibo or Sina media host whose inner livephoto= address, when it
// has one, is one too. None when it is not such an address.
std::optional<Clip> ClipOf(const QString &video, bool weiboHostsOnly);

// When a post id says its post was written (the id carries its time:
// (mid >> 22) + 515483463 seconds since 1970); 0 for an id that is no post
// id or says a time before Weibo began.
std::int64_t MidTime(const QString &mid);

// "Tue Feb 23 12:28:47 +0800 2021" in seconds since 1970; 0 when it is not
// that form.
std::int64_t PostTime(const QString &createdAt);

// When a photo of the album service was posted, from its "created_at" (the
// posts' form, or "2013-08-29 16:44:05" in Beijing time) or its
// "timestamp" (seconds, or milliseconds); 0 when it says neither.
std::int64_t PhotoTime(QStringView piece);

// What the kept posts name the clip of picture or post `id` by
// (PictureExtras::mediaKey); a still goes by its picture id.
inline QString ClipKey(const QString &id)
{
    return QStringLiteral("clip:") + id;
}

// What a post object says (statuses/show already {"ok":1}, or a list's post).
Post ReadPost(const QJsonObject &status);

// Post `mid`, read through statuses/show (from the user's page `referer`)
// the first time this run asks for it. With `whole`, an answer that lists
// only part of the post's pictures is followed, once per run, by the post's
// whole answer (the mobile site's): the pictures it adds come after the
// listed ones, in the post's order, no pid twice.
const Post &PostOf(const TamblinCore &core, const QString &mid, const QString &referer, bool whole = false);

// Forgets the posts read so far: a new run begins.
void ForgetPosts();

} // namespace weibo
} // namespace tamblin
