"""A StatusNotifierItem tray on the private session bus, as panels of current desktops are one:
  sni_tray.py serve LOG [--gnome]   the watcher with a host registered; logs items and each
                                    NewIcon and NewToolTip to LOG. With --gnome the host reads the
                                    first item's menu as GNOME's AppIndicator extension does and
                                    keeps what it would show in LOG.menu, one label a line
and what such a tray does with the item that registered first:
  sni_tray.py items | icon | tooltip | activate [X Y] | menu | click LABEL
(`menu` reads the whole menu afresh, as the hosts that re-read everything on LayoutUpdated do)."""
import os
import sys
import time

import dbus
import dbus.service

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
# Toolkits read the watcher's properties only where its introspection declares them.
INTROSPECTION = """<node>
 <interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
 </interface>
 <interface name="org.freedesktop.DBus.Properties">
  <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
  <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
 </interface>
 <interface name="org.freedesktop.DBus.Introspectable">
  <method name="Introspect"><arg type="s" direction="out"/></method>
 </interface>
</node>"""


class CachedMenu:
    """A menu as GNOME's AppIndicator extension holds it: the structure from GetLayout with only
    'type' and 'children-display', all of a new item's properties once (GetGroupProperties), and
    after that an item's label, visibility and state only from ItemsPropertiesUpdated. Every call
    is asynchronous, as the shell's are: the app may be waiting on the watcher meanwhile."""

    def __init__(self, bus, service, path, out):
        self.menu = bus.get_object(service, path, introspect=False)
        self.out = out
        self.items = {}
        self.order = []
        self.menu.connect_to_signal("LayoutUpdated", lambda *_: self.read_layout(), dbus_interface=MENU)
        self.menu.connect_to_signal("ItemsPropertiesUpdated", self.properties_updated, dbus_interface=MENU)
        self.read_layout()

    def read_layout(self):
        self.menu.GetLayout(0, -1, dbus.Array(["type", "children-display"], signature="s"), dbus_interface=MENU,
                            reply_handler=self.layout_read, error_handler=print)

    def layout_read(self, _revision, layout):
        self.order = [int(child[0]) for child in layout[2]]
        new = []
        for child in layout[2]:
            item, properties = int(child[0]), dict(child[1])
            if item in self.items:
                self.items[item].update(properties)
            else:
                self.items[item] = properties
                new.append(item)
        for gone in set(self.items) - set(self.order):
            del self.items[gone]
        if new:
            self.menu.GetGroupProperties(dbus.Array(new, signature="i"), dbus.Array([], signature="s"),
                                         dbus_interface=MENU, reply_handler=self.properties_read,
                                         error_handler=print)
        self.write()

    def properties_read(self, items):
        for item, properties in items:
            if int(item) in self.items:
                self.items[int(item)] = dict(properties)
        self.write()

    def properties_updated(self, updated, removed):
        for item, properties in updated:
            self.items.get(int(item), {}).update(dict(properties))
        for item, names in removed:
            for name in names:
                self.items.get(int(item), {}).pop(str(name), None)
        self.write()

    def write(self):
        shown = [self.items[item].get("label", "") for item in self.order
                 if self.items[item].get("visible", True) and self.items[item].get("type") != "separator"]
        with open(self.out + ".new", "w", encoding="utf-8") as out:
            out.write("".join(label + "\n" for label in shown))
        os.replace(self.out + ".new", self.out)


class Watcher(dbus.service.Object):
    def __init__(self, bus, log, gnome):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.bus = bus
        self.log = log
        self.gnome = gnome
        self.menus = []
        self.items = {}  # "service/path" -> owner's unique name
        bus.add_signal_receiver(self.owner_changed, "NameOwnerChanged", "org.freedesktop.DBus")
        bus.add_signal_receiver(self.new_icon, "NewIcon", ITEM, sender_keyword="sender")
        bus.add_signal_receiver(self.new_tooltip, "NewToolTip", ITEM, sender_keyword="sender")

    def note(self, line):
        with open(self.log, "a", encoding="utf-8") as log:
            log.write(line + "\n")

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender):
        item = sender + service if service.startswith("/") else service + "/StatusNotifierItem"
        if item not in self.items:
            self.items[item] = sender
            self.note("registered " + item)
            self.StatusNotifierItemRegistered(item)
            if self.gnome and not self.menus:
                service, path = item.split("/", 1)
                self.bus.get_object(service, "/" + path, introspect=False).Get(
                    ITEM, "Menu", dbus_interface=dbus.PROPERTIES_IFACE, error_handler=print,
                    reply_handler=lambda menu: self.menus.append(
                        CachedMenu(self.bus, sender, menu, self.log + ".menu")))

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, item):
        pass

    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s", path_keyword="path")
    def Introspect(self, path):
        return INTROSPECTION if path == "/StatusNotifierWatcher" else "<node/>"

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"RegisteredStatusNotifierItems": dbus.Array(list(self.items), signature="s"),
                "IsStatusNotifierHostRegistered": True, "ProtocolVersion": dbus.Int32(0)}

    def owner_changed(self, name, old, new):
        for item, owner in list(self.items.items()):
            if not new and owner == name:
                del self.items[item]
                self.note("unregistered " + item)
                self.StatusNotifierItemUnregistered(item)

    def new_icon(self, sender):
        self.note("NewIcon " + sender)

    def new_tooltip(self, sender):
        self.note("NewToolTip %.3f %s" % (time.monotonic(), sender))


def item_proxy(bus):
    items = bus.get_object(WATCHER, "/StatusNotifierWatcher").Get(
        WATCHER, "RegisteredStatusNotifierItems", dbus_interface=dbus.PROPERTIES_IFACE)
    service, path = items[0].split("/", 1)
    return bus.get_object(service, "/" + path)


def menu_items(bus, item):
    menu = bus.get_object(item.bus_name, item.Get(ITEM, "Menu", dbus_interface=dbus.PROPERTIES_IFACE))
    _, (_, _, children) = menu.GetLayout(0, -1, [], dbus_interface="com.canonical.dbusmenu")
    return menu, [(int(child[0]), dict(child[1])) for child in children]


def main():
    command = sys.argv[1]
    if command == "serve":
        from dbus.mainloop.glib import DBusGMainLoop
        from gi.repository import GLib
        DBusGMainLoop(set_as_default=True)
        bus = dbus.SessionBus()
        watcher = Watcher(bus, sys.argv[2], "--gnome" in sys.argv[3:])
        name = dbus.service.BusName(WATCHER, bus)
        open(sys.argv[2] + ".ready", "w").close()
        GLib.MainLoop().run()
        return
    bus = dbus.SessionBus()
    if command == "items":
        items = bus.get_object(WATCHER, "/StatusNotifierWatcher").Get(
            WATCHER, "RegisteredStatusNotifierItems", dbus_interface=dbus.PROPERTIES_IFACE)
        print("\n".join(items))
        return
    item = item_proxy(bus)
    if command == "icon":
        print(item.Get(ITEM, "IconName", dbus_interface=dbus.PROPERTIES_IFACE))
    elif command == "tooltip":
        print(item.Get(ITEM, "ToolTip", dbus_interface=dbus.PROPERTIES_IFACE)[2])
    elif command == "activate":
        x, y = (int(sys.argv[2]), int(sys.argv[3])) if len(sys.argv) > 3 else (0, 0)
        item.Activate(x, y, dbus_interface=ITEM)
    elif command == "menu":
        for _, properties in menu_items(bus, item)[1]:
            if properties.get("visible", True) and "label" in properties:
                print(properties["label"])
    elif command == "click":
        menu, children = menu_items(bus, item)
        ids = [id for id, properties in children if properties.get("label") == sys.argv[2]]
        menu.Event(ids[0], "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0),
                   dbus_interface="com.canonical.dbusmenu")


main()
