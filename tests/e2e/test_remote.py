"""Publishing onto remote storage, and staged rollouts: quellorn-publish uploads through rclone to
real servers on loopback (nginx's WebDAV, OpenSSH's SFTP), the real launcher reads them over HTTP
at any moment of an upload, and installations of their own identities take a rollout's release or
not as the rule says. Linux only: the tool makes its archives with the system's tar."""

import hashlib
import json
import os
import pathlib
import shutil
import signal
import subprocess
import time
import unittest
import urllib.error
import urllib.request

from installation import set_up_installation
from remotes import DavNginx, SftpServer, make_builds
from update_server import UpdateServer
from wine import on_windows

LAUNCHER = pathlib.Path(os.environ.get("E2E_LAUNCHER", "build/linux/bin/quellorn-launcher")).resolve()
PUBLISH = pathlib.Path(os.environ.get("E2E_PUBLISH", LAUNCHER.parent / "quellorn-publish")).resolve()
DOCUMENTS = ("latest.json", "latest.json.sig", "timestamp.json")


def in_rollout(identity, salt, percent):
    """The launcher's rule, written apart: SHA-256 of the salt, a line feed and the identity, its
    first eight bytes as a number, below percent x 100 modulo 10,000."""
    digest = hashlib.sha256(f"{salt}\n{identity}".encode()).digest()
    return int.from_bytes(digest[:8], "big") % 10000 < percent * 100


@unittest.skipIf(on_windows(), "Wine has no tar.exe that writes archives")
class RemoteStorage(unittest.TestCase):
    def setUp(self):
        set_up_installation(self, LAUNCHER, "quellorn-remote-")
        self.www.rmdir()  # the tool makes it: the local working copy
        self.builds = make_builds(self.folder, ["1.0.0", "1.1.0"])

    def publish(self, *arguments, environment=None):
        return subprocess.run([str(PUBLISH), *map(str, arguments)], capture_output=True, text=True,
                              timeout=300, env=environment)

    def release(self, version, *more):
        published = self.publish("release", self.builds[version], "--version", version, "--server",
                                  self.www, "--json", *more)
        self.assertEqual(published.returncode, 0, published.stderr)
        return json.loads(published.stdout)

    def check(self, feed_url, app=None):
        app = app or self.app
        out = app / "check.txt"
        environment = dict(os.environ, TMPDIR=str(self.folder), XDG_RUNTIME_DIR=str(self.folder))
        subprocess.run([str(app / LAUNCHER.name), "--feed", feed_url, "--check", str(out)],
                       env=environment, capture_output=True, timeout=120)
        return out.read_text(encoding="utf-8")

    def installed(self, version, app=None):
        return f"ok\t{(app or self.app) / 'Client' / version / 'Quellorn.exe'}"

    def verify(self, url):
        verified = self.publish("verify", url, "--json")
        return verified.returncode, json.loads(verified.stdout)

    def test_content_goes_first_once_with_cache_headers_and_pruning_keeps_its_grace(self):
        dav = DavNginx(self.folder, self.folder / "dav")
        self.addCleanup(dav.stop)
        first = self.release("1.0.0", "--to", dav.remote)
        self.assertGreater(first["upload"]["contentSent"], 10)
        puts = [path.lstrip("/") for method, path, status in dav.requests() if method == "PUT"]
        documents = [i for i, path in enumerate(puts) if path in DOCUMENTS]
        self.assertTrue(documents)
        self.assertEqual(len(puts) - len(documents), first["upload"]["contentSent"])
        # Every content file before the first document that names it, nothing after.
        self.assertEqual(documents, list(range(len(puts) - len(documents), len(puts))), puts)
        blob = next(path for path in puts if path.startswith("files/"))
        with urllib.request.urlopen(dav.url + blob) as answer:
            self.assertEqual(answer.headers["Cache-Control"], "public, max-age=31536000, immutable")
        with urllib.request.urlopen(dav.url + "latest.json") as answer:
            self.assertEqual(answer.headers["Cache-Control"], "no-cache")
        self.assertEqual(self.check(dav.url + "latest.json"), self.installed("1.0.0"))

        # The next release sends only what the remote lacks: none of 1.0.0's content again.
        before = len(dav.requests())
        second = self.release("1.1.0", "--to", dav.remote)
        again = [path.lstrip("/") for method, path, status in dav.requests()[before:] if method == "PUT"]
        self.assertEqual(set(again) & set(puts), set(DOCUMENTS) & set(again))
        self.assertEqual(second["upload"]["contentThere"], first["upload"]["contentSent"])
        self.assertEqual(self.check(dav.url + "latest.json"), self.installed("1.1.0"))

        # A player may have read the feed naming 1.0.0 a minute ago: within the grace period
        # nothing of it goes; past it (here, none), it goes here and on the remote.
        graced = self.publish("prune", "--keep", "1", "--server", self.www, "--to", dav.remote, "--json")
        self.assertEqual(json.loads(graced.stdout)["removed"], [], graced.stderr)
        pruned = self.publish("prune", "--keep", "1", "--grace", "0", "--server", self.www, "--to",
                              dav.remote, "--json")
        removed = json.loads(pruned.stdout)["removed"]
        self.assertIn("Quellorn-1.0.0-files.txt", removed, pruned.stderr)
        for name in removed:
            with self.assertRaises(urllib.error.HTTPError, msg=name):
                urllib.request.urlopen(dav.url + name)
        self.assertEqual(self.verify(dav.url + "latest.json")[0], 0)

    def test_a_reader_finds_all_its_feed_names_while_an_upload_is_killed_and_the_next_finishes(self):
        for kind in ("webdav", "sftp"):
            with self.subTest(kind):
                work = self.folder / kind
                work.mkdir()
                shutil.rmtree(self.www, ignore_errors=True)
                if kind == "webdav":
                    remote_server = DavNginx(work, work / "remote")
                    url = remote_server.url
                else:
                    remote_server = SftpServer(work, work / "remote")
                    http = UpdateServer(work / "remote")  # the CDN in front of the storage
                    self.addCleanup(http.stop)
                    url = http.url("")
                self.addCleanup(remote_server.stop)
                self.release("1.0.0", "--to", remote_server.remote)
                held = set((work / "remote").rglob("*"))
                player = work / "player"
                player.mkdir()
                shutil.copy2(LAUNCHER, player / LAUNCHER.name)
                self.assertEqual(self.check(url + "latest.json", player), self.installed("1.0.0", player))
                self.release("1.1.0")
                # Slowed to 1 MB/s, so that it is killed in the midst of the content.
                slow = dict(os.environ, RCLONE_BWLIMIT="1M")
                upload = subprocess.Popen([str(PUBLISH), "upload", "--server", str(self.www), "--to",
                                           remote_server.remote], env=slow, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL)
                # Readers find all their feed names while it runs; it is killed once some of the
                # new content has arrived, in the midst of the rest.
                deadline = time.monotonic() + 60
                while not set((work / "remote").rglob("*")) - held and time.monotonic() < deadline:
                    code, verdict = self.verify(url + "latest.json")
                    self.assertEqual((code, verdict["problems"]), (0, []))
                upload.send_signal(signal.SIGKILL)  # rclone ends with the tool
                upload.wait()
                code, verdict = self.verify(url + "latest.json")
                self.assertEqual((code, verdict["version"]), (0, "1.0.0"), verdict)
                self.assertTrue(set((work / "remote").rglob("*")) - held)  # killed midway, not before
                self.assertEqual(self.check(url + "latest.json", player), self.installed("1.0.0", player))

                finished = self.publish("upload", "--server", self.www, "--to", remote_server.remote)
                self.assertEqual(finished.returncode, 0, finished.stderr)
                code, verdict = self.verify(url + "latest.json")
                self.assertEqual((code, verdict["version"]), (0, "1.1.0"), verdict)
                self.assertEqual(self.check(url + "latest.json", player), self.installed("1.1.0", player))

    def test_a_rollout_offers_its_release_to_its_share_and_halts(self):
        self.release("1.0.0")
        self.release("1.1.0", "--channel", "next")
        self.assertEqual(json.loads((self.www / "latest.json").read_text())["version"], "1.0.0")

        def roll(*arguments):
            rolled = self.publish("rollout", "1.1.0", "--server", self.www, "--json", *arguments)
            self.assertEqual(rolled.returncode, 0, rolled.stderr)
            return json.loads((self.www / "latest.json").read_text())

        feed = roll("--percent", "50")
        self.assertEqual((feed["version"], feed["rolloutVersion"], feed["rolloutPercent"]), ("1.0.0", "1.1.0", 50))
        salt = feed["rolloutSalt"]
        # Within a few percent of the share over 1,000 installations (0.06: nearly four standard
        # deviations of a fair draw, as the salt is new each run).
        share = sum(in_rollout(os.urandom(16).hex(), salt, 50) for _ in range(1000)) / 1000
        self.assertAlmostEqual(share, 0.5, delta=0.06)

        players = []
        for i in range(24):
            app = self.folder / f"player{i}"
            (app / "Client").mkdir(parents=True)
            shutil.copy2(LAUNCHER, app / LAUNCHER.name)
            identity = os.urandom(16).hex()
            (app / "Client" / "identity.txt").write_text(identity)
            players.append((app, identity))
        url = self.server.url("latest.json")

        def versions():
            got = {}
            for app, _ in players:
                line = self.check(url, app)
                got[app] = pathlib.Path(line.split("\t")[1]).parent.name
            return got

        took = versions()
        for app, identity in players:
            self.assertEqual(took[app], "1.1.0" if in_rollout(identity, salt, 50) else "1.0.0", app)
        self.assertEqual(set(took.values()), {"1.0.0", "1.1.0"})
        for path in self.server.requests:  # the identity stays on the machine
            self.assertFalse(any(identity in path for _, identity in players), path)

        # A larger share keeps the salt: those in stay in, more join.
        feed = roll("--percent", "90")
        self.assertEqual(feed["rolloutSalt"], salt)
        now = versions()
        for app, identity in players:
            self.assertEqual(now[app], "1.1.0" if in_rollout(identity, salt, 90) else "1.0.0", app)

        # Halted: nobody else takes it, and those who have it keep it.
        feed = roll("--halt")
        self.assertNotIn("rolloutVersion", feed)
        self.assertEqual(versions(), now)
        # Halted as a rollback, signed: those who have it go back.
        roll("--percent", "30")
        roll("--halt", "--allow-downgrade")
        self.assertEqual(set(versions().values()), {"1.0.0"})

        refused = self.publish("rollout", "1.0.0", "--server", self.www, "--percent", "10")
        self.assertEqual(refused.returncode, 1)
        self.assertIn("isn't newer than 1.0.0", refused.stderr)


if __name__ == "__main__":
    unittest.main()
