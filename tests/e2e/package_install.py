"""Kavelo installed from its package, started as the menu and the autostart entry start it.

Started by package_install.sh once host A's servers run and the package is built.
Installs the package with apt-get, starts the menu entry's command in A's home (a
scratch folder, with XDG_DATA_HOME and XDG_CONFIG_HOME of its own), adds peer C to
the contact list and lets C ring: the alert names C and the installed ring sound
plays. Ticks the autostart box and closes on SIGTERM; the user's files are in
$XDG_DATA_HOME/kavelo, with a link "kavelo" to the installed program that the
autostart entry starts (its ring alert again names C). Removing the package leaves
the user's files as they were.
"""

import argparse
import os
import shlex
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from two_host_call import PYTHON, Host, check, log, run_scenario  # noqa: E402

DESKTOP_ENTRY = "/usr/share/applications/kavelo.desktop"
AUTOSTART_BOX = "Start Kavelo every time I start Windows"
RING = b"ring".ljust(390, b"\0")
# C's side of the wire: one datagram from port 5551 to Kavelo's port 5552.
SEND = """
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("", 5551))
s.sendto(bytes.fromhex(sys.argv[1]), (sys.argv[2], 5552))
"""


def apt_get(*args):
    done = subprocess.run(["apt-get", "-y", "-q", "-o", "DPkg::Lock::Timeout=120", *args],
                          capture_output=True, text=True, timeout=240,
                          env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
    check(done.returncode == 0, "apt-get %s failed:\n%s%s" % (" ".join(args), done.stdout[-2000:], done.stderr[-2000:]))


def exec_line(entry_path):
    """The command of a desktop entry's Exec= key, field codes dropped, as a launcher runs it."""
    with open(entry_path) as f:
        lines = [line.rstrip("\n") for line in f]
    check("[Desktop Entry]" in lines, "%s has no [Desktop Entry] group" % entry_path)
    values = dict(line.split("=", 1) for line in lines if "=" in line and not line.startswith("#"))
    check("Exec" in values, "%s has no Exec= line" % entry_path)
    words = [w.replace("%%", "%") for w in shlex.split(values["Exec"]) if not (len(w) == 2 and w[0] == "%")]
    return words, values


class InstalledHost(Host):
    """A host whose Kavelo runs as the installed program, from whatever folder a launcher uses."""

    def __init__(self, name, work, out):
        super().__init__(name, work, out, kavelo=None)
        self.env["XDG_DATA_HOME"] = os.path.join(self.dir, "data")
        self.folder = os.path.join(self.dir, "data", "kavelo")
        # Host.end_by_signal looks for app.txt here.
        self.vars["PROGRAM_FOLDER"] = self.folder

    def start_command(self, command, cwd):
        self.program_log = open(os.path.join(self.dir, "kavelo.log"), "a")
        self.program = subprocess.Popen(self.ns_command(*command), env=self.env, cwd=cwd,
                                        stdout=self.program_log, stderr=subprocess.STDOUT)
        self.agent_log = open(os.path.join(self.dir, "agent.log"), "a")
        self.agent = subprocess.Popen(self.ns_command(PYTHON, os.path.join(HERE, "host_agent.py")), env=self.env,
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.agent_log, text=True)
        self.main_window = None

    def user_files(self):
        """Every entry of the program folder: its bytes, or where a link leads."""
        found = {}
        for name in sorted(os.listdir(self.folder)):
            path = os.path.join(self.folder, name)
            if os.path.islink(path):
                found[name] = "-> " + os.readlink(path)
            else:
                with open(path, "rb") as f:
                    found[name] = f.read()
        return found


def ring_from(peer_ns, a):
    done = subprocess.run(["ip", "netns", "exec", peer_ns, PYTHON, "-c", SEND, RING.hex(), a.address],
                          capture_output=True, text=True, timeout=20)
    check(done.returncode == 0, "peer C could not send its ring: %s" % done.stderr)


def rung_with_the_installed_sound(a, peer_ns, label):
    """C rings: the alert names C from the contact list, and the ring sound plays."""
    ring_from(peer_ns, a)
    a.wait_window("RING", 15)
    names = a.must("names", window="RING")["names"]
    check("Carol" in names, "the ring alert does not name Carol from the contact list: %r" % names)
    a.wait("the ring sound to play", lambda: "Kavelo ring" in a.playback_streams(), 10)
    # A ring sound that cannot be played is told in a box of its own.
    boxes = [box for box in a.must("boxes")["boxes"] if "Carol" not in box]
    check(not boxes, "boxes came up with the ring: %r" % boxes)
    time.sleep(0.5)
    a.screenshot(label)
    a.click("RING", "OK")
    a.wait_gone("RING")


def scenario(a, deb, peer_ns, peer):
    apt_get("install", deb)
    check(os.access("/usr/bin/kavelo", os.X_OK), "the package installed no /usr/bin/kavelo")
    manual = subprocess.run(["man", "-w", "kavelo"], capture_output=True, text=True)
    check(manual.stdout.strip() == "/usr/share/man/man1/kavelo.1.gz", "man kavelo finds %r" % manual.stdout)
    command, entry = exec_line(DESKTOP_ENTRY)
    check("Path" not in entry, "the menu entry starts Kavelo in a fixed folder: Path=%s" % entry.get("Path"))
    log("installed %s; the menu entry runs %r" % (os.path.basename(deb), command))

    # A launcher starts programs in the user's home.
    home = a.env["HOME"]
    a.start_command(command, cwd=home)
    a.wait_window("Kavelo", 40)
    a.find_main_window()
    check(os.path.isdir(a.folder), "the installed program made no folder %s" % a.folder)
    a.screenshot("package-1-started")

    a.click("Kavelo", "Contact list")
    a.wait_window("Contact list", 10)
    a.type_text("Contact list", "Contact name:", "Carol")
    a.type_text("Contact list", "IP address:", peer)
    a.click("Contact list", "Add / Modify")
    a.click("Contact list", "Carol")
    a.click("Contact list", "Use this IP address (call him/her)")
    a.wait_gone("Contact list")
    check(a.text("Kavelo", "Remote IP:") == peer, "the contact's address did not reach the address field")
    log("Carol (%s) is in the contact list" % peer)

    rung_with_the_installed_sound(a, peer_ns, "package-2-ring")
    log("C's ring came up naming Carol, with the installed ring sound")

    a.click("Kavelo", AUTOSTART_BOX)
    a.wait("the autostart box to be ticked", lambda: a.state("Kavelo", AUTOSTART_BOX)["checked"], 5)
    a.agent.terminate()
    a.end_by_signal()

    files = a.user_files()
    check(set(files) == {"contacts.vip", "app.txt", "kavelo"},
          "the program folder %s holds %r, not contacts.vip, app.txt and the link kavelo" % (a.folder, sorted(files)))
    check(files["contacts.vip"] == b"Carol|%s\r\n" % peer.encode(), "contacts.vip holds %r" % files["contacts.vip"])
    check(files["kavelo"] == "-> /usr/bin/kavelo", "the program folder's kavelo is %r" % files["kavelo"])
    stray = [n for n in ("contacts.vip", "app.txt", "Phone.wav") if os.path.exists(os.path.join(home, n))]
    check(not stray, "files landed in the folder Kavelo was started in: %r" % stray)
    autostart_entry = os.path.join(a.env["XDG_CONFIG_HOME"], "autostart", "Kavelo.desktop")
    autostart, _ = exec_line(autostart_entry)
    check(autostart == [os.path.join(a.folder, "kavelo"), "m"], "the autostart entry runs %r" % autostart)
    log("closed on SIGTERM: %s holds %s; the autostart entry runs %r" % (a.folder, sorted(files), autostart))

    # The autostart entry at the next login: started minimised, from no particular folder.
    a.start_command(autostart, cwd="/")
    a.wait("the program started by its autostart entry to be on the accessibility bus",
           lambda: a.ask("windows")["ok"], 40)
    rung_with_the_installed_sound(a, peer_ns, "package-3-ring-after-autostart")
    a.agent.terminate()
    a.end_by_signal()
    log("started by its autostart entry, Kavelo read the same folder (its ring alert named Carol)")

    kept = a.user_files()
    apt_get("remove", "kavelo")
    check(not os.path.exists("/usr/bin/kavelo"), "removing the package left /usr/bin/kavelo")
    check(a.user_files() == kept, "removing the package changed the user's folder: %r" % sorted(a.user_files()))
    check(os.path.exists(autostart_entry), "removing the package took the autostart entry")
    log("the package is removed; the user's files are as they were: %s" % sorted(kept))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--deb", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--peer-ns", required=True)
    parser.add_argument("--peer", required=True)
    args = parser.parse_args()
    a = InstalledHost("a", args.work, args.out)
    return run_scenario("package", (a,), lambda: scenario(a, os.path.abspath(args.deb), args.peer_ns, args.peer))


if __name__ == "__main__":
    sys.exit(main())
