"""The real launcher in check mode against a local update server: the Linux build, or the .exe
under Wine (E2E_EMULATOR). Each test gets its own installation (the store lies beside the
executable), its own server folder and its own temporary folder.

    E2E_LAUNCHER=build/linux/bin/quellorn-launcher python3 -m unittest discover -s tests/e2e
"""

import json
import os
import pathlib
import shutil
import signal
import subprocess
import time
import unittest

import releases
from authority import can_trust, make_certificates, trust
from installation import set_up_installation
from update_server import Fault, Proxy, UpdateServer
from wine import EMULATOR, native, on_windows, provide_tar, wine_folder

LAUNCHER = pathlib.Path(os.environ.get("E2E_LAUNCHER", "build/linux/bin/quellorn-launcher")).resolve()
SIGNED = pathlib.Path(os.environ.get("E2E_SIGNED_LAUNCHER", LAUNCHER.parent / "quellorn-launcher-signed")).resolve()
ROOTED = pathlib.Path(os.environ.get("E2E_ROOTED_LAUNCHER", LAUNCHER.parent / "quellorn-launcher-rooted")).resolve()
PUBLISH = pathlib.Path(os.environ.get("E2E_PUBLISH", LAUNCHER.parent / "quellorn-publish")).resolve()
KEYS = pathlib.Path(os.environ.get("E2E_KEYS", "tests/keys")).resolve()
OWN_VERSION = os.environ.get("E2E_OWN_VERSION", "")  # the launcher's, as the build has it
GAME = {"Quellorn.exe": b"game 1.0.0", "data/maps/one.pak": b"m" * 200000, "data/readme.txt": b"hello"}


class CheckMode(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if on_windows():
            provide_tar(LAUNCHER)

    def setUp(self):
        set_up_installation(self, LAUNCHER, "quellorn-e2e-", "Quellorn Games")
        self.temp = self.folder / "tmp"
        self.temp.mkdir()
        self.started = time.monotonic()

    # --- helpers -------------------------------------------------------------------------------

    def command(self, *arguments, check="out.txt", feed=None):
        feed = feed or self.server.url("latest.json")
        program = [EMULATOR, str(self.app / LAUNCHER.name)] if on_windows() else [str(self.app / LAUNCHER.name)]
        return program + ["--feed", feed, "--check", native(self.folder / check), *arguments]

    def environment(self):
        environment = dict(os.environ, TMPDIR=str(self.temp), XDG_RUNTIME_DIR=str(self.folder))
        if on_windows():
            environment.update(TEMP=native(self.temp), TMP=native(self.temp))
        return environment

    def run_launcher(self, *arguments, check="out.txt", feed=None, umask=None):
        result = subprocess.run(self.command(*arguments, check=check, feed=feed), env=self.environment(),
                                capture_output=True, timeout=180,
                                preexec_fn=None if umask is None else lambda: os.umask(umask))
        path = self.folder / check
        line = path.read_bytes().decode("utf-8") if path.exists() else None
        return result.returncode, line

    def install(self, version, files=None):
        """A version already installed and current."""
        for path, data in (files or GAME).items():
            target = self.store / version / path
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(data)
        (self.store / "current.txt").write_text(version)

    def store_entries(self):
        """What the store holds besides its own files (the log, the lock, the feed's sequence)."""
        own = {"launcher.log", ".lock", "feed-sequence.txt"}
        return sorted(p.name for p in self.store.iterdir() if p.name not in own)

    def local(self, path):
        """A path the launcher printed, as this machine's own."""
        return wine_folder(path) if on_windows() else pathlib.Path(path)

    def local_temp(self):
        """The launcher's temporary folder: ours on Linux, Wine's own (it keeps it in the registry)."""
        if not on_windows():
            return self.temp
        echoed = subprocess.run([EMULATOR, "cmd", "/c", "echo %TEMP%"], capture_output=True, text=True)
        return wine_folder(echoed.stdout.strip())

    def ok_line(self, version):
        return "ok\t" + native(self.store / version / "Quellorn.exe")

    def assert_intact(self, version, files=None):
        self.assertEqual((self.store / "current.txt").read_text(), version)
        for path, data in (files or GAME).items():
            self.assertEqual((self.store / version / path).read_bytes(), data, path)

    # --- scenarios -----------------------------------------------------------------------------

    def summary(self):
        """The --json summary of the last run."""
        return json.loads((self.folder / "summary.json").read_text(encoding="utf-8"))

    def test_fresh_install_by_archive(self):
        releases.publish(self.www, "1.0.0", GAME)
        self.assertEqual(self.run_launcher("--json", native(self.folder / "summary.json")),
                         (0, self.ok_line("1.0.0")))
        summary = self.summary()
        self.assertEqual((summary["outcome"], summary["from"], summary["version"], summary["how"]),
                         ("ok", "", "1.0.0", "archive"))
        self.assertEqual(summary["ways"], {"archive": len(GAME)})
        self.assert_intact("1.0.0")
        self.assertFalse((self.store / "1.0.0.download").exists())
        self.assertEqual(self.server.requests["files-1.0.0.txt"], 1)  # to check the unpacked tree

    def test_update_keeps_unchanged_files(self):
        self.install("1.0.0")
        new = dict(GAME, **{"Quellorn.exe": b"game 1.1.0", "data/new.pak": b"n" * 1000})
        releases.publish(self.www, "1.1.0", new, extra={"size": 10_000_000})
        self.assertEqual(self.run_launcher("--json", native(self.folder / "summary.json")),
                         (0, self.ok_line("1.1.0")))
        self.assert_intact("1.1.0", new)
        # The summary says what came how: without a record the kept files were copied and
        # hashed, the changed ones fetched raw; and its bytes are what was fetched and kept.
        summary = self.summary()
        self.assertEqual((summary["from"], summary["version"], summary["how"]), ("1.0.0", "1.1.0", "file by file"))
        came = {entry["path"]: entry["came"] for entry in summary["files"]}
        self.assertEqual(came, {path: "raw" if path in ("Quellorn.exe", "data/new.pak") else "copied" for path in new})
        self.assertEqual(summary["bytesFetched"], len(new["Quellorn.exe"]) + len(new["data/new.pak"]))
        self.assertEqual(summary["bytesKept"], sum(len(data) for path, data in new.items() if came[path] == "copied"))
        self.assertEqual(self.server.requests["Quellorn-1.1.0.tar"], 0)
        fetched = sorted(path for path, count in self.server.requests.items() if path.startswith("files/"))
        self.assertEqual(fetched, sorted(f"files/{releases.sha256(new[p])}.bin" for p in ("Quellorn.exe", "data/new.pak")))
        self.assertFalse((self.store / "1.0.0").exists())  # pruned

    def test_renamed_files_are_linked_and_damaged_ones_repaired(self):
        releases.publish(self.www, "1.0.0", GAME)
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.0.0")))
        pak = (self.store / "1.0.0/data/maps/one.pak").stat().st_ino
        # The map changes letter case, the game changes: only the game is fetched, and
        # the map is the installed file itself.
        new = {"Quellorn.exe": b"game 1.1.0", "data/Maps/One.pak": GAME["data/maps/one.pak"],
               "data/readme.txt": GAME["data/readme.txt"]}
        releases.publish(self.www, "1.1.0", new, extra={"size": 10_000_000})
        self.server.requests.clear()
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.1.0")))
        self.assert_intact("1.1.0", new)
        self.assertEqual(sorted(p for p in self.server.requests if p.startswith("files/")),
                         [f"files/{releases.sha256(b'game 1.1.0')}.bin"])
        self.assertEqual((self.store / "1.1.0/data/Maps/One.pak").stat().st_ino, pak)
        # A start finds a deleted and a shortened file by the record and fetches them again.
        (self.store / "1.1.0/data/readme.txt").unlink()
        (self.store / "1.1.0/data/Maps/One.pak").write_bytes(b"cut")
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.1.0")))
        self.assert_intact("1.1.0", new)

    def test_up_to_date_prunes_and_letter_case_counts_as_equal(self):
        for installed, published in (("1.0.0", "1.0.0"), ("1.0.0-RC", "1.0.0-rc")):
            with self.subTest(installed=installed):
                shutil.rmtree(self.store, ignore_errors=True)
                self.install(installed)
                (self.store / "0.9.0").mkdir()
                releases.publish(self.www, published, GAME)
                self.assertEqual(self.run_launcher(), (0, self.ok_line(installed)))
                self.assertFalse((self.store / "0.9.0").exists())
                self.assertEqual(self.server.requests[f"Quellorn-{published}.tar"], 0)

    def test_no_feed_falls_back_or_asks_to_check_the_connection(self):
        dead = "http://127.0.0.1:9/latest.json"
        (self.www / "garbage.json").write_text("<html>not a feed</html>")
        for feed in (dead, self.server.url("garbage.json")):
            with self.subTest(feed=feed):
                shutil.rmtree(self.store, ignore_errors=True)
                # The host the launcher asked, not the website's.
                self.assertEqual(self.run_launcher(feed=feed),
                                 (1, "error\tCouldn't reach 127.0.0.1. Check your connection and try again."))
                self.install("1.0.0")
                self.assertEqual(self.run_launcher(feed=feed), (0, self.ok_line("1.0.0")))
                self.assert_intact("1.0.0")

    def test_unusable_release(self):
        releases.publish(self.www, "1.1.0", GAME, extra={"size": 0})
        self.assertEqual(self.run_launcher(),
                         (1, "error\tThe update server answered with nothing to install. Try again later."))
        self.install("1.0.0")
        (self.store / "0.9.0").mkdir()
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.0.0")))
        self.assertTrue((self.store / "0.9.0").exists())  # not pruned

    def test_newer_launcher(self):
        self.install("1.0.0")
        releases.publish(self.www, "1.1.0", GAME, launcher=("2.3.0", b"installer" * 1000))
        code, line = self.run_launcher()
        self.assertEqual(code, 0)
        self.assertTrue(line.startswith("launcher\t") and line.endswith("Quellorn-Launcher-2.3.0.exe"), line)
        installer = self.local(line.split("\t", 1)[1])
        # In a folder of its own in the temporary folder, that only this user may write.
        self.assertEqual(installer.parent.parent, self.local_temp())
        self.assertTrue(installer.parent.name.startswith("Quellorn-Launcher-"))
        if not on_windows():
            self.assertEqual(installer.parent.stat().st_mode & 0o777, 0o700)
        self.assertEqual(installer.read_bytes(), b"installer" * 1000)
        self.assert_intact("1.0.0")

        # --updated: no launcher update, and the leftover installers go with their folders.
        self.assertEqual(self.run_launcher("--updated"), (0, self.ok_line("1.1.0")))
        self.assertFalse(installer.parent.exists())

    def test_launcher_failing_its_digest_is_deleted_and_the_client_updated(self):
        self.install("1.0.0")
        releases.publish(self.www, "1.1.0", GAME, launcher=("2.3.0", b"installer"))
        self.server.faults["Quellorn-Launcher-2.3.0.exe"] = Fault(wrong_bytes=True)
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.1.0")))
        self.assertEqual(list(self.local_temp().glob("Quellorn-Launcher-*")), [])  # folder and all

    def test_a_bad_file_list_refuses_the_release(self):
        for bad in ("digest", "line"):
            with self.subTest(bad=bad):
                shutil.rmtree(self.store, ignore_errors=True)
                self.install("1.0.0")
                new = dict(GAME, **{"Quellorn.exe": b"game 1.1.0"})
                feed = releases.publish(self.www, "1.1.0", new,
                                        list_digest="0" * 64 if bad == "digest" else None)
                if bad == "line":
                    listing = self.www / feed["files"]
                    text = listing.read_text() + "not a line\n"
                    listing.write_text(text)
                    feed["filesSha256"] = releases.sha256(text.encode())
                    (self.www / "latest.json").write_text(json.dumps(feed))
                self.assertEqual(self.run_launcher(), (0, self.ok_line("1.0.0")))
                self.assertEqual(self.server.requests["Quellorn-1.1.0.tar"], 0)
                self.assert_intact("1.0.0")

    def test_archives_the_store_cant_hold_are_refused_before_tar_writes_them(self):
        new = dict(GAME, **{"Quellorn.exe": b"game 1.1.0"})
        device = dict(new, **{"data/COM1.dat": b"serial"})
        cases = [
            # what; the files the list names; the archive served instead of theirs; a list; blocks
            ("a device name in the list", device, None, True, False),
            ("a device name in the archive", device, None, False, True),
            ("two letter cases in the archive", dict(new, **{"data/map.pak": b"1", "data/Map.pak": b"2"}),
             None, False, False),
            # 64 MiB of zeros in 65 KB, where the list says 5 bytes: tar never gets them.
            ("a bomb", new, releases.gzip_bomb("data/readme.txt", 64 << 20), True, True),
            ("an archive longer than listed", new,
             releases.tar_of([*new.items(), ("data/extra.pak", os.urandom(2_000_000))]), True, False),
        ]
        old = {"Quellorn.exe": b"old game"}  # nothing to keep: the archive it is
        for what, files, archive, file_list, blocks in cases:
            with self.subTest(what):
                shutil.rmtree(self.store, ignore_errors=True)
                self.install("1.0.0", old)
                releases.publish(self.www, "1.1.0", files, file_list=file_list, archive_bytes=archive,
                                 blocks=blocks)
                self.assertEqual(self.run_launcher(), (0, self.ok_line("1.0.0")))
                self.assert_intact("1.0.0", old)
                downloaded = not file_list or archive is not None
                self.assertEqual(self.store_entries(),
                                 ["1.0.0", *(["1.1.0.download"] if downloaded else []), "current.txt"])
                log = (self.store / "launcher.log").read_text(encoding="utf-8")
                self.assertTrue("The release couldn't be unpacked" in log or
                                "The release's file list isn't one" in log, log)
        # Nothing installed: the player reads why.
        shutil.rmtree(self.store, ignore_errors=True)
        self.assertEqual(self.run_launcher(),
                         (1, "error\tThe download failed. The release couldn't be unpacked."))

    def test_a_block_spoiled_on_the_way_is_fetched_again_alone(self):
        big = dict(GAME, **{"data/big.pak": os.urandom(3 << 20)})
        feed = releases.publish(self.www, "1.0.0", big, blocks=True)
        self.server.faults[feed["file"]] = Fault(spoil_at=(1 << 20) + 5)
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.0.0")))
        self.assert_intact("1.0.0", big)
        self.assertEqual(self.server.ranges[feed["file"]], [None, f"bytes={1 << 20}-{(2 << 20) - 1}"])

    def test_a_drip_starts_the_installed_version_and_keeps_what_came(self):
        self.install("1.0.0")
        (self.app / "launcher.json").write_text(json.dumps({"minDownloadKBps": 64, "slowDownloadSeconds": 2}))
        big = dict(GAME, **{"Quellorn.exe": b"game 2.0.0", "data/big.pak": os.urandom(3_000_000)})
        feed = releases.publish(self.www, "2.0.0", big, file_list=False)
        # Every answer stops for half a minute after 100 KB.
        self.server.faults[feed["file"]] = Fault(stall_after=100_000, stall_seconds=30)
        started = time.monotonic()
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.0.0")))
        self.assertLess(time.monotonic() - started, 60)
        self.assertGreaterEqual((self.store / "2.0.0.download").stat().st_size, 200_000)
        self.assertGreaterEqual(self.server.requests[feed["file"]], 2)  # tried again where it stood
        self.assert_intact("1.0.0")

    @unittest.skipIf(on_windows(), "another user's links are symbolic links")
    def test_links_planted_in_the_store_lead_no_write_outside_it(self):
        outside = self.folder / "outside"
        outside.mkdir()
        canary = outside / "canary.txt"
        canary.write_text("untouched")
        self.install("1.0.0")

        def plant(version):
            for name in ("launcher.log", "current.txt.tmp", f"{version}.download", f"{version}.record.tmp"):
                (self.store / name).unlink(missing_ok=True)
                (self.store / name).symlink_to(canary)
            for name in (f"{version}.partial", f"{version}.parts"):
                (self.store / name).symlink_to(outside, target_is_directory=True)
        # File by file (parts, record), then by the archive (download, staging).
        plant("1.1.0")
        new = dict(GAME, **{"Quellorn.exe": b"game 1.1.0"})
        releases.publish(self.www, "1.1.0", new, extra={"size": 10_000_000})
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.1.0")))
        plant("1.2.0")
        newer = dict(new, **{"Quellorn.exe": b"game 1.2.0"})
        releases.publish(self.www, "1.2.0", newer, file_list=False)
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.2.0")))
        self.assert_intact("1.2.0", newer)
        self.assertEqual([p.name for p in outside.iterdir()], ["canary.txt"])
        self.assertEqual(canary.read_text(), "untouched")
        self.assertFalse((self.store / "1.2.0").is_symlink())

    @unittest.skipIf(on_windows(), "modes are Linux's")
    def test_modes_are_the_launchers_own_whatever_the_umask(self):
        for umask in (0o000, 0o077):
            with self.subTest(umask=oct(umask)):
                shutil.rmtree(self.store, ignore_errors=True)
                releases.publish(self.www, "1.0.0", GAME)
                self.assertEqual(self.run_launcher(umask=umask), (0, self.ok_line("1.0.0")))
                new = dict(GAME, **{"Quellorn.exe": b"game 1.1.0"})
                releases.publish(self.www, "1.1.0", new, extra={"size": 10_000_000})
                self.assertEqual(self.run_launcher(umask=umask), (0, self.ok_line("1.1.0")))
                mode = lambda path: (self.store / path).stat().st_mode & 0o7777  # noqa: E731
                for folder in ("", "1.1.0", "1.1.0/data", "1.1.0/data/maps"):
                    self.assertEqual(mode(folder), 0o755, folder)
                self.assertEqual(mode("1.1.0/Quellorn.exe"), 0o755)  # fetched, and started from here
                self.assertEqual(mode("1.1.0/data/readme.txt"), 0o644)

    def test_removing_a_folder_never_follows_a_link_inside_it(self):
        outside = self.folder / "outside"
        outside.mkdir()
        (outside / "canary.txt").write_text("untouched")
        self.install("1.0.0")
        (self.store / "0.9.0").mkdir()
        if on_windows():
            made = subprocess.run([EMULATOR, "cmd", "/c", "mklink", "/J", native(self.store / "0.9.0" / "inside"),
                                   native(outside)], capture_output=True, text=True)
            self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
        else:
            (self.store / "0.9.0" / "inside").symlink_to(outside, target_is_directory=True)
        releases.publish(self.www, "1.0.0", GAME)
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.0.0")))  # up to date: pruned
        self.assertFalse((self.store / "0.9.0").exists())
        self.assertEqual((outside / "canary.txt").read_text(), "untouched")

    def test_a_failing_install_keeps_the_installed_version(self):
        self.install("1.0.0")
        (self.store / "0.9.0").mkdir()
        releases.publish(self.www, "1.1.0", dict(GAME, **{"Quellorn.exe": b"game 1.1.0"}), file_list=False)
        self.server.faults["Quellorn-1.1.0.tar"] = Fault(status=404)
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.0.0")))
        self.assert_intact("1.0.0")
        self.assertTrue((self.store / "0.9.0").exists())
        # What support reads: the run, the decision, the failure in full and the fall-back.
        log = (self.store / "launcher.log").read_text(encoding="utf-8")
        for expected in (f"Launcher {OWN_VERSION} started in check mode; feed " + self.server.url("latest.json"),
                         "Installed: 1.0.0", "Update from 1.0.0 to 1.1.0",
                         "1.1.0 failed: The server answered 404",
                         "Starting the installed 1.0.0 instead",
                         "Check line: ok\t", "The run ended with exit code 0"):
            self.assertIn(expected, log)

    def test_two_launchers_on_one_installation(self):
        releases.publish(self.www, "1.0.0", GAME)
        self.server.faults["Quellorn-1.0.0.tar"] = Fault(stall_after=1000, stall_seconds=4)
        first = subprocess.Popen(self.command(check="first.txt"), env=self.environment(),
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._wait_for(lambda: self.server.body_bytes["Quellorn-1.0.0.tar"] >= 1000)
        self.assertEqual(self.run_launcher(check="second.txt"),
                         (1, "error\tAnother launcher is already updating Quellorn."))
        # The same installation through a link to its folder: the same lock.
        linked = self.folder / "linked"
        linked.symlink_to(self.app, target_is_directory=True)
        program = [EMULATOR] if on_windows() else []
        result = subprocess.run(program + [str(linked / LAUNCHER.name), "--feed", self.server.url("latest.json"),
                                           "--check", native(self.folder / "linked.txt")],
                                env=self.environment(), capture_output=True, timeout=180)
        self.assertEqual((result.returncode, (self.folder / "linked.txt").read_text()),
                         (1, "error\tAnother launcher is already updating Quellorn."))
        # Another installation isn't held up.
        other = self.folder / "Other Install"
        other.mkdir()
        shutil.copy2(LAUNCHER, other / LAUNCHER.name)
        result = subprocess.run(program + [str(other / LAUNCHER.name), "--feed", self.server.url("missing.json"),
                                           "--check", native(self.folder / "third.txt")],
                                env=self.environment(), capture_output=True, timeout=180)
        self.assertEqual(result.returncode, 1)
        self.assertTrue((self.folder / "third.txt").read_text().startswith("error\tCouldn't reach"))
        self.assertEqual(first.wait(timeout=180), 0)
        self.assertEqual((self.folder / "first.txt").read_text(encoding="utf-8"), self.ok_line("1.0.0"))

    def test_killed_mid_download_resumes_with_a_range(self):
        self.install("1.0.0")
        big = dict(GAME, **{"Quellorn.exe": b"game 2.0.0", "data/big.pak": os.urandom(6_000_000)})
        feed = releases.publish(self.www, "2.0.0", big, file_list=False)
        self.server.faults["Quellorn-2.0.0.tar"] = Fault(stall_after=2_000_000, stall_seconds=30)
        process = subprocess.Popen(self.command(), env=self.environment(),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._wait_for(lambda: (self.store / "2.0.0.download").exists()
                       and (self.store / "2.0.0.download").stat().st_size >= 2_000_000)
        process.send_signal(signal.SIGKILL)
        process.wait(timeout=30)
        self.assert_intact("1.0.0")  # startable throughout
        kept = (self.store / "2.0.0.download").stat().st_size
        del self.server.faults["Quellorn-2.0.0.tar"]
        sent_before = self.server.body_bytes["Quellorn-2.0.0.tar"]
        self.assertEqual(self.run_launcher(), (0, self.ok_line("2.0.0")))
        self.assertEqual(self.server.ranges["Quellorn-2.0.0.tar"][-1], f"bytes={kept}-")
        self.assertEqual(self.server.body_bytes["Quellorn-2.0.0.tar"] - sent_before, feed["size"] - kept)
        self.assert_intact("2.0.0", big)

    def test_check_file_in_a_missing_folder_and_non_ascii_paths(self):
        releases.publish(self.www, "1.0.0", GAME)
        code, line = self.run_launcher(check="missing/out.txt")
        self.assertEqual((code, line), (0, None))
        # An installation whose path isn't ASCII: the line is UTF-8.
        self.app = self.folder / "Spiele \u00c4rger"
        self.app.mkdir()
        shutil.copy2(LAUNCHER, self.app / LAUNCHER.name)
        self.store = self.app / "Client"
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.0.0")))

    def test_names_windows_would_rewrite_never_become_current(self):
        self.install("1.0.0")
        for version in ("1.1.", "nul", "1.0.0.partial", "current.txt"):
            with self.subTest(version=version):
                releases.publish(self.www, version, dict(GAME, **{"Quellorn.exe": b"game 1.1"}))
                self.assertEqual(self.run_launcher(), (0, self.ok_line("1.0.0")))
                self.assert_intact("1.0.0")
                self.assertEqual(self.store_entries(), ["1.0.0", "current.txt"])

    def test_lists_naming_one_place_twice_or_a_download_name(self):
        self.install("1.0.0")
        # One place twice, in two letter cases: a malformed list, which refuses the release.
        new = dict(GAME, **{"Quellorn.exe": b"game 1.1.0"})
        feed = releases.publish(self.www, "1.1.0", new)
        listing = self.www / feed["files"]
        text = listing.read_text() + f"{releases.sha256(b'x')}\t1\tDATA/README.TXT\n"
        listing.write_text(text)
        feed["filesSha256"] = releases.sha256(text.encode())
        (self.www / "latest.json").write_text(json.dumps(feed))
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.0.0")))
        self.assertEqual(self.server.requests["Quellorn-1.1.0.tar"], 0)
        self.assert_intact("1.0.0")
        # A path beside another one's download name, fetched file by file.
        newer = dict(new, **{"data/x": b"x" * 3000, "data/x.part": b"y" * 4000})
        releases.publish(self.www, "1.2.0", newer, extra={"size": 10_000_000})
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.2.0")))
        self.assertEqual(self.server.requests["Quellorn-1.2.0.tar"], 0)
        self.assert_intact("1.2.0", newer)

    @unittest.skipUnless(not on_windows() and os.geteuid() == 0, "mounting a small disk needs root")
    def test_a_full_disk(self):
        big = dict(GAME, **{"Quellorn.exe": b"game 2.0.0", "data/big.pak": os.urandom(6_000_000)})
        feed = releases.publish(self.www, "2.0.0", big, file_list=False)
        self.mount_store(4)
        # Too little room before the download: nothing is asked of the server.
        code, line = self.run_launcher()
        self.assertEqual(code, 1)
        self.assertTrue(line.startswith("error\tThe download failed. There isn't enough free space on the disk: "), line)
        self.assertTrue(line.endswith(" MB more are needed.."), line)
        self.assertEqual(self.server.body_bytes[feed["file"]], 0)

        # The leftovers of other versions go before an install starts, so the room they took counts.
        self.mount_store(16)
        self.install("1.0.0")
        (self.store / "0.9.0.download").write_bytes(b"l" * 9_000_000)
        self.assertEqual(self.run_launcher(), (0, self.ok_line("2.0.0")))
        self.assert_intact("2.0.0", big)

        # The disk fills during the download: it stops at that block, the installed version starts.
        bigger = dict(big, **{"Quellorn.exe": b"game 3.0.0", "data/big.pak": os.urandom(10_000_000)})
        feed = releases.publish(self.www, "3.0.0", bigger, file_list=False)
        self.server.faults[feed["file"]] = Fault(stall_after=1_000_000, stall_seconds=2)
        process = subprocess.Popen(self.command(), env=self.environment(),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._wait_for(lambda: self.server.body_bytes[feed["file"]] >= 1_000_000)
        free = shutil.disk_usage(self.store).free
        try:
            (self.store / "filler").write_bytes(b"f" * max(0, free - 200_000))
        except OSError:
            pass  # the launcher wrote on meanwhile: the disk is full all the same
        self.assertEqual(process.wait(timeout=120), 0)
        self.assertEqual((self.folder / "out.txt").read_text(), self.ok_line("2.0.0"))
        self.assert_intact("2.0.0", big)
        self.assertLess(self.server.body_bytes[feed["file"]], 8_000_000)

    @unittest.skipIf(on_windows(), "the stand-in tar is the Linux PATH's")
    def test_tar_ends_with_a_killed_launcher(self):
        releases.publish(self.www, "1.0.0", GAME)
        # A tar that takes its time, and says who it is.
        bin_folder = self.folder / "bin"
        bin_folder.mkdir()
        (bin_folder / "tar").write_text(f"#!/bin/sh\necho $$ > '{self.folder}/tar.pid'\nexec sleep 60\n")
        (bin_folder / "tar").chmod(0o755)
        environment = dict(self.environment(), PATH=f"{bin_folder}:{os.environ['PATH']}")
        process = subprocess.Popen(self.command(), env=environment,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._wait_for(lambda: (self.folder / "tar.pid").exists()
                       and (self.folder / "tar.pid").read_text().strip())
        pid = int((self.folder / "tar.pid").read_text())
        process.send_signal(signal.SIGKILL)
        process.wait(timeout=30)
        self._wait_for(lambda: not pathlib.Path(f"/proc/{pid}").exists(), seconds=10)

    def test_a_signed_launcher_believes_only_fresh_signed_feeds(self):
        shutil.copy2(SIGNED, self.app / LAUNCHER.name)  # built with the keys of tests/keys
        # Nothing installed, a feed nobody signed: nothing to fall back to.
        releases.publish(self.www, "1.0.0", GAME)
        self.assertEqual(self.run_launcher(),
                         (1, "error\tThe update server's answer couldn't be trusted. Try again later."))
        self.assertFalse((self.store / "current.txt").exists())
        self.sign()
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.0.0")))
        first = {name: (self.www / name).read_bytes() for name in ("latest.json", "latest.json.sig")}

        new = dict(GAME, **{"Quellorn.exe": b"game 1.1.0"})
        releases.publish(self.www, "1.1.0", new, extra={"sequence": 1})
        self.sign()  # sequence 2
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.1.0")))
        # The first feed again, signed and not expired, but older: refused; 1.1.0 stays.
        for name, data in first.items():
            (self.www / name).write_bytes(data)
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.1.0")))
        self.assert_intact("1.1.0", new)
        # A byte changed after signing.
        releases.publish(self.www, "1.2.0", GAME, extra={"sequence": 5})
        self.sign()
        feed = (self.www / "latest.json").read_text().replace('"1.2.0"', '"1.2.1"')
        (self.www / "latest.json").write_text(feed)
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.1.0")))
        self.assertEqual(self.server.requests["Quellorn-1.2.0.tar"], 0)
        self.assert_intact("1.1.0", new)

    @unittest.skipUnless(not on_windows() and os.geteuid() == 0 and os.path.exists("/usr/bin/python3"),
                         "another user needs root and the system's Python")
    def test_another_user_cant_swap_the_installer(self):
        self.install("1.0.0")
        installer = b"installer" * 100_000
        releases.publish(self.www, "1.1.0", GAME, launcher=("2.3.0", installer))
        self.server.faults["Quellorn-Launcher-2.3.0.exe"] = Fault(stall_after=100_000, stall_seconds=2)
        self.temp.chmod(0o1777)  # shared, as /tmp is
        self.folder.chmod(0o755)
        # Another user makes the name the installer once had, and keeps writing into every file
        # of the launcher's it can reach while the download runs.
        attacker = subprocess.Popen(["/usr/bin/python3", "-c", f"""
import os, pathlib, time
tmp = pathlib.Path({str(self.temp)!r})
(tmp / "Quellorn-Launcher-2.3.0.exe").write_bytes(b"evil")
end = time.time() + 6
while time.time() < end:
    for entry in tmp.glob("Quellorn-Launcher-*"):
        for target in [entry, *(entry.glob("*") if entry.is_dir() else [])]:
            try:
                with open(target, "r+b") as file:
                    file.write(b"evil")
            except OSError:
                pass
    time.sleep(0.01)
"""], user=65534, group=65534)
        self.addCleanup(attacker.kill)
        time.sleep(0.3)
        code, line = self.run_launcher()
        self.assertEqual(code, 0)
        path = pathlib.Path(line.split("\t", 1)[1])
        self.assertEqual(path.read_bytes(), installer)
        self.assertEqual(path.parent.stat().st_uid, 0)
        self.assertEqual(path.parent.stat().st_mode & 0o777, 0o700)

    def test_redirects_and_the_players_proxy(self):
        releases.publish(self.www, "1.0.0", GAME)
        # The archive lives on a mirror the server redirects to.
        (self.www / "mirror").mkdir()
        shutil.copy2(self.www / "Quellorn-1.0.0.tar", self.www / "mirror" / "Quellorn-1.0.0.tar")
        self.server.faults["Quellorn-1.0.0.tar"] = Fault(redirect="/mirror/Quellorn-1.0.0.tar")
        feed, environment, proxy = None, self.environment(), None
        if not on_windows():
            # Proxies from the environment, as Linux has them (WinHTTP takes the system's
            # settings instead). A host only the proxy knows: without it, nothing is reached.
            proxy = Proxy()
            self.addCleanup(proxy.stop)
            feed = self.server.url("latest.json", host="quellorn-e2e.invalid")
            environment = dict(environment, http_proxy=proxy.url)
        result = subprocess.run(self.command(feed=feed), env=environment, capture_output=True, timeout=180)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual((self.folder / "out.txt").read_text(encoding="utf-8"), self.ok_line("1.0.0"))
        self.assertEqual(self.server.requests["mirror/Quellorn-1.0.0.tar"], 1)
        if proxy:
            self.assertGreaterEqual(proxy.seen["GET"], 1)
        self.assert_intact("1.0.0")
        # The feed is always asked for past any cache.
        self.assertEqual(self.server.cache_control["latest.json"], ["no-cache"])

    def test_connections_reset_now_and_then_go_unnoticed(self):
        self.install("1.0.0")
        new = dict(GAME, **{f"data/many/{i:03d}.pak": os.urandom(5000) for i in range(60)})
        releases.publish(self.www, "1.1.0", new, extra={"size": 100_000_000})
        self.server.reset_every = 10
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.1.0")))
        self.assertGreaterEqual(self.server.resets, 5)
        self.assert_intact("1.1.0", new)

    def publisher(self, *arguments):
        program = [EMULATOR, str(PUBLISH)] if on_windows() else [str(PUBLISH)]
        result = subprocess.run(program + list(arguments), capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def publish_under_roles(self, version, files, channel="", *keys, extra=None):
        """`version` published into the channel's feed and signed under the test root: by the
        release key (first) and the timestamp key (second) unless `keys` says otherwise."""
        name = "latest.json" if not channel else f"latest-{channel}.json"
        live = self.www / "latest.json"
        kept = live.read_bytes() if channel and live.exists() else None
        feed = releases.publish(self.www, version, files, extra=extra)
        if channel:
            live.rename(self.www / name)
            if kept is not None:
                live.write_bytes(kept)
        arguments = ["resign", "--server", native(self.www)] + (["--channel", channel] if channel else [])
        for key in keys or ("first", "second"):
            arguments += ["--key", native(KEYS / f"{key}.pem")]
        self.publisher(*arguments)
        return feed

    def test_signed_roles_hold_against_a_hostile_mirror(self):
        shutil.copy2(ROOTED, self.app / LAUNCHER.name)  # built with the test root of tests/keys
        (self.www / "root").mkdir()
        for suffix in ("", ".sig"):
            shutil.copy2(KEYS / f"root-1.json{suffix}", self.www / "root" / f"1.json{suffix}")
        self.publish_under_roles("1.0.0", GAME)
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.0.0")))
        old = {name: (self.www / name).read_bytes()
               for name in ("latest.json", "latest.json.sig", "timestamp.json", "timestamp.json.sig")}
        new = dict(GAME, **{"Quellorn.exe": b"game 1.1.0"})
        self.publish_under_roles("1.1.0", new)
        beta = dict(GAME, **{"Quellorn.exe": b"game 1.5.0-beta"})
        self.publish_under_roles("1.5.0", beta, "beta")
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.1.0")))
        log = lambda: (self.store / "launcher.log").read_text(encoding="utf-8")  # noqa: E731

        # A mirror answers the live feed with the beta channel's, signed and named by the timestamp.
        for suffix in ("", ".sig"):
            shutil.copy2(self.www / f"latest-beta.json{suffix}", self.www / f"latest.json{suffix}")
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.1.0")))
        self.assertIn('it is the feed of the channel "beta", not of ""', log())
        # The old feed and timestamp again, with what was accepted deleted: the copy in roots/
        # still knows, and nothing older is believed.
        for name, data in old.items():
            (self.www / name).write_bytes(data)
        (self.store / "trust.txt").unlink()
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.1.0")))
        self.assertIn("is older than the", log())
        self.publish_under_roles("1.1.0", new)

        # The studio moves the release role from the first key to the third: feeds the first signs
        # are refused from then on, whatever their sequence.
        keys = {name: subprocess.run(["openssl", "ec", "-in", KEYS / f"{name}.pem", "-pubout", "-outform", "DER"],
                                     capture_output=True, check=True).stdout[-64:].hex()
                for name in ("first", "third")}
        self.publisher("rotate", "--server", native(self.www), "--role", "release", "--remove", keys["first"],
                       "--add", keys["third"], "--key", native(KEYS / "first.pem"), "--key", native(KEYS / "third.pem"))
        newer = dict(GAME, **{"Quellorn.exe": b"game 1.2.0"})
        self.publish_under_roles("1.2.0", newer, "", "third", "second")
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.2.0")))
        stolen = releases.publish(self.www, "6.6.6", dict(GAME, **{"Quellorn.exe": b"evil"}),
                                  extra={"product": "Quellorn", "sequence": 18446744073709551615,
                                         "expires": "2099-01-01T00:00:00Z"})
        del stolen
        (self.www / "latest.json.sig").unlink()
        self.publisher("sign", native(self.www / "latest.json"), "--key", native(KEYS / "first.pem"))
        self.publisher("timestamp", "--server", native(self.www), "--key", native(KEYS / "second.pem"))
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.2.0")))
        self.assertIn("isn't signed by 1 of the release keys of root 2", log())

        # A downgrade only when signed as one.
        self.publish_under_roles("1.1.0", new, "", "third", "second")
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.2.0")))
        self.assertIn("says no rollback is meant", log())
        self.publish_under_roles("1.1.0", new, "", "third", "second", extra={"rollback": "true"})
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.1.0")))

        # The timestamp frozen: a mirror keeps serving one that has expired.
        stamp = json.loads((self.www / "timestamp.json").read_text())
        stamp.update(version="999999", expires="2020-01-01T00:00:00Z")
        (self.www / "timestamp.json").write_text(json.dumps(stamp))
        (self.www / "timestamp.json.sig").unlink()
        self.publisher("sign", native(self.www / "timestamp.json"), "--key", native(KEYS / "second.pem"))
        self.assertEqual(self.run_launcher(), (0, self.ok_line("1.1.0")))
        self.assertIn("Updates couldn't be checked since 2020-01-01T00:00:00Z", log())

    def sign(self):
        """Signs the server's feed as the publisher would, with the first test key."""
        program = [EMULATOR, str(PUBLISH)] if on_windows() else [str(PUBLISH)]
        result = subprocess.run(program + ["resign", "--server", native(self.www), "--key",
                                           native(KEYS / "first.pem")], capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_a_killed_run_leaves_no_check_line(self):
        releases.publish(self.www, "1.0.0", GAME)
        (self.folder / "out.txt").write_text("ok\tfrom an earlier run")
        self.server.faults["latest.json"] = Fault(stall_after=0, stall_seconds=30)
        process = subprocess.Popen(self.command(), env=self.environment(),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._wait_for(lambda: self.server.requests["latest.json"] >= 1)
        process.send_signal(signal.SIGKILL)
        process.wait(timeout=30)
        self.assertFalse((self.folder / "out.txt").exists())

    @unittest.skipUnless(not on_windows() and os.geteuid() == 0, "mounting a disk needs root")
    def test_a_store_that_cant_be_written_says_so(self):
        releases.publish(self.www, "1.0.0", GAME)
        self.store.mkdir()
        subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=1m", "tmpfs", str(self.store)], check=True)
        self.addCleanup(subprocess.run, ["umount", "-l", str(self.store)], capture_output=True)
        self.assertEqual(self.run_launcher(),
                         (1, "error\tQuellorn's folder can't be written: Read-only file system"))

    def mount_store(self, megabytes):
        """A disk of its own, this small, where the store goes."""
        subprocess.run(["umount", "-l", str(self.store)], capture_output=True)
        self.store.mkdir(exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={megabytes}m", "tmpfs", str(self.store)],
                       check=True)
        self.addCleanup(subprocess.run, ["umount", "-l", str(self.store)], capture_output=True)

    @unittest.skipUnless(can_trust(), "trusting a throwaway authority needs root")
    @unittest.skipIf(os.environ.get("E2E_PART", "").startswith("CheckMode"), "CTest runs it as a part of its own")
    def test_fresh_install_over_https(self):
        authority = self.folder / "authority"
        authority.mkdir()
        make_certificates(authority)
        server = UpdateServer(self.www, authority / "server.crt", authority / "server.key")
        releases.publish(self.www, "1.0.0", GAME)
        feed = server.url("latest.json", host="localhost")
        try:
            # Not trusted yet: the server can't be reached, whatever it serves.
            code, line = self.run_launcher(feed=feed)
            self.assertEqual(code, 1)
            self.assertTrue(line.startswith("error\tCouldn't reach localhost."), line)
            trust(authority / "ca.crt")
            self.assertEqual(self.run_launcher(feed=feed), (0, self.ok_line("1.0.0")))
            if not on_windows():
                # Through the player's proxy: a CONNECT tunnel, whose own answer isn't the server's.
                shutil.rmtree(self.store)
                proxy = Proxy()
                self.addCleanup(proxy.stop)
                environment = dict(self.environment(), https_proxy=proxy.url)
                result = subprocess.run(self.command(feed=feed), env=environment, capture_output=True,
                                        timeout=180)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assert_intact("1.0.0")
                self.assertGreaterEqual(proxy.seen["CONNECT"], 1)
        finally:
            trust(None)
            server.stop()

    def _wait_for(self, condition, seconds=60):
        deadline = time.monotonic() + seconds
        while not condition():
            if time.monotonic() > deadline:
                self.fail("timed out waiting")
            time.sleep(0.05)


def load_tests(loader, tests, pattern):
    """With E2E_SHARD=i/n, only every n-th scenario from the i-th, by name: CTest runs the suite
    in parts, one on each core, as under Wine the whole of it takes minutes."""
    shard = os.environ.get("E2E_SHARD")
    if not shard:
        return tests
    index, count = map(int, shard.split("/"))
    names = sorted(loader.getTestCaseNames(CheckMode))
    return unittest.TestSuite(CheckMode(name) for name in names[index::count])


if __name__ == "__main__":
    unittest.main()
