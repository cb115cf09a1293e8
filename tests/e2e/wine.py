"""The .exe under Wine, as the end-to-end and window tests run it (E2E_EMULATOR names Wine's
runner; empty for the Linux build)."""

import os
import pathlib
import shutil
import subprocess

EMULATOR = os.environ.get("E2E_EMULATOR", "")


def on_windows():
    return bool(EMULATOR)


def native(path):
    """The launcher's own spelling of a path: Wine shows the Unix root as drive Z:."""
    return "Z:" + str(path).replace("/", "\\") if on_windows() else str(path)


def wine_folder(windows_path):
    result = subprocess.run([EMULATOR, "winepath", "-u", windows_path], capture_output=True, text=True)
    return pathlib.Path(result.stdout.strip())


def provide_tar(launcher):
    """Wine has no tar.exe: the test stand-in built beside the launcher takes its place."""
    system = wine_folder("C:\\windows\\system32")
    built = pathlib.Path(launcher).parent / "quellorn-test-tar.exe"
    # Replaced whenever the build made another one: a prefix outlives its builds.
    if not (system / "tar.exe").exists() or (system / "tar.exe").read_bytes() != built.read_bytes():
        shutil.copyfile(built, system / "tar.exe")
