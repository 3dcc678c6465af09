"""Call benchmarks on two namespaced hosts, started by bench_call_metrics.sh.

1. On host A: start-up to the main window being mapped, idle RSS and idle
   wake-ups, each next to a bare Qt window (bench_startup_idle.py).
2. A full-duplex call: A and B each type the other's address and press "Speak".
   Pink noise goes into B's microphone the whole time; a click train goes into
   A's microphone, paced in real time, while B's speaker is recorded with every
   read timestamped. Each click's onset on B's speaker, less the time it was fed,
   is one mouth-to-ear latency.
3. The same feeding and recording straight from A's microphone feed to A's
   microphone: the rig's own delay, reported beside the call's.
4. CPU (utime + stime of every thread) of both Kavelo processes over the call's
   measured span, scaled to one minute.
5. A sustained vowel into A's microphone: the share of silence a listener hears
   at B's speaker.
Prints one line per figure ("bench: ...") and writes them as JSON to OUT/call-metrics.json.
"""

import argparse
import json
import os
import subprocess
import sys
import threading
import time
import wave

import numpy

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from two_host_call import (MAIN_CAPTION, Host, SpeakerRecording, check, run_scenario,  # noqa: E402
                           silence_share, steady_voice, write_samples)

RATE = 8000
CHUNK = 160  # 20 ms
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def log(message):
    print("bench: " + message, flush=True)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def thread_cpu(pid):
    """CPU ticks and context switches of each thread by name (threads of one name summed)."""
    ticks = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                text = f.read()
        except FileNotFoundError:
            continue
        name = text[text.index("(") + 1:text.rindex(")")]
        fields = text.rsplit(")", 1)[1].split()
        switches = 0
        try:
            with open("/proc/%d/task/%s/status" % (pid, tid)) as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:")):
                        switches += int(line.split()[1])
        except FileNotFoundError:
            pass
        old = ticks.get(name, (0, 0))
        ticks[name] = (old[0] + int(fields[11]) + int(fields[12]), old[1] + switches)
    return ticks


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def kavelo_pid(host):
    """The Kavelo process itself (the Popen runs it through `ip netns exec`, which execs it)."""
    return host.program.pid


class PacedFeed(threading.Thread):
    """Writes 16-bit samples into a sink in real time, 20 ms at a time, noting when each went out."""

    def __init__(self, host, sink, samples, start_at):
        super().__init__(daemon=True)
        self.samples = samples.astype("<i2")
        self.start_at = start_at
        self.player = host.pulse("pacat", "--playback", "-d", sink, "--raw", "--format=s16le",
                                 "--rate=%d" % RATE, "--channels=1", "--latency-msec=20",
                                 stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.late = 0.0

    def run(self):
        for start in range(0, len(self.samples), CHUNK):
            due = self.start_at + start / RATE
            wait = due - time.monotonic()
            if wait > 0:
                time.sleep(wait)
            else:
                self.late = max(self.late, -wait)
            self.player.stdin.write(self.samples[start:start + CHUNK].tobytes())
            self.player.stdin.flush()
        self.player.stdin.close()
        self.player.wait(timeout=10)


class StampedRecording(threading.Thread):
    """Records a source, noting the time each read returned.

    Sample k reached this process no earlier than its read; the earliest bound over
    all reads, (read time - samples so far / rate), gives the recording's start time.
    """

    def __init__(self, host, source):
        super().__init__(daemon=True)
        self.recorder = host.pulse("parecord", "-d", source, "--raw", "--format=s16le", "--rate=%d" % RATE,
                                   "--channels=1", "--latency-msec=10", stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
        self.chunks = []
        self.offsets = []
        self.received = 0

    def run(self):
        fd = self.recorder.stdout.fileno()
        pending = b""
        while True:
            data = os.read(fd, 4096)
            if not data:
                break
            now = time.monotonic()
            pending += data
            whole = len(pending) // 2 * 2
            self.chunks.append(pending[:whole])
            pending = pending[whole:]
            self.received += whole // 2
            self.offsets.append(now - self.received / RATE)

    def stop(self):
        self.recorder.terminate()
        self.recorder.wait(timeout=5)
        self.join(timeout=5)
        samples = numpy.frombuffer(b"".join(self.chunks), dtype="<i2").astype(numpy.float64)
        return samples, min(self.offsets)


def click_train(seconds, seed=11):
    """Short 1 kHz bursts at irregular intervals of 0.6-0.9 s; returns samples and onset times."""
    rng = numpy.random.default_rng(seed)
    samples = numpy.zeros(int(seconds * RATE))
    burst = numpy.sin(2 * numpy.pi * 1000 * numpy.arange(48) / RATE) * numpy.hanning(48) * 16000
    onsets = []
    t = 0.5
    while t + 0.1 < seconds:
        k = int(t * RATE)
        samples[k:k + len(burst)] = burst
        onsets.append(k / RATE)
        t += rng.uniform(0.6, 0.9)
    return samples, numpy.array(onsets)


def envelope(samples, width=16):
    return numpy.convolve(numpy.abs(samples), numpy.ones(width) / width, "same")


def onsets_in(samples, start, threshold=None, gap=0.3):
    """Times of the clicks' first loud samples in a recording that began at `start`."""
    env = envelope(samples)
    if threshold is None:
        threshold = 0.3 * numpy.percentile(env, 99.9)
    found, last = [], -1e9
    for i in numpy.nonzero(env > threshold)[0]:
        if i - last > gap * RATE:
            found.append(start + i / RATE)
        last = i
    return numpy.array(found), threshold


def onset_delays(mouth, ear, ear_start, low=0.0, high=1.5):
    """Per click: time from its onset at the microphone to its onset at the speaker.

    The ear recording's clicks are matched to the mouth's through the lag that lines
    up the whole pattern best; then each click is looked for near its own place.
    """
    env = envelope(ear)
    check(env.max() > 0, "the speaker recording is silent")
    # A click counts when it stands well above the recording's usual level; its
    # onset is where it first reaches 30 % of its own peak (GSM changes its height).
    floor = max(8 * float(numpy.median(env)), 300.0)

    def index(t):
        return int(round((t - ear_start) * RATE))
    candidates = numpy.arange(low, high, 0.005)
    scores = []
    for d in candidates:
        idx = [index(t + d) for t in mouth]
        scores.append(sum(env[i:i + 40].max() if 0 <= i < len(env) - 40 else 0 for i in idx))
    best = float(candidates[int(numpy.argmax(scores))])
    delays = []
    for t in mouth:
        lo, hi = index(t + best - 0.15), index(t + best + 0.15)
        if lo < 0 or hi >= len(env):
            continue
        peak = float(env[lo:hi].max())
        if peak < floor:
            continue
        above = numpy.nonzero(env[lo:hi] > 0.3 * peak)[0]
        delays.append((lo + above[0]) / RATE + ear_start - t)
    return numpy.array(delays), best


def measure_path(feed_host, sink, record_host, source, seconds, label):
    """Feeds a click train into `sink`, recording it there (the mouth) and at `source` (the ear)."""
    clicks, onsets = click_train(seconds)
    mouth = StampedRecording(feed_host, sink + ".monitor")
    ear = StampedRecording(record_host, source)
    mouth.start()
    ear.start()
    time.sleep(1.0)
    feed = PacedFeed(feed_host, sink, clicks, time.monotonic() + 0.5)
    feed.start()
    feed.join(timeout=seconds + 30)
    time.sleep(1.5)
    ear_samples, ear_start = ear.stop()
    mouth_samples, mouth_start = mouth.stop()
    for part, samples in (("mouth", mouth_samples), ("ear", ear_samples)):
        with wave.open(os.path.join(record_host.out, "%s-%s.wav" % (label, part)), "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(RATE)
            w.writeframes(samples.astype("<i2").tobytes())
    mouth_onsets, _ = onsets_in(mouth_samples, mouth_start)
    check(len(mouth_onsets) >= len(onsets) - 1,
          "only %d of %d clicks heard at the microphone feed" % (len(mouth_onsets), len(onsets)))
    delays, lag = onset_delays(mouth_onsets, ear_samples, ear_start)
    return delays, len(mouth_onsets), lag, feed.late


def percentile_ms(values, q):
    return float(numpy.percentile(values, q) * 1000)


def startup_figures(a, args, figures):
    # As a user starts it: accessibility is not forced on (the call below needs it).
    plain = {k: v for k, v in a.env.items() if "ACCESSIBILITY" not in k}
    done = subprocess.run(a.ns_command("/usr/bin/python3", os.path.join(HERE, "bench_startup_idle.py"),
                                       "--kavelo", args.kavelo, "--caption", MAIN_CAPTION, "--bare", args.bare,
                                       "--cwd", a.vars["PROGRAM_FOLDER"], "--runs", str(args.runs),
                                       "--idle", str(args.idle)),
                          env=plain, capture_output=True, text=True, timeout=900)
    check(done.returncode == 0, "start-up measurement failed: %s" % done.stderr[-2000:])
    startup = json.loads(done.stdout)
    figures["startup"] = startup
    k, bare = startup["kavelo"], startup["bare"]
    log("start-up to window mapped (median of %d): Kavelo %.0f ms, bare Qt window %.0f ms, ratio %.2f (goal <= 1.3); "
        "CPU to map: Kavelo %.0f ms, bare %.0f ms" % (args.runs, k["start_ms_median"], bare["start_ms_median"],
                                                     k["start_ms_median"] / bare["start_ms_median"],
                                                     k["cpu_to_map_ms_median"], bare["cpu_to_map_ms_median"]))
    log("start-up samples ms: Kavelo %s; bare %s" % ([round(x) for x in k["start_ms"]],
                                                     [round(x) for x in bare["start_ms"]]))
    log("idle RSS: Kavelo %.1f MB, bare %.1f MB, difference %.1f MB (goal <= 15)"
        % (k["rss_kib"] / 1024, bare["rss_kib"] / 1024, (k["rss_kib"] - bare["rss_kib"]) / 1024))
    log("idle wake-ups over %.0f s: Kavelo %.2f/s (%d threads), bare %.2f/s (%d threads) (goal <= 1/s)"
        % (k["idle_span_s"], k["idle_wakeups_per_s"], k["threads"], bare["idle_wakeups_per_s"], bare["threads"]))


def scenario(a, b, args, out):
    figures = {}
    # 1. Start-up, idle memory and wake-ups on host A, before anything else runs there.
    if args.runs > 0:
        startup_figures(a, args, figures)

    # 2. The call.
    for host in (a, b):
        host.start()
    for host in (a, b):
        host.wait_window("Kavelo", 60)
        host.find_main_window()
    a.set_text("Kavelo", "Remote IP:", b.address)
    b.set_text("Kavelo", "Remote IP:", a.address)
    noise = os.path.join(out, "pink.wav")
    subprocess.run(["sox", "-n", "-r", str(RATE), "-c", "1", "-b", "16", noise, "synth", str(args.call + args.latency + 60),
                    "pinknoise", "vol", "0.3"], check=True, capture_output=True)
    b_voice = b.pulse("paplay", "-d", "micfeed", noise)
    for host in (b, a):
        host.click("Kavelo", "Speak")
    for host in (a, b):
        host.wait_caption("Speaking 1625 B/s", 20)
    time.sleep(2.0)
    pids = {h.name: kavelo_pid(h) for h in (a, b)}
    # CPU first, with sound going both ways and nothing of the benchmark's own
    # low-latency recording attached (its 10 ms streams would make the sound
    # servers wake the program more often than a call alone does).
    a_voice = a.pulse("paplay", "-d", "micfeed", noise)
    time.sleep(1.0)
    sent_before, heard_before = a.udp_counters(), b.udp_counters()
    threads_before = thread_cpu(pids["a"])
    servers = {h.name: h.sound_server_pid() for h in (a, b)}
    cpu_before = {n: cpu_seconds(p) for n, p in pids.items()}
    server_cpu_before = {n: cpu_seconds(p) for n, p in servers.items()}
    span_start = time.monotonic()
    profiler = None
    if os.environ.get("KAVELO_BENCH_PERF"):
        profiler = subprocess.Popen(["perf", "record", "-F", "497", "-g", "-p", str(pids["a"]), "-o",
                                     os.path.join(out, "perf-a.data"), "--", "sleep", str(min(args.call, 20))],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(args.call)
    if profiler:
        profiler.wait(timeout=60)
    span = time.monotonic() - span_start
    cpu_after = {n: cpu_seconds(p) for n, p in pids.items()}
    server_cpu_after = {n: cpu_seconds(p) for n, p in servers.items()}
    threads_after = thread_cpu(pids["a"])
    a_voice.terminate()
    time.sleep(1.0)
    for host in (a, b):
        host.alive()
    log("per thread of A over the span, (CPU ticks of 1/%d s, context switches): %s; A total %.2f s, B total %.2f s"
        % (CLOCK_TICKS, {n: (threads_after[n][0] - threads_before.get(n, (0, 0))[0],
                             threads_after[n][1] - threads_before.get(n, (0, 0))[1]) for n in threads_after},
           cpu_after["a"] - cpu_before["a"], cpu_after["b"] - cpu_before["b"]))
    sent = a.udp_counters()["OutDatagrams"] - sent_before["OutDatagrams"]
    heard = b.udp_counters()["InDatagrams"] - heard_before["InDatagrams"]
    log("over %.1f s A sent %d datagrams, B received %d (%.2f per second)" % (span, sent, heard, heard / span))
    per_minute = {n: (cpu_after[n] - cpu_before[n]) / span * 60 for n in pids}
    # What the call costs the sound server (all its clients: Kavelo, the voice feed, any keep-alives).
    server_per_minute = {n: (server_cpu_after[n] - server_cpu_before[n]) / span * 60 for n in servers}
    figures["call"] = {"span_s": span, "cpu_s_per_min": per_minute, "sound_server_cpu_s_per_min": server_per_minute,
                       "rss_kib": {n: rss_kib(p) for n, p in pids.items()}}
    log("sound servers over the same span: CPU per minute A %.3f s, B %.3f s"
        % (server_per_minute["a"], server_per_minute["b"]))
    log("full-duplex call, %.1f s measured: CPU per minute of call A %.3f s, B %.3f s (goal <= 0.3); RSS A %.1f MB, B %.1f MB"
        % (span, per_minute["a"], per_minute["b"], figures["call"]["rss_kib"]["a"] / 1024,
           figures["call"]["rss_kib"]["b"] / 1024))

    # Mouth-to-ear: clicks into A's microphone, B's speaker recorded.
    delays, clicks, lag, late = measure_path(a, "micfeed", b, "speaker.monitor", args.latency, "call")
    for host in (a, b):
        host.alive()
    check(len(delays) >= clicks // 2, "only %d of %d clicks came out of B's speaker" % (len(delays), clicks))
    figures["call"].update({"delays_ms": [d * 1000 for d in delays], "clicks": clicks})

    # What a listener hears: a sustained vowel into A's microphone, B's speaker recorded.
    vowel = write_samples(os.path.join(out, "vowel-bench.wav"), steady_voice(args.vowel))
    heard = SpeakerRecording(b, "vowel-bench")
    time.sleep(1.0)
    check(a.pulse("paplay", "-d", "micfeed", vowel).wait(timeout=args.vowel + 30) == 0, "paplay failed on host a")
    time.sleep(1.5)
    share, longest, sounding = silence_share(heard.stop())
    figures["call"]["vowel"] = {"seconds": args.vowel, "silence_share": share, "longest_gap_ms": longest,
                                "sounding_s": sounding}
    log("silence at B's speaker, %d s vowel into A's microphone: %.2f %% of %.2f s sounding, longest gap %.0f ms "
        "(goal <= 0.5 %%)" % (args.vowel, 100 * share, sounding, longest))

    # 3. The rig alone: A's microphone feed straight into a recording of A's microphone.
    rig, rig_clicks, _, _ = measure_path(a, "micfeed", a, "mic", min(args.latency, 20), "rig")
    check(len(rig) >= rig_clicks // 2, "only %d of %d clicks reached A's microphone" % (len(rig), rig_clicks))
    b_voice.terminate()
    rig_median = float(numpy.median(rig))
    figures["rig_delays_ms"] = [d * 1000 for d in rig]
    figures["mouth_to_ear_ms"] = {"median": percentile_ms(delays, 50), "p95": percentile_ms(delays, 95),
                                  "median_less_rig": (float(numpy.median(delays)) - rig_median) * 1000,
                                  "p95_less_rig": (float(numpy.percentile(delays, 95)) - rig_median) * 1000,
                                  "rig_median": rig_median * 1000, "clicks_found": len(delays), "clicks_fed": clicks}
    m = figures["mouth_to_ear_ms"]
    log("mouth-to-ear A->B over %d of %d clicks: median %.0f ms, 95th percentile %.0f ms (floor 250, goal median <= 300); "
        "rig alone (feed + record, no Kavelo) median %.0f ms over %d clicks; less the rig: median %.0f ms, p95 %.0f ms"
        % (len(delays), clicks, m["median"], m["p95"], m["rig_median"], len(rig), m["median_less_rig"], m["p95_less_rig"]))
    log("latency samples ms: %s" % sorted(round(d * 1000) for d in delays))
    with open(os.path.join(out, "call-metrics.json"), "w") as f:
        json.dump(figures, f, indent=1)
    return figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kavelo", required=True)
    parser.add_argument("--bare", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--hosts", nargs=2, required=True)
    parser.add_argument("--runs", type=int, default=int(os.environ.get("KAVELO_BENCH_RUNS", "7")))
    parser.add_argument("--idle", type=float, default=float(os.environ.get("KAVELO_BENCH_IDLE_S", "30")))
    parser.add_argument("--call", type=float, default=float(os.environ.get("KAVELO_BENCH_CALL_S", "60")))
    parser.add_argument("--latency", type=float, default=float(os.environ.get("KAVELO_BENCH_LATENCY_S", "40")))
    parser.add_argument("--vowel", type=int, default=int(os.environ.get("KAVELO_BENCH_VOWEL_S", "30")))
    args = parser.parse_args()
    a, b = (Host(name, args.work, args.out, args.kavelo) for name in args.hosts)
    return run_scenario("bench", (a, b), lambda: scenario(a, b, args, args.out), errors=(RuntimeError, ValueError))


if __name__ == "__main__":
    sys.exit(main())
