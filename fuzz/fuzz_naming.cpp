// SanitizeName and the naming rules (AddPictureJob, FindFileName) under
// arbitrary rules, album names, titles and addresses: whatever a service or
// a settings file holds, every file named stays inside its album folder, in
// components a file system takes, and no two pictures share a file.
#include "FuzzSupport.h"

#include "app/TamblinCore.h"
#include "download/DownloadJobList.h"
#include "download/FileUtils.h"
#include "download/NamingRules.h"

using namespace tamblin;

namespace {

constexpr int kSite = 4; // Sina, the site every run uses

template <int N>
void SetField(FixedText<N> &field, FuzzedDataProvider &fdp)
{
    field.Set(fuzz::ConsumeText(fdp, 2 * N));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::InitOnce();
    FuzzedDataProvider fdp(data, size);

    {
        QString name = fuzz::ConsumeText(fdp, 512);
        const bool fallback = fdp.ConsumeBool();
        const int number = fdp.ConsumeBool() ? kTimeStampFallback : fdp.ConsumeIntegral<int>();
        SanitizeName(name, number, fallback);
        fuzz::CheckSanitized(name, fallback);
    }

    TamblinCore core;
    core.m_ready = 1;
    core.m_listType = kSite;
    core.m_userFolder = fuzz::ConsumeText(fdp, 64);
    SiteRules &rules = core.m_settings.siteRules[kSite];
    SetField(rules.filePrefix, fdp);
    SetField(rules.fileSuffix, fdp);
    SetField(rules.replaceFrom, fdp);
    SetField(rules.replaceTo, fdp);
    SetField(rules.folderPrefix, fdp);
    SetField(rules.folderSuffix, fdp);
    rules.flags = fdp.ConsumeIntegral<std::uint16_t>();
    rules.fileNameMode = fdp.ConsumeIntegralInRange<std::uint8_t>(0, 3);
    rules.folderNameMode = fdp.ConsumeIntegralInRange<std::uint8_t>(0, 1);

    // A few albums before the one downloaded, so that the position escapes
    // run past one digit.
    const int albums = fdp.ConsumeIntegralInRange(1, 12);
    for (int i = 0; i < albums; ++i) {
        ST_PERLISTRECORD album;
        album.name = fuzz::ConsumeText(fdp, 128);
        album.value1 = fdp.ConsumeIntegral<std::int32_t>();
        album.value2 = fdp.ConsumeIntegral<std::int32_t>();
        core.OnAlbumAdded(album);
    }
    fuzz::CheckAlbumNames(core.m_albums);
    core.m_albums.selectedCount = fdp.ConsumeIntegral<std::int32_t>();
    const int albumIndex = core.m_albums.Size() - 1;

    const QString save = fuzz::SaveFolder();
    g_jobs.Clear();
    g_jobs.folder = save;
    while (fdp.remaining_bytes() > 0 && g_jobs.urls.size() < 200) {
        const QString address = fuzz::ConsumeText(fdp, 256);
        const QString description = fuzz::ConsumeText(fdp, 512);
        AddPictureJob(core, address, description, QString(), albumIndex);
        if (core.m_downState == 2)
            break;
    }
    fuzz::CheckJobs(g_jobs, save);
    for (qsizetype i = 0; i < g_jobs.fileNames.size(); ++i)
        FUZZ_CHECK(FindFileName(g_jobs, g_jobs.fileNames[i]) == i, g_jobs.fileNames[i]);
    g_jobs.Clear();
    return 0;
}
