#!/usr/bin/env python3
"""The launcher's whole job on one machine. A sample game build is published with
quellorn-publish under the demo's signed roles into a server folder that nginx serves on loopback;
the launcher (built to trust the demo's first root) installs 1.0.0 and starts the game; the
release key is rotated with two of the three root keys, 1.1.0 is published with a few files
changed and signed by the new key, and the launcher follows the new root, updates file by file and
starts it. With a Windows build at hand, QuellornLauncher.exe then updates a copy of the 1.0.0
installation under Wine in check mode against the same server.

    scripts/demo.py BUILD_FOLDER ROLES_FOLDER [WINDOWS_LAUNCHER]
"""

import hashlib
import os
import pathlib
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import time

GAME = """#!/bin/sh
# The sample game: says who it is, how it was started and where, then ends.
echo "Quellorn {version} started in $(pwd) with arguments: $*" > started.txt
"""


def make_build(folder, version, changed=()):
    """A sample build: Quellorn.exe and 300 data files of 100 KiB, the same bytes for every
    version except the files named in `changed`."""
    (folder / "data").mkdir(parents=True, exist_ok=True)
    (folder / "Quellorn.exe").write_text(GAME.format(version=version))
    for i in range(300):
        seed = f"{i}-{version}" if i in changed else str(i)
        (folder / "data" / f"part{i:03d}.pak").write_bytes(random.Random(seed).randbytes(100 * 1024))


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Nginx:
    """The update server as a studio's own origin: nginx serving `www` with Range requests and the
    cache headers a CDN in front of it heeds, and taking uploads through its WebDAV methods
    (PROPFIND from Debian's dav-ext module); it logs the bytes of every answer."""

    def __init__(self, work, www):
        self.work, self.port = work, free_port()
        self.log = work / "access.log"
        www.mkdir(parents=True, exist_ok=True)
        (work / "dav-temp").mkdir(exist_ok=True)
        (work / "nginx.conf").write_text(f"""load_module /usr/lib/nginx/modules/ngx_http_dav_ext_module.so;
user root;
daemon on;
pid {work}/nginx.pid;
error_log {work}/error.log;
worker_processes 1;
events {{ worker_connections 64; }}
http {{
  log_format demo '$request_method $body_bytes_sent $request_uri';
  access_log {self.log} demo;
  sendfile on;
  types {{ application/json json; }}
  client_body_temp_path {work}/dav-temp;
  client_max_body_size 0;
  server {{
    listen 127.0.0.1:{self.port};
    root {www};
    dav_methods PUT DELETE MKCOL COPY MOVE;
    dav_ext_methods PROPFIND OPTIONS;
    create_full_put_path on;
    # The signed documents asked for anew each time; everything else is named by its content.
    location ~ "^/(latest(-[a-z0-9-]+)?\\.json|timestamp\\.json|root/[0-9]+\\.json|Quellorn-Launcher-[^/]+\\.json)(\\.sig)?$" {{
      add_header Cache-Control "no-cache";
    }}
    location / {{
      add_header Cache-Control "public, max-age=31536000, immutable";
    }}
  }}
}}
""")
        subprocess.run(["nginx", "-c", str(work / "nginx.conf")], check=True)
        self.url = f"http://127.0.0.1:{self.port}/latest.json"
        self.remote = f":webdav,url='http://127.0.0.1:{self.port}/',vendor=other:"

    def lines(self):
        time.sleep(0.2)  # nginx writes a request's line when the request is done
        if not self.log.exists():
            return []
        return [line.split(" ", 2) for line in self.log.read_text().splitlines()]

    def bytes_sent(self):
        return sum(int(sent) for method, sent, _ in self.lines() if method == "GET")

    def uploads(self):
        return [uri for method, _, uri in self.lines() if method == "PUT"]

    def stop(self):
        pid = self.work / "nginx.pid"
        if pid.exists():
            subprocess.run(["kill", pid.read_text().strip()])


def listed(www, version):
    lines = (www / f"Quellorn-{version}-files.txt").read_text(encoding="utf-8").splitlines()
    return {path: (digest, int(size)) for digest, size, path in (line.split("\t", 2) for line in lines)}


def publish(tool, build, version, local, keys, release_key, server):
    print(f"$ quellorn-publish release {build.name} --version {version} --server {local.name} "
          f"--key {release_key}.pem --key timestamp.pem --to \"{server.remote}\"")
    started = time.monotonic()
    before = len(server.uploads())
    subprocess.run([str(tool), "release", str(build), "--version", version, "--server", str(local),
                    "--key", str(keys / f"{release_key}.pem"), "--key", str(keys / "timestamp.pem"),
                    "--to", server.remote], check=True)
    sent = server.uploads()[before:]
    print(f"  ({time.monotonic() - started:.2f} s); {release_key} signs the feed, the timestamp names it;")
    print(f"  uploaded over WebDAV: {len(sent)} files, content first, then {', '.join(u.lstrip('/') for u in sent[-4:])}")


def rotate(tool, www, keys):
    print("$ quellorn-publish rotate --server server-folder --role release --remove release-1 --add release-2 "
          "--key root-1.pem --key root-2.pem")
    subprocess.run([str(tool), "rotate", "--server", str(www), "--role", "release",
                    "--remove", (keys / "release-1.pub").read_text().strip(),
                    "--add", (keys / "release-2.pub").read_text().strip(),
                    "--key", str(keys / "root-1.pem"), "--key", str(keys / "root-2.pem")], check=True)


def launch(launcher, app, server, title):
    print(f"\n== {title}\n$ {launcher.name} --feed {server.url} --demo")
    store = app / "Client"
    for started in store.glob("*/started.txt"):
        started.unlink()
    before = server.bytes_sent()
    began = time.monotonic()
    result = subprocess.run([str(app / launcher.name), "--feed", server.url, "--demo"], stdin=subprocess.DEVNULL)
    elapsed = time.monotonic() - began
    version = (store / "current.txt").read_text().strip()
    started = store / version / "started.txt"
    for _ in range(100):
        if started.exists():
            break
        time.sleep(0.05)
    print(f"  exit code {result.returncode} after {elapsed:.2f} s; the game says:")
    print(f"  {started.read_text().strip() if started.exists() else '(nothing: it did not start)'}")
    return server.bytes_sent() - before


def main():
    build_folder = pathlib.Path(sys.argv[1]).resolve()
    roles = pathlib.Path(sys.argv[2]).resolve()
    keys = roles / "keys"
    windows_launcher = pathlib.Path(sys.argv[3]).resolve() if len(sys.argv) > 3 else None
    launcher = build_folder / "quellorn-launcher"
    tool = build_folder / "quellorn-publish"
    began = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="quellorn-demo-") as name:
        work = pathlib.Path(name)
        os.chmod(work, 0o755)
        local, www, app = work / "server-folder", work / "www", work / "Quellorn"
        app.mkdir()
        shutil.copy2(launcher, app / launcher.name)

        make_build(work / "build-1.0.0", "1.0.0")
        shutil.copytree(roles / "root", local / "root")  # the first root, which the launcher trusts
        server = Nginx(work, www)
        try:
            print(f"nginx serves {www} at {server.url} and takes uploads over WebDAV")
            publish(tool, work / "build-1.0.0", "1.0.0", local, keys, "release-1", server)
            fetched = launch(launcher, app, server, "Fresh install of 1.0.0")
            print(f"  downloaded {fetched:,} bytes (the archive and the feed)")
            seed = work / "seed-1.0.0"
            shutil.copytree(app / "Client", seed / "Client")

            changed = {7, 42, 250}
            make_build(work / "build-1.1.0", "1.1.0", changed)
            print("\n== The release key is replaced: root 2, signed by two of the three root keys")
            rotate(tool, local, keys)
            publish(tool, work / "build-1.1.0", "1.1.0", local, keys, "release-2", server)
            old, new = listed(www, "1.0.0"), listed(www, "1.1.0")
            kept = sum(size for path, (digest, size) in new.items() if old.get(path, (None,))[0] == digest)
            fetched = launch(launcher, app, server, "Update to 1.1.0, file by file")
            total = sum(size for _, size in new.values())
            print(f"  downloaded {fetched:,} bytes, kept {kept:,} of {total:,} bytes from 1.0.0")
            print(f"  the store holds: {sorted(p.name for p in (app / 'Client').iterdir())}")
            print("\n== What the launcher logged (Client/launcher.log), for support")
            print((app / "Client" / "launcher.log").read_text(encoding="utf-8").rstrip())

            if windows_launcher:
                print("\n== QuellornLauncher.exe under Wine, check mode, updating a copy of 1.0.0")
                wine_app = work / "QuellornWine"
                shutil.copytree(seed, wine_app)
                shutil.copy2(windows_launcher, wine_app / windows_launcher.name)
                before = server.bytes_sent()
                subprocess.run([str(pathlib.Path(__file__).parent / "wine-run"), str(wine_app / windows_launcher.name),
                                "--feed", server.url, "--check", "Z:" + str(work / "check.txt").replace("/", "\\")],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                print(f"  check line: {(work / 'check.txt').read_text(encoding='utf-8')}")
                print(f"  downloaded {server.bytes_sent() - before:,} bytes")
        finally:
            server.stop()
    print(f"\nDemo done in {time.monotonic() - began:.1f} s.")


if __name__ == "__main__":
    main()
