"""NetworkManager and logind on the private bus that stands in for the system bus, as strict as
the real ones in what the app uses: NetworkManager's State property and StateChanged signal,
logind's PrepareForSleep signal and Inhibit method (a file descriptor that holds the lock until
closed). A test plays the machine through app.velmor.Test.System: SetNetwork(state), Sleep(bool),
and HeldLocks() counts the locks not yet released. Prints "ready" once both names are owned."""
import os
import select
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NM = "org.freedesktop.NetworkManager"
LOGIN = "org.freedesktop.login1.Manager"


class NetworkManager(dbus.service.Object):
    def __init__(self, bus, state):
        super().__init__(bus, "/org/freedesktop/NetworkManager")
        self.state = state

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface != NM or name != "State":
            raise dbus.exceptions.DBusException("no such property", name="org.freedesktop.DBus.Error.InvalidArgs")
        return dbus.UInt32(self.state)

    @dbus.service.signal(NM, signature="u")
    def StateChanged(self, state):
        pass


class Login(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/login1")
        self.locks = []

    @dbus.service.method(LOGIN, in_signature="ssss", out_signature="h")
    def Inhibit(self, what, who, why, mode):
        if what != "sleep" or mode not in ("delay", "block"):
            raise dbus.exceptions.DBusException("bad lock", name="org.freedesktop.DBus.Error.InvalidArgs")
        ours, theirs = os.pipe()
        self.locks.append(ours)
        lock = dbus.types.UnixFd(theirs)  # a copy of its own: ours is closed at once
        os.close(theirs)
        return lock

    @dbus.service.signal(LOGIN, signature="b")
    def PrepareForSleep(self, start):
        pass


class Control(dbus.service.Object):
    def __init__(self, bus, nm, login):
        super().__init__(bus, "/app/velmor/Test")
        self.nm, self.login = nm, login

    @dbus.service.method("app.velmor.Test.System", in_signature="u", out_signature="")
    def SetNetwork(self, state):
        self.nm.state = int(state)
        self.nm.StateChanged(dbus.UInt32(state))

    @dbus.service.method("app.velmor.Test.System", in_signature="b", out_signature="")
    def Sleep(self, start):
        self.login.PrepareForSleep(bool(start))

    @dbus.service.method("app.velmor.Test.System", in_signature="", out_signature="u")
    def HeldLocks(self):
        held = []
        for fd in self.login.locks:
            readable, _, _ = select.select([fd], [], [], 0)
            if readable and os.read(fd, 1) == b"":  # every writer closed it: released
                os.close(fd)
            else:
                held.append(fd)
        self.login.locks = held
        return len(held)


DBusGMainLoop(set_as_default=True)
bus = dbus.SystemBus()
nm = NetworkManager(bus, int(sys.argv[1]) if len(sys.argv) > 1 else 70)
login = Login(bus)
control = Control(bus, nm, login)
names = [dbus.service.BusName(NM, bus), dbus.service.BusName("org.freedesktop.login1", bus),
         dbus.service.BusName("app.velmor.TestSystem", bus)]
print("ready", flush=True)
GLib.MainLoop().run()
