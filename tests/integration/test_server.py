#!/usr/bin/python3
"""The server process, the bus bridge and the command line, tried as clients in other processes
try them: a private session bus with its own activation folder, the server started on demand.

    test_server.py BUILD_DIR
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ElementTree

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)

BUILD = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else os.getcwd()
SERVER = os.path.join(BUILD, "vtranscodeserver", "ZeltoVTranscodeServer")
CLIENT = os.path.join(BUILD, "client", "vtranscode")
BUS_NAME = "com.zelto.VTranscodeServer"
FACTORY_PATH = "/com/zelto/VTranscodeServer"
FACTORY = "com.zelto.VTranscodeServer.ClassFactory"
SERVICE = "com.zelto.VTranscodeServerLib.IVTranscodeService"
DISPATCH = "com.zelto.Automation.IDispatch"
EVENTS = "com.zelto.Automation.IConnectionPointContainer"
SERVICE_CLASS = "VTranscodeServer.VTranscodeServiceObj"
HANDLER_CLASS = "VTranscodeServer.VTranscodeHandler"
MISSING = dbus.Struct((dbus.UInt16(10), dbus.Int32(-2147352572, variant_level=1)))


def wait_until(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


class PrivateSession:
    """A temporary home with a private session bus and the server registered for activation."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="vts-integration-")
        home = os.path.join(self.root, "home")
        run = os.path.join(self.root, "run")
        os.makedirs(os.path.join(home, ".local/share/dbus-1/services"))
        os.makedirs(os.path.join(self.root, "registry"))
        os.mkdir(run, 0o700)
        self.env = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, ".local/share"),
                        XDG_CONFIG_HOME=os.path.join(home, ".config"), XDG_RUNTIME_DIR=run,
                        ZELTO_REGISTRY_DIR=os.path.join(self.root, "registry"))
        config = os.path.join(self.root, "bus.conf")
        with open(config, "w") as file:
            file.write("""<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:dir=%s</listen>
<servicedir>%s</servicedir>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/></policy></busconfig>""" % (run, os.path.join(home, ".local/share/dbus-1/services")))
        self.bus_daemon = subprocess.Popen(
            ["dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"],
            stdout=subprocess.PIPE, env=self.env, text=True)
        self.address = self.bus_daemon.stdout.readline().strip()
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.address
        subprocess.run([SERVER, "-RegServerPerUser"], env=self.env, check=True)

    def connect(self):
        return dbus.bus.BusConnection(self.address)

    def run(self, *arguments, **options):
        return subprocess.run(list(arguments), env=self.env, capture_output=True, text=True,
                              timeout=options.pop("timeout", 120), **options)

    def server_pids(self):
        found = []
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    if os.readlink("/proc/%s/exe" % entry) == SERVER:
                        with open("/proc/%s/environ" % entry, "rb") as file:
                            environ = file.read()
                        if self.root.encode() in environ:
                            found.append(int(entry))
                except OSError:
                    pass
        return found

    def close(self):
        subprocess.run([SERVER, "-close"], env=self.env, timeout=30)
        self.bus_daemon.terminate()
        self.bus_daemon.wait(10)
        shutil.rmtree(self.root, ignore_errors=True)


class ServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = PrivateSession()
        cls.clip = os.path.join(cls.session.root, "clip.mp4")
        subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                        "testsrc2=size=320x240:rate=15", "-f", "lavfi", "-i", "sine=frequency=440",
                        "-t", "2", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac",
                        "-shortest", cls.clip], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def create(self, bus, name):
        path = bus.get_object(BUS_NAME, FACTORY_PATH).CreateInstance(name, dbus_interface=FACTORY)
        return path, bus.get_object(BUS_NAME, path)

    def test_activation_gives_one_service_and_a_handler_per_request(self):
        first, second = self.session.connect(), self.session.connect()
        service_a, _ = self.create(first, SERVICE_CLASS)
        service_b, _ = self.create(second, "VTranscodeServer.VTranscodeServiceOb.1")
        handler_a, _ = self.create(first, HANDLER_CLASS)
        handler_b, _ = self.create(second, HANDLER_CLASS)
        self.assertEqual(service_a, service_b)
        self.assertNotEqual(handler_a, handler_b)
        self.assertTrue(self.session.server_pids())
        first.close()
        second.close()

    def test_dispatch_by_name_and_by_id(self):
        bus = self.session.connect()
        _, service = self.create(bus, SERVICE_CLASS)
        ids = service.GetIDsOfNames(["GetNext", "GetCount"], dbus_interface=DISPATCH)
        self.assertEqual(int(ids[0]), 11)
        count = service.Invoke(ids[1], [], dbus_interface=DISPATCH)
        self.assertEqual(int(count[0][0]), 3)  # VT_I4
        with self.assertRaises(dbus.DBusException) as raised:
            service.Invoke(9, [], dbus_interface=DISPATCH)
        self.assertEqual(raised.exception.get_dbus_name(),
                         "com.zelto.VTranscodeServer.Error.HResult")
        self.assertTrue(raised.exception.get_dbus_message().startswith("0x80020003"))
        bus.close()

    def test_a_failure_arrives_as_error_xml_a_standard_parser_reads(self):
        bus = self.session.connect()
        _, service = self.create(bus, SERVICE_CLASS)
        missing = os.path.join(self.session.root, "no such file.mp4")
        with self.assertRaises(dbus.DBusException) as raised:
            service.AddFile(missing, missing + ".out.mp4", 2, dbus.UInt32(10), MISSING,
                            dbus_interface=SERVICE)
        self.assertEqual(raised.exception.get_dbus_name(),
                         "com.zelto.VTranscodeServer.Error.QException")
        root = ElementTree.fromstring(raised.exception.get_dbus_message())
        self.assertEqual(root.tag, "error")
        self.assertTrue(list(root.iter("errorentry")))
        bus.close()

    def test_events_reach_only_advised_peers(self):
        advised, silent = self.session.connect(), self.session.connect()
        path, service = self.create(advised, SERVICE_CLASS)
        self.create(silent, SERVICE_CLASS)
        received = {"advised": 0, "silent": 0}
        advised.add_signal_receiver(lambda item: received.__setitem__("advised", received["advised"] + 1),
                                    signal_name="OnEvent", path=path)
        silent.add_signal_receiver(lambda item: received.__setitem__("silent", received["silent"] + 1),
                                   signal_name="OnEvent", path=path)
        cookie = service.Advise(dbus_interface=EVENTS)
        output = os.path.join(self.session.root, "events.mp4")
        service.AddFile(self.clip, output, 2, dbus.UInt32(10), MISSING, dbus_interface=SERVICE)
        context = GLib.MainContext.default()
        deadline = time.monotonic() + 60
        while received["advised"] == 0 and time.monotonic() < deadline:
            context.iteration(False)
            time.sleep(0.01)
        self.assertGreater(received["advised"], 0)
        self.assertEqual(received["silent"], 0)
        service.Unadvise(cookie, dbus_interface=EVENTS)
        advised.close()
        silent.close()

    def test_bad_arguments_are_errors_and_the_server_lives_on(self):
        bus = self.session.connect()
        _, service = self.create(bus, SERVICE_CLASS)
        proxy = dbus.Interface(service, DISPATCH)
        for arguments in ([dbus.Struct((dbus.UInt16(3), dbus.String("x", variant_level=1)))],
                          [dbus.Struct((dbus.UInt16(8), dbus.String("x" * (10 << 20), variant_level=1)))]):
            with self.assertRaises(dbus.DBusException):
                proxy.Invoke(4, arguments)
        self.assertGreaterEqual(int(service.GetCount(dbus_interface=SERVICE)), 0)  # still serving
        bus.close()

    def test_command_line_convert(self):
        output = os.path.join(self.session.root, "phone.mp4")
        done = self.session.run(CLIENT, "convert", self.clip, output, "--format", "10")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue(os.path.getsize(output) > 0)
        missing = self.session.run(CLIENT, "convert", self.clip + ".none", output + ".2",
                                   "--format", "10")
        self.assertNotEqual(missing.returncode, 0)
        self.assertTrue(missing.stderr.strip())
        refused = self.session.run(CLIENT, "convert", self.clip, output + ".3", "--format", "99")
        self.assertNotEqual(refused.returncode, 0)
        self.assertTrue(refused.stderr.strip())
        listed = self.session.run(CLIENT, "--json", "GetCount")
        self.assertEqual(listed.returncode, 0, listed.stderr)
        json.loads(listed.stdout)

    def test_zz_server_ends_after_the_last_reference_and_close_ends_instances(self):
        # Every connection of the other tests is closed: the server ends about 5 s later.
        self.assertTrue(wait_until(lambda: not self.session.server_pids(), 20))
        save = os.path.join(self.session.env["XDG_DATA_HOME"], "Zelto/VPlatform/TranscodeQueue.sav")
        self.assertTrue(os.path.exists(save))
        bus = self.session.connect()
        self.create(bus, SERVICE_CLASS)
        self.assertTrue(self.session.server_pids())
        closed = self.session.run(SERVER, "-CLOSE")
        self.assertEqual(closed.returncode, 0)
        self.assertTrue(wait_until(lambda: not self.session.server_pids(), 10))
        started = time.monotonic()
        self.session.run(SERVER, "/close")
        self.assertLess(time.monotonic() - started, 1.5)
        bus.close()


if __name__ == "__main__":
    unittest.main()
