"""A desktop notification service of the test's own, on the session bus it runs on.

Owns org.freedesktop.Notifications, as a desktop's notification daemon does,
and prints one JSON line per notification asked for:
    {"id": N, "app": A, "summary": S, "body": B, "actions": [...]}
after a first line {"ready": true} once the name is owned. Shows nothing.
"""

import json
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

INTERFACE = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
  </interface>
</node>
"""

last_id = 0


def on_call(connection, sender, path, interface, method, parameters, invocation):
    global last_id
    if method == "GetCapabilities":
        invocation.return_value(GLib.Variant("(as)", (["body", "actions"],)))
    elif method == "Notify":
        app, replaces, _icon, summary, body, actions, _hints, _timeout = parameters.unpack()
        last_id = replaces or last_id + 1
        print(json.dumps({"id": last_id, "app": app, "summary": summary, "body": body, "actions": actions}),
              flush=True)
        invocation.return_value(GLib.Variant("(u)", (last_id,)))
    elif method == "CloseNotification":
        invocation.return_value(None)
    elif method == "GetServerInformation":
        invocation.return_value(GLib.Variant("(ssss)", ("kavelo-test", "Kavelo tests", "1", "1.2")))


def main():
    loop = GLib.MainLoop()
    node = Gio.DBusNodeInfo.new_for_xml(INTERFACE)

    def on_bus(connection, _name):
        connection.register_object("/org/freedesktop/Notifications", node.interfaces[0], on_call, None, None)

    def on_name(_connection, _name):
        print(json.dumps({"ready": True}), flush=True)

    def on_lost(_connection, _name):
        print(json.dumps({"error": "the name org.freedesktop.Notifications is taken"}), flush=True)
        loop.quit()

    Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications", Gio.BusNameOwnerFlags.NONE,
                     on_bus, on_name, on_lost)
    loop.run()


if __name__ == "__main__":
    sys.exit(main())
