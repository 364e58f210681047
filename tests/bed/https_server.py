#!/usr/bin/env python3
"""HTTPS test server of the download tests, with faults chosen by the request path.

Serves GET /MODE/NAME, where NAME is a file in DIR/root (written there by the tests) and MODE
one of:
  normal         200 with Content-Length and the file
  chunked        200, chunked transfer (no Content-Length), the file
  lie            200 announcing one byte more than the file
  long           chunked, the file plus one byte; all but the last 1001 bytes first, a pause,
                 then those 1001 bytes as one chunk
  extra          chunked, the whole file, a pause, then one byte more
  short          chunked, the file less its last byte
  status404      404
  status500      500
  redirect       302 to https://127.0.0.1:PORT/normal/NAME
  redirect-http  302 to http://127.0.0.1:HTTP_PORT/normal/NAME (the plain-HTTP listener)
  stall          200 headers with Content-Length, then no body until the client goes away
                 or the test creates DIR/root/NAME.release
  silent         the request is read, no response until the client goes away or the
                 test creates DIR/root/NAME.release
  drop           200 with Content-Length, half the body, then the connection is cut
  trickle        200 with Content-Length, the file in 16 KiB pieces every 20 ms
  dropfirst      the first request for NAME as drop, every later one as normal (a connection
                 lost once: a new try succeeds)

Listens on 127.0.0.1 only, on ephemeral ports: TLS, plain HTTP (same modes) and a raw TCP port
that accepts and never answers (a TLS handshake there never completes) until the client goes
away or the test creates DIR/root/silent-port.release. Writes
"TLS_PORT HTTP_PORT SILENT_PORT" to DIR/server.txt once listening and logs every request as
"tls|http METHOD PATH" to DIR/requests.log. Held connections end after HOLD_LIMIT seconds, and
the process ends by itself after MAX_LIFETIME seconds, so it never outlives a test run.
"""
import argparse
import http.server
import os
import select
import socket
import ssl
import sys
import threading
import time

HOLD_LIMIT = 90
MAX_LIFETIME = 900
TRICKLE_PIECE = 16384
TRICKLE_PAUSE = 0.02
CHUNK = 16384

log_lock = threading.Lock()
dropped = set()  # names whose first request the dropfirst mode has cut
ports = {}
options = None


def log(line):
    with log_lock:
        with open(os.path.join(options.dir, "requests.log"), "a", encoding="utf-8") as f:
            f.write(line + "\n")


def pieces(data):
    """Chunks of a chunked body, each sent without a pause."""
    return [(data[i:i + CHUNK], 0) for i in range(0, len(data), CHUNK)]


def hold(sock, release):
    """Keeps a connection open, reading nothing useful, until the peer closes it or a test
    creates the file release."""
    deadline = time.monotonic() + HOLD_LIMIT
    while time.monotonic() < deadline and not os.path.exists(release):
        try:
            readable, _, _ = select.select([sock], [], [], 0.1)
            if readable:
                if not sock.recv(4096):
                    return
        except ssl.SSLWantReadError:
            continue
        except (OSError, ValueError):
            return


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 30  # idle keep-alive connections end
    scheme = "tls"

    def log_message(self, format, *args):
        pass

    def send_plain(self, status, headers=(), body=b""):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def send_chunked(self, pieces):
        self.send_response(200)
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        for piece, pause in pieces:
            if pause:
                self.wfile.flush()
                time.sleep(pause)
            if piece:
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
        self.wfile.write(b"0\r\n\r\n")
        self.wfile.flush()

    def start_body(self, length):
        self.send_response(200)
        self.send_header("Content-Length", str(length))
        self.end_headers()
        self.wfile.flush()

    def release(self, name):
        return os.path.join(options.dir, "root", name + ".release")

    def do_GET(self):
        log("%s GET %s" % (self.scheme, self.path))
        parts = self.path.split("/")
        if len(parts) != 3 or not parts[2] or parts[2] in (".", ".."):
            self.send_plain(400, body=b"bad path\n")
            return
        mode, name = parts[1], parts[2]
        if mode == "status404":
            self.send_plain(404, body=b"not here\n")
            return
        if mode == "status500":
            self.send_plain(500, body=b"broken\n")
            return
        if mode == "redirect":
            self.send_plain(302, [("Location", "https://127.0.0.1:%d/normal/%s" % (ports["tls"], name))])
            return
        if mode == "redirect-http":
            self.send_plain(302, [("Location", "http://127.0.0.1:%d/normal/%s" % (ports["http"], name))])
            return
        if mode == "silent":
            hold(self.connection, self.release(name))
            self.close_connection = True
            return
        try:
            with open(os.path.join(options.dir, "root", name), "rb") as f:
                body = f.read()
        except OSError:
            self.send_plain(404, body=b"no such file\n")
            return
        try:
            self.serve(mode, name, body)
        except (OSError, ValueError):
            self.close_connection = True  # the client went away

    def serve(self, mode, name, body):
        if mode == "dropfirst":
            with log_lock:
                mode = "normal" if name in dropped else "drop"
                dropped.add(name)
        if mode == "normal":
            self.send_plain(200, [("Content-Type", "application/octet-stream")], body)
        elif mode == "chunked":
            self.send_chunked(pieces(body))
        elif mode == "lie":
            self.start_body(len(body) + 1)
            self.wfile.write(body)
            self.close_connection = True
        elif mode == "long":
            head, tail = body[:-1000], body[-1000:] + b"\0"
            self.send_chunked(pieces(head) + [(tail, 0.3)])
        elif mode == "extra":
            self.send_chunked(pieces(body) + [(b"\0", 0.3)])
        elif mode == "short":
            self.send_chunked(pieces(body[:-1]))
        elif mode == "stall":
            self.start_body(len(body))
            hold(self.connection, self.release(name))
            self.close_connection = True
        elif mode == "drop":
            self.start_body(len(body))
            self.wfile.write(body[:len(body) // 2])
            self.wfile.flush()
            time.sleep(0.1)
            self.connection.shutdown(socket.SHUT_RDWR)  # no TLS close_notify: a cut connection
            self.close_connection = True
        elif mode == "trickle":
            self.start_body(len(body))
            deadline = time.monotonic() + HOLD_LIMIT
            for i in range(0, len(body), TRICKLE_PIECE):
                if time.monotonic() > deadline:
                    break
                self.wfile.write(body[i:i + TRICKLE_PIECE])
                self.wfile.flush()
                time.sleep(TRICKLE_PAUSE)
        else:
            self.send_plain(400, body=b"unknown mode\n")


class PlainHandler(Handler):
    scheme = "http"


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    tls = None

    def finish_request(self, request, client_address):
        # The handshake runs in the connection's own thread, so a client that stalls in it
        # holds up nobody else.
        if self.tls is None:
            self.RequestHandlerClass(request, client_address, self)
            return
        request.settimeout(30)
        try:
            conn = self.tls.wrap_socket(request, server_side=True)
        except (OSError, ssl.SSLError) as e:
            log("tls handshake failed: %s" % e)
            return
        try:
            self.RequestHandlerClass(conn, client_address, self)
        finally:
            try:
                conn.close()
            except OSError:
                pass


def silent_listener(sock):
    while True:
        conn, _ = sock.accept()
        release = os.path.join(options.dir, "root", "silent-port.release")
        threading.Thread(target=lambda c=conn: (hold(c, release), c.close()), daemon=True).start()


def main():
    global options
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    options = parser.parse_args()

    threading.Timer(MAX_LIFETIME, lambda: os._exit(0)).start()

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(options.cert, options.key)
    tls = Server(("127.0.0.1", 0), Handler)
    tls.tls = context
    plain = Server(("127.0.0.1", 0), PlainHandler)
    silent = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    silent.bind(("127.0.0.1", 0))
    silent.listen(16)
    ports.update(tls=tls.server_address[1], http=plain.server_address[1], silent=silent.getsockname()[1])

    threading.Thread(target=plain.serve_forever, daemon=True).start()
    threading.Thread(target=silent_listener, args=(silent,), daemon=True).start()

    state = os.path.join(options.dir, "server.txt")
    with open(state + ".tmp", "w") as f:
        f.write("%d %d %d\n" % (ports["tls"], ports["http"], ports["silent"]))
    os.replace(state + ".tmp", state)
    tls.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
