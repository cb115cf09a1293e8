"""The splash window of the .exe under Wine on a virtual X display: screenshots held against the
layout, the pointer moved and clicked with xdotool, the game started and the exit codes read.
Without a window manager, Wine's X window is exactly the client area, so a screenshot of it
compares with the layout pixel for pixel (96 DPI).

    E2E_LAUNCHER=build/windows/bin/QuellornLauncher.exe E2E_EMULATOR=scripts/wine-run \\
    GUI_GAME=build/windows/bin/quellorn-test-record.exe python3 -m unittest discover -s tests/gui
"""

import os
import pathlib
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "e2e"))

import releases  # noqa: E402
from installation import set_up_installation  # noqa: E402
from update_server import Fault  # noqa: E402
from wine import EMULATOR, native, provide_tar  # noqa: E402

LAUNCHER = pathlib.Path(os.environ.get("E2E_LAUNCHER", "build/windows/bin/QuellornLauncher.exe")).resolve()
GAME = pathlib.Path(os.environ.get("GUI_GAME", LAUNCHER.parent / "quellorn-test-record.exe")).resolve()
SCREENSHOTS = os.environ.get("GUI_SCREENSHOTS", "")

BACKGROUND = (18, 12, 10)
ACCENT = (255, 122, 42)
GOLD = (245, 194, 107)
ERROR = (255, 138, 112)
TRACK = (58, 38, 32)
FACE = (42, 24, 18)
HOT_FACE = (74, 42, 28)
BUTTON = (310, 150, 436, 186)


def wait_for(condition, seconds=30, step=0.2):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        result = condition()
        if result:
            return result
        time.sleep(step)
    return condition()


def near(colour, wanted, tolerance=24):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, wanted))


class Shot:
    """One screenshot of the window's client area as raw RGB."""

    def __init__(self, window, display):
        geometry = subprocess.run(["xdotool", "getwindowgeometry", window], env=display,
                                  capture_output=True, text=True, timeout=30).stdout
        self.width, self.height = (int(n) for n in geometry.split("Geometry:")[1].split()[0].split("x"))
        # A window that has gone makes import wait for ever: a bounded wait fails the test instead.
        self.png = subprocess.run(["import", "-window", window, "png:-"], env=display,
                                  capture_output=True, check=True, timeout=30).stdout
        self.rgb = subprocess.run(["convert", "png:-", "-depth", "8", "rgb:-"], input=self.png,
                                  capture_output=True, check=True).stdout

    def __call__(self, x, y):
        offset = (y * self.width + x) * 3
        return tuple(self.rgb[offset:offset + 3])

    def any_in(self, box, colour, tolerance=24):
        left, top, right, bottom = box
        return any(near(self(x, y), colour, tolerance) for y in range(top, bottom) for x in range(left, right))

    def save(self, name):
        if SCREENSHOTS:
            pathlib.Path(SCREENSHOTS).mkdir(parents=True, exist_ok=True)
            (pathlib.Path(SCREENSHOTS) / name).write_bytes(self.png)


class SplashWindow(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        provide_tar(LAUNCHER)
        # Our own display, whatever the machine has.
        cls.xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        cls.display = dict(os.environ, DISPLAY=":" + cls.xvfb.stdout.readline().decode().strip())

    @classmethod
    def tearDownClass(cls):
        cls.xvfb.terminate()
        cls.xvfb.wait()

    def setUp(self):
        set_up_installation(self, LAUNCHER, "quellorn-gui-")
        self.processes = []
        self.xdotool("mousemove", "0", "0")

    def tearDown(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()

    # --- helpers -------------------------------------------------------------------------------

    def start(self, *arguments, environment=None):
        process = subprocess.Popen([EMULATOR, str(self.app / LAUNCHER.name), "--feed",
                                    self.server.url("latest.json"), *arguments],
                                   env=dict(self.display, **(environment or {})),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.processes.append(process)
        return process

    def xdotool(self, *arguments):
        return subprocess.run(["xdotool", *arguments], env=self.display, capture_output=True, text=True).stdout

    def windows(self):
        return self.xdotool("search", "--onlyvisible", "--name", "^Quellorn$").split()

    def window(self):
        found = wait_for(self.windows)
        self.assertTrue(found, "the splash window never appeared")
        return found[0]

    def shot(self, window):
        return Shot(window, self.display)

    def close_window(self, window):
        # What a player's Alt+F4 does; the X window has no manager to close it otherwise.
        self.xdotool("windowfocus", "--sync", window)
        self.xdotool("key", "--window", window, "alt+F4")

    def publish_game(self, version="1.0.0", padding=200_000):
        """A release whose Quellorn.exe records how it was started."""
        files = {"Quellorn.exe": GAME.read_bytes(), "data/map.pak": b"m" * padding}
        return releases.publish(self.www, version, files, file_list=False)

    def recorded(self, version):
        record = self.store / version / "record.txt"
        self.assertTrue(wait_for(record.exists, 20), "the game never ran")
        return record.read_text()

    def expected_record(self, version, *arguments):
        return "".join(a + "\n" for a in arguments) + "cwd=" + native(self.store / version) + "\n"

    # --- scenarios -----------------------------------------------------------------------------

    def test_download_progress_and_a_close_that_waits_for_the_attempt(self):
        feed = self.publish_game(padding=2_000_000)
        # The archive stops at half its bytes for a while: the bar stands at 0.5.
        self.server.faults[feed["file"]] = Fault(stall_after=feed["size"] // 2, stall_seconds=5)
        # The tar stand-in takes its time, so the unpacking shows too.
        process = self.start("-windowed", "save 2", environment={"QUELLORN_TEST_TAR_PAUSE": "6"})
        window = self.window()
        half = 24 + int(412 * 0.5)  # the fill ends before x = 230

        def at_half():
            shot = self.shot(window)
            return shot if near(shot(half - 2, 126), ACCENT) and near(shot(half + 2, 126), TRACK) else None

        shot = wait_for(at_half, 30)
        self.assertIsNotNone(shot, "the bar never stood at half")
        shot.save("splash-downloading.png")
        self.assertEqual((shot.width, shot.height), (460, 210))
        for x, y in ((2, 2), (450, 100), (5, 205), (100, 121), (100, 130), (20, 126), (440, 126)):
            self.assertTrue(near(shot(x, y), BACKGROUND), (x, y, shot(x, y)))
        for x, y in ((5, 206), (455, 209), (24, 122), (24, 129), (half - 2, 126)):
            self.assertTrue(near(shot(x, y), ACCENT), (x, y, shot(x, y)))
        for x, y in ((half + 2, 126), (435, 126)):
            self.assertTrue(near(shot(x, y), TRACK), (x, y, shot(x, y)))
        # The fill's right edge, within a pixel.
        edge = next(x for x in range(24, 437) if not near(shot(x, 126), ACCENT))
        self.assertLessEqual(abs(edge - half), 1)
        self.assertTrue(shot.any_in((0, 22, 460, 40), GOLD, 40), "no title")
        self.assertFalse(shot.any_in((300, 146, 440, 190), GOLD, 40), "a button while working")

        # Unpacking: its own words, and no bar that would run through a second time.
        def unpacking():
            shot = self.shot(window)
            return shot if near(shot(100, 126), BACKGROUND) and near(shot(300, 126), BACKGROUND) else None

        shot = wait_for(unpacking, 30)
        self.assertIsNotNone(shot, "the unpacking never showed")
        shot.save("splash-unpacking.png")
        self.assertTrue(shot.any_in((24, 86, 300, 112), (216, 204, 197), 60), "no words while unpacking")
        self.assertFalse(shot.any_in((300, 146, 440, 190), GOLD, 40), "a button while unpacking")

        # Closed while it unpacks: the window goes, the attempt goes on and starts the game.
        self.close_window(window)
        self.assertTrue(wait_for(lambda: not self.windows(), 10), "the window stayed")
        self.assertIsNone(process.poll(), "the launcher ended with the download")
        self.assertEqual(process.wait(timeout=60), 0)
        self.assertEqual(self.recorded("1.0.0"), self.expected_record("1.0.0", "-windowed", "save 2"))

    def test_error_state_hot_button_and_try_again(self):
        self.server.faults["latest.json"] = Fault(status=500)
        process = self.start()
        window = self.window()
        inside = (BUTTON[0] + 5, BUTTON[1] + 5)
        shot = wait_for(lambda: (s := self.shot(window)) and near(s(*inside), FACE, 4) and s)
        self.assertTrue(shot, "the error state never showed")
        shot.save("splash-error.png")
        self.assertTrue(shot.any_in((24, 86, 436, 140), ERROR, 40), "no message in the error colour")
        for x, y in ((100, 126), (300, 126)):
            self.assertTrue(near(shot(x, y), BACKGROUND), "a bar in the error state")
        for x, y in ((310, 150), (435, 185), (310, 185), (435, 150)):
            self.assertTrue(near(shot(x, y), GOLD, 4), (x, y, shot(x, y)))

        # Hot while the pointer is over the button: only the face changes.
        self.xdotool("mousemove", "--window", window, "370", "168")
        hot = wait_for(lambda: (s := self.shot(window)) and near(s(*inside), HOT_FACE, 4) and s, 10)
        self.assertTrue(hot, "the face never turned hot")
        self.assertTrue(near(hot(310, 150), GOLD, 4))
        self.xdotool("mousemove", "--window", window, "100", "60")
        self.assertTrue(wait_for(lambda: near(self.shot(window)(*inside), FACE, 4), 10), "stayed hot")

        # "Try again" asks the server again, once however often it is clicked while the attempt runs,
        # and the window answers meanwhile.
        asked = self.server.requests["latest.json"]
        self.server.faults["latest.json"] = Fault(status=500, delay=3)
        self.xdotool("mousemove", "--window", window, "370", "168")
        wait_for(lambda: near(self.shot(window)(*inside), HOT_FACE, 4), 10)
        self.xdotool("click", "--repeat", "3", "--delay", "150", "1")
        self.assertTrue(wait_for(lambda: self.server.requests["latest.json"] > asked, 20), "no new attempt")
        self.xdotool("mousemove", "--window", window, "100", "60")
        self.assertTrue(wait_for(lambda: near(self.shot(window)(*inside), BACKGROUND), 2), "the window froze")
        self.assertTrue(wait_for(lambda: near(self.shot(window)(*inside), FACE, 4), 20), "no error again")
        self.assertEqual(self.server.requests["latest.json"], asked + 1)

        self.close_window(window)
        self.assertEqual(process.wait(timeout=30), 1)

    def test_the_game_starts_and_the_window_closes_itself(self):
        self.publish_game()
        process = self.start("-windowed", "a \"quoted\" word")
        self.assertEqual(process.wait(timeout=120), 0)
        self.assertEqual(self.windows(), [])
        self.assertEqual(self.recorded("1.0.0"), self.expected_record("1.0.0", "-windowed", 'a "quoted" word'))

    def test_a_second_launcher_brings_the_first_forward(self):
        feed = self.publish_game()
        self.server.faults[feed["file"]] = Fault(stall_after=1000, stall_seconds=10)
        first = self.start()
        window = self.window()
        second = self.start()
        self.assertEqual(second.wait(timeout=60), 0)
        # The second one did nothing of its own: no window, not a single request.
        self.assertEqual(self.windows(), [window])
        self.assertEqual(self.server.requests["latest.json"], 1)
        self.assertIsNone(first.poll())
        self.assertEqual(first.wait(timeout=60), 0)

    def test_without_a_window_the_run_goes_on_and_starts_the_game(self):
        # No display: Wine can't make the window, and the launcher carries on without it.
        self.publish_game()
        environment = {name: value for name, value in self.display.items() if name != "DISPLAY"}
        result = subprocess.run([EMULATOR, str(self.app / LAUNCHER.name), "--feed", self.server.url("latest.json"), "-x"],
                                env=environment, capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(self.recorded("1.0.0"), self.expected_record("1.0.0", "-x"))
        # A failure ends the run (a window would wait for the player): proof there was none.
        self.server.faults["latest.json"] = Fault(status=500)
        shutil.rmtree(self.store)
        result = subprocess.run([EMULATOR, str(self.app / LAUNCHER.name), "--feed", self.server.url("latest.json")],
                                env=environment, capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 1)

    def test_at_144_dpi_everything_scales_by_one_and_a_half(self):
        desktop = "HKCU\\Control Panel\\Desktop"
        subprocess.run([EMULATOR, "reg", "add", desktop, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f"],
                       capture_output=True, check=True)
        try:
            self.server.faults["latest.json"] = Fault(status=500)
            process = self.start()
            window = self.window()
            # The button at 144 DPI: {465, 225, 654, 279}.
            last = []

            def error_shown():
                last[:] = [self.shot(window)]
                return near(last[0](470, 230), FACE, 4) and last[0]

            # Under a loaded machine Wine's first window on a new display can take a while.
            shot = wait_for(error_shown, 60)
            self.assertTrue(shot, f"the error state never showed: the last shot was {last[0].width}x"
                                  f"{last[0].height} with {last[0](470, 230)} at (470, 230)")
            self.assertEqual((shot.width, shot.height), (690, 315))
            for x, y in ((2, 309), (688, 314)):  # a strip of [4] = 6 pixels
                self.assertTrue(near(shot(x, y), ACCENT), (x, y, shot(x, y)))
            self.assertTrue(near(shot(2, 308), BACKGROUND))
            for x, y in ((465, 225), (653, 278)):
                self.assertTrue(near(shot(x, y), GOLD, 4), (x, y, shot(x, y)))
            for x, y in ((464, 224), (654, 279)):
                self.assertTrue(near(shot(x, y), BACKGROUND), (x, y, shot(x, y)))
            self.close_window(window)
            self.assertEqual(process.wait(timeout=30), 1)
        finally:
            subprocess.run([EMULATOR, "reg", "delete", desktop, "/v", "LogPixels", "/f"], capture_output=True)


if __name__ == "__main__":
    unittest.main()
