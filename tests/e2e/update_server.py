"""An update server for the end-to-end tests: serves a folder as a static server does (Range, 206
with Content-Range, 416), over HTTP or TLS, with faults chosen per path, and counts the requests
and body bytes of every path so a test can prove what was fetched."""

import collections
import dataclasses
import http.server
import ssl
import threading
import time
import urllib.parse


@dataclasses.dataclass
class Fault:
    status: int = 0                  # answer this status instead
    cut_after: int = -1              # close the connection after this many body bytes
    stall_after: int = -1            # after this many body bytes, wait stall_seconds
    stall_seconds: float = 0.0
    ignore_range: bool = False       # answer 200 with everything
    content_range_start: int = -1    # claim another start in Content-Range
    extra_bytes: bytes = b""         # append these to the body
    missing_bytes: int = 0           # leave this many bytes off the end
    wrong_bytes: bool = False        # flip the first byte of the body


class UpdateServer:
    def __init__(self, root, certificate=None, key=None):
        self.root = root
        self.faults = {}
        self.requests = collections.Counter()
        self.body_bytes = collections.Counter()
        self.ranges = collections.defaultdict(list)
        self.lock = threading.Lock()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *arguments):
                pass

            def do_GET(self):
                server._answer(self)

        class QuietServer(http.server.ThreadingHTTPServer):
            def handle_error(self, request, client_address):
                pass  # clients that hang up mid-body are part of the tests

        self.httpd = QuietServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.scheme = "http"
        if certificate:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(certificate, key)
            self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
            self.scheme = "https"
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def url(self, path, host="127.0.0.1"):
        return f"{self.scheme}://{host}:{self.httpd.server_address[1]}/{path}"

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()

    def _answer(self, handler):
        path = urllib.parse.unquote(urllib.parse.urlsplit(handler.path).path).lstrip("/")
        fault = self.faults.get(path, Fault())
        requested_range = handler.headers.get("Range")
        with self.lock:
            self.requests[path] += 1
            self.ranges[path].append(requested_range)
        file = self.root / path
        if fault.status:
            return self._send(handler, fault.status, b"", {}, fault, path)
        if not file.is_file():
            return self._send(handler, 404, b"not found", {}, fault, path)
        content = file.read_bytes()
        if fault.wrong_bytes and content:
            content = bytes([content[0] ^ 0xFF]) + content[1:]
        start = 0
        if requested_range and requested_range.startswith("bytes=") and not fault.ignore_range:
            start = int(requested_range[6:].split("-")[0])
            if start >= len(content):
                return self._send(handler, 416, b"", {"Content-Range": f"bytes */{len(content)}"},
                                  fault, path)
            shown = fault.content_range_start if fault.content_range_start >= 0 else start
            headers = {"Content-Range": f"bytes {shown}-{len(content) - 1}/{len(content)}"}
            return self._send(handler, 206, content[start:], headers, fault, path)
        return self._send(handler, 200, content, {}, fault, path)

    def _send(self, handler, status, body, headers, fault, path):
        body += fault.extra_bytes
        promised = len(body)  # a body short of missing_bytes still promises them all
        if fault.missing_bytes:
            body = body[:max(0, len(body) - fault.missing_bytes)]
        handler.send_response(status)
        for name, value in headers.items():
            handler.send_header(name, value)
        handler.send_header("Content-Length", str(promised))
        if fault.cut_after >= 0 or fault.missing_bytes:
            handler.send_header("Connection", "close")
            handler.close_connection = True
        handler.end_headers()
        end = len(body) if fault.cut_after < 0 else min(fault.cut_after, len(body))
        sent = 0
        try:
            while sent < end:
                if fault.stall_after >= 0 and sent >= fault.stall_after and fault.stall_seconds:
                    time.sleep(fault.stall_seconds)
                    fault = dataclasses.replace(fault, stall_after=-1)
                piece_end = end if fault.stall_after < 0 else min(end, max(fault.stall_after, sent + 1))
                piece = body[sent:min(piece_end, sent + 65536)]
                handler.wfile.write(piece)
                handler.wfile.flush()
                sent += len(piece)
                with self.lock:
                    self.body_bytes[path] += len(piece)
        except (BrokenPipeError, ConnectionResetError):
            handler.close_connection = True
