// The main window's commands: the menu bar, the save folder (choose, open,
// drop) and the stored addresses.
#include "app/TamblinDlg.h"

#include "app/ComboBox2.h"
#include "app/StoredTexts.h"
#include "dialogs/AboutDlg.h"
#include "dialogs/DlgDownSet.h"
#include "dialogs/DlgSaveSet.h"
#include "download/WorkerPool.h"
#include "login/DlgWebOpen.h"
#include "sources/Endpoints.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QUrl>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace tamblin {

using namespace Qt::StringLiterals;
using endpoints::LoginSite;

namespace {

struct LoginEntry {
    int id;
    const char16_t *text;
    LoginSite site;
};

constexpr LoginEntry kLoginEntries[] = {
    {32781, u"QQ空间/QQ群", LoginSite::Qzone},
    {32782, u"腾讯微博（登录时勾上下次自动登录）", LoginSite::TencentWeibo},
    {32789, u"百度", LoginSite::Baidu},
    {32790, u"网易", LoginSite::NetEase},
    {32791, u"人人", LoginSite::Renren},
    {32792, u"又拍（下载器没弹窗提示你登录，就不要在这里登录）", LoginSite::Yupoo},
    {32793, u"美空", LoginSite::Moko},
    {32794, u"新浪微博（登录时勾上下次自动登录）", LoginSite::Weibo},
    {32803, u"淘宝（强烈建议用小号登录）", LoginSite::Taobao},
    {32813, u"56", LoginSite::Site56},
    {32815, u"虎扑", LoginSite::Hupu},
    {32795, u"自定义登录", LoginSite::Custom},
};

const LoginEntry *FindLoginEntry(int id)
{
    for (const LoginEntry &entry : kLoginEntries) {
        if (entry.id == id)
            return &entry;
    }
    return nullptr;
}

// An option bit of the current site's rules; `clears` is the bit of its
// pair that setting it clears; `onlySite` the site index it is enabled for
// (-1: every site).
struct OptionEntry {
    int id;
    const char16_t *text;
    std::uint16_t bit;
    std::uint16_t clears;
    int onlySite;
};

constexpr int kSiteYupoo = 7;
constexpr int kSiteTaobao = 11;

// In menu order.
constexpr OptionEntry kOptions[] = {
    {CTamblinDlg::kCmdListOnly, u"只生成迅雷下载列表", kListOnly, 0, -1},
    {CTamblinDlg::kCmdWriteTitles, u"生成图片原始名文件", kWriteTitles, 0, -1},
    {CTamblinDlg::kCmdFixOrder, u"修正图片顺序", kFixOrder, 0, -1},
    {CTamblinDlg::kCmdFixFormat, u"修正图片格式", kFixFormat, 0, -1},
    {CTamblinDlg::kCmdSkipDownloaded, u"不下载以前下载过的图片", kSkipDownloaded, 0, -1},
    {CTamblinDlg::kCmdOpenWhenDone, u"下载完成后打开保存路径", kOpenFolderWhenDone, 0, -1},
    {CTamblinDlg::kCmdShopMainPictures, u"只下载淘宝宝贝主图", kShopMainPicturesOnly, kShopDescriptionOnly,
     kSiteTaobao},
    {CTamblinDlg::kCmdShopDescription, u"只下载宝贝描述里的图片", kShopDescriptionOnly, kShopMainPicturesOnly,
     kSiteTaobao},
    {CTamblinDlg::kCmdLargePictures, u"又拍相册下载大图（不勾选为下载原图，下载原图速度更慢）", kLargePictures, 0,
     kSiteYupoo},
};

const OptionEntry *FindOption(int id)
{
    for (const OptionEntry &option : kOptions) {
        if (option.id == id)
            return &option;
    }
    return nullptr;
}

// The System menu's About item, as the window system numbers it.
[[maybe_unused]] constexpr unsigned kSysCommandAbout = 0x10;

// The folder a dropped path stands for, ending in the separator: an existing
// folder as it is, an existing file's folder, otherwise the path cut at its
// last separator when a dot follows it (a dropped file yields its folder).
QString DroppedFolder(const QString &path)
{
    const QFileInfo info(path);
    QString folder = path;
    if (info.isDir()) {
        folder = path;
    } else if (info.exists()) {
        folder = QDir::toNativeSeparators(info.absolutePath());
    } else {
        const qsizetype separator = path.lastIndexOf(QDir::separator());
        if (separator >= 0 && separator < path.lastIndexOf(u'.'))
            folder = path.left(separator);
    }
    if (!folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return folder;
}

QAction *AddCommand(QMenu *menu, int id, const QString &text)
{
    QAction *action = menu->addAction(text);
    action->setObjectName(QString::number(id));
    return action;
}

} // namespace

void CTamblinDlg::BuildMenu()
{
    QMenuBar *bar = menuBar();
    BuildLoginMenu(bar->addMenu(u"<登录>"_s));

    m_settingsMenu = bar->addMenu(u"<设置>"_s);
    for (int id : {kCmdDownSettings, kCmdNameSettings}) {
        QAction *action = AddCommand(m_settingsMenu, id, id == kCmdDownSettings ? u"下载参数设置"_s : u"文件名设置"_s);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    }
    m_settingsMenu->addSeparator();
    for (const OptionEntry &option : kOptions) {
        if (option.id == kCmdShopMainPictures || option.id == kCmdLargePictures)
            m_settingsMenu->addSeparator();
        QAction *action = AddCommand(m_settingsMenu, option.id, QString::fromUtf16(option.text));
        action->setCheckable(true);
        connect(action, &QAction::triggered, this, [this, id = option.id] { OnCommand(id); });
    }
    // The window's own options, kept in its settings file.
    m_settingsMenu->addSeparator();
    for (int id : {kCmdSavePosts, kCmdWithReposts}) {
        QAction *action = AddCommand(m_settingsMenu, id, id == kCmdSavePosts ? u"保存微博"_s : u"下载转发图片"_s);
        action->setCheckable(true);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    }
    connect(m_settingsMenu, &QMenu::aboutToShow, this, &CTamblinDlg::UpdateSettingsMenu);

    // Import and export are not part of the program: shown greyed.
    QMenu *transfer = bar->addMenu(u"<导入/导出>"_s);
    AddCommand(transfer, 32811, u"导入下载文件并开始下载"_s);
    AddCommand(transfer, 32809, u"导出下载文件"_s);
    AddCommand(transfer, 32810, u"导出迅雷下载列表"_s);
    transfer->menuAction()->setEnabled(false);

    QMenu *tools = bar->addMenu(u"<辅助功能>"_s);
    m_retryAction = AddCommand(tools, kCmdRetryFailed, u"重试失败的图片"_s);
    connect(m_retryAction, &QAction::triggered, this, [this] { OnCommand(kCmdRetryFailed); });
    connect(AddCommand(tools, kCmdTools, u"文件处理"_s), &QAction::triggered, this, [this] { OnCommand(kCmdTools); });
    connect(tools, &QMenu::aboutToShow, this, &CTamblinDlg::UpdateToolsMenu);
    UpdateToolsMenu();

    bar->addAction(QString(24, u' '))->setEnabled(false);

    QMenu *help = bar->addMenu(u"<帮助>"_s);
    const std::pair<int, QString> helpEntries[] = {
        {kCmdHelp, u"使用说明"_s}, {kCmdContact, u"软件咨询"_s}, {kCmdFeedback, u"问题反馈"_s}, {kCmdVersion, u"版本信息"_s}};
    for (const auto &[id, text] : helpEntries)
        connect(AddCommand(help, id, text), &QAction::triggered, this, [this, id] { OnCommand(id); });
}

void CTamblinDlg::BuildLoginMenu(QMenu *menu)
{
    for (const LoginEntry &entry : kLoginEntries) {
        if (entry.site == LoginSite::Custom)
            menu->addSeparator();
        QAction *action = AddCommand(menu, entry.id, QString::fromUtf16(entry.text));
        connect(action, &QAction::triggered, this, [this, id = entry.id] { OnCommand(id); });
    }
}

void CTamblinDlg::OpenLoginWindow(int id)
{
    const LoginEntry *entry = FindLoginEntry(id);
    if (!entry)
        return;
    // A QQ number in the address box opens that user's QQ Zone page.
    QString qqNumber;
    if (entry->site == LoginSite::Qzone && m_subSourceBox->currentIndex() == 0)
        qqNumber = m_addressBox->currentText().trimmed();
    CDlgWebOpen::OpenModeless(this, m_loginDlg, endpoints::LoginStartPage(entry->site, qqNumber));
}

SiteRules *CTamblinDlg::CurrentRules()
{
    const int site = m_core.m_listType;
    if (site < 0 || site >= kSiteSlots)
        return nullptr;
    return &m_core.m_settings.siteRules[std::size_t(site)];
}

void CTamblinDlg::UpdateSettingsMenu()
{
    const SiteRules *rules = CurrentRules();
    for (const OptionEntry &option : kOptions) {
        QAction *action = m_settingsMenu->findChild<QAction *>(QString::number(option.id));
        if (!action)
            continue;
        action->setChecked(rules && (rules->flags & option.bit));
        action->setEnabled(option.onlySite < 0 || m_core.m_listType == option.onlySite);
    }
    for (auto [id, on] : {std::pair{kCmdSavePosts, m_windowSettings.savePosts},
                          std::pair{kCmdWithReposts, m_windowSettings.withReposts}}) {
        if (QAction *action = m_settingsMenu->findChild<QAction *>(QString::number(id)))
            action->setChecked(on);
    }
}

void CTamblinDlg::UpdateToolsMenu()
{
    // The failures of the albums the last run downloaded, while no run is busy.
    m_retryAction->setEnabled(m_lastRun.retryable && m_core.m_listState == 0 && m_core.m_downState == 0);
}

void CTamblinDlg::ToggleWindowOption(int id)
{
    bool &option = id == kCmdSavePosts ? m_windowSettings.savePosts : m_windowSettings.withReposts;
    option = !option;
    m_windowSettings.Save(m_core.m_appDir);
    UpdateSettingsMenu();
}

void CTamblinDlg::ToggleOption(int id)
{
    const OptionEntry *option = FindOption(id);
    SiteRules *rules = CurrentRules();
    if (!option || !rules)
        return;
    {
        // A download reads the bits at each album.
        std::lock_guard lock(m_core.m_settingsMutex);
        rules->flags ^= option->bit;
        if (rules->flags & option->bit)
            rules->flags &= std::uint16_t(~option->clears);
    }
    m_core.SaveSettings();
    UpdateSettingsMenu();
}

void CTamblinDlg::OnCommand(int id)
{
    if (FindOption(id)) {
        ToggleOption(id);
        return;
    }
    if (FindLoginEntry(id)) {
        OpenLoginWindow(id);
        return;
    }
    if (id == kCmdSavePosts || id == kCmdWithReposts) {
        ToggleWindowOption(id);
        return;
    }
    const int site = m_core.m_listType;
    switch (id) {
    // The dialogs edit copies, stored when they close (what they stored
    // before a refused OK included): a run going on meanwhile reads the
    // settings. Saved on OK only.
    case kCmdDownSettings:
        if (site >= 0 && site < kSiteSlots) {
            DownParams &stored = m_core.m_settings.downParams[std::size_t(site)];
            DownParams params = stored;
            DateRange range = m_windowSettings.range;
            CDlgDownSet dialog(this, &params, &range);
            const bool accepted = dialog.exec() == QDialog::Accepted;
            {
                std::lock_guard lock(m_core.m_settingsMutex);
                stored = params;
            }
            if (accepted) {
                m_core.SaveSettings();
                // The range is the window's, in its own file.
                m_windowSettings.range = range;
                m_windowSettings.Save(m_core.m_appDir);
                ShowRangeLine();
            }
        }
        break;
    case kCmdNameSettings:
        if (SiteRules *stored = CurrentRules()) {
            SiteRules rules = *stored;
            CDlgSaveSet dialog(this, &rules);
            const bool accepted = dialog.exec() == QDialog::Accepted;
            {
                std::lock_guard lock(m_core.m_settingsMutex);
                *stored = rules;
            }
            if (accepted)
                m_core.SaveSettings();
        }
        break;
    case kCmdRetryFailed:
        OnRetryFailed();
        break;
    case kCmdTools:
        OpenAddress(StoredText(kTextToolsAddress));
        break;
    case kCmdHelp:
        OpenAddress(StoredText(kTextHelpAddress));
        break;
    case kCmdContact:
        OpenAddress(StoredText(kTextContactAddress));
        break;
    case kCmdFeedback:
        OpenAddress(StoredText(kTextFeedbackAddress));
        break;
    case kCmdVersion: {
        CAboutDlg about(this);
        about.exec();
        break;
    }
    default:
        break; // ids without a command do nothing
    }
}

void CTamblinDlg::OpenAddress(const QString &address)
{
    if (!address.isEmpty())
        QDesktopServices::openUrl(QUrl(address));
}

void CTamblinDlg::OnChooseFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(this, u"请选择文件保存目录："_s, m_savePathBox->currentText());
    if (!folder.isEmpty())
        TakeSaveFolder(QDir::toNativeSeparators(folder));
}

void CTamblinDlg::TakeSaveFolder(const QString &folder)
{
    QString path = folder;
    if (!path.endsWith(QDir::separator()))
        path += QDir::separator();
    m_savePathBox->setEditText(path);
    if (m_core.AddHistory(1, path)) {
        m_savePathBox->AddItem(path);
        m_core.SaveSettings();
    }
}

void CTamblinDlg::OnOpenFolder()
{
    // While pictures are downloaded, the album they go to.
    QString folder = PoolFolder();
    if (folder.isEmpty())
        folder = m_savePathBox->currentText();
    if (!folder.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void CTamblinDlg::dragEnterEvent(QDragEnterEvent *event)
{
    const QMimeData *data = event->mimeData();
    if (data->hasUrls() && !data->urls().isEmpty() && data->urls().constFirst().isLocalFile())
        event->acceptProposedAction();
}

void CTamblinDlg::dropEvent(QDropEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    // The save path stays as it is while a download uses it.
    if (urls.isEmpty() || !urls.constFirst().isLocalFile() || !m_savePathBox->isEnabled())
        return;
    const QString path = QDir::toNativeSeparators(urls.constFirst().toLocalFile());
    if (path.isEmpty())
        return;
    TakeSaveFolder(DroppedFolder(path));
    event->acceptProposedAction();
}

#ifdef Q_OS_WIN
void CTamblinDlg::AddSystemMenuAbout()
{
    const QString text = StoredText(kTextAboutMenu);
    HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE);
    if (text.isEmpty() || !menu)
        return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kSysCommandAbout, reinterpret_cast<LPCWSTR>(text.utf16()));
}

bool CTamblinDlg::nativeEvent(const QByteArray &eventType, void *message, qintptr *result)
{
    const MSG *msg = static_cast<const MSG *>(message);
    if (msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0) == kSysCommandAbout) {
        CAboutDlg about(this);
        about.exec();
        *result = 0;
        return true;
    }
    return QMainWindow::nativeEvent(eventType, message, result);
}
#else
void CTamblinDlg::AddSystemMenuAbout()
{
    // The window systems here have no system menu to extend; 版本信息 in the
    // help menu opens the same box.
}
#endif

} // namespace tamblin
