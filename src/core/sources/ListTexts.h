// The fixed texts the album-list run shows, shared by the window and
// tamblin-cli. Texts whose wording is ours are in the stored-text table.
#pragma once

#include "app/StoredTexts.h"
#include "app/WindowPort.h"
#include "net/RateLimit.h" // the rate-limit texts

#include <QString>
#include <QStringList>

namespace tamblin {

// Entries of the sub-source box of site 0.
QStringList SubSourceNames();

// The window's message for a list run that found no album: the cause, then
// the login hint when `advice` is LogIn (the hint alone without a cause).
QString NoAlbumText(const QString &cause, NoAlbumAdvice advice);

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
inline constexpr char16_t kWeiboNoUser[] = u"无法从地址中识别微博用户";
inline constexpr char16_t kWeiboVisitorAsking[] = u"正在取得微博访客身份...";
inline constexpr char16_t kWeiboVisitorFailed[] = u"微博访客验证未通过：%1";
inline constexpr char16_t kWeiboEmptyPages[] = u"连续%1页没有图片，不再读取后面的页";
inline constexpr char16_t kWeiboCursorRepeats[] = u"微博图片墙的翻页位置重复（%1），不再读取后面的页";
inline constexpr char16_t kWeiboPostFollowersOnly[] = u"微博 %1 仅对粉丝可见，跳过其实况视频和视频";
inline constexpr char16_t kWeiboPostUnreadable[] = u"微博 %1 无法读取（%2），跳过其实况视频和视频";
inline constexpr char16_t kWeiboBadClip[] = u"跳过不是网址的视频地址：%1";
inline constexpr char16_t kWeiboSessionRenewing[] = u"正在刷新微博会话(%1)...";
inline constexpr char16_t kWeiboAddressTooLong[] = u"微博不接受过长的请求地址（HTTP 414），不再读取这一页及后面的页：%1";
inline constexpr char16_t kWeiboVerify[] = u"微博要求验证：%1";
inline constexpr char16_t kWeiboVerifyStatus[] = u"微博要求验证，请在打开的窗口中完成验证";
inline constexpr char16_t kWeiboVerifyElsewhere[] = u"微博要求到 %1 验证，该地址不是微博或新浪的 https 网址，不予打开";

} // namespace texts

} // namespace tamblin
