// Widgets may only be touched on the GUI thread; workers hand their calls over
// with these.
#pragma once

#include <QObject>

#include <functional>

namespace tamblin {

// Runs `fn` on the thread of `context`: queued (returns at once), or blocking
// until it has run when the worker needs its answer. Called on the context's
// own thread, `fn` runs directly either way.
void PostToGui(QObject *context, std::function<void()> fn);
void RunOnGui(QObject *context, const std::function<void()> &fn);

} // namespace tamblin
