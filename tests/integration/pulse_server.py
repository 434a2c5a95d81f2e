"""A private PulseAudio server for one test: own runtime folder and socket,
null sinks "Speakers" (default) and "VerdalisRecorder", and a microphone
"VirtualMic" fed through a pipe. Use as a context manager."""

import os
import shutil
import socket
import subprocess
import tempfile
import time

from harness import stop, wait_for


class PulseServer:
    """`folder` reuses a stopped server's folder (socket, microphone pipe);
    `default_sink` is the output it starts with, as a desktop server's
    device-restore module would remember it; `loopback=False` leaves the
    loopback sink out, as on a desktop where it was never installed;
    `drop_in` is a file the server reads at start."""

    def __init__(self, folder=None, default_sink="Speakers", loopback=True, drop_in=None):
        self.dir = folder or tempfile.mkdtemp(prefix="quillon-pulse-")
        self.socket = os.path.join(self.dir, "native")
        self.mic_fifo = os.path.join(self.dir, "mic.fifo")
        self.mic_rate = 48000
        self.default_sink, self.loopback, self.drop_in = default_sink, loopback, drop_in
        self.process = None

    @property
    def server(self):
        return "unix:" + self.socket

    def env(self):
        """Environment for a client (the host, pactl) of this server."""
        return dict(os.environ, PULSE_SERVER=self.server, PULSE_CLIENTCONFIG=os.path.join(self.dir, "client.conf"))

    def _launch(self, argv, env, name, **kwargs):
        """Starts the server with its output in daemon.log; returns once its socket answers."""
        with open(os.path.join(self.dir, "client.conf"), "w") as f:
            f.write("autospawn = no\n")
        with open(os.path.join(self.dir, "daemon.log"), "ab") as log:
            self.process = subprocess.Popen(argv, stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                            env=env, **kwargs)

        def answers():
            with socket.socket(socket.AF_UNIX) as s:
                return s.connect_ex(self.socket) == 0 or self.process.poll() is not None
        if not wait_for(answers, 30) or self.process.poll() is not None:
            self.stop()
            raise RuntimeError("%s did not start: %s" % (name, self.daemon_log()))

    def start(self):
        for sub in ("runtime", "state"):
            os.makedirs(os.path.join(self.dir, sub), exist_ok=True)
        script = os.path.join(self.dir, "server.pa")
        with open(script, "w") as f:
            f.write("\n".join([
                "load-module module-null-sink sink_name=Speakers sink_properties=device.description=Speakers",
                "load-module module-null-sink sink_name=VerdalisRecorder rate=44100 channels=2 "
                "sink_properties=device.description=VerdalisRecorder" if self.loopback else "",
                "load-module module-pipe-source source_name=VirtualMic file=%s format=s16le rate=%d channels=1"
                % (self.mic_fifo, self.mic_rate),
                ".include " + self.drop_in if self.drop_in else "",
                "set-default-sink " + self.default_sink,
                "set-default-source VirtualMic",
                "load-module module-native-protocol-unix auth-anonymous=1 socket=" + self.socket]) + "\n")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("PULSE_", "DBUS_")) and k not in ("HOME", "XDG_RUNTIME_DIR")}
        env.update(HOME=self.dir, XDG_RUNTIME_DIR=os.path.join(self.dir, "runtime"),
                   PULSE_RUNTIME_PATH=os.path.join(self.dir, "runtime"), PULSE_STATE_PATH=os.path.join(self.dir, "state"))
        self._launch(["pulseaudio", "-n", "-F", script, "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
                      "--system=false", "--use-pid-file=false", "--log-target=stderr"], env, "pulseaudio")
        return self

    def daemon_log(self):
        with open(os.path.join(self.dir, "daemon.log"), errors="replace") as f:
            return f.read()[-4000:]

    def stop(self):
        stop(self.process)

    def feed_microphone(self, pcm, chunk_seconds=0.02):
        """Writes s16le mono PCM into the microphone at real-time pace (the
        pipe source only delivers what arrives as time passes)."""
        fd = os.open(self.mic_fifo, os.O_WRONLY)
        try:
            step = int(self.mic_rate * chunk_seconds) * 2
            # A cushion in the pipe: a writer held up by a busy machine must
            # not starve a server that reads the pipe at its own pace.
            cushion = int(self.mic_rate * 0.5) * 2
            os.write(fd, pcm[:cushion])
            start = time.monotonic()
            for i, offset in enumerate(range(cushion, len(pcm), step)):
                os.write(fd, pcm[offset:offset + step])
                time.sleep(max(0.0, start + (i + 1) * chunk_seconds - time.monotonic()))
        finally:
            os.close(fd)

    def pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.env(), capture_output=True, text=True, timeout=30).stdout

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)
