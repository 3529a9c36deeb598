#!/usr/bin/python3
"""A local update server for development, the demo and the tests.

Serves a folder over HTTP/1.1 (keep-alive, so clients can reuse connections)
and, when pyftpdlib is available, the same folder read-only over FTP.

With --release DIR (a folder with the update.xml that makemanifest wrote) it
serves that release the way the updater asks for it: "/update.xml" and
"/<a.b.c.d>/update.xml" give the release's manifest, "/update.sig" and
"/<a.b.c.d>/update.sig" its signature (when makemanifest --key wrote one),
"/update.keys" (at the root only) its key chain (when it has one; 404
otherwise), "<ver_root>/<file>" the release's files. Other paths come from
--root. The faults below apply to these paths as to any other.

It can misbehave on purpose. Control requests under /__qz/:

  /__qz/reset                          forget all faults and statistics
  /__qz/fault?path=P&mode=M[&times=N][&after=B][&delay=MS]
        the next N requests (default: all) for path P misbehave:
          404       answer 404 Not Found
          truncate  announce the full length, send B bytes, close cleanly
          drop      send B bytes, then reset the connection
          stall     send B bytes, then send nothing for MS milliseconds, close
          slow      send the whole body in pieces of B bytes, MS ms apart
          plain     answer like a plain web server, without the
                    "Cache-Control: no-cache" this server usually sends
          endless   the file without a length, then bytes without end
          headers   a status line, then header lines without end, MS ms
                    apart (0: as fast as the client takes them)
          cookie    the file, with a cookie set and a login asked for on the
                    side; a later request that sends a cookie or credentials
                    back is listed with "#cookie" after its path
        (endless answers stop by themselves after ENDLESS_SECONDS)
  /__qz/stats                          plain text: "connections N", then one
                                       line per request: "<conn> <path> <status>"
                                       (the path percent-encoded as UTF-8)

Run with Debian's /usr/bin/python3 (pyftpdlib is installed there).
"""

import argparse
import os
import re
import socket
import struct
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.reset()

    def reset(self):
        with self.lock:
            self.faults = {}  # path -> dict(mode, times, after, delay)
            self.connections = 0
            self.requests = []  # (conn id, path, status)

    def new_connection(self):
        with self.lock:
            self.connections += 1
            return self.connections

    def take_fault(self, path):
        with self.lock:
            fault = self.faults.get(path)
            if not fault:
                return None
            if fault["times"] > 0:
                fault["times"] -= 1
                if fault["times"] == 0:
                    del self.faults[path]
            return dict(fault)

    def record(self, conn, path, status):
        with self.lock:
            self.requests.append((conn, path, status))


STATE = State()


# An endless answer ends by itself after this long: the tests that need
# one are over well before, and nothing runs on for ever.
ENDLESS_SECONDS = 90

MANIFEST_PATH = re.compile(r"^/(\d+\.\d+\.\d+\.\d+/)?(update\.xml|update\.sig)$")
# The key chain is the publisher's, not a version's: one, at the root.
KEY_CHAIN_PATH = "/update.keys"


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QZUpdateServer/1.0"
    root = "."
    release = None
    quiet = True

    def setup(self):
        super().setup()
        self.conn_id = STATE.new_connection()

    def log_message(self, fmt, *args):
        if not self.quiet:
            sys.stderr.write("%s - %s\n" % (self.address_string(), fmt % args))

    def do_HEAD(self):
        self.serve(head=True)

    def do_GET(self):
        self.serve(head=False)

    def send_plain(self, status, text):
        body = text.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def control(self, path, query):
        q = {k: v[-1] for k, v in urllib.parse.parse_qs(query).items()}
        if path == "/__qz/reset":
            STATE.reset()
            return self.send_plain(200, "ok\n")
        if path == "/__qz/fault":
            fault = {
                "mode": q.get("mode", "404"),
                "times": int(q.get("times", "-1")),
                "after": int(q.get("after", "0")),
                "delay": int(q.get("delay", "0")),
            }
            with STATE.lock:
                STATE.faults[q.get("path", "")] = fault
            return self.send_plain(200, "ok\n")
        if path == "/__qz/stats":
            with STATE.lock:
                lines = ["connections %d" % STATE.connections]
                lines += ["%d %s %d" % (c, urllib.parse.quote(p, safe="/"), st) for c, p, st in STATE.requests]
            return self.send_plain(200, "\n".join(lines) + "\n")
        return self.send_plain(404, "unknown control request\n")

    def release_path(self, path):
        manifest = os.path.join(self.release, "update.xml")
        served = MANIFEST_PATH.match(path)
        if served:
            return "/" + served.group(2)
        if path == KEY_CHAIN_PATH:
            return path
        try:
            with open(manifest, "rb") as f:
                m = re.search(rb"<ver_root>([^<\n]*)</ver_root>", f.read())
        except OSError:
            return None
        root = m.group(1).decode("utf-8") if m else ""
        if path.startswith(root + "/"):
            return path[len(root):]
        return None

    def local_file(self, path):
        base = self.root
        if self.release:
            mapped = self.release_path(path)
            if mapped is not None:
                base, path = self.release, mapped
        parts = [p for p in path.split("/") if p]
        if any(p in (".", "..") or "\\" in p for p in parts):
            return None
        full = os.path.join(base, *parts)
        return full if os.path.isfile(full) else None

    def serve(self, head):
        url = urllib.parse.urlsplit(self.path)
        path = urllib.parse.unquote(url.path)
        # A client may send UTF-8 unescaped; the request line arrives as Latin-1.
        try:
            path = path.encode("latin-1").decode("utf-8")
        except (UnicodeEncodeError, UnicodeDecodeError):
            pass
        if path.startswith("/__qz/"):
            return self.control(path, url.query)

        fault = STATE.take_fault(path)
        full = self.local_file(path)
        # A client that sends back what it was handed has leaked it.
        if self.headers.get("Cookie") or self.headers.get("Authorization"):
            path += "#cookie"
        if full is None or (fault and fault["mode"] == "404"):
            STATE.record(self.conn_id, path, 404)
            return self.send_plain(404, "not found: %s\n" % path)

        if fault and fault["mode"] in ("endless", "headers"):
            STATE.record(self.conn_id, path, 200)
            return self.endless(full, fault["mode"], fault["delay"])

        with open(full, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            STATE.record(self.conn_id, path, 200)
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(size))
            plain = fault and fault["mode"] == "plain"
            if not plain:
                self.send_header("Cache-Control", "no-cache")
            if fault and fault["mode"] == "cookie":
                self.send_header("Set-Cookie", "qz-session=secret; Path=/")
                self.send_header("WWW-Authenticate", 'Basic realm="qz"')
            self.end_headers()
            if head:
                return
            if not fault or plain or fault["mode"] == "cookie":
                return self.copy(f, size)
            mode, after, delay = fault["mode"], fault["after"], fault["delay"]
            if mode == "slow":
                step = max(after, 1)
                while True:
                    chunk = f.read(step)
                    if not chunk:
                        return
                    self.wfile.write(chunk)
                    self.wfile.flush()
                    time.sleep(delay / 1000.0)
            self.wfile.write(f.read(after))
            self.wfile.flush()
            if mode == "stall":
                time.sleep(delay / 1000.0)
            elif mode == "drop":
                # An abortive close: the client sees a reset, not an end of data.
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                           struct.pack("ii", 1, 0))
            self.close_connection = True

    def endless(self, full, mode, delay):
        self.close_connection = True
        end = time.monotonic() + ENDLESS_SECONDS
        try:
            self.send_response_only(200)
            if mode == "endless":
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Connection", "close")
                self.end_headers()
                with open(full, "rb") as f:
                    self.wfile.write(f.read())
                filler = b"<version/>" * 6554
                while time.monotonic() < end:
                    self.wfile.write(filler)
            else:
                self.flush_headers()
                n = 0
                while time.monotonic() < end:
                    n += 1
                    self.wfile.write(b"X-Pad-%d: %s\r\n" % (n, b"x" * 60))
                    if delay:
                        self.wfile.flush()
                        time.sleep(delay / 1000.0)
        except OSError:
            pass  # the client gave up: that is the point

    def copy(self, f, size):
        sent = 0
        while sent < size:
            chunk = f.read(1 << 20)
            if not chunk:
                break
            self.wfile.write(chunk)
            sent += len(chunk)


def start_ftp(root, port):
    try:
        from pyftpdlib.authorizers import DummyAuthorizer
        from pyftpdlib.handlers import FTPHandler
        from pyftpdlib.servers import ThreadedFTPServer
    except ImportError:
        sys.stderr.write("update_server: pyftpdlib missing, no FTP\n")
        return None
    import logging
    logging.getLogger("pyftpdlib").setLevel(logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(root, perm="elr")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.banner = "qz update server"
    server = ThreadedFTPServer(("127.0.0.1", port), handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    return server


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--root", help="folder to serve (default: the release folder)")
    ap.add_argument("--release", help="a release folder made by makemanifest")
    ap.add_argument("--port", type=int, default=8085)
    ap.add_argument("--ftp-port", type=int, default=0, help="also serve FTP (0: no)")
    ap.add_argument("--pidfile")
    ap.add_argument("--verbose", action="store_true")
    args = ap.parse_args()

    if not args.root and not args.release:
        ap.error("give --root, --release or both")
    Handler.root = os.path.abspath(args.root or args.release)
    Handler.release = os.path.abspath(args.release) if args.release else None
    Handler.quiet = not args.verbose
    ThreadingHTTPServer.allow_reuse_address = True
    ThreadingHTTPServer.daemon_threads = True
    httpd = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    if args.ftp_port:
        start_ftp(Handler.root, args.ftp_port)
    if args.pidfile:
        with open(args.pidfile, "w") as f:
            f.write("%d\n" % os.getpid())
    print("update_server: http://127.0.0.1:%d/ serving %s" % (args.port, Handler.root), flush=True)
    try:
        httpd.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
