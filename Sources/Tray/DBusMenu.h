// A QMenu's actions exported as a dbusmenu (com.canonical.dbusmenu, version 3), the menu of a
// StatusNotifierItem. Trays read it in different subsets of the protocol, so it follows the
// protocol to the letter: a change of an item's label, visibility or enabled state goes out as
// ItemsPropertiesUpdated with the changed values (GNOME's AppIndicator extension re-reads only
// the structure on LayoutUpdated), and LayoutUpdated only when items come or go. Bursts of changes
// are sent once; AboutToShow says whether the menu changed since the tray last read its layout.
#pragma once

#include "SniTypes.h"

#include <QDBusAbstractAdaptor>
#include <QHash>
#include <QMenu>
#include <QPointer>

namespace Tray {

class DBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    DBusMenuAdaptor(QObject* object, QMenu* menu);

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   Tray::sni::MenuLayout& layout);
    QList<Tray::sni::MenuItem> GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const QList<Tray::sni::MenuEvent>& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    void LayoutUpdated(uint revision, int parent);
    void ItemsPropertiesUpdated(const QList<Tray::sni::MenuItem>& updatedProps,
                                const QList<Tray::sni::MenuItemKeys>& removedProps);

private:
    // Items are the menu's actions; an action keeps its id for as long as it is in the menu.
    QList<int> itemIds();
    QAction* actionFor(int id) const;
    // Every property of an item (the root's too); only those in `names` unless it is empty.
    QVariantMap properties(int id, const QStringList& names = {}) const;
    void follow(QAction* action);
    void scheduleUpdate();
    // Sends what changed since the last update: the properties, and the layout if items came or went.
    void sendUpdate();

    QPointer<QMenu> menu_;
    const QObject* watchedMenu_;
    QHash<QAction*, int> ids_;
    int nextId_ = 1;
    uint revision_ = 1;
    // What the trays were last told.
    QList<int> sentIds_;
    QHash<int, QVariantMap> sentProperties_;
    bool isUpdatePending_ = false;
    bool hasChangedSinceLayout_ = false;
};

} // namespace Tray
