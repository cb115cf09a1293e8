"""Game releases as an update server publishes them: the archive (plain ustar, which every tar
reads), the file list, the per-file blobs under files/ and the feed."""

import hashlib
import io
import json
import pathlib
import tarfile


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def publish(www, version, files, *, file_list=True, list_digest=None, launcher=None, extra=None):
    """Writes version's archive, list and blobs into www and makes latest.json name them.
    files maps "/"-separated paths to bytes; launcher is (version, installer bytes) or None."""
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
    (www / archive_name).write_bytes(archive.getvalue())
    feed = {"version": version, "file": archive_name, "sha256": sha256(archive.getvalue()),
            "size": len(archive.getvalue())}
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
