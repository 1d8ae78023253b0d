#!/usr/bin/env python3
"""Demo quote server for NV Zalvento.

A DEMO FEED, NOT MARKET DATA: it serves the four index quote pages that the program's web source
reads, with bid and ask prices that follow a seeded random walk from the prices of the bundled index
definition files. It listens on 127.0.0.1 only, speaks HTTP/1.0 (one request per connection, closed
after the answer) and can answer with failures on request, for tests and soak runs.

Python 3 standard library only. See docs/demoquoteserver.md.
"""

import argparse
import datetime
import html
import json
import math
import os
import random
import re
import shutil
import signal
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import zlib

# Path on the quote server -> (index name as the program knows it, title on the page).
INDEX_PAGES = {
    "/L-S-DAX-R.84.0.html": ("Dax", "DAX"),
    "/L-S-MDAX.83.0.html": ("MDax", "MDAX"),
    "/L-S-SDAX.82.0.html": ("SDax", "SDAX"),
    "/L-S-TecDax.81.0.html": ("TecDax", "TecDAX"),
}
# Path of each index's JSON feed -> path of its page: the same prices.
FEEDS = {f"/feed/{name.lower()}.json": path for path, (name, _) in INDEX_PAGES.items()}
# Path of each index's CSV list (German numbers, date and time in columns of their own) -> its page.
CSV_FEEDS = {f"/feed/{name.lower()}.csv": path for path, (name, _) in INDEX_PAGES.items()}
# One component's quote by WKN, ISIN or ticker, with the API key in a request header:
# /quote?symbol=SAP.DE with "X-Api-Key: <--api-key>". Answered over kept-alive HTTP/1.1 connections.
QUOTE_PATH = "/quote"
FAILURES = ("404", "reset", "slow", "close")
MAX_REQUEST_BYTES = 16 * 1024
REQUEST_TIMEOUT = 10.0


def log(message):
    sys.stderr.write(message + "\n")
    sys.stderr.flush()


# ---------------------------------------------------------------------------------------------
# Index definition files: line 1 divisor, line 2 index id, then seven lines per component (Name, WKN,
# Kurswert, Fi, Wichtung in %, NV, NV_Ask); Windows-1252 with CR LF, Ctrl-Z ends the file.


def find_file(folder, name):
    """The file `name` in `folder`, matched without regard to case (the update stores "dax.txt")."""
    exact = os.path.join(folder, name)
    if os.path.isfile(exact):
        return exact
    try:
        for entry in sorted(os.listdir(folder)):
            if entry.lower() == name.lower() and os.path.isfile(os.path.join(folder, entry)):
                return os.path.join(folder, entry)
    except OSError:
        pass
    return None


def fallback_price(wkn):
    """A stable made-up price for a component whose file holds none."""
    return 10.0 + (zlib.crc32(wkn.encode("cp1252", "replace")) % 19000) / 100.0


def parse_price(text):
    try:
        value = float(text.strip().replace(",", "."))
    except ValueError:
        return None
    return value if math.isfinite(value) and value > 0 else None


def read_definition(path):
    """[(name, wkn, start price)] of the components with a usable WKN; [] when unreadable."""
    try:
        with open(path, "rb") as stream:
            data = stream.read()
    except OSError as error:
        log(f"demoquoteserver: cannot read {path}: {error}")
        return []
    data = data.split(b"\x1a", 1)[0]
    lines = re.split(r"\r\n|\r|\n", data.decode("cp1252", "replace"))
    if lines and lines[-1] == "":
        lines.pop()
    components = []
    seen = set()
    body = lines[2:]
    for start in range(0, len(body), 7):
        group = body[start:start + 7] + [""] * 7
        name, wkn, price = group[0].strip(), group[1], group[2]
        # "0" stands for a component without WKN; it would match any zero digit of the page.
        if not wkn.strip() or wkn.strip() == "0" or wkn in seen:
            continue
        seen.add(wkn)
        components.append((name or wkn, wkn, parse_price(price) or fallback_price(wkn)))
    return components


# ---------------------------------------------------------------------------------------------
# Prices


def isin_of(wkn):
    """A German ISIN made of the WKN: "DE000", the WKN, the check digit (letters count 10 to 35, then the
    Luhn sum). Made up for the demo, like the prices."""
    body = "DE000" + wkn.upper()
    digits = "".join(str(int(ch, 36)) for ch in body)
    total = 0
    for position, digit in enumerate(reversed(digits)):
        value = int(digit) * (2 if position % 2 == 0 else 1)
        total += value - 9 if value > 9 else value
    return body + str((10 - total % 10) % 10)


def ticker_of(name, wkn):
    """A made-up ticker in the style of the big quote services: the name's first letters and ".DE"."""
    letters = "".join(ch for ch in name.upper() if "A" <= ch <= "Z")
    return (letters[:4] or wkn.upper()) + ".DE"


class Component:
    __slots__ = ("name", "wkn", "ticker", "start", "mid", "bid", "ask", "previous_mid", "changed", "stale",
                 "old_quote")

    def __init__(self, name, wkn, start, stale=False):
        self.name, self.wkn, self.start = name, wkn, start
        self.ticker = ticker_of(name, wkn)
        self.mid = self.previous_mid = start
        self.bid = self.ask = 0.0
        self.changed = ""
        self.quote()
        # A stale quote stopped some time ago: the JSON feed gives it its first quote and an old time (the
        # page moves on as ever).
        self.stale = stale
        self.old_quote = (self.bid, self.ask)

    def tick(self):
        return 0.001 if self.mid < 10 else 0.01

    def quote(self):
        tick = self.tick()
        spread = max(tick, round(self.mid * 0.0008 / tick) * tick)
        bid_ticks = max(1, math.floor((self.mid - spread / 2) / tick))
        spread_ticks = max(1, round(spread / tick))
        self.bid = bid_ticks * tick
        self.ask = (bid_ticks + spread_ticks) * tick

    def decimals(self):
        return 3 if self.tick() < 0.01 else 2


class Market:
    """The prices of every page. Moves one step every `tick_seconds` (or per page request when 0)."""

    MAX_CATCH_UP = 2000

    def __init__(self, indices, seed, tick_seconds):
        self.indices = indices  # path -> [Component]
        self.random = random.Random(seed)
        self.tick_seconds = tick_seconds
        self.started = time.monotonic()
        self.steps = 0
        self.lock = threading.Lock()
        self.by_symbol = {}
        for components in indices.values():
            for c in components:
                for key in (c.wkn, isin_of(c.wkn), c.ticker):
                    self.by_symbol.setdefault(key.upper(), c)

    def _step(self):
        for components in self.indices.values():
            for c in components:
                # Most quotes move a little most of the time, and drift back towards the start so that a
                # day-long run stays plausible.
                if self.random.random() < 0.6:
                    c.mid *= math.exp(self.random.gauss(0.0, 0.0009))
                    c.mid += (c.start - c.mid) * 0.002
                    c.mid = max(c.mid, 0.01)
                    c.quote()
        self.steps += 1

    def advance(self):
        """Moves the prices on to now (per --tick); with --tick 0 only page and list requests move them."""
        with self.lock:
            if self.tick_seconds > 0:
                due = int((time.monotonic() - self.started) / self.tick_seconds)
                if due - self.steps > self.MAX_CATCH_UP:
                    self.steps = due - self.MAX_CATCH_UP
                while self.steps < due:
                    self._step()

    def component(self, symbol):
        """(component, bid text, ask text) of a WKN, ISIN or ticker of any index, or None."""
        c = self.by_symbol.get(symbol.strip().upper())
        if c is None:
            return None
        self.advance()
        with self.lock:
            digits = c.decimals()
            bid, ask = c.old_quote if c.stale else (c.bid, c.ask)
            return c, f"{bid:.{digits}f}", f"{ask:.{digits}f}"

    def snapshot(self, path):
        """[(name, wkn, bid text, ask text, change text)] of the page's components, advanced to now."""
        return [row[:5] for row in self.quotes(path, stale_frozen=False)]

    def quotes(self, path, stale_frozen=True):
        """[(name, wkn, bid text, ask text, change text, stale)] of the page's components, advanced to now;
        stale quotes as they were at the start unless `stale_frozen` is false."""
        with self.lock:
            if self.tick_seconds > 0:
                due = int((time.monotonic() - self.started) / self.tick_seconds)
                missed = due - self.steps
                if missed > self.MAX_CATCH_UP:
                    self.steps = due - self.MAX_CATCH_UP
                while self.steps < due:
                    self._step()
            else:
                self._step()
            rows = []
            for c in self.indices.get(path, []):
                digits = c.decimals()
                change = (c.mid / c.start - 1.0) * 100.0
                bid, ask = c.old_quote if stale_frozen and c.stale else (c.bid, c.ask)
                rows.append((c.name, c.wkn, f"{bid:.{digits}f}", f"{ask:.{digits}f}", f"{change:+.2f}%",
                             c.stale))
            return rows


# ---------------------------------------------------------------------------------------------
# Pages


def escape(text):
    return html.escape(text, quote=True)


def slug(name):
    return re.sub(r"[^A-Za-z0-9]+", "-", name).strip("-") or "aktie"


def index_page(title, rows, now):
    stamp = now.strftime("%d.%m.%Y %H:%M:%S")
    out = [
        "<!DOCTYPE html>\r\n<html lang=\"de\">\r\n<head>\r\n",
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">\r\n",
        f"<title>{title} - Realtime-Kurse (Demo-Kursserver)</title>\r\n",
        "<link rel=\"stylesheet\" href=\"/css/quotes.css\">\r\n</head>\r\n<body>\r\n",
        "<div class=\"header\"><a class=\"logo\" href=\"/\">Demo-Kursserver</a>\r\n",
        "<ul class=\"nav\">",
    ]
    for path, (_, other) in INDEX_PAGES.items():
        out.append(f"<li><a href=\"{path}\">{other}</a></li>")
    out += [
        "</ul></div>\r\n",
        "<div class=\"notice\"><strong>Demo-Daten:</strong> zufällig erzeugte Kurse, keine Marktdaten.</div>\r\n",
        f"<h1>{title} Realtime-Kurse</h1>\r\n<p class=\"stand\">Stand: {stamp}</p>\r\n",
        "<table class=\"quotes\">\r\n<thead><tr><th>Name</th><th>WKN</th><th>Bid</th><th>Ask</th>"
        "<th>Zeit</th><th>Veränderung</th></tr></thead>\r\n<tbody>\r\n",
    ]
    clock = now.strftime("%H:%M:%S")
    for name, wkn, bid, ask, change in rows:
        # Name first and by its own link: a WKN earlier in the page than its row would be read there.
        out.append(
            f"<tr><td class=\"name\"><a href=\"/aktie/{escape(slug(name))}.html\">{escape(name)}</a></td>"
            f"<td class=\"wkn\">{escape(wkn)}</td><td class=\"bid\">{bid}</td><td class=\"ask\">{ask}</td>"
            f"<td class=\"time\">{clock}</td><td class=\"change\">{change}</td></tr>\r\n")
    out += [
        "</tbody>\r\n</table>\r\n",
        "<div class=\"footer\">Demo-Kursserver für NV Zalvento. Alle Kurse sind erfunden.</div>\r\n",
        "</body>\r\n</html>\r\n",
    ]
    return "".join(out).encode("cp1252", "xmlcharrefreplace")


def json_feed(rows, now, stale_minutes):
    """The feed of a page's prices: {"quotes": [{"wkn", "isin", "bid", "ask", "time"}]}, the time in
    ISO 8601 with its offset; stale quotes carry a time `stale_minutes` old."""
    fresh = now.isoformat(timespec="seconds")
    old = (now - datetime.timedelta(minutes=stale_minutes)).isoformat(timespec="seconds")
    quotes = [{"wkn": wkn, "isin": isin_of(wkn), "bid": float(bid), "ask": float(ask),
               "time": old if stale else fresh}
              for _, wkn, bid, ask, _, stale in rows]
    return json.dumps({"quotes": quotes}, ensure_ascii=False, indent=1).encode("utf-8")


def german_number(text):
    """A price text "1932.83" as German lists write it: "1.932,83"."""
    whole, _, fraction = text.partition(".")
    groups = []
    while len(whole) > 3:
        groups.insert(0, whole[-3:])
        whole = whole[:-3]
    groups.insert(0, whole)
    return ".".join(groups) + ("," + fraction if fraction else "")


def berlin_now():
    try:
        from zoneinfo import ZoneInfo
        return datetime.datetime.now(ZoneInfo("Europe/Berlin"))
    except Exception:  # no time zone data: local time
        return datetime.datetime.now()


def csv_feed(title, rows, stale_minutes):
    """A German quote list: a title line, then "WKN;Name;Geld;Brief;Datum;Zeit" with Berlin's date and
    time in columns of their own; names in quotes, numbers with grouped digits and decimal commas."""
    now = berlin_now()
    old = now - datetime.timedelta(minutes=stale_minutes)
    lines = [f"Kursliste {title} (Demo, keine Marktdaten)", "WKN;Name;Geld;Brief;Datum;Zeit"]
    for name, wkn, bid, ask, _, stale in rows:
        when = old if stale else now
        quoted = '"' + name.replace('"', '""') + '"'
        lines.append(f"{wkn};{quoted};{german_number(bid)};{german_number(ask)};"
                     f"{when:%d.%m.%Y};{when:%H:%M:%S}")
    return ("\r\n".join(lines) + "\r\n").encode("utf-8")


def quote_document(symbol, found, stale_minutes):
    """One component's quote in the style of the per-symbol services: {"Global Quote": {...}} with
    member names that hold dots and blanks, prices as texts and the time in epoch milliseconds; an
    unknown symbol gets an empty quote, as such services answer."""
    if found is None:
        return json.dumps({"Global Quote": {}}).encode("utf-8")
    c, bid, ask = found
    ms = int(time.time() * 1000) - (int(stale_minutes * 60000) if c.stale else 0)
    return json.dumps({"Global Quote": {"01. symbol": symbol, "02. name": c.name, "03. bid": bid,
                                        "04. ask": ask, "05. price": f"{(float(bid) + float(ask)) / 2:.4f}",
                                        "06. timestamp": ms}}, ensure_ascii=False).encode("utf-8")


def home_page():
    links = "".join(f"<li><a href=\"{p}\">{t}</a></li>" for p, (_, t) in INDEX_PAGES.items())
    return ("<!DOCTYPE html>\r\n<html><head><title>Demo-Kursserver</title></head><body>\r\n"
            "<h1>Demo-Kursserver</h1>\r\n<p>Zufällig erzeugte Kurse, keine Marktdaten.</p>\r\n"
            f"<ul>{links}</ul>\r\n</body></html>\r\n").encode("cp1252", "xmlcharrefreplace")


def error_page(status, reason):
    return (f"<!DOCTYPE html>\r\n<html><head><title>{status} {reason}</title></head>"
            f"<body><h1>{status} {reason}</h1></body></html>\r\n").encode("ascii")


# ---------------------------------------------------------------------------------------------
# HTTP/1.0 (RFC 1945): one request per connection; the answer carries Content-Length and the
# connection is closed after it.


def read_request(sock):
    """The request line and header block, or None when the client sent none in time."""
    sock.settimeout(REQUEST_TIMEOUT)
    data = b""
    while b"\r\n\r\n" not in data and b"\n\n" not in data:
        try:
            chunk = sock.recv(4096)
        except (socket.timeout, OSError):
            return None
        if not chunk:
            break
        data += chunk
        if len(data) > MAX_REQUEST_BYTES:
            return b""
    return data


_date = [0, ""]  # the second and its Date text, made once a second


def http_date():
    now = int(time.time())
    if _date[0] != now:
        _date[1] = datetime.datetime.fromtimestamp(now, datetime.timezone.utc).strftime("%a, %d %b %Y %H:%M:%S GMT")
        _date[0] = now
    return _date[1]


def response_head(status, reason, length, content_type="text/html; charset=windows-1252", extra=(),
                  keep_alive=False):
    lines = [
        f"HTTP/{'1.1' if keep_alive else '1.0'} {status} {reason}",
        "Date: " + http_date(),
        "Server: demoquoteserver (demo feed, not market data)",
        f"Content-Type: {content_type}",
        f"Content-Length: {length}",
        "Cache-Control: no-cache",
        "Connection: " + ("keep-alive" if keep_alive else "close"),
        *extra,
    ]
    return ("\r\n".join(lines) + "\r\n\r\n").encode("ascii")


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        server = self.server
        sock = self.request
        if isinstance(sock, ssl.SSLSocket):
            # In the connection's own thread, so that a client that stalls in the handshake (or refuses
            # the certificate) holds up nobody else.
            try:
                sock.settimeout(REQUEST_TIMEOUT)
                sock.do_handshake()
            except (OSError, ssl.SSLError) as error:
                server.note(f"TLS handshake failed: {error}")
                return
        self.pending = b""
        # Per-symbol quotes keep an HTTP/1.1 connection for the next request; everything else answers
        # once and closes, as HTTP/1.0 does.
        while self.answer(sock):
            pass

    def next_request(self, sock):
        """The next request's head from the connection (kept-alive ones may have sent more)."""
        if b"\r\n\r\n" not in self.pending:
            more = read_request(sock)
            if more is None:
                return None
            self.pending += more
        head, separator, rest = self.pending.partition(b"\r\n\r\n")
        self.pending = rest
        return head + separator

    def answer(self, sock):
        server = self.server
        raw = self.next_request(sock)
        if not raw:
            return False
        text = raw.decode("latin-1")
        request_line = text.split("\n", 1)[0].strip()
        parts = request_line.split()
        if len(parts) != 3 or not parts[2].startswith("HTTP/"):
            return self.send_error(400, "Bad Request", request_line)
        method, target = parts[0], parts[1]
        if method not in ("GET", "HEAD"):
            return self.send_error(501, "Not Implemented", request_line)
        if target.startswith("http://"):
            target = "/" + target[7:].split("/", 1)[-1] if "/" in target[7:] else "/"
        path = target.split("?", 1)[0].split("#", 1)[0]
        if path == QUOTE_PATH:
            return self.answer_quote(method, target, text, request_line)

        # "/404", "/reset", "/slow", "/close" and "/hang", alone or before a page path, fail on request;
        # without a page path they stand for the Dax page.
        failure = None
        match = re.match(r"^/(404|500|reset|slow|close|hang)(/.*)?$", path)
        if match:
            failure = match.group(1)
            path = match.group(2) or "/L-S-DAX-R.84.0.html"
        elif (path in INDEX_PAGES or path in FEEDS or path in CSV_FEEDS) and server.fail_rate > 0:
            with server.fail_lock:
                if server.fail_random.random() < server.fail_rate:
                    failure = server.fail_random.choice(FAILURES)

        if failure == "404":
            return self.send_error(404, "Not Found", request_line, failure)
        if failure == "500":
            return self.send_error(500, "Internal Server Error", request_line, failure)
        if failure == "close":
            server.note(f"{request_line} -> closed without answer")
            return
        if failure == "hang":
            server.note(f"{request_line} -> no answer for {server.hang_seconds:g} s")
            self.hang()
            return

        content_type = "text/html; charset=windows-1252"
        if path in INDEX_PAGES:
            body = index_page(INDEX_PAGES[path][1], server.market.snapshot(path), datetime.datetime.now())
        elif path in CSV_FEEDS:
            body = csv_feed(INDEX_PAGES[CSV_FEEDS[path]][1], server.market.quotes(CSV_FEEDS[path]),
                            server.stale_minutes)
            content_type = "text/csv; charset=utf-8"
        elif path in FEEDS:
            body = json_feed(server.market.quotes(FEEDS[path]), datetime.datetime.now().astimezone(),
                             server.stale_minutes)
            content_type = "application/json; charset=utf-8"
        elif path in ("/", "/index.html"):
            body = home_page()
        else:
            return self.send_error(404, "Not Found", request_line)

        server.cookie_counter += 1
        head = response_head(200, "OK", len(body), content_type,
                             extra=(f"Set-Cookie: demo_session={server.cookie_counter}; Path=/",))
        payload = head + (b"" if method == "HEAD" else body)
        if failure == "reset":
            server.note(f"{request_line} -> reset after {len(head) + len(body) // 2} bytes")
            self.send_all(payload[:len(head) + len(body) // 2])
            # SO_LINGER with a zero timeout makes close() send RST instead of FIN.
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            return
        if failure == "slow":
            server.note(f"{request_line} -> 200, {len(payload)} bytes over {server.slow_seconds:g} s")
            self.drip(payload)
            return
        server.note(f"{request_line} -> 200, {len(payload)} bytes")
        self.send_all(payload)

    def answer_quote(self, method, target, head, request_line):
        """/quote?symbol=...: one component's quote, for the key in X-Api-Key only; True to keep the
        connection (HTTP/1.1 without "Connection: close"). Kept lean: a refresh asks it thousands of
        times."""
        server = self.server
        lowered = head.lower()
        keep = request_line.endswith("HTTP/1.1") and "\r\nconnection: close" not in lowered
        at = lowered.find("\r\nx-api-key:")
        key = head[at + 13:head.find("\r\n", at + 13)].strip() if at >= 0 else None
        query = urllib.parse.parse_qs(target.partition("?")[2])
        symbol = query.get("symbol", [""])[0]
        if key != server.api_key:
            status, reason = 401, "Unauthorized"
            body = json.dumps({"error": "X-Api-Key fehlt oder ist falsch"}).encode("utf-8")
        elif server.per_minute and not server.admit():
            status, reason = 429, "Too Many Requests"
            body = json.dumps({"error": "zu viele Abrufe"}).encode("utf-8")
        else:
            status, reason = 200, "OK"
            body = quote_document(symbol, server.market.component(symbol), server.stale_minutes)
        extra = (f"Retry-After: {server.retry_after}",) if status == 429 else ()
        payload = response_head(status, reason, len(body), "application/json; charset=utf-8", extra, keep)
        if method != "HEAD":
            payload += body
        if not server.quiet:
            server.note(f"{request_line} -> {status}")
        self.send_all(payload)
        return keep and status != 401

    def send_all(self, data):
        try:
            self.request.sendall(data)
        except OSError:
            pass

    def send_error(self, status, reason, request_line, failure=None):
        body = error_page(status, reason)
        self.server.note(f"{request_line or '(empty)'} -> {status}" + (" (on request)" if failure else ""))
        self.send_all(response_head(status, reason, len(body)) + body)

    def drip(self, data):
        """The whole answer in small pieces spread over --slow-seconds."""
        pieces = max(1, int(self.server.slow_seconds / 0.1))
        size = max(1, math.ceil(len(data) / pieces))
        for offset in range(0, len(data), size):
            if self.server.stopping.wait(0.1 if offset else 0):
                return
            try:
                self.request.sendall(data[offset:offset + size])
            except OSError:
                return

    def hang(self):
        """Say nothing until the client gives up or --hang-seconds pass."""
        deadline = time.monotonic() + self.server.hang_seconds
        self.request.settimeout(0.2)
        while time.monotonic() < deadline and not self.server.stopping.is_set():
            try:
                if not self.request.recv(4096):
                    return
            except socket.timeout:
                continue
            except OSError:
                return


class DemoServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, market, options, tls=None):
        super().__init__(("127.0.0.1", port), Handler)
        self.tls = tls
        self.market = market
        self.stale_minutes = options.stale_minutes
        self.fail_rate = options.fail_rate
        self.fail_random = random.Random(options.seed + 1)
        self.fail_lock = threading.Lock()
        self.slow_seconds = options.slow_seconds
        self.hang_seconds = options.hang_seconds
        self.quiet = options.quiet
        self.cookie_counter = 0
        self.stopping = threading.Event()
        self.api_key = options.api_key
        self.per_minute = options.per_minute
        self.retry_after = options.retry_after
        self.admitted = []  # the monotonic times of the last minute's admitted per-symbol requests
        self.admit_lock = threading.Lock()

    def admit(self):
        """Whether one more per-symbol request fits within --per-minute of the last 60 seconds."""
        with self.admit_lock:
            now = time.monotonic()
            self.admitted = [t for t in self.admitted if now - t < 60.0]
            if len(self.admitted) >= self.per_minute:
                return False
            self.admitted.append(now)
            return True

    def get_request(self):
        sock, address = super().get_request()
        if self.tls:
            sock = self.tls.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, address

    def note(self, message):
        if not self.quiet:
            log(f"{datetime.datetime.now():%H:%M:%S} {message}")


def openssl(*arguments):
    subprocess.run(["openssl", *arguments], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_tls_context(folder, ca_file):
    """A throw-away authority and a certificate for 127.0.0.1 and localhost signed by it, made in `folder`
    with the openssl tool; the authority's certificate is copied to `ca_file` for the feed file's "ca".
    The keys never leave `folder`."""
    ca_key, ca_pem = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.pem")
    key, request, pem = (os.path.join(folder, name) for name in ("server.key", "server.csr", "server.pem"))
    extensions = os.path.join(folder, "server.ext")
    curve = ("-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes")
    openssl("req", "-x509", *curve, "-keyout", ca_key, "-out", ca_pem, "-days", "30",
            "-subj", "/CN=Demo-Kursserver CA (throw-away)")
    with open(extensions, "w", encoding="ascii") as stream:
        stream.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
    openssl("req", *curve, "-keyout", key, "-out", request, "-subj", "/CN=127.0.0.1")
    openssl("x509", "-req", "-in", request, "-CA", ca_pem, "-CAkey", ca_key, "-set_serial", "1",
            "-days", "30", "-extfile", extensions, "-out", pem)
    if ca_file:
        shutil.copyfile(ca_pem, ca_file)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(pem, key)
    return context, ca_pem


def probability(text):
    value = float(text)
    if not 0.0 <= value <= 1.0:
        raise argparse.ArgumentTypeError("must lie between 0 and 1")
    return value


def non_negative(text):
    value = float(text)
    if not value >= 0.0 or not math.isfinite(value):
        raise argparse.ArgumentTypeError("must be 0 or more")
    return value


def main(argv=None):
    default_data = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "data"))
    parser = argparse.ArgumentParser(
        description="Demo quote server for NV Zalvento: made-up prices (a demo feed, not market data) on "
                    "127.0.0.1, in the shape of the quote pages that the program reads.")
    parser.add_argument("--port", type=int, default=18080,
                        help="TCP port on 127.0.0.1; 0 picks a free one (default 18080). The port is printed "
                             "alone on the first line of standard output.")
    parser.add_argument("--data", default=default_data,
                        help="folder of the index definition files Dax.txt, MDax.txt, SDax.txt, TecDax.txt "
                             "(default: the repository's data/ folder)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the price walk (default 1)")
    parser.add_argument("--tick", type=non_negative, default=1.0,
                        help="seconds per price step; 0 moves the prices on every page request (default 1)")
    parser.add_argument("--fail-rate", type=probability, default=0.0,
                        help="share of page requests that fail at random: 404, reset mid-body, slow drip or "
                             "close without answer (default 0)")
    parser.add_argument("--slow-seconds", type=non_negative, default=10.0,
                        help="how long a slow answer takes in all (default 10)")
    parser.add_argument("--hang-seconds", type=non_negative, default=60.0,
                        help="how long /hang keeps the connection without answering (default 60)")
    parser.add_argument("--exit-after", type=non_negative, default=0.0,
                        help="stop by itself after this many seconds; 0 runs until stopped (default 0)")
    parser.add_argument("--stale-every", type=int, default=10,
                        help="every Nth component of a definition file has a stale quote in the JSON feed: "
                             "its first quote with an old time; 0 for none (default 10)")
    parser.add_argument("--stale-minutes", type=non_negative, default=30.0,
                        help="how old the JSON feed says stale quotes are, in minutes (default 30)")
    parser.add_argument("--https", action="store_true",
                        help="serve HTTPS with a certificate made at start by a throw-away authority")
    parser.add_argument("--ca-file", default="",
                        help="with --https: write the authority's certificate (PEM) here, for the feed "
                             "file's \"ca\"")
    parser.add_argument("--api-key", default="demo",
                        help="the key /quote wants in the request header X-Api-Key (default demo)")
    parser.add_argument("--per-minute", type=int, default=0,
                        help="/quote answers 429 beyond this many requests a minute; 0 for no limit (default 0)")
    parser.add_argument("--retry-after", type=int, default=20,
                        help="the Retry-After seconds of such a 429 (default 20)")
    parser.add_argument("--quiet", action="store_true", help="no log line per request on standard error")
    options = parser.parse_args(argv)
    if not 0 <= options.port <= 65535:
        parser.error("--port must lie between 0 and 65535")
    if options.stale_every < 0:
        parser.error("--stale-every must be 0 or more")
    if options.ca_file and not options.https:
        parser.error("--ca-file needs --https")

    indices = {}
    for path, (name, _) in INDEX_PAGES.items():
        file = find_file(options.data, name + ".txt")
        components = read_definition(file) if file else []
        if not file:
            log(f"demoquoteserver: no {name}.txt in {options.data}; its page has no quotes")
        every = options.stale_every
        indices[path] = [Component(*c, stale=every > 0 and i % every == every - 1)
                         for i, c in enumerate(components)]
    market = Market(indices, options.seed, options.tick)

    keys = tempfile.TemporaryDirectory(prefix="demoquoteserver-") if options.https else None
    tls = None
    if keys:
        try:
            tls, ca_pem = make_tls_context(keys.name, options.ca_file)
        except (OSError, subprocess.CalledProcessError, ssl.SSLError) as error:
            detail = getattr(error, "stderr", b"") or b""
            log(f"demoquoteserver: cannot make the certificate: {error} {detail.decode(errors='replace')}")
            return 1
        log(f"demoquoteserver: throw-away authority in {options.ca_file or ca_pem}")
    try:
        server = DemoServer(options.port, market, options, tls)
    except OSError as error:
        log(f"demoquoteserver: cannot listen on 127.0.0.1:{options.port}: {error}")
        return 1
    port = server.server_address[1]
    print(port, flush=True)
    scheme = "https" if tls else "http"
    log(f"demoquoteserver: DEMO FEED (made-up prices, not market data) on {scheme}://127.0.0.1:{port}/ "
        f"with {sum(len(c) for c in indices.values())} quotes from {options.data}")

    def stop(*_):
        server.stopping.set()
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    if options.exit_after > 0:
        timer = threading.Timer(options.exit_after, stop)
        timer.daemon = True
        timer.start()
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.stopping.set()
        server.server_close()
        if keys:
            keys.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
