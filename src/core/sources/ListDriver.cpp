#include "sources/ListDriver.h"

#include "app/TamblinCore.h"
#include "app/WindowPort.h"
#include "download/FileUtils.h"
#include "sources/ListTexts.h"
#include "sources/SinaBlog.h"
#include "sources/SinaPhoto.h"
#include "sources/SiteTable.h"
#include "sources/SourceSupport.h"
#include "sources/Weibo.h"
#include "sources/WeiboSession.h"
#include "text/TextUtils.h"

#include <QDir>

#include <system_error>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

// A user or sub folder as one clean folder level ending in the separator,
// or empty.
void NormaliseFolder(QString &folder)
{
    SanitizeName(folder, 0, false);
    // SanitizeName removes both slashes already; kept for folder texts
    // that reach here by other paths.
    folder.replace(u'/', QDir::separator());
    if (!folder.isEmpty() && !folder.endsWith(QDir::separator()))
        folder.append(QDir::separator());
}

// Why a list run found no album, and what to advise: a noted failure first,
// else a page that could not be fetched. The login hint goes with a cause a
// login may cure (for Weibo, unless a login is in the store already) and
// with an empty result, never with one a login cannot change (a
// certificate, the network, a rate limit given up on, a user that does not
// exist).
NoAlbumAdvice NoAlbumCause(const TamblinCore &core, QString &cause)
{
    FailureKind kind = FailureKind::Final;
    cause = TakeSourceFailure(&kind);
    const QString fetchFailure = TakeFetchFailure();
    if (cause.isEmpty()) {
        cause = fetchFailure;
        kind = FailureKind::Final;
    }
    if (kind == FailureKind::Verify)
        return NoAlbumAdvice::Verify;
    if (cause.isEmpty())
        return NoAlbumAdvice::LogIn;
    if (kind == FailureKind::LoginMayHelp && !(core.m_subMode == kSubModeWeibo && weibo::HasLogin()))
        return NoAlbumAdvice::LogIn;
    return NoAlbumAdvice::None;
}

} // namespace

void GetListFunc(TamblinCore &core)
{
    WindowPort &window = *core.m_window;

    core.ReadExtensionSettings();
    TakeSourceFailure(); // a note of an earlier run on this thread
    core.m_listType = kSiteSina;
    core.m_userFolder.clear();
    core.m_subFolder.clear();

    const QString address = window.AddressText().trimmed();
    if (address.isEmpty()) {
        window.ShowMessage(StoredText(kTextBadAddress));
        core.m_listState = 0;
        return;
    }

    // A stop asked before the worker got here is kept.
    std::uint8_t idle = 0;
    core.m_listState.compare_exchange_strong(idle, 1);
    window.SetListBusyUi();

    if (!HasWebScheme(address)) {
        window.ShowMessage(StoredText(kTextBadAddress));
    } else {
        // The sub-source box of site 0 would choose the sub-mode here, but
        // m_listType is always Sina and the Sina dispatch below sets it.
        if (core.m_listType == kSiteSina) {
            TakeFetchFailure(); // what an earlier run left
            if (address.indexOf(u"/s/") >= 1) {
                core.m_subMode = kSubModeSinaBlog;
                // The extractor appends "_<page>.html" itself.
                const qsizetype underscore = address.lastIndexOf(u'_');
                ListSinaBlogArticles(core, underscore < 0 ? QString() : address.first(underscore));
            } else if (IsWeiboAddress(address)) {
                core.m_subMode = kSubModeWeibo;
                ListWeiboAlbums(core, address);
            } else {
                core.m_subMode = kSubModeSinaPhoto;
                ListSinaPhotoAlbums(core, address);
            }
            // Nothing found: why, and the login hint where a login may
            // help; a terminal words it its own way. A stop needs no word.
            if (core.m_albums.Size() == 0 && !ListStopAsked(core)) {
                QString cause;
                const NoAlbumAdvice advice = NoAlbumCause(core, cause);
                if (!window.ExplainNoAlbums(core.m_subMode, cause, advice))
                    window.ShowMessage(NoAlbumText(cause, advice));
            }
        }
    }

    NormaliseFolder(core.m_userFolder);
    NormaliseFolder(core.m_subFolder);

    const int found = core.m_albums.Size();
    window.SetItemText(kIdAlbumFrame, QString::fromUtf16(texts::kAlbumFrameCount).arg(found));
    // After a "no album" message, a "done" line would read as success.
    const bool none = found == 0 && !ListStopAsked(core);
    window.SetItemText(kIdStatusMain, none ? QString::fromUtf16(texts::kListNone)
                                           : QString::fromUtf16(texts::kListDone).arg(found));
    core.m_listState = 0;
    window.SetListIdleUi();

    if (found > 0) {
        const QString kept = window.AddressText().trimmed();
        if (core.AddHistory(0, kept)) {
            window.AddHistoryItem(0, kept);
            core.SaveSettings();
        }
    }
}

ListPress PressGetAlbums(TamblinCore &core, std::thread &worker, const std::function<void()> &clearView)
{
    if (core.m_ready.load() != 1)
        return ListPress::NotReady;
    if (core.m_listState.load() != 0) {
        core.m_listState = 2;
        return ListPress::StopAsked;
    }
    if (worker.joinable())
        worker.join();
    core.m_albums.Clear();
    if (clearView)
        clearView();
    core.m_listState = 1;
    core.m_subMode = kSubModeNone;
    // Whatever the selector shows, the run uses the Sina extractors.
    core.m_listType = kSiteSina;
    try {
        worker = std::thread(GetListFunc, std::ref(core));
    } catch (const std::system_error &) {
        core.m_window->ShowMessage(QString::fromUtf16(texts::kThreadFailed));
        core.m_listState = 0;
        return ListPress::Failed;
    }
    return ListPress::Started;
}

} // namespace tamblin
