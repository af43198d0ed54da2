#include "DBusMenu.h"

#include <QActionEvent>

namespace Tray {

DBusMenuAdaptor::DBusMenuAdaptor(QObject* object, QMenu* menu)
    : QDBusAbstractAdaptor(object), menu_(menu), watchedMenu_(menu) {
    if (!menu) {
        return;
    }
    for (QAction* action : menu->actions()) {
        follow(action);
    }
    menu->installEventFilter(this);
    sentIds_ = itemIds();
    for (const int id : sentIds_) {
        sentProperties_[id] = properties(id);
    }
}

void DBusMenuAdaptor::follow(QAction* action) {
    if (ids_.contains(action)) {
        return;
    }
    ids_[action] = nextId_++;
    connect(action, &QAction::changed, this, &DBusMenuAdaptor::scheduleUpdate);
}

bool DBusMenuAdaptor::eventFilter(QObject* watched, QEvent* event) {
    // Compared as a plain object: a menu being destroyed removes its actions, and is no QMenu then.
    if (watched == watchedMenu_ &&
        (event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionRemoved)) {
        QAction* action = static_cast<QActionEvent*>(event)->action();
        if (event->type() == QEvent::ActionAdded) {
            follow(action);
        } else {
            disconnect(action, nullptr, this, nullptr);
            ids_.remove(action);
        }
        scheduleUpdate();
    }
    return QDBusAbstractAdaptor::eventFilter(watched, event);
}

QList<int> DBusMenuAdaptor::itemIds() {
    QList<int> ids;
    if (menu_) {
        for (QAction* action : menu_->actions()) {
            follow(action);
            ids.append(ids_.value(action));
        }
    }
    return ids;
}

QAction* DBusMenuAdaptor::actionFor(int id) const {
    if (!menu_ || id <= 0) {
        return nullptr;
    }
    for (QAction* action : menu_->actions()) {
        if (ids_.value(action) == id) {
            return action;
        }
    }
    return nullptr;
}

QVariantMap DBusMenuAdaptor::properties(int id, const QStringList& names) const {
    QVariantMap all;
    if (id == 0) {
        all[QStringLiteral("children-display")] = QStringLiteral("submenu");
    } else if (const QAction* action = actionFor(id)) {
        if (action->isSeparator()) {
            all[QStringLiteral("type")] = QStringLiteral("separator");
        } else {
            all[QStringLiteral("type")] = QStringLiteral("standard");
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

void DBusMenuAdaptor::scheduleUpdate() {
    if (isUpdatePending_) {
        return;
    }
    isUpdatePending_ = true;
    QMetaObject::invokeMethod(this, &DBusMenuAdaptor::sendUpdate, Qt::QueuedConnection);
}

void DBusMenuAdaptor::sendUpdate() {
    if (!isUpdatePending_) {
        return;
    }
    isUpdatePending_ = false;
    const QList<int> ids = itemIds();
    QList<sni::MenuItem> updated;
    QList<sni::MenuItemKeys> removed;
    QHash<int, QVariantMap> now;
    for (const int id : ids) {
        now[id] = properties(id);
        const QVariantMap& before = sentProperties_.value(id);
        QVariantMap changed;
        for (auto it = now[id].cbegin(); it != now[id].cend(); ++it) {
            if (before.value(it.key()) != it.value()) {
                changed[it.key()] = it.value();
            }
        }
        QStringList gone;
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (!now[id].contains(it.key())) {
                gone.append(it.key());
            }
        }
        // A new item is announced by the layout, with all its properties.
        if (sentIds_.contains(id) && !changed.isEmpty()) {
            updated.append({id, changed});
        }
        if (sentIds_.contains(id) && !gone.isEmpty()) {
            removed.append({id, gone});
        }
    }
    const bool isNewLayout = ids != sentIds_;
    sentIds_ = ids;
    sentProperties_ = now;
    if (!updated.isEmpty() || !removed.isEmpty()) {
        hasChangedSinceLayout_ = true;
        emit ItemsPropertiesUpdated(updated, removed);
    }
    if (isNewLayout) {
        hasChangedSinceLayout_ = true;
        emit LayoutUpdated(++revision_, 0);
    }
}

uint DBusMenuAdaptor::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                sni::MenuLayout& layout) {
    // What is read now is what the tray will show: nothing is left to announce.
    sendUpdate();
    hasChangedSinceLayout_ = false;
    layout = {parentId, properties(parentId, propertyNames), {}};
    if (parentId == 0 && recursionDepth != 0) {
        for (const int id : itemIds()) {
            layout.children.append({id, properties(id, propertyNames), {}});
        }
    }
    return revision_;
}

QList<sni::MenuItem> DBusMenuAdaptor::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames) {
    sendUpdate();
    QList<sni::MenuItem> items;
    for (const int id : ids) {
        if (id == 0 || actionFor(id)) {
            items.append({id, properties(id, propertyNames)});
        }
    }
    return items;
}

QDBusVariant DBusMenuAdaptor::GetProperty(int id, const QString& name) {
    return QDBusVariant(properties(id, {name}).value(name));
}

void DBusMenuAdaptor::Event(int id, const QString& eventId, const QDBusVariant&, uint) {
    QAction* action = actionFor(id);
    if (eventId == QLatin1String("clicked") && action && action->isEnabled() && action->isVisible()) {
        // After the reply: the action may end the process.
        QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
    }
}

QList<int> DBusMenuAdaptor::EventGroup(const QList<sni::MenuEvent>& events) {
    QList<int> unknown;
    for (const sni::MenuEvent& event : events) {
        if (event.id != 0 && !actionFor(event.id)) {
            unknown.append(event.id);
        }
        Event(event.id, event.eventId, event.data, event.timestamp);
    }
    return unknown;
}

bool DBusMenuAdaptor::AboutToShow(int) {
    // Changes still waiting go out first, so that the tray's refresh finds them.
    sendUpdate();
    return hasChangedSinceLayout_;
}

QList<int> DBusMenuAdaptor::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    idErrors.clear();
    sendUpdate();
    QList<int> needUpdate;
    for (const int id : ids) {
        if (id != 0 && !actionFor(id)) {
            idErrors.append(id);
        } else if (hasChangedSinceLayout_) {
            needUpdate.append(id);
        }
    }
    return needUpdate;
}

} // namespace Tray
