// A serial queue: one thread running submitted work one item at a time, in the order submitted.
// The capture service delivers audio on it, and the recorder closes the work files on it, so the
// two never run at the same time without any lock.
#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <functional>

namespace Dispatch {

class SerialQueue {
public:
    explicit SerialQueue(const QString& label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    QString label() const { return label_; }

    // Runs `work` later on the queue, after everything submitted before it.
    void async(std::function<void()> work);

    // Runs `work` on the queue and returns once it has finished. Called from the queue's own
    // thread (from inside a work item) it runs `work` at once in place: waiting there for the
    // queue would wait for itself forever.
    void sync(const std::function<void()>& work);

    bool isCurrent() const;

private:
    QString label_;
    QThread thread_;
    QObject* context_;
};

} // namespace Dispatch
