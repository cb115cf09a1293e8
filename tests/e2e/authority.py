"""A throwaway certificate authority for HTTPS tests, and trusting it system-wide for a moment
(as root, through update-ca-certificates). Certificate checks are never turned off on the
launcher's side: the system must trust the authority for a request to succeed."""

import os
import pathlib
import shutil
import subprocess

TRUST_FILE = pathlib.Path("/usr/local/share/ca-certificates/quellorn-test-authority.crt")


def make_certificates(folder):
    """ca.crt, and server.crt/server.key signed by it for localhost and 127.0.0.1, in folder."""
    def openssl(*arguments):
        subprocess.run(["openssl", *arguments], cwd=folder, check=True, capture_output=True)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
            "/CN=Quellorn throwaway test authority", "-keyout", "ca.key", "-out", "ca.crt")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout",
            "server.key", "-out", "server.csr")
    (pathlib.Path(folder) / "extensions.cnf").write_text(
        "subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "2", "-extfile", "extensions.cnf", "-out", "server.crt")


def can_trust():
    return hasattr(os, "geteuid") and os.geteuid() == 0 and shutil.which("update-ca-certificates")


def trust(authority):
    """Adds the authority to the system's trusted ones, or (None) takes it away again."""
    if authority:
        shutil.copyfile(authority, TRUST_FILE)
    else:
        TRUST_FILE.unlink(missing_ok=True)
    subprocess.run(["update-ca-certificates"], check=True, capture_output=True)
