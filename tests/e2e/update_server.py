"""An update server for the end-to-end tests: serves a folder as a static server does (Range, 206
with Content-Range, 416), over HTTP or TLS, with faults chosen per path, and counts the requests
and body bytes of every path so a test can prove what was fetched."""

import collections
import dataclasses
import http.server
import select
import socket
import ssl
import struct
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
    spoil_at: int = -1               # flip this byte of the file in answers that hold it whole
    reset_after: int = -1            # after this many body bytes, reset the connection
    redirect: str = ""               # answer 302 with this Location instead
    times: int = -1                  # the fault holds for this many requests; -1: for all
    delay: float = 0.0               # wait this long before answering at all


class UpdateServer:
    def __init__(self, root, certificate=None, key=None):
        self.root = root
        self.faults = {}
        self.requests = collections.Counter()
        self.body_bytes = collections.Counter()
        self.ranges = collections.defaultdict(list)
        self.cache_control = collections.defaultdict(list)
        self.reset_every = 0  # every n-th request for a single file is reset half way
        self.single_files_asked = 0
        self.resets = 0
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
        requested_range = handler.headers.get("Range")
        with self.lock:
            self.requests[path] += 1
            self.ranges[path].append(requested_range)
            self.cache_control[path].append(handler.headers.get("Cache-Control"))
            fault = self.faults.get(path, Fault())
            if fault.times >= 0:
                fault = fault if self.requests[path] <= fault.times else Fault()
            if path.startswith("files/") and self.reset_every:
                self.single_files_asked += 1
                if self.single_files_asked % self.reset_every == 0:
                    fault = Fault(reset_after=1000)
                    self.resets += 1
        if fault.delay:
            time.sleep(fault.delay)
        if fault.redirect:
            return self._send(handler, 302, b"", {"Location": fault.redirect}, fault, path)
        file = self.root / path
        if fault.status:
            return self._send(handler, fault.status, b"", {}, fault, path)
        if not file.is_file():
            return self._send(handler, 404, b"not found", {}, fault, path)
        content = file.read_bytes()
        if fault.wrong_bytes and content:
            content = bytes([content[0] ^ 0xFF]) + content[1:]
        if 0 <= fault.spoil_at < len(content) and not requested_range:
            content = content[:fault.spoil_at] + bytes([content[fault.spoil_at] ^ 1]) + content[fault.spoil_at + 1:]
        start = 0
        if requested_range and requested_range.startswith("bytes=") and not fault.ignore_range:
            first, _, last = requested_range[6:].partition("-")
            start = int(first)
            if start >= len(content):
                return self._send(handler, 416, b"", {"Content-Range": f"bytes */{len(content)}"},
                                  fault, path)
            end = min(int(last), len(content) - 1) if last else len(content) - 1
            shown = fault.content_range_start if fault.content_range_start >= 0 else start
            headers = {"Content-Range": f"bytes {shown}-{end}/{len(content)}"}
            return self._send(handler, 206, content[start:end + 1], headers, fault, path)
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
        if fault.cut_after >= 0 or fault.missing_bytes or fault.reset_after >= 0:
            handler.send_header("Connection", "close")
            handler.close_connection = True
        handler.end_headers()
        end = len(body) if fault.cut_after < 0 else min(fault.cut_after, len(body))
        if fault.reset_after >= 0:
            end = min(fault.reset_after, len(body))
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
            if fault.reset_after >= 0:
                # A linger of zero: the close sends a reset, as a failing middlebox would.
                handler.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                              struct.pack("ii", 1, 0))
                handler.connection.close()
        except (BrokenPipeError, ConnectionResetError):
            handler.close_connection = True


class Proxy:
    """An HTTP proxy on loopback, as a player's network may have one: CONNECT tunnels for https,
    and plain requests in absolute form for http. Every host is taken to be this machine; it
    counts what it was asked for."""

    def __init__(self):
        self.seen = collections.Counter()
        self.lock = threading.Lock()
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.url = f"http://127.0.0.1:{self.port}"
        self.running = True
        threading.Thread(target=self._accept, daemon=True).start()

    def stop(self):
        self.running = False
        self.listener.close()

    def _accept(self):
        while self.running:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(client,), daemon=True).start()

    def _serve(self, client):
        with client:
            head = b""
            while b"\r\n\r\n" not in head:
                piece = client.recv(65536)
                if not piece:
                    return
                head += piece
            line, _, rest = head.partition(b"\r\n")
            method, target, version = line.decode("latin-1").split(" ", 2)
            if method == "CONNECT":
                port = int(target.rsplit(":", 1)[1])
                with self.lock:
                    self.seen["CONNECT"] += 1
                upstream = socket.create_connection(("127.0.0.1", port))
                client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                leftover = head.partition(b"\r\n\r\n")[2]
            else:
                parts = urllib.parse.urlsplit(target)
                with self.lock:
                    self.seen[method] += 1
                upstream = socket.create_connection(("127.0.0.1", parts.port or 80))
                path = parts.path + (f"?{parts.query}" if parts.query else "")
                leftover = f"{method} {path} {version}\r\n".encode("latin-1") + rest
            with upstream:
                upstream.sendall(leftover)
                self._relay(client, upstream)

    @staticmethod
    def _relay(one, other):
        sockets = [one, other]
        while True:
            ready, _, _ = select.select(sockets, [], [], 30)
            if not ready:
                return
            for source in ready:
                data = source.recv(65536)
                if not data:
                    return
                (other if source is one else one).sendall(data)
