#include "CallWatch.h"

#include "CaptureError.h"
#include "Clock.h"
#include "Log.h"

CallWatch::CallWatch(QObject* parent) : QObject(parent) {
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, &CallWatch::look);
    connect(&Dispatch::Clock::current(), &Dispatch::Clock::moved, this, &CallWatch::look);
    reconnect_.setSingleShot(true);
    reconnect_.setInterval(kReconnectMs);
    connect(&reconnect_, &QTimer::timeout, this, &CallWatch::connectToServer);
}

CallWatch::~CallWatch() = default;

void CallWatch::start() {
    connectToServer();
}

void CallWatch::connectToServer() {
    // Both run on the connection's thread: the list and the loss go on to the main thread.
    auto clients = std::make_unique<Capture::AudioClients>(
        [this](std::vector<Capture::ClientStream> streams) {
            QMetaObject::invokeMethod(
                this, [this, streams = std::move(streams)] { take(streams); }, Qt::QueuedConnection);
        },
        [this] {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    clients_.reset();
                    take({});
                    reconnect_.start();
                },
                Qt::QueuedConnection);
        });
    try {
        clients->start();
        clients_ = std::move(clients);
    } catch (const Capture::CaptureError& error) {
        qCDebug(lcVelmor) << "calls are not followed for now:" << error.what();
        reconnect_.start();
    }
}

void CallWatch::take(std::vector<Capture::ClientStream> streams) {
    tell(detector_.update(std::move(streams), Dispatch::Clock::current().monotonicMs()));
}

void CallWatch::look() {
    tell(detector_.advance(Dispatch::Clock::current().monotonicMs()));
}

void CallWatch::tell(const std::vector<CallDetector::Event>& events) {
    if (detector_.isWaiting() != tick_.isActive()) {
        detector_.isWaiting() ? tick_.start() : tick_.stop();
    }
    for (const CallDetector::Event& event : events) {
        event.kind == CallDetector::Event::Kind::started ? emit started(event.application)
                                                         : emit ended(event.application);
    }
    if (detector_.call() != toldCall_) {
        toldCall_ = detector_.call();
        emit changed();
    }
}
