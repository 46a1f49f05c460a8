// The sixteen services of the source selector and how an address is matched
// to one of them. Only Sina has extractors; the other sites keep their own
// settings slots, menu entries and recognition.
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <span>

namespace tamblin {

class TamblinCore;

inline constexpr int kSiteCount = 16;
inline constexpr int kSiteQq = 0;
inline constexpr int kSiteSina = 4;

// Sub-sources of site 0 (entries of the sub-source box).
inline constexpr int kSubSourceQzone = 0;
inline constexpr int kSubSourceQqGroup = 1;
inline constexpr int kSubSourceTencentWeibo = 2;

// Domain fragments of the site table.
inline constexpr QStringView kFragmentSina = u"sina.com";
inline constexpr QStringView kFragmentWeibo = u"weibo.com";
inline constexpr QStringView kFragmentWeiboCn = u"weibo.cn"; // m.weibo.cn, weibo.cn
inline constexpr QStringView kFragmentTencentWeibo = u"t.qq.com";
inline constexpr QStringView kFragmentQqGroup = u"qun.qq.com";

// The fragments tested for `site`, in order (empty for an index out of range).
std::span<const QStringView> SiteFragments(int site);

// True when `fragment` occurs in `address` after its first character, which
// is how every address test of the sources is made.
bool HasFragment(QStringView address, QStringView fragment);

// A Weibo address (weibo.com, or the mobile hosts under weibo.cn): the list
// run takes it to the Weibo room.
bool IsWeiboAddress(QStringView address);

// What typing an address does to the source selector.
struct SiteRecognition {
    bool changed = false; // false: the address holds no "http://" or "https://"; change nothing
    int site = kSiteSina; // the selector's new index
    int subSource = -1;   // for site 0: the entry to select after OnSourceChanged, or -1
};

// Matches the address box text against the site table. `currentSite` stays
// when no fragment matches. The caller selects `site`, runs OnSourceChanged,
// then selects `subSource` when it is not -1.
SiteRecognition RecognizeSite(QStringView address, int currentSite);

// What a change of the source selector does to the window.
struct SourceLayout {
    bool showSubSource = false;
    QStringList subSourceEntries; // the sub-source box's new entries when shown
    int subSourceSelection = -1;
};

// Sets m_listType to Sina (every run uses the Sina extractors, whatever the
// selector shows) and says how the sub-source box looks for `selection`.
SourceLayout OnSourceChanged(TamblinCore &core, int selection);

} // namespace tamblin
