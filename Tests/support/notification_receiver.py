"""Owns org.freedesktop.Notifications on the private session bus and appends each notification
it receives to a JSON-lines log, so the tests can see what the app posted. A test plays the user
through app.velmor.Test.Invoke (an action chosen: ActionInvoked, then NotificationClosed, as
servers do) and can take the "actions" capability away with SetActions(false)."""
import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

LOG = sys.argv[1]


class Receiver(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.next_id = 1
        self.actions = True

    @dbus.service.method("org.freedesktop.Notifications", in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["body", "body-markup"] + (["actions"] if self.actions else [])

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints, timeout):
        entry = {
            "app_name": str(app_name), "replaces_id": int(replaces_id), "app_icon": str(app_icon),
            "summary": str(summary), "body": str(body),
            "hints": {str(k): str(v) for k, v in hints.items()}, "id": self.next_id,
            "actions": [str(a) for a in actions],
        }
        with open(LOG, "a", encoding="utf-8") as log:
            log.write(json.dumps(entry, ensure_ascii=False) + "\n")
        self.next_id += 1
        return entry["id"]

    @dbus.service.method("org.freedesktop.Notifications", in_signature="u", out_signature="")
    def CloseNotification(self, id):
        self.NotificationClosed(id, 3)

    @dbus.service.signal("org.freedesktop.Notifications", signature="us")
    def ActionInvoked(self, id, key):
        pass

    @dbus.service.signal("org.freedesktop.Notifications", signature="uu")
    def NotificationClosed(self, id, reason):
        pass

    @dbus.service.method("app.velmor.Test", in_signature="us", out_signature="")
    def Invoke(self, id, key):
        self.ActionInvoked(id, key)
        self.NotificationClosed(id, 2)

    @dbus.service.method("app.velmor.Test", in_signature="b", out_signature="")
    def SetActions(self, on):
        self.actions = bool(on)

    @dbus.service.method("org.freedesktop.Notifications", in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("test-receiver", "velmor-tests", "1", "1.2")


DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("org.freedesktop.Notifications", bus)
receiver = Receiver(bus)
open(LOG, "a").close()
open(LOG + ".ready", "w").close()
GLib.MainLoop().run()
