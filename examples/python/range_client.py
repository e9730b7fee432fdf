#!/usr/bin/python3
"""Reads, sets and watches the Bluetooth LE range of ble-ranged, with GLib's Gio.

    python3 range_client.py get         print the level
    python3 range_client.py set LEVEL   set it (as root or a member of the administrators' group); LEVEL
                                        is a whole decimal number, anything else is refused before any call
    python3 range_client.py watch       print the level, then each new one, until SIGINT or SIGTERM

Debian: apt install python3-gi. Gio takes the system bus from DBUS_SYSTEM_BUS_ADDRESS when set.
"""
import re
import signal
import sys

from gi.repository import Gio, GLib

NAME = "com.orbo.RIDEviva"
PATH = "/com/orbo/RIDEviva"
INTERFACE = "com.orbo.Configuration.Legacy"
PROPERTIES = "org.freedesktop.DBus.Properties"


# Decimal digits only, with at most one sign: int() alone would also take " 12", "1_2" and the
# digits of other scripts.
LEVEL = re.compile(r"[+-]?[0-9]+", re.ASCII)


def level_from(text):
    """LEVEL as the property's INT32, or None: the service itself refuses levels outside 0 to 30,
    but a number beyond INT32 could not even be sent."""
    if LEVEL.fullmatch(text) is None:
        return None
    level = int(text)
    return level if -2**31 <= level < 2**31 else None


def get(bus):
    reply = bus.call_sync(NAME, PATH, PROPERTIES, "Get", GLib.Variant("(ss)", (INTERFACE, "Range")),
                          GLib.VariantType("(v)"), Gio.DBusCallFlags.NONE, -1, None)
    return reply.unpack()[0]


def set_level(bus, level):
    value = GLib.Variant("(ssv)", (INTERFACE, "Range", GLib.Variant("i", level)))
    bus.call_sync(NAME, PATH, PROPERTIES, "Set", value, None, Gio.DBusCallFlags.NONE, -1, None)


def watch(bus):
    def changed(_bus, _sender, _path, _interface, _signal, parameters):
        interface, values, _invalidated = parameters.unpack()
        if interface == INTERFACE and "Range" in values:
            print(values["Range"], flush=True)

    bus.signal_subscribe(NAME, PROPERTIES, "PropertiesChanged", PATH, None, Gio.DBusSignalFlags.NONE, changed)
    print(get(bus), flush=True)  # only now: a change in between is not missed
    loop = GLib.MainLoop()
    for number in (signal.SIGINT, signal.SIGTERM):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, number, loop.quit)
    loop.run()


def error_text(error):
    """The D-Bus error's name, say org.freedesktop.DBus.Error.InvalidArgs for a level out of range,
    and its message; an error that did not come from the bus, such as no bus, as GLib words it."""
    name = Gio.DBusError.get_remote_error(error)
    if name is None:
        return error.message
    # Gio carries the name in the message too. strip_remote_error would drop it from a copy only:
    # Python's exception keeps its own text.
    return f"{name}: {error.message.removeprefix(f'GDBus.Error:{name}: ')}"


def main(arguments):
    # The command line is checked whole before the bus is touched.
    level = None
    if len(arguments) == 2 and arguments[0] == "set":
        level = level_from(arguments[1])
        if level is None:
            print(f'Error: LEVEL must be a whole decimal number, such as 25, not "{arguments[1]}"', file=sys.stderr)
            return 2
    elif arguments not in (["get"], ["watch"]):
        print(__doc__, file=sys.stderr)
        return 2
    try:
        bus = Gio.bus_get_sync(Gio.BusType.SYSTEM, None)
        if arguments[0] == "get":
            print(get(bus))
        elif arguments[0] == "watch":
            watch(bus)
        else:
            set_level(bus, level)
    except GLib.Error as error:
        print(f"Error: {error_text(error)}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
