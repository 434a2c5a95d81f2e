"""A private PipeWire session for one test, as most current desktops run it: pipewire,
wireplumber and pipewire-pulse under their own D-Bus session, with PulseServer's devices."""

import os
import shutil
import subprocess
import time

from harness import wait_for
from pulse_server import PulseServer


class PipeWireServer(PulseServer):
    SOCKET = ("runtime", "pulse", "native")

    def start(self):
        if self.drop_in:
            conf_d = os.path.join(self.dir, "config", "pipewire", "pipewire-pulse.conf.d")
            os.makedirs(conf_d, exist_ok=True)
            shutil.copy(self.drop_in, conf_d)
        script = ("pipewire & sleep 0.3; wireplumber & pipewire-pulse & "
                  "trap 'kill $(jobs -p) 2>/dev/null; wait' TERM; wait")
        self._launch(["dbus-run-session", "--", "sh", "-c", script])
        if not os.path.exists(self.mic_fifo):
            os.mkfifo(self.mic_fifo)
        for args in self.modules():
            loaded = subprocess.run(["pactl", "load-module", *args], env=self.env(), capture_output=True, text=True,
                                    timeout=30)
            if loaded.returncode != 0:
                raise RuntimeError("load-module %s failed: %s" % (args[0], loaded.stderr))
            name, kind = args[1].split("=", 1)[1], "sinks" if "sink" in args[0] else "sources"
            wait_for(lambda: name in self.pactl("list", "short", kind), 10)
        # The session manager settles its defaults after the devices appear.
        for _ in range(3):
            self.pactl("set-default-sink", self.default_sink)
            self.pactl("set-default-source", "VirtualMic")
            time.sleep(0.2)
        if not wait_for(lambda: self.pactl("get-default-sink").strip() == self.default_sink, 30):
            raise RuntimeError("the default sink did not settle: " + self.daemon_log())
        return self
