// The settings file and the extension INI file as a user's disk may hold
// them: any "soft.dat" loads into valid settings and is written back as the
// exact image of what was loaded; any INI file reads without harm.
#include "FuzzSupport.h"

#include "app/Ini.h"
#include "app/SoftSettings.h"
#include "app/TamblinCore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace tamblin;
using namespace Qt::StringLiterals;

namespace {

void WriteFile(const QString &path, QByteArrayView bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes.data(), bytes.size()) != bytes.size())
        fuzz::Fail("cannot write", path);
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::InitOnce();
    // On tmpfs where there is one: saving the settings syncs the file.
    static QTemporaryDir dir(QFileInfo(u"/dev/shm"_s).isWritable() ? u"/dev/shm/tamblin-fuzz-XXXXXX"_s
                                                                  : QDir::tempPath() + u"/tamblin-fuzz-XXXXXX"_s);
    if (!dir.isValid())
        fuzz::Fail("no temporary folder");
    const QString appDir = dir.path() + u'/';

    FuzzedDataProvider fdp(data, size);
    const QString section = fuzz::ConsumeText(fdp, 32);
    const QString key = fuzz::ConsumeText(fdp, 32);
    const std::string ini = fdp.ConsumeRandomLengthString(8192);
    const std::string image = fdp.ConsumeRemainingBytesAsString();
    const QByteArrayView imageBytes(image.data(), qsizetype(image.size()));

    // The image read field by field gives back the same bytes.
    QByteArray padded = imageBytes.first(qMin(imageBytes.size(), kSoftSettingsSize)).toByteArray();
    padded.append(kSoftSettingsSize - padded.size(), '\0');
    FUZZ_CHECK(SoftSettings::FromBytes(imageBytes).ToBytes() == padded, QString::number(image.size()));

    TamblinCore core;
    core.m_appDir = appDir;
    WriteFile(core.SettingsPath(), imageBytes);
    core.LoadSettings();
    for (const DownParams &params : core.m_settings.downParams)
        FUZZ_CHECK(params.threads >= 1 && params.threads <= 15 && params.timeoutSec >= 10,
                   QString::number(params.threads) + u' ' + QString::number(params.timeoutSec));
    const QByteArray saved = ReadFile(core.SettingsPath());
    FUZZ_CHECK(saved.size() == kSoftSettingsSize && saved == core.m_settings.ToBytes(), QString::number(saved.size()));
    // The field is NUL-terminated: a history text ends at a NUL.
    if (core.AddHistory(0, key))
        FUZZ_CHECK(core.m_settings.addressHistory[0].Get() == key.first(key.contains(QChar(0)) ? key.indexOf(QChar(0)) : key.size()), key);

    const QString iniPath = appDir + u"下载器扩展设置.ini"_s;
    WriteFile(iniPath, QByteArrayView(ini.data(), qsizetype(ini.size())));
    core.ReadExtensionSettings();
    const CIni reader(iniPath);
    const QString value = reader.GetString(section, key, u"\u0001"_s);
    FUZZ_CHECK(!value.contains(u'\n'), value);
    (void)reader.GetInt(section, key, -1);
    return 0;
}
