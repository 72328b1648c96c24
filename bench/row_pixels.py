#!/usr/bin/python3
"""From a POST's last byte to its row's pixels on the X server, for inbox alert windows.

Run by bench_row_pixels (which starts Xvfb, openbox and the client with its inbox on):
  row_pixels.py DISPLAY PORT TOKEN ECHOPORT WINDOWS ALERTS FLOOD_SECONDS
Puts the windows W0..W<n-1> side by side (DAMAGE reports only pixels that reach the screen),
watches each with the X DAMAGE extension, then
  1. posts one alert a millisecond (1,000/s), alert i to window W<i % n>, on one keep-alive
     connection: the time from the request's last byte to the first damage of its window after
     the client answered (the row is put in after the answer), p50/p99; beside it the same
     request to an HTTP echo server (the baseline round trip);
  2. 20,000 alerts/s in requests of 100 every 5 ms: the longest time a window with alerts
     waiting showed nothing new (the stall as the user sees it), and the longest answer.
"""
import ctypes
import json
import re
import select
import socket
import subprocess
import sys
import time

display, port, token, echo_port, nwin, alerts, flood_s = sys.argv[1:8]
nwin, alerts, flood_s = int(nwin), int(alerts), float(flood_s)

X = ctypes.CDLL("libX11.so.6")
XD = ctypes.CDLL("libXdamage.so.1")
X.XOpenDisplay.restype = ctypes.c_void_p
X.XOpenDisplay.argtypes = [ctypes.c_char_p]
for f in ("XPending", "XConnectionNumber", "XFlush", "XSync"):
    getattr(X, f).argtypes = [ctypes.c_void_p] + ([ctypes.c_int] if f == "XSync" else [])
X.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
X.XMoveResizeWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                ctypes.c_uint, ctypes.c_uint]
XD.XDamageQueryExtension.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                     ctypes.POINTER(ctypes.c_int)]
XD.XDamageCreate.restype = ctypes.c_ulong
XD.XDamageCreate.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int]


class DamageEvent(ctypes.Structure):  # XDamageNotifyEvent, as far as needed
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("drawable", ctypes.c_ulong),
                ("damage", ctypes.c_ulong), ("level", ctypes.c_int), ("more", ctypes.c_int),
                ("timestamp", ctypes.c_ulong)]


dpy = X.XOpenDisplay(display.encode())
if not dpy:
    sys.exit("cannot open display")
ev_base, err_base = ctypes.c_int(), ctypes.c_int()
if not XD.XDamageQueryExtension(dpy, ctypes.byref(ev_base), ctypes.byref(err_base)):
    sys.exit("no DAMAGE extension")

# The client windows by caption (openbox frames them: the client window is the named child).
ids = {}
deadline = time.monotonic() + 20
while len(ids) < nwin and time.monotonic() < deadline:
    tree = subprocess.run(["xwininfo", "-display", display, "-root", "-tree"],
                          capture_output=True, text=True).stdout
    for m in re.finditer(r'^\s+(0x[0-9a-f]+) "W(\d+)"', tree, re.M):
        ids[int(m.group(2))] = int(m.group(1), 16)
    time.sleep(0.2)
if len(ids) < nwin:
    sys.exit(f"only {len(ids)} of {nwin} windows showed")
cols = (nwin + 1) // 2
w, h = 1280 // cols - 12, 1024 // 2 - 40
for i, win in ids.items():
    X.XMoveResizeWindow(dpy, win, (i % cols) * (w + 12), (i // cols) * (h + 40), w, h)
X.XSync(dpy, 0)
time.sleep(1.0)
window_of = {win: i for i, win in ids.items()}
for win in ids.values():
    XD.XDamageCreate(dpy, win, 0)  # raw rectangles: every change reported
X.XFlush(dpy)
xfd = X.XConnectionNumber(dpy)
event_buffer = ctypes.create_string_buffer(192)  # an XEvent
event = DamageEvent.from_buffer(event_buffer)


# The X server stamps each report with its monotonic clock in milliseconds, the clock of
# time.monotonic() here; how far the stamps lag our reading of them is kept to see that they do.
stamp_lag = []
stale = {"reports": 0}  # reports read after a later alert's answer, but made before it


def damaged(now):
    """Windows damaged in the reports waiting now, each with its newest report's time."""
    hit = {}
    while X.XPending(dpy):
        X.XNextEvent(dpy, event_buffer)
        if event.type == ev_base.value and event.drawable in window_of:
            i = window_of[event.drawable]
            hit[i] = max(hit.get(i, 0), event.timestamp)
            stamp_lag.append((int(now * 1000) - event.timestamp) % 2**32)
    return hit


def connect(p):
    s = socket.create_connection(("127.0.0.1", int(p)))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def request(path, body):
    return (f"POST {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
            f"Content-Length: {len(body)}\r\n\r\n").encode() + body


class Answers:
    def __init__(self, s, echoes=False):
        self.s, self.buf, self.echoes, self.expect = s, b"", echoes, 0

    def whole(self):
        if self.echoes:  # the echo server sends the request back as it came
            if len(self.buf) < self.expect:
                return None
            self.buf = self.buf[self.expect:]
            return 200
        end = self.buf.find(b"\r\n\r\n")
        if end < 0:
            return None
        m = re.search(rb"(?i)content-length:\s*(\d+)", self.buf[:end])
        length = int(m.group(1)) if m else 0
        if len(self.buf) < end + 4 + length:
            return None
        status = int(self.buf.split(b" ", 2)[1])
        self.buf = self.buf[end + 4 + length:]
        return status

    def feed(self):
        data = self.s.recv(65536)
        if not data:
            sys.exit("connection ended")
        self.buf += data
        return self.whole()


pending = {i: [] for i in range(nwin)}  # per window: [send time, answered]
latency = []
last_damage = {i: None for i in range(nwin)}
stall = {"worst": 0.0}


def stamped_before(stamp, sent, now):
    """Whether a report stamped then was made before a request sent then: a report that was
    read late is not taken for a later alert's row (3 ms of slack for the server's clock, which
    it reads once per batch of requests). Only where the stamps are on our clock."""
    if (int(now * 1000) - stamp) % 2**32 > 1000:
        return False
    return 3 < (int(sent * 1000) - stamp) % 2**32 < 2**31


def on_damage(now):
    for i, stamp in damaged(now).items():
        prev = last_damage[i]
        waiting = pending[i]
        if prev is not None and waiting:
            stall["worst"] = max(stall["worst"], now - max(prev, waiting[0][0]))
        last_damage[i] = now
        keep = []
        for item in waiting:
            if item[1] and stamped_before(stamp, item[0], now):
                stale["reports"] += 1
                keep.append(item)
            elif item[1]:
                latency.append(now - item[0])
            else:
                keep.append(item)
        pending[i] = keep


def post(sock, answers, req, target=None, batch=None):
    """Sends a request and waits for its answer, taking damage reports meanwhile."""
    answers.expect = len(req)
    sock.sendall(req)
    t0 = time.monotonic()
    items = []
    if target is not None:
        items = [[t0, False]]
        pending[target].extend(items)
    for w_ in batch or []:
        item = [t0, False]
        pending[w_].append(item)
        items.append(item)
    status = answers.whole()
    while status is None:
        r, _, _ = select.select([sock, xfd], [], [], 2.0)
        if not r:
            sys.exit("no answer in 2 s")
        now = time.monotonic()
        # The answer first: a row is put in only after its answer, so when both wait (the
        # probe woke late) the damage may be this alert's, and taken before the answer it
        # would be passed over for the window's next damage, an alert round later.
        if sock in r:
            status = answers.feed()
            if status is not None:
                for item in items:
                    item[1] = True
        if xfd in r or X.XPending(dpy):
            on_damage(now)
    for item in items:
        item[1] = True
    return status, time.monotonic() - t0


def wait_until(due):
    while True:
        now = time.monotonic()
        if now >= due:
            return
        r, _, _ = select.select([xfd], [], [], due - now)
        if r or X.XPending(dpy):
            on_damage(time.monotonic())


def q(v, p):
    v = sorted(v)
    return v[min(len(v) - 1, int(round(p * (len(v) - 1))))] * 1000 if v else float("nan")


echo, inbox = connect(echo_port), connect(port)
ea, ia = Answers(echo, True), Answers(inbox)
path = f"/alerts/{token}"
body = lambda i, text="probe": json.dumps(
    {"symbol": f"P{i}", "price": 12.5, "description": text, "strategy": f"W{i % nwin}"}).encode()
echo_ms = [post(echo, ea, request("/echo", body(i)))[1] for i in range(500)]
on_damage(time.monotonic())

# 1. 1,000 alerts a second.
statuses = {}
answers1 = []
due = time.monotonic()
for i in range(alerts):
    due += 0.001
    wait_until(due)
    st, took = post(inbox, ia, request(path, body(i, f"Crossed above resistance ({i})")), i % nwin)
    answers1.append(took)
    statuses[st] = statuses.get(st, 0) + 1
wait_until(time.monotonic() + 0.3)
timed = len(latency)
lat1 = list(latency)
late = sum(len(v) for v in pending.values())
for v in pending.values():
    v.clear()

# 2. 20,000 alerts a second, 100 a request every 5 ms.
latency.clear()
stall["worst"] = 0.0
worst_answer = 0.0
n = alerts
end = time.monotonic() + flood_s
due = time.monotonic()
while time.monotonic() < end:
    due += 0.005
    wait_until(due)
    batch = [{"symbol": f"F{n + k}", "price": 12.5, "description": "flood alert",
              "strategy": f"W{(n + k) % nwin}"} for k in range(100)]
    st, took = post(inbox, ia, request(path, json.dumps(batch).encode()), None,
                    sorted({(n + k) % nwin for k in range(100)}))
    statuses[st] = statuses.get(st, 0) + 1
    worst_answer = max(worst_answer, took)
    n += 100
wait_until(time.monotonic() + 0.5)

e50 = q(echo_ms, .5)
print(f"echo round trip (baseline)          p50 {e50:7.3f} ms  p99 {q(echo_ms, .99):7.3f} ms")
print(f"last byte -> its window's pixels, 1,000/s into {nwin} windows: "
      f"p50 {q(lat1, .5):7.3f} ms ({q(lat1, .5) / e50:.1f}x echo)  "
      f"p99 {q(lat1, .99):7.3f} ms ({q(lat1, .99) / e50:.1f}x echo)  max {q(lat1, 1):7.3f} ms  "
      f"(n={timed}, no pixels: {late})  goal p50 <= 1 ms, p99 <= 5 ms")
print(f"20,000/s for {flood_s:.0f} s: longest a window with alerts waiting showed nothing new "
      f"{stall['worst'] * 1000:7.1f} ms (goal: no stall > 50 ms); longest answer "
      f"{worst_answer * 1000:7.1f} ms; pixels p50 {q(latency, .5):7.2f} ms, "
      f"p99 {q(latency, .99):7.2f} ms")
print(f"the X server's report stamps lag our reading by p50 {q(stamp_lag, .5) / 1000:.0f} ms, "
      f"p99 {q(stamp_lag, .99) / 1000:.0f} ms (the same clock: a report read late is told apart; "
      f"{stale['reports']} such reports were not taken for a later alert)")
print(f"answers {statuses}; at 1,000/s the answer came after p50 {q(answers1, .5):.3f} ms, "
      f"p99 {q(answers1, .99):.3f} ms (the pixels' time past it is the row's way to the screen)")
# For bench_row_pixels: the figures in ms, to set against a baseline client's.
print(f"RESULT {e50:.4f} {q(lat1, .5):.4f} {q(lat1, .99):.4f} {q(lat1, 1):.4f} "
      f"{stall['worst'] * 1000:.4f} {worst_answer * 1000:.4f} {q(latency, .5):.4f} "
      f"{q(latency, .99):.4f} {q(echo_ms, .99):.4f}", flush=True)
