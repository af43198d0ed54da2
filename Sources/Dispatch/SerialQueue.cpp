#include "SerialQueue.h"

#include <QMetaObject>

namespace Dispatch {

SerialQueue::SerialQueue(const QString& label) : label_(label), context_(new QObject) {
    thread_.setObjectName(label);
    context_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::finished, context_, &QObject::deleteLater);
    thread_.start();
}

SerialQueue::~SerialQueue() {
    // Work already submitted still runs: the quit is queued behind it (a quit at once would drop
    // it). The thread then ends and takes its context with it.
    const auto quit = [this] { thread_.quit(); };
    QMetaObject::invokeMethod(context_, quit, Qt::QueuedConnection);
    thread_.wait();
}

void SerialQueue::async(std::function<void()> work) {
    QMetaObject::invokeMethod(context_, std::move(work), Qt::QueuedConnection);
}

void SerialQueue::sync(const std::function<void()>& work) {
    if (isCurrent()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(context_, work, Qt::BlockingQueuedConnection);
}

bool SerialQueue::isCurrent() const {
    return QThread::currentThread() == &thread_;
}

} // namespace Dispatch
