#include "sources/Endpoints.h"

#include <QUrl>

#include <zlib.h>

#include <algorithm>

namespace tamblin::endpoints {

using namespace Qt::StringLiterals;

namespace {

QString HttpUrl(QStringView host, const QString &pathAndQuery)
{
    return u"http://"_s + host.toString() + pathAndQuery;
}

QString HttpsUrl(QStringView host, const QString &pathAndQuery)
{
    return u"https://"_s + host.toString() + pathAndQuery;
}

// A query value as it goes into an address.
QString QueryValue(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

QString HostOf(const QString &url)
{
    return QUrl(url.trimmed()).host().toLower();
}

const QString kImageWallPath = u"/ajax/profile/getImageWall?"_s;
const QString kAlbumDetailPath = u"/ajax/profile/getAlbumDetail?"_s;

} // namespace

QString SinaCategoryListUrl(const QString &uid)
{
    return HttpUrl(kSinaPhotoHost, u"/services/ctg_list_ctg.php?format=gsonv&uid=%1"_s.arg(uid));
}

QString WeiboSiteRootUrl()
{
    return HttpsUrl(kWeiboHost, u"/"_s);
}

QString WeiboLoginUrl()
{
    return HttpsUrl(kWeiboHost, u"/login.php"_s);
}

QString WeiboAlbumListUrl(const QString &uid)
{
    return HttpsUrl(kWeiboPhotoHost, u"/albums/get_all?uid=%1&count=65535"_s.arg(uid));
}

QString WeiboPhotoListPrefix(const QString &uid, const QString &albumId, const QString &type)
{
    // Multi-argument arg() substitutes all three at once, so a "%1" inside
    // an id is never taken for a placeholder.
    return HttpsUrl(kWeiboPhotoHost,
                    u"/photos/get_all?uid=%1&album_id=%2&count=32&type=%3&page="_s.arg(uid, albumId, type));
}

QString WeiboAlbumsReferer(const QString &uid)
{
    return HttpsUrl(kWeiboPhotoHost, u"/%1/talbum/index?from=profile_wb"_s.arg(uid));
}

QString WeiboProfileInfoUrl(const QString &uid, const QString &custom)
{
    if (uid.isEmpty())
        return HttpsUrl(kWeiboHost, u"/ajax/profile/info?custom="_s + QueryValue(custom));
    return HttpsUrl(kWeiboHost, u"/ajax/profile/info?uid="_s + QueryValue(uid));
}

QString WeiboProfileByScreenNameUrl(const QString &screenName)
{
    return HttpsUrl(kWeiboHost, u"/ajax/profile/info?screen_name="_s + QueryValue(screenName));
}

QString WeiboScreenNamePageUrl(const QString &screenName)
{
    return HttpsUrl(kWeiboHost, u"/n/"_s + QueryValue(screenName));
}

QString WeiboStatusUrl(const QString &mid)
{
    return HttpsUrl(kWeiboHost, u"/ajax/statuses/show?id="_s + QueryValue(mid) + u"&isGetLongText=true"_s);
}

QString WeiboMobileStatusUrl(const QString &mid)
{
    return HttpsUrl(u"m.weibo.cn", u"/statuses/show?id="_s + QueryValue(mid));
}

QString WeiboVisitorPageUrl()
{
    return u"https://passport.weibo.com/visitor/visitor?entry=miniblog&a=enter&url=https%3A%2F%2Fweibo.com%2F"
           u"&domain=weibo.com"_s;
}

QString WeiboVisitorGenUrl()
{
    return u"https://passport.weibo.com/visitor/genvisitor2"_s;
}

QString WeiboVisitorCrossDomainUrl(const QString &sub, const QString &subp, const QString &tid,
                                   const QString &random)
{
    return u"https://passport.weibo.com/visitor/visitor?a=crossdomain&s="_s + QueryValue(sub) + u"&sp="_s
        + QueryValue(subp) + u"&t="_s + QueryValue(tid) + u"&from=weibo&_rand="_s + QueryValue(random)
        + u"&entry=miniblog&url="_s + QueryValue(WeiboSiteRootUrl()) + u"&ver="_s + kWeiboVisitorVersion.toString();
}

QString WeiboImageWallPrefix(const QString &uid)
{
    return HttpsUrl(kWeiboHost, kImageWallPath + u"uid="_s + QueryValue(uid) + u"&has_album=true&sinceid="_s);
}

QString WeiboAlbumDetailPrefix(const QString &uid, const QString &containerId)
{
    return HttpsUrl(kWeiboHost, kAlbumDetailPath + u"uid="_s + QueryValue(uid) + u"&containerid="_s
                                    + QueryValue(containerId) + u"&since_id="_s);
}

bool IsWeiboWallAlbum(const QString &albumUrl)
{
    const QString base = HttpsUrl(kWeiboHost, QString());
    return albumUrl.startsWith(base + kImageWallPath) || albumUrl.startsWith(base + kAlbumDetailPath);
}

bool IsWeiboImageWall(const QString &albumUrl)
{
    return albumUrl.startsWith(HttpsUrl(kWeiboHost, kImageWallPath));
}

QString WeiboUserPostsUrl(const QString &uid, int page)
{
    return HttpsUrl(kWeiboHost, u"/ajax/statuses/mymblog?uid="_s + QueryValue(uid) + u"&page="_s
                                    + QString::number(page) + u"&feature=0"_s);
}

QString WeiboLongTextUrl(const QString &mid)
{
    return HttpsUrl(kWeiboHost, u"/ajax/statuses/longtext?id="_s + QueryValue(mid));
}

QString WeiboUserPageUrl(const QString &uid, const QString &custom)
{
    if (uid.isEmpty())
        return HttpsUrl(kWeiboHost, u"/"_s + QueryValue(custom));
    return HttpsUrl(kWeiboHost, u"/u/"_s + QueryValue(uid));
}

QString WeiboPictureUrl(QStringView pid)
{
    const QByteArray bytes = pid.toUtf8();
    const uLong crc = crc32(0L, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size()));
    const QString host = pid.size() > 9 && pid[9] == u'w' ? u"ww"_s : u"wx"_s;
    const QString ext = pid.size() > 21 && pid[21] == u'g' ? u"gif"_s : u"jpg"_s;
    return u"https://%1%2.sinaimg.cn/large/%3.%4"_s.arg(host).arg(1 + (crc & 3)).arg(pid, ext);
}

bool IsWeiboHost(const QString &url)
{
    const QString host = HostOf(url);
    return host == kWeiboHost || host.endsWith(u'.' + kWeiboHost.toString());
}

bool IsWeiboMediaUrl(const QString &url)
{
    const QUrl parsed(url.trimmed());
    const QString scheme = parsed.scheme().toLower();
    if (scheme != u"http"_s && scheme != u"https"_s)
        return false;
    const QString host = parsed.host().toLower();
    for (const QString &domain : {kWeiboHost.toString(), u"weibo.cn"_s, u"sinaimg.cn"_s, u"weibocdn.com"_s}) {
        if (host == domain || host.endsWith(u'.' + domain))
            return true;
    }
    return false;
}

bool IsWeiboPageHost(const QString &host)
{
    const QString lower = host.toLower();
    for (const QString &domain : {kWeiboHost.toString(), u"weibo.cn"_s}) {
        if (lower == domain || lower.endsWith(u'.' + domain))
            return true;
    }
    return false;
}

bool IsLoginPage(const QString &url)
{
    const QString host = HostOf(url);
    return host == u"passport.weibo.com"_s || host == u"login.sina.com.cn"_s || host == u"passport.sina.cn"_s
        || (host == kWeiboHost && QUrl(url).path().startsWith(u"/login"_s));
}

bool IsVerificationPage(const QString &url)
{
    const QUrl parsed(url.trimmed());
    const QString where = parsed.host().toLower() + parsed.path().toLower();
    for (const QString &word : {u"security"_s, u"verify"_s, u"captcha"_s, u"sorry"_s}) {
        if (where.contains(word))
            return true;
    }
    return false;
}

bool IsSinaHttpsPage(const QString &url)
{
    const QUrl parsed(url.trimmed());
    if (parsed.scheme().toLower() != u"https"_s || !parsed.userInfo().isEmpty())
        return false;
    const QString host = parsed.host().toLower();
    for (const QString &domain : {kWeiboHost.toString(), u"weibo.cn"_s, u"sina.com.cn"_s, u"sina.cn"_s}) {
        if (host == domain || host.endsWith(u'.' + domain))
            return true;
    }
    return false;
}

QString WeiboOverHttps(const QString &address)
{
    const QString trimmed = address.trimmed();
    if (!trimmed.startsWith(u"http://"_s, Qt::CaseInsensitive) || !IsWeiboHost(trimmed))
        return address;
    return u"https://"_s + trimmed.sliced(7);
}

QString LoginStartPage(LoginSite site, QStringView qqNumber)
{
    switch (site) {
    case LoginSite::Qzone: {
        const bool digits = !qqNumber.isEmpty()
            && std::all_of(qqNumber.begin(), qqNumber.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
        return u"https://user.qzone.qq.com/"_s + (digits ? qqNumber.toString() : QString());
    }
    case LoginSite::TencentWeibo:
        return u"https://t.qq.com/"_s;
    case LoginSite::Baidu:
        return u"https://passport.baidu.com/v2/?login"_s;
    case LoginSite::NetEase:
        return u"https://reg.163.com/"_s;
    case LoginSite::Renren:
        return u"https://www.renren.com/"_s;
    case LoginSite::Yupoo:
        return u"https://www.yupoo.com/login/"_s;
    case LoginSite::Moko:
        return u"https://www.moko.cc/login.html"_s;
    case LoginSite::Weibo:
        return WeiboLoginUrl();
    case LoginSite::Taobao:
        return u"https://login.taobao.com/"_s;
    case LoginSite::Site56:
        return u"https://www.56.com/"_s;
    case LoginSite::Hupu:
        return u"https://passport.hupu.com/pc/login"_s;
    case LoginSite::Custom:
        break;
    }
    return u"https://www.sina.com.cn/"_s;
}

} // namespace tamblin::endpoints
