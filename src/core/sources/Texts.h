// The texts the album-list run shows, in one table shared by the window and
// tamblin-cli: the stored texts whose wording is ours, and the fixed texts of
// the list run.
#pragma once

#include <QString>
#include <QStringList>

namespace tamblin {

// The numbered table of stored texts.
enum class StoredText : int {
    NeedHttpAddress = 1, // empty address, or one without "http://"
};

QString LoadStoredText(StoredText id);

// Display names of the source selector, in site-index order (16 entries).
QStringList SiteNames();
// Entries of the sub-source box of site 0.
QStringList SubSourceNames();

namespace texts {

inline constexpr char16_t kLoginHint[] =
    u"没有获取到相册，请在登录菜单里登录新浪(微博)帐号后重试,登录时勾上下次自动登录";
inline constexpr char16_t kAlbumFrame[] = u"相册列表";
inline constexpr char16_t kAlbumFrameCount[] = u"相册列表(共%1个)";
inline constexpr char16_t kListDone[] = u"获取相册列表完成，共%1个";
inline constexpr char16_t kListBusy[] = u"正在获取相册列表，请稍等...";
inline constexpr char16_t kGetAlbumsButton[] = u"获取相册";
inline constexpr char16_t kStopGettingButton[] = u"终止获取";
inline constexpr char16_t kThreadFailed[] = u"Create thread:GetListFunc failed.";

} // namespace texts

} // namespace tamblin
