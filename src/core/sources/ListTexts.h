// The fixed texts the album-list run shows, shared by the window and
// tamblin-cli. Texts whose wording is ours are in the stored-text table.
#pragma once

#include "app/StoredTexts.h"
#include "net/RateLimit.h" // the rate-limit texts

#include <QString>
#include <QStringList>

namespace tamblin {

// Entries of the sub-source box of site 0.
QStringList SubSourceNames();

namespace texts {

inline constexpr char16_t kLoginHint[] =
    u"没有获取到相册，请在登录菜单里登录新浪(微博)帐号后重试,登录时勾上下次自动登录";
inline constexpr char16_t kAlbumFrame[] = u"相册列表";
inline constexpr char16_t kAlbumFrameCount[] = u"相册列表(共%1个)";
inline constexpr char16_t kListDone[] = u"获取相册列表完成，共%1个";
inline constexpr char16_t kListNone[] = u"没有获取到相册";
inline constexpr char16_t kListBusy[] = u"正在获取相册列表，请稍等...";
inline constexpr char16_t kGetAlbumsButton[] = u"获取相册";
inline constexpr char16_t kStopGettingButton[] = u"终止获取";

// Today's services: rate limits, certificates, the Weibo image wall.
inline constexpr char16_t kRateLimitGaveUp[] = u"%1 请求过于频繁（HTTP %2），重试%3次后仍被拒绝，请稍后再试";
inline constexpr char16_t kSecureConnectFailed[] = u"无法建立安全连接：%1";
inline constexpr char16_t kWeiboError[] = u"微博返回错误：%1（%2）";
inline constexpr char16_t kWholeImageWall[] = u"全部图片";

} // namespace texts

} // namespace tamblin
