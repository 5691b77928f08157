#!/usr/bin/python3
"""Queues one conversion at the transcode server, follows its events and shows how a failure
arrives: as a D-Bus error whose message is the server's error XML.

    dbus-run-session -- /usr/bin/python3 examples/vtranscode_example.py SOURCE DEST FORMAT [DEVICE]

Needs Debian's python3-dbus and python3-gi (GLib main loop); the server must be registered for
activation (ZeltoVTranscodeServer -RegServerPerUser)."""
import sys
import xml.etree.ElementTree as ElementTree

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

BUS_NAME = "com.zelto.VTranscodeServer"
FACTORY_PATH = "/com/zelto/VTranscodeServer"
SERVICE_CLASS = "VTranscodeServer.VTranscodeServiceObj"
SERVICE_INTERFACE = "com.zelto.VTranscodeServerLib.IVTranscodeService"
EVENTS_INTERFACE = "com.zelto.Automation.IConnectionPointContainer"
TRANSCODE_NS = "http://www.zelto.com/Ve2e/ns/transcode"
VT_ERROR = 10
MISSING = dbus.Struct((dbus.UInt16(VT_ERROR), dbus.Int32(-2147352572, variant_level=1)))
EVENT_NAMES = {1: "Started", 2: "Completed", 3: "Error", 4: "Progress", 5: "Paused",
               6: "Continued", 7: "Aborted", 8: "Added", 9: "Removed", 10: "Cleared",
               11: "Closed", 12: "QueueSaved", 13: "QueueLoaded"}
ENDS = {2, 3, 7, 9}


def properties(item):
    """The event item's properties as {(name, namespace): value}."""
    _class_name, _guid, _datastore, props = item
    return {(str(name), str(namespace)): value for name, namespace, _kind, (_vt, value) in props}


def describe_error(error):
    """The entries of a QException error, read with a standard XML parser."""
    if error.get_dbus_name() != "com.zelto.VTranscodeServer.Error.QException":
        return error.get_dbus_message()
    root = ElementTree.fromstring(error.get_dbus_message())
    lines = []
    for entry in root.iter("errorentry"):
        lines.append("%s (code %s)" % (entry.findtext("description", "").strip(),
                                       entry.findtext("errorcode", "").strip()))
    return "\n".join(lines)


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    source, destination, output_format = sys.argv[1], sys.argv[2], int(sys.argv[3])
    device = sys.argv[4] if len(sys.argv) > 4 else None
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    factory = bus.get_object(BUS_NAME, FACTORY_PATH)
    path = factory.CreateInstance(SERVICE_CLASS,
                                  dbus_interface="com.zelto.VTranscodeServer.ClassFactory")
    service = bus.get_object(BUS_NAME, path)
    loop = GLib.MainLoop()
    state = {"job": None, "result": 1, "done": False, "early": []}

    def on_event(item):
        props = properties(item)
        if state["job"] is None:
            state["early"].append(item)
            return
        if int(props.get(("ItemID", TRANSCODE_NS), -1)) != state["job"]:
            return
        code = int(props.get(("Type", TRANSCODE_NS), 0))
        print("event", EVENT_NAMES.get(code, code),
              {name: str(value) for (name, _ns), value in props.items() if name != "Type"})
        if code in ENDS:
            state["result"] = 0 if code == 2 else 1
            state["done"] = True
            loop.quit()

    bus.add_signal_receiver(on_event, signal_name="OnEvent",
                            dbus_interface="com.zelto.VEventLib.IVEventListener",
                            bus_name=BUS_NAME, path=path)
    cookie = service.Advise(dbus_interface=EVENTS_INTERFACE)
    try:
        product = (MISSING if device is None else
                   dbus.Struct((dbus.UInt16(8), dbus.String(device, variant_level=1))))
        state["job"] = int(service.AddFile(source, destination, 2, dbus.UInt32(output_format),
                                           product, dbus_interface=SERVICE_INTERFACE))
    except dbus.DBusException as error:
        print("The job was refused:\n" + describe_error(error), file=sys.stderr)
        return 1
    print("queued job", state["job"])
    for item in state.pop("early"):
        on_event(item)
    if not state["done"]:
        loop.run()
    service.Unadvise(cookie, dbus_interface=EVENTS_INTERFACE)
    factory.Release(path, dbus_interface="com.zelto.VTranscodeServer.ClassFactory")
    return state["result"]


if __name__ == "__main__":
    sys.exit(main())
