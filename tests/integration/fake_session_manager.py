"""A stand-in for the desktop's session manager on a test session bus: it
owns org.gnome.SessionManager, grants every inhibition and prints one JSON
line per call ("ready" first). Run with the system python, which has GLib's
bindings (python3-gi)."""

import json
import sys

from gi.repository import Gio, GLib

INTERFACE = """
<node>
  <interface name="org.gnome.SessionManager">
    <method name="Inhibit">
      <arg type="s" name="app_id" direction="in"/>
      <arg type="u" name="toplevel_xid" direction="in"/>
      <arg type="s" name="reason" direction="in"/>
      <arg type="u" name="flags" direction="in"/>
      <arg type="u" name="inhibit_cookie" direction="out"/>
    </method>
    <method name="Uninhibit">
      <arg type="u" name="inhibit_cookie" direction="in"/>
    </method>
  </interface>
</node>
"""

cookies = iter(range(100, 1000))


def report(entry):
    print(json.dumps(entry), flush=True)


def on_call(connection, sender, path, interface, method, params, invocation):
    if method == "Inhibit":
        app_id, xid, reason, flags = params.unpack()
        cookie = next(cookies)
        report({"call": "Inhibit", "app_id": app_id, "xid": xid, "reason": reason, "flags": flags,
                "cookie": cookie})
        invocation.return_value(GLib.Variant("(u)", (cookie,)))
    elif method == "Uninhibit":
        (cookie,) = params.unpack()
        report({"call": "Uninhibit", "cookie": cookie})
        invocation.return_value(None)


def main():
    loop = GLib.MainLoop()
    node = Gio.DBusNodeInfo.new_for_xml(INTERFACE)

    def on_bus(connection, name):
        connection.register_object("/org/gnome/SessionManager", node.interfaces[0], on_call, None, None)

    Gio.bus_own_name(Gio.BusType.SESSION, "org.gnome.SessionManager", Gio.BusNameOwnerFlags.NONE,
                     on_bus, lambda c, n: report({"call": "ready"}), lambda c, n: loop.quit())
    loop.run()


if __name__ == "__main__":
    sys.exit(main())
