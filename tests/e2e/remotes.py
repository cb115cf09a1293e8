"""Real storage servers on loopback for the upload tests, each started in a folder of the test's
own and stopped when the test ends: nginx with its WebDAV methods (PROPFIND from Debian's dav-ext
module), serving what it holds with the cache headers a CDN origin would send, and logging every
request; and OpenSSH's sshd with its SFTP subsystem, reachable with a key of the test's own."""

import os
import pathlib
import shutil
import socket
import subprocess
import time

DAV_MODULE = pathlib.Path("/usr/lib/nginx/modules/ngx_http_dav_ext_module.so")
SSHD = pathlib.Path("/usr/sbin/sshd")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def available():
    """Why the servers can't run here, or None."""
    for program in ("nginx", "rclone", "ssh-keygen"):
        if shutil.which(program) is None:
            return f"{program} is missing (scripts/setup installs it)"
    if not DAV_MODULE.exists() or not SSHD.exists():
        return "nginx's dav-ext module or sshd is missing (scripts/setup installs them)"
    return None


def nginx_cache_rules():
    """The cache headers of a self-hosted origin, as the README gives them: the signed documents
    asked for anew each time, everything else kept for good."""
    return """
    location ~ "^/(latest(-[a-z0-9-]+)?\\.json|timestamp\\.json|root/[0-9]+\\.json|Quellorn-Launcher-[^/]+\\.json)(\\.sig)?$" {
      add_header Cache-Control "no-cache";
    }
    location / {
      add_header Cache-Control "public, max-age=31536000, immutable";
    }"""


class DavNginx:
    """nginx serving `root` over HTTP with PUT, DELETE, MKCOL, MOVE and PROPFIND."""

    def __init__(self, work, root):
        self.work, self.root, self.port = work, root, free_port()
        self.log = work / "dav-access.log"
        root.mkdir(parents=True, exist_ok=True)
        (work / "dav-temp").mkdir(exist_ok=True)
        (work / "nginx-dav.conf").write_text(f"""load_module {DAV_MODULE};
user root;
daemon on;
pid {work}/nginx-dav.pid;
error_log {work}/nginx-dav-error.log;
worker_processes 1;
events {{ worker_connections 64; }}
http {{
  log_format plain '$request_method $uri $status';
  access_log {self.log} plain;
  types {{ application/json json; }}
  client_body_temp_path {work}/dav-temp;
  client_max_body_size 0;
  server {{
    listen 127.0.0.1:{self.port};
    root {root};
    dav_methods PUT DELETE MKCOL COPY MOVE;
    dav_ext_methods PROPFIND OPTIONS;
    create_full_put_path on;
    {nginx_cache_rules()}
  }}
}}
""")
        subprocess.run(["nginx", "-c", str(work / "nginx-dav.conf")], check=True)
        time.sleep(0.3)
        self.remote = f":webdav,url='http://127.0.0.1:{self.port}/',vendor=other:"
        self.url = f"http://127.0.0.1:{self.port}/"

    def requests(self):
        """(method, path, status) of every request so far, in order."""
        time.sleep(0.2)  # nginx writes a request's line once it is done
        if not self.log.exists():
            return []
        return [tuple(line.split(" ")) for line in self.log.read_text().splitlines()]

    def stop(self):
        subprocess.run(["nginx", "-c", str(self.work / "nginx-dav.conf"), "-s", "stop"],
                       capture_output=True)


class SftpServer:
    """sshd on a port of its own, letting root in with a key made for the test, SFTP inside."""

    def __init__(self, work, root):
        self.work, self.root, self.port = work, root, free_port()
        root.mkdir(parents=True, exist_ok=True)
        keys = work / "ssh"
        keys.mkdir()
        for name in ("host", "client"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", str(keys / name)],
                           check=True)
        shutil.copy(keys / "client.pub", keys / "authorized_keys")
        pathlib.Path("/run/sshd").mkdir(parents=True, exist_ok=True)  # privilege separation
        (keys / "sshd_config").write_text(f"""Port {self.port}
ListenAddress 127.0.0.1
HostKey {keys}/host
AuthorizedKeysFile {keys}/authorized_keys
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
StrictModes no
UsePAM no
PidFile {keys}/sshd.pid
Subsystem sftp internal-sftp
""")
        subprocess.run([str(SSHD), "-f", str(keys / "sshd_config"), "-E", str(keys / "log")], check=True)
        self.pid_file = keys / "sshd.pid"
        for _ in range(50):
            if self.pid_file.exists():
                break
            time.sleep(0.1)
        self.remote = f":sftp,host=127.0.0.1,port={self.port},user=root,key_file={keys}/client:{root}"

    def stop(self):
        if self.pid_file.exists():
            subprocess.run(["kill", self.pid_file.read_text().strip()])


def make_builds(folder, versions, files=12, size=200_000):
    """A build per version in `folder`: Quellorn.exe and data files of random bytes, each version
    changing a third of them."""
    builds = {}
    data = {f"data/part{i:02d}.pak": os.urandom(size) for i in range(files)}
    for n, version in enumerate(versions):
        if n:
            for i in range(0, files, 3):
                data[f"data/part{i:02d}.pak"] = os.urandom(size)
        build = folder / f"build-{version}"
        for name, bytes_ in {"Quellorn.exe": f"game {version}".encode(), **data}.items():
            (build / name).parent.mkdir(parents=True, exist_ok=True)
            (build / name).write_bytes(bytes_)
        builds[version] = build
    return builds
