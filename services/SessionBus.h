#pragma once

// Where the D-Bus session bus is, as GLib and libdbus look for it: DBUS_SESSION_BUS_ADDRESS,
// else the socket $XDG_RUNTIME_DIR/bus. With neither, both would autolaunch a bus of their own
// (dbus-launch and a dbus-daemon that outlive Orvela, after a stall of seconds).

// Whether no session bus can be found without autolaunching one.
bool sessionBusMissing();

// With no session bus to be found, points DBUS_SESSION_BUS_ADDRESS at an address that fails at
// once, so that nothing in this process autolaunches one. Call before any thread starts.
void preventSessionBusAutolaunch();
