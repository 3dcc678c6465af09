"""A call with Kavelo on Wayland: start, ring, text, speak.

Started by wayland_call.sh. Host A runs Kavelo on X11 and is worked with the
pointer and keyboard as in the two-host call; host B runs it on a headless
weston with Qt's Wayland platform and is worked only through its accessibility
bus (pressing buttons, setting text), as a Wayland compositor lets nobody else
move the pointer or type into a window.
1. B's main window comes up on Wayland, its name the caption.
2. A rings B: B's ring alert comes up naming Alice, an alert to assistive
   technology, B's speaker rings, and since Kavelo may not raise or activate
   its windows on Wayland, a desktop notification names the caller too (a
   notification service of the test's own on B's session bus).
3. A sends a line: B's messages window shows it under Alice's name.
4. B presses "Speak": B's caption is "Speaking 1625 B/s", and a vowel fed into
   B's microphone plays at A's speaker without gaps.
5. Both end on SIGTERM with their settings kept.
"""

import argparse
import json
import os
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from two_host_call import (MAX_SILENCE_SHARE, PYTHON, AccessibilityWatch, Host, SpeakerRecording, check,  # noqa: E402
                           end_all_by_signal, log, rms, run_scenario, silence_share, steady_voice, write_samples)

SOCKET = "wayland-kavelo"


class NotificationWatch(threading.Thread):
    """A notification service of the test's own on a host's session bus, noting
    every notification asked for (notification_service.py)."""

    def __init__(self, host):
        super().__init__(daemon=True)
        self.host = host
        self.lines = []
        self.service = subprocess.Popen(host.ns_command(PYTHON, os.path.join(HERE, "notification_service.py")),
                                        env=host.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.start()
        host.wait("the notification service", lambda: self.lines, 10)
        check(self.lines[0].get("ready"), "host %s: the notification service did not start: %r"
              % (host.name, self.lines[0]))

    def run(self):
        for line in self.service.stdout:
            try:
                self.lines.append(json.loads(line))
            except ValueError:
                pass

    def wait_for(self, summary, timeout=10.0):
        return self.host.wait("a notification %r" % summary,
                              lambda: next((n for n in self.lines if summary in n.get("summary", "")), None), timeout)

    def stop(self):
        self.service.terminate()
        self.service.wait(timeout=5)
        self.join(timeout=5)


class WaylandHost(Host):
    """A host whose Kavelo runs on a headless Wayland compositor of its own."""

    def alive(self):
        # The compositor is waited for before the program runs.
        if self.program is not None:
            super().alive()

    def start_compositor(self):
        runtime = self.vars["XDG_RUNTIME_DIR"]
        self.compositor = subprocess.Popen(
            self.ns_command("env", "XDG_RUNTIME_DIR=" + runtime, "weston", "--backend=headless-backend.so",
                            "--use-pixman", "--socket=" + SOCKET, "--width=1024", "--height=768", "--idle-time=0",
                            "--debug", "--log=" + os.path.join(self.dir, "weston.log")),
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wait("the Wayland compositor", lambda: os.path.exists(os.path.join(runtime, SOCKET)), 20)
        self.env = dict(self.env, WAYLAND_DISPLAY=SOCKET, QT_QPA_PLATFORM="wayland")
        del self.env["DISPLAY"]
        # The Wayland client library and Qt's Wayland plugin keep a few hundred
        # bytes to the end that LeakSanitizer cannot put a name to (the plugin
        # is unloaded before it reports). Kavelo's own code is checked for leaks
        # by every X11 program of the whole-program tests, host A here included.
        asan = [o for o in self.env.get("ASAN_OPTIONS", "").split(":") if o and not o.startswith("detect_leaks")]
        self.env["ASAN_OPTIONS"] = ":".join(asan + ["detect_leaks=0"])

    def screenshot(self, label):
        path = os.path.join(self.out, "%s-%s.png" % (self.name, label))
        subprocess.run(self.ns_command("env", "XDG_RUNTIME_DIR=" + self.vars["XDG_RUNTIME_DIR"],
                                       "WAYLAND_DISPLAY=" + SOCKET, "weston-screenshooter"),
                       cwd=self.out, capture_output=True, timeout=10)
        shots = sorted(f for f in os.listdir(self.out) if f.startswith("wayland-screenshot"))
        if shots:
            os.replace(os.path.join(self.out, shots[-1]), path)
        return path

    def press(self, window, name):
        self.must("press", window=window, name=name)


def scenario(a, b, out):
    b.start_compositor()
    told_by_b = NotificationWatch(b)
    for host in (a, b):
        host.start()
    for host in (a, b):
        host.wait_window("Kavelo", 40)
    a.find_main_window()
    check(b.main_window_name() == "Kavelo 1.0b PC-PC call",
          "host b: the main window reads %r on Wayland" % b.main_window_name())
    b.screenshot("1-started")
    log("Kavelo is up on X11 at A and on Wayland at B")
    heard_by_b = AccessibilityWatch(b)

    # 2. A rings B.
    a.type_text("Kavelo", "Remote IP:", b.address)
    ring = SpeakerRecording(b, "ring")
    time.sleep(0.5)
    a.click("Kavelo", "Send RING")
    b.wait_window("RING")
    heard_by_b.wait_shown("alert", "RING")
    b.wait("the ring alert naming Alice", lambda: b.ask("state", window="RING", name="Alice")["ok"], 5)
    time.sleep(1.0)
    ring_level = rms(ring.stop())
    b.screenshot("2-ring-alert")
    check(ring_level > 300, "host b: no ring sound on B's speaker (RMS %.0f)" % ring_level)
    log("B's ring alert names Alice and is an alert to assistive technology; B's speaker rings at RMS %.0f"
        % ring_level)
    # No program may raise or activate its own window on Wayland, nor keep one
    # on top: a ring is also told by a desktop notification.
    notice = told_by_b.wait_for("Alice")
    log("B's ring was also told by a desktop notification: %r" % notice.get("summary"))
    b.press("RING", "OK")
    b.wait_gone("RING")

    # 3. A text line from A.
    line = "Hello Bob, on Wayland?"
    a.click("Kavelo", "Messages")
    a.wait_window("Messages")
    a.type_text("Messages", "Text", line)
    a.click("Messages", "Send")
    b.wait_window("Messages")
    pane = b.wait_text("Messages", "Conversation", line)
    check("Alice (" in pane, "host b: A's line is not shown under A's name: %r" % pane)
    heard_by_b.wait_shown("notification", line)
    b.screenshot("3-messages")
    log("B shows A's line: %r" % pane)

    # 4. B speaks from the accessibility bus; a vowel into B's microphone plays at A.
    b.press("Kavelo", "Speak")
    b.wait("B's caption 'Speaking 1625 B/s'", lambda: b.main_window_name() == "Speaking 1625 B/s", 10)
    vowel = write_samples(os.path.join(out, "vowel.wav"), steady_voice(6))
    heard = SpeakerRecording(a, "vowel-from-wayland")
    time.sleep(1.0)
    feeder = b.pulse("paplay", "-d", "micfeed", vowel)
    check(feeder.wait(timeout=30) == 0, "host b: paplay could not feed the microphone")
    time.sleep(1.5)
    share, longest, span = silence_share(heard.stop())
    log("B on Wayland speaks: A's speaker sounded %.2f s of the 6 s vowel with %.2f %% silence (longest gap %.0f ms)"
        % (span, 100 * share, longest))
    check(span >= 5.5, "A's speaker played only %.2f s of the 6 s vowel from B" % span)
    check(share <= MAX_SILENCE_SHARE, "A's speaker: %.2f %% of B's vowel is silence" % (100 * share))
    b.press("Kavelo", "Silent")
    b.wait("B's caption 'Silent'", lambda: b.main_window_name() == "Silent", 10)
    heard_by_b.stop()
    told_by_b.stop()
    log("B's desktop notifications: %r" % [(n.get("summary"), n.get("body")) for n in told_by_b.lines[1:]])

    end_all_by_signal((a, b))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kavelo", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    a = Host("a", args.work, args.out, args.kavelo)
    b = WaylandHost("b", args.work, args.out, args.kavelo)
    return run_scenario("wayland", (a, b), lambda: scenario(a, b, args.out))


if __name__ == "__main__":
    sys.exit(main())
