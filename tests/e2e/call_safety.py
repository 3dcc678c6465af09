"""A call and a desktop stay the user's, driven through the windows of namespaced hosts.

Started by call_safety.sh once the hosts run. B works in a terminal (xterm under
openbox) while the stranger C sends it a text line and a ring: B's windows come
up, but what B types keeps going into the terminal, nothing reaches Kavelo's
chat input and no text line goes out. Then A rings B and B answers with "Speak"
while the ring alert is up: the alert goes, and when its 100 seconds are over
neither is A listed as missed nor does the call lose its peer, so a STOP from
C does not end it and C lands in the missed calls.
"""

import argparse
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from two_host_call import CaptionWatch, Host, check, end_all_by_signal, log, run_scenario  # noqa: E402

PYTHON = "/usr/bin/python3"
SIZE = 390
RING_PERIOD = 100.0
TERMINAL_TITLE = "typing-here"

# C's side of the wire: sends one datagram from port 5551, as Kavelo does.
SEND = """
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("", 5551))
s.sendto(bytes.fromhex(sys.argv[1]), (sys.argv[2], 5552))
"""
# ...and keeps every datagram that reaches its port 5552, one hex line each.
LISTEN = """
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("", 5552))
with open(sys.argv[1], "a") as out:
    while True:
        data, sender = s.recvfrom(4096)
        out.write("%s %s\\n" % (sender[0], data.hex()))
        out.flush()
"""


class Stranger:
    def __init__(self, ns, address, work):
        self.ns = ns
        self.address = address
        self.received_path = os.path.join(work, "stranger-received.txt")
        open(self.received_path, "w").close()
        self.listener = subprocess.Popen(["ip", "netns", "exec", ns, PYTHON, "-c", LISTEN, self.received_path])

    def send(self, payload, to):
        done = subprocess.run(["ip", "netns", "exec", self.ns, PYTHON, "-c", SEND, payload.hex(), to],
                              capture_output=True, text=True, timeout=20)
        check(done.returncode == 0, "the stranger could not send: %s" % done.stderr)

    def received(self):
        with open(self.received_path) as f:
            return [bytes.fromhex(line.split()[1]) for line in f if line.strip()]

    def stop(self):
        self.listener.terminate()
        self.listener.wait(timeout=10)


def signal(word):
    return word + bytes(SIZE - len(word))


def text_line(text):
    return (b"|mess" + text + b"|").ljust(SIZE, b"\0")


def active_window(host):
    return host.run("xdotool", "getactivewindow").stdout.strip()


def start_desktop(b):
    """A window manager and a terminal on B's display; the terminal keeps what is typed into it."""
    b.window_manager = subprocess.Popen(b.ns_command("openbox"), env=b.env, stdout=subprocess.DEVNULL,
                                        stderr=open(os.path.join(b.dir, "openbox.log"), "w"))
    b.typed_path = os.path.join(b.dir, "typed.txt")
    open(b.typed_path, "w").close()
    b.terminal = subprocess.Popen(
        b.ns_command("xterm", "-title", TERMINAL_TITLE, "-geometry", "60x10+20+450",
                     "-e", "sh", "-c", "exec cat >>%s" % b.typed_path),
        env=b.env, stdout=subprocess.DEVNULL, stderr=open(os.path.join(b.dir, "xterm.log"), "w"))

    def terminal_id():
        ids = b.run("xdotool", "search", "--onlyvisible", "--name", "^%s$" % TERMINAL_TITLE).stdout.split()
        return ids[0] if ids else None
    b.terminal_window = b.wait("the terminal window", terminal_id, 20)


def work_in_terminal(b):
    """B clicks into the terminal, as a person starts working in another application."""
    location = b.run("xdotool", "getwindowgeometry", b.terminal_window).stdout
    b.run("xdotool", "windowactivate", "--sync", b.terminal_window)
    b.wait("the terminal to have the keyboard", lambda: active_window(b) == b.terminal_window, 10)
    log("host b works in the terminal (%s)" % " ".join(location.split()))


def type_on_keyboard(b, text):
    """Types into whatever window has the keyboard, Enter last."""
    done = b.run("xdotool", "type", "--delay", "30", text)
    check(done.returncode == 0, "host b: xdotool could not type: %s" % done.stderr)
    b.run("xdotool", "key", "Return")


def typed_into_terminal(b):
    with open(b.typed_path) as f:
        return f.read()


def keyboard_stays_in_the_terminal(b, stranger):
    """A line and a ring from C come up on B's screen; B goes on typing in the terminal."""
    work_in_terminal(b)
    stranger.send(text_line(b"hello from a stranger"), b.address)
    b.wait_window("Messages", 15)
    b.wait_text("Messages", "Conversation", "hello from a stranger", 10)
    # Out of the way of the ring alert, which comes up in the middle of the screen.
    b.move_window("Messages", 520, 20)
    time.sleep(0.5)
    b.screenshot("safety-1-line-arrived")
    check(active_window(b) == b.terminal_window, "host b: the arriving line took the keyboard from the terminal")
    type_on_keyboard(b, "typed while a line came")
    b.wait("the terminal to get what was typed",
           lambda: "typed while a line came" in typed_into_terminal(b), 10)
    check(b.text("Messages", "Text") == "", "host b: the typing went into the chat input: %r" % b.text("Messages", "Text"))
    pane = b.text("Messages", "Conversation")
    check("typed while" not in pane, "host b: the typing was sent as a chat line: %r" % pane)
    log("host b: the stranger's line came up, the typing stayed in the terminal")

    stranger.send(signal(b"ring"), b.address)
    b.wait_window("RING", 15)
    time.sleep(0.5)
    b.screenshot("safety-2-ring-arrived")
    check(active_window(b) == b.terminal_window, "host b: the ring alert took the keyboard from the terminal")
    type_on_keyboard(b, "typed while it rang")
    b.wait("the terminal to get what was typed", lambda: "typed while it rang" in typed_into_terminal(b), 10)
    check("RING" in b.window_names(), "host b: the Enter typed into the terminal answered the ring alert")
    check(b.text("Messages", "Text") == "", "host b: the typing went into the chat input: %r" % b.text("Messages", "Text"))
    time.sleep(1.0)
    sent = [d for d in stranger.received() if d.startswith(b"|mess")]
    check(not sent, "host b sent text lines nobody wrote: %r" % sent)
    log("host b: the stranger's ring came up, the typing stayed in the terminal, no text line went out")

    b.click("RING", "OK")
    b.wait_gone("RING")


def answering_keeps_the_call(a, b, stranger):
    """A rings B, B answers with "Speak" while the alert is up; the alert's period ends mid-call."""
    a.type_text("Kavelo", "Remote IP:", b.address)
    a.click("Kavelo", "Send RING")
    rung = time.monotonic()
    b.wait_window("RING", 15)
    names = b.must("names", window="RING")["names"]
    check("Alice" in names, "host b: the ring alert does not name Alice: %r" % names)
    b.wait("A's address in B's address field", lambda: b.text("Kavelo", "Remote IP:") == a.address, 10)
    b.click("Kavelo", "Speak")
    b.wait_caption("Speaking 1625 B/s", 15)
    b.wait_gone("RING", 5)
    log("host b answered Alice's ring with Speak; the ring alert went")

    # Past the alert's 100 seconds: nothing about the call may change.
    while time.monotonic() - rung < RING_PERIOD + 8:
        windows = b.window_names()
        check("Missed calls" not in windows, "host b: the missed calls came up during the call: %r" % windows)
        check("RING" not in windows, "host b: the ring alert came back: %r" % windows)
        b.alive()
        time.sleep(2.0)
    check(b.state("Kavelo", "Speak")["checked"], "host b: the call ended while the alert's period ran out")
    b.screenshot("safety-3-past-the-ring-period")
    log("host b: %.0f s after the ring the call goes on, nobody listed as missed" % (time.monotonic() - rung))

    # The call still has its peer: a stranger's STOP is a stranger's.
    captions = CaptionWatch(b)
    captions.start()
    time.sleep(0.5)
    stranger.send(signal(b"stop"), b.address)
    b.wait("the missed call of the stranger's STOP",
           lambda: "%s tries to connect" % stranger.address in captions.seen, 10)
    time.sleep(1.0)
    seen = captions.stop()
    check(b.state("Kavelo", "Speak")["checked"], "host b: the stranger's STOP ended the call")
    check("Silent" not in seen, "host b: the stranger's STOP ended the call (captions %r)" % seen[-5:])
    log("host b: the stranger's STOP was taken as a missed call; the call goes on")

    b.click("Kavelo", "Silent")
    b.wait_caption("Silent")
    b.wait_window("Missed calls", 10)
    names = b.must("names", window="Missed calls")["names"]
    check(stranger.address in names, "host b: the stranger is not in the missed calls: %r" % names)
    check("Alice" not in names and a.address not in names,
          "host b: Alice, whose ring was answered, is listed as missed: %r" % names)
    b.screenshot("safety-4-missed-calls")
    log("host b's missed calls after Silent: %r" % [n for n in names if n not in ("Name (IP addr.)", "Timestamp")])


def scenario(a, b, stranger, parts):
    for host in (a, b):
        host.start()
    for host in (a, b):
        host.wait_window("Kavelo", 40)
        host.find_main_window()
    start_desktop(b)
    b.run("xdotool", "windowmove", b.main_window, "20", "20")
    log("both programs are up; host b has a window manager and a terminal")

    if "keyboard" in parts:
        keyboard_stays_in_the_terminal(b, stranger)
    if "answering" in parts:
        answering_keeps_the_call(a, b, stranger)
    for host in (a, b):
        host.alive()
    end_all_by_signal((a, b))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kavelo", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--stranger-ns", required=True)
    parser.add_argument("--stranger", required=True)
    parser.add_argument("--parts", default="keyboard,answering",
                        help="which checks to run, comma-separated: keyboard, answering")
    args = parser.parse_args()
    a, b = (Host(name, args.work, args.out, args.kavelo) for name in ("a", "b"))
    stranger = Stranger(args.stranger_ns, args.stranger, args.work)
    try:
        return run_scenario("safety", (a, b), lambda: scenario(a, b, stranger, args.parts.split(",")))
    finally:
        stranger.stop()


if __name__ == "__main__":
    sys.exit(main())
