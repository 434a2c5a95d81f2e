import array
import math
import subprocess
import threading
import unittest

from pulse_server import PulseServer


class PulseServerHarness(unittest.TestCase):
    def test_devices_and_a_fed_microphone_that_records_what_was_fed(self):
        with PulseServer() as server:
            sinks = server.pactl("list", "short", "sinks")
            self.assertIn("Speakers", sinks)
            self.assertIn("VerdalisRecorder", sinks)
            self.assertIn("Default Source: VirtualMic", server.pactl("info"))
            tone = array.array("h", (int(12000 * math.sin(2 * math.pi * 440 * i / 48000))
                                     for i in range(48000)))
            feeder = threading.Thread(target=server.feed_microphone, args=(tone.tobytes(),))
            recorder = subprocess.Popen(
                ["parec", "-d", "VirtualMic", "--format=s16le", "--rate=48000",
                 "--channels=1", "--raw"], stdout=subprocess.PIPE, env=server.env())
            feeder.start()
            feeder.join(timeout=30)
            recorder.terminate()
            data, _ = recorder.communicate(timeout=30)
            samples = array.array("h", data[:len(data) // 2 * 2])
            self.assertGreater(max(map(abs, samples), default=0), 8000)
            pid = server.process.pid
        # Stopped with the context, even though the microphone pipe was used.
        self.assertIsNotNone(server.process.poll(), pid)


if __name__ == "__main__":
    unittest.main()
