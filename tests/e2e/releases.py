"""Game releases as an update server publishes them: the archive (plain ustar, which every tar
reads, or gzip'd), its block list, the file list, the per-file blobs under files/ and the feed."""

import gzip
import hashlib
import io
import json
import pathlib
import tarfile

BLOCK = 1 << 20


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def block_list(archive):
    """The archive's block list, as the launcher reads it."""
    digests = "".join(sha256(archive[at:at + BLOCK]) + "\n" for at in range(0, len(archive), BLOCK))
    return f"quellorn blocks 1 {BLOCK}\n{digests}".encode()


def publish(www, version, files, *, file_list=True, list_digest=None, launcher=None, extra=None,
            blocks=False, archive_bytes=None):
    """Writes version's archive, list and blobs into www and makes latest.json name them.
    files maps "/"-separated paths to bytes; launcher is (version, installer bytes) or None;
    blocks adds the archive's block list; archive_bytes serves those bytes as the archive."""
    www = pathlib.Path(www)
    (www / "files").mkdir(parents=True, exist_ok=True)
    archive = io.BytesIO()
    with tarfile.open(fileobj=archive, mode="w", format=tarfile.USTAR_FORMAT) as tar:
        for path, data in sorted(files.items()):
            info = tarfile.TarInfo(path)
            info.size = len(data)
            info.mtime = 1700000000
            tar.addfile(info, io.BytesIO(data))
    archive_name = f"Quellorn-{version}.tar"
    data = archive.getvalue() if archive_bytes is None else archive_bytes
    (www / archive_name).write_bytes(data)
    feed = {"version": version, "file": archive_name, "sha256": sha256(data), "size": len(data)}
    if blocks:
        (www / f"blocks-{version}.txt").write_bytes(block_list(data))
        feed.update(blocks=f"blocks-{version}.txt", blocksSha256=sha256(block_list(data)))
    if file_list:
        lines = "".join(f"{sha256(data)}\t{len(data)}\t{path}\n" for path, data in sorted(files.items()))
        (www / f"files-{version}.txt").write_text(lines, encoding="utf-8")
        for data in files.values():
            (www / "files" / f"{sha256(data)}.bin").write_bytes(data)
        feed["files"] = f"files-{version}.txt"
        feed["filesSha256"] = list_digest or sha256(lines.encode())
    if launcher:
        launcher_version, installer = launcher
        name = f"Quellorn-Launcher-{launcher_version}.exe"
        (www / name).write_bytes(installer)
        feed.update(launcherVersion=launcher_version, launcherFile=name,
                    launcherSha256=sha256(installer), launcherSize=len(installer))
    feed.update(extra or {})
    (www / "latest.json").write_text(json.dumps(feed), encoding="utf-8")
    return feed


def tar_of(entries):
    """A plain ustar archive of (name, bytes, size) entries; size, when given, is what the header
    claims instead of the bytes' own length."""
    archive = io.BytesIO()
    with tarfile.open(fileobj=archive, mode="w", format=tarfile.USTAR_FORMAT) as tar:
        for name, data in entries:
            info = tarfile.TarInfo(name)
            info.size = len(data)
            tar.addfile(info, io.BytesIO(data))
    return archive.getvalue()


def gzip_bomb(name, size):
    """A small gzip'd archive holding one file of `size` zero bytes."""
    packed = io.BytesIO()
    with gzip.GzipFile(fileobj=packed, mode="wb", compresslevel=9, mtime=0) as out:
        with tarfile.open(fileobj=out, mode="w|", format=tarfile.USTAR_FORMAT) as tar:
            info = tarfile.TarInfo(name)
            info.size = size

            class Zeros(io.RawIOBase):
                left = size

                def readable(self):
                    return True

                def readinto(self, buffer):
                    count = min(len(buffer), self.left)
                    buffer[:count] = bytes(count)
                    self.left -= count
                    return count
            tar.addfile(info, io.BufferedReader(Zeros(), 1 << 20))
    return packed.getvalue()
