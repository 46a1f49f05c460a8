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

} // namespace tamblin::endpoints
