// The window's own settings, kept beside "soft.dat" (whose layout stays as
// it is) in "窗口设置.ini": the date range of its downloads and the two Weibo
// options. Read at start, written anew at every change.
#pragma once

#include "download/DateRange.h"
#include "download/DownloadDriver.h"

#include <QString>

namespace tamblin {

inline constexpr char16_t kWindowSettingsFile[] = u"窗口设置.ini";

struct WindowSettings {
    DateRange range;          // an open end: no limit that way
    bool savePosts = false;   // 保存微博
    bool withReposts = false; // 下载转发图片

    // The file in `appDir` (ending in the separator); defaults for a file or
    // key that is missing, and for a date that is no date.
    static WindowSettings Load(const QString &appDir);
    // Writes the file the way every file is written; false when it could not.
    bool Save(const QString &appDir) const;

    // What a download of the window asks beyond the site's settings: the
    // range wins over the extension settings' when one end is set.
    DownloadOptions Options() const;

    // "2023-01-01 至 2023-01-31", "2023-01-01 起", "至 2023-01-31"; empty
    // when neither end is set.
    QString RangeText() const { return RangeText(range); }
    static QString RangeText(const DateRange &range);
};

} // namespace tamblin
