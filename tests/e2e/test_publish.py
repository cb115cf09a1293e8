"""Both halves together: releases made by quellorn-publish, installed and updated by the real
launcher, and checked by `quellorn-publish verify` over HTTP. Linux only: the tool makes its
archives with the system's tar, and Wine's tar.exe is the tests' extractor."""

import datetime
import hashlib
import json
import re
import os
import pathlib
import shutil
import signal
import subprocess
import time
import unittest

from installation import set_up_installation
from update_server import Fault
from wine import on_windows

LAUNCHER = pathlib.Path(os.environ.get("E2E_LAUNCHER", "build/linux/bin/quellorn-launcher")).resolve()
PUBLISH = pathlib.Path(os.environ.get("E2E_PUBLISH", LAUNCHER.parent / "quellorn-publish")).resolve()


@unittest.skipIf(on_windows(), "Wine has no tar.exe that writes archives")
class PublishedReleases(unittest.TestCase):
    def setUp(self):
        set_up_installation(self, LAUNCHER, "quellorn-publish-")
        self.www.rmdir()  # the tool makes it
        self.build = self.folder / "build"

    def write_build(self, files):
        shutil.rmtree(self.build, ignore_errors=True)
        for name, data in files.items():
            (self.build / name).parent.mkdir(parents=True, exist_ok=True)
            (self.build / name).write_bytes(data)

    def publish(self, *arguments):
        return subprocess.run([str(PUBLISH), *arguments], capture_output=True, text=True, timeout=120)

    def check(self, feed="latest.json"):
        out = self.folder / "out.txt"
        environment = dict(os.environ, TMPDIR=str(self.folder), XDG_RUNTIME_DIR=str(self.folder))
        result = subprocess.run([str(self.app / LAUNCHER.name), "--feed", self.server.url(feed),
                                 "--check", str(out)], env=environment, capture_output=True, timeout=120)
        return result.returncode, out.read_text(encoding="utf-8")

    def test_install_update_and_verify(self):
        game = {"Quellorn.exe": b"game 1.0.0", **{f"data/map{i}.pak": os.urandom(50_000) for i in range(20)}}
        self.write_build(game)
        published = self.publish("release", str(self.build), "--version", "1.0.0", "--server", str(self.www))
        self.assertEqual(published.returncode, 0, published.stderr)
        # Random bytes don't compress: the archive stays a plain tar, and the launcher unpacks it.
        self.assertEqual(json.loads((self.www / "latest.json").read_text())["file"], "Quellorn-1.0.0.tar")
        self.assertIn("plain tar", published.stdout + published.stderr)
        self.assertEqual(self.check(), (0, f"ok\t{self.store / '1.0.0' / 'Quellorn.exe'}"))
        for name, data in game.items():
            self.assertEqual((self.store / "1.0.0" / name).read_bytes(), data)

        game.update({"Quellorn.exe": b"game 1.1.0", "data/map3.pak": os.urandom(50_000)})
        self.write_build(game)
        published = self.publish("release", str(self.build), "--version", "1.1.0", "--server", str(self.www))
        self.assertEqual(published.returncode, 0, published.stderr)
        self.assertIn("blobs: 2 new, 19 already there", published.stdout)
        self.server.requests.clear()
        self.assertEqual(self.check(), (0, f"ok\t{self.store / '1.1.0' / 'Quellorn.exe'}"))
        fetched = sorted(path for path in self.server.requests if path.startswith("files/"))
        self.assertEqual(len(fetched), 2)  # only what changed
        self.assertEqual(self.server.requests["Quellorn-1.1.0.tar"], 0)
        for name, data in game.items():
            self.assertEqual((self.store / "1.1.0" / name).read_bytes(), data)

        verified = self.publish("verify", self.server.url("latest.json"))
        self.assertEqual(verified.returncode, 0, verified.stdout)
        self.assertIn("All is well: release 1.1.0", verified.stdout)
        blob = self.www / "files" / (hashlib.sha256(b"game 1.1.0").hexdigest() + ".bin")
        blob.write_bytes(b"spoilt")
        verified = self.publish("verify", self.server.url("latest.json"))
        self.assertEqual(verified.returncode, 1)
        self.assertIn(blob.name, verified.stdout)

    def test_channels_promote_and_prune(self):
        movie = os.urandom(300_000)

        def release(version, channel=None, pack=None):
            self.write_build({"Quellorn.exe": f"game {version}".encode(), "data/map.pak": b"m" * 40_000,
                              "data/movie.bik": movie, **({"data/pack.pak": pack} if pack else {})})
            extra = ["--channel", channel] if channel else []
            published = self.publish("release", str(self.build), "--version", version, "--server",
                                     str(self.www), *extra)
            self.assertEqual(published.returncode, 0, published.stderr)
            return published.stdout

        def installed(version):
            return (0, f"ok\t{self.store / version / 'Quellorn.exe'}")

        # What the release says a new player downloads is what a fresh install fetches.
        planned = re.search(r"a new player: (\d+) bytes", release("1.0.0"))
        self.assertIsNotNone(planned)
        self.assertEqual(self.check(), installed("1.0.0"))
        fetched = sum(count for path, count in self.server.body_bytes.items() if not path.startswith("latest"))
        self.assertEqual(fetched, int(planned.group(1)))
        # What the release says a player on 1.0.0 downloads is what the launcher fetches.
        planned = re.search(r"from 1\.0\.0: (\d+) bytes \(.*\), 1 files one by one", release("1.1.0", "beta"))
        self.assertIsNotNone(planned)
        self.server.body_bytes.clear()
        self.assertEqual(self.check("latest-beta.json"), installed("1.1.0"))
        fetched = sum(count for path, count in self.server.body_bytes.items() if not path.startswith("latest"))
        self.assertEqual(fetched, int(planned.group(1)))
        plan = self.publish("plan", str(self.build), "--server", str(self.www))
        self.assertIn("from 1.0.0: ", plan.stdout)
        self.assertIn("from 1.1.0: nothing but the feed, it holds this very build", plan.stdout)
        # A large pack patched in its middle: the plan counts the chunks a player lacks, and the
        # launcher fetches just those.
        pack = os.urandom(9 << 20)
        release("1.1.1", "beta", pack)
        self.assertEqual(self.check("latest-beta.json"), installed("1.1.1"))
        edited = pack[:4 << 20] + os.urandom(1 << 20) + pack[5 << 20:]
        known = set((self.www / "files").iterdir())
        planned = re.search(r"from 1\.1\.1: (\d+) bytes", release("1.1.2", "beta", edited))
        # Killed while it fetches what the pack lacks: 1.1.1 stays current and whole.
        new = [f"files/{path.name}" for path in set((self.www / "files").iterdir()) - known]
        for path in new:
            self.server.faults[path] = Fault(stall_after=0, stall_seconds=20)
        environment = dict(os.environ, TMPDIR=str(self.folder), XDG_RUNTIME_DIR=str(self.folder))
        killed = subprocess.Popen([str(self.app / LAUNCHER.name), "--feed", self.server.url("latest-beta.json"),
                                   "--check", str(self.folder / "killed.txt")], env=environment)
        deadline = time.monotonic() + 60
        while not any(self.server.requests[path] for path in new):
            self.assertLess(time.monotonic(), deadline, "the update never asked for the pack's changes")
            time.sleep(0.05)
        killed.send_signal(signal.SIGKILL)
        killed.wait(timeout=30)
        self.assertEqual((self.store / "current.txt").read_text(), "1.1.1")
        self.assertEqual((self.store / "1.1.1/data/pack.pak").read_bytes(), pack)
        for path in new:
            del self.server.faults[path]
        self.server.body_bytes.clear()
        self.assertEqual(self.check("latest-beta.json"), installed("1.1.2"))
        self.assertEqual((self.store / "1.1.2/data/pack.pak").read_bytes(), edited)
        fetched = sum(count for path, count in self.server.body_bytes.items() if not path.startswith("latest"))
        self.assertEqual(fetched, int(planned.group(1)))
        self.assertLess(fetched, 6 << 20)
        (self.build / "data/movie.bik").write_bytes(os.urandom(1_200_000))
        refused = self.publish("release", str(self.build), "--version", "1.3.0", "--server", str(self.www),
                               "--max-update-MB", "1")
        self.assertEqual(refused.returncode, 1)
        self.assertIn("would download", refused.stderr)
        self.assertIn("would download", json.loads(self.publish(
            "release", str(self.build), "--version", "1.3.0", "--server", str(self.www), "--max-update-MB", "1",
            "--json").stdout)["error"])
        self.assertFalse(list(self.www.glob("Quellorn-1.3.0*")))
        release("1.2.0", "beta")
        promoted = self.publish("promote", "1.2.0", "--server", str(self.www))
        self.assertEqual(promoted.returncode, 0, promoted.stderr)
        self.assertEqual(self.check(), installed("1.2.0"))
        refused = self.publish("promote", "1.1.0", "--server", str(self.www))
        self.assertEqual(refused.returncode, 1)
        self.assertIn("--allow-downgrade", refused.stderr)

        # Every release was named by a feed moments ago: within the grace period they all stay.
        graced = self.publish("prune", "--keep", "1", "--server", str(self.www), "--dry-run", "--json")
        self.assertEqual(json.loads(graced.stdout)["removed"], [])
        dry = self.publish("prune", "--keep", "1", "--grace", "0", "--server", str(self.www), "--dry-run",
                           "--json")
        self.assertEqual(dry.returncode, 0, dry.stderr)
        report = json.loads(dry.stdout)
        self.assertTrue(report["dryRun"])
        self.assertIn("Quellorn-1.0.0-files.txt", report["removed"])
        self.assertEqual(report["kept"], ["1.2.0"])
        archives = lambda: sorted(p.name.split(".tar")[0] for p in self.www.glob("Quellorn-*.tar*"))
        self.assertEqual(archives(), [f"Quellorn-{v}" for v in ("1.0.0", "1.1.0", "1.1.1", "1.1.2", "1.2.0")])
        self.assertEqual(self.publish("prune", "--keep", "1", "--grace", "0", "--server", str(self.www)).returncode, 0)
        self.assertEqual(archives(), ["Quellorn-1.2.0"])
        verified = self.publish("verify", str(self.www), "--json")
        self.assertEqual((verified.returncode, json.loads(verified.stdout)["ok"]), (0, True), verified.stdout)
        self.assertEqual(self.check("latest-beta.json"), installed("1.2.0"))

        self.assertEqual(self.publish("--help").returncode, 0)
        # A malformed command line names what is wrong with it.
        malformed = self.publish("prune", "--server", str(self.www))
        self.assertEqual(malformed.returncode, 2)
        self.assertIn("prune needs --keep", malformed.stderr)

    def test_a_published_launcher_is_offered(self):
        self.write_build({"Quellorn.exe": b"game"})
        self.assertEqual(self.publish("release", str(self.build), "--version", "1.0.0", "--server",
                                      str(self.www)).returncode, 0)
        installer = self.folder / "setup.exe"
        installer.write_bytes(b"installer 9.0.0")
        published = self.publish("launcher", str(installer), "--version", "9.0.0", "--server", str(self.www))
        self.assertEqual(published.returncode, 0, published.stderr)
        code, line = self.check()
        self.assertEqual(code, 0)
        self.assertTrue(line.startswith("launcher\t") and line.endswith("Quellorn-Launcher-9.0.0.exe"), line)

    def test_signed_publishing(self):
        key = self.folder / "key.pem"
        made = self.publish("keygen", str(key))
        self.assertEqual(made.returncode, 0, made.stderr)
        public = made.stdout.strip()
        self.assertRegex(public, "^[0-9a-f]{128}$")
        self.assertEqual(key.stat().st_mode & 0o777, 0o600)
        self.assertEqual(self.publish("keygen", str(key)).returncode, 1)  # never replaced
        self.write_build({"Quellorn.exe": b"game"})
        published = self.publish("release", str(self.build), "--version", "1.0.0", "--server",
                                  str(self.www), "--key", str(key))
        self.assertEqual(published.returncode, 0, published.stderr)
        feed = json.loads((self.www / "latest.json").read_text())
        self.assertEqual((feed["product"], feed["sequence"]), ("Quellorn", 1))
        self.assertEqual(self.publish("verify", str(self.www), "--public-key", public).returncode, 0)
        other = self.publish("verify", self.server.url("latest.json"), "--public-key", "ab" * 64)
        self.assertEqual(other.returncode, 1)
        self.assertIn("a signed launcher won't believe it", other.stdout)
        # The same build again changes nothing, signature included.
        before = {name: (self.www / name).read_bytes() for name in ("latest.json", "latest.json.sig")}
        self.assertEqual(self.publish("release", str(self.build), "--version", "1.0.0", "--server",
                                      str(self.www), "--key", str(key)).returncode, 0)
        self.assertEqual({name: (self.www / name).read_bytes() for name in before}, before)
        # Signed again before it expires: a higher sequence, a new expiry, still verified.
        resigned = self.publish("resign", "--server", str(self.www), "--key", str(key), "--expires", "2")
        self.assertEqual(resigned.returncode, 0, resigned.stderr)
        feed = json.loads((self.www / "latest.json").read_text())
        self.assertEqual(feed["sequence"], 2)
        expires = datetime.datetime.strptime(feed["expires"], "%Y-%m-%dT%H:%M:%SZ")
        self.assertLess(abs((expires - datetime.datetime.utcnow()).total_seconds() - 2 * 86400), 600)
        self.assertEqual(self.publish("verify", self.server.url("latest.json"), "--public-key",
                                      public).returncode, 0)

    def test_bad_input_is_refused_and_the_command_says_why(self):
        self.write_build({"game.exe": b"not the name"})
        refused = self.publish("release", str(self.build), "--version", "1.0.0", "--server", str(self.www))
        self.assertEqual(refused.returncode, 1)
        self.assertIn("has no Quellorn.exe at its top", refused.stderr)
        self.assertFalse(self.www.exists())
        # A command line that isn't one names what is wrong with it.
        for words, problem in ((["release", str(self.build), "--server", str(self.www)], "release needs --version"),
                               (["release", "--version", "1.0.0", "--server", str(self.www)],
                                "release takes 1 word before its options, not 0"),
                               (["prune", "--keep"], "--keep needs a value"),
                               (["promote", "1.0.0", "--server", "a", "--shout"], "promote takes no --shout"),
                               (["publish"], "\"publish\" is no command")):
            malformed = self.publish(*words)
            self.assertEqual(malformed.returncode, 2, words)
            self.assertIn(problem, malformed.stderr)


if __name__ == "__main__":
    unittest.main()
