#!/usr/bin/env python3
"""A stand-in desktop file manager for the tests.

Started by a private session bus when something calls org.freedesktop.FileManager1; appends one
JSON line per ShowItems call ({"uris": [...], "startupId": "..."}) to the file named by its
argument, and exits with the bus.
"""

import json
import os
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

NAME = "org.freedesktop.FileManager1"
PATH = "/org/freedesktop/FileManager1"
# A bound on the recorder's life should the bus go away unnoticed.
LIFETIME_SECONDS = 120


class FileManager(dbus.service.Object):
    def __init__(self, bus, record_path):
        super().__init__(bus, PATH)
        self.record_path = record_path

    @dbus.service.method(NAME, in_signature="ass", out_signature="")
    def ShowItems(self, uris, startup_id):
        call = {"uris": [str(uri) for uri in uris], "startupId": str(startup_id)}
        with open(self.record_path, "a", encoding="utf-8") as record:
            record.write(json.dumps(call) + "\n")


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    loop = GLib.MainLoop()
    bus = dbus.SessionBus()
    bus.set_exit_on_disconnect(False)
    bus.call_on_disconnection(lambda _connection: loop.quit())
    # Both must stay referenced while the loop runs: dropping the name releases it.
    manager = FileManager(bus, sys.argv[1])
    name = dbus.service.BusName(NAME, bus)
    GLib.timeout_add_seconds(LIFETIME_SECONDS, loop.quit)
    loop.run()
    # Straight out, past the name's release: the bus is gone already.
    os._exit(0)


if __name__ == "__main__":
    main()
