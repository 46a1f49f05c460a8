// Sina photo albums (photo.blog.sina.com.cn): a user's album list and the
// full-size pictures of one album.
#pragma once

#include <QString>

namespace tamblin {

class TamblinCore;

// The albums of a Sina photo user; sets m_userFolder (the blog title) and
// m_ownerUid.
void ListSinaPhotoAlbums(TamblinCore &core, const QString &address);
// The pages "<albumUrl>/page<n>" of a Sina photo album, full-size pictures,
// each handed to AddPictureJob on the download thread.
void ListSinaPhotoPictures(TamblinCore &core, int albumIndex);

} // namespace tamblin
