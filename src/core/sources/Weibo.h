// Weibo photo albums (weibo.com, photo.weibo.com): the room's entry points.
// Here, the addresses and the album service, read with the cookies of the
// user's login; the web client's image wall, which a guest reads with the
// passport's visitor cookies, is in WeiboWall, the posts behind its items in
// WeiboPosts, and the session they all ask through in WeiboSession.
#pragma once

#include <QString>

namespace tamblin {

class TamblinCore;

// The albums of the Weibo user an address names (any form a browser shows,
// on weibo.com, m.weibo.cn or weibo.cn); sets m_ownerUid and m_userFolder
// (the nickname).
void ListWeiboAlbums(TamblinCore &core, const QString &address);
// The photo pages of a Weibo album, 32 photos a page.
void ListWeiboPictures(TamblinCore &core, int albumIndex);

} // namespace tamblin
