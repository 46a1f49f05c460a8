// The Sina extractors: each turns service pages into album records (list
// extractors, on the album-list worker) or picture jobs (picture extractors,
// on the download worker). They report nothing themselves: a failed or empty
// answer ends the walk and the driver reports an empty result.
#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>

namespace tamblin {

class TamblinCore;

// Sub-modes of a Sina list run (m_subMode).
inline constexpr int kSubModeNone = -1; // set before a run starts
inline constexpr int kSubModeSinaPhoto = 0;
inline constexpr int kSubModeSinaBlog = 1;
inline constexpr int kSubModeWeibo = 2;

// The albums of a Sina photo user; sets m_userFolder (the blog title) and
// m_ownerUid.
void ListSinaPhotoAlbums(TamblinCore &core, const QString &address);
// The articles of a Sina blog, one album each. `address` is an article-list
// address cut before its last "_"; pages are address + "_<n>.html". Sets
// m_userFolder.
void ListSinaBlogArticles(TamblinCore &core, const QString &address);
// The albums of a Weibo user, read with the cookies of the user's login;
// sets m_ownerUid and m_userFolder (the nickname).
void ListWeiboAlbums(TamblinCore &core, const QString &address);

// A number as the services write it: leading blanks, an optional sign, then
// decimal digits up to the first other character; 0 when there are none.
// Values beyond the 32-bit range are clamped.
std::int32_t ReadDecimal(QStringView text);

} // namespace tamblin
