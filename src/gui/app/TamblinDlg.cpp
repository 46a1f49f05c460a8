#include "app/TamblinDlg.h"

#include "app/AlbumGrid.h"
#include "app/ClipboardText.h"
#include "app/ComboBox2.h"
#include "app/GuiThread.h"
#include "app/RunSummary.h"
#include "app/StoredTexts.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/DlgFind.h"
#include "dialogs/Resources.h"
#include "download/DownloadDriver.h"
#include "download/DownloadJobList.h"
#include "download/DownloadTexts.h"
#include "download/WorkerPool.h"
#include "grid/MyGridCtrl.h"
#include "login/BrowserSetup.h"
#include "login/DlgWebOpen.h"
#include "login/LoginRenewal.h"
#include "preview/AlbumPreview.h"
#include "sources/Endpoints.h"
#include "sources/ListDriver.h"
#include "sources/ListTexts.h"
#include "sources/SiteTable.h"
#include "sources/SourceSupport.h"
#include "splash/SplashScreenEx.h"

#include <QPropertyAnimation>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QUrl>

#include <condition_variable>
#include <initializer_list>
#include <system_error>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

// Template 102: "MS Shell Dlg" 9 point, 471 x 323 dialog units.
constexpr int kFontPoints = 9;
constexpr int kDlgWidth = 471;
constexpr int kDlgHeight = 323;
// Height of the boxes and buttons of the two top rows.
constexpr int kRowHeight = 13;
// Gap between the sub-source box and the address box beside it, in pixels.
constexpr int kSubSourceGap = 3;
// The clipboard text becomes the address when it is 1 to 199 characters.
constexpr qsizetype kMaxClipboardAddress = 199;
// Time the GUI thread spends on album rows before it lets other events in.
constexpr qint64 kRowSliceNs = 5'000'000;
// How often the run's progress bar reads the count while a download runs.
constexpr int kProgressTickMs = 200;

QString Text(const char16_t *text)
{
    return QString::fromUtf16(text);
}

// A link label: the caption as a link the label reports when clicked.
QLabel *NewLink(const QString &caption, QWidget *parent)
{
    QString html = caption;
    html.replace(u"<a>"_s, u"<a href=\"#\">"_s);
    auto *link = new QLabel(html, parent);
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    return link;
}

QLabel *NewStatic(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// Text that can stand in the address box: no control characters and nothing
// that was no text to begin with.
bool IsAddressText(const QString &text)
{
    for (QChar c : text) {
        if (c.category() == QChar::Other_Control || c == QChar::ReplacementCharacter)
            return false;
    }
    return true;
}

void SetEnabled(std::initializer_list<QWidget *> controls, bool enabled)
{
    for (QWidget *control : controls)
        control->setEnabled(enabled);
}

} // namespace

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
#define TAMBLIN_HANDED_OVER(addr) __tsan_release(addr)
#define TAMBLIN_TAKEN_OVER(addr) __tsan_acquire(addr)
#else
#define TAMBLIN_HANDED_OVER(addr) ((void)(addr))
#define TAMBLIN_TAKEN_OVER(addr) ((void)(addr))
#endif

// What the GUI thread wrote for a worker (a chosen-album list, a login
// result) is the worker's once Wait returns. The mutex orders it; under
// ThreadSanitizer, which in the window's process loses the GUI thread's
// side of this mutex, the hand-over is also named to it.
struct CTamblinDlg::PendingCall {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;

    void Done()
    {
        {
            std::lock_guard lock(mutex);
            TAMBLIN_HANDED_OVER(this);
            done = true;
        }
        changed.notify_all();
    }

    void Wait()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return done; });
        TAMBLIN_TAKEN_OVER(this);
    }
};

CTamblinDlg::CTamblinDlg(const StartFolders &folders, QWidget *parent)
    : QMainWindow(parent)
    , m_core(this)
{
    setWindowTitle(Text(kTitle));
    setWindowIcon(ProgramIcon());
    setFont(DialogFont(kFontPoints));
    setAcceptDrops(true);
    BuildControls();
    BuildMenu();
    AddSystemMenuAbout();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    m_grid->SetImageList(&m_thumbs);
    m_preview = std::make_unique<AlbumPreview>(m_core, m_grid, &m_thumbs);
    m_preview->SetListRowAdder([this](int index) { AddAlbumToGrid(index); });
    ResetAlbumGrid();
    RegisterPictureExtractors();
    g_jobs.progressWindow = this;
    g_jobs.progressControlId = kIdStatusPicture;

    const QString clip = ReadClipboardText().trimmed();
    if (!clip.isEmpty() && clip.size() <= kMaxClipboardAddress && IsAddressText(clip))
        m_addressBox->setEditText(clip);

    m_core.m_appDir = folders.appDir;
    m_savePathBox->setEditText(folders.savePath);
    m_core.LoadSettings();
    const QString lastSavePath = m_core.m_settings.savePathHistory[0].Get();
    if (!lastSavePath.isEmpty())
        m_savePathBox->setEditText(lastSavePath);
    m_windowSettings = WindowSettings::Load(m_core.m_appDir);
    ShowRangeLine();

    m_progressTimer.setInterval(kProgressTickMs);
    connect(&m_progressTimer, &QTimer::timeout, this, &CTamblinDlg::UpdateRunProgress);

    m_closeTimer.setInterval(10);
    connect(&m_closeTimer, &QTimer::timeout, this, &CTamblinDlg::CheckClose);
}

CTamblinDlg::~CTamblinDlg()
{
    if (!Shutdown() && m_joiner.joinable())
        m_joiner.join(); // rather a wait than a worker in a destroyed window
    if (g_jobs.progressWindow == this)
        g_jobs.progressWindow = nullptr;
}

void CTamblinDlg::BuildControls()
{
    m_client = new QWidget(this);
    setCentralWidget(m_client);
    DialogTemplate dlg(m_client, Text(kTitle), kFontPoints, kDlgWidth, kDlgHeight);
    QWidget *p = m_client;

    m_statusMain = dlg.Place(NewStatic(u"state1"_s, p), kIdStatusMain, 12, 1, 99, 11);
    m_statusPicture = dlg.Place(NewStatic(u"state2"_s, p), kIdStatusPicture, 119, 1, 269, 11);
    // The banner covers the status lines until the first list run.
    m_banner = dlg.Place(NewStatic(StoredText(kTextBanner), p), kIdBanner, 7, 1, 381, 16);
    m_banner->setAutoFillBackground(true);
    // In the gap between the status lines and the address row; shown from
    // the first download on, when the banner has gone.
    m_runProgress = dlg.Place(new QProgressBar(p), kIdRunProgress, 12, 13, 376, 5);
    m_runProgress->setTextVisible(false);
    m_runProgress->hide();
    // The status texts: the picture line holds the retry link after a run.
    m_statusPicture->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);

    m_sourceBox = dlg.Place(new QComboBox(p), kIdSourceBox, 7, 20, 70, kRowHeight);
    m_subSourceBox = dlg.Place(new QComboBox(p), kIdSubSourceBox, 79, 20, 53, kRowHeight);
    m_subSourceBox->hide();
    m_addressBox = dlg.Place(new CComboBox2(p), kIdAddressBox, 134, 20, 252, kRowHeight);
    m_getAlbumsButton = dlg.Place(new QPushButton(Text(texts::kGetAlbumsButton), p), kIdGetAlbums, 389, 19, 36, 13);
    m_downloadButton = dlg.Place(new QPushButton(Text(texts::kDownloadButton), p), kIdDownload, 430, 19, 36, 13);
    m_downloadButton->setEnabled(false);

    dlg.Place(NewStatic(u"保存路径:"_s, p), 0, 7, 40, 31, 10);
    m_savePathBox = dlg.Place(new CComboBox2(p), kIdSavePathBox, 40, 38, 346, kRowHeight);
    m_chooseFolderButton = dlg.Place(new QPushButton(u"设置"_s, p), kIdChooseFolder, 389, 38, 36, 13);
    m_openFolderButton = dlg.Place(new QPushButton(u"打开"_s, p), kIdOpenFolder, 430, 38, 36, 13);

    // The frame first, so that the links, boxes and grid lie on top of it.
    m_albumFrame = dlg.Place(new QGroupBox(Text(texts::kAlbumFrame), p), kIdAlbumFrame, 3, 52, 465, 246);
    m_exportLink = dlg.Place(NewLink(u"<a>导出</a>"_s, p), kIdExportLink, 316, 53, 21, 8);
    m_filterLink = dlg.Place(NewLink(u"<a>筛选</a>"_s, p), kIdFilterLink, 346, 53, 21, 8);
    m_findLink = dlg.Place(NewLink(u"<a>查找</a>"_s, p), kIdFindLink, 376, 53, 21, 8);
    m_previewBox = dlg.Place(new QCheckBox(u"预览图"_s, p), kIdPreview, 402, 53, 32, 10);
    m_selectAllBox = dlg.Place(new QCheckBox(u"全选"_s, p), kIdSelectAll, 441, 53, 23, 10);
    m_grid = dlg.Place(new CMyGridCtrl(p), kIdGrid, 6, 64, 459, 231);
    m_homeLink = dlg.Place(NewLink(StoredText(kTextHomeLink), p), kIdHomeLink, 315, 300, 152, 9);
    m_homeLink->setEnabled(false);
    // In the free space left of the link, as a status line of the window.
    m_rangeLine = dlg.Place(NewStatic(QString(), p), kIdRangeLine, 7, 300, 300, 9);
    dlg.FitTexts();

    m_addressLeftAlone = m_subSourceBox->geometry().left();
    m_addressLeftWithSubSource = m_subSourceBox->geometry().right() + 1 + kSubSourceGap;

    // Dropped files belong to the window, not to the edits they land on.
    m_addressBox->lineEdit()->setAcceptDrops(false);
    m_savePathBox->lineEdit()->setAcceptDrops(false);

    connect(m_addressBox, &QComboBox::editTextChanged, this, [this](const QString &text) {
        std::lock_guard lock(m_textMutex);
        m_addressText = text;
    });
    connect(m_savePathBox, &QComboBox::editTextChanged, this, [this](const QString &text) {
        std::lock_guard lock(m_textMutex);
        m_savePathText = text;
    });
    connect(m_addressBox, &CComboBox2::editChanged, this, &CTamblinDlg::RunSiteRecognition);
    connect(m_addressBox, &CComboBox2::itemPicked, this, &CTamblinDlg::RunSiteRecognition);
    connect(m_sourceBox, &QComboBox::activated, this, &CTamblinDlg::OnSourceSelected);
    connect(m_getAlbumsButton, &QPushButton::clicked, this, &CTamblinDlg::OnGetAlbums);
    connect(m_downloadButton, &QPushButton::clicked, this, &CTamblinDlg::OnDownload);
    connect(m_chooseFolderButton, &QPushButton::clicked, this, &CTamblinDlg::OnChooseFolder);
    connect(m_openFolderButton, &QPushButton::clicked, this, &CTamblinDlg::OnOpenFolder);
    connect(m_selectAllBox, &QCheckBox::clicked, this, &CTamblinDlg::OnSelectAll);
    connect(m_previewBox, &QCheckBox::clicked, this, &CTamblinDlg::OnPreviewBox);
    connect(m_exportLink, &QLabel::linkActivated, m_grid, &CMyGridCtrl::ExportCsv);
    connect(m_filterLink, &QLabel::linkActivated, this, &CTamblinDlg::OnFilterLink);
    connect(m_findLink, &QLabel::linkActivated, this, &CTamblinDlg::OnFindLink);
    connect(m_homeLink, &QLabel::linkActivated, this, [] { OpenAddress(StoredText(kTextHomeAddress)); });
    connect(m_statusPicture, &QLabel::linkActivated, this, &CTamblinDlg::OnRetryFailed);
}

void CTamblinDlg::Start()
{
    m_homeLink->setEnabled(true);
    m_splash = CSplashScreenEx::ShowStartup(this);
    auto work = [this] {
        const QStringList names = SiteNames();
        Post([this, names] { OnStartupDone(names); });
    };
    try {
        m_startupWorker = std::thread(work);
    } catch (const std::system_error &) {
        work();
    }
}

void CTamblinDlg::OnStartupDone(const QStringList &siteNames)
{
    if (m_startupWorker.joinable())
        m_startupWorker.join();
    // The splash is seen at least until it has faded in.
    if (m_splash && m_splash->Fade() && m_splash->Fade()->state() == QAbstractAnimation::Running) {
        // Queued: the fade is gone by then.
        connect(
            m_splash->Fade(), &QAbstractAnimation::finished, this,
            [this, siteNames] {
                if (!m_closing)
                    OnStartupDone(siteNames);
            },
            Qt::QueuedConnection);
        return;
    }
    if (m_splash)
        m_splash->Hide();
    show();
    m_sourceBox->clear();
    m_sourceBox->addItems(siteNames);
    m_sourceBox->setCurrentIndex(kSiteSina);
    RunSiteRecognition();
    m_core.m_ready = 1;
    OnSourceSelected(m_sourceBox->currentIndex());
}

// --- What the workers ask of the window ---

void CTamblinDlg::Post(std::function<void()> fn)
{
    if (m_closing)
        return;
    PostToGui(this, [this, fn = std::move(fn)] {
        if (!m_closing)
            fn();
    });
}

void CTamblinDlg::Call(std::function<void(const std::shared_ptr<PendingCall> &)> fn)
{
    auto call = std::make_shared<PendingCall>();
    if (QThread::currentThread() == thread()) {
        if (!m_closing)
            fn(call);
        return;
    }
    {
        std::lock_guard lock(m_callMutex);
        if (m_closing)
            return;
        m_pendingCalls.push_back(call);
    }
    PostToGui(this, [this, call, fn = std::move(fn)] {
        if (m_closing)
            call->Done();
        else
            fn(call);
    });
    call->Wait();
    std::lock_guard lock(m_callMutex);
    std::erase(m_pendingCalls, call);
}

void CTamblinDlg::SetItemText(int controlId, const QString &text)
{
    Post([this, controlId, text] {
        if (controlId == kIdStatusMain) {
            m_statusMain->setText(text);
        } else if (controlId == kIdStatusPicture) {
            m_statusPicture->setTextFormat(Qt::PlainText);
            m_statusPicture->setToolTip(QString());
            m_statusPicture->setText(text);
        } else if (controlId == kIdAlbumFrame) {
            m_albumFrame->setTitle(text);
        }
    });
}

void CTamblinDlg::ShowMessage(const QString &text)
{
    if (QThread::currentThread() == thread()) {
        if (!m_closing)
            ShowOkMessage(this, text);
        return;
    }
    // The box does not hold up the GUI thread; the worker waits for the
    // answer, or for the window to close.
    Call([this, text](const std::shared_ptr<PendingCall> &call) {
        auto *box = new QMessageBox(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text,
                                    QMessageBox::Ok, this);
        connect(box, &QDialog::finished, this, [call, box] {
            call->Done();
            box->deleteLater();
        });
        m_workerDialogs.removeIf([](const QPointer<QDialog> &open) { return open.isNull(); });
        m_workerDialogs.append(box);
        box->open();
    });
}

CDlgWebOpen *CTamblinDlg::OpenModalBrowser(const QString &startUrl, const std::shared_ptr<PendingCall> &call,
                                           const std::shared_ptr<bool> &shown)
{
    if (m_closing)
        return nullptr;
    CDlgWebOpen *login = CDlgWebOpen::OpenModal(startUrl);
    *shown = login->BrowserAvailable();
    connect(login, &QDialog::finished, this, [call] { call->Done(); });
    m_workerDialogs.removeIf([](const QPointer<QDialog> &open) { return open.isNull(); });
    m_workerDialogs.append(login);
    return login;
}

bool CTamblinDlg::OpenVerification(const QString &url)
{
    auto shown = std::make_shared<bool>(false);
    Call([this, url, shown](const std::shared_ptr<PendingCall> &call) {
        // On the wider of the two status lines, which a list run leaves
        // empty; what it said before comes back once the browser closes.
        const QString asking = QString::fromUtf16(texts::kWeiboVerifyStatus);
        const QString before = m_statusPicture->text();
        m_statusPicture->setText(asking);
        CDlgWebOpen *browser = OpenModalBrowser(url, call, shown);
        if (!browser)
            return;
        connect(browser, &QDialog::finished, this, [this, asking, before] {
            if (m_statusPicture->text() == asking)
                m_statusPicture->setText(before);
        });
    });
    return *shown;
}

bool CTamblinDlg::OpenLogin(const QString &startUrl)
{
    auto shown = std::make_shared<bool>(false);
    // Like a message box, the browser does not hold up the GUI thread: the
    // worker waits for it to close, or for the window to.
    Call([this, startUrl, shown](const std::shared_ptr<PendingCall> &call) {
        const auto openWindow = [this, startUrl, shown, call] { OpenModalBrowser(startUrl, call, shown); };
        // A Weibo login that has only run out is renewed as a browser renews
        // it, without a window; the window only when that fails.
        if (!endpoints::IsWeiboHost(startUrl) || !WeiboLoginRenewal::CanRenew()) {
            openWindow();
            return;
        }
        const QString status = m_statusMain->text();
        m_statusMain->setText(u"正在刷新微博登录..."_s);
        auto *renewal = new WeiboLoginRenewal(this);
        connect(renewal, &WeiboLoginRenewal::finished, this, [this, renewal, status, shown, call, openWindow](bool renewed) {
            renewal->deleteLater();
            if (m_statusMain->text() == u"正在刷新微博登录..."_s)
                m_statusMain->setText(status);
            if (!renewed)
                return openWindow();
            *shown = true;
            call->Done();
        });
        renewal->Start();
    });
    return *shown;
}

QList<int> CTamblinDlg::ChosenAlbums()
{
    auto chosen = std::make_shared<QList<int>>();
    Call([this, chosen](const std::shared_ptr<PendingCall> &call) {
        *chosen = m_retryAlbums ? *m_retryAlbums : GetChosenAlbums();
        m_runAlbums = *chosen;
        call->Done();
    });
    return *chosen;
}

QString CTamblinDlg::AddressText()
{
    std::lock_guard lock(m_textMutex);
    return m_addressText;
}

QString CTamblinDlg::SavePathText()
{
    std::lock_guard lock(m_textMutex);
    return m_savePathText;
}

void CTamblinDlg::AddHistoryItem(int which, const QString &text)
{
    Post([this, which, text] { (which == 0 ? m_addressBox : m_savePathBox)->AddItem(text); });
}

void CTamblinDlg::ClearHistoryItems(int which)
{
    Post([this, which] { (which == 0 ? m_addressBox : m_savePathBox)->ClearItems(); });
}

void CTamblinDlg::OpenFolder(const QString &path)
{
    Post([path] {
        if (!path.isEmpty())
            QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    });
}

void CTamblinDlg::AlbumAdded(int index)
{
    // The preview view fetches the cover here, on the list worker, and
    // fills the cell on the GUI thread. The view does not change while a
    // list run is busy.
    if (m_core.m_previewMode != 0) {
        AddAlbumToGrid(index);
        return;
    }
    // One request in flight: the GUI thread takes every album added by then.
    if (!m_rowsPosted.exchange(true))
        Post([this] { ShowNewRows(); });
}

// --- The control states of the two runs ---

void CTamblinDlg::SetListLinksEnabled(bool enabled)
{
    SetEnabled({m_filterLink, m_findLink}, enabled && m_core.m_previewMode == 0);
}

void CTamblinDlg::SetListBusyUi()
{
    Post([this] {
        m_getAlbumsButton->setText(Text(texts::kStopGettingButton));
        m_albumFrame->setTitle(Text(texts::kAlbumFrame));
        m_statusMain->setText(Text(texts::kListBusy));
        m_statusPicture->clear();
        SetEnabled({m_sourceBox, m_downloadButton, m_addressBox, m_previewBox, m_exportLink}, false);
        SetListLinksEnabled(false);
        m_selectAllBox->setChecked(false);
        m_banner->hide();
    });
}

void CTamblinDlg::SetListIdleUi()
{
    Post([this] {
        m_getAlbumsButton->setText(Text(texts::kGetAlbumsButton));
        SetEnabled({m_sourceBox, m_addressBox, m_previewBox, m_exportLink}, true);
        SetListLinksEnabled(true);
        m_downloadButton->setEnabled(m_core.m_albums.Size() > 0);
    });
}

void CTamblinDlg::SetDownBusyUi()
{
    Post([this] {
        m_downloadButton->setText(Text(texts::kStopDownloadButton));
        SetEnabled({m_sourceBox, m_getAlbumsButton, m_chooseFolderButton, m_addressBox, m_savePathBox}, false);
        // The run has cleared its count by now.
        UpdateRunProgress();
        m_runProgress->show();
        m_progressTimer.start();
    });
}

void CTamblinDlg::SetDownIdleUi()
{
    Post([this] {
        m_downloadButton->setText(Text(texts::kDownloadButton));
        m_statusMain->setText(Text(texts::kDownloadFinished));
        m_statusPicture->clear();
        SetEnabled({m_sourceBox, m_getAlbumsButton, m_chooseFolderButton, m_addressBox, m_savePathBox}, true);
        m_progressTimer.stop();
        UpdateRunProgress();
        // A run that never knew of a picture has no bar to show.
        if (m_runProgress->maximum() == 0)
            m_runProgress->hide();
    });
}

// --- The two run buttons ---

void CTamblinDlg::OnGetAlbums()
{
    // The other run's busy state may not have reached the buttons yet: the
    // two runs never overlap.
    if (m_closing || m_core.m_downState != 0)
        return;
    // Each run of the window may renew the Weibo session anew.
    if (m_core.m_listState == 0)
        m_core.m_sessionRenewals.Reset();
    PressGetAlbums(m_core, m_listWorker, [this] { ClearAlbums(); });
}

void CTamblinDlg::OnDownload()
{
    if (m_closing || m_core.m_listState != 0)
        return;
    StartDownload(m_windowSettings.Options(), std::nullopt);
}

void CTamblinDlg::StartDownload(const DownloadOptions &options, const std::optional<QList<int>> &albums)
{
    const bool starting = m_core.m_downState == 0;
    if (starting) {
        m_core.m_sessionRenewals.Reset();
        m_retryAlbums = albums;
        m_runSavePath = m_savePathBox->currentText();
        // The extension settings may have changed since the window started.
        ShowRangeLine();
    }
    std::optional<std::thread> run = PressDownloadButton(m_core, options, [this](const DownloadSummary &summary) {
        Post([this, summary] { ShowRunEnd(summary); });
    });
    if (!run) {
        if (starting)
            m_retryAlbums.reset();
        return;
    }
    // The run before has ended: a new one starts only from the idle state.
    if (m_downWorker.joinable())
        m_downWorker.join();
    m_downWorker = std::move(*run);
}

void CTamblinDlg::OnRetryFailed()
{
    if (m_closing || !m_lastRun.retryable || m_core.m_listState != 0 || m_core.m_downState != 0)
        return;
    // The failed.txt files are where the run put them.
    m_savePathBox->setEditText(m_lastRun.savePath);
    DownloadOptions options;
    options.retryFailed = true;
    StartDownload(options, m_lastRun.albums);
}

void CTamblinDlg::ShowRunEnd(const DownloadSummary &summary)
{
    m_retryAlbums.reset();
    if (!summary.started)
        return;
    m_lastRun = {m_runAlbums, m_runSavePath, RunLeftRetries(summary)};
    const QString text = RunSummaryText(summary);
    // The line may be too short for all of it.
    m_statusPicture->setToolTip(text);
    if (!m_lastRun.retryable) {
        m_statusPicture->setTextFormat(Qt::PlainText);
        m_statusPicture->setText(text);
        return;
    }
    m_statusPicture->setTextFormat(Qt::RichText);
    m_statusPicture->setText(u"%1&nbsp;&nbsp;<a href=\"#retry\">重试</a>"_s.arg(text.toHtmlEscaped()));
}

void CTamblinDlg::UpdateRunProgress()
{
    // The ended first: it never passes the handed out read after it.
    const std::uint32_t done = g_runJobsDone;
    const std::uint32_t total = g_runJobsTotal;
    // No picture known yet: the bar says the run is busy.
    m_runProgress->setMaximum(int(total));
    m_runProgress->setValue(int(std::min(done, total)));
    m_runProgress->setToolTip(total > 0 ? u"本次已下载%1/%2张图片"_s.arg(done).arg(total) : QString());
}

void CTamblinDlg::ShowRangeLine()
{
    // The window's range wins; without one, the extension settings' is in
    // force.
    const bool own = m_windowSettings.range.IsSet();
    const QString range =
        WindowSettings::RangeText(own ? m_windowSettings.range : TamblinCore::ExtensionRange(m_core.m_appDir));
    m_rangeLine->setText(range.isEmpty() ? QString() : u"日期范围：%1"_s.arg(range));
    m_rangeLine->setToolTip(range.isEmpty() ? QString()
                            : own       ? u"下载只保存这些日子（北京时间）发布的图片，见“下载参数设置”"_s
                                        : u"下载只保存这些日子（北京时间）发布的图片，见“下载器扩展设置.ini”"_s);
}

// --- The album grid ---

void CTamblinDlg::ResetAlbumGrid()
{
    m_selectAllBox->setChecked(false);
    AlbumGridLayout layout;
    layout.thumbnails = m_core.m_previewMode == 1;
    layout.columns = m_core.m_previewColumns;
    layout.thumbWidth = m_core.m_thumbWidth;
    tamblin::ResetAlbumGrid(*m_grid, layout);
}

void CTamblinDlg::ClearAlbums()
{
    // The albums of the last run are gone with the list: nothing to retry.
    m_lastRun = {};
    m_runProgress->hide();
    m_statusPicture->setTextFormat(Qt::PlainText);
    m_statusPicture->setToolTip(QString());
    // A rebuild still under way shows the albums of the list emptied.
    m_preview->Stop();
    ResetAlbumGrid();
    m_rowsShown = 0;
    m_thumbs.clear();
}

void CTamblinDlg::AddAlbumToGrid(int index)
{
    if (m_core.m_previewMode != 0) {
        m_preview->AddAlbumToGrid(index);
        return;
    }
    if (const ST_PERLISTRECORD *album = m_core.m_albums.At(index))
        AddAlbumRow(*m_grid, *album, m_core.m_filterText);
}

void CTamblinDlg::ShowNewRows()
{
    m_rowsPosted.exchange(false);
    QElapsedTimer spent;
    spent.start();
    const int total = m_core.m_albums.Size();
    while (m_rowsShown < total) {
        AddAlbumToGrid(m_rowsShown++);
        if ((m_rowsShown & 63) == 0 && spent.nsecsElapsed() >= kRowSliceNs)
            break;
    }
    if (m_rowsShown < total && !m_rowsPosted.exchange(true)) {
        QTimer::singleShot(0, this, [this] {
            if (!m_closing)
                ShowNewRows();
        });
    }
}

QList<int> CTamblinDlg::GetChosenAlbums() const
{
    const int total = m_core.m_albums.Size();
    if (m_core.m_previewMode != 0)
        return ChosenPreviewAlbums(*m_grid, total);
    QList<int> chosen;
    for (int row = m_grid->GetNextSelectedRow(-1); row != -1; row = m_grid->GetNextSelectedRow(row)) {
        const int index = m_grid->GetItemData(row, 0);
        if (index >= 0 && index < total)
            chosen.append(index);
    }
    return chosen;
}

void CTamblinDlg::OnSelectAll(bool checked)
{
    if (checked) {
        if (m_grid->IsSelectable())
            m_grid->SelectAllCells();
    } else {
        m_grid->ResetSelectedRange();
    }
}

void CTamblinDlg::OnFindLink()
{
    if (!m_findDlg)
        m_findDlg = new CDlgFind(this);
    m_findDlg->OpenFind(m_grid);
}

void CTamblinDlg::HideFindBox()
{
    // Closing it ends the grid's exclusive selection.
    if (m_findDlg && m_findDlg->isVisible())
        m_findDlg->reject();
}

void CTamblinDlg::OnFilterLink()
{
    HideFindBox();
    CDlgFind filter(this);
    filter.SetMode(CDlgFind::kModeFilter);
    if (filter.exec() != QDialog::Accepted || m_closing)
        return;
    // A switch back to the list view still adding rows gives way to the
    // filtered rows.
    m_preview->Stop();
    m_core.m_filterText = filter.Keyword();
    m_grid->SetRowCount(m_grid->GetFixedRowCount());
    m_preview->RebuildAlbumView();
    // Rows of a list run not shown yet are among them.
    m_rowsShown = m_core.m_albums.Size();
}

void CTamblinDlg::OnPreviewBox(bool checked)
{
    // A list run may have begun before its busy state greyed the box.
    if (m_closing || m_core.m_listState != 0 || m_preview->RefuseSwitchWhileBusy(this)) {
        m_previewBox->setChecked(!checked);
        return;
    }
    if (checked)
        HideFindBox();
    m_core.m_previewState = 1;
    m_core.m_previewMode = checked ? 1 : 0;
    SetListLinksEnabled(true);
    ResetAlbumGrid();
    // The rebuild shows every album, also rows of a list run not shown yet.
    m_rowsShown = m_core.m_albums.Size();
    m_preview->StartRebuild();
}

// --- Source selector and address recognition ---

void CTamblinDlg::RunSiteRecognition()
{
    const SiteRecognition found = RecognizeSite(m_addressBox->currentText(), m_sourceBox->currentIndex());
    if (!found.changed)
        return;
    m_sourceBox->setCurrentIndex(found.site);
    OnSourceSelected(found.site);
    if (found.subSource >= 0)
        m_subSourceBox->setCurrentIndex(found.subSource);
}

void CTamblinDlg::OnSourceSelected(int index)
{
    const SourceLayout layout = OnSourceChanged(m_core, index);
    QRect place = m_addressBox->geometry();
    if (!layout.showSubSource) {
        m_subSourceBox->hide();
        place.setLeft(m_addressLeftAlone);
    } else {
        m_subSourceBox->clear();
        m_subSourceBox->addItems(layout.subSourceEntries);
        m_subSourceBox->show();
        place.setLeft(m_addressLeftWithSubSource);
        m_subSourceBox->setCurrentIndex(layout.subSourceSelection);
    }
    m_addressBox->setGeometry(place);
}

// --- Closing ---

void CTamblinDlg::BeginClose()
{
    if (m_closing)
        return;
    {
        std::lock_guard lock(m_callMutex);
        m_closing = true;
        for (const auto &call : m_pendingCalls)
            call->Done();
    }
    for (const QPointer<QDialog> &dialog : std::as_const(m_workerDialogs)) {
        if (dialog)
            dialog->done(QDialog::Rejected);
    }
    m_workerDialogs.clear();
    if (m_loginDlg)
        m_loginDlg->close();
    // The store keeps the latest cookies also when the program ends without
    // destructors.
    FlushLoginCookies();

    std::uint8_t running = 1;
    m_core.m_listState.compare_exchange_strong(running, 2);
    // A stop asked before the close may have its picture workers in the
    // long grace already; they get it in full.
    if (m_core.m_downState == 3)
        m_closeBound += kStragglerGrace;
    if (m_core.m_downState != 0)
        RequestDownloadStop(m_core);
    // Its cover fetches give up; the list worker may be in one.
    m_preview->Close();
    SetStragglerGrace(kCloseGrace);
    m_closeClock.start();

    auto joinAll = [this] {
        for (std::thread *worker : {&m_startupWorker, &m_listWorker, &m_downWorker}) {
            if (worker->joinable())
                worker->join();
        }
        m_workersEnded = true;
    };
    try {
        m_joiner = std::thread(joinAll);
    } catch (const std::system_error &) {
        joinAll();
    }
}

bool CTamblinDlg::Shutdown()
{
    BeginClose();
    // Nothing the workers still do needs this thread, so it may block.
    while (!m_workersEnded && m_closeClock.elapsed() < m_closeBound.count())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!m_workersEnded)
        return false;
    if (m_joiner.joinable()) {
        m_joiner.join();
        SetStragglerGrace(kStragglerGrace);
    }
    return true;
}

void CTamblinDlg::closeEvent(QCloseEvent *event)
{
    if (m_closeFinished) {
        QMainWindow::closeEvent(event);
        return;
    }
    // The window goes at once; the workers are waited for in the background
    // of the event loop, which keeps serving them.
    event->ignore();
    if (m_closing)
        return;
    BeginClose();
    hide();
    m_closeTimer.start();
}

void CTamblinDlg::CheckClose()
{
    if (!m_workersEnded && m_closeClock.elapsed() < m_closeBound.count())
        return;
    m_closeTimer.stop();
    m_closeFinished = true;
    close();
    emit closed();
}

} // namespace tamblin
