// What the window says of a download run once it has ended, beside 下载完毕.
#pragma once

#include "download/DownloadDriver.h"

#include <QString>

namespace tamblin {

// The pictures saved, skipped by a rule and left out by the date range (the
// last two when there were any), then what did not download
// (DownloadLossesText): "已保存12张，跳过1张，范围外3张；2张图片下载失败，见 failed.txt".
QString RunSummaryText(const DownloadSummary &summary);

// Whether the run left failed.txt lines a retry of its albums can fetch:
// pictures that failed, or whose post could not be read.
bool RunLeftRetries(const DownloadSummary &summary);

} // namespace tamblin
