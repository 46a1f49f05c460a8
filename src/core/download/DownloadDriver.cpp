#include "download/DownloadDriver.h"

#include "app/StoredTexts.h"
#include "app/TamblinCore.h"
#include "app/WindowPort.h"
#include "download/WorkerPool.h"
#include "download/DownloadJobList.h"
#include "download/DownloadTexts.h"
#include "download/FileUtils.h"
#include "download/ListFiles.h"
#include "download/NamingRules.h"

#include <QDir>

#include <array>
#include <atomic>
#include <system_error>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

constexpr int kSiteSina = 4;
constexpr int kLastSiteIndex = 16;
// The album counter of a run is 16 bits wide.
constexpr int kMaxAlbumsPerRun = 65535;

std::array<std::atomic<PictureExtractor>, kSubModeCount> g_extractors{};

void Message(TamblinCore &core, const QString &text)
{
    if (core.m_window)
        core.m_window->ShowMessage(text);
}

void Text(TamblinCore &core, int controlId, const QString &text)
{
    if (core.m_window)
        core.m_window->SetItemText(controlId, text);
}

bool IsSeparator(QChar c)
{
    return c == u'/' || c == QDir::separator();
}

// The user and sub folders come from the list run, that is from names a
// service sent: keep them below the save folder whatever they hold. Empty
// parts and parts made of dots are dropped, each part is fitted to the
// file system's limit, and the result ends in the native separator.
QString SafeRelativeFolder(const QString &folder)
{
    QString result;
    QString part;
    auto flush = [&] {
        bool dots = true;
        for (QChar c : part)
            dots = dots && (c == u'.' || c == u' ');
        if (!dots)
            result += CutToUtf8Bytes(part, kMaxComponentBytes) + QDir::separator();
        part.clear();
    };
    for (QChar c : folder) {
        if (IsSeparator(c) || c == u'\\')
            flush();
#ifdef Q_OS_WIN
        else if (c == u':')
            continue;
#endif
        else
            part += c;
    }
    flush();
    return result;
}

struct RunParams {
    DownParams params;
    std::uint16_t flags = 0;
};

RunParams ParamsFor(const TamblinCore &core)
{
    RunParams run;
    const int t = core.m_listType;
    if (t >= 0 && t < kSiteSlots)
        run.params = core.m_settings.downParams[t];
    run.flags = CurrentSiteRules(core).flags;
    return run;
}

void ListPictures(TamblinCore &core, int albumIndex)
{
    const int t = core.m_listType;
    if (t < 0 || t > kLastSiteIndex) {
        Message(core, QString::fromUtf16(texts::kBadListType));
        return;
    }
    if (t != kSiteSina)
        return;
    const int mode = core.m_subMode;
    if (mode < 0 || mode >= kSubModeCount)
        return;
    if (PictureExtractor extractor = g_extractors[mode].load())
        extractor(core, albumIndex);
}

// Downloads the jobs of the current album; false when the pool could not be
// started.
bool DownloadAlbum(TamblinCore &core, std::uint16_t flags)
{
    Text(core, kIdStatusPicture, QString::fromUtf16(texts::kDownloadStarted));
    std::optional<std::thread> pool = StartDownloadPool();
    if (!pool) {
        Message(core, QString::fromUtf16(texts::kPoolThreadFailed));
        return false;
    }
    // A stop asked between the state check and the pool's start must not be
    // lost when the pool clears the flag.
    if (core.m_downState == 3)
        g_stopDownload = true;
    pool->join();
    // Workers a stop left running finish their picture before anything else
    // looks at the album's files.
    JoinAbandonedWorkers();

    if (core.m_downState != 3)
        WriteLastFirstUrl(g_jobs.urls.at(0), g_jobs.folder);
    if (flags & kFixFormat)
        FixPictureFormats(g_jobs);
    if (flags & kFixOrder)
        FixPictureOrder(g_jobs);
    return true;
}

} // namespace

void SetPictureExtractor(int subMode, PictureExtractor extractor)
{
    if (subMode >= 0 && subMode < kSubModeCount)
        g_extractors[subMode] = extractor;
}

PictureExtractor GetPictureExtractor(int subMode)
{
    if (subMode < 0 || subMode >= kSubModeCount)
        return nullptr;
    return g_extractors[subMode];
}

void RunDownload(TamblinCore &core, std::optional<DownParams> params)
{
    WindowPort *const window = core.m_window;
    core.ReadExtensionSettings();

    QString base = window ? window->SavePathText().trimmed() : QString();
    if (base.isEmpty()) {
        Message(core, QString::fromUtf16(texts::kSetSavePath));
        core.m_downState = 0;
        return;
    }
    if (!IsSeparator(base.back()))
        base += QDir::separator();
    base += SafeRelativeFolder(core.m_userFolder) + SafeRelativeFolder(core.m_subFolder);
    if (!CreateDirectoryPath(base, window)) {
        Message(core, QString::fromUtf16(texts::kCheckSavePath));
        core.m_downState = 0;
        return;
    }

    // Running, unless a stop was asked since the button was pressed.
    std::uint8_t idle = 0;
    core.m_downState.compare_exchange_strong(idle, 1);
    if (window)
        window->SetDownBusyUi();
    g_jobs.folder = base;

    RunParams run = ParamsFor(core);
    if (params)
        run.params = *params;
    g_minKb = run.params.minKb;
    g_maxKb = run.params.maxKb;
    g_threadCount = run.params.threads;
    g_timeoutSec = run.params.timeoutSec;

    const QList<int> chosen = window ? window->ChosenAlbums() : QList<int>();
    core.m_albums.selectedCount = std::int32_t(chosen.size());
    if (chosen.isEmpty())
        Message(core, StoredText(kTextNoAlbumChosen));

    std::uint32_t runTotal = 0;
    const int n = int(std::min<qsizetype>(chosen.size(), kMaxAlbumsPerRun));
    for (int k = 0; k < n; ++k) {
        if (core.m_downState == 3)
            break;
        const int albumIndex = chosen[k];

        g_jobs.Clear();
        g_jobs.folder = base;

        // Back from the skip rule's 2 to running; a stop asked meanwhile stays.
        std::uint8_t skipped = 2;
        core.m_downState.compare_exchange_strong(skipped, 1);
        Text(core, kIdStatusMain, QString::fromUtf16(texts::kDownloadingAlbum).arg(k + 1).arg(n));
        Text(core, kIdStatusPicture, QString::fromUtf16(texts::kEllipsis));

        ListPictures(core, albumIndex);

        const qsizetype m = g_jobs.urls.size();
        if (m == 0 || core.m_downState == 3)
            continue;
        runTotal += std::uint32_t(m);

        if (run.flags & kListOnly) {
            const ST_PERLISTRECORD *album = core.m_albums.At(albumIndex);
            const QString name = album ? album->name : QString();
            WriteThunderList(g_jobs.folder + FitFileName(name + u".lst"_s), g_jobs.urls);
            WriteAria2List(g_jobs.folder + FitFileName(name + u".aria2.txt"_s), g_jobs);
            continue;
        }
        DownloadAlbum(core, run.flags);
    }

    const QString lastFolder = g_jobs.folder;
    Text(core, kIdStatusMain, QString::fromUtf16(texts::kDownloadFinished));
    Text(core, kIdStatusPicture, QString());
    core.m_downState = 0;
    if (window)
        window->SetDownIdleUi();

    if (runTotal > 0 && (run.flags & kOpenFolderWhenDone) && window)
        window->OpenFolder(lastFolder);
}

std::optional<std::thread> PressDownloadButton(TamblinCore &core)
{
    std::uint8_t idle = 0;
    if (!core.m_downState.compare_exchange_strong(idle, 1)) {
        RequestDownloadStop(core);
        return std::nullopt;
    }
    try {
        return std::thread([&core] { RunDownload(core); });
    } catch (const std::system_error &) {
        Message(core, QString::fromUtf16(texts::kThreadFailed));
        core.m_downState = 0;
        return std::nullopt;
    }
}

void RequestDownloadStop(TamblinCore &core)
{
    core.m_downState = 3;
    g_stopDownload = true;
}

} // namespace tamblin
