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
import ssl
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "e2e"))
from authority import can_trust, make_certificates, trust  # noqa: E402


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


def main():
    command = sys.argv[2:] + sys.argv[1:2]
    with tempfile.TemporaryDirectory() as name:
        folder = pathlib.Path(name)
        make_certificates(folder)
        server, content = serve(folder)
        url = f"https://localhost:{server.server_address[1]}/file.bin"
        ok = run_tests(command, url, content, trusted=False)
        if can_trust():
            try:
                trust(folder / "ca.crt")
                ok = run_tests(command, url, content, trusted=True) and ok
            finally:
                trust(None)
        else:
            print("https_check: not root, so the trusted case is skipped")
        server.shutdown()
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
