// The tray icon for the trays of current desktops (KDE Plasma, GNOME's AppIndicator extension,
// waybar and most panels): a StatusNotifierItem on the session bus with its menu exported as a
// dbusmenu. Our own rather than Qt's, which asks once per process whether such a tray is there:
// a tray that starts after the app, as at login, would never get Qt's icon.
#pragma once

#include <QDBusConnection>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>

#include "SniTypes.h"

class QDBusServiceWatcher;

namespace Tray {

class StatusNotifierItemAdaptor;
class DBusMenuAdaptor;

class StatusNotifierItem : public QObject {
    Q_OBJECT

public:
    // Offers the item to every tray that comes while it lives; `menu`'s actions are its menu.
    StatusNotifierItem(const QString& id, const QString& title, QMenu* menu, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // A tray shows the item: a watcher is on the bus and a tray has registered with it. Followed
    // as trays come and go.
    bool isAvailable() const { return isAvailable_; }
    // The first answer is in: at once without a watcher on the bus, else once the watcher has
    // answered (asked without waiting for it).
    bool isSettled() const { return isSettled_; }
    // `themeName` where the icon theme has it (a tray recolours such a symbol), else `pixmaps`.
    void setIcon(const QString& themeName, const QIcon& pixmaps);
    // What hovering the icon shows.
    void setToolTip(const QString& text);
    QString toolTip() const { return toolTip_; }

    // What a tray reads of the item.
    QString id() const { return id_; }
    QString title() const { return title_; }
    QString iconName() const { return iconName_; }
    const sni::IconPixmaps& iconPixmaps() const { return iconPixmaps_; }
    QMenu* menu() const { return menu_; }

    // What a tray asks of it.
    void activate(int x, int y);
    void showContextMenu(int x, int y);

signals:
    void availableChanged();
    void settled();
    // The icon was clicked; where, when the tray says (else a null point).
    void activated(const QPoint& where);
    // The tray asked for the menu at this point (a null point when it did not say).
    void menuRequested(const QPoint& where);

private slots:
    void askForHost();

private:
    void registerWithWatcher();
    void setAvailable(bool isAvailable);

    QDBusConnection connection_;
    QString serviceName_;
    QString id_;
    QString title_;
    QString iconName_;
    QString toolTip_;
    sni::IconPixmaps iconPixmaps_;
    QPointer<QMenu> menu_;
    StatusNotifierItemAdaptor* itemAdaptor_ = nullptr;
    DBusMenuAdaptor* menuAdaptor_ = nullptr;
    QDBusServiceWatcher* watcher_ = nullptr;
    bool isAvailable_ = false;
    bool isSettled_ = true;
};

} // namespace Tray
