"""Start-up time, idle memory and idle wake-ups of a program next to a bare Qt window.

Runs inside one host's network namespace with that host's DISPLAY, buses and
sound server in its environment (bench_call_metrics.py starts it so):

    bench_startup_idle.py --kavelo K --caption C --bare B --cwd DIR --runs N --idle S

Each run starts the program and waits for the X server's MapNotify of its window
(found by its caption) on the root window: that is the moment the window is
mapped. The bare program and Kavelo take turns, so both see the same load. The
last run of each stays up: its resident memory is read after a settling pause,
and its context switches (every thread, voluntary and involuntary) are counted
over the idle span. Prints one JSON object on stdout.
"""

import argparse
import ctypes
import ctypes.util
import json
import os
import select
import statistics
import subprocess
import time

MAP_NOTIFY = 19
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


class MapWatch:
    """Reports each top-level window the X server maps, with its name."""

    def __init__(self):
        self.x = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        self.x.XPending.argtypes = [ctypes.c_void_p]
        self.x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        self.x.XConnectionNumber.argtypes = [ctypes.c_void_p]
        self.x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
        self.x.XFlush.argtypes = [ctypes.c_void_p]
        self.display = self.x.XOpenDisplay(None)
        if not self.display:
            raise RuntimeError("cannot open the X display %r" % os.environ.get("DISPLAY"))
        self.x.XSelectInput(self.display, self.x.XDefaultRootWindow(self.display), SUBSTRUCTURE_NOTIFY_MASK)
        self.x.XFlush(self.display)
        self.fd = self.x.XConnectionNumber(self.display)
        self.event = (ctypes.c_long * 24)()

    def drain(self):
        while self.x.XPending(self.display):
            self.x.XNextEvent(self.display, self.event)

    def wait_mapped(self, caption, timeout):
        """Monotonic time at which a window named `caption` was mapped."""
        deadline = time.monotonic() + timeout
        while True:
            while self.x.XPending(self.display):
                self.x.XNextEvent(self.display, self.event)
                seen = time.monotonic()
                # XMapEvent: type, serial, send_event, display, event, window (longs on x86-64).
                if self.event[0] & 0xFFFFFFFF != MAP_NOTIFY:
                    continue
                name = ctypes.c_char_p()
                if self.x.XFetchName(self.display, self.event[5], ctypes.byref(name)) and name.value is not None:
                    if name.value.decode("utf-8", "replace") == caption:
                        return seen
            left = deadline - time.monotonic()
            if left <= 0:
                raise RuntimeError("no window %r was mapped within %.0f s" % (caption, timeout))
            select.select([self.fd], [], [], min(left, 0.5))


def cpu_seconds(pid):
    """User plus system CPU of the process so far (all threads)."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def context_switches(pid):
    total = 0
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/status" % (pid, tid)) as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:")):
                        total += int(line.split()[1])
        except FileNotFoundError:
            pass
    return total


def thread_count(pid):
    return len(os.listdir("/proc/%d/task" % pid))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kavelo", required=True)
    parser.add_argument("--caption", required=True)
    parser.add_argument("--bare", required=True)
    parser.add_argument("--cwd", required=True)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--settle", type=float, default=5.0)
    parser.add_argument("--idle", type=float, default=30.0)
    args = parser.parse_args()

    watch = MapWatch()
    programs = {"bare": ([args.bare], "Bare window"), "kavelo": ([args.kavelo], args.caption)}
    results = {name: {"start_ms": [], "cpu_to_map_ms": []} for name in programs}
    survivors = {}
    for run in range(args.runs):
        for name, (command, caption) in programs.items():
            watch.drain()
            started = time.monotonic()
            process = subprocess.Popen(command, cwd=args.cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            mapped = watch.wait_mapped(caption, 60)
            results[name]["start_ms"].append((mapped - started) * 1000)
            results[name]["cpu_to_map_ms"].append(cpu_seconds(process.pid) * 1000)
            if run == args.runs - 1:
                survivors[name] = process
            else:
                time.sleep(0.3)
                process.terminate()
                process.wait(timeout=10)
            time.sleep(0.3)

    time.sleep(args.settle)
    before = {name: (context_switches(p.pid), time.monotonic()) for name, p in survivors.items()}
    time.sleep(args.idle)
    for name, process in survivors.items():
        switches, since = before[name]
        span = time.monotonic() - since
        entry = results[name]
        entry["idle_switches"] = context_switches(process.pid) - switches
        entry["idle_span_s"] = span
        entry["idle_wakeups_per_s"] = entry["idle_switches"] / span
        entry["threads"] = thread_count(process.pid)
        entry["rss_kib"] = rss_kib(process.pid)
        entry["start_ms_median"] = statistics.median(entry["start_ms"])
        entry["cpu_to_map_ms_median"] = statistics.median(entry["cpu_to_map_ms"])
        process.terminate()
        process.wait(timeout=10)
    print(json.dumps(results))


if __name__ == "__main__":
    main()
