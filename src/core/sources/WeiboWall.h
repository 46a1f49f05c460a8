// The Weibo web client's image wall: the albums it names plus "全部图片",
// the whole wall, for a user whose album service gives nothing; and the
// pictures of such an album, page after page, with the clips of Live Photos
// and the videos of their posts.
#pragma once

#include "download/DownloadJobList.h"
#include "download/ListFiles.h"
#include "sources/WeiboPosts.h"
#include "sources/Endpoints.h"

#include <QList>
#include <QString>

namespace tamblin {

class TamblinCore;

namespace weibo {

// Empty answers in a row after which a walk (of the wall or of an album of
// the album service) ends, whatever the count or the cursor says.
inline constexpr int kEmptyPagesToEnd = 3;

// Who a pasted Weibo address names: a numeric id, a personal address name
// (weibo.com/<custom>) or a screen name (weibo.com/n/<name>).
struct WeiboOwner {
    QString uid;
    QString custom;
    QString screenName;

    bool Named() const { return !uid.isEmpty() || !custom.isEmpty() || !screenName.isEmpty(); }
    // The user's page on weibo.com, whatever host the address named.
    QString PageUrl() const
    {
        if (!screenName.isEmpty())
            return endpoints::WeiboScreenNamePageUrl(screenName);
        return endpoints::WeiboUserPageUrl(uid, custom);
    }
    QString InfoUrl() const
    {
        if (uid.isEmpty() && !screenName.isEmpty())
            return endpoints::WeiboProfileByScreenNameUrl(screenName);
        return endpoints::WeiboProfileInfoUrl(uid, custom);
    }
};

// The file name of the still of picture `pid` at `address`: the id, with
// the extension the address names when it is one the bytes may confirm.
QString StillName(const QString &pid, const QString &address);

// The extras of a clip job of post `mid`, saved as `guess` where its
// address does not say (the bytes then have the last word). A failure
// records the post: a retry gives the clip its post time and, where the
// address has expired, a fresh one from the post read again.
PictureExtras ClipExtras(const Clip &clip, const QString &guess, std::int64_t time, const QString &mid);

// The albums of the image wall of `owner` (or of `uid` when the album
// service named it). A login that is needed (the visitor exchange did not
// help) is offered once (the window shows its login browser; a front end
// without one says how to log in) and the pass repeated after it.
void ListWeiboWall(TamblinCore &core, WeiboOwner owner, const QString &uid);

// The pictures of album `albumIndex`, listed through the image wall at
// `albumUrl`.
void ListWeiboWallPictures(TamblinCore &core, int albumIndex, const QString &albumUrl);

// A retry's failed.txt lines of album `albumIndex` that name a post: a clip
// whose recorded address has not expired (no "Expires=" in the past, no 403
// recorded) is fetched as it stands; for the others the post is read again
// and gives what it now holds, a fresh clip address among it
// (PostLineRetry). Clips keep their post's time and the size limits' pass.
void RetryPostLines(TamblinCore &core, int albumIndex, const QList<FailedPicture> &lines);

} // namespace weibo
} // namespace tamblin
