// Weibo photo albums (weibo.com, photo.weibo.com), read with the cookies of
// the user's login: the album list and the photo pages of one album.
#pragma once

#include <QString>

namespace tamblin {

class TamblinCore;

// The albums of a Weibo user; sets m_ownerUid and m_userFolder (the
// nickname).
void ListWeiboAlbums(TamblinCore &core, const QString &address);
// The photo pages of a Weibo album, 32 photos a page.
void ListWeiboPictures(TamblinCore &core, int albumIndex);

} // namespace tamblin
