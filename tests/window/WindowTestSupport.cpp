#include "WindowTestSupport.h"

#include "WidgetTestHelpers.h"

#include "app/ComboBox2.h"
#include "download/WorkerPool.h"
#include "grid/MyGridCtrl.h"
#include "net/CookieStore.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace tamblin::test {

void WindowFixture::SetUp()
{
    save = start.Path() + u"save"_s + QDir::separator();
    ASSERT_TRUE(QDir().mkpath(save));
    CookieStore::Instance().SetFilePath(QString());
    CookieStore::Instance().Clear();
}

void WindowFixture::TearDown()
{
    window.reset();
}

void WindowFixture::WriteSettings(const std::function<void(SoftSettings &)> &change) const
{
    SoftSettings settings;
    for (DownParams &params : settings.downParams)
        params = {0, 0, 5, 30};
    change(settings);
    start.Write(u"soft.dat"_s, settings.ToBytes());
}

SoftSettings WindowFixture::SavedSettings() const
{
    return SoftSettings::FromBytes(start.Read(u"soft.dat"_s));
}

void WindowFixture::OpenWindow(bool startUp)
{
    window = std::make_unique<CTamblinDlg>(StartFolders{start.Path(), save});
    if (!startUp)
        return;
    window->Start();
    ASSERT_TRUE(WaitFor([this] { return window->Core().m_ready == 1 && window->isVisible(); }, 10000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
}

QString WindowFixture::LabelText(int id) const
{
    const QLabel *label = Find<QLabel>(id);
    return label ? label->text() : QString();
}

void WindowFixture::Click(int id)
{
    QPushButton *button = Button(id);
    ASSERT_NE(button, nullptr) << id;
    QTest::mouseClick(button, Qt::LeftButton);
}

void WindowFixture::TypeAddress(const QString &text)
{
    TypeInto(Find<CComboBox2>(CTamblinDlg::kIdAddressBox)->lineEdit(), text);
}

void WindowFixture::TypeSavePath(const QString &text)
{
    TypeInto(Find<CComboBox2>(CTamblinDlg::kIdSavePathBox)->lineEdit(), text);
}

void WindowFixture::ClickRow(int row, Qt::KeyboardModifiers mods)
{
    CMyGridCtrl *grid = window->Grid();
    grid->EnsureVisible(row, 1);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, mods, grid->GetCellRect(row, 1).center());
}

bool WindowFixture::WaitListIdle(int ms) const
{
    // The worker is idle before the window has caught up with what it
    // posted; its last texts tell that the window has.
    return WaitFor(
        [this] {
            const QString status = LabelText(kIdStatusMain);
            return window->Core().m_listState == 0
                && (status.startsWith(u"获取相册列表完成"_s) || status == u"没有获取到相册"_s)
                && Button(CTamblinDlg::kIdGetAlbums)->text() == u"获取相册"_s;
        },
        ms);
}

bool WindowFixture::WaitDownIdle(int ms) const
{
    return WaitFor(
        [this] {
            return window->Core().m_downState == 0 && LabelText(kIdStatusMain) == u"下载完毕"_s
                && Button(CTamblinDlg::kIdDownload)->text() == u"下载"_s;
        },
        ms);
}

int WindowFixture::Rows() const
{
    return window->Grid()->GetRowCount() - window->Grid()->GetFixedRowCount();
}

QStringList WindowFixture::Column(int col) const
{
    QStringList texts;
    const CMyGridCtrl *grid = window->Grid();
    for (int row = grid->GetFixedRowCount(); row < grid->GetRowCount(); ++row)
        texts.append(grid->GetItemText(row, col));
    return texts;
}

bool WindowFixture::WaitFor(const std::function<bool()> &condition, int ms)
{
    return QTest::qWaitFor(condition, ms);
}

void WhenModalOpens(const char *type, const std::function<bool(QWidget *)> &isIt, std::function<void(QWidget *)> answer)
{
    auto *timer = new QTimer;
    auto *clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget *modal = QApplication::activeModalWidget();
        const bool found = modal && modal->isVisible() && isIt(modal);
        if (!found && clock->elapsed() < 20000)
            return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (found)
            answer(modal);
        else
            ADD_FAILURE() << "no " << type << " opened";
    });
    timer->start(10);
}

QList<std::pair<QString, QByteArray>> FilesWithContents(const QString &folder)
{
    QList<std::pair<QString, QByteArray>> files;
    for (const QString &name : FilesIn(folder)) {
        QFile file(QDir(folder).filePath(name));
        files.append({name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)")});
    }
    return files;
}

QStringList FilesIn(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

} // namespace tamblin::test
