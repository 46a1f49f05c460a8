#include "app/Ini.h"

#include "text/TextUtils.h"

#include <QFile>
#include <QStringDecoder>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

// An extension settings file holds a handful of keys; anything beyond this
// is not read, so a huge file cannot exhaust memory.
constexpr qint64 kMaxIniBytes = 16 * 1024 * 1024;
// GetInt looks at no more than this many characters of a value.
constexpr qsizetype kMaxNumberChars = 64;

} // namespace

QString CIni::Decode(QByteArrayView bytes)
{
    if (bytes.size() >= 2 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xFE) {
        QStringDecoder decoder(QStringDecoder::Utf16LE);
        return decoder(bytes.sliced(2));
    }
    if (bytes.size() >= 3 && uchar(bytes[0]) == 0xEF && uchar(bytes[1]) == 0xBB && uchar(bytes[2]) == 0xBF) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        return decoder(bytes.sliced(3));
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    return MultiByteToWide(bytes, kCodePageGbk);
}

std::uint32_t CIni::ParseUnsigned(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    std::uint64_t value = 0;
    bool overflow = false;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + std::uint64_t(text[i].unicode() - u'0');
        if (value > 0xFFFFFFFFu) {
            overflow = true;
            value = 0xFFFFFFFFu; // keeps the sum small; the rest is read and dropped
        }
    }
    if (overflow)
        return 0xFFFFFFFFu;
    const auto result = std::uint32_t(value);
    return negative ? std::uint32_t(0u - result) : result;
}

bool CIni::Find(const QString &section, const QString &key, QString &value) const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // read(n) reserves n bytes up front: ask for no more than the file holds.
    const QByteArray bytes = file.read(qBound<qint64>(0, file.size(), kMaxIniBytes));
    const QString text = Decode(bytes);

    bool inSection = false;
    for (QStringView line : QStringView(text).tokenize(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            // Only the first section of a name counts.
            if (inSection)
                return false;
            const qsizetype close = line.indexOf(u']');
            const QStringView name = (close < 0 ? line.sliced(1) : line.sliced(1, close - 1)).trimmed();
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        if (line.first(eq).trimmed().compare(key, Qt::CaseInsensitive) != 0)
            continue;
        QStringView found = line.sliced(eq + 1).trimmed();
        if (found.size() >= 2 && (found.front() == u'"' || found.front() == u'\'') && found.back() == found.front())
            found = found.sliced(1, found.size() - 2);
        value = found.toString();
        return true;
    }
    return false;
}

QString CIni::GetString(const QString &section, const QString &key, const QString &defaultValue) const
{
    QString value;
    if (!Find(section, key, value))
        return defaultValue;
    return value;
}

std::int32_t CIni::GetInt(const QString &section, const QString &key, std::int32_t defaultValue) const
{
    QString value;
    if (!Find(section, key, value) || value.isEmpty())
        return defaultValue;
    return std::int32_t(ParseUnsigned(QStringView(value).first(qMin(value.size(), kMaxNumberChars))));
}

} // namespace tamblin
