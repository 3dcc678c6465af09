"""What a listener hears of a talking peer, started by run_voice_continuity.sh.

A sustained vowel goes from host P to Kavelo on host A as voice datagrams, sent
by kavelo_voice_peer the way a peer with 2000-byte capture buffers sends them
(six GSM blocks, 240 ms of sound, every 250 ms; the 80 samples after each
datagram's blocks are never sent). A's speaker is recorded and the share of
silence inside the sounding span measured, on a clean link and with network
jitter and loss made by the peer. Prints one "voice:" line per link and writes
the figures to OUT/voice-continuity.json.
"""

import argparse
import json
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from two_host_call import (MAIN_CAPTION, Host, SpeakerRecording, check, run_scenario, silence_share,  # noqa: E402
                           steady_voice, write_samples)

# (label, peer options, seconds of vowel, most silence a listener may hear)
LINKS = (
    ("clean link, 2000-byte sender", ["--buffer", "2000", "--period", "250"], 10, 0.02),
    ("30 ms jitter and 2 % loss, 2000-byte sender",
     ["--buffer", "2000", "--period", "250", "--jitter", "30", "--loss", "0.02", "--seed", "7"], 20, 0.04),
)


def log(message):
    print("voice: " + message, flush=True)


def listen(a, peer_ns, peer, out, label, options, seconds):
    vowel = write_samples(os.path.join(out, "vowel-%ds.wav" % seconds), steady_voice(seconds))
    recording = SpeakerRecording(a, "voice-" + label.split(",")[0].replace(" ", "-"))
    time.sleep(1.0)  # the recorder's stream gets going
    sent = subprocess.run(["ip", "netns", "exec", peer_ns, peer, a.address, vowel + ".raw", *options],
                          capture_output=True, text=True, timeout=seconds + 30)
    check(sent.returncode == 0, "the voice peer failed: %s" % sent.stderr)
    time.sleep(1.5)
    share, longest, span = silence_share(recording.stop())
    figures = dict(json.loads(sent.stdout), silence_share=share, longest_gap_ms=longest, sounding_s=span)
    log("%s: %d datagrams sent (%d lost); A's speaker sounded %.2f s with %.2f %% silence, longest gap %.0f ms"
        % (label, figures["sent"], figures["lost"], span, 100 * share, longest))
    return figures


def what_was_up(a, label):
    """What the listener's desktop and sound server showed when the sound fell short."""
    shot = a.screenshot("failed-" + label.split(",")[0].replace(" ", "-"))
    boxes = a.ask("boxes").get("boxes")
    return "; boxes up: %r, playback streams: %r, screenshot %s" % (boxes, a.playback_streams(), shot)


def scenario(a, peer_ns, peer, out, links):
    a.start()
    a.wait_window("Kavelo", 40)
    a.find_main_window()
    check(a.caption() == MAIN_CAPTION, "host a: caption %r at start" % a.caption())
    results = {}
    for label, options, seconds, most in links:
        figures = listen(a, peer_ns, peer, out, label, options, seconds)
        results[label] = figures
        whole = figures["sounding_s"] >= seconds - 1
        continuous = figures["silence_share"] <= most
        why = "" if whole and continuous else what_was_up(a, label)
        check(whole, "%s: A's speaker played only %.2f s of %d s%s" % (label, figures["sounding_s"], seconds, why))
        check(continuous, "%s: %.2f %% of what A's speaker played is silence (at most %.1f %%)%s"
              % (label, 100 * figures["silence_share"], 100 * most, why))
        # The talker's pause ends the sound; the next talker starts afresh.
        time.sleep(1.5)
    with open(os.path.join(out, "voice-continuity.json"), "w") as f:
        json.dump(results, f, indent=2)
    a.alive()
    a.agent.terminate()
    a.end_by_signal()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kavelo", required=True)
    parser.add_argument("--peer", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--host", required=True, help="the listening Kavelo's host")
    parser.add_argument("--peer-ns", required=True, help="the talking peer's network namespace")
    parser.add_argument("--runs", type=int, default=1, help="each link this many times (benchmarks)")
    args = parser.parse_args()
    a = Host(args.host, args.work, args.out, args.kavelo)
    links = [link for link in LINKS for _ in range(args.runs)]
    return run_scenario("voice", (a,), lambda: scenario(a, args.peer_ns, args.peer, args.out, links))


if __name__ == "__main__":
    sys.exit(main())
