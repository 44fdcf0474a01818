"""Shared pieces of the measuring scripts in tools/: building the programs,
pseudo-terminals, Quorlink frames, the window harness, capture files and
/proc readings. Python 3 standard library only."""

import json
import os
import queue
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("QUORLINK_MEASURE_BUILD", os.path.join(REPO, "build-measure"))
HARNESS = os.path.join(BUILD, "tools", "harness", "quorlink-harness")
QUORLINK = os.path.join(BUILD, "src", "cli", "quorlink")
CLK_TCK = os.sysconf("SC_CLK_TCK")


def log(*args):
    print(*args, file=sys.stderr, flush=True)


def build():
    """Configures and builds the two programs the scripts run (Release-like, no tests)."""
    if not os.path.exists(os.path.join(BUILD, "build.ninja")):
        subprocess.run(["cmake", "-S", REPO, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                        "-DQUORLINK_BUILD_TESTS=OFF", "-DQUORLINK_BUILD_BENCH=OFF"],
                       check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "--target", "quorlink", "quorlink-harness", "-j2"],
                   check=True, stdout=subprocess.DEVNULL)


def machine():
    """A line about the machine the figures come from."""
    load = os.getloadavg()
    model = ""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return "%d cores (%s), load average %.1f %.1f %.1f" % (os.cpu_count(), model, *load)


# Frames ---------------------------------------------------------------------

START = 0x2F


def frame(data):
    s = (START + sum(data)) & 0xFF
    return bytes([START]) + bytes(data) + bytes([(-s) & 0xFF])


def counted_frame(counter, length, fill=0x11):
    """A good frame whose additional bytes 24 to 27 carry a 32-bit counter."""
    data = bytearray([fill] * length)
    data[24:28] = counter.to_bytes(4, "big")
    return frame(data)


# Pseudo-terminals ---------------------------------------------------------------

class Pty:
    """A pseudo-terminal in raw mode: the program under test opens .path, the
    script plays the far end through .master."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        for fd in (self.master, self.slave):
            tty.setraw(fd)
        self.path = os.ttyname(self.slave)

    def nonblocking(self):
        os.set_blocking(self.master, False)
        return self

    def write_all(self, data, stalls=None):
        """Writes every byte; waits when the driver is full (counted in stalls[0])."""
        view = memoryview(data)
        while view:
            try:
                n = os.write(self.master, view)
                view = view[n:]
            except BlockingIOError:
                if stalls is not None:
                    stalls[0] += 1
                select.select([], [self.master], [], 1.0)

    def drain(self):
        """Reads and throws away whatever is waiting."""
        total = 0
        while select.select([self.master], [], [], 0)[0]:
            try:
                chunk = os.read(self.master, 65536)
            except OSError:
                break
            if not chunk:
                break
            total += len(chunk)
        return total

    def close(self):
        for fd in (self.master, self.slave):
            if fd is not None:
                try:
                    os.close(fd)
                except OSError:
                    pass
        self.master = self.slave = None


class FrameReader(threading.Thread):
    """Reads frames of a known length from a pty master and timestamps each at
    the read that brought its last byte (monotonic clock, seconds)."""

    def __init__(self, pty, length, want):
        super().__init__(daemon=True)
        self.pty, self.size, self.want = pty, length + 2, want
        self.times, self.bad = [], 0
        self.stop = False

    def run(self):
        buf = bytearray()
        while not self.stop and len(self.times) < self.want:
            if not select.select([self.pty.master], [], [], 0.2)[0]:
                continue
            try:
                chunk = os.read(self.pty.master, 4096)
            except OSError:
                break
            now = time.monotonic()
            buf += chunk
            while buf and buf[0] != START:
                del buf[0]
                self.bad += 1
            while len(buf) >= self.size:
                f = bytes(buf[:self.size])
                del buf[:self.size]
                if sum(f) & 0xFF:
                    self.bad += 1
                self.times.append(now)


# Statistics ---------------------------------------------------------------------

def percentile(values, p):
    if not values:
        return float("nan")
    s = sorted(values)
    k = (len(s) - 1) * p / 100.0
    lo, hi = int(k), min(int(k) + 1, len(s) - 1)
    return s[lo] + (s[hi] - s[lo]) * (k - lo)


def summary(values):
    return {"n": len(values), "mean": statistics.fmean(values), "median": statistics.median(values),
            "p99": percentile(values, 99), "max": max(values), "min": min(values)}


# /proc ------------------------------------------------------------------------------

def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK  # utime, stime


def cpu_ns(pid):
    """CPU time of a process's live threads in nanoseconds, from the scheduler's
    own count (/proc/PID/task/*/schedstat): exact where /proc/PID/stat counts
    in ticks of 10 ms. A thread that has ended no longer counts."""
    total = 0
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                total += int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass
    return total


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def fd_count(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


# Capture files --------------------------------------------------------------------------

def local_ms(t=None):
    """Milliseconds since local midnight of a wall-clock time (time.time())."""
    t = time.time() if t is None else t
    lt = time.localtime(t)
    return ((lt.tm_hour * 60 + lt.tm_min) * 60 + lt.tm_sec) * 1000 + (t % 1.0) * 1000.0


class Capture:
    """A capture file read back: header, record lines, anything malformed."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.raw = f.read()
        self.lines, self.malformed, self.headers = [], [], 0
        parts = self.raw.split(b"\r\n")
        self.complete = parts[-1] == b""  # the file ends with a whole line
        if not self.complete:
            self.malformed.append(parts[-1])
        for line in parts[:-1]:
            if line.startswith(b"Log Start "):
                self.headers += 1
                continue
            if line.startswith(b"Time      Status  Length >"):
                continue
            try:
                head, data = line.split(b">", 1)
                if not data.endswith(b"<"):
                    raise ValueError
                clock, status, length = head.split()
                h, m, s, ms = (int(x) for x in clock.split(b":"))
                values = bytes(int(x, 16) for x in data[:-1].split())
                if len(values) != int(length):
                    raise ValueError
                self.lines.append(((h * 3600 + m * 60 + s) * 1000 + ms, int(status, 16), values))
            except ValueError:
                self.malformed.append(line)

    def counters(self):
        """(time, counter) of the good lines, counter from data bytes 24 to 27."""
        return [(t, int.from_bytes(d[24:28], "big")) for t, st, d in self.lines if st == 0 and len(d) >= 28]


def sequence_check(counters, first=None, last=None):
    """Lost, duplicated and out-of-order frames in a list of counters."""
    seen, dup, reorder = set(), 0, 0
    prev = None
    for c in counters:
        if c in seen:
            dup += 1
        elif prev is not None and c < prev:
            reorder += 1
        seen.add(c)
        prev = c if prev is None else max(prev, c)
    lo = min(seen) if first is None and seen else first
    hi = max(seen) if last is None and seen else last
    lost = 0 if lo is None else sum(1 for c in range(lo, hi + 1) if c not in seen)
    return {"received": len(counters), "lost": lost, "duplicated": dup, "reordered": reorder}


# The window harness ----------------------------------------------------------------------

class Harness:
    """quorlink-harness in its own process: the real windows on the offscreen
    platform, settings in a temporary folder, commands over a pipe."""

    live = []  # every harness started, so a failed script step can end them

    @classmethod
    def kill_all(cls):
        for h in cls.live:
            if h.proc.poll() is None:
                h.kill()
        cls.live = []

    def __init__(self, mode, port=None, settings=None, args=(), env=None, user=None, program=None):
        self.tmp = None
        if settings is None:
            self.tmp = tempfile.mkdtemp(prefix="quorlink-harness-")
            settings = self.tmp
        self.settings = settings
        cmd = [program or HARNESS, "--settings", settings, "--mode", mode]
        if port:
            cmd += ["--port", port]
        cmd += list(args)
        e = dict(os.environ)
        e.setdefault("QT_QPA_PLATFORM", "offscreen")
        e["XDG_CONFIG_HOME"] = settings
        e["HOME"] = settings
        if env:
            e.update(env)
        if user:
            cmd = ["setpriv", "--reuid=%d" % user, "--regid=%d" % user, "--clear-groups", "--"] + cmd
        self.proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     env=e, text=True, bufsize=1)
        Harness.live.append(self)
        self.events = queue.Queue()
        self.messages = []
        self.all_events = []
        self.stderr = []
        threading.Thread(target=self._read, daemon=True).start()
        threading.Thread(target=self._read_err, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            try:
                item = json.loads(line)
            except ValueError:
                continue
            if "event" in item:
                self.all_events.append(item)
            if item.get("event") == "message":
                self.messages.append(item)
            self.events.put(item)
        self.events.put({"event": "eof"})

    def _read_err(self):
        for line in self.proc.stderr:
            self.stderr.append(line.rstrip())

    @property
    def pid(self):
        return self.proc.pid

    def wait_for(self, pred, timeout=60):
        end = time.monotonic() + timeout
        while True:
            left = end - time.monotonic()
            if left <= 0:
                raise TimeoutError("harness: nothing came in %.0f s (stderr: %s)" % (timeout, self.stderr[-5:]))
            try:
                item = self.events.get(timeout=left)
            except queue.Empty:
                continue
            if pred(item):
                return item
            if item.get("event") == "eof":
                raise RuntimeError("harness ended (code %s, stderr: %s)" % (self.proc.wait(), self.stderr[-5:]))

    def ready(self, timeout=60):
        return self.wait_for(lambda i: i.get("event") == "ready", timeout)

    def command(self, line, timeout=60):
        name = line.split()[0]
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        return self.wait_for(lambda i: i.get("reply") == name, timeout)

    def quit(self, timeout=30):
        try:
            self.command("quit", timeout)
        except (BrokenPipeError, RuntimeError, TimeoutError):
            pass
        try:
            code = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            code = self.proc.wait()
        self.cleanup()
        return code

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        self.cleanup()

    def cleanup(self):
        if self.tmp:
            shutil.rmtree(self.tmp, ignore_errors=True)
            self.tmp = None


def quorlink(args, settings, **kw):
    """Starts `quorlink ARGS` with its settings in the given folder."""
    env = dict(os.environ, XDG_CONFIG_HOME=settings, HOME=settings)
    return subprocess.Popen([QUORLINK] + list(args), env=env, **kw)


class Writer(threading.Thread):
    """Sends counted frames into a pty (or the same frames into several) at a
    steady rate (absolute schedule) and records the wall-clock time at which
    each frame's last byte was written."""

    def __init__(self, pty, rate, length, count=None, start=0, ptys=None):
        super().__init__(daemon=True)
        self.ptys = ptys or [pty]
        for p in self.ptys:
            p.nonblocking()
        self.rate, self.length, self.count, self.next_counter = rate, length, count, start
        self.written = {}  # counter -> wall time of its last byte
        self.stalls = [0]
        self.stop = False
        self.started = self.ended = None

    def run(self):
        period = 1.0 / self.rate
        t0 = time.monotonic()
        self.started = time.time()
        k = 0
        while not self.stop and (self.count is None or k < self.count):
            due = t0 + k * period
            delay = due - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            f = counted_frame(self.next_counter, self.length)
            # Several receivers take turns at being written first: the one
            # written last tends to wake on the writer's own core, which costs
            # it less, so a fixed order would favour it.
            for i in range(len(self.ptys)):
                self.ptys[(k + i) % len(self.ptys)].write_all(f, self.stalls)
            self.written[self.next_counter] = time.time()
            self.next_counter += 1
            k += 1
        self.ended = time.time()
