// The main window: the address and save-path boxes, the two run buttons, the
// album grid, the status lines and the menu bar.
//
// It owns the engine state (TamblinCore) and serves the workers as their
// WindowPort. Workers never touch a widget: every call is handed to the GUI
// thread, queued for texts and rows, waited for where the worker needs an
// answer (a message box waits until the user has closed it). Once the window
// closes, those calls return at once, so closing never waits for the GUI.
#pragma once

#include "app/StartFolder.h"
#include "app/TamblinCore.h"
#include "app/WindowPort.h"
#include "app/WindowSettings.h"

#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QPixmap>
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class CMyGridCtrl;
class QCheckBox;
class QComboBox;
class QDialog;
class QGroupBox;
class QLabel;
class QAction;
class QMenu;
class QProgressBar;
class QPushButton;

namespace tamblin {

class AlbumPreview;
class CComboBox2;
class CDlgFind;
class CDlgWebOpen;
class CSplashScreenEx;

class CTamblinDlg : public QMainWindow, public WindowPort {
    Q_OBJECT

public:
    // Controls of the window besides the status lines and the grid frame
    // (ControlId); each carries its number as object name.
    enum DlgControl : int {
        kIdSavePathBox = 1000,
        kIdAddressBox = 1001,
        kIdSourceBox = 1002,
        kIdGrid = 1003,
        kIdGetAlbums = 1004,
        kIdDownload = 1005,
        kIdChooseFolder = 1007,
        kIdOpenFolder = 1008,
        kIdSelectAll = 1012,
        kIdBanner = 1013,
        kIdPreview = 1014,
        kIdHomeLink = 1032,
        kIdFindLink = 1034,
        kIdSubSourceBox = 1035,
        kIdFilterLink = 1036,
        kIdExportLink = 1037,
        kIdRunProgress = 1038, // pictures done of those known, over the run
        kIdRangeLine = 1039,   // the date range of the window's downloads
    };

    // Commands of the menu bar; each action carries its number as object name.
    enum Command : int {
        kCmdFeedback = 32772,
        kCmdContact = 32773,
        kCmdSkipDownloaded = 32774,
        kCmdVersion = 32775,
        kCmdLargePictures = 32776,
        kCmdDownSettings = 32778,
        kCmdNameSettings = 32779,
        kCmdFixOrder = 32799,
        kCmdFixFormat = 32800,
        kCmdListOnly = 32802,
        kCmdWriteTitles = 32804,
        kCmdHelp = 32806,
        kCmdTools = 32807,
        kCmdShopMainPictures = 32808,
        kCmdOpenWhenDone = 32812,
        kCmdShopDescription = 32814,
        kCmdSavePosts = 32816,
        kCmdWithReposts = 32817,
        kCmdRetryFailed = 32818,
    };

    static constexpr char16_t kTitle[] = u"Vantor新浪Morvane";
    // How long a closing window waits for its workers before the program
    // gives up on them; the picture workers of a stopped pool get kCloseGrace
    // of it before their pictures are given up.
    static constexpr std::chrono::milliseconds kCloseBound{10000};
    static constexpr std::chrono::milliseconds kCloseGrace{1000};

    // Lays the window out, reads the clipboard into the address box and
    // loads the settings from `folders.appDir`. The window stays hidden until
    // Start() has run its course.
    explicit CTamblinDlg(const StartFolders &folders = StartFolder(), QWidget *parent = nullptr);
    ~CTamblinDlg() override;

    // Shows the splash and starts the start-up worker; when it reports, the
    // splash goes and the window shows itself, ready for a list run.
    void Start();

    // Asks every worker to stop, answers what they wait for, and waits for
    // them until kCloseBound has passed since the close began; true when all
    // have ended. The window must not be destroyed while this is false (the
    // program then ends without destructors).
    bool Shutdown();

    const TamblinCore &Core() const { return m_core; }
    const WindowSettings &Settings() const { return m_windowSettings; }
    CMyGridCtrl *Grid() const { return m_grid; }

    // The menu's command handler (the greyed entries cannot be chosen, so
    // their rules are reached only here).
    void OnCommand(int id);

    // The albums chosen for download, as album indices: the selected rows
    // top to bottom, or in the preview view the selected cells in reading
    // order.
    QList<int> GetChosenAlbums() const;

    // WindowPort, called by the workers from any thread.
    void SetItemText(int controlId, const QString &text) override;
    void ShowMessage(const QString &text) override;
    void AlbumAdded(int index) override;
    QList<int> ChosenAlbums() override;
    void SetListBusyUi() override;
    void SetListIdleUi() override;
    void SetDownBusyUi() override;
    void SetDownIdleUi() override;
    QString AddressText() override;
    QString SavePathText() override;
    void AddHistoryItem(int which, const QString &text) override;
    void ClearHistoryItems(int which) override;
    void OpenFolder(const QString &path) override;
    // The login browser, modal, until the user closes it or the window
    // closes. A Weibo login the browser profile can renew is first renewed
    // in a hidden page; the window shows only when that fails.
    bool OpenLogin(const QString &startUrl) override;
    // The login browser at a page where Weibo wants the person to verify,
    // modal, the main status line saying so; the worker goes on once the
    // user has closed it (or the window closes).
    bool OpenVerification(const QString &url) override;

Q_SIGNALS:
    // The window has closed and its workers have ended or been given up.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;
#endif

private:
    struct PendingCall;

    void BuildControls();
    void BuildMenu();
    void BuildLoginMenu(QMenu *menu);
    // A login entry: the login browser at the start page of its site,
    // replacing an earlier one.
    void OpenLoginWindow(int id);
    void UpdateSettingsMenu();
    void AddSystemMenuAbout();

    // Runs `fn` on the GUI thread, queued; nothing once the window closes.
    void Post(std::function<void()> fn);
    // Runs `fn` on the GUI thread and waits until it calls Done on the call
    // it gets; returns at once once the window closes.
    void Call(std::function<void(const std::shared_ptr<PendingCall> &)> fn);
    void BeginClose();
    // On the GUI thread: the login browser at `startUrl`, modal; `call` is
    // done once it has closed. `shown` tells whether a browser could run.
    // Null once the window closes.
    CDlgWebOpen *OpenModalBrowser(const QString &startUrl, const std::shared_ptr<PendingCall> &call,
                          const std::shared_ptr<bool> &shown);
    void CheckClose();

    void OnStartupDone(const QStringList &siteNames);
    void RunSiteRecognition();
    void OnSourceSelected(int index);
    void OnGetAlbums();
    void OnDownload();
    // Starts a download run with `options` (or asks a busy one to stop);
    // `albums`, when given, stand for the grid's choice.
    void StartDownload(const DownloadOptions &options, const std::optional<QList<int>> &albums);
    // The failed pictures of the albums the last run downloaded, again.
    void OnRetryFailed();
    // On the GUI thread once a run has ended: its summary beside 下载完毕,
    // with the retry as a link when it left failures.
    void ShowRunEnd(const DownloadSummary &summary);
    void UpdateRunProgress();
    void ShowRangeLine();
    void ToggleWindowOption(int id);
    void UpdateToolsMenu();
    void OnChooseFolder();
    void OnOpenFolder();
    void OnSelectAll(bool checked);
    void OnFindLink();
    void OnFilterLink();
    void HideFindBox();
    void OnPreviewBox(bool checked);
    void ToggleOption(int id);
    static void OpenAddress(const QString &address);
    // Puts a folder into the save-path box and keeps it in the history.
    void TakeSaveFolder(const QString &folder);

    void ClearAlbums();
    void ResetAlbumGrid();
    void AddAlbumToGrid(int index);
    void ShowNewRows();
    // The filter and find links are of the list view.
    void SetListLinksEnabled(bool enabled);
    SiteRules *CurrentRules();

    TamblinCore m_core;
    QList<QPixmap> m_thumbs;
    // Uses the two above: made after them, gone before them.
    std::unique_ptr<AlbumPreview> m_preview;

    QWidget *m_client = nullptr;
    CMyGridCtrl *m_grid = nullptr;
    CComboBox2 *m_addressBox = nullptr;
    CComboBox2 *m_savePathBox = nullptr;
    QComboBox *m_sourceBox = nullptr;
    QComboBox *m_subSourceBox = nullptr;
    QLabel *m_statusMain = nullptr;
    QLabel *m_statusPicture = nullptr;
    QLabel *m_banner = nullptr;
    QPushButton *m_getAlbumsButton = nullptr;
    QPushButton *m_downloadButton = nullptr;
    QPushButton *m_chooseFolderButton = nullptr;
    QPushButton *m_openFolderButton = nullptr;
    QGroupBox *m_albumFrame = nullptr;
    QLabel *m_exportLink = nullptr;
    QLabel *m_filterLink = nullptr;
    QLabel *m_findLink = nullptr;
    QLabel *m_homeLink = nullptr;
    QCheckBox *m_previewBox = nullptr;
    QCheckBox *m_selectAllBox = nullptr;
    QProgressBar *m_runProgress = nullptr;
    QLabel *m_rangeLine = nullptr;
    QMenu *m_settingsMenu = nullptr;
    QAction *m_retryAction = nullptr;
    QPointer<CDlgFind> m_findDlg;
    QPointer<CDlgWebOpen> m_loginDlg;
    QPointer<CSplashScreenEx> m_splash;
    // Left edges of the address box beside the sub-source box and without it.
    int m_addressLeftWithSubSource = 0;
    int m_addressLeftAlone = 0;

    WindowSettings m_windowSettings;
    // Reads the run's count while a download runs.
    QTimer m_progressTimer;
    // The albums a retry downloads in place of the grid's choice; the albums
    // and the save path of the run going on, and of the last one that ended
    // (whose failures the retry fetches). GUI thread only.
    std::optional<QList<int>> m_retryAlbums;
    QList<int> m_runAlbums;
    QString m_runSavePath;
    struct LastRun {
        QList<int> albums;
        QString savePath;
        bool retryable = false;
    } m_lastRun;

    // Copies of the two boxes' texts for the workers.
    mutable std::mutex m_textMutex;
    QString m_addressText;
    QString m_savePathText;

    // Album rows are shown in slices, so that a list of tens of thousands of
    // albums never holds up the window.
    int m_rowsShown = 0;
    std::atomic<bool> m_rowsPosted{false};

    std::thread m_startupWorker;
    std::thread m_listWorker;
    std::thread m_downWorker;

    std::atomic<bool> m_closing{false};
    std::mutex m_callMutex;
    std::vector<std::shared_ptr<PendingCall>> m_pendingCalls;
    // Message boxes and login windows a worker waits on.
    QList<QPointer<QDialog>> m_workerDialogs;
    std::thread m_joiner;
    std::atomic<bool> m_workersEnded{false};
    std::chrono::milliseconds m_closeBound = kCloseBound;
    QElapsedTimer m_closeClock;
    QTimer m_closeTimer;
    bool m_closeFinished = false;
};

} // namespace tamblin
