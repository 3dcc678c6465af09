"""A real call between Kavelo programs on three namespaced hosts, driven through their windows.

Started by run_two_host_call.sh once every host's sound server, display and buses
run. Host A rings B, B answers by speaking (speech fed into B's virtual microphone
must come out of A's virtual speaker), both exchange a text line, C rings B during
the call and lands in B's missed calls, A sends STOP and B falls back to "Silent".
Exits non-zero with a message naming the failed step.
"""

import argparse
import json
import os
import select
import signal
import struct
import subprocess
import sys
import threading
import time
import wave

import numpy

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON = "/usr/bin/python3"
MAIN_CAPTION = "Kavelo 1.0b PC-PC call"
SPEECH_TEXT = "Hello Alice. This is Bob speaking. The weather is fine, and the call is clear."
MIN_CORRELATION = 0.8
# What a listener may hear as gaps in a steady vowel on a clean link (a busy
# machine can make a sound server run dry now and then).
MAX_SILENCE_SHARE = 0.02
# How much longer a gap in a talker's microphone may come out of GSM 06.10:
# the codec's 20 ms frames smear its edges by up to a frame.
GAP_THROUGH_CODEC_MS = 20
# A record stream of its own on a loaded sound server now and then gets a hole
# of one 5 ms frame that the source never had: B's microphone recording showed
# one in 1 of 6 runs of the PipeWire call beside a busy core, while Kavelo's
# datagrams had none. Kavelo's capture stream may meet the same; a longer hole,
# or more than two, that the microphone did not hear is Kavelo's.
STREAM_HOLE_MS = 5
STREAM_HOLE_FRAMES = 2
# The sender's noise suppression takes a vowel held for seconds for a steady
# noise; as its decision flips it may close for 15-25 ms (in three clean-clone
# runs of four, never locally, near the end of the 8 s vowel). A lost or
# dropped GSM block would leave 40 ms.
SUPPRESSION_HOLE_MS = 30
RATE = 8000


class TestFailure(Exception):
    pass


def log(message):
    print("e2e: " + message, flush=True)


def check(condition, message):
    if not condition:
        raise TestFailure(message)


class Host:
    def __init__(self, name, work, out, kavelo):
        self.name = name
        self.dir = os.path.join(work, name)
        self.out = out
        self.kavelo = kavelo
        self.vars = {}
        with open(os.path.join(self.dir, "env")) as f:
            for line in f:
                key, _, value = line.strip().partition("=")
                if key:
                    self.vars[key] = value
        self.ns = self.vars["KAVELO_E2E_NS"]
        self.address = self.vars["KAVELO_E2E_ADDRESS"]
        self.env = {
            "PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
            "LANG": "C.UTF-8",
            "DISPLAY": self.vars["DISPLAY"],
            "DBUS_SESSION_BUS_ADDRESS": self.vars["DBUS_SESSION_BUS_ADDRESS"],
            "XDG_RUNTIME_DIR": self.vars["XDG_RUNTIME_DIR"],
            "PULSE_SERVER": self.vars["PULSE_SERVER"],
            "HOME": self.vars["HOME"],
            "XDG_CONFIG_HOME": self.vars["XDG_CONFIG_HOME"],
            "QT_QPA_PLATFORM": "xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "QT_ACCESSIBILITY": "1",
        }
        for key in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if key in os.environ:
                self.env[key] = os.environ[key]
        # An ASan build reports leaks when the program ends (other builds ignore this).
        asan = [o for o in self.env.get("ASAN_OPTIONS", "").split(":") if o and not o.startswith("detect_leaks")]
        self.env["ASAN_OPTIONS"] = ":".join(asan + ["detect_leaks=1"])
        self.env["LSAN_OPTIONS"] = "suppressions=%s:print_suppressions=0" % os.path.join(HERE, "lsan.supp")
        self.program = None
        self.agent = None
        self.main_window = None

    # --- processes --------------------------------------------------------------
    def ns_command(self, *args):
        return ["ip", "netns", "exec", self.ns, *args]

    def run(self, *args, timeout=20):
        done = subprocess.run(self.ns_command(*args), env=self.env, capture_output=True, text=True, timeout=timeout)
        return done

    def start(self):
        self.program_log = open(os.path.join(self.dir, "kavelo.log"), "w")
        self.program = subprocess.Popen(self.ns_command(self.kavelo), env=self.env, cwd=self.vars["PROGRAM_FOLDER"],
                                        stdout=self.program_log, stderr=subprocess.STDOUT)
        self.agent_log = open(os.path.join(self.dir, "agent.log"), "w")
        self.agent = subprocess.Popen(self.ns_command(PYTHON, os.path.join(HERE, "host_agent.py")), env=self.env,
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.agent_log, text=True)

    def end_by_signal(self):
        """SIGTERM (as at log-out): the program must close as its user would and report no leak."""
        self.program.send_signal(signal.SIGTERM)
        try:
            code = self.program.wait(timeout=60)
        except subprocess.TimeoutExpired:
            raise TestFailure("host %s: Kavelo did not end within 60 s of SIGTERM" % self.name)
        self.program_log.flush()
        with open(os.path.join(self.dir, "kavelo.log"), errors="replace") as f:
            output = f.read()
        check("LeakSanitizer" not in output and "ERROR: AddressSanitizer" not in output,
              "host %s: the sanitizer reported at exit; see its kavelo.log:\n%s" % (self.name, output[-3000:]))
        check(code == 0, "host %s: Kavelo ended with code %s after SIGTERM; see its kavelo.log" % (self.name, code))
        check(os.path.exists(os.path.join(self.vars["PROGRAM_FOLDER"], "app.txt")),
              "host %s: closing on SIGTERM did not keep the chat settings (no app.txt)" % self.name)

    def alive(self):
        code = self.program.poll()
        check(code is None, "Kavelo on host %s ended unexpectedly (exit code %s); see its kavelo.log" % (self.name, code))

    # --- the accessibility agent ---------------------------------------------------
    def ask(self, op, **args):
        request = dict(op=op, **args)
        self.agent.stdin.write(json.dumps(request) + "\n")
        self.agent.stdin.flush()
        ready, _, _ = select.select([self.agent.stdout], [], [], 40)
        check(ready, "host %s: the accessibility agent does not answer %r" % (self.name, request))
        line = self.agent.stdout.readline()
        check(line, "host %s: the accessibility agent ended" % self.name)
        return json.loads(line)

    def must(self, op, **args):
        answer = self.ask(op, **args)
        check(answer["ok"], "host %s: %s %s failed: %s" % (self.name, op, args, answer.get("error")))
        return answer

    def wait(self, what, probe, timeout=20.0, interval=0.1):
        """Polls probe() until it answers something true; fails naming `what` otherwise."""
        deadline = time.monotonic() + timeout
        last = None
        while time.monotonic() < deadline:
            self.alive()
            last = probe()
            if last:
                return last
            time.sleep(interval)
        self.screenshot("failed-" + what.replace(" ", "-").replace("/", "")[:40])
        raise TestFailure("host %s: timed out waiting for %s (last seen: %r)" % (self.name, what, last))

    def window_names(self):
        answer = self.ask("windows")
        return [w["name"] for w in answer.get("windows", [])] if answer["ok"] else []

    def wait_window(self, name, timeout=20.0):
        self.wait("window %r" % name, lambda: name in self.window_names(), timeout)

    def wait_gone(self, name, timeout=10.0):
        self.wait("window %r to close" % name, lambda: name not in self.window_names(), timeout)

    def text(self, window, name):
        answer = self.ask("text", window=window, name=name)
        return answer.get("text", "") if answer["ok"] else ""

    def wait_text(self, window, name, wanted, timeout=15.0):
        return self.wait("%r in %r of window %r" % (wanted, name, window),
                         lambda: (lambda t: t if wanted in t else None)(self.text(window, name)), timeout)

    def click(self, window, name, editable=False):
        """A left click in the middle of the control, with the pointer, as a person clicks."""
        box = self.must("extents", window=window, name=name, editable=editable)
        check(box["width"] > 0 and box["height"] > 0, "host %s: %r in %r has no size on screen" % (self.name, name, window))
        x, y = box["x"] + box["width"] // 2, box["y"] + box["height"] // 2
        done = self.run("xdotool", "mousemove", "--sync", str(x), str(y), "click", "1")
        check(done.returncode == 0, "host %s: xdotool could not click %r: %s" % (self.name, name, done.stderr))

    def type_text(self, window, name, text, enter=False):
        """Clicks into the text field and types on the keyboard."""
        self.click(window, name, editable=True)
        done = self.run("xdotool", "type", "--delay", "20", text)
        check(done.returncode == 0, "host %s: xdotool could not type: %s" % (self.name, done.stderr))
        if enter:
            self.run("xdotool", "key", "Return")

    def set_text(self, window, name, text):
        self.must("set_text", window=window, name=name, text=text)

    def state(self, window, name):
        return self.must("state", window=window, name=name)

    def main_window_name(self):
        """The main window's name as assistive technology reads it."""
        listed = self.must("windows")["windows"]
        return next((w["caption"] for w in listed if w["name"] == "Kavelo"), None)

    # --- the X display ---------------------------------------------------------
    def find_main_window(self):
        def probe():
            done = self.run("xdotool", "search", "--onlyvisible", "--name", "^%s$" % MAIN_CAPTION.replace(".", "\\."))
            ids = done.stdout.split()
            return ids[0] if ids else None
        self.main_window = self.wait("the main window %r" % MAIN_CAPTION, probe, 30)

    def caption(self):
        return self.run("xdotool", "getwindowname", self.main_window).stdout.strip()

    def wait_caption(self, wanted, timeout=10.0):
        self.wait("caption %r" % wanted, lambda: self.caption() == wanted, timeout, 0.05)

    def move_window(self, title, x, y):
        done = self.run("xdotool", "search", "--onlyvisible", "--name", "^%s$" % title)
        for window_id in done.stdout.split():
            self.run("xdotool", "windowmove", window_id, str(x), str(y))

    def screenshot(self, label):
        path = os.path.join(self.out, "%s-%s.png" % (self.name, label))
        self.run("import", "-window", "root", path)
        return path

    # --- the network and the sound server ------------------------------------------
    def udp_counters(self):
        lines = [line.split() for line in self.run("cat", "/proc/net/snmp").stdout.splitlines() if line.startswith("Udp:")]
        return dict(zip(lines[0][1:], (int(v) for v in lines[1][1:])))

    def pulse(self, *args, **kwargs):
        return subprocess.Popen(list(args), env=self.env, **kwargs)

    def start_sound_server(self):
        """Starts the host's sound server again (after it was killed), as namespaced_hosts.sh started it."""
        started = subprocess.run(
            self.ns_command("env", "HOME=" + self.vars["HOME"], "XDG_RUNTIME_DIR=" + self.vars["XDG_RUNTIME_DIR"],
                            "pulseaudio", "-D", "-n", "--exit-idle-time=-1",
                            "--log-target=file:" + os.path.join(self.dir, "pulse-restarted.log"),
                            "-F", os.path.join(self.dir, "test.pa")),
            capture_output=True, text=True, timeout=30)
        check(started.returncode == 0, "host %s: the sound server did not start again: %s" % (self.name, started.stderr))
        self.wait("the sound server to answer",
                  lambda: subprocess.run(["pactl", "info"], env=self.env, capture_output=True).returncode == 0, 10)

    def sound_server_name(self):
        info = subprocess.run(["pactl", "info"], env=self.env, capture_output=True, text=True).stdout
        return next((line.split(":", 1)[1].strip() for line in info.splitlines() if line.startswith("Server Name:")), "")

    def playback_streams(self):
        """The media names of the playback streams on the host's sound server."""
        listed = subprocess.run(["pactl", "list", "sink-inputs"], env=self.env, capture_output=True, text=True)
        return [line.split("=", 1)[1].strip().strip('"') for line in listed.stdout.splitlines()
                if line.strip().startswith("media.name = ")]

    def sound_server_pid(self):
        """The host's PulseAudio server, from the pid file it writes in the host's runtime folder."""
        with open(os.path.join(self.vars["XDG_RUNTIME_DIR"], "pulse", "pid")) as f:
            return int(f.read().strip())


class CaptionWatch(threading.Thread):
    """Notes every caption a host's main window shows, however briefly, while it runs.

    xprop reports each change of the window's name property as it happens.
    """

    def __init__(self, host):
        super().__init__(daemon=True)
        self.seen = []
        self.spy = subprocess.Popen(host.ns_command("xprop", "-spy", "-id", host.main_window, "_NET_WM_NAME"),
                                    env=host.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

    def run(self):
        for line in self.spy.stdout:
            _, _, value = line.partition(" = ")
            value = value.strip()
            if value.startswith('"') and value.endswith('"'):
                self.seen.append(value[1:-1].replace('\\"', '"'))

    def stop(self):
        self.spy.terminate()
        self.spy.wait(timeout=5)
        self.join(timeout=5)
        return self.seen


class AccessibilityWatch(threading.Thread):
    """Notes what a screen reader is told by a host's Kavelo while it runs: every
    object that comes up and every name that changes, read as they happen
    (atspi_events.py on the host's accessibility bus)."""

    def __init__(self, host):
        super().__init__(daemon=True)
        self.host = host
        self.told = []
        self.spy = subprocess.Popen(host.ns_command(PYTHON, os.path.join(HERE, "atspi_events.py")), env=host.env,
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.start()
        host.wait("the accessibility watch to listen", lambda: self.told, 10)
        # The program learns of a new listener over the bus before it sends to it.
        time.sleep(0.5)

    def run(self):
        for line in self.spy.stdout:
            try:
                self.told.append(json.loads(line))
            except ValueError:
                pass

    def shown(self, role):
        """What came up with this role, as (name, item names), in order."""
        return [(e.get("name"), e.get("items", [])) for e in self.told
                if e.get("event", "").startswith("object:state-changed:showing") and e.get("role") == role]

    def wait_shown(self, role, wanted, timeout=10.0):
        """Waits until an object of `role` whose name holds `wanted` has come up."""
        return self.host.wait("a %s %r told to assistive technology" % (role, wanted),
                              lambda: next((n for n, _ in self.shown(role) if n and wanted in n), None), timeout, 0.05)

    def stop(self):
        self.spy.terminate()
        self.spy.wait(timeout=5)
        self.join(timeout=5)
        return self.told


class SpeakerRecording:
    """Records what a host's virtual speaker plays (or, given another source, what
    that source hears, such as the microphone), as 8 kHz 16-bit mono."""

    def __init__(self, host, label, source="speaker.monitor"):
        self.path = os.path.join(host.out, "%s-%s.wav" % (host.name, label))
        self.raw = self.path + ".raw"
        self.sink = open(self.raw, "wb")
        self.recorder = host.pulse("parecord", "-d", source, "--raw", "--format=s16le",
                                   "--rate=%d" % RATE, "--channels=1", "--latency-msec=50", stdout=self.sink)

    def stop(self):
        self.recorder.terminate()
        self.recorder.wait(timeout=5)
        self.sink.close()
        write_wave(self.path, self.raw)
        os.remove(self.raw)
        samples = read_wave(self.path)
        check(len(samples) >= RATE // 2, "recording %s holds only %d samples" % (self.path, len(samples)))
        return samples


def run_scenario(label, hosts, run, errors=()):
    """Runs `run()`: exit code 0 when it returns, 1 with "LABEL: FAILED: why" when it
    raises a test failure, a timeout, an OSError or one of `errors`. Whatever the
    outcome, every program and agent still running on `hosts` is stopped."""
    started = time.monotonic()
    try:
        run()
    except (TestFailure, subprocess.TimeoutExpired, OSError) + tuple(errors) as error:
        print("%s: FAILED: %s" % (label, error), file=sys.stderr, flush=True)
        return 1
    finally:
        for host in hosts:
            for process in (host.agent, host.program):
                if process is not None and process.poll() is None:
                    process.terminate()
    print("%s: PASSED in %.1f s" % (label, time.monotonic() - started), flush=True)
    return 0


def end_all_by_signal(hosts):
    for host in hosts:
        host.agent.terminate()
        host.end_by_signal()
    log("hosts %s closed on SIGTERM with their settings kept and no sanitizer report"
        % ", ".join(host.name for host in hosts))


def rms(samples):
    return float(numpy.sqrt(numpy.mean(samples ** 2))) if len(samples) else 0.0


# --- sound analysis ---------------------------------------------------------------

def read_wave(path):
    with wave.open(path, "rb") as w:
        check(w.getframerate() == RATE and w.getnchannels() == 1 and w.getsampwidth() == 2,
              "%s is not 8 kHz 16-bit mono" % path)
        return numpy.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(numpy.float64)


def global_lag(reference, recording):
    """The delay at which the reference best matches the recording as a whole."""
    n = len(reference)
    check(len(recording) >= n, "the recording (%d samples) is shorter than the speech (%d)" % (len(recording), n))
    size = 1 << int(numpy.ceil(numpy.log2(len(recording) + n)))
    cross = numpy.fft.irfft(numpy.fft.rfft(recording, size) * numpy.conj(numpy.fft.rfft(reference, size)), size)
    return int(numpy.argmax(cross[: len(recording) - n + 1]))


def normalised_correlation(a, b):
    a, b = a - a.mean(), b - b.mean()
    norm = numpy.linalg.norm(a) * numpy.linalg.norm(b)
    return float(numpy.dot(a, b) / norm) if norm > 0 else 0.0


def sliding_correlation(window, segment):
    """Normalised correlation of `window` against every same-length stretch of `segment`."""
    n = len(window)
    centred = window - window.mean()
    dots = numpy.correlate(segment, centred, "valid")
    sums = numpy.concatenate([[0.0], numpy.cumsum(segment)])
    squares = numpy.concatenate([[0.0], numpy.cumsum(segment * segment)])
    s, s2 = sums[n:] - sums[:-n], squares[n:] - squares[:-n]
    spread = numpy.sqrt(numpy.maximum(s2 - s * s / n, 1e-9)) * max(numpy.linalg.norm(centred), 1e-9)
    return dots / spread


def block_aligned_correlation(reference, recording, window=960, hop=240, piece=160, reach=0.4):
    """Correlation of the reference with the recording aligned piece by piece.

    The receiver plays each voice datagram as it comes: 240 ms of sound per 250 ms
    of capture (the last 80 samples of a buffer fill no GSM block), with a short
    pause whenever playback runs dry. The delay therefore moves at datagram
    boundaries, and one delay for the whole speech does not fit. Each stretch of
    half a datagram's length gets its own delay (within `reach` seconds of the
    overall one); every 20 ms piece of the reference then takes the best of the
    delays found for the stretches that cover it, and the pieces so aligned are
    correlated with the reference as one signal.
    """
    n = len(reference)
    overall = global_lag(reference, recording)
    reach = int(reach * RATE)
    quiet = 0.2 * numpy.sqrt(numpy.mean(reference ** 2))
    delays = {}
    for start in range(0, n - window + 1, hop):
        stretch = reference[start: start + window]
        if numpy.sqrt(numpy.mean(stretch ** 2)) < quiet:
            continue
        low = max(0, start + overall - reach)
        high = min(len(recording), start + overall + reach + window)
        delays[start] = low + int(numpy.argmax(sliding_correlation(stretch, recording[low:high]))) - start
    aligned = numpy.zeros(n)
    for start in range(0, n, piece):
        end = min(n, start + piece)
        candidates = {overall} | {d for s, d in delays.items() if s <= start < s + window}
        candidates = [d for d in candidates if start + d >= 0 and end + d <= len(recording)]
        if candidates:
            best = max(candidates, key=lambda d: numpy.dot(reference[start:end], recording[start + d: end + d]))
            aligned[start:end] = recording[start + best: end + best]
    return (normalised_correlation(reference, aligned),
            normalised_correlation(reference, recording[overall: overall + n]), overall,
            sorted(delays.values()))


def make_speech(out):
    raw = os.path.join(out, "speech-espeak.wav")
    speech = os.path.join(out, "speech.wav")
    subprocess.run(["espeak-ng", "-s", "150", "-w", raw, SPEECH_TEXT], check=True, capture_output=True)
    subprocess.run(["sox", raw, "-r", str(RATE), "-c", "1", "-b", "16", speech, "norm", "-3"], check=True,
                   capture_output=True)
    return speech


def write_wave(path, raw_path):
    with open(raw_path, "rb") as f:
        frames = f.read()
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(frames)


def steady_voice(seconds):
    """A sustained vowel: harmonics of 150 Hz at about -12 dBFS, as 16-bit samples."""
    n = numpy.arange(int(seconds * RATE))
    value = sum(numpy.sin(2 * numpy.pi * 150.0 * h * n / RATE) / h for h in range(1, 6))
    return (value * 6000).astype(numpy.int16)


def write_samples(path, samples):
    """16-bit samples as a WAV file (for paplay) and as raw little-endian next to it (for the voice peer)."""
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(samples.astype("<i2").tobytes())
    with open(path + ".raw", "wb") as f:
        f.write(samples.astype("<i2").tobytes())
    return path


def silence_share(samples, frame=40):
    """What a listener hears as gaps: 5 ms frames inside the sounding span that lie
    below a tenth of the span's median level. The span runs from the first to the
    last frame at a tenth of the typical level or more (the frames above a tenth of
    the loudest), so that a codec's fading tail is not counted as a gap; a tenth,
    not a half, since the sender's noise suppression takes a vowel held for
    seconds for a steady noise and lowers it by up to 14 dB after about 3 s.
    Quiet frames in the span's last 100 ms end it.
    Returns (share, longest gap in ms, span in s)."""
    count = len(samples) // frame
    if count == 0:
        return 1.0, 0.0, 0.0
    levels = numpy.sqrt(numpy.mean(samples[:count * frame].astype(float).reshape(count, frame) ** 2, axis=1))
    if levels.max() == 0:
        return 1.0, 0.0, 0.0
    typical = numpy.median(levels[levels > 0.1 * levels.max()])
    loud = numpy.nonzero(levels >= 0.1 * typical)[0]
    span = levels[loud[0]:loud[-1] + 1]
    quiet = span < 0.1 * numpy.median(span)
    # The sender's noise suppression may let a sound's end flicker (a dip of
    # 35 ms and a last 25 ms after it): quiet frames within the span's last
    # 100 ms end the sound there, they are no gap in it.
    end_quiet = numpy.nonzero(quiet[-20:])[0]
    if len(end_quiet) and len(span) > 20:
        cut = len(span) - 20 + end_quiet[0]
        span, quiet = span[:cut], quiet[:cut]
    longest = run = 0
    for q in quiet:
        run = run + 1 if q else 0
        longest = max(longest, run)
    return float(quiet.mean()), longest * frame * 1000.0 / RATE, len(span) * frame / RATE


class VoiceCapture:
    """The datagrams that reach a host's receiving port, taken off its network interface."""

    def __init__(self, host, label):
        self.host = host
        self.path = os.path.join(host.out, "%s-%s.datagrams" % (host.name, label))
        self.sniffer = subprocess.Popen(host.ns_command(PYTHON, os.path.join(HERE, "capture_voice.py"),
                                                        host.address, "5552", self.path),
                                        stdout=subprocess.PIPE, text=True)
        check(self.sniffer.stdout.readline().strip() == "ready", "host %s: the datagram capture did not start" % host.name)

    def so_far(self):
        """The payloads captured until now (a record still being written is left out)."""
        payloads = []
        with open(self.path, "rb") as f:
            data = f.read()
        at = 0
        while at + 2 <= len(data):
            size = int.from_bytes(data[at:at + 2], "big")
            if at + 2 + size > len(data):
                break
            payloads.append(data[at + 2:at + 2 + size])
            at += 2 + size
        return payloads

    def stop(self):
        self.sniffer.terminate()
        self.sniffer.wait(timeout=5)
        return self.so_far()


def decode_gsm_ms(payloads, path):
    """Decodes voice payloads with ffmpeg's own GSM 06.10 decoder (not libgsm):
    the datagrams one after the other in a WAV file of 65-byte blocks."""
    blocks = b"".join(payloads)
    fmt = struct.pack("<HHIIHHHH", 0x31, 1, RATE, 1625, 65, 0, 2, 320)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(blocks)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt)
        f.write(b"data" + struct.pack("<I", len(blocks)) + blocks)
    decoded = subprocess.run(["ffmpeg", "-v", "error", "-c:a", "gsm_ms", "-i", path, "-f", "s16le", "-ar", str(RATE),
                              "-ac", "1", "-"], check=True, capture_output=True).stdout
    return numpy.frombuffer(decoded, dtype="<i2").astype(float)


# --- the scenario -----------------------------------------------------------------

def scenario(a, b, c, out):
    for host in (a, b, c):
        host.start()
    for host in (a, b, c):
        host.wait_window("Kavelo", 40)
        host.find_main_window()
        check(host.caption() == MAIN_CAPTION, "host %s: caption %r at start" % (host.name, host.caption()))
        host.run("xdotool", "windowmove", host.main_window, "20", "20")
    log("three programs are up, each with its sound server: %s" % a.sound_server_name())
    heard_by_b = AccessibilityWatch(b)

    # 1. A rings B; B's alert names A as B's contact list has it, and B's speaker rings.
    a.type_text("Kavelo", "Remote IP:", b.address)
    check(a.text("Kavelo", "Remote IP:") == b.address, "host a: typing the address gave %r" % a.text("Kavelo", "Remote IP:"))
    ring = SpeakerRecording(b, "ring")
    time.sleep(0.5)
    a.click("Kavelo", "Send RING")
    a.wait_caption("Sending ring")
    b.wait_window("RING")
    b.move_window("RING", 330, 20)
    check(b.ask("state", window="RING", name="Recieving RING signal from ")["ok"],
          "host b: the ring alert has no 'Recieving RING signal from ' label: %r" % b.ask("names", window="RING"))
    b.wait("the ring alert naming Alice", lambda: b.ask("state", window="RING", name="Alice")["ok"], 5)
    heard_by_b.wait_shown("alert", "RING")
    alert_items = next(items for name, items in heard_by_b.shown("alert") if name == "RING")
    check("Alice" in alert_items, "host b: the ring alert came up to assistive technology without the caller: %r"
          % alert_items)
    check(b.text("Kavelo", "Remote IP:") == a.address,
          "host b: the address field shows %r, not the caller %s" % (b.text("Kavelo", "Remote IP:"), a.address))
    b.screenshot("1-ring-alert")
    time.sleep(1.0)
    ring_level = rms(ring.stop())
    log("B's ring alert names the caller 'Alice'; B's speaker rings at RMS %.0f" % ring_level)
    check(ring_level > 300, "host b: no ring sound on B's speaker (RMS %.0f)" % ring_level)
    b.click("RING", "OK")
    b.wait_gone("RING")
    # The ring stops with its alert and leaves no stream behind.
    b.wait("the ring's stream to close", lambda: "Kavelo ring" not in b.playback_streams(), 5)

    # 2. B speaks: speech fed into B's microphone comes out of A's speaker.
    speech = make_speech(out)
    b.click("Kavelo", "Speak")
    b.wait_caption("Speaking 1625 B/s")
    check(b.state("Kavelo", "Speak")["checked"], "host b: 'Speak' is not down while speaking")
    b.wait("the main window's accessible name to follow the caption",
           lambda: b.main_window_name() == "Speaking 1625 B/s", 5)
    heard_speech = SpeakerRecording(a, "speaker")
    time.sleep(1.0)
    sent_before, heard_before = b.udp_counters(), a.udp_counters()
    feeder = b.pulse("paplay", "-d", "micfeed", speech)
    check(feeder.wait(timeout=30) == 0, "host b: paplay could not feed the microphone")
    # The last quarter second still has to be captured, sent and played.
    time.sleep(1.5)
    sent_after, heard_after = b.udp_counters(), a.udp_counters()
    reference, heard = read_wave(speech), heard_speech.stop()
    correlation, whole, lag, delays = block_aligned_correlation(reference, heard)
    sent = sent_after["OutDatagrams"] - sent_before["OutDatagrams"]
    received = heard_after["InDatagrams"] - heard_before["InDatagrams"]
    log("speech %.2f s; B sent %d datagrams, A received %d; A's speaker: %.2f s recorded, RMS %.0f; "
        "correlation %.3f aligned per datagram (found %.3f-%.3f s into the recording), %.3f with one offset (%.3f s)"
        % (len(reference) / RATE, sent, received, len(heard) / RATE, numpy.sqrt(numpy.mean(heard ** 2)),
           correlation, min(delays, default=lag) / RATE, max(delays, default=lag) / RATE, whole, lag / RATE))
    check(sent >= 4 * len(reference) / RATE, "host b sent only %d voice datagrams" % sent)
    check(received >= sent - 1, "host a received %d of %d voice datagrams" % (received, sent))
    check(correlation >= MIN_CORRELATION,
          "A's speaker does not play B's speech: correlation %.3f < %.1f" % (correlation, MIN_CORRELATION))

    # 2b. A sustained vowel into B's microphone: A's speaker plays it without gaps,
    # and B's datagrams, taken off A's network interface, decode in ffmpeg's own
    # GSM 06.10 decoder into the same sound, also without gaps.
    vowel = write_samples(os.path.join(out, "vowel.wav"), steady_voice(8))
    heard_vowel = SpeakerRecording(a, "vowel")
    # What B's microphone itself heard, beside what B sent: a hole in the feed
    # (a sound server late under load) is the rig's, a hole only in what was
    # sent is Kavelo's.
    fed_vowel = SpeakerRecording(b, "vowel-microphone", source="mic")
    capture = VoiceCapture(a, "vowel")
    time.sleep(1.0)
    feeder = b.pulse("paplay", "-d", "micfeed", vowel)
    check(feeder.wait(timeout=30) == 0, "host b: paplay could not feed the microphone")
    time.sleep(1.5)
    payloads = capture.stop()
    fed_share, fed_longest, fed_span = silence_share(fed_vowel.stop())
    share, longest, span = silence_share(heard_vowel.stop())
    decoded = decode_gsm_ms(payloads, os.path.join(out, "b-datagrams-gsm_ms.wav"))
    decoded_share, decoded_longest, decoded_span = silence_share(decoded)
    sizes = sorted(set(len(p) for p in payloads))
    log("vowel %.1f s: A's speaker sounded %.2f s with %.2f %% silence (longest gap %.0f ms); "
        "%d datagrams of %r bytes decoded by ffmpeg gsm_ms: %.2f s sounding, %.2f %% silence, RMS %.0f against %.0f fed"
        % (8, span, 100 * share, longest, len(payloads), sizes, decoded_span, 100 * decoded_share,
           rms(decoded[decoded != 0]), rms(steady_voice(8).astype(float))))
    log("B's microphone heard the vowel for %.2f s with %.2f %% silence (longest gap %.0f ms)"
        % (fed_span, 100 * fed_share, fed_longest))
    check(share <= MAX_SILENCE_SHARE, "A's speaker: %.2f %% of the vowel is silence (longest gap %.0f ms)"
          % (100 * share, longest))
    check(span >= 7.5, "A's speaker played only %.2f s of the 8 s vowel" % span)
    check(sizes == [65], "B's voice datagrams are not all one 65-byte GSM block: %r" % sizes)
    check(decoded_span >= 7.5, "ffmpeg decodes only %.2f s of B's datagrams" % decoded_span)
    # Every hole in what B sent must be one its microphone heard: a gap in the
    # feed may come out a frame or two longer through the codec, nothing more.
    heard_by_microphone = fed_share > 0 and decoded_longest <= fed_longest + GAP_THROUGH_CODEC_MS
    quiet_frames = round(decoded_share * decoded_span * RATE / 40)
    stream_hole = decoded_longest <= STREAM_HOLE_MS and quiet_frames <= STREAM_HOLE_FRAMES
    suppression_hole = decoded_longest <= SUPPRESSION_HOLE_MS and quiet_frames * 5 <= SUPPRESSION_HOLE_MS
    check(decoded_share == 0 or heard_by_microphone or stream_hole or suppression_hole,
          "ffmpeg decodes B's datagrams with gaps its microphone did not hear: %.2f s sounding, %.2f %% silence "
          "(longest gap %.0f ms); the microphone: %.2f %% silence (longest gap %.0f ms)"
          % (decoded_span, 100 * decoded_share, decoded_longest, 100 * fed_share, fed_longest))

    # 3. A text line each way, through the messages windows.
    a_line, b_line = "Hello Bob, do you read me?", "Loud and clear, Alice <b>1</b>"
    a.click("Kavelo", "Messages")
    a.wait_window("Messages")
    a.move_window("Messages", 330, 20)
    a.type_text("Messages", "Text", a_line)
    a.wait("'Send' enabled", lambda: a.state("Messages", "Send")["enabled"], 5)
    a.click("Messages", "Send")
    a.wait_text("Messages", "Conversation", "You (")
    b.wait_window("Messages")
    b.move_window("Messages", 330, 20)
    b_pane = b.wait_text("Messages", "Conversation", a_line)
    check("Alice (" in b_pane, "host b: A's line is not shown under A's contact name: %r" % b_pane)
    told = heard_by_b.wait_shown("notification", a_line)
    check(told.startswith("Alice ("), "host b: A's line was told to assistive technology without its sender: %r" % told)
    # B sends with the Enter key.
    b.type_text("Messages", "Text", b_line, enter=True)
    a_pane = a.wait_text("Messages", "Conversation", b_line)
    check("Bob (" in a_pane, "host a: B's line is not shown under B's contact name: %r" % a_pane)
    for host in (a, b):
        check(host.text("Messages", "Text") == "", "host %s: the input line still holds text after sending" % host.name)
    a.screenshot("3-messages")
    b.screenshot("3-messages")
    log("text lines exchanged: A shows %r, B shows %r" % (a_pane, b.text("Messages", "Conversation")))

    # 4. C rings B during the call: listed as missed, the call goes on.
    c.type_text("Kavelo", "Remote IP:", b.address)
    # The third party's caption lasts until B's next captured quarter second.
    watch = CaptionWatch(b)
    watch.start()
    quiet = SpeakerRecording(b, "third-party-ring")
    b.wait("the caption watch to start", lambda: watch.seen, 5)
    c.click("Kavelo", "Send RING")
    c.wait_caption("Sending ring")
    b.wait("the caption 'Carol tries to connect'", lambda: "Carol tries to connect" in watch.seen, 5, 0.02)
    b.wait("the caption back at speaking", lambda: watch.seen[-1] == "Speaking 1625 B/s", 5, 0.02)
    # Too short a caption for a screen reader to read, so told on its own.
    heard_by_b.wait_shown("notification", "Carol tries to connect")
    captions = watch.stop()
    time.sleep(0.5)
    third_party_level = rms(quiet.stop())
    log("B's captions around C's ring: %r; B's speaker meanwhile at RMS %.0f" % (captions, third_party_level))
    check(third_party_level < 100, "host b: a sound played when a third party rang (RMS %.0f)" % third_party_level)
    check("RING" not in b.window_names(), "host b: a third party's ring brought up the ring alert during the call")
    check(b.state("Kavelo", "Speak")["checked"], "host b: the call ended when a third party rang")
    check(b.text("Kavelo", "Remote IP:") == a.address, "host b: a third party's ring changed the address field")
    check("Missed calls" not in b.window_names(), "host b: the missed calls came up while the call goes on")

    # 5. A sends STOP: B shows the stop notice, falls back to "Silent" and lists the missed call.
    stop_text = "You recieved STOP signal from Alice maybe you should call him/her later."
    a.wait("'Send STOP' enabled", lambda: a.state("Kavelo", "Send STOP")["enabled"], 5)
    a.click("Kavelo", "Send STOP")
    a.wait_caption("Sending STOP")
    b.wait("the stop notice", lambda: b.ask("state", window="*", name=stop_text)["ok"], 10)
    b.wait_caption("Silent")
    check(b.state("Kavelo", "Silent")["checked"], "host b: 'Silent' is not down after the stop signal")
    check(b.main_window_name() == "Silent", "host b: the main window reads %r to assistive technology after 'Silent'"
          % b.main_window_name())
    told = heard_by_b.stop()
    check("Messages" in [name for name, _ in heard_by_b.shown("frame")],
          "host b: the messages window did not come up to assistive technology as a window")
    log("B told assistive technology: %r" % [(e.get("role"), e.get("name")) for e in told
                                            if e.get("event", "").startswith("object:state-changed:showing")])
    check(not b.state("Kavelo", "Speak")["checked"], "host b: 'Speak' is still down after the stop signal")
    check(b.text("Kavelo", "Remote IP:") == "", "host b: the address field is not emptied by the stop signal")
    b.wait_window("Missed calls", 5)
    b.move_window("Missed calls", 20, 230)
    names = b.must("names", window="Missed calls")["names"]
    check("Carol" in names, "host b: the missed calls list does not list Carol: %r" % names)
    check("Alice" not in names, "host b: the caller of the call is listed as missed: %r" % names)
    check("Name (IP addr.)" in names and "Timestamp" in names, "host b: missed calls columns: %r" % names)
    b.screenshot("5-stop-notice-missed-calls")
    log("B shows the stop notice, is 'Silent' and lists the missed call: %r" % names)
    b.click("*", "OK")
    b.wait("the stop notice to close", lambda: not b.ask("state", window="*", name=stop_text)["ok"], 10)
    for host in (a, b, c):
        host.alive()
        counters = host.udp_counters()
        log("host %s (%s): %d UDP datagrams sent, %d received over the whole run"
            % (host.name, host.address, counters["OutDatagrams"], counters["InDatagrams"]))

    # 6. Log-out: each program closes on SIGTERM, keeps its settings and leaks nothing.
    end_all_by_signal((a, b, c))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kavelo", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--hosts", nargs=3, required=True)
    args = parser.parse_args()
    a, b, c = (Host(name, args.work, args.out, args.kavelo) for name in args.hosts)
    return run_scenario("e2e", (a, b, c), lambda: scenario(a, b, c, args.out))


if __name__ == "__main__":
    sys.exit(main())
