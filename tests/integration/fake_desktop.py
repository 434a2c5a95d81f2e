"""Stand-ins for the desktop's session manager, granting every inhibition,
and notification server, showing nothing, on the session bus. Prints each call
as a JSON line, "ready" first. Run with the system python (GLib's bindings)."""

import itertools
import json

from gi.repository import Gio, GLib

INTERFACES = Gio.DBusNodeInfo.new_for_xml("""<node>
  <interface name="org.gnome.SessionManager">
    <method name="Inhibit"><arg name="app_id" type="s"/><arg name="xid" type="u"/><arg name="reason" type="s"/>
      <arg name="flags" type="u"/><arg name="cookie" type="u" direction="out"/></method>
    <method name="Uninhibit"><arg name="cookie" type="u"/></method>
  </interface>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify"><arg name="app" type="s"/><arg name="replaces" type="u"/><arg name="icon" type="s"/>
      <arg name="summary" type="s"/><arg name="body" type="s"/><arg name="actions" type="as"/>
      <arg name="hints" type="a{sv}"/><arg name="timeout" type="i"/><arg name="id" type="u" direction="out"/></method>
  </interface>
</node>""").interfaces
ANSWERS = {"Inhibit": itertools.count(100), "Notify": itertools.count(1)}  # cookies, notification ids


def on_call(connection, sender, path, interface, method, params, invocation):
    call = dict(zip([arg.name for arg in invocation.get_method_info().in_args], params.unpack()), call=method)
    if method in ANSWERS:
        call["answer"] = call.get("replaces") or next(ANSWERS[method])
    invocation.return_value(GLib.Variant("(u)", (call["answer"],)) if "answer" in call else None)
    print(json.dumps(call, default=repr), flush=True)


bus = Gio.bus_get_sync(Gio.BusType.SESSION)
for interface in INTERFACES:
    bus.register_object("/" + interface.name.replace(".", "/"), interface, on_call, None, None)
    bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                  GLib.Variant("(su)", (interface.name, 0)), None, Gio.DBusCallFlags.NONE, -1)
print(json.dumps({"call": "ready"}), flush=True)
GLib.MainLoop().run()
