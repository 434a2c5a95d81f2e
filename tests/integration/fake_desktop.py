"""Stand-ins for the desktop's session manager and notification server on a
test session bus: it owns org.gnome.SessionManager, granting every
inhibition, and org.freedesktop.Notifications, showing nothing, and prints one
JSON line per call ("ready" first, once both names are held). Run with the
system python, which has GLib's bindings (python3-gi)."""

import json
import sys

from gi.repository import Gio, GLib

NAMES = {"org.gnome.SessionManager": "/org/gnome/SessionManager",
         "org.freedesktop.Notifications": "/org/freedesktop/Notifications"}

INTERFACES = """
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
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" name="app_name" direction="in"/>
      <arg type="u" name="replaces_id" direction="in"/>
      <arg type="s" name="app_icon" direction="in"/>
      <arg type="s" name="summary" direction="in"/>
      <arg type="s" name="body" direction="in"/>
      <arg type="as" name="actions" direction="in"/>
      <arg type="a{sv}" name="hints" direction="in"/>
      <arg type="i" name="expire_timeout" direction="in"/>
      <arg type="u" name="id" direction="out"/>
    </method>
    <method name="CloseNotification">
      <arg type="u" name="id" direction="in"/>
    </method>
    <method name="GetCapabilities">
      <arg type="as" name="capabilities" direction="out"/>
    </method>
    <method name="GetServerInformation">
      <arg type="s" name="name" direction="out"/>
      <arg type="s" name="vendor" direction="out"/>
      <arg type="s" name="version" direction="out"/>
      <arg type="s" name="spec_version" direction="out"/>
    </method>
  </interface>
</node>
"""

cookies = iter(range(100, 1000))
notification_ids = iter(range(1, 1000))


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
    elif method == "Notify":
        _, replaces, _, summary, body, _, _, _ = params.unpack()
        report({"call": "Notify", "summary": summary, "body": body, "replaces": replaces})
        invocation.return_value(GLib.Variant("(u)", (replaces or next(notification_ids),)))
    elif method == "GetCapabilities":
        invocation.return_value(GLib.Variant("(as)", (["body"],)))
    elif method == "GetServerInformation":
        invocation.return_value(GLib.Variant("(ssss)", ("stand-in", "quillon tests", "1", "1.2")))
    else:
        invocation.return_value(None)


def main():
    loop = GLib.MainLoop()
    node = Gio.DBusNodeInfo.new_for_xml(INTERFACES)
    waiting = set(NAMES)

    def on_bus(connection, name):
        interface = next(i for i in node.interfaces if i.name == name)
        connection.register_object(NAMES[name], interface, on_call, None, None)

    def on_name(connection, name):
        waiting.discard(name)
        if not waiting:
            report({"call": "ready"})

    for name in NAMES:
        Gio.bus_own_name(Gio.BusType.SESSION, name, Gio.BusNameOwnerFlags.NONE,
                         on_bus, on_name, lambda c, n: loop.quit())
    loop.run()


if __name__ == "__main__":
    sys.exit(main())
