#include "StatusNotifierItem.h"

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

// The wire types of the two protocols.
namespace UI::sni {

struct IconPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb; // ARGB32, network byte order
};
using IconPixmaps = QList<IconPixmap>;

struct ToolTip {
    QString iconName;
    IconPixmaps pixmaps;
    QString title;
    QString text;
};

struct MenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<MenuLayout> children;
};

struct MenuItem {
    int id = 0;
    QVariantMap properties;
};

struct MenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};

QDBusArgument& operator<<(QDBusArgument& argument, const IconPixmap& pixmap) {
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.argb;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, IconPixmap& pixmap) {
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.argb;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const ToolTip& toolTip) {
    argument.beginStructure();
    argument << toolTip.iconName << toolTip.pixmaps << toolTip.title << toolTip.text;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, ToolTip& toolTip) {
    argument.beginStructure();
    argument >> toolTip.iconName >> toolTip.pixmaps >> toolTip.title >> toolTip.text;
    argument.endStructure();
    return argument;
}

// Children travel as variants, each holding a layout of its own.
QDBusArgument& operator<<(QDBusArgument& argument, const MenuLayout& layout) {
    argument.beginStructure();
    argument << layout.id << layout.properties;
    argument.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const MenuLayout& child : layout.children) {
        argument << QDBusVariant(QVariant::fromValue(child));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, MenuLayout& layout) {
    argument.beginStructure();
    argument >> layout.id >> layout.properties;
    argument.beginArray();
    layout.children.clear();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        layout.children.append(qdbus_cast<MenuLayout>(child.variant().value<QDBusArgument>()));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const MenuItem& item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, MenuItem& item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const MenuEvent& event) {
    argument.beginStructure();
    argument << event.id << event.eventId << event.data << event.timestamp;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, MenuEvent& event) {
    argument.beginStructure();
    argument >> event.id >> event.eventId >> event.data >> event.timestamp;
    argument.endStructure();
    return argument;
}

} // namespace UI::sni

Q_DECLARE_METATYPE(UI::sni::IconPixmap)
Q_DECLARE_METATYPE(UI::sni::ToolTip)
Q_DECLARE_METATYPE(UI::sni::MenuLayout)
Q_DECLARE_METATYPE(UI::sni::MenuItem)
Q_DECLARE_METATYPE(UI::sni::MenuEvent)

namespace UI {

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString menuPath = QStringLiteral("/MenuBar");
// Replies from the bus at start are waited for at most this long.
constexpr int startTimeoutMs = 2000;

void registerTypes() {
    qDBusRegisterMetaType<sni::IconPixmap>();
    qDBusRegisterMetaType<sni::IconPixmaps>();
    qDBusRegisterMetaType<sni::ToolTip>();
    qDBusRegisterMetaType<sni::MenuLayout>();
    qDBusRegisterMetaType<sni::MenuItem>();
    qDBusRegisterMetaType<QList<sni::MenuItem>>();
    qDBusRegisterMetaType<sni::MenuEvent>();
    qDBusRegisterMetaType<QList<sni::MenuEvent>>();
}

sni::IconPixmaps iconPixmaps(const QIcon& icon) {
    sni::IconPixmaps pixmaps;
    for (int size : {16, 22, 32, 48}) {
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
    Q_PROPERTY(UI::sni::IconPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString IconThemePath READ iconThemePath)
    Q_PROPERTY(UI::sni::ToolTip ToolTip READ toolTip)
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
    sni::IconPixmaps iconPixmap() const { return iconPixmaps(item_->pixmaps()); }
    QString iconThemePath() const { return {}; }
    sni::ToolTip toolTip() const { return {item_->iconName(), {}, item_->title(), {}}; }
    // A click activates, the menu is for the other button.
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(menuPath); }

public slots:
    void Activate(int, int) { item_->activate(); }
    void SecondaryActivate(int, int) {}
    void ContextMenu(int x, int y) { item_->showContextMenu(x, y); }
    void Scroll(int, const QString&) {}

signals:
    void NewIcon();
    void NewToolTip();

private:
    StatusNotifierItem* item_;
};

class DBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    DBusMenuAdaptor(QObject* object, QMenu* menu) : QDBusAbstractAdaptor(object), menu_(menu) {
        // Items are the menu's actions, numbered from 1 in order; the menu is fixed, the
        // actions change text and visibility. One update for a burst of changes.
        for (QAction* action : menu->actions()) {
            connect(action, &QAction::changed, this, [this] {
                if (!isUpdatePending_) {
                    isUpdatePending_ = true;
                    QMetaObject::invokeMethod(
                        this,
                        [this] {
                            isUpdatePending_ = false;
                            emit LayoutUpdated(++revision_, 0);
                        },
                        Qt::QueuedConnection);
                }
            });
        }
    }

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   UI::sni::MenuLayout& layout) {
        layout = {parentId, properties(parentId, propertyNames), {}};
        if (parentId == 0 && recursionDepth != 0 && menu_) {
            for (int id = 1; id <= menu_->actions().size(); ++id) {
                layout.children.append({id, properties(id, propertyNames), {}});
            }
        }
        return revision_;
    }

    QList<UI::sni::MenuItem> GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames) {
        QList<sni::MenuItem> items;
        for (int id : ids) {
            items.append({id, properties(id, propertyNames)});
        }
        return items;
    }

    QDBusVariant GetProperty(int id, const QString& name) {
        return QDBusVariant(properties(id, {name}).value(name));
    }

    void Event(int id, const QString& eventId, const QDBusVariant&, uint) {
        QAction* action = actionFor(id);
        if (eventId == QLatin1String("clicked") && action && action->isEnabled()) {
            // After the reply: the action may end the process.
            QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
        }
    }

    QList<int> EventGroup(const QList<UI::sni::MenuEvent>& events) {
        QList<int> unknown;
        for (const sni::MenuEvent& event : events) {
            if (event.id != 0 && !actionFor(event.id)) {
                unknown.append(event.id);
            }
            Event(event.id, event.eventId, event.data, event.timestamp);
        }
        return unknown;
    }

    bool AboutToShow(int) { return false; }
    QList<int> AboutToShowGroup(const QList<int>&, QList<int>& idErrors) {
        idErrors.clear();
        return {};
    }

signals:
    void LayoutUpdated(uint revision, int parent);

private:
    QAction* actionFor(int id) const { return menu_ && id >= 1 ? menu_->actions().value(id - 1) : nullptr; }

    // All properties when `names` is empty.
    QVariantMap properties(int id, const QStringList& names) const {
        QVariantMap all;
        if (id == 0) {
            all[QStringLiteral("children-display")] = QStringLiteral("submenu");
        } else if (const QAction* action = actionFor(id)) {
            if (action->isSeparator()) {
                all[QStringLiteral("type")] = QStringLiteral("separator");
            } else {
                all[QStringLiteral("label")] = action->text();
                all[QStringLiteral("enabled")] = action->isEnabled();
            }
            all[QStringLiteral("visible")] = action->isVisible();
        }
        if (names.isEmpty()) {
            return all;
        }
        QVariantMap asked;
        for (const QString& name : names) {
            if (all.contains(name)) {
                asked[name] = all[name];
            }
        }
        return asked;
    }

    QPointer<QMenu> menu_;
    uint revision_ = 1;
    bool isUpdatePending_ = false;
};

StatusNotifierItem::StatusNotifierItem(const QString& id, const QString& title, QMenu* menu, QObject* parent)
    : QObject(parent), connection_(QDBusConnection::sessionBus()),
      serviceName_(QStringLiteral("org.kde.StatusNotifierItem-%1-velmor").arg(QCoreApplication::applicationPid())),
      id_(id), title_(title), menu_(menu) {
    if (!connection_.isConnected()) {
        return;
    }
    registerTypes();
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
    // Whether to show a window at start is decided on this answer.
    if (connection_.interface()->isServiceRegistered(watcherService)) {
        connection_.call(registrationCall(serviceName_), QDBus::Block, startTimeoutMs);
        isAvailable_ = hostIn(connection_.call(hostQuery(), QDBus::Block, startTimeoutMs));
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
    pixmaps_ = pixmaps;
    if (itemAdaptor_) {
        emit itemAdaptor_->NewIcon();
        emit itemAdaptor_->NewToolTip();
    }
}

void StatusNotifierItem::activate() {
    emit activated();
}

void StatusNotifierItem::showContextMenu(int x, int y) {
    if (menu_) {
        menu_->popup(QPoint(x, y));
    }
}

} // namespace UI

#include "StatusNotifierItem.moc"
