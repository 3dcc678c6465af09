"""A long full-duplex call between two namespaced hosts, with the programs' memory sampled.

Started by soak_call.sh. A and B both press "Speak" and speech plays into both
microphones for the whole run. Every sample interval the resident set size of
each Kavelo is read from /proc. Fails when either program ends, when a side no
longer hears the other at the end, or when a program's RSS grew by more than the
allowed amount from the first sample (taken after a minute's warm-up, or after a
quarter of a shorter run) to the last.
"""

import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from two_host_call import Host, SpeakerRecording, TestFailure, check, log, make_speech, rms, run_scenario  # noqa: E402


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise TestFailure("no VmRSS for process %d" % pid)


def kavelo_pid(host):
    """The Kavelo process itself (Popen holds `ip netns exec`, which execs into it)."""
    with open("/proc/%d/comm" % host.program.pid) as f:
        check("kavelo" in f.read().strip(), "host %s: process %d is not Kavelo" % (host.name, host.program.pid))
    return host.program.pid


def scenario(a, b, out, minutes, interval, allowed_kib):
    for host in (a, b):
        host.start()
    for host in (a, b):
        host.wait_window("Kavelo", 40)
        host.find_main_window()
    a.type_text("Kavelo", "Remote IP:", b.address)
    b.type_text("Kavelo", "Remote IP:", a.address)
    for host in (b, a):
        host.click("Kavelo", "Speak")
    for host in (a, b):
        host.wait_caption("Speaking 1625 B/s")
    speech = make_speech(out)
    end = time.monotonic() + minutes * 60
    warmup = min(60.0, minutes * 60 / 4)
    feeders = {}
    samples = {"a": [], "b": []}
    next_sample = time.monotonic() + warmup
    log("call up; running %.1f min, RSS every %.0f s after %.0f s warm-up" % (minutes, interval, warmup))
    while time.monotonic() < end:
        for host in (a, b):
            host.alive()
            if host.name not in feeders or feeders[host.name].poll() is not None:
                feeders[host.name] = host.pulse("paplay", "-d", "micfeed", speech)
        if time.monotonic() >= next_sample:
            for host in (a, b):
                samples[host.name].append(rss_kib(kavelo_pid(host)))
            log("RSS a %d KiB, b %d KiB" % (samples["a"][-1], samples["b"][-1]))
            next_sample += interval
        time.sleep(0.5)
    # Both still hear each other at the end.
    recordings = [SpeakerRecording(host, "soak-end") for host in (a, b)]
    for host in (a, b):
        feeders[host.name].wait(timeout=30)
        feeders[host.name] = host.pulse("paplay", "-d", "micfeed", speech)
    for host in (a, b):
        feeders[host.name].wait(timeout=30)
    time.sleep(1.0)
    levels = [rms(r.stop()) for r in recordings]
    log("speaker RMS at the end: a %.0f, b %.0f" % tuple(levels))
    check(min(levels) > 300, "a side no longer hears the other at the end (RMS %r)" % levels)
    for name, series in samples.items():
        check(len(series) >= 2, "too few RSS samples for host %s" % name)
        growth = series[-1] - series[0]
        log("host %s: RSS %d -> %d KiB over %d samples (growth %d KiB, peak %d KiB)"
            % (name, series[0], series[-1], len(series), growth, max(series)))
        check(growth <= allowed_kib, "host %s: RSS grew by %d KiB (allowed %d)" % (name, growth, allowed_kib))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kavelo", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--minutes", type=float, default=60)
    parser.add_argument("--interval", type=float, default=60)
    parser.add_argument("--allowed-kib", type=int, default=2048)
    args = parser.parse_args()
    a, b = (Host(name, args.work, args.out, args.kavelo) for name in ("a", "b"))
    return run_scenario("soak", (a, b), lambda: scenario(a, b, args.out, args.minutes, args.interval, args.allowed_kib))


if __name__ == "__main__":
    sys.exit(main())
