"""Stand-ins for the desktop's session manager and notification server on a
test session bus: it owns org.gnome.SessionManager, granting every
inhibition, and org.freedesktop.Notifications, showing nothing, and prints one
JSON line per call ("ready" first, once both names are held). Run with the
system python, which has GLib's bindings (python3-gi)."""

import itertools
import json

from gi.repository import Gio, GLib

INTERFACES = Gio.DBusNodeInfo.new_for_xml("""<node>
  <interface name="org.gnome.SessionManager">
    <method name="Inhibit">
      <arg type="s"/><arg type="u"/><arg type="s"/><arg type="u"/><arg type="u" direction="out"/>
    </method>
    <method name="Uninhibit"><arg type="u"/></method>
  </interface>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s"/><arg type="u"/><arg type="s"/><arg type="s"/><arg type="s"/><arg type="as"/>
      <arg type="a{sv}"/><arg type="i"/><arg type="u" direction="out"/>
    </method>
  </interface>
</node>""").interfaces
cookies = itertools.count(100)
notification_ids = itertools.count(1)


def report(entry):
    print(json.dumps(entry), flush=True)


def on_call(connection, sender, path, interface, method, params, invocation):
    if method == "Inhibit":
        app_id, xid, reason, flags = params.unpack()
        cookie = next(cookies)
        report({"call": "Inhibit", "app_id": app_id, "xid": xid, "reason": reason, "flags": flags, "cookie": cookie})
        invocation.return_value(GLib.Variant("(u)", (cookie,)))
    elif method == "Uninhibit":
        report({"call": "Uninhibit", "cookie": params.unpack()[0]})
        invocation.return_value(None)
    else:
        _, replaces, _, summary, body, _, _, _ = params.unpack()
        report({"call": "Notify", "summary": summary, "body": body, "replaces": replaces})
        invocation.return_value(GLib.Variant("(u)", (replaces or next(notification_ids),)))


def main():
    loop = GLib.MainLoop()
    waiting = {interface.name for interface in INTERFACES}

    def on_bus(connection, name):
        interface = next(i for i in INTERFACES if i.name == name)
        connection.register_object("/" + name.replace(".", "/"), interface, on_call, None, None)

    def on_name(connection, name):
        waiting.discard(name)
        if not waiting:
            report({"call": "ready"})

    for interface in INTERFACES:
        Gio.bus_own_name(Gio.BusType.SESSION, interface.name, Gio.BusNameOwnerFlags.NONE,
                         on_bus, on_name, lambda c, n: loop.quit())
    loop.run()


if __name__ == "__main__":
    main()
