#include "RemoteControl.h"

#include "Settings.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>

// The object's face on the bus.
class RecorderAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.velmor.Velmor.Recorder")
    Q_PROPERTY(QString State READ state)

public:
    explicit RecorderAdaptor(RemoteControl* control) : QDBusAbstractAdaptor(control), control_(control) {}
    QString state() const { return control_->state(); }

public slots:
    void Start() { control_->answer(control_->start()); }
    void StopAndSend() { control_->answer(control_->stopAndSend()); }
    void Toggle() { control_->answer(control_->toggle()); }

private:
    RemoteControl* control_;
};

namespace {

const QString kBusy = QStringLiteral("Велмор занят: запись запускается, останавливается или отправляется");

} // namespace

RemoteControl::RemoteControl(Recorder& recorder, Preferences::Settings& settings, QObject* parent)
    : QObject(parent), recorder_(recorder), settings_(settings), announcedState_(state()) {
    new RecorderAdaptor(this);
    // Read after the store that follows the announcement.
    connect(&recorder_, &Recorder::objectWillChange, this, &RemoteControl::announceState, Qt::QueuedConnection);
}

RemoteControl::~RemoteControl() {
    if (isRegistered_) {
        QDBusConnection::sessionBus().unregisterObject(QString::fromLatin1(kPath));
        QDBusConnection::sessionBus().unregisterService(QString::fromLatin1(kService));
    }
}

bool RemoteControl::registerOnSessionBus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    isRegistered_ = bus.isConnected() &&
                    bus.registerObject(QString::fromLatin1(kPath), this, QDBusConnection::ExportAdaptors) &&
                    bus.registerService(QString::fromLatin1(kService));
    return isRegistered_;
}

QString RemoteControl::stateName(Phase phase) {
    switch (phase) {
    case Phase::idle:
        return QStringLiteral("idle");
    case Phase::starting:
        return QStringLiteral("starting");
    case Phase::recording:
        return QStringLiteral("recording");
    case Phase::stopping:
        return QStringLiteral("stopping");
    case Phase::sending:
        return QStringLiteral("sending");
    }
    return QStringLiteral("idle");
}

QString RemoteControl::start() {
    if (recorder_.phase() == Phase::recording) {
        return QStringLiteral("Запись уже идёт");
    }
    if (recorder_.phase() != Phase::idle) {
        return kBusy;
    }
    // Nothing awaits the task; the workflow itself catches every failure.
    recorder_.start();
    return {};
}

QString RemoteControl::stopAndSend() {
    if (recorder_.phase() == Phase::idle) {
        return QStringLiteral("Запись не идёт");
    }
    if (recorder_.phase() != Phase::recording) {
        return kBusy;
    }
    recorder_.stopAndSend(settings_.serverURL(), settings_.apiKey());
    return {};
}

QString RemoteControl::toggle() {
    return recorder_.phase() == Phase::recording ? stopAndSend() : start();
}

void RemoteControl::answer(const QString& refusal) {
    if (!refusal.isEmpty() && calledFromDBus()) {
        sendErrorReply(QStringLiteral("app.velmor.Velmor.Error.NotNow"), refusal);
    }
}

void RemoteControl::announceState() {
    const QString now = state();
    if (now == announcedState_ || !isRegistered_) {
        announcedState_ = now;
        return;
    }
    announcedState_ = now;
    QDBusMessage changed =
        QDBusMessage::createSignal(QString::fromLatin1(kPath), QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    changed << QString::fromLatin1(kInterface) << QVariantMap{{QStringLiteral("State"), now}} << QStringList();
    QDBusConnection::sessionBus().send(changed);
}

#include "RemoteControl.moc"
