#include "sources/ListTexts.h"

namespace tamblin {

using namespace Qt::StringLiterals;

QStringList SubSourceNames()
{
    return {u"QQ空间相册"_s, u"QQ群相册"_s, u"腾讯微博相册"_s};
}

} // namespace tamblin
