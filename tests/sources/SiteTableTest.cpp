// Address recognition, the source selector and the number reading of the
// extractors: pure logic, no network.
#include "app/TamblinCore.h"
#include "sources/SourceSupport.h"
#include "sources/Endpoints.h"
#include "sources/SiteTable.h"
#include "sources/ListTexts.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace tamblin {
namespace {

TEST(RecognizeSite, PicksTheFirstSiteWhoseFragmentFollowsTheFirstCharacter)
{
    // Only addresses holding "http://" or "https://", in any case, change
    // the selector.
    EXPECT_EQ(RecognizeSite(u"https://item.taobao.com/x", 4).site, 11);
    EXPECT_EQ(RecognizeSite(u"HTTP://item.taobao.com/x", 4).site, 11);
    EXPECT_EQ(RecognizeSite(u"https://weibo.com/u/1", 7).site, kSiteSina);
    EXPECT_EQ(RecognizeSite(u"https://m.weibo.cn/u/1", 7).site, kSiteSina);
    EXPECT_FALSE(RecognizeSite(u"weibo.com/u/1", 7).changed);

    const SiteRecognition weibo = RecognizeSite(u"http://weibo.com/u/1", 7);
    EXPECT_TRUE(weibo.changed);
    EXPECT_EQ(weibo.site, kSiteSina);
    EXPECT_EQ(weibo.subSource, -1);

    EXPECT_EQ(RecognizeSite(u"http://photo.blog.sina.com.cn/u/1", 0).site, kSiteSina);
    EXPECT_EQ(RecognizeSite(u"http://item.taobao.com/x", 4).site, 11);
    EXPECT_EQ(RecognizeSite(u"http://detail.tmall.com/x", 4).site, 11);
    EXPECT_EQ(RecognizeSite(u"http://detail.1688.com/x", 4).site, 11);
    EXPECT_EQ(RecognizeSite(u"http://bbs.hupu.com/x", 4).site, 15);
    // No fragment: the current selection stays.
    EXPECT_EQ(RecognizeSite(u"http://example.org/", 9).site, 9);
    // Index order decides: the QQ fragment is tested before Sina's.
    EXPECT_EQ(RecognizeSite(u"http://blog.sina.com.cn/?from=qq.com", 4).site, kSiteQq);
    // A fragment at the very first character does not count.
    EXPECT_EQ(RecognizeSite(u"weibo.com http://example.org", 9).site, 9);
}

TEST(RecognizeSite, ChoosesTheQqSubSourceFromTheTencentWeiboAndGroupFragments)
{
    EXPECT_EQ(RecognizeSite(u"http://user.qzone.qq.com/10001", 4).subSource, -1);
    const SiteRecognition tencentWeibo = RecognizeSite(u"http://t.qq.com/someone", 4);
    EXPECT_EQ(tencentWeibo.site, kSiteQq);
    EXPECT_EQ(tencentWeibo.subSource, kSubSourceTencentWeibo);
    EXPECT_EQ(RecognizeSite(u"http://qun.qq.com/air/123", 4).subSource, kSubSourceQqGroup);
}

TEST(OnSourceChanged, AlwaysRunsSinaAndShowsTheSubSourceBoxOnlyForQq)
{
    TamblinCore core;
    core.m_listType = 11;
    const SourceLayout taobao = OnSourceChanged(core, 11);
    EXPECT_EQ(core.m_listType, kSiteSina);
    EXPECT_FALSE(taobao.showSubSource);

    core.m_listType = 0;
    const SourceLayout qq = OnSourceChanged(core, kSiteQq);
    EXPECT_EQ(core.m_listType, kSiteSina);
    EXPECT_TRUE(qq.showSubSource);
    EXPECT_EQ(qq.subSourceEntries, (QStringList{u"QQ空间相册"_s, u"QQ群相册"_s, u"腾讯微博相册"_s}));
    EXPECT_EQ(qq.subSourceSelection, 0);

    ASSERT_EQ(SiteNames().size(), kSiteCount);
    EXPECT_EQ(SiteNames().at(kSiteSina), u"新浪"_s);
    for (int site = 0; site < kSiteCount; ++site)
        EXPECT_FALSE(SiteFragments(site).empty()) << site;
}

TEST(ReadDecimal, ReadsLeadingDigitsLikeTheServicesWriteThem)
{
    EXPECT_EQ(ReadDecimal(u"24"), 24);
    EXPECT_EQ(ReadDecimal(u" 7,"), 7);
    EXPECT_EQ(ReadDecimal(u"-5"), -5);
    EXPECT_EQ(ReadDecimal(u"12abc"), 12);
    EXPECT_EQ(ReadDecimal(u""), 0);
    EXPECT_EQ(ReadDecimal(u"abc"), 0);
    EXPECT_EQ(ReadDecimal(u"null"), 0);
    EXPECT_EQ(ReadDecimal(u"99999999999999999999"), 2147483647);
    EXPECT_EQ(ReadDecimal(u"-99999999999999999999"), -2147483647 - 1);
}

TEST(Endpoints, BuildTheServiceAddressesOnTheRealHosts)
{
    EXPECT_EQ(endpoints::SinaCategoryListUrl(u"123"_s),
              u"http://photo.blog.sina.com.cn/services/ctg_list_ctg.php?format=gsonv&uid=123"_s);
    EXPECT_EQ(endpoints::WeiboAlbumListUrl(u"9"_s), u"https://photo.weibo.com/albums/get_all?uid=9&count=65535"_s);
    // An id holding a placeholder is not expanded a second time.
    EXPECT_EQ(endpoints::WeiboPhotoListPrefix(u"9"_s, u"%3"_s, u"3"_s),
              u"https://photo.weibo.com/photos/get_all?uid=9&album_id=%3&count=32&type=3&page="_s);
    EXPECT_EQ(endpoints::WeiboSiteRootUrl(), u"https://weibo.com/"_s);

    // Only the Weibo hosts themselves are asked over https at once.
    const struct {
        QString address;
        QString asked;
    } kUpgrades[] = {
        {u"http://weibo.com/u/1"_s, u"https://weibo.com/u/1"_s},
        {u" HTTP://photo.weibo.com/x"_s, u"https://photo.weibo.com/x"_s},
        {u"http://notweibo.com/u/1"_s, u"http://notweibo.com/u/1"_s},
        {u"http://example.org/?weibo.com"_s, u"http://example.org/?weibo.com"_s},
        {u"https://weibo.com/u/1"_s, u"https://weibo.com/u/1"_s},
    };
    for (const auto &c : kUpgrades)
        EXPECT_EQ(endpoints::WeiboOverHttps(c.address), c.asked);
}

} // namespace
} // namespace tamblin
