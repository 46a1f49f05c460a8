#include "sources/Endpoints.h"

namespace tamblin::endpoints {

using namespace Qt::StringLiterals;

namespace {

QString HttpUrl(QStringView host, const QString &pathAndQuery)
{
    return u"http://"_s + host.toString() + pathAndQuery;
}

} // namespace

QString SinaCategoryListUrl(const QString &uid)
{
    return HttpUrl(kSinaPhotoHost, u"/services/ctg_list_ctg.php?format=gsonv&uid=%1"_s.arg(uid));
}

QString WeiboSiteRootUrl()
{
    return HttpUrl(kWeiboHost, u"/"_s);
}

QString WeiboAlbumListUrl(const QString &uid)
{
    return HttpUrl(kWeiboPhotoHost, u"/albums/get_all?uid=%1&count=65535"_s.arg(uid));
}

QString WeiboPhotoListPrefix(const QString &uid, const QString &albumId, const QString &type)
{
    // Multi-argument arg() substitutes all three at once, so a "%1" inside
    // an id is never taken for a placeholder.
    return HttpUrl(kWeiboPhotoHost,
                   u"/photos/get_all?uid=%1&album_id=%2&count=32&type=%3&page="_s.arg(uid, albumId, type));
}

QString WeiboAlbumsReferer(const QString &uid)
{
    return HttpUrl(kWeiboPhotoHost, u"/%1/talbum/index?from=profile_wb"_s.arg(uid));
}

QString LoginStartUrl(LoginSite site)
{
    switch (site) {
    case LoginSite::QqZone:
        return u"https://user.qzone.qq.com/"_s;
    case LoginSite::TencentWeibo:
        return u"https://t.qq.com/"_s;
    case LoginSite::Baidu:
        return u"https://passport.baidu.com/v2/?login"_s;
    case LoginSite::NetEase:
        return u"https://reg.163.com/"_s;
    case LoginSite::Renren:
        return u"https://www.renren.com/"_s;
    case LoginSite::Yupoo:
        return u"https://www.yupoo.com/account/login/"_s;
    case LoginSite::Moko:
        return u"https://www.moko.cc/login.html"_s;
    case LoginSite::Weibo:
        return u"https://"_s + kWeiboHost.toString() + u"/"_s;
    case LoginSite::Taobao:
        return u"https://login.taobao.com/"_s;
    case LoginSite::Site56:
        return u"https://www.56.com/"_s;
    case LoginSite::Hupu:
        return u"https://passport.hupu.com/"_s;
    case LoginSite::Custom:
        return u"https://www.baidu.com/"_s;
    }
    return {};
}

} // namespace tamblin::endpoints
