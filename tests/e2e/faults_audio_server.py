"""The sound server missing at start and lost in a call, seen through the windows.

Started by faults_audio_server.sh. Host B runs without any sound server; hosts
A and C have one each.
1. B presses "Speak": an error box says the recording device does not exist,
   the main window keeps answering, "Silent" brings it back, and a text line
   from A still arrives and is shown.
2. A and C talk; C's sound server is killed. C tells its user in an error box
   (the peer's voice can no longer be played), keeps answering, and "Silent"
   ends the call. Kavelo runs on everywhere.
"""

import argparse
import os
import signal
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from two_host_call import Host, check, end_all_by_signal, log, make_speech, run_scenario  # noqa: E402

NO_DEVICE_IN = "WaveIn-Open The specified resource does not exist."
NO_DEVICE_OUT = "WaveOut-Write The specified resource does not exist."
# What the boxes after a lost server may say, playback's first.
BOX_TEXTS = (NO_DEVICE_OUT, "WaveInAddBuffer The specified resource does not exist.",
             "WaveIn-AddBuffer The specified resource does not exist.",
             "WaveIn-PrepareHeader The specified resource does not exist.",
             "WaveIn-UnprepareHeader The specified resource does not exist.")


def box_with(host, text, timeout=15.0):
    """Waits for a visible box whose text is `text`; answers the time it took."""
    started = time.monotonic()
    host.wait("the box %r" % text, lambda: host.ask("state", window="*", name=text)["ok"], timeout)
    return time.monotonic() - started


def answers(host, what):
    """The main window answers an accessibility query (its event loop turns)."""
    asked = time.monotonic()
    answer = host.ask("state", window="Kavelo", name="Silent")
    took = time.monotonic() - asked
    check(answer["ok"], "host %s: the main window does not answer %s: %r" % (host.name, what, answer))
    check(took < 5.0, "host %s: the main window took %.1f s to answer %s" % (host.name, took, what))
    return took


def scenario(a, b, c, work, out):
    for host in (a, b, c):
        host.start()
    for host in (a, b, c):
        host.wait_window("Kavelo", 40)
        host.find_main_window()
        host.run("xdotool", "windowmove", host.main_window, "20", "20")
    log("three programs are up; B has no sound server")

    # 1. No sound server at start.
    b.type_text("Kavelo", "Remote IP:", a.address)
    b.click("Kavelo", "Speak")
    box_with(b, NO_DEVICE_IN)
    b.screenshot("no-server-1-box")
    b.alive()
    b.click("*", "OK")
    b.wait("the box to close", lambda: not b.ask("state", window="*", name=NO_DEVICE_IN)["ok"], 10)
    answers(b, "after the box")
    b.click("Kavelo", "Silent")
    b.wait_caption("Silent")
    check(b.state("Kavelo", "Remote IP:")["enabled"], "host b: the address field stays disabled after 'Silent'")
    a.type_text("Kavelo", "Remote IP:", b.address)
    a.click("Kavelo", "Messages")
    a.wait_window("Messages")
    a.move_window("Messages", 330, 20)
    a.type_text("Messages", "Text", "can you hear me?", enter=True)
    pane = b.wait_text("Messages", "Conversation", "can you hear me?")
    log("without a sound server B refuses 'Speak' in a box and still shows A's text: %r" % pane)
    b.screenshot("no-server-2-text")

    # 2. The sound server dies in a call between A and C.
    a.set_text("Kavelo", "Remote IP:", c.address)
    c.type_text("Kavelo", "Remote IP:", a.address)
    c.click("Kavelo", "Speak")
    a.click("Kavelo", "Speak")
    for host in (a, c):
        host.wait_caption("Speaking 1625 B/s")
    speech = make_speech(out)
    feeder = a.pulse("paplay", "-d", "micfeed", speech)
    time.sleep(2.0)
    server = c.sound_server_pid()
    os.kill(server, signal.SIGKILL)
    killed = time.monotonic()
    log("C's sound server (pid %d) killed in the call" % server)
    box_with(c, NO_DEVICE_OUT, 20)
    log("C shows %r %.1f s after the server died" % (NO_DEVICE_OUT, time.monotonic() - killed))
    c.screenshot("server-lost-1-box")
    c.alive()
    # Playback and recording may each have a box up; the user reads and closes
    # them. They must stop coming while the peer talks on.
    texts, deadline = set(), time.monotonic() + 20
    boxes = 0
    while time.monotonic() < deadline:
        texts |= {t for t in BOX_TEXTS if c.ask("state", window="*", name=t)["ok"]}
        if c.ask("press", window="*", name="OK")["ok"]:
            boxes += 1
        else:
            time.sleep(2.0)  # A keeps talking meanwhile
            if not c.ask("state", window="*", name="OK")["ok"]:
                break
    c.screenshot("server-lost-2-after-ok")
    log("C showed %d error boxes after the server died, saying %r" % (boxes, sorted(texts)))
    check(not c.ask("state", window="*", name="OK")["ok"],
          "host c: error boxes keep coming while the peer talks on (%d closed so far), so the user cannot reach "
          "'Silent'" % boxes)
    feeder.wait(timeout=30)
    answers(c, "after the server died")
    c.click("Kavelo", "Silent")
    c.wait_caption("Silent")
    for host in (a, b, c):
        host.alive()
    log("after the box C's main window answers and 'Silent' ends the call")
    end_all_by_signal((a, b, c))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kavelo", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    a, b, c = (Host(name, args.work, args.out, args.kavelo) for name in ("a", "b", "c"))
    # B's sound server is a socket that nobody serves.
    b.env["PULSE_SERVER"] = "unix:" + os.path.join(args.work, "b", "no-server", "native")
    return run_scenario("faults", (a, b, c), lambda: scenario(a, b, c, args.work, args.out))


if __name__ == "__main__":
    sys.exit(main())
