#include "StatusNotifierItem.h"

#include "DBusMenu.h"
#include "SniTypes.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QImage>
#include <QMenu>
#include <QtEndian>

namespace Tray {

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString menuPath = QStringLiteral("/MenuBar");

sni::IconPixmaps pixmapsOf(const QIcon& icon) {
    sni::IconPixmaps pixmaps;
    // Up to the sizes of a bar at twice the density (44 and 64 px).
    for (int size : {16, 22, 32, 44, 48, 64}) {
        const QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull()) {
            continue;
        }
        sni::IconPixmap pixmap{image.width(), image.height(), {}};
        pixmap.argb.resize(qsizetype(image.width()) * image.height() * 4);
        auto* out = reinterpret_cast<quint32*>(pixmap.argb.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                *out++ = qToBigEndian(line[x]);
            }
        }
        pixmaps.append(pixmap);
    }
    return pixmaps;
}

QDBusMessage registrationCall(const QString& serviceName) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(watcherService, watcherPath, watcherService, "RegisterStatusNotifierItem");
    call << serviceName;
    return call;
}

QDBusMessage hostQuery() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(watcherService, watcherPath, "org.freedesktop.DBus.Properties", "Get");
    call << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    return call;
}

bool hostIn(const QDBusMessage& reply) {
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

} // namespace

class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(Tray::sni::IconPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString IconThemePath READ iconThemePath)
    Q_PROPERTY(Tray::sni::ToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem* item) : QDBusAbstractAdaptor(item), item_(item) {}

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return item_->id(); }
    QString title() const { return item_->title(); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString iconName() const { return item_->iconName(); }
    sni::IconPixmaps iconPixmap() const { return item_->iconPixmaps(); }
    QString iconThemePath() const { return {}; }
    sni::ToolTip toolTip() const { return {item_->iconName(), {}, item_->toolTip(), {}}; }
    // A click activates, the menu is for the other button.
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(menuPath); }

public slots:
    void Activate(int x, int y) { item_->activate(x, y); }
    void SecondaryActivate(int, int) {}
    void ContextMenu(int x, int y) { item_->showContextMenu(x, y); }
    void Scroll(int, const QString&) {}

signals:
    void NewIcon();
    void NewToolTip();

private:
    StatusNotifierItem* item_;
};

StatusNotifierItem::StatusNotifierItem(const QString& id, const QString& title, QMenu* menu, QObject* parent)
    : QObject(parent), connection_(QDBusConnection::sessionBus()),
      serviceName_(QStringLiteral("org.kde.StatusNotifierItem-%1-velmor").arg(QCoreApplication::applicationPid())),
      id_(id), title_(title), toolTip_(title), menu_(menu) {
    if (!connection_.isConnected()) {
        return;
    }
    sni::registerTypes();
    itemAdaptor_ = new StatusNotifierItemAdaptor(this);
    auto* menuObject = new QObject(this);
    menuAdaptor_ = new DBusMenuAdaptor(menuObject, menu);
    connection_.registerObject(itemPath, this, QDBusConnection::ExportAdaptors);
    connection_.registerObject(menuPath, menuObject, QDBusConnection::ExportAdaptors);
    connection_.registerService(serviceName_);

    watcher_ = new QDBusServiceWatcher(
        watcherService, connection_,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this, &StatusNotifierItem::registerWithWatcher);
    connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] { setAvailable(false); });
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
        connection_.connect(watcherService, watcherPath, watcherService, QLatin1String(signal), this,
                            SLOT(askForHost()));
    }
    // Asked of the bus itself, which always answers; the watcher is asked without waiting, as a
    // hung one would stall the app.
    if (connection_.interface()->isServiceRegistered(watcherService)) {
        isSettled_ = false;
        registerWithWatcher();
    }
}

StatusNotifierItem::~StatusNotifierItem() {
    if (connection_.isConnected()) {
        connection_.unregisterService(serviceName_);
        connection_.unregisterObject(itemPath);
        connection_.unregisterObject(menuPath);
    }
}

void StatusNotifierItem::registerWithWatcher() {
    auto* call = new QDBusPendingCallWatcher(connection_.asyncCall(registrationCall(serviceName_)), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        askForHost();
    });
}

void StatusNotifierItem::askForHost() {
    auto* call = new QDBusPendingCallWatcher(connection_.asyncCall(hostQuery()), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        setAvailable(hostIn(finished->reply()));
        if (!isSettled_) {
            isSettled_ = true;
            emit settled();
        }
    });
}

void StatusNotifierItem::setAvailable(bool isAvailable) {
    if (isAvailable != isAvailable_) {
        isAvailable_ = isAvailable;
        emit availableChanged();
    }
}

void StatusNotifierItem::setIcon(const QString& themeName, const QIcon& pixmaps) {
    iconName_ = QIcon::hasThemeIcon(themeName) ? themeName : QString();
    // Drawn once for every tray that asks, and every time it asks.
    iconPixmaps_ = pixmapsOf(pixmaps);
    if (itemAdaptor_) {
        emit itemAdaptor_->NewIcon();
    }
}

void StatusNotifierItem::setToolTip(const QString& text) {
    if (text == toolTip_) {
        return;
    }
    toolTip_ = text;
    if (itemAdaptor_) {
        emit itemAdaptor_->NewToolTip();
    }
}

void StatusNotifierItem::activate(int x, int y) {
    emit activated(x != 0 || y != 0 ? QPoint(x, y) : QPoint());
}

void StatusNotifierItem::showContextMenu(int x, int y) {
    emit menuRequested(x != 0 || y != 0 ? QPoint(x, y) : QPoint());
    if (menu_) {
        menu_->popup(QPoint(x, y));
    }
}

} // namespace Tray

#include "StatusNotifierItem.moc"
