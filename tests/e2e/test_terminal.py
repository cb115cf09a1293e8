"""The Linux build in window mode, where the terminal stands in for the splash window: progress
on standard error, the game started in its folder, a failure with "Try again? [Enter]" when
standard input is a terminal, and the end of the run when nobody can answer. (The .exe's window
has its own tests under Xvfb, tests/gui.)"""

import os
import pathlib
import pty
import subprocess
import time
import unittest

import releases
from installation import set_up_installation
from update_server import Fault
from wine import on_windows

LAUNCHER = pathlib.Path(os.environ.get("E2E_LAUNCHER", "build/linux/bin/quellorn-launcher")).resolve()
# The game records how it was started and what it was handed; the archive gives it no execute bit.
GAME = (b'#!/bin/sh\n{ for a in "$@"; do echo "$a"; done; echo "cwd=$(pwd)"; } > record.txt\n'
        b'ls -l /proc/$$/fd > handed.txt\n')


@unittest.skipIf(on_windows(), "the .exe shows a window")
class TerminalPresenter(unittest.TestCase):
    def setUp(self):
        set_up_installation(self, LAUNCHER, "quellorn-terminal-")
        self.environment = dict(os.environ, TMPDIR=str(self.folder), XDG_RUNTIME_DIR=str(self.folder))

    def command(self, *arguments):
        return [str(self.app / LAUNCHER.name), "--feed", self.server.url("latest.json"), *arguments]

    def test_progress_then_the_game_in_its_folder(self):
        feed = releases.publish(self.www, "1.0.0", {"Quellorn.exe": GAME, "data/map.pak": b"m" * 3_000_000},
                                file_list=False)
        # Long enough at half way for the download's line to be shown whatever the machine's speed.
        self.server.faults[feed["file"]] = Fault(stall_after=feed["size"] // 2, stall_seconds=1.5)
        result = subprocess.run(self.command("-windowed", "save 2"), env=self.environment,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        shown = result.stderr.decode()
        self.assertIn("Downloading Quellorn\u2026", shown)
        self.assertIn("Unpacking Quellorn\u2026\n", shown)
        self.assertTrue(shown.endswith("Starting Quellorn\u2026\n"), shown)
        record = self.store / "1.0.0" / "record.txt"
        for _ in range(100):
            if record.exists():
                break
            time.sleep(0.05)
        self.assertEqual(record.read_text(), f"-windowed\nsave 2\ncwd={self.store / '1.0.0'}\n")
        # Nothing of the launcher's went along: no connection to the server, not the store's lock.
        handed = (self.store / "1.0.0" / "handed.txt").read_text()
        self.assertNotIn("socket:", handed)
        self.assertNotIn(".lock", handed)

        # An update with nothing to download says so, without "0 of 0 MB".
        releases.publish(self.www, "1.0.1", {"Quellorn.exe": GAME, "data/map.pak": b"m" * 3_000_000},
                         extra={"size": 100_000_000})
        result = subprocess.run(self.command(), env=self.environment, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        shown = result.stderr.decode()
        self.assertIn("Updating to 1.0.1\u2026\n", shown)
        self.assertNotIn("0 of 0 MB", shown)

    def test_a_failure_ends_the_run_when_nobody_can_answer(self):
        self.server.faults["latest.json"] = Fault(status=500)
        result = subprocess.run(self.command(), env=self.environment, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 1)
        shown = result.stderr.decode()
        self.assertIn("Couldn't reach 127.0.0.1. Check your connection and try again.\n", shown)
        self.assertNotIn("Try again?", shown)
        self.assertEqual(self.server.requests["latest.json"], 1)

    def test_enter_tries_again_and_the_end_of_input_closes(self):
        self.server.faults["latest.json"] = Fault(status=500)
        controller, terminal = pty.openpty()
        process = subprocess.Popen(self.command(), env=self.environment, stdin=terminal,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        os.close(terminal)
        shown = b""
        while shown.count(b"Try again? [Enter]") < 1:
            shown += process.stderr.read1(4096)
        os.write(controller, b"\n")
        while shown.count(b"Try again? [Enter]") < 2:
            shown += process.stderr.read1(4096)
        self.assertEqual(self.server.requests["latest.json"], 2)
        os.close(controller)  # the player's terminal goes away: as if the window were closed
        shown += process.stderr.read()
        process.stderr.close()
        self.assertEqual(process.wait(timeout=30), 1)
        self.assertEqual(shown.decode().count("Couldn't reach 127.0.0.1."), 2)


if __name__ == "__main__":
    unittest.main()
