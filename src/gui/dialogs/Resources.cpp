#include "dialogs/Resources.h"

#include <QFile>
#include <QHash>

using namespace Qt::StringLiterals;

namespace tamblin {

namespace {

QHash<int, QString> ReadStoredTexts()
{
    QHash<int, QString> table;
    QFile file(u":/tamblin/StoredTexts.txt"_s);
    if (!file.open(QIODevice::ReadOnly))
        return table;
    const QString text = QString::fromUtf8(file.readAll());
    for (QStringView line : QStringView(text).split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype tab = line.indexOf(u'\t');
        if (tab <= 0)
            continue;
        bool ok = false;
        const int id = line.left(tab).toInt(&ok);
        if (!ok)
            continue;
        QString value = line.mid(tab + 1).toString();
        value.replace(u"\\n"_s, u"\n"_s);
        table.insert(id, value);
    }
    return table;
}

} // namespace

QString StoredText(int id)
{
    static const QHash<int, QString> table = ReadStoredTexts();
    return table.value(id);
}

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 256})
        icon.addFile(u":/tamblin/tamblin-%1.png"_s.arg(size), QSize(size, size));
    return icon;
}

QImage SplashPicture()
{
    return QImage(u":/tamblin/splash.png"_s);
}

} // namespace tamblin
