#!/usr/bin/env python3
"""A save panel on the session bus: records the method's calls and the signal's broadcasts, one
line each; touches "<record>.ready" once it owns the name; quits after the first signal."""

import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

RECORD, NAME, PATH, INTERFACE, METHOD, SIGNAL = sys.argv[1:7]


def record(line):
    with open(RECORD, "a", encoding="utf-8") as file:
        file.write(line + "\n")


# The method is named on the command line, so the class is made once the name is known.
activate = lambda _panel: record(METHOD)
activate.__name__ = METHOD
Panel = type("Panel", (dbus.service.Object,),
             {METHOD: dbus.service.method(INTERFACE, in_signature="", out_signature="")(activate)})

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
loop = GLib.MainLoop()
bus = dbus.SessionBus()
panel = Panel(bus, PATH)
bus.add_signal_receiver(lambda: (record(SIGNAL), loop.quit()), signal_name=SIGNAL,
                        dbus_interface=INTERFACE, path=PATH)
name = dbus.service.BusName(NAME, bus)
open(RECORD + ".ready", "w").close()
GLib.timeout_add_seconds(60, loop.quit)  # should no signal ever come
loop.run()
