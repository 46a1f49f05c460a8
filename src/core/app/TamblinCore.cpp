#include "app/TamblinCore.h"

#include "app/Ini.h"
#include "app/WindowPort.h"
#include "net/HttpClient.h"
#include "net/SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStringList>

#include <algorithm>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

// Sites whose first-run rules differ from all zero.
constexpr int kSiteFixOrderAndLarge = 7;
constexpr int kSiteSequenceNames = 8;
constexpr int kSitesFixOrder[] = {11, 16};

constexpr std::uint16_t kDefaultThreads = 5;
constexpr std::uint16_t kMaxThreads = 15;
constexpr std::uint16_t kDefaultTimeoutSec = 30;
constexpr std::uint16_t kMinTimeoutSec = 10;

// The text option of the HTTP client a "V2编码"/"V3编码" value stands for.
std::uint8_t TextOption(const QString &value)
{
    if (value.startsWith(u"UTF8"))
        return kTextUtf8;
    if (value.startsWith(u"AUTO"))
        return kTextDetectUtf8;
    if (value.startsWith(u"BIG5"))
        return kTextBig5;
    return 0; // "ANSI" and anything else
}

// This run's entries that the file lacks (its own additions) first, then
// the file's, newest first as each list is kept. Nothing changes when the
// file holds no entry this run lacks.
void MergeHistory(std::array<FixedText<kHistoryUnits>, kHistoryEntries> &ours,
                  const std::array<FixedText<kHistoryUnits>, kHistoryEntries> &onDisk)
{
    auto texts = [](const auto &entries) {
        QStringList list;
        for (const auto &entry : entries) {
            if (!entry.Get().isEmpty())
                list.append(entry.Get());
        }
        return list;
    };
    auto contains = [](const QStringList &list, const QString &text) {
        return list.contains(text, Qt::CaseInsensitive);
    };
    const QStringList own = texts(ours);
    const QStringList disk = texts(onDisk);
    if (std::all_of(disk.begin(), disk.end(), [&](const QString &text) { return contains(own, text); }))
        return;
    QStringList merged;
    for (const QString &text : own) {
        if (!contains(disk, text) && !contains(merged, text))
            merged.append(text);
    }
    for (const QString &text : disk) {
        if (!contains(merged, text))
            merged.append(text);
    }
    for (std::size_t i = 0; i < ours.size(); ++i)
        ours[i].Set(qsizetype(i) < merged.size() ? merged[qsizetype(i)] : QString());
}

} // namespace

TamblinCore::TamblinCore(WindowPort *window) : m_window(window) {}

QString TamblinCore::SettingsPath() const
{
    return m_appDir + u"soft.dat"_s;
}

void TamblinCore::LoadSettings()
{
    m_settings = SoftSettings{};
    bool read = false;
    QFile file(SettingsPath());
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.read(kSoftSettingsSize);
        m_settings = SoftSettings::FromBytes(bytes);
        // An empty file holds no settings at all: treat it as a first run.
        read = !bytes.isEmpty();
    }

    for (DownParams &params : m_settings.downParams) {
        if (params.threads == 0 || params.threads > kMaxThreads)
            params.threads = kDefaultThreads;
        if (params.timeoutSec < kMinTimeoutSec)
            params.timeoutSec = kDefaultTimeoutSec;
    }
    if (!read) {
        m_settings.siteRules[kSiteFixOrderAndLarge].flags = kFixOrder | kLargePictures;
        for (int site : kSitesFixOrder)
            m_settings.siteRules[site].flags = kFixOrder;
        m_settings.siteRules[kSiteSequenceNames].fileNameMode = 1;
    }

    SaveSettings();

    if (!m_window)
        return;
    for (int which = 0; which < 2; ++which) {
        m_window->ClearHistoryItems(which);
        const auto &history = which == 0 ? m_settings.addressHistory : m_settings.savePathHistory;
        for (const auto &entry : history) {
            const QString text = entry.Get();
            if (!text.isEmpty())
                m_window->AddHistoryItem(which, text);
        }
    }
}

bool TamblinCore::SaveSettings()
{
    std::lock_guard lock(m_saveMutex);
    // The new image goes to a temporary file beside the old one and replaces
    // it only when completely written, so a crash or a full disk never
    // leaves a damaged "soft.dat".
    //
    // Runs started from the same folder share the file: under a lock, the
    // histories another run saved meanwhile are merged into this one's, so
    // that the last save does not drop them.
    QLockFile fileLock(SettingsPath() + u".lock"_s);
    fileLock.setStaleLockTime(30000);
    const bool locked = fileLock.tryLock(10000);
    QFile old(SettingsPath());
    QByteArray bytes;
    {
        std::lock_guard settings(m_settingsMutex);
        if (locked && old.open(QIODevice::ReadOnly)) {
            const QByteArray oldBytes = old.read(kSoftSettingsSize);
            if (!oldBytes.isEmpty()) {
                const SoftSettings onDisk = SoftSettings::FromBytes(oldBytes);
                MergeHistory(m_settings.addressHistory, onDisk.addressHistory);
                MergeHistory(m_settings.savePathHistory, onDisk.savePathHistory);
            }
        }
        bytes = m_settings.ToBytes();
    }
    SafeFile file(SettingsPath());
    return file.Open() && file.Write(bytes) && file.Commit();
}

bool TamblinCore::AddHistory(int which, const QString &text)
{
    if (which != 0 && which != 1)
        return false;
    if (text.size() >= kHistoryUnits)
        return false;
    std::lock_guard lock(m_settingsMutex);
    auto &history = which == 0 ? m_settings.addressHistory : m_settings.savePathHistory;
    for (const auto &entry : history) {
        if (entry.Get().compare(text, Qt::CaseInsensitive) == 0)
            return false;
    }
    for (int i = kHistoryEntries - 1; i > 0; --i)
        history[i] = history[i - 1];
    history[0].Set(text);
    return true;
}

SiteRules TamblinCore::SiteRulesNow() const
{
    const int t = m_listType;
    std::lock_guard lock(m_settingsMutex);
    return t >= 0 && t < kSiteSlots ? m_settings.siteRules[std::size_t(t)] : SiteRules{};
}

DownParams TamblinCore::DownParamsNow() const
{
    const int t = m_listType;
    std::lock_guard lock(m_settingsMutex);
    return t >= 0 && t < kSiteSlots ? m_settings.downParams[std::size_t(t)] : DownParams{};
}

void TamblinCore::ReadExtensionSettings()
{
    m_qqV2Encoding = 0;
    m_qqV3Encoding = 0;
    m_taobaoPriceInName = 0;
    m_taobaoPriceAdjust = 0;
    m_weiboPaceMs = kWeiboPaceDefaultMs;
    m_blogAllPictures = false;
    m_weiboClips = true;
    m_postTimeAsFileTime = true;
    m_savePosts = false;
    m_withReposts = false;
    {
        std::lock_guard lock(m_settingsMutex);
        m_range = DateRange();
    }

    const QString path = m_appDir + u"下载器扩展设置.ini"_s;
    if (!QFileInfo::exists(path))
        return;
    const CIni ini(path);
    {
        const DateRange range = ExtensionRange(m_appDir);
        std::lock_guard lock(m_settingsMutex);
        m_range = range;
    }
    m_savePosts = ini.GetInt(u"微博"_s, u"保存微博"_s, 0) != 0;
    m_withReposts = ini.GetInt(u"微博"_s, u"下载转发图片"_s, 0) != 0;
    // Milliseconds; a value past a minute is a typo, not a wish to wait.
    m_weiboPaceMs = std::clamp(ini.GetInt(u"微博"_s, u"请求间隔毫秒"_s, kWeiboPaceDefaultMs), 0, 60000);
    m_blogAllPictures = ini.GetInt(u"新浪博客"_s, u"下载文章全部图片"_s, 0) != 0;
    m_weiboClips = ini.GetInt(u"微博"_s, u"下载实况视频"_s, 1) != 0;
    m_postTimeAsFileTime = ini.GetInt(u"下载"_s, u"文件时间用发布时间"_s, 1) != 0;
    m_qqV2Encoding = TextOption(ini.GetString(u"QQ空间"_s, u"V2编码"_s, u"ANSI"_s));
    m_qqV3Encoding = TextOption(ini.GetString(u"QQ空间"_s, u"V3编码"_s, u"ANSI"_s));
    m_qqSourceNameWay = std::uint8_t(ini.GetInt(u"QQ空间"_s, u"取原始名方式"_s, 1));
    m_taobaoPriceInName = ini.GetString(u"淘宝"_s, u"图片名中是否有价格"_s, u"无"_s).startsWith(u"有") ? 1 : 0;
    m_taobaoPriceAdjust = ini.GetInt(u"淘宝"_s, u"价格增减"_s, 0);
}

DateRange TamblinCore::ExtensionRange(const QString &appDir)
{
    const QString path = appDir + u"下载器扩展设置.ini"_s;
    if (!QFileInfo::exists(path))
        return {};
    const CIni ini(path);
    // A day that is no YYYY-MM-DD leaves its end open.
    return {DateRange::ParseDay(ini.GetString(u"下载"_s, u"起始日期"_s, QString())),
            DateRange::ParseDay(ini.GetString(u"下载"_s, u"结束日期"_s, QString()))};
}

DateRange TamblinCore::RangeNow() const
{
    std::lock_guard lock(m_settingsMutex);
    return m_range;
}

void TamblinCore::OnAlbumAdded(const ST_PERLISTRECORD &album)
{
    // Before start-up has finished no list run can have begun.
    if (m_ready.load() != 1)
        return;
    const int before = m_albums.Size();
    const int count = m_albums.AddAlbum(album, m_window);
    if (count > before && m_window)
        m_window->AlbumAdded(count - 1);
}

} // namespace tamblin
