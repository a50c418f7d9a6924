#!/usr/bin/env python3
"""Loopback peers for the check tests and benchmarks.

Serves on 127.0.0.1 only, on ports the system picks, and writes them as name=value lines to the ports file once
every server listens:
  http      plain HTTP, the paths below
  https     the same over TLS with a self-signed certificate (--cert, --key)
  hang      accepts connections and never answers
  trap      counts connections; a resource that must never be fetched points here (GET /trap-hits on http)
  refused   a port that nothing listens on
  proxy     tinyproxy, forwarding every request to the http server as its upstream proxy, so that any host name
            "resolves" through it (its access log: proxy.log beside the ports file)
  proxyauth the same behind Basic authentication (admin / s3cret; log: proxyauth.log)
The http server answers a proxied request (absolute URI) for any host as for its own, and serves
/proxy.pac?port=N, a script that sends hosts below .invalid to the proxy on port N and all else direct.
Redirects (/redirect/...) send the request on: to an absolute URL, a relative one, to https, to another host
name of the loopback (localhost), in a chain of a given length, or in a loop.
Ends by itself after --lifetime seconds, or on SIGTERM.
"""
import argparse
import base64
import os
import shutil
import subprocess
import selectors
import signal
import socket
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

REPORT = (b"<?xml version=\"1.0\"?>\r\n<Report><CurrentTime>12:00</CurrentTime><Memory>"
          b"<PhysicalFree>512</PhysicalFree><TotalFree>2048</TotalFree></Memory></Report>")
BASIC_USER, BASIC_PASSWORD = "admin", "s3cret"

trap_hits = 0
trap_lock = threading.Lock()
reboots = {}
reboots_lock = threading.Lock()
ports = {}
options = None


def big_page():
    # The code straddles the first 65536-byte read.
    return b"a" * 65530 + b"NEEDLE-IN-PAGE" + b"b" * 1000


def doctype_report(target):
    return ("<?xml version=\"1.0\"?>\r\n<!DOCTYPE Report [<!ENTITY leak SYSTEM \"%s\">]>\r\n"
            "<Report><CurrentTime>&leak;</CurrentTime><Memory><PhysicalFree>1</PhysicalFree>"
            "<TotalFree>2</TotalFree></Memory></Report>" % target).encode()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server_version = "TestServer/1.0"

    def log_message(self, *args):
        pass

    def send_body(self, code, body, content_type="text/html", extra=()):
        self.send_response(code)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def authorized(self, user, password):
        expected = "Basic " + base64.b64encode(("%s:%s" % (user, password)).encode()).decode()
        if self.headers.get("Authorization") == expected:
            return True
        self.send_body(401, b"<html><body>401 Unauthorized</body></html>",
                       extra=[("WWW-Authenticate", "Basic realm=\"Mendrel\"")])
        return False

    def redirect(self, code, location):
        self.send_body(code, b"<html><body>Moved</body></html>", extra=[("Location", location)])

    def redirects(self, path):
        """The /redirect/ paths; False when path is none of them."""
        here = "http://127.0.0.1:%d" % ports["http"]
        rest = path[len("/redirect/"):]
        fixed = {
            "absolute": (302, here + "/page"),
            "relative/deeper": (301, "../../page"),
            "rootpath": (307, "/page"),
            "see-other": (303, "/page"),
            "permanent": (308, "/page"),
            "https": (302, "https://127.0.0.1:%d/page" % ports.get("https", 0)),
            "loop": (302, "/redirect/loop"),
            "same-host/Report": (302, "/auth/Report"),
            "other-host/Report": (302, "http://localhost:%d/auth/Report" % ports["http"]),
            "nolocation": None,
        }
        if rest in fixed:
            if fixed[rest] is None:
                self.send_body(302, b"<html><body>Moved without a Location, Welcome</body></html>")
            else:
                self.redirect(*fixed[rest])
            return True
        if rest.startswith("chain/"):
            n = int(rest[len("chain/"):] or "0")
            self.redirect(302, "/redirect/chain/%d" % (n - 1) if n > 1 else "/page")
            return True
        return False

    def pac(self):
        query = self.path.partition("?")[2]
        port = dict(p.partition("=")[::2] for p in query.split("&") if p).get("port", "0")
        script = ('function FindProxyForURL(url, host) {\n'
                  '  if (dnsDomainIs(host, ".invalid")) return "PROXY 127.0.0.1:%s";\n'
                  '  return "DIRECT";\n}\n' % port)
        self.send_body(200, script.encode(), "application/x-ns-proxy-autoconfig")

    def do_GET(self):
        # A request that a proxy forwards names its host in an absolute URI: answered as for this server.
        if self.path.startswith("http://"):
            self.path = "/" + self.path[len("http://"):].partition("/")[2]
        if self.path.startswith("/proxy.pac"):
            self.pac()
            return
        if self.path.startswith("/redirect/") and self.redirects(self.path.split("?", 1)[0]):
            return
        path = self.path.split("?", 1)[0]
        base, _, resource = path.rpartition("/")
        if resource == "Reboot":
            with reboots_lock:
                reboots[base] = reboots.get(base, 0) + 1
        routes = {
            "/ok/Report": lambda: self.send_body(200, REPORT, "text/xml"),
            "/ok/Reboot": lambda: self.send_body(200, b"<html>Rebooting</html>"),
            "/ok/sub/Report": lambda: self.send_body(200, REPORT, "text/xml"),
            "/ok/Report/": lambda: self.send_body(200, b"<html>trailing slash</html>"),
            "/nomemory/Report": lambda: self.send_body(
                200, b"<Report><CurrentTime>12:00</CurrentTime></Report>", "text/xml"),
            "/notime/Report": lambda: self.send_body(
                200, b"<Report><Memory><PhysicalFree>1</PhysicalFree></Memory></Report>", "text/xml"),
            "/otherroot/Report": lambda: self.send_body(
                200, b"<Status><CurrentTime>12:00</CurrentTime></Status>", "text/xml"),
            "/html/Report": lambda: self.send_body(500, b"<html><body><h1>Internal error</h1></body></html>"),
            "/html/Reboot": lambda: self.send_body(500, b"<html><body><h1>Internal error</h1></body></html>"),
            "/empty/Report": lambda: self.send_body(200, b"", "text/xml"),
            "/doctype-file/Report": lambda: self.send_body(200, doctype_report(options.secret_url), "text/xml"),
            "/doctype-port/Report": lambda: self.send_body(
                200, doctype_report("http://127.0.0.1:%d/leak" % ports["trap"]), "text/xml"),
            "/page": lambda: self.send_body(200, b"<html><body>Welcome to the shop</body></html>"),
            "/page/": lambda: self.send_body(200, b"<html><body>slash page</body></html>"),
            "/missing": lambda: self.send_body(404, b"<html><body>Not Found: Welcome</body></html>"),
            "/utf8": lambda: self.send_body(200, "<html>Preis: 5 \u20ac, Gr\u00fc\u00dfe</html>".encode("utf-8"),
                                            "text/html; charset=utf-8"),
            "/big": lambda: self.send_body(200, big_page()),
            "/trap-hits": lambda: self.send_body(200, str(trap_hits).encode(), "text/plain"),
            "/reboots": lambda: self.send_body(200, repr(sorted(reboots.items())).encode(), "text/plain"),
            "/headers": lambda: self.send_body(200, str(self.headers).encode(), "text/plain"),
            "/request-line": lambda: self.send_body(200, self.requestline.encode(), "text/plain"),
            "/hugetime/Report": lambda: self.send_body(
                200, b"<Report><CurrentTime>" + b"9" * (3 * 1024 * 1024) + b"</CurrentTime></Report>", "text/xml"),
            "/endless": self.endless,
            "/endless/Report": self.endless,
            "/partial/Report": lambda: self.partial(b"<Report><CurrentTime>12:00</CurrentTime></Report>"),
            "/partial/page": lambda: self.partial(b"<html><body>Welcome, partial"),
            "/late/Report": lambda: (time.sleep(0.4), self.send_body(200, REPORT, "text/xml")),
            "/slowbody/page": self.slow_body,
            "/slowheaders/page": self.slow_headers,
        }
        if path.startswith("/auth/"):
            if self.authorized(BASIC_USER, BASIC_PASSWORD):
                self.send_body(200, REPORT if resource == "Report" else b"<html>Rebooting</html>", "text/xml")
            return
        # The report at the root, as the Mendrel service serves it, behind the same account.
        if path == "/Report":
            if self.authorized(BASIC_USER, BASIC_PASSWORD):
                self.send_body(200, REPORT, "text/xml")
            return
        if path.startswith("/status/"):
            # Any status with a page that names it; no body where HTTP allows none.
            code = int(path[len("/status/"):])
            body = b"" if code in (204, 304) else ("<html><body>Welcome, status %d</body></html>" % code).encode()
            self.send_body(code, body)
            return
        if path.startswith("/authodd/"):
            if self.authorized("ad min", "p@ss:w%rd"):
                self.send_body(200, REPORT if resource == "Report" else b"<html>Welcome in</html>", "text/xml")
            return
        if path.startswith("/authempty/"):
            if self.authorized("", ""):
                self.send_body(200, REPORT, "text/xml")
            return
        route = routes.get(path)
        if route is None:
            self.send_body(404, b"<html><body>Not Found</body></html>")
            return
        route()

    def partial(self, first_part):
        # Announces more than it sends, then closes.
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(first_part) + 5000))
        self.end_headers()
        self.wfile.write(first_part)
        self.wfile.flush()
        self.close_connection = True

    def endless(self):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.end_headers()
        chunk = b"x" * 65536
        try:
            while True:
                self.wfile.write(chunk)
        except OSError:
            pass

    def slow_body(self):
        body = b"<html><body>Welcome, slowly" + b"." * 600 + b"</body></html>"
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.flush()
        self.dribble(body)

    def slow_headers(self):
        self.dribble(b"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nX-Padding: " + b"p" * 600 + b"\r\n\r\nWelcome")

    def dribble(self, data):
        try:
            for i in range(len(data)):
                self.wfile.write(data[i:i + 1])
                self.wfile.flush()
                time.sleep(1)
        except OSError:
            pass


class Server(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 1024
    allow_reuse_address = True


class TlsServer(Server):
    def __init__(self, address, handler, context):
        super().__init__(address, handler)
        self.context = context

    def get_request(self):
        sock, address = super().get_request()
        sock.settimeout(10)
        try:
            return self.context.wrap_socket(sock, server_side=True), address
        except (ssl.SSLError, OSError):
            sock.close()
            raise


def serve_hang(listener):
    """Accepts and holds every connection; reads and drops what arrives, answers nothing."""
    sel = selectors.DefaultSelector()
    listener.setblocking(False)
    sel.register(listener, selectors.EVENT_READ)
    while True:
        for key, _ in sel.select():
            if key.fileobj is listener:
                try:
                    conn, _ = listener.accept()
                    conn.setblocking(False)
                    sel.register(conn, selectors.EVENT_READ)
                except OSError:
                    pass
            else:
                try:
                    data = key.fileobj.recv(65536)
                except OSError:
                    data = b""
                if not data:
                    sel.unregister(key.fileobj)
                    key.fileobj.close()


def serve_trap(listener):
    global trap_hits
    while True:
        conn, _ = listener.accept()
        with trap_lock:
            trap_hits += 1
        conn.close()


proxies = []


def free_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def start_tinyproxy(folder, name, upstream_port, basic_auth=None):
    """Starts tinyproxy in the foreground with a configuration of its own; returns its port, or None when
    tinyproxy is not installed."""
    exe = shutil.which("tinyproxy") or ("/usr/bin/tinyproxy" if os.path.exists("/usr/bin/tinyproxy") else None)
    if not exe:
        return None
    port = free_port()
    conf = os.path.join(folder, name + ".conf")
    log = os.path.join(folder, name + ".log")
    open(log, "w").close()
    lines = ["Port %d" % port, "Listen 127.0.0.1", "Timeout 30", 'LogFile "%s"' % log, "LogLevel Info",
             "MaxClients 200", "Allow 127.0.0.1", "DisableViaHeader Yes",
             "Upstream http 127.0.0.1:%d" % upstream_port]
    if basic_auth:
        lines.append("BasicAuth %s %s" % basic_auth)
    with open(conf, "w") as f:
        f.write("\n".join(lines) + "\n")
    proc = subprocess.Popen([exe, "-d", "-c", conf], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    proxies.append(proc)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return port
        except OSError:
            time.sleep(0.1)
    return None


def end(*_):
    for proc in proxies:
        try:
            proc.kill()
        except OSError:
            pass
    os._exit(0)


def listen(backlog=4096):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    s.listen(backlog)
    return s


def main():
    global options
    parser = argparse.ArgumentParser()
    parser.add_argument("--ports-file", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--secret-url", default="file:///nonexistent")
    parser.add_argument("--lifetime", type=float, default=1800)
    options = parser.parse_args()

    signal.signal(signal.SIGTERM, end)
    threading.Timer(options.lifetime, end).start()

    http = Server(("127.0.0.1", 0), Handler)
    ports["http"] = http.server_address[1]
    threading.Thread(target=http.serve_forever, daemon=True).start()
    if options.cert and options.key:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(options.cert, options.key)
        https = TlsServer(("127.0.0.1", 0), Handler, context)
        ports["https"] = https.server_address[1]
        threading.Thread(target=https.serve_forever, daemon=True).start()
    hang = listen()
    ports["hang"] = hang.getsockname()[1]
    threading.Thread(target=serve_hang, args=(hang,), daemon=True).start()
    trap = listen()
    ports["trap"] = trap.getsockname()[1]
    threading.Thread(target=serve_trap, args=(trap,), daemon=True).start()
    closed = listen()
    ports["refused"] = closed.getsockname()[1]
    closed.close()

    folder = os.path.dirname(os.path.abspath(options.ports_file))
    for name, auth in (("proxy", None), ("proxyauth", (BASIC_USER, BASIC_PASSWORD))):
        port = start_tinyproxy(folder, name, ports["http"], auth)
        if port:
            ports[name] = port

    tmp = options.ports_file + ".tmp"
    with open(tmp, "w") as f:
        for name, port in ports.items():
            f.write("%s=%d\n" % (name, port))
        f.write("pid=%d\n" % os.getpid())
    os.replace(tmp, options.ports_file)
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    sys.exit(main())
