#include "app/RunSummary.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace tamblin {

QString RunSummaryText(const DownloadSummary &summary)
{
    QString counts = u"已保存%1张"_s.arg(summary.pictures.saved);
    if (summary.pictures.skipped > 0)
        counts += u"，跳过%1张"_s.arg(summary.pictures.skipped);
    if (summary.outOfRange > 0)
        counts += u"，范围外%1张"_s.arg(summary.outOfRange);
    QStringList parts{counts};
    const QString losses = DownloadLossesText(summary);
    if (!losses.isEmpty())
        parts.append(losses);
    return parts.join(u"；"_s);
}

bool RunLeftRetries(const DownloadSummary &summary)
{
    return (summary.pictures.failed > 0 || summary.unavailable > 0) && !summary.failedLists.isEmpty();
}

} // namespace tamblin
