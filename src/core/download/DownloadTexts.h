// Texts the download run shows, shared by the window and tamblin-cli.
#pragma once

namespace tamblin::texts {

inline constexpr char16_t kSetSavePath[] = u"请先设置保存路径";
inline constexpr char16_t kCheckSavePath[] = u"请检测设置的保存路径是否有误";
inline constexpr char16_t kDownloadingAlbum[] = u"正在下载第%1/%2个图集";
inline constexpr char16_t kDownloadStarted[] = u"已开始下载图片";
inline constexpr char16_t kDownloadFinished[] = u"下载完毕";
// After 下载完毕, only when some pictures did not download.
inline constexpr char16_t kPicturesFailed[] = u"%1张图片下载失败，见 failed.txt";
// The same when a failed.txt could not be written (a full disk).
inline constexpr char16_t kPicturesFailedUnlisted[] = u"%1张图片下载失败（failed.txt 无法写入）";
// After 下载完毕: clips, videos and pictures whose post could not be read.
inline constexpr char16_t kPicturesUnavailable[] = u"%1个视频或图片所在的微博无法读取，见 failed.txt";
// After 下载完毕: chosen albums that gave no picture, or whose pages could
// not all be read.
inline constexpr char16_t kAlbumsEmpty[] = u"%1个相册没有获取到图片";
inline constexpr char16_t kAlbumsBroken[] = u"%1个相册的页面未能全部读取";
inline constexpr char16_t kAlbumFolderNotMade[] = u"无法创建相册文件夹：%1";
// A folder below the save folder that is a link (another user of a shared
// save folder may have planted it): nothing is written through it.
inline constexpr char16_t kFolderIsLink[] = u"文件夹是链接，不写入：%1";
// A list file (.lst, .aria2.txt, the title file) that could not be written
// whole; after 下载完毕, how many.
inline constexpr char16_t kListNotWritten[] = u"无法写入列表文件：%1";
inline constexpr char16_t kListsNotWritten[] = u"%1个列表文件无法写入";
// An album kept the folder an earlier version named it (today's name has
// none); after 下载完毕, how many.
inline constexpr char16_t kOldFolderKept[] = u"沿用旧版的相册文件夹：%1";
inline constexpr char16_t kOldFoldersKept[] = u"%1个相册沿用旧版的文件夹";
// A retry of albums whose last failures could not be recorded.
inline constexpr char16_t kNothingToRetry[] = u"%1个相册没有记录可重试的图片";
// The comment of an aria2 list before its addresses that expire: how many,
// and when the first does.
inline constexpr char16_t kExpiringAddresses[] =
    u"以下%1个地址带有签名，%2 起失效：请在此之前下载，失效后请重新生成列表";
// A Weibo user's posts are read (to keep them, or their reposts' pictures).
inline constexpr char16_t kReadingPosts[] = u"正在读取微博...";
// After 下载完毕: albums a date range was asked for whose pages give no
// picture times, downloaded whole.
inline constexpr char16_t kRangeNotApplied[] = u"%1个相册的页面没有日期，已全部下载";
inline constexpr char16_t kEllipsis[] = u"......";
inline constexpr char16_t kBadListType[] = u"Error ListType Code.";
inline constexpr char16_t kPoolThreadFailed[] = u"Create thread:DownPicFunc failed.";
inline constexpr char16_t kDownloadButton[] = u"下载";
inline constexpr char16_t kStopDownloadButton[] = u"终止下载";

} // namespace tamblin::texts
