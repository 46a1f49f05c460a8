#include "app/ClipboardText.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace tamblin {

QString ReadClipboardText()
{
    const QClipboard *clipboard = QGuiApplication::clipboard();
    const QMimeData *data = clipboard ? clipboard->mimeData() : nullptr;
    if (!data || !data->hasText())
        return {};
    QString text = data->text();
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

} // namespace tamblin
