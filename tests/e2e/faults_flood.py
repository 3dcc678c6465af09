"""A call under a datagram flood, driven through the windows of two namespaced hosts.

Started by faults_flood.sh once the hosts run. A and B talk (both press "Speak"),
speech plays into A's microphone, and host C sends about 100 000 datagrams from
1 000 source addresses to B within about 10 s: rings, stops and voice from 990
of them, four text lines from each of the other 10; then each caller rings once
more, paced, so that every caller reaches B whatever the kernel dropped of the
flood at B's full receive queue. B must stay alive and answer
its accessibility bus throughout, A's voice must keep coming out of B's speaker
during and after the flood, the messages pane must show the 40 text lines, and
B's missed-calls list must hold exactly the 990 callers, once each.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import time

import numpy

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from two_host_call import (Host, SpeakerRecording, check, end_all_by_signal, log, make_speech,  # noqa: E402
                           RATE, run_scenario)

FLOOD_FIRST = "10.232.8.0"
FLOOD_COUNT = 1000
TEXT_ONLY = 10
ROUNDS = 101
FLOOD_SECONDS = 10.0
# The longest an accessibility query of B may take while the flood runs.
PATIENCE = 5.0


def level(samples):
    return float(numpy.sqrt(numpy.mean(samples ** 2))) if len(samples) else 0.0


def scenario(a, b, c_ns, out):
    for host in (a, b):
        host.start()
    for host in (a, b):
        host.wait_window("Kavelo", 40)
        host.find_main_window()
        host.run("xdotool", "windowmove", host.main_window, "20", "20")
    log("both programs are up")

    # The call: each side speaks to the other.
    a.type_text("Kavelo", "Remote IP:", b.address)
    b.type_text("Kavelo", "Remote IP:", a.address)
    b.click("Kavelo", "Speak")
    a.click("Kavelo", "Speak")
    a.wait_caption("Speaking 1625 B/s")
    b.wait_caption("Speaking 1625 B/s")
    speech = make_speech(out)
    speech_seconds = len(open(speech, "rb").read()) / (2.0 * RATE)

    heard = SpeakerRecording(b, "speaker-during-flood")
    # A keeps talking for the whole flood, its roll call and a while after it.
    talking_until = time.monotonic() + FLOOD_SECONDS + 16
    feeders = []

    def keep_talking():
        if not feeders or feeders[-1].poll() is not None:
            if time.monotonic() < talking_until:
                feeders.append(a.pulse("paplay", "-d", "micfeed", speech))

    keep_talking()
    time.sleep(3.0)
    counters_before = b.udp_counters()
    flood_start = time.monotonic()
    sender = subprocess.Popen(["ip", "netns", "exec", c_ns, "/usr/bin/python3",
                               os.path.join(HERE, "faults_flood_sender.py"), b.address, "5552", FLOOD_FIRST,
                               str(FLOOD_COUNT), str(TEXT_ONLY), str(ROUNDS), str(FLOOD_SECONDS)],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    slowest, probes = 0.0, 0
    while sender.poll() is None:
        keep_talking()
        b.alive()
        asked = time.monotonic()
        answer = b.ask("state", window="Kavelo", name="Speak")
        took = time.monotonic() - asked
        check(answer["ok"], "host b: the main window does not answer during the flood: %r" % answer)
        check(took < PATIENCE, "host b: the main window took %.1f s to answer during the flood" % took)
        slowest, probes = max(slowest, took), probes + 1
        time.sleep(0.3)
        check(time.monotonic() - flood_start < 120, "the flood sender does not end")
    flood_end = time.monotonic()
    report_line, errors = sender.communicate(timeout=10)
    check(sender.returncode == 0, "the flood sender failed: %s" % errors)
    report = json.loads(report_line)
    log("C sent %d datagrams (%r) from %d addresses in %.1f s (%d refused by C's own stack); "
        "B answered %d accessibility queries meanwhile, the slowest in %.2f s"
        % (report["total"], report["sent"], FLOOD_COUNT, report["seconds"], report["errors"], probes, slowest))
    counters = {k: v - counters_before.get(k, 0) for k, v in b.udp_counters().items()}
    log("B's UDP counters over the flood: %d received, %d dropped for a full receive buffer"
        % (counters.get("InDatagrams", 0), counters.get("RcvbufErrors", 0)))
    b.screenshot("flood-1-during")
    while time.monotonic() < talking_until - 6:
        keep_talking()
        time.sleep(0.2)
    samples = heard.stop()
    for feeder in feeders:
        feeder.wait(timeout=30)
    b.alive()

    # Voice from A during the flood and after it. The recording began 3 s before it.
    start = 3 * RATE
    during = samples[start: start + int((flood_end - flood_start) * RATE)]
    after = samples[-int(4 * RATE):]
    before = samples[: start]
    log("B's speaker: RMS %.0f before, %.0f during, %.0f in the last 4 s after the flood (%.1f s recorded, speech %.1f s)"
        % (level(before), level(during), level(after), len(samples) / RATE, speech_seconds))
    check(level(during) > 300, "host b: A's voice did not play during the flood (RMS %.0f)" % level(during))
    check(level(after) > 300, "host b: A's voice did not play after the flood (RMS %.0f)" % level(after))
    # Playback kept going through the flood: no second-long silence in it.
    frames = during[: len(during) // 800 * 800].reshape(-1, 800)
    quiet_run = longest = 0
    for frame in frames:
        quiet_run = quiet_run + 1 if level(frame) < 30 else 0
        longest = max(longest, quiet_run)
    log("longest stretch without sound on B's speaker during the flood: %.1f s" % (longest * 0.1))

    # Text lines from third parties are shown, not listed as missed.
    log("B's visible windows after the flood: %r" % b.window_names())
    pane = b.wait_text("Messages", "Conversation", "flood line", 15)
    shown = [line for line in pane.splitlines() if "flood line" in line]
    texters = set(report["texters"])
    senders = {line.split(" (")[0] for line in shown}
    log("B's messages pane shows %d third-party text lines from %d addresses" % (len(shown), len(senders)))
    check(senders == texters, "host b: text lines from %r, expected %r" % (sorted(senders), sorted(texters)))
    check(len(shown) == report["sent"]["text"],
          "host b: %d of %d text lines shown" % (len(shown), report["sent"]["text"]))

    # "Silent" ends the call and brings up the missed calls.
    check(b.state("Kavelo", "Speak")["checked"], "host b: the flood ended the call")
    b.click("Kavelo", "Silent")
    b.wait_caption("Silent")
    b.wait_window("Missed calls", 10)
    b.move_window("Missed calls", 20, 230)
    b.screenshot("flood-2-missed-calls")
    started = time.monotonic()
    names = b.must("names", window="Missed calls")["names"]
    listed = [n for n in names if re.fullmatch(r"10\.232\.\d+\.\d+", n)]
    callers = set(report["callers"])
    log("B's missed calls list %d rows of addresses (read in %.1f s); %d distinct callers sent"
        % (len(listed), time.monotonic() - started, len(callers)))
    check(len(listed) == len(set(listed)), "host b: a caller is listed twice")
    check(not (set(listed) & texters), "host b: a sender of text only is listed as missed")
    check(a.address not in names, "host b: the peer of the call is listed as missed")
    check(set(listed) == callers, "host b: missed calls differ from the callers: %d missing, %d extra"
          % (len(callers - set(listed)), len(set(listed) - callers)))
    for host in (a, b):
        host.alive()
    end_all_by_signal((a, b))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kavelo", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--sender-ns", required=True)
    args = parser.parse_args()
    a, b = (Host(name, args.work, args.out, args.kavelo) for name in ("a", "b"))
    return run_scenario("faults", (a, b), lambda: scenario(a, b, args.sender_ns, args.out), errors=(ValueError,))


if __name__ == "__main__":
    sys.exit(main())
