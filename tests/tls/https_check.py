#!/usr/bin/env python3
"""HTTPS against a throwaway certificate authority, for either build of the launcher's tests.

Makes an authority and a certificate for localhost with the openssl command, serves a file over
TLS on loopback, and runs the test program's Https tests twice: once while the authority is
unknown (the request must fail), and, when running as root, once while the system trusts it (the
download must succeed). The authority is removed from the system's store afterwards, whatever
happens. Certificate checks are never turned off on the client's side.

    https_check.py TEST_PROGRAM [EMULATOR]
"""

import hashlib
import http.server
import os
import pathlib
import shutil
import ssl
import subprocess
import sys
import tempfile
import threading

TRUST_FILE = pathlib.Path("/usr/local/share/ca-certificates/quellorn-test-authority.crt")


def openssl(*arguments, cwd):
    subprocess.run(["openssl", *arguments], cwd=cwd, check=True, capture_output=True)


def make_certificates(folder):
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
            "/CN=Quellorn throwaway test authority", "-keyout", "ca.key", "-out", "ca.crt",
            cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout",
            "server.key", "-out", "server.csr", cwd=folder)
    (folder / "extensions.cnf").write_text(
        "subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "2", "-extfile", "extensions.cnf", "-out", "server.crt",
            cwd=folder)


def serve(folder):
    root = folder / "www"
    root.mkdir()
    content = os.urandom(300000)
    (root / "file.bin").write_bytes(content)

    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *arguments, **keywords):
            super().__init__(*arguments, directory=str(root), **keywords)

        def log_message(self, *arguments):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(folder / "server.crt", folder / "server.key")
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, content


def run_tests(command, url, content, trusted):
    environment = dict(os.environ, QUELLORN_TLS_URL=url,
                       QUELLORN_TLS_SHA256=hashlib.sha256(content).hexdigest(),
                       QUELLORN_TLS_SIZE=str(len(content)),
                       QUELLORN_TLS_TRUSTED="1" if trusted else "0")
    result = subprocess.run([*command, "--gtest_filter=Https.*"], env=environment)
    return result.returncode == 0


def set_system_trust(authority):
    if authority:
        shutil.copyfile(authority, TRUST_FILE)
    else:
        TRUST_FILE.unlink(missing_ok=True)
    subprocess.run(["update-ca-certificates"], check=True, capture_output=True)


def main():
    command = sys.argv[2:] + sys.argv[1:2]
    with tempfile.TemporaryDirectory() as name:
        folder = pathlib.Path(name)
        make_certificates(folder)
        server, content = serve(folder)
        url = f"https://localhost:{server.server_address[1]}/file.bin"
        ok = run_tests(command, url, content, trusted=False)
        if os.geteuid() == 0 and shutil.which("update-ca-certificates"):
            try:
                set_system_trust(folder / "ca.crt")
                ok = run_tests(command, url, content, trusted=True) and ok
            finally:
                set_system_trust(None)
        else:
            print("https_check: not root, so the trusted case is skipped")
        server.shutdown()
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
