// The real hosts of the Sina and Weibo services and every address the album
// sources build on them. Nothing else in the program spells a service host:
// tests reach the same names through an HTTP proxy.
#pragma once

#include <QString>
#include <QStringView>

namespace tamblin::endpoints {

inline constexpr QStringView kSinaPhotoHost = u"photo.blog.sina.com.cn";
inline constexpr QStringView kSinaBlogHost = u"blog.sina.com.cn";
inline constexpr QStringView kWeiboHost = u"weibo.com";
inline constexpr QStringView kWeiboPhotoHost = u"photo.weibo.com";

// The header line every request of the album sources carries.
inline constexpr QStringView kAcceptEncoding = u"Accept-Encoding: gzip, deflate";

// The category (album) list of a Sina photo user, as JSON-like text.
QString SinaCategoryListUrl(const QString &uid);
// The Weibo site root, whose cookies are the user's login.
QString WeiboSiteRootUrl();
// All albums of a Weibo user in one answer.
QString WeiboAlbumListUrl(const QString &uid);
// The photo-list request of one Weibo album without its page number: it
// ends in "page=".
QString WeiboPhotoListPrefix(const QString &uid, const QString &albumId, const QString &type);
// The Referer of the photo-list requests of a Weibo user.
QString WeiboAlbumsReferer(const QString &uid);

// The services a login browser can be opened for, and the page it starts
// at: each one's public login or start page.
enum class LoginSite {
    QqZone,
    TencentWeibo,
    Baidu,
    NetEase,
    Renren,
    Yupoo,
    Moko,
    Weibo,
    Taobao,
    Site56,
    Hupu,
    Custom, // a general start page; the user types any address
};
QString LoginStartUrl(LoginSite site);

} // namespace tamblin::endpoints
