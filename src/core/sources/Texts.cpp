#include "sources/Texts.h"

namespace tamblin {

using namespace Qt::StringLiterals;

QString LoadStoredText(StoredText id)
{
    switch (id) {
    case StoredText::NeedHttpAddress:
        return u"请输入以 http:// 开头的用户主页地址"_s;
    }
    return {};
}

QStringList SiteNames()
{
    return {u"QQ空间"_s, u"百度"_s,   u"网易"_s,  u"人人"_s,   u"新浪"_s,   u"56"_s,
            u"POCO"_s,   u"又拍"_s,   u"51"_s,    u"ZOL"_s,    u"PChome"_s, u"淘宝"_s,
            u"美空"_s,   u"宝宝树"_s, u"太平洋"_s, u"虎扑"_s};
}

QStringList SubSourceNames()
{
    return {u"QQ空间相册"_s, u"QQ群相册"_s, u"腾讯微博相册"_s};
}

} // namespace tamblin
