// Calls into the user-interface thread from any thread. Widgets may be touched only there, while
// the archive reading runs on a thread of its own.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <utility>

namespace kve17 {

inline bool OnThreadOf(const QObject& context) {
    return QThread::currentThread() == context.thread();
}

// Runs `call` on the thread of `context` and returns once it has run. When `context` is
// destroyed first, the call is dropped and the waiting ends.
template <typename Call> void RunOnGuiAndWait(QObject& context, Call&& call) {
    if (OnThreadOf(context))
        std::forward<Call>(call)();
    else
        QMetaObject::invokeMethod(&context, std::forward<Call>(call), Qt::BlockingQueuedConnection);
}

// Runs `call` on the thread of `context` without waiting; in order with every other call made
// this way or by RunOnGuiAndWait from the same thread.
template <typename Call> void PostToGui(QObject& context, Call&& call) {
    if (OnThreadOf(context))
        std::forward<Call>(call)();
    else
        QMetaObject::invokeMethod(&context, std::forward<Call>(call), Qt::QueuedConnection);
}

} // namespace kve17
