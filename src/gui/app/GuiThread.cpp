#include "app/GuiThread.h"

#include <QMetaObject>
#include <QThread>

namespace tamblin {

void PostToGui(QObject *context, std::function<void()> fn)
{
    if (QThread::currentThread() == context->thread())
        fn();
    else
        QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
}

void RunOnGui(QObject *context, const std::function<void()> &fn)
{
    if (QThread::currentThread() == context->thread())
        fn();
    else
        QMetaObject::invokeMethod(context, fn, Qt::BlockingQueuedConnection);
}

} // namespace tamblin
