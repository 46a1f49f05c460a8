#include "app/StoredTexts.h"

#include <QFile>
#include <QHash>

using namespace Qt::StringLiterals;

namespace tamblin {

namespace {

// One "id<TAB>text" per line, UTF-8; "\n" stands for a line feed and lines
// starting with "#" are comments.
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

QStringList SiteNames()
{
    QStringList names;
    for (int site = 0; site < 16; ++site)
        names.append(StoredText(kTextSourceNames + site));
    return names;
}

} // namespace tamblin
