"""A pseudo-terminal whose master side plays the recorder for the host."""

import os
import select
import threading
import time


class PtyDevice:
    def __init__(self):
        self.master, self._keeper = os.openpty()
        # The keeper holds the tty open, so the host's opens and closes never
        # leave it without users (the master would then see a hang-up).
        self.path = os.ttyname(self._keeper)
        self._thread = None

    def unplug(self):
        for fd in (self.master, self._keeper):
            if fd >= 0:
                os.close(fd)
        self.master = self._keeper = -1

    def close(self):
        self.join()
        self.unplug()

    def receive(self, count, timeout=10.0):
        """What the host wrote, until count bytes came or the time ran out."""
        data = b""
        deadline = time.monotonic() + timeout
        while len(data) < count and time.monotonic() < deadline:
            if select.select([self.master], [], [], 0.02)[0]:
                data += os.read(self.master, 512)
        return data

    def send(self, data):
        os.write(self.master, data)

    def answer(self, command_length, reply, unplug=False):
        """On a thread: waits for the command, sends the reply and, if `unplug`,
        goes away a moment later; join() gives the command."""
        def respond():
            self._command = self.receive(command_length)
            self.send(reply)
            if unplug:
                time.sleep(0.05)
                self.unplug()
        self._thread = threading.Thread(target=respond)
        self._thread.start()

    def join(self):
        if self._thread:
            self._thread.join()
            self._thread = None
            return self._command
