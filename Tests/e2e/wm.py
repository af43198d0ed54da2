#!/usr/bin/python3
"""Plays the part of a window manager for one request; the tests run without one.
  wm.py close WINDOW             asks WINDOW to close, as a window manager's close button does
                                 (WM_PROTOCOLS / WM_DELETE_WINDOW)
  wm.py iconified WINDOW SECONDS waits for WINDOW to ask to be minimized (ICCCM WM_CHANGE_STATE
                                 to IconicState); prints "ready" once listening, exits 1 at the
                                 time limit"""
import ctypes
import select
import sys
import time

x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x11.XConnectionNumber.argtypes = [ctypes.c_void_p]
x11.XPending.argtypes = [ctypes.c_void_p]
x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]

CLIENT_MESSAGE = 33
STRUCTURE_NOTIFY = 1 << 17
ICONIC_STATE = 3


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class Event(ctypes.Union):  # XEvent: every event is padded to 24 longs
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]


display = x11.XOpenDisplay(None)
if not display:
    sys.exit("no X display")
command, window = sys.argv[1], int(sys.argv[2], 0)

if command == "close":
    event = Event()
    event.xclient.type = CLIENT_MESSAGE
    event.xclient.window = window
    event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    sent = x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    sys.exit(0 if sent else "not sent")

if command == "iconified":
    change_state = x11.XInternAtom(display, b"WM_CHANGE_STATE", 0)
    # Sent to the root window for whoever listens there: the window manager, or us.
    x11.XSelectInput(display, x11.XDefaultRootWindow(display), STRUCTURE_NOTIFY)
    x11.XSync(display, 0)
    print("ready", flush=True)
    deadline = time.monotonic() + float(sys.argv[3])
    event = Event()
    while time.monotonic() < deadline:
        if not x11.XPending(display):
            select.select([x11.XConnectionNumber(display)], [], [], max(0.0, deadline - time.monotonic()))
            continue
        x11.XNextEvent(display, ctypes.byref(event))
        message = event.xclient
        if (message.type == CLIENT_MESSAGE and message.window == window
                and message.message_type == change_state and message.data[0] == ICONIC_STATE):
            sys.exit(0)
    sys.exit(1)

sys.exit(__doc__)
