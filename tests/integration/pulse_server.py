"""A private PulseAudio server for one test, in a folder of its own: null sinks "Speakers"
(default) and "VerdalisRecorder", and a microphone "VirtualMic" fed through a pipe."""

import os
import shutil
import socket
import subprocess
import tempfile
import time

from harness import stop, wait_for


class PulseServer:
    """`folder` reuses a stopped server's folder; `default_sink` is the output it starts with, as
    a desktop's device-restore module would remember it; `loopback=False` leaves the loopback
    sink out, as on a desktop where it was never installed; `drop_in` is read at start."""
    SOCKET = ("native",)  # under the server's folder

    def __init__(self, folder=None, default_sink="Speakers", loopback=True, drop_in=None):
        self.dir = folder or tempfile.mkdtemp(prefix="quillon-pulse-")
        self.socket = os.path.join(self.dir, *self.SOCKET)
        self.mic_fifo = os.path.join(self.dir, "mic.fifo")
        self.mic_rate = 48000
        self.default_sink, self.loopback, self.drop_in = default_sink, loopback, drop_in
        self.process = None

    @property
    def server(self):
        return "unix:" + self.socket

    def env(self):
        return dict(os.environ, PULSE_SERVER=self.server, PULSE_CLIENTCONFIG=os.path.join(self.dir, "client.conf"))

    def modules(self):
        return [args for args in (
            ["module-null-sink", "sink_name=Speakers", "sink_properties=device.description=Speakers"],
            ["module-null-sink", "sink_name=VerdalisRecorder", "rate=44100", "channels=2",
             "sink_properties=device.description=VerdalisRecorder"] if self.loopback else None,
            ["module-pipe-source", "source_name=VirtualMic", "file=" + self.mic_fifo, "format=s16le",
             "rate=%d" % self.mic_rate, "channels=1"]) if args]

    def _launch(self, argv):
        """Starts the server in a session and folders of its own; returns once its socket answers."""
        for sub in ("runtime", "config", "state"):
            os.makedirs(os.path.join(self.dir, sub), mode=0o700, exist_ok=True)
        with open(os.path.join(self.dir, "client.conf"), "w") as f:
            f.write("autospawn = no\n")
        env = {k: v for k, v in os.environ.items() if not k.startswith(("PULSE_", "DBUS_", "PIPEWIRE_", "XDG_"))}
        env.update(HOME=self.dir, XDG_RUNTIME_DIR=os.path.join(self.dir, "runtime"),
                   XDG_CONFIG_HOME=os.path.join(self.dir, "config"), XDG_STATE_HOME=os.path.join(self.dir, "state"))
        with open(os.path.join(self.dir, "daemon.log"), "ab") as log:
            self.process = subprocess.Popen(argv, stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                            env=env, start_new_session=True)

        def answers():
            with socket.socket(socket.AF_UNIX) as s:
                return s.connect_ex(self.socket) == 0 or self.process.poll() is not None
        if not wait_for(answers, 30) or self.process.poll() is not None:
            self.stop()
            raise RuntimeError("%s did not start: %s" % (type(self).__name__, self.daemon_log()))

    def start(self):
        script = os.path.join(self.dir, "server.pa")
        with open(script, "w") as f:
            f.write("\n".join(["load-module " + " ".join(args) for args in self.modules()] + [
                ".include " + self.drop_in if self.drop_in else "",
                "set-default-sink " + self.default_sink,
                "set-default-source VirtualMic",
                "load-module module-native-protocol-unix auth-anonymous=1 socket=" + self.socket]) + "\n")
        self._launch(["pulseaudio", "-n", "-F", script, "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
                      "--system=false", "--use-pid-file=false", "--log-target=stderr"])
        return self

    def daemon_log(self):
        with open(os.path.join(self.dir, "daemon.log"), errors="replace") as f:
            return f.read()[-4000:]

    def stop(self):
        stop(self.process, group=True)  # the server's whole session, helpers included

    def feed_microphone(self, pcm):
        """Writes s16le mono PCM into the microphone at real-time pace (the
        pipe source only delivers what arrives as time passes)."""
        with os.fdopen(os.open(self.mic_fifo, os.O_WRONLY), "wb", buffering=0) as fifo:
            chunk = 0.02
            step = int(self.mic_rate * chunk) * 2
            # A cushion in the pipe: a writer held up by a busy machine must
            # not starve a server that reads the pipe at its own pace.
            cushion = self.mic_rate // 2 * 2
            fifo.write(pcm[:cushion])
            start = time.monotonic()
            for i, offset in enumerate(range(cushion, len(pcm), step)):
                fifo.write(pcm[offset:offset + step])
                time.sleep(max(0.0, start + (i + 1) * chunk - time.monotonic()))

    def pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.env(), capture_output=True, text=True, timeout=30).stdout

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)
