#!/usr/bin/env python3
"""A real recording with quillon-host and `quillon-engine record`.

Against the user's sound server when one answers (a temporary loopback sink
is added there when it has none, and removed afterwards; a quiet 1000 Hz tone
plays through the default output so the system-audio side has something to
record). Otherwise against a private PulseAudio with a virtual microphone
that hears a 440 Hz tone and speakers that play a 1000 Hz tone. Prints the
recorder's progress, the close summary, the files and the tone levels found
in the WAV file."""

import argparse
import os
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "integration"))
BUILD = os.path.abspath(os.environ.get("QUILLON_BUILD_DIR", os.path.join(ROOT, "build")))
HOST = os.path.join(BUILD, "quillon-host")
ENGINE = os.path.join(BUILD, "quillon-engine")

from pulse_server import PulseServer  # noqa: E402
from recording_analysis import sine_pcm, tone_level, wav_samples  # noqa: E402

LOOPBACK = "VerdalisRecorder"


def user_server_answers():
    try:
        return subprocess.run(["pactl", "info"], capture_output=True, timeout=5).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def pactl(env, *args):
    return subprocess.run(["pactl", *args], env=env, capture_output=True, text=True, timeout=30).stdout.strip()


def wait_until(predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return False


def play_tone_on_default_output(env, frequency, seconds, amplitude, stop):
    """Plays a tone through whatever the default output is once the loopback
    device has become it, the way any application's sound would."""
    if not wait_until(lambda: stop.is_set() or pactl(env, "get-default-sink") == LOOPBACK, 20):
        print("record_demo: the system output never became the loopback device", file=sys.stderr)
        return
    if stop.is_set():
        return
    pcm = sine_pcm(frequency, 48000, seconds, amplitude)
    player = subprocess.Popen(["pacat", "--playback", "--raw", "--format=s16le", "--rate=48000",
                               "--channels=1", "--latency-msec=100"],
                              stdin=subprocess.PIPE, env=env, stderr=subprocess.DEVNULL)
    try:
        step = 48000 * 2 // 10
        for offset in range(0, len(pcm), step):
            if stop.is_set():
                break
            player.stdin.write(pcm[offset:offset + step])
            player.stdin.flush()
    except OSError:
        pass  # the recording ended and the server went away
    finally:
        try:
            player.stdin.close()
        except OSError:
            pass
        player.terminate()
        player.wait()


def record(env, seconds, folder, feed_microphone=None):
    work = tempfile.mkdtemp(prefix="quillon-record-")
    sock = os.path.join(work, "engine.sock")
    host_env = dict(env, HOME=env.get("HOME", work))
    host = subprocess.Popen([HOST, "--headless", "--engine-socket", sock], env=host_env,
                            stderr=open(os.path.join(work, "host.stderr"), "wb"))
    stop = threading.Event()
    helpers = [threading.Thread(target=play_tone_on_default_output,
                                args=(env, 1000, seconds + 5, 0.3, stop), daemon=True)]
    if feed_microphone:
        helpers.append(threading.Thread(target=feed_microphone, args=(seconds + 5,), daemon=True))
    try:
        if not wait_until(lambda: os.path.exists(sock) or host.poll() is not None, 10) or host.poll() is not None:
            sys.exit("record_demo: quillon-host did not start")
        for helper in helpers:
            helper.start()
        done = subprocess.run([ENGINE, "--socket", sock, "record", "--seconds", str(seconds), "--dir", folder,
                               "--stage"], env=env, timeout=seconds + 120)
        return done.returncode
    finally:
        stop.set()
        host.terminate()
        host.wait(timeout=10)


def report_levels(folder):
    wav = os.path.join(folder, "recording.wav")
    if not os.path.exists(wav):
        return
    rate, _, samples = wav_samples(wav)
    # The second half: the tone on the speakers starts only once the system
    # output has moved to the loopback device.
    middle = samples[len(samples) // 2:]
    print("levels in %s: 440 Hz %.3f, 1000 Hz %.3f (full scale 1.0)"
          % (wav, tone_level(middle, 440, rate), tone_level(middle, 1000, rate)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seconds", type=float, default=8)
    parser.add_argument("--dir", default=None, help="folder for the files (default: a new temporary one)")
    parser.add_argument("--private", action="store_true", help="always use a private PulseAudio")
    args = parser.parse_args()
    folder = os.path.abspath(args.dir or tempfile.mkdtemp(prefix="quillon-recording-"))

    if not args.private and user_server_answers():
        env = dict(os.environ)
        module = None
        if LOOPBACK not in pactl(env, "list", "short", "sinks"):
            module = pactl(env, "load-module", "module-null-sink", "sink_name=" + LOOPBACK, "rate=44100",
                           "channels=2", "sink_properties=device.description=" + LOOPBACK)
        print("Recording %g s from your own sound server (your microphone, and a quiet 1000 Hz tone "
              "through your speakers)." % args.seconds)
        try:
            code = record(env, args.seconds, folder)
        finally:
            if module:
                pactl(env, "unload-module", module)
    else:
        print("No sound server of yours answers: recording %g s from a private PulseAudio "
              "(440 Hz into its microphone, 1000 Hz through its speakers)." % args.seconds)
        with PulseServer() as pulse:
            def feed(seconds):
                try:
                    pulse.feed_microphone(sine_pcm(440, pulse.mic_rate, seconds, 0.5))
                except OSError:
                    pass  # the server went away at the end
            code = record(pulse.env(), args.seconds, folder, feed)
    report_levels(folder)
    print("The files are in " + folder)
    return code


if __name__ == "__main__":
    sys.exit(main())
