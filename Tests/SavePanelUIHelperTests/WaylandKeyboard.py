#!/usr/bin/env python3
"""Types text and then Return into the focused window of the GNOME compositor that owns this
session bus, through its remote-desktop interface: the one way to send keys on Wayland."""

import sys
import time

import dbus

SERVICE = "org.gnome.Mutter.RemoteDesktop"
RETURN = 0xFF0D
SHIFT = 0xFFE1

bus = dbus.SessionBus()
desktop = dbus.Interface(bus.get_object(SERVICE, "/org/gnome/Mutter/RemoteDesktop"), SERVICE)
session = dbus.Interface(bus.get_object(SERVICE, desktop.CreateSession()), SERVICE + ".Session")
session.Start()
# The first key of a new virtual keyboard only brings its keymap to the client, which drops the
# key itself: a Shift goes first.
for keysym in [SHIFT] + [ord(character) for character in sys.argv[1]] + [RETURN]:
    for pressed in (True, False):
        session.NotifyKeyboardKeysym(dbus.UInt32(keysym), pressed)
    time.sleep(0.04)
session.Stop()
