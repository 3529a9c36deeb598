#!/usr/bin/python3
"""A local update server for development, the demo and the tests.

Serves a folder over HTTP/1.1 (keep-alive, so clients can reuse connections)
and, when pyftpdlib is available, the same folder read-only over FTP.

Files are served as a static web server such as nginx serves them (its
documented behaviour for ranges): a strong ETag "<mtime hex>-<size hex>" and
a Last-Modified with every file; a single "Range: bytes=N-" (or N-M) answered
206 with Content-Range and the length of the part, 416 with
"Content-Range: bytes */<size>" when N is at or past the end; an If-Range
that is neither the ETag byte for byte nor the Last-Modified exactly gets the
whole file with 200.

With --release DIR (a folder with the update.xml that makemanifest wrote) it
serves that release the way the updater asks for it: "/update.xml" and
"/<a.b.c.d>/update.xml" give the release's manifest, "/update.sig" and
"/<a.b.c.d>/update.sig" its signature (when makemanifest --key wrote one),
"/update.dlt" and "/<a.b.c.d>/update.dlt" its delta index (when makemanifest
--previous wrote one), "/update.keys" (at the root only) its key chain (when
it has one; 404 otherwise), "<ver_root>/<file>" the release's files and
"<ver_root's parent>/patches/<file>" the "patches" folder beside the release
folder, where makemanifest --previous writes them. Other paths come from
--root. The faults below apply to these paths as to any other.

It can misbehave on purpose. Control requests under /__qz/:

  /__qz/reset                          forget all faults and statistics
  /__qz/fault?path=P&mode=M[&times=N][&after=B][&delay=MS]
        the next N requests (default: all) for path P misbehave; M may
        name several modes, comma-separated (truncate,norange):
          404       answer 404 Not Found
          truncate  announce the full length (of the file or the part),
                    send B bytes of it, close cleanly
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
          norange   Range and If-Range ignored: the whole file with 200
          newetag   the file as if published again before this request: a
                    new ETag and Last-Modified, so an If-Range sent with the
                    earlier ones no longer matches
        (endless answers stop by themselves after ENDLESS_SECONDS)
  /__qz/stats                          plain text: "connections N", then one
                                       line per request: "<conn> <path> <status>
                                       <body bytes sent>" (the path
                                       percent-encoded as UTF-8)

Run with Debian's /usr/bin/python3 (pyftpdlib is installed there).
"""

import argparse
import email.utils
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
            self.requests = []  # [conn id, path, status, body bytes sent]
            self.generation = {}  # path -> times "newetag" published it again

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
        """The request's entry; its body bytes are counted into entry[3]."""
        entry = [conn, path, status, 0]
        with self.lock:
            self.requests.append(entry)
        return entry

    def republish(self, path):
        with self.lock:
            self.generation[path] = self.generation.get(path, 0) + 1
            return self.generation[path]

    def generation_of(self, path):
        with self.lock:
            return self.generation.get(path, 0)


STATE = State()


# An endless answer ends by itself after this long: the tests that need
# one are over well before, and nothing runs on for ever.
ENDLESS_SECONDS = 90

MANIFEST_PATH = re.compile(r"^/(\d+\.\d+\.\d+\.\d+/)?(update\.xml|update\.sig|update\.dlt)$")
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
                lines += ["%d %s %d %d" % (c, urllib.parse.quote(p, safe="/"), st, n)
                          for c, p, st, n in STATE.requests]
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
        patches = root[:root.rfind("/")] + "/patches/"
        if root and path.startswith(patches):
            return "/../patches/" + path[len(patches):]
        return None

    def local_file(self, path):
        base = self.root
        if self.release:
            mapped = self.release_path(path)
            if mapped is not None:
                base, path = self.release, mapped
                if path.startswith("/../patches/"):  # beside the release folder
                    base, path = os.path.dirname(self.release), path[3:]
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
        modes = set(fault["mode"].split(",")) if fault else set()
        full = self.local_file(path)
        # A client that sends back what it was handed has leaked it.
        if self.headers.get("Cookie") or self.headers.get("Authorization"):
            path += "#cookie"
        if full is None or "404" in modes:
            STATE.record(self.conn_id, path, 404)
            return self.send_plain(404, "not found: %s\n" % path)

        if modes & {"endless", "headers"}:
            STATE.record(self.conn_id, path, 200)
            return self.endless(full, fault["mode"], fault["delay"])

        with open(full, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            mtime = int(os.fstat(f.fileno()).st_mtime)
            if "newetag" in modes:
                STATE.republish(path)
            # Published again: as if the file had been written that many seconds later.
            mtime += STATE.generation_of(path)
            etag = '"%x-%x"' % (mtime, size)
            modified = email.utils.formatdate(mtime, usegmt=True)
            first, last = self.wanted_range(size, etag, modified, "norange" in modes)
            if first is not None and first >= size:
                entry = STATE.record(self.conn_id, path, 416)
                body = b"range not satisfiable\n"
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_header("Content-Type", "text/plain")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                if not head:
                    self.wfile.write(body)
                    entry[3] = len(body)
                return
            status = 200 if first is None else 206
            if first is None:
                first, last = 0, size - 1
            length = last - first + 1
            entry = STATE.record(self.conn_id, path, status)
            self.send_response(status)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(length))
            if status == 206:
                self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, size))
            self.send_header("ETag", etag)
            self.send_header("Last-Modified", modified)
            self.send_header("Accept-Ranges", "bytes")
            plain = "plain" in modes
            if not plain:
                self.send_header("Cache-Control", "no-cache")
            if "cookie" in modes:
                self.send_header("Set-Cookie", "qz-session=secret; Path=/")
                self.send_header("WWW-Authenticate", 'Basic realm="qz"')
            self.end_headers()
            if head:
                return
            f.seek(first)
            cut = modes & {"slow", "truncate", "drop", "stall"}
            if not cut:
                return self.copy(f, length, entry)
            after, delay = fault["after"], fault["delay"]
            if "slow" in modes:
                step = max(after, 1)
                left = length
                while left > 0:
                    chunk = f.read(min(step, left))
                    if not chunk:
                        return
                    self.wfile.write(chunk)
                    self.wfile.flush()
                    left -= len(chunk)
                    entry[3] += len(chunk)
                    time.sleep(delay / 1000.0)
                return
            chunk = f.read(min(after, length))
            self.wfile.write(chunk)
            self.wfile.flush()
            entry[3] += len(chunk)
            if "stall" in modes:
                time.sleep(delay / 1000.0)
            elif "drop" in modes:
                # An abortive close: the client sees a reset, not an end of data.
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                           struct.pack("ii", 1, 0))
            self.close_connection = True

    def wanted_range(self, size, etag, modified, ignore):
        """(first, last) of a single satisfiable or unsatisfiable byte range
        the request asks for and may have; (None, None) for the whole file.
        As nginx: one range only, If-Range compared byte for byte."""
        wanted = self.headers.get("Range")
        if ignore or not wanted:
            return None, None
        m = re.fullmatch(r"bytes=(\d+)-(\d*)", wanted.strip())
        if not m:
            return None, None
        validator = self.headers.get("If-Range")
        if validator is not None and validator not in (etag, modified):
            return None, None
        first = int(m.group(1))
        last = min(int(m.group(2)), size - 1) if m.group(2) else size - 1
        if first < size and last < first:
            return None, None
        return first, last

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

    def copy(self, f, size, entry):
        sent = 0
        while sent < size:
            chunk = f.read(min(1 << 20, size - sent))
            if not chunk:
                break
            self.wfile.write(chunk)
            sent += len(chunk)
            entry[3] = sent


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
