// tamblin-cli list, run as a program in a temporary start folder, through
// http_proxy against the fake service.
#include "FakeService.h"
#include "TestSupport.h"

#include "app/SoftSettings.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace tamblin::test {
namespace {

struct CliResult {
    int exitCode = -1;
    QString out;
    QStringList errLines;
};

CliResult RunCli(const QStringList &args, const QString &startFolder)
{
    QProcess cli;
    cli.setWorkingDirectory(startFolder);
    // The cookie store of the run lives in the start folder, not in the
    // user's data folder.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TAMBLIN_COOKIE_FILE"_s, startFolder + u"cookie-store.txt"_s);
    // No pacing between the Weibo requests, no pause before a second try.
    env.insert(u"TAMBLIN_WAIT_SCALE"_s, u"0"_s);
    cli.setProcessEnvironment(env);
    cli.start(QString::fromUtf8(TAMBLIN_CLI_PATH), args);
    CliResult result;
    if (!cli.waitForFinished(120000) || cli.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = cli.exitCode();
    result.out = QString::fromUtf8(cli.readAllStandardOutput());
    result.errLines = QString::fromUtf8(cli.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
    return result;
}

const QByteArray kData = R"j({
  "login_cookie": "SUB=cli-login",
  "sina_photo_users": [{"uid": "1234567890", "title": "小明的相册", "albums": [
    {"name": "西湖", "ctg_id": "1", "pic_cnt": 24},
    {"name": "西湖", "ctg_id": "2", "pic_cnt": 3},
    {"name": "猫咪 & 狗狗", "ctg_id": "3", "pic_cnt": 1234}
  ]}],
  "sina_blogs": [{"uid": "1111", "title": "小明的博客", "per_page": 1, "articles": [
    {"id": "a1", "title": "周末去爬山"}, {"id": "a2", "title": "夜景"}]}],
  "weibo_users": [{"uid": "2000000001", "nickname": "旅行的小鹿", "albums": [
    {"album_id": "3550001", "type": 3, "caption": "微博配图", "cover_pic": "http://ww1.sinaimg.cn/a1.jpg", "photos": 120}]},
    {"uid": "2000000005", "nickname": "访客", "guest": true, "image_wall": {"pictures": ["006AbCdEfxly1h0000000000alb01"]}},
    {"uid": "2000000006", "nickname": "验证", "needs_login": false, "album_service": "empty", "verify": "ok_minus_100",
     "verify_url": "https://security.weibo.com/captcha/verify?r=\u001b[2J", "image_wall": {"pictures": ["006AbCdEfxly1h0000000000alb01"]}},
    {"uid": "2000000007", "nickname": "验证", "needs_login": false, "album_service": "empty", "verify": "redirect", "verify_after": 2,
     "image_wall": {"per_page": 1, "generate": 2}}],
  "faults": [{"match": "http://photo.blog.sina.com.cn/u/999", "close": true},
             {"match": "https://weibo.com/ajax/profile/getImageWall?uid=2000000005", "status": 404, "body": "<html>404</html>"}]
})j";

TEST(Cli, ListPrintsTheGridColumnsAndKeepsTheAddressInTheStartFolder)
{
    FakeService service(kData);
    ASSERT_TRUE(service.IsRunning());
    TempDir start;
    const CliResult result = RunCli({u"list"_s, u"http://photo.blog.sina.com.cn/u/1234567890"_s}, start.Path());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, u"0001\t西湖\t  24\t\n0002\t西湖 (1)\t   3\t\n0003\t猫咪 & 狗狗\t1234\t\n"_s);
    EXPECT_TRUE(result.errLines.contains(u"正在获取相册列表，请稍等..."_s)) << result.errLines.join(u'|').toStdString();
    EXPECT_TRUE(result.errLines.contains(u"获取相册列表完成，共3个"_s));
    const SoftSettings saved = SoftSettings::FromBytes(start.Read(u"soft.dat"_s));
    EXPECT_EQ(saved.addressHistory[0].Get(), u"http://photo.blog.sina.com.cn/u/1234567890"_s);
}

TEST(Cli, JsonOutputCarriesTheRecordsAndTheNormalisedFolders)
{
    FakeService service(kData);
    ASSERT_TRUE(service.IsRunning());
    TempDir start;
    const CliResult result = RunCli({u"list"_s, u"--json"_s, u"http://blog.sina.com.cn/s/articlelist_1111_0_1.html"_s},
                                    start.Path());
    EXPECT_EQ(result.exitCode, 0);
    const QJsonObject json = QJsonDocument::fromJson(result.out.toUtf8()).object();
    EXPECT_EQ(json.value(u"subMode"_s).toInt(-9), 1);
    EXPECT_EQ(json.value(u"userFolder"_s).toString(), u"小明的博客"_s + QDir::separator());
    EXPECT_EQ(json.value(u"subFolder"_s).toString(u"missing"_s), QString());
    EXPECT_TRUE(json.contains(u"ownerUid"_s));
    const QJsonArray albums = json.value(u"albums"_s).toArray();
    ASSERT_EQ(albums.size(), 2);
    const QJsonObject second = albums.at(1).toObject();
    EXPECT_EQ(second.value(u"index"_s).toInt(), 1);
    EXPECT_EQ(second.value(u"name"_s).toString(), u"夜景"_s);
    EXPECT_EQ(second.value(u"albumUrl"_s).toString(), u"http://blog.sina.com.cn/s/blog_a2.html"_s);
    EXPECT_EQ(second.value(u"coverUrl"_s).toString(u"missing"_s), QString());
    EXPECT_EQ(second.value(u"count"_s).toInt(), -1);
    EXPECT_EQ(second.value(u"flags"_s).toInt(-9), 0);
}

TEST(Cli, SeveralUsersGiveOneBlockOrOneJsonLineEach)
{
    FakeService service(kData);
    ASSERT_TRUE(service.IsRunning());
    TempDir start;
    const QStringList users{u"http://photo.blog.sina.com.cn/u/1234567890"_s,
                            u"http://blog.sina.com.cn/s/articlelist_1111_0_1.html"_s};
    const CliResult text = RunCli(QStringList{u"list"_s} + users, start.Path());
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_EQ(text.out, u"# %1\n0001\t西湖\t  24\t\n0002\t西湖 (1)\t   3\t\n0003\t猫咪 & 狗狗\t1234\t\n"
                        "# %2\n0001\t周末去爬山\t未知\t\n0002\t夜景\t未知\t\n"_s.arg(users[0], users[1]));

    // A user without albums makes the run's status 1, after the others.
    const CliResult json = RunCli({u"list"_s, u"--json"_s, u"http://photo.blog.sina.com.cn/u/404"_s, users[1]},
                                  start.Path());
    EXPECT_EQ(json.exitCode, 1);
    const QStringList lines = json.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << json.out.toStdString();
    QStringList urls;
    for (const QString &line : lines)
        urls.append(QJsonDocument::fromJson(line.toUtf8()).object().value(u"url"_s).toString());
    EXPECT_EQ(urls, (QStringList{u"http://photo.blog.sina.com.cn/u/404"_s, users[1]}));
    EXPECT_EQ(QJsonDocument::fromJson(lines[1].toUtf8()).object().value(u"albums"_s).toArray().size(), 2);
}

TEST(Cli, NothingFoundSaysWhyInTermsOfTheCommandLine)
{
    FakeService service(kData);
    ASSERT_TRUE(service.IsRunning());
    TempDir start;
    struct Case {
        QString url;
        int exit;
        QString said; // part of a line on standard error
    };
    const QList<Case> cases{
        // Without the login cookie the Weibo page is a login page.
        {u"http://weibo.com/u/2000000001"_s, 1, u"--cookies FILE"_s},
        {u"http://photo.blog.sina.com.cn/u/999"_s, 1, u"could not reach photo.blog.sina.com.cn"_s},
        {u"http://photo.blog.sina.com.cn/u/404"_s, 1, u"No album found at this address."_s},
        {u"https://weibo.com/"_s, 1, u"无法从地址中识别微博用户: the address names no Weibo user"_s},
        // A guest whose wall answers 404: the cause, and how to bring a login.
        {u"https://weibo.com/u/2000000005"_s, 1,
         u"No Weibo album found: 微博返回错误：not JSON（HTTP 404）. A Weibo login may show them: log in with a browser, "
         u"export its cookies as a cookies.txt file and pass it with --cookies FILE."_s},
        // The scheme is checked in any case.
        {u"HTTP://photo.blog.sina.com.cn/u/1234567890"_s, 0, u"获取相册列表完成，共3个"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        const CliResult result = RunCli({u"list"_s, c.url}, start.Path());
        EXPECT_EQ(result.exitCode, c.exit);
        const QString err = result.errLines.join(u'\n');
        EXPECT_TRUE(err.contains(c.said)) << err.toStdString();
        // The window's login hint is no advice for a terminal.
        EXPECT_FALSE(err.contains(u"登录菜单"_s));
        // Nothing found is not reported as a list done.
        EXPECT_FALSE(result.errLines.contains(u"获取相册列表完成，共0个"_s)) << err.toStdString();
        EXPECT_EQ(result.errLines.contains(u"没有获取到相册"_s), c.exit == 1);
    }
    // The Weibo web client's endpoints say a login is needed: one line says
    // how to bring one.
    const CliResult weibo = RunCli({u"list"_s, u"http://weibo.com/u/2000000001"_s}, start.Path());
    EXPECT_EQ(weibo.errLines.filter(u"needs a Weibo login"_s).size(), 1);
}

TEST(Cli, AVerificationIsLeftToThePersonWithItsAddressShownSafely)
{
    FakeService service(kData);
    ASSERT_TRUE(service.IsRunning());
    TempDir start;
    // Met while listing: the address, its control characters escaped, and
    // how to pass the verification; the list finds nothing.
    const QString page = u"https://security.weibo.com/captcha/verify?r=\\x1b[2J"_s;
    const CliResult list = RunCli({u"list"_s, u"https://weibo.com/u/2000000006"_s}, start.Path());
    EXPECT_EQ(list.exitCode, 1);
    const QString err = list.errLines.join(u'\n');
    EXPECT_FALSE(err.contains(QChar(0x1b)));
    EXPECT_EQ(list.errLines.filter(page).size(), 2) << err.toStdString();
    EXPECT_TRUE(list.errLines.filter(page).first().contains(u"--cookies FILE"_s)) << err.toStdString();
    EXPECT_TRUE(err.contains(u"No album found: 微博要求验证："_s + page)) << err.toStdString();

    // Passed in a browser whose cookies come along: the list goes on.
    start.Write(u"cookies.txt"_s, ".weibo.com\tTRUE\t/\tFALSE\t0\tVF\tpassed\n");
    const CliResult verified =
        RunCli({u"list"_s, u"--cookies"_s, start.File(u"cookies.txt"_s), u"https://weibo.com/u/2000000006"_s}, start.Path());
    EXPECT_EQ(verified.exitCode, 0) << verified.errLines.join(u'|').toStdString();

    // Met while downloading: the album is not fully read.
    TempDir other;
    const CliResult download = RunCli({u"download"_s, u"https://weibo.com/u/2000000007"_s, u"--save"_s, other.Path()},
                                      other.Path());
    EXPECT_EQ(download.exitCode, 3);
    EXPECT_TRUE(download.errLines.join(u'\n').contains(u"微博要求验证：https://security.weibo.com/captcha/verify"_s))
        << download.errLines.join(u'\n').toStdString();
}

TEST(Cli, CookiesFileLogsTheWeiboRequestsIn)
{
    FakeService service(kData);
    ASSERT_TRUE(service.IsRunning());
    TempDir start;
    // The store's file (TAMBLIN_COOKIE_FILE) is in a folder the program did
    // not make, readable by others: the file is private, the folder keeps
    // its mode.
    const auto mode = [](const QString &path) {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0u;
    };
    ASSERT_EQ(::chmod(QFile::encodeName(start.Path()).constData(), 0755), 0);
    // A byte-order mark before the first line, a comment after blanks.
    start.Write(u"cookies.txt"_s, "\xEF\xBB\xBF.weibo.com\tTRUE\t/\tFALSE\t0\tSUB\tcli-login\n"
                                  "  #sina.com.cn\tTRUE\t/\tFALSE\t0\tOTHER\tx\n"
                                  ".sina.com.cn\tTRUE\t/\tFALSE\t0\tOTHER\tx\n");
    const CliResult result = RunCli({u"list"_s, u"--cookies"_s, start.File(u"cookies.txt"_s), u"--json"_s,
                                     u"http://weibo.com/u/2000000001"_s}, start.Path());
    EXPECT_EQ(result.exitCode, 0) << result.errLines.join(u'|').toStdString();
    const QJsonObject json = QJsonDocument::fromJson(result.out.toUtf8()).object();
    EXPECT_EQ(json.value(u"subMode"_s).toInt(), 2);
    EXPECT_EQ(json.value(u"ownerUid"_s).toString(), u"2000000001"_s);
    EXPECT_EQ(json.value(u"userFolder"_s).toString(), u"旅行的小鹿"_s + QDir::separator());
    const QJsonArray albums = json.value(u"albums"_s).toArray();
    ASSERT_EQ(albums.size(), 1);
    EXPECT_EQ(albums.at(0).toObject().value(u"albumUrl"_s).toString(),
              u"https://photo.weibo.com/photos/get_all?uid=2000000001&album_id=3550001&count=32&type=3&page="_s);
    EXPECT_EQ(albums.at(0).toObject().value(u"count"_s).toInt(), 120);
    // Only the Weibo cookie goes to Weibo.
    EXPECT_EQ(service.RequestHeader(u"https://weibo.com/u/2000000001"_s, u"cookie"_s),
              std::optional<QString>(u"SUB=cli-login"_s));
    EXPECT_EQ(mode(start.Path()), 0755u);
    EXPECT_EQ(mode(start.File(u"cookie-store.txt"_s)), 0600u);

    const CliResult missing = RunCli({u"list"_s, u"--cookies"_s, start.File(u"none.txt"_s), u"http://weibo.com/u/2000000001"_s},
                                     start.Path());
    EXPECT_EQ(missing.exitCode, 2);
}

TEST(Cli, UsageErrorsExitWithTwoAndHelpExplains)
{
    TempDir start;
    for (const QStringList &args : {QStringList{}, QStringList{u"list"_s}, QStringList{u"fetch"_s, u"http://x/"_s},
                                    QStringList{u"list"_s, u"--jsn"_s, u"http://x/"_s},
                                    QStringList{u"list"_s, u"--input-file"_s, start.File(u"none"_s)},
                                    QStringList{u"list"_s, u"http://x/"_s, u"--cookies"_s}}) {
        SCOPED_TRACE(args.join(u' ').toStdString());
        const CliResult result = RunCli(args, start.Path());
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_TRUE(result.out.isEmpty());
        EXPECT_FALSE(result.errLines.isEmpty());
    }
    const CliResult help = RunCli({u"--help"_s}, start.Path());
    EXPECT_EQ(help.exitCode, 0);
    for (const QString &topic : {u"list URL"_s, u"--json"_s, u"--cookies FILE"_s, u"soft.dat"_s, u"Exit status"_s,
                                 u"--input-file FILE"_s, u"--version"_s})
        EXPECT_TRUE(help.out.contains(topic)) << topic.toStdString();
    const CliResult version = RunCli({u"--version"_s}, start.Path());
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, u"tamblin-cli %1\n"_s.arg(QString::fromUtf8(TAMBLIN_VERSION)));
    // A usage error touches no settings.
    EXPECT_FALSE(QFile::exists(start.File(u"soft.dat"_s)));
}

} // namespace
} // namespace tamblin::test
