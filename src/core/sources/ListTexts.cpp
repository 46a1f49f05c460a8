#include "sources/ListTexts.h"

namespace tamblin {

using namespace Qt::StringLiterals;

QStringList SubSourceNames()
{
    return {u"QQ空间相册"_s, u"QQ群相册"_s, u"腾讯微博相册"_s};
}

QString NoAlbumText(const QString &cause, NoAlbumAdvice advice)
{
    const QString hint = QString::fromUtf16(texts::kLoginHint);
    if (cause.isEmpty())
        return advice == NoAlbumAdvice::LogIn ? hint : QString::fromUtf16(texts::kListNone);
    return advice == NoAlbumAdvice::LogIn ? cause + u'\n' + hint : cause;
}

} // namespace tamblin
