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
# Each method's argument and result signatures, one type per argument.
METHODS = {"org.gnome.SessionManager": {"Inhibit": (["s", "u", "s", "u"], ["u"]), "Uninhibit": (["u"], [])},
           "org.freedesktop.Notifications": {
               "Notify": (["s", "u", "s", "s", "s", "as", "a{sv}", "i"], ["u"]), "CloseNotification": (["u"], []),
               "GetCapabilities": ([], ["as"]), "GetServerInformation": ([], ["s", "s", "s", "s"])}}


def introspection():
    def args(types, direction):
        return "".join('<arg type="%s" direction="%s"/>' % (t, direction) for t in types)
    return "<node>%s</node>" % "".join(
        '<interface name="%s">%s</interface>' % (name, "".join(
            '<method name="%s">%s%s</method>' % (method, args(ins, "in"), args(outs, "out"))
            for method, (ins, outs) in methods.items())) for name, methods in METHODS.items())


cookies = iter(range(100, 1000))
notification_ids = iter(range(1, 1000))


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
    node = Gio.DBusNodeInfo.new_for_xml(introspection())
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
