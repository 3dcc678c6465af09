"""The sound server missing at start and lost in a call, seen through the windows.

Started by faults_audio_server.sh. Host B runs without any sound server; hosts
A and C have one each.
1. B presses "Speak": an error box says the recording device does not exist,
   the main window keeps answering, "Silent" brings it back, and a text line
   from A still arrives and is shown.
2. A and C talk; C's sound server is killed. C tells its user in an error box
   (the peer's voice can no longer be played) and keeps answering.
3. C's sound server starts again while A talks on: A's voice plays at C again
   without anything done at C.
4. C's sound server hangs (SIGSTOP) while A's voice arrives and C has to open
   its playback: C's event loop keeps turning (measured with window-manager
   pings), and once the server answers again "Silent" ends the call. Kavelo
   runs on everywhere.
5. A's microphone is suspended for two seconds while A speaks: A sends nothing
   its microphone did not hear (no piece again, no memory never written), tells
   its user once, and talks on by itself once the microphone is back.
"""

import argparse
import json
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from two_host_call import (PYTHON, Host, SpeakerRecording, VoiceCapture, check, end_all_by_signal, log,  # noqa: E402
                           make_speech, rms, run_scenario, steady_voice, write_samples)

NO_DEVICE_IN = "WaveIn-Open The specified resource does not exist."
NO_DEVICE_OUT = "WaveOut-Write The specified resource does not exist."


def box_with(host, text, timeout=15.0):
    """Waits for a visible box whose text is `text`; answers the time it took."""
    started = time.monotonic()
    host.wait("the box %r" % text, lambda: host.ask("state", window="*", name=text)["ok"], timeout)
    return time.monotonic() - started


def box_texts(host):
    """What the boxes up on the host say, whatever they say."""
    answer = host.ask("boxes")
    return {n for box in answer.get("boxes", []) for n in box if n != "OK"} if answer["ok"] else set()


def close_boxes(host, texts, seconds):
    """Answers error boxes as a user reading them would, for at most `seconds`;
    answers how many times a box was answered. Every text seen is added to `texts`."""
    deadline, boxes = time.monotonic() + seconds, 0
    while time.monotonic() < deadline:
        texts |= box_texts(host)
        pressed = host.ask("answer_boxes", name="OK").get("pressed", 0)
        if pressed:
            boxes += pressed
            time.sleep(0.3)  # a box that has been answered takes a moment to go
        else:
            time.sleep(2.0)  # the peer keeps talking meanwhile
            if not host.ask("state", window="*", name="OK")["ok"]:
                break
    return boxes


def ping_event_loop(host, seconds):
    """Starts pinging the host's main window for `seconds` (event_loop_ping.py)."""
    return subprocess.Popen(host.ns_command(PYTHON, os.path.join(HERE, "event_loop_ping.py"), host.main_window,
                                            str(seconds)),
                            env=host.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


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
    texts = set()
    boxes = close_boxes(c, texts, 20)
    c.screenshot("server-lost-2-after-ok")
    log("C's error boxes after the server died were answered %d times; they said %r" % (boxes, sorted(texts)))
    check(not c.ask("state", window="*", name="OK")["ok"],
          "host c: error boxes keep coming while the peer talks on (answered %d times, saying %r), so the user "
          "cannot reach 'Silent'" % (boxes, sorted(texts)))
    feeder.wait(timeout=30)
    answers(c, "after the server died")

    # 3. The server is back: A's next voice plays at C, with nothing done at C.
    c.start_sound_server()
    feeder = a.pulse("paplay", "-d", "micfeed", speech)
    c.wait("C's playback on the new server", lambda: "Kavelo call" in c.playback_streams(), 15)
    heard = SpeakerRecording(c, "server-back")
    time.sleep(2.5)
    level = rms(heard.stop())
    feeder.wait(timeout=30)
    log("C's sound server started again: C plays A's voice again (level %.0f at C's speaker)" % level)
    check(level > 300, "host c: after its sound server came back, C's speaker stays quiet (level %.0f)" % level)
    close_boxes(c, texts, 10)

    # 4. The server hangs while C has to open its playback for A's voice.
    c.click("Kavelo", "Silent")
    c.wait_caption("Silent")
    server = c.sound_server_pid()
    os.kill(server, signal.SIGSTOP)
    try:
        pinger = ping_event_loop(c, 8)
        feeder = a.pulse("paplay", "-d", "micfeed", speech)
        output, errors = pinger.communicate(timeout=60)
    finally:
        os.kill(server, signal.SIGCONT)
    check(pinger.returncode == 0, "host c: the event-loop pinger failed: %s" % errors)
    figures = json.loads(output)
    log("C's sound server hung for 8 s while A's voice arrived: %d pings, longest answer %.1f ms, median %.1f ms"
        % (figures["pings"], figures["max_ms"], figures["median_ms"]))
    check(figures["max_ms"] < 1000,
          "host c: with a hung sound server the window did not answer for %.0f ms" % figures["max_ms"])
    c.alive()
    feeder.wait(timeout=30)
    c.screenshot("server-hung-1")
    close_boxes(c, texts, 20)
    c.click("Kavelo", "Silent")
    c.wait_caption("Silent")
    for host in (a, b, c):
        host.alive()
    log("after the hung server answers again C's main window answers and 'Silent' ends the call")

    # 5. A's microphone is suspended for two seconds while A speaks to C.
    a.wait_caption("Speaking 1625 B/s")
    vowel = write_samples(os.path.join(out, "vowel-suspended.wav"), steady_voice(10))
    capture = VoiceCapture(c, "microphone-suspended")
    feeder = a.pulse("paplay", "-d", "micfeed", vowel)
    time.sleep(3.0)
    before = len(capture.so_far())
    check(a.pulse("pactl", "suspend-source", "mic", "1").wait(timeout=10) == 0, "host a: pactl cannot suspend the mic")
    time.sleep(2.0)
    during = len(capture.so_far()) - before
    check(a.pulse("pactl", "suspend-source", "mic", "0").wait(timeout=10) == 0, "host a: pactl cannot resume the mic")
    time.sleep(4.0)
    payloads = capture.stop()
    after = len(payloads) - before - during
    feeder.wait(timeout=30)
    a_texts = set()
    a_boxes = close_boxes(a, a_texts, 10)
    log("A's microphone suspended for 2 s: %d datagrams before (3 s), %d while suspended, %d in the 4 s after; "
        "A's boxes answered %d times, saying %r" % (before, during, after, a_boxes, sorted(a_texts)))
    # A buffer on its way and the part-filled one the lost microphone handed back
    # may still go; nine more would be the queue sent again.
    check(during <= 2, "host a: %d voice datagrams went out while its microphone was suspended" % during)
    check(after >= 8, "host a: only %d voice datagrams in the 4 s after its microphone came back" % after)
    check(a_boxes <= 1, "host a: the lost microphone was told %d times: %r" % (a_boxes, sorted(a_texts)))
    check(a.caption() == "Speaking 1625 B/s", "host a: caption %r after the microphone came back" % a.caption())
    for host in (a, b, c):
        host.alive()
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
