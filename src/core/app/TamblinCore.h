// The state the workers share with the window: the album list, the settings
// record, the folders and ids the list extractors fill, and the run states.
//
// The desktop window owns one, the command-line program owns one, tests own
// one; workers take a reference to it and talk to the front end only through
// its WindowPort.
#pragma once

#include "app/AlbumList.h"
#include "app/SoftSettings.h"
#include "download/DateRange.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

namespace tamblin {

class WindowPort;

class TamblinCore {
public:
    explicit TamblinCore(WindowPort *window = nullptr);

    WindowPort *m_window = nullptr;

    AlbumList m_albums;
    QString m_lastFirstUrl;
    QString m_appDir; // always ends in the native separator
    QString m_userFolder;
    QString m_subFolder;
    QString m_ownerUid;
    QString m_filterText;
    std::int32_t m_listType = 0;
    std::int32_t m_subMode = 0;
    // The GUI thread edits it while the workers read it, and the list
    // worker adds to the address history: every change holds
    // m_settingsMutex, and a worker reads through a copy taken under it
    // (SiteRulesNow, DownParamsNow). The GUI thread, the only one to change
    // the rules and parameters, reads those directly.
    SoftSettings m_settings;
    mutable std::mutex m_settingsMutex;

    // Extension settings ("下载器扩展设置.ini"); kept for site handlers.
    // Atomic: the list and the download worker each read the file again at
    // their start, on their own threads.
    std::atomic<std::uint8_t> m_qqV2Encoding{0};
    std::atomic<std::uint8_t> m_qqV3Encoding{0};
    std::atomic<std::uint8_t> m_qqSourceNameWay{1};
    std::atomic<std::int32_t> m_taobaoPriceInName{0};
    std::atomic<std::int32_t> m_taobaoPriceAdjust{0};
    // Least time between two page requests to the Weibo hosts, which answer
    // a faster client with rate-limit errors; 0 turns pacing off.
    std::atomic<std::int32_t> m_weiboPaceMs{kWeiboPaceDefaultMs};
    static constexpr std::int32_t kWeiboPaceDefaultMs = 1000;
    // Every picture of a Sina blog article, not only its first.
    std::atomic<bool> m_blogAllPictures{false};
    // Whether the clips of Weibo posts (Live Photo motion, gif videos,
    // videos) are downloaded beside the stills; off keeps stills only.
    std::atomic<bool> m_weiboClips{true};
    // A saved picture whose post time the service gave takes it as its
    // modification time; off, it keeps the time of download.
    std::atomic<bool> m_postTimeAsFileTime{true};
    // A Weibo user's download also keeps its posts (posts.jsonl), and the
    // pictures of the posts it reposted (in "转发").
    std::atomic<bool> m_savePosts{false};
    std::atomic<bool> m_withReposts{false};

    // The renewals of the Weibo session this run (fresh visitor cookies, a
    // fresh session after a block) and when the last renewal or visitor
    // exchange ran, which the Weibo room bounds. The window starts it anew
    // with each run; a tamblin-cli command is one run, however many users
    // it walks.
    struct SessionRenewals {
        std::mutex mutex;
        int count = 0;
        std::optional<std::chrono::steady_clock::time_point> last;
        void Reset()
        {
            std::lock_guard lock(mutex);
            count = 0;
            last.reset();
        }
    };
    mutable SessionRenewals m_sessionRenewals;

    std::uint8_t m_previewMode = 0;
    const std::uint8_t m_previewColumns = 6;
    const std::uint8_t m_thumbWidth = 113;
    const std::uint8_t m_thumbHeight = 120;

    // Run states, written by the GUI thread and polled by workers.
    std::atomic<std::uint8_t> m_previewState{0}; // 0 idle, 1 running, 2 stop asked
    std::atomic<std::uint8_t> m_ready{0};
    std::atomic<std::uint8_t> m_listState{0};    // 0 idle, 1 running, 2 stop asked
    std::atomic<std::uint8_t> m_downState{0};    // 0 idle, 1 running, 2 skip rule, 3 stop asked

    // Reads "soft.dat" from m_appDir, repairs it, writes it back and fills
    // the two history boxes. A missing, unreadable or empty file gives the
    // first-run defaults.
    void LoadSettings();
    // Writes "soft.dat" through a temporary file; a failed save leaves the
    // old file intact. Serialised, since the list worker saves too.
    bool SaveSettings();
    // which 0: address history, 1: save-path history. True when it changed.
    bool AddHistory(int which, const QString &text);
    // Copies, under m_settingsMutex, of the current site's rules and
    // download parameters (defaults for a site index out of range).
    SiteRules SiteRulesNow() const;
    DownParams DownParamsNow() const;
    void ReadExtensionSettings();
    // The range of post days the extension settings give every download
    // that names none of its own (open at both ends when they give none).
    DateRange RangeNow() const;
    // That range as the extension settings file in `appDir` gives it now.
    static DateRange ExtensionRange(const QString &appDir);

    // An extractor found an album: add it and show its row. Ignored until
    // start-up has finished (m_ready).
    void OnAlbumAdded(const ST_PERLISTRECORD &album);

    QString SettingsPath() const;

private:
    DateRange m_range; // under m_settingsMutex
    // Keeps the saves in order: the image written last is the newest.
    std::mutex m_saveMutex;
};

} // namespace tamblin
