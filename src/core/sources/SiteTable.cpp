#include "sources/SiteTable.h"

#include "app/TamblinCore.h"
#include "sources/ListTexts.h"
#include "text/TextUtils.h"

#include <array>

namespace tamblin {

namespace {

using Fragments = std::span<const QStringView>;

constexpr QStringView kQq[] = {u"qq.com"};
constexpr QStringView kBaidu[] = {u"baidu.com"};
constexpr QStringView kNetEase[] = {u"163.com"};
constexpr QStringView kRenren[] = {u"renren.com"};
constexpr QStringView kSina[] = {kFragmentSina, kFragmentWeibo, kFragmentWeiboCn};
constexpr QStringView k56[] = {u"56.com"};
constexpr QStringView kPoco[] = {u"poco.cn"};
constexpr QStringView kYupoo[] = {u"yupoo.com"};
constexpr QStringView k51[] = {u"51.com"};
constexpr QStringView kZol[] = {u"zol.com"};
constexpr QStringView kPchome[] = {u"pchome.net"};
constexpr QStringView kTaobao[] = {u"taobao.com", u"tmall.com", u"1688.com"};
constexpr QStringView kMoko[] = {u"moko.cc"};
constexpr QStringView kBabytree[] = {u"babytree.com"};
constexpr QStringView kPconline[] = {u"pconline.com.cn"};
constexpr QStringView kHupu[] = {u"hupu.com"};

constexpr std::array<Fragments, kSiteCount> kSites = {
    Fragments(kQq), Fragments(kBaidu), Fragments(kNetEase), Fragments(kRenren),
    Fragments(kSina), Fragments(k56), Fragments(kPoco), Fragments(kYupoo),
    Fragments(k51), Fragments(kZol), Fragments(kPchome), Fragments(kTaobao),
    Fragments(kMoko), Fragments(kBabytree), Fragments(kPconline), Fragments(kHupu),
};

} // namespace

std::span<const QStringView> SiteFragments(int site)
{
    if (site < 0 || site >= kSiteCount)
        return {};
    return kSites[std::size_t(site)];
}

bool HasFragment(QStringView address, QStringView fragment)
{
    return !fragment.isEmpty() && address.indexOf(fragment) >= 1;
}

bool IsWeiboAddress(QStringView address)
{
    return HasFragment(address, kFragmentWeibo) || HasFragment(address, kFragmentWeiboCn);
}

SiteRecognition RecognizeSite(QStringView address, int currentSite)
{
    SiteRecognition result;
    if (!HasWebScheme(address))
        return result;
    result.changed = true;
    result.site = currentSite;
    bool found = false;
    for (int site = 0; site < kSiteCount && !found; ++site) {
        for (QStringView fragment : kSites[std::size_t(site)]) {
            if (HasFragment(address, fragment)) {
                result.site = site;
                found = true;
                break;
            }
        }
    }
    if (result.site == kSiteQq) {
        if (HasFragment(address, kFragmentTencentWeibo))
            result.subSource = kSubSourceTencentWeibo;
        else if (HasFragment(address, kFragmentQqGroup))
            result.subSource = kSubSourceQqGroup;
    }
    return result;
}

SourceLayout OnSourceChanged(TamblinCore &core, int selection)
{
    core.m_listType = kSiteSina;
    SourceLayout layout;
    if (selection != kSiteQq)
        return layout;
    layout.showSubSource = true;
    layout.subSourceEntries = SubSourceNames();
    layout.subSourceSelection = kSubSourceQzone;
    return layout;
}

} // namespace tamblin
