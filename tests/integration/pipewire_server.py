"""A private PipeWire session for one test, as most current desktops run it:
pipewire, wireplumber and pipewire-pulse under their own D-Bus session, in
their own runtime folder. The pulse server gets the same devices as
PulseServer."""

import os
import shutil
import signal
import subprocess
import time

from harness import wait_for
from pulse_server import PulseServer


class PipeWireServer(PulseServer):
    def __init__(self, folder=None, default_sink="Speakers", loopback=True, drop_in=None):
        super().__init__(folder, default_sink, loopback, drop_in)
        self.socket = os.path.join(self.dir, "runtime", "pulse", "native")

    def start(self):
        for sub in ("runtime", "config", "state"):
            os.makedirs(os.path.join(self.dir, sub), mode=0o700, exist_ok=True)
        if self.drop_in:
            conf_d = os.path.join(self.dir, "config", "pipewire", "pipewire-pulse.conf.d")
            os.makedirs(conf_d, exist_ok=True)
            shutil.copy(self.drop_in, conf_d)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("PULSE_", "DBUS_", "PIPEWIRE_", "XDG_"))}
        env.update(HOME=self.dir, XDG_RUNTIME_DIR=os.path.join(self.dir, "runtime"),
                   XDG_CONFIG_HOME=os.path.join(self.dir, "config"), XDG_STATE_HOME=os.path.join(self.dir, "state"))
        script = "pipewire & sleep 0.3; wireplumber & pipewire-pulse & trap 'kill $(jobs -p) 2>/dev/null; wait' TERM; wait"
        self._launch(["dbus-run-session", "--", "sh", "-c", script], env, "pipewire-pulse", start_new_session=True)
        if not os.path.exists(self.mic_fifo):
            os.mkfifo(self.mic_fifo)
        self._load("module-null-sink", "sink_name=Speakers", "sink_properties=device.description=Speakers")
        if self.loopback:
            self._load("module-null-sink", "sink_name=VerdalisRecorder", "rate=44100", "channels=2",
                       "sink_properties=device.description=VerdalisRecorder")
        self._load("module-pipe-source", "source_name=VirtualMic", "file=" + self.mic_fifo,
                   "format=s16le", "rate=%d" % self.mic_rate, "channels=1")
        # The session manager settles its defaults after the devices appear.
        for _ in range(3):
            self.pactl("set-default-sink", self.default_sink)
            self.pactl("set-default-source", "VirtualMic")
            time.sleep(0.2)
        if not wait_for(lambda: self.pactl("get-default-sink").strip() == self.default_sink, 30):
            raise RuntimeError("the default sink did not settle: " + self.daemon_log())
        return self

    def _load(self, *args):
        out = subprocess.run(["pactl", "load-module", *args], env=self.env(), capture_output=True, text=True, timeout=30)
        if out.returncode != 0:
            raise RuntimeError("load-module %s failed: %s" % (args[0], out.stderr))
        name = args[1].split("=", 1)[1]
        wait_for(lambda: name in self.pactl("list", "short", "sinks" if "sink" in args[0] else "sources"), 10)

    def stop(self):
        if self.process and self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGTERM)
                self.process.wait(timeout=10)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                try:
                    os.killpg(self.process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                self.process.wait()
