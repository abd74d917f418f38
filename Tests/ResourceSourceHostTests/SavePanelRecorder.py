#!/usr/bin/env python3
"""A stand-in for a running save panel on the session bus, for the tests.

Arguments: record file, bus name, object path, interface, method, signal. Owns the name, answers
the method, and appends one line per call of the method and per broadcast of the signal to the
record file. Creates "<record>.ready" once it owns the name, and exits after the first signal.
"""

import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

RECORD, NAME, PATH, INTERFACE, METHOD, SIGNAL = sys.argv[1:7]
# A bound on the recorder's life should no signal ever come.
LIFETIME_SECONDS = 60


def record(line):
    with open(RECORD, "a", encoding="utf-8") as file:
        file.write(line + "\n")


def activate(_panel):
    record(METHOD)


# The method is named on the command line, so the class is made once the name is known.
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
GLib.timeout_add_seconds(LIFETIME_SECONDS, loop.quit)
loop.run()
