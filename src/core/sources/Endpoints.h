// The real hosts of the Sina and Weibo services and every address the album
// sources build on them. Nothing else in the program spells a service host:
// tests reach the same names through an HTTP proxy.
//
// The Weibo hosts are spoken to over https only: they redirect plain http
// there, and a login's cookies must not travel in clear text. The Sina photo
// host serves plain http only.
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

// The Referer a browser sends for a picture shown on a page of each service;
// the picture hosts refuse requests without one.
inline constexpr QStringView kWeiboPageReferer = u"https://weibo.com/";
inline constexpr QStringView kSinaBlogPageReferer = u"https://blog.sina.com.cn/";
inline constexpr QStringView kSinaPhotoPageReferer = u"http://photo.blog.sina.com.cn/";

// The category (album) list of a Sina photo user, as JSON-like text.
QString SinaCategoryListUrl(const QString &uid);
// The Weibo site root, whose cookies are the user's login.
QString WeiboSiteRootUrl();
// Where a Weibo login starts.
QString WeiboLoginUrl();
// All albums of a Weibo user in one answer.
QString WeiboAlbumListUrl(const QString &uid);
// The photo-list request of one Weibo album without its page number: it
// ends in "page=".
QString WeiboPhotoListPrefix(const QString &uid, const QString &albumId, const QString &type);
// The Referer of the album-service requests of a Weibo user.
QString WeiboAlbumsReferer(const QString &uid);

// What the Weibo web client reads today (weibo.com/ajax/profile/...). The
// owner's profile by numeric id, or by the name of a personal address when
// `uid` is empty.
QString WeiboProfileInfoUrl(const QString &uid, const QString &custom);
// The user's page by screen name, and the profile by it.
QString WeiboScreenNamePageUrl(const QString &screenName);
QString WeiboProfileByScreenNameUrl(const QString &screenName);
// One post with its pictures, Live Photo clips and video.
QString WeiboStatusUrl(const QString &mid);
// The same post as the mobile site reads it ({"ok":1,"data":{post}}, its
// pictures as "pics"): every picture of a post that another answer lists
// only in part.
QString WeiboMobileStatusUrl(const QString &mid);
// The query item of a Live Photo's stable clip address,
// https://video.weibo.com/media/play?livephoto=<percent-encoded .mov
// address>, which redirects to a freshly signed address of that clip.
inline constexpr QStringView kWeiboLivePhotoParam = u"livephoto";
// The visitor exchange of a guest: the passport hands out a visitor id
// (POST with kWeiboVisitorForm), which the crossdomain step turns into the
// SUB and SUBP cookies of weibo.com.
QString WeiboVisitorGenUrl();
// The version of the passport's visitor page that both steps name.
inline constexpr QStringView kWeiboVisitorVersion = u"20250916";
inline constexpr QStringView kWeiboVisitorForm =
    u"cb=visitor_gray_callback&ver=20250916&tid=&from=weibo&webdriver=false&return_url=https://weibo.com/";
// The crossdomain step as today's visitor page asks it: the visitor's SUB
// (s) and SUBP (sp), its id (t, the "tid" of genvisitor2), where it returns
// to (url, weibo.com), the page's version (ver), and a random number.
QString WeiboVisitorCrossDomainUrl(const QString &sub, const QString &subp, const QString &tid,
                                   const QString &random);
// The passport page a guest is sent to, the Referer of the two steps.
QString WeiboVisitorPageUrl();
// The image wall without its cursor: it ends in "sinceid=".
QString WeiboImageWallPrefix(const QString &uid);
// One album of the image wall without its cursor: it ends in "since_id=".
QString WeiboAlbumDetailPrefix(const QString &uid, const QString &containerId);
// True for the two prefixes above: the album goes through the image wall.
bool IsWeiboWallAlbum(const QString &albumUrl);
// True for the first of them: the whole wall, newest first.
bool IsWeiboImageWall(const QString &albumUrl);
// A page (from 1) of a user's posts, newest first (a pinned post ahead),
// as the web client reads them; and the whole text of a post whose text a
// list answer cuts short.
QString WeiboUserPostsUrl(const QString &uid, int page);
QString WeiboLongTextUrl(const QString &mid);
// The user's page, which the web client's requests name as their Referer:
// "https://weibo.com/u/<uid>", or the personal address for a name.
QString WeiboUserPageUrl(const QString &uid, const QString &custom);
// The large picture of a picture id: https://<h><n>.sinaimg.cn/large/<pid>.<ext>
// with h "ww" when the 10th character is 'w', else "wx"; n = 1 + (CRC-32 of
// the id & 3); ext "gif" when the 22nd character is 'g', else "jpg".
QString WeiboPictureUrl(QStringView pid);

// An address on weibo.com or one of its sub-domains.
bool IsWeiboHost(const QString &url);
// An http or https address on a host that serves Weibo's media: weibo.com,
// weibo.cn, sinaimg.cn, weibocdn.com or one of their sub-domains. A clip
// named by an image-wall item is fetched only from these.
bool IsWeiboMediaUrl(const QString &url);
// A host a user's Weibo page is pasted from: weibo.com, weibo.cn and their
// sub-domains (www., m.).
bool IsWeiboPageHost(const QString &host);
// An address of a login page, where the services send a visitor without a
// valid login.
bool IsLoginPage(const QString &url);
// A page where the services send a person to prove they are one (a
// captcha, a security check, a "sorry" page): its host or path names
// security, verify, captcha or sorry.
bool IsVerificationPage(const QString &url);
// An https address on weibo.com, weibo.cn, sina.com.cn, sina.cn or one of
// their sub-domains: the only addresses the program opens for a person to
// verify at.
bool IsSinaHttpsPage(const QString &url);
// A plain-http address on a Weibo host as https; anything else unchanged.
QString WeiboOverHttps(const QString &address);

// The services of the login menu, each opening the login browser at its
// public login (or start) page.
enum class LoginSite {
    Qzone,        // the QQ Zone user page root; a QQ number may follow
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
    Custom,       // a general start page: the user types any address
};

// The start page of the login browser for `site`; for Qzone, `qqNumber`
// (digits only, else ignored) is appended to the user page root.
QString LoginStartPage(LoginSite site, QStringView qqNumber = {});

} // namespace tamblin::endpoints
