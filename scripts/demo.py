#!/usr/bin/env python3
"""The launcher's main job on one machine: a demo release of Quellorn is published into a
folder, served by a local update server, and installed by the real launcher; then version 1.1.0
is published and the launcher updates to it file by file, fetching only what changed.

    scripts/demo.py LAUNCHER
"""

import os
import pathlib
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "e2e"))
import releases  # noqa: E402
from update_server import UpdateServer  # noqa: E402


def run(launcher, app, feed, check):
    result = subprocess.run([str(app / launcher.name), "--feed", feed, "--check", str(check)])
    print(f"  exit code {result.returncode}: {check.read_text(encoding='utf-8')}")


def main():
    launcher = pathlib.Path(sys.argv[1]).resolve()
    with tempfile.TemporaryDirectory(prefix="quellorn-demo-") as name:
        folder = pathlib.Path(name)
        app, www = folder / "Quellorn", folder / "www"
        app.mkdir()
        www.mkdir()
        (app / launcher.name).write_bytes(launcher.read_bytes())
        os.chmod(app / launcher.name, 0o755)
        server = UpdateServer(www)
        feed = server.url("latest.json")

        game = {"Quellorn.exe": b"Quellorn 1.0.0", **{f"data/map{i}.pak": os.urandom(500_000) for i in range(8)}}
        releases.publish(www, "1.0.0", game)
        print(f"Published Quellorn 1.0.0 at {feed}; installing into {app / 'Client'}")
        run(launcher, app, feed, folder / "result.txt")

        game.update({"Quellorn.exe": b"Quellorn 1.1.0", "data/map0.pak": os.urandom(500_000)})
        releases.publish(www, "1.1.0", game, extra={"size": 100_000_000})
        print("Published Quellorn 1.1.0 (two files changed); updating")
        fetched_before = sum(server.body_bytes.values())
        run(launcher, app, feed, folder / "result.txt")
        print(f"  bytes fetched for the update: {sum(server.body_bytes.values()) - fetched_before:,}")
        print(f"  the store now holds: {sorted(p.name for p in (app / 'Client').iterdir())}")
        server.stop()


if __name__ == "__main__":
    main()
