// The menu bar, the save folder commands, the links and the boxes of the
// main window.
#include "FakeService.h"
#include "WidgetTestHelpers.h"
#include "WindowTestSupport.h"

#include "app/ComboBox2.h"
#include "app/StoredTexts.h"
#include "app/WindowSettings.h"
#include "dialogs/DlgDownSet.h"
#include "dialogs/DlgFind.h"
#include "grid/MyGridCtrl.h"
#include "login/DlgWebOpen.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

using WindowCommands = WindowFixture;

QMenu *MenuNamed(QMainWindow *window, const QString &title)
{
    for (QAction *action : window->menuBar()->actions()) {
        if (action->text() == title)
            return action->menu();
    }
    return nullptr;
}

// Opens the pop-up from the menu bar and clicks `id` in it, as a user does.
void ChooseFromMenu(QMainWindow *window, QMenu *menu, int id)
{
    QMenuBar *bar = window->menuBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
    ASSERT_TRUE(QTest::qWaitFor([menu] { return menu->isVisible(); }, 5000));
    QAction *action = menu->findChild<QAction *>(QString::number(id));
    ASSERT_NE(action, nullptr) << id;
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    if (menu->isVisible())
        menu->hide(); // a click on a disabled entry leaves the pop-up open
}

// Receives the addresses the window opens instead of the desktop.
class OpenedUrls : public QObject {
    Q_OBJECT

public:
    OpenedUrls()
    {
        for (const QString &scheme : {u"https"_s, u"http"_s, u"file"_s})
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~OpenedUrls() override
    {
        for (const QString &scheme : {u"https"_s, u"http"_s, u"file"_s})
            QDesktopServices::unsetUrlHandler(scheme);
    }
    QStringList urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url.toString()); }
};

// Answers the next file dialog with `path` in its name box.
void AnswerFileDialog(const QString &path)
{
    WhenModalOpens<QFileDialog>([path](QFileDialog *dialog) {
        auto *edit = dialog->findChild<QLineEdit *>(u"fileNameEdit"_s);
        ASSERT_NE(edit, nullptr);
        // Typed text would race the box's completer over the folder's files.
        edit->setText(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

void Drop(QWidget *window, const QList<QUrl> &urls)
{
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = window->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &drop);
}

TEST_F(WindowCommands, OptionTogglesAreSavedAtOnceAndShowTheirCheckMarks)
{
    OpenWindow();
    QMenu *settings = MenuNamed(window.get(), u"<设置>"_s);
    ASSERT_NE(settings, nullptr);
    const std::pair<int, std::uint16_t> toggles[] = {{32802, 0x08}, {32804, 0x04}, {32799, 0x02},
                                                     {32800, 0x01}, {32774, 0x40}, {32812, 0x10}};
    for (const auto &[id, bit] : toggles) {
        QAction *action = settings->findChild<QAction *>(QString::number(id));
        for (bool on : {true, false}) {
            ChooseFromMenu(window.get(), settings, id);
            EXPECT_EQ(bool(SavedSettings().siteRules[4].flags & bit), on) << id;
            QTest::mouseClick(window->menuBar(), Qt::LeftButton, {},
                              window->menuBar()->actionGeometry(settings->menuAction()).center());
            ASSERT_TRUE(QTest::qWaitFor([settings] { return settings->isVisible(); }, 5000));
            EXPECT_EQ(action->isChecked(), on) << id;
            settings->hide();
        }
    }
    EXPECT_EQ(SavedSettings().siteRules[4].flags, 0);

    // Only sites the program does not serve use these: always greyed, and a
    // click on them changes nothing.
    for (int id : {32776, 32808, 32814}) {
        ChooseFromMenu(window.get(), settings, id);
        EXPECT_FALSE(settings->findChild<QAction *>(QString::number(id))->isEnabled()) << id;
    }
    EXPECT_EQ(SavedSettings().siteRules[4].flags, 0);
    // The Taobao pair: setting one clears the other.
    window->OnCommand(32814);
    EXPECT_EQ(SavedSettings().siteRules[4].flags, 0x100);
    window->OnCommand(32808);
    EXPECT_EQ(SavedSettings().siteRules[4].flags, 0x20);
    window->OnCommand(32814);
    EXPECT_EQ(SavedSettings().siteRules[4].flags, 0x100);
    window->OnCommand(32814);
    EXPECT_EQ(SavedSettings().siteRules[4].flags, 0);

    // Import/export and the spacer are greyed.
    EXPECT_FALSE(MenuNamed(window.get(), u"<导入/导出>"_s)->menuAction()->isEnabled());
    EXPECT_FALSE(window->menuBar()->actions().at(4)->isEnabled());
    EXPECT_TRUE(window->menuBar()->actions().at(4)->text().trimmed().isEmpty());
}

TEST_F(WindowCommands, LoginEntriesOpenTheLoginWindowAtTheirStartPageReplacingTheLastOne)
{
    OpenWindow();
    QMenu *login = MenuNamed(window.get(), u"<登录>"_s);
    ASSERT_NE(login, nullptr);
    auto *sourceBox = Find<QComboBox>(CTamblinDlg::kIdSourceBox);
    struct Case {
        int site;
        QString address;
        int id;
        QString startPage;
    };
    const Case cases[] = {
        {4, QString(), 32794, u"https://weibo.com/login.php"_s},
        // The QQ Zone page of the QQ number in the address box, only with
        // the QQ Zone sub-source.
        {0, u" 12345678 "_s, 32781, u"https://user.qzone.qq.com/12345678"_s},
        {0, u"12345678x"_s, 32781, u"https://user.qzone.qq.com/"_s},
        {4, QString(), 32795, u"https://www.sina.com.cn/"_s},
    };
    QPointer<CDlgWebOpen> last;
    for (const Case &c : cases) {
        sourceBox->setCurrentIndex(c.site);
        emit sourceBox->activated(c.site);
        TypeAddress(c.address);
        ChooseFromMenu(window.get(), login, c.id);
        const QList<CDlgWebOpen *> open = window->findChildren<CDlgWebOpen *>();
        ASSERT_EQ(open.size(), 1) << c.id;
        EXPECT_EQ(open[0]->StartPage(), c.startPage) << c.id;
        EXPECT_TRUE(open[0]->isVisible());
        EXPECT_FALSE(open[0]->isModal());
        EXPECT_TRUE(last.isNull());
        last = open[0];
    }
}

TEST_F(WindowCommands, FolderPickerAndDropsKeepTheSavePathHistory)
{
    OpenWindow();
    auto *box = Find<CComboBox2>(CTamblinDlg::kIdSavePathBox);
    const QString sep = QDir::separator();
    const QString picked = start.Path() + u"Pictures"_s;
    ASSERT_TRUE(QDir().mkpath(picked));
    AnswerFileDialog(picked);
    Click(CTamblinDlg::kIdChooseFolder);
    ASSERT_TRUE(WaitFor([&] { return box->currentText() == picked + sep; }, 5000)) << box->currentText().toStdString();
    EXPECT_EQ(SavedSettings().savePathHistory[0].Get(), picked + sep);

    // The same folder in other letters is shown, but the history keeps one.
    Drop(window.get(), {QUrl::fromLocalFile(start.Path() + u"PICTURES"_s)});
    EXPECT_EQ(box->currentText(), start.Path() + u"PICTURES"_s + sep);
    EXPECT_EQ(box->Items(), QStringList{picked + sep});

    const QString dotted = start.Path() + u"v1.2"_s;
    ASSERT_TRUE(QDir().mkpath(dotted));
    start.Write(u"v1.2/photo.jpg"_s, "x");
    const QString longPath = start.Path() + QString(400, u'a');
    const struct {
        QList<QUrl> urls;
        QString shown;
    } drops[] = {
        // An existing folder whose name has a dot keeps its last level.
        {{QUrl::fromLocalFile(dotted)}, dotted + sep},
        // A file gives its folder; the second file dropped is ignored.
        {{QUrl::fromLocalFile(dotted + sep + u"photo.jpg"_s), QUrl::fromLocalFile(picked)}, dotted + sep},
        // A path that does not exist: cut before its last dotted level.
        {{QUrl::fromLocalFile(start.Path() + u"gone/a.jpg"_s)}, start.Path() + u"gone"_s + sep},
        {{QUrl::fromLocalFile(start.Path() + u"gone/a\nb"_s)}, start.Path() + u"gone/a\nb"_s + sep},
        // Too long for the history: shown only.
        {{QUrl::fromLocalFile(longPath)}, longPath + sep},
        // Addresses are no folders.
        {{QUrl(u"https://weibo.com/u/1"_s)}, longPath + sep},
    };
    for (const auto &drop : drops) {
        Drop(window.get(), drop.urls);
        EXPECT_EQ(box->currentText(), drop.shown);
    }
    EXPECT_EQ(box->Items(), (QStringList{picked + sep, dotted + sep, start.Path() + u"gone"_s + sep,
                                          start.Path() + u"gone/a\nb"_s + sep}));
    const SoftSettings saved = SavedSettings();
    EXPECT_EQ(saved.savePathHistory[0].Get(), start.Path() + u"gone/a\nb"_s + sep);
    EXPECT_EQ(saved.savePathHistory[3].Get(), picked + sep);

    // The next start offers the history, newest save path first.
    window.reset();
    OpenWindow(false);
    box = Find<CComboBox2>(CTamblinDlg::kIdSavePathBox);
    EXPECT_EQ(box->currentText(), start.Path() + u"gone/a\nb"_s + sep);
    EXPECT_EQ(box->Items().size(), 4);
}

TEST_F(WindowCommands, AddressBoxSuggestsHistoryEntriesInLowerCase)
{
    WriteSettings([](SoftSettings &s) {
        s.addressHistory[0].Set(u"http://weibo.com/u/ABC1");
        s.addressHistory[1].Set(u"http://blog.sina.com.cn/s/articlelist_2_0_1.html");
        s.addressHistory[2].Set(u"http://photo.blog.sina.com.cn/u/abcorv?!oxffhidden");
    });
    OpenWindow();
    auto *box = Find<CComboBox2>(CTamblinDlg::kIdAddressBox);
    TypeAddress(u"aBc"_s);
    EXPECT_EQ(box->Suggestions(),
              (QStringList{u"http://weibo.com/u/abc1"_s, u"http://photo.blog.sina.com.cn/u/abc"_s}));
    EXPECT_TRUE(box->SuggestionsShown());
    EXPECT_EQ(box->currentText(), u"aBc"_s);
    TypeAddress(u"qq"_s);
    EXPECT_FALSE(box->SuggestionsShown());
    // Neither key ends the window, as they would end a dialog.
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    QTest::keyClick(box->lineEdit(), Qt::Key_Escape);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());

    // Typing an address moves the source selector to its site.
    auto *source = Find<QComboBox>(CTamblinDlg::kIdSourceBox);
    auto *subSource = Find<QComboBox>(CTamblinDlg::kIdSubSourceBox);
    EXPECT_EQ(source->count(), 16);
    EXPECT_EQ(source->currentText(), StoredText(kTextSourceNames + 4));
    TypeAddress(u"http://qun.qq.com/1"_s);
    EXPECT_EQ(source->currentIndex(), 0);
    EXPECT_TRUE(subSource->isVisible());
    EXPECT_EQ(subSource->currentIndex(), 1);
    EXPECT_GT(box->geometry().left(), subSource->geometry().right());
    TypeAddress(u"http://weibo.com/u/1"_s);
    EXPECT_EQ(source->currentIndex(), 4);
    EXPECT_FALSE(subSource->isVisible());
    EXPECT_EQ(box->geometry().left(), subSource->geometry().left());
}

TEST_F(WindowCommands, LinksSelectAllAndStoredAddresses)
{
    FakeService service(uR"j({"sina_photo_users": [{"uid": "7", "title": "相册", "albums": [
        {"name": "春天", "ctg_id": "1"}, {"name": "夏天", "ctg_id": "2"}, {"name": "春节", "ctg_id": "3"}]}]})j"_s.toUtf8());
    ASSERT_TRUE(service.IsRunning());
    OpenWindow();
    TypeAddress(u"http://photo.blog.sina.com.cn/u/7"_s);
    Click(CTamblinDlg::kIdGetAlbums);
    ASSERT_TRUE(WaitListIdle());
    ASSERT_EQ(Rows(), 3);

    auto *selectAll = Find<QCheckBox>(CTamblinDlg::kIdSelectAll);
    QTest::mouseClick(selectAll, Qt::LeftButton);
    EXPECT_EQ(window->GetChosenAlbums(), (QList<int>{0, 1, 2}));
    QTest::mouseClick(selectAll, Qt::LeftButton);
    EXPECT_TRUE(window->GetChosenAlbums().isEmpty());

    auto clickLink = [this](int id) {
        auto *link = Find<QLabel>(id);
        QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(link->sizeHint().width() / 2, link->height() / 2));
    };
    // Filter: only the names with the keyword, numbered without gaps.
    WhenModalOpens<CDlgFind>([](CDlgFind *filter) {
        TypeInto(filter->findChild<QLineEdit *>(QString::number(CDlgFind::kIdKeyword)), u"春"_s);
        QTest::mouseClick(filter->findChild<QAbstractButton *>(QString::number(CDlgFind::kIdNext)), Qt::LeftButton);
    });
    clickLink(CTamblinDlg::kIdFilterLink);
    EXPECT_EQ(Column(1), (QStringList{u"春天"_s, u"春节"_s}));
    EXPECT_EQ(Column(0), (QStringList{u"0001"_s, u"0002"_s}));
    ClickRow(2);
    EXPECT_EQ(window->GetChosenAlbums(), QList<int>{2});
    EXPECT_TRUE(window->Core().m_filterText.isEmpty());

    clickLink(CTamblinDlg::kIdFindLink);
    auto *find = window->findChild<CDlgFind *>();
    ASSERT_NE(find, nullptr);
    EXPECT_TRUE(find->isVisible());
    EXPECT_TRUE(window->Grid()->GetExclusiveSelection());
    find->reject();

    const QString csv = start.Path() + u"albums.csv"_s;
    AnswerFileDialog(csv);
    clickLink(CTamblinDlg::kIdExportLink);
    EXPECT_TRUE(QFile::exists(csv));

    OpenedUrls opened;
    clickLink(CTamblinDlg::kIdHomeLink);
    for (int id : {CTamblinDlg::kCmdHelp, CTamblinDlg::kCmdContact, CTamblinDlg::kCmdFeedback, CTamblinDlg::kCmdTools})
        window->findChild<QAction *>(QString::number(id))->trigger();
    Click(CTamblinDlg::kIdOpenFolder);
    EXPECT_EQ(opened.urls, (QStringList{StoredText(kTextHomeAddress), StoredText(kTextHelpAddress),
                                        StoredText(kTextContactAddress), StoredText(kTextFeedbackAddress),
                                        StoredText(kTextToolsAddress), QUrl::fromLocalFile(save).toString()}));
}

TEST_F(WindowCommands, TheDateRangeAndWeiboOptionsAreKeptInTheWindowsFileAndPassedToTheRun)
{
    // The window's range wins over the extension settings' one.
    start.Write(u"下载器扩展设置.ini"_s, "[下载]\r\n结束日期=2022-12-31\r\n");
    start.Write(u"窗口设置.ini"_s, "[下载]\r\n起始日期=2023-01-01\r\n");
    OpenWindow();
    EXPECT_EQ(LabelText(CTamblinDlg::kIdRangeLine), u"日期范围：2023-01-01 起"_s);
    WhenModalOpens<CDlgDownSet>([](CDlgDownSet *dialog) {
        test::Click(dialog->findChild<QAbstractButton *>(QString::number(CDlgDownSet::kIdUntilOn)));
        dialog->findChild<QDateEdit *>(QString::number(CDlgDownSet::kIdUntil))->setDate(QDate(2023, 1, 31));
        test::Click(dialog->findChild<QAbstractButton *>(QString::number(CDlgDownSet::kIdOk)));
    });
    window->OnCommand(CTamblinDlg::kCmdDownSettings);
    EXPECT_EQ(LabelText(CTamblinDlg::kIdRangeLine), u"日期范围：2023-01-01 至 2023-01-31"_s);
    EXPECT_TRUE(window->grab().save(QDir(TestOutputDir()).filePath(u"window-date-range.png"_s), "PNG"));
    ChooseFromMenu(window.get(), MenuNamed(window.get(), u"<设置>"_s), CTamblinDlg::kCmdWithReposts);
    const WindowSettings kept = WindowSettings::Load(start.Path());
    EXPECT_EQ(kept.range.until, QDate(2023, 1, 31));
    EXPECT_TRUE(kept.withReposts && !kept.savePosts);
    const DownloadOptions options = window->Settings().Options();
    EXPECT_EQ(options.range->until, QDate(2023, 1, 31));
    EXPECT_TRUE(options.withReposts && !options.savePosts);
    // soft.dat keeps its layout: the range is not in it.
    EXPECT_EQ(start.Read(u"soft.dat"_s).size(), kSoftSettingsSize);
}

TEST_F(WindowCommands, WithoutARangeOfItsOwnTheWindowShowsTheExtensionSettingsOne)
{
    start.Write(u"下载器扩展设置.ini"_s, "[下载]\r\n结束日期=2022-12-31\r\n");
    OpenWindow();
    EXPECT_EQ(LabelText(CTamblinDlg::kIdRangeLine), u"日期范围：至 2022-12-31"_s);
}

} // namespace
} // namespace tamblin::test

#include "WindowCommandsTest.moc"
