#include "FuzzSupport.h"

#include "app/AlbumList.h"
#include "download/DownloadJobList.h"
#include "download/FileUtils.h"
#include "download/ListFiles.h"

#include <QDir>
#include <QSet>

#include <cstring>

using namespace Qt::StringLiterals;

namespace fuzz {

void Fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "\ninvariant broken: %s\n  %s\n", what, detail.toUtf8().constData());
    std::fflush(stderr);
    __builtin_trap();
}

QString ConsumeText(FuzzedDataProvider &fdp, size_t maxBytes)
{
    const bool utf16 = fdp.ConsumeBool();
    const std::string bytes = fdp.ConsumeRandomLengthString(maxBytes);
    if (!utf16)
        return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    QString text(qsizetype(bytes.size() / 2), Qt::Uninitialized);
    std::memcpy(text.data(), bytes.data(), size_t(text.size()) * 2);
    return text;
}

void InitOnce()
{
    static const bool done = [] {
        // The cookie store stays in memory.
        setenv("TAMBLIN_COOKIE_FILE", "", 1);
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        return true;
    }();
    (void)done;
}

QString SaveFolder()
{
    return u"/dev/null/save/"_s;
}

void CheckComponent(QStringView name, const char *what)
{
    const QString shown = QString::fromUtf8(what) + u": \""_s + name.toString() + u'"';
    FUZZ_CHECK(!name.isEmpty(), shown);
    FUZZ_CHECK(!name.contains(u'/'), shown);
    FUZZ_CHECK(!name.contains(QChar(0)), shown);
    FUZZ_CHECK(name != u"." && name != u"..", shown);
    FUZZ_CHECK(tamblin::Utf8Length(name) <= tamblin::kMaxComponentBytes, shown);
    FUZZ_CHECK(!name.endsWith(u'.') && !name.endsWith(u' '), shown);
    QString base = name.left(name.indexOf(u'.')).toString().toUpper();
    while (base.endsWith(u' '))
        base.chop(1);
    const bool numbered = base.size() == 4 && (base.startsWith(u"COM"_s) || base.startsWith(u"LPT"_s))
        && base[3] >= u'1' && base[3] <= u'9';
    FUZZ_CHECK(!numbered && base != u"CON"_s && base != u"PRN"_s && base != u"AUX"_s && base != u"NUL"_s, shown);
}

void CheckSanitized(const QString &name, bool fallback)
{
    for (QChar c : name) {
        FUZZ_CHECK(c.unicode() >= 0x20, name);
        FUZZ_CHECK(!QStringView(u"\\/:*?\"<>|").contains(c), name);
    }
    FUZZ_CHECK(name != u"."_s && name != u".."_s, name);
    FUZZ_CHECK(name == name.trimmed(), name);
    if (fallback)
        FUZZ_CHECK(!name.isEmpty() && name.size() < 1000, name);
}

void CheckJobs(const tamblin::DownloadJobList &jobs, const QString &saveFolder)
{
    const QString &album = jobs.folder;
    FUZZ_CHECK(album.startsWith(saveFolder) && album.endsWith(u'/'), album);
    if (album.size() > saveFolder.size())
        CheckComponent(QStringView(album).sliced(saveFolder.size()).chopped(1), "album folder");

    FUZZ_CHECK(jobs.urls.size() == jobs.fileNames.size() && jobs.headers.size() == jobs.fileNames.size(),
               QString::number(jobs.fileNames.size()));
    QSet<QString> seen;
    for (qsizetype i = 0; i < jobs.fileNames.size(); ++i) {
        const QString path = jobs.FilePath(i);
        const QString clean = QDir::cleanPath(path);
        FUZZ_CHECK(clean.startsWith(album) && clean.size() > album.size(), path);
        // Everything below the album folder, component by component.
        for (QStringView part : QStringView(clean).sliced(album.size()).tokenize(u'/'))
            CheckComponent(part, "file");
        if (!tamblin::IsFullPath(jobs.fileNames[i]))
            CheckComponent(jobs.fileNames[i], "file name");
        const QString key = clean.toCaseFolded();
        FUZZ_CHECK(!seen.contains(key), u"two jobs write "_s + path);
        seen.insert(key);
    }
}

void CheckAlbumNames(const tamblin::AlbumList &albums)
{
    QSet<QString> seen;
    for (int i = 0; i < albums.Size(); ++i) {
        const QString &name = albums.At(i)->name;
        CheckSanitized(name, true);
        CheckComponent(name, "album name");
        FUZZ_CHECK(!tamblin::TakesReservedName(name), name);
        const QString key = name.toCaseFolded();
        FUZZ_CHECK(!seen.contains(key), u"two albums named "_s + name);
        seen.insert(key);
    }
}

} // namespace fuzz
