// The wire types of the StatusNotifierItem and dbusmenu protocols, and their D-Bus marshalling.
#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace Tray::sni {

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

// Properties an item no longer has.
struct MenuItemKeys {
    int id = 0;
    QStringList names;
};

struct MenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};

QDBusArgument& operator<<(QDBusArgument& argument, const IconPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, IconPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const ToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, ToolTip& toolTip);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuLayout& layout);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuLayout& layout);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuItemKeys& keys);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuItemKeys& keys);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuEvent& event);

// Registers every type above with the D-Bus type system; idempotent.
void registerTypes();

} // namespace Tray::sni

Q_DECLARE_METATYPE(Tray::sni::IconPixmap)
Q_DECLARE_METATYPE(Tray::sni::ToolTip)
Q_DECLARE_METATYPE(Tray::sni::MenuLayout)
Q_DECLARE_METATYPE(Tray::sni::MenuItem)
Q_DECLARE_METATYPE(Tray::sni::MenuItemKeys)
Q_DECLARE_METATYPE(Tray::sni::MenuEvent)
