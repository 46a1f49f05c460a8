#include "app/WindowSettings.h"

#include "app/Ini.h"
#include "net/SafeFile.h"

using namespace Qt::StringLiterals;

namespace tamblin {

namespace {

// The keys the extension settings use for the same things.
const QString kDownload = u"下载"_s;
const QString kWeibo = u"微博"_s;
const QString kSince = u"起始日期"_s;
const QString kUntil = u"结束日期"_s;
const QString kSavePosts = u"保存微博"_s;
const QString kWithReposts = u"下载转发图片"_s;

QDate ReadDate(const CIni &ini, const QString &key)
{
    return QDate::fromString(ini.GetString(kDownload, key, QString()), Qt::ISODate);
}

QString DateText(const QDate &date)
{
    return date.isValid() ? date.toString(Qt::ISODate) : QString();
}

} // namespace

WindowSettings WindowSettings::Load(const QString &appDir)
{
    const CIni ini(appDir + QString::fromUtf16(kWindowSettingsFile));
    WindowSettings settings;
    settings.range.since = ReadDate(ini, kSince);
    settings.range.until = ReadDate(ini, kUntil);
    settings.savePosts = ini.GetInt(kWeibo, kSavePosts, 0) != 0;
    settings.withReposts = ini.GetInt(kWeibo, kWithReposts, 0) != 0;
    return settings;
}

bool WindowSettings::Save(const QString &appDir) const
{
    const QString text = u"[%1]\r\n%2=%3\r\n%4=%5\r\n[%6]\r\n%7=%8\r\n%9=%10\r\n"_s.arg(
        kDownload, kSince, DateText(range.since), kUntil, DateText(range.until), kWeibo, kSavePosts,
        savePosts ? u"1"_s : u"0"_s, kWithReposts, withReposts ? u"1"_s : u"0"_s);
    SafeFile file(appDir + QString::fromUtf16(kWindowSettingsFile));
    return file.Open() && file.Write(text.toUtf8()) && file.Commit();
}

DownloadOptions WindowSettings::Options() const
{
    DownloadOptions options;
    if (range.IsSet())
        options.range = range;
    options.savePosts = savePosts;
    options.withReposts = withReposts;
    return options;
}

QString WindowSettings::RangeText(const DateRange &range)
{
    if (range.since.isValid() && range.until.isValid())
        return u"%1 至 %2"_s.arg(DateText(range.since), DateText(range.until));
    if (range.since.isValid())
        return u"%1 起"_s.arg(DateText(range.since));
    if (range.until.isValid())
        return u"至 %1"_s.arg(DateText(range.until));
    return {};
}

} // namespace tamblin
