"""Closing from the tray when app.txt cannot be written, on a desktop with a real tray.

Started by faults_close.sh. Host A has openbox and trayer on its display and a
folder named app.txt in its program folder. Kavelo is started minimised into the
tray each time, as its autostart entry starts it (the argument "m").
1. "Exit" from the tray menu before the window was ever shown: the settings were
   never read, so nothing is written over app.txt and the program ends.
2. Restored from the tray (the settings are read) and minimised back into it,
   "Exit" cannot write app.txt: a box names the error over the main window, which
   is mapped and visible, with the tray icon still there. "Cancel" keeps the
   program running and holding its ports; "Exit" again and "Quit without saving"
   end it and free ports 5551 and 5552. The folder app.txt is left as it was.
3. As 2, but after "Cancel" the folder is taken away and "Exit" chosen again:
   that close writes app.txt (104 bytes) and ends the program.
"""

import argparse
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from two_host_call import PYTHON, AccessibilityWatch, Host, check, log, run_scenario  # noqa: E402

PORTS = (5551, 5552)
QUIT = "Quit without saving"
CANCEL = "Cancel"
TRAY_MENU = ("Restore", "Exit")


class DesktopHost(Host):
    """A host whose Kavelo is started with command-line arguments, on a desktop with a tray."""

    def start(self, *arguments):
        self.stop_agent()
        self.program_log = open(os.path.join(self.dir, "kavelo.log"), "a")
        self.program = subprocess.Popen(self.ns_command(self.kavelo, *arguments), env=self.env,
                                        cwd=self.vars["PROGRAM_FOLDER"], stdout=self.program_log,
                                        stderr=subprocess.STDOUT)
        self.agent_log = open(os.path.join(self.dir, "agent.log"), "a")
        self.agent = subprocess.Popen(self.ns_command(PYTHON, os.path.join(HERE, "host_agent.py")), env=self.env,
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.agent_log, text=True)
        self.main_window = None

    def alive(self):
        # The desktop is waited for before any program runs.
        if self.program is not None:
            super().alive()

    def stop_agent(self):
        if self.agent is not None and self.agent.poll() is None:
            self.agent.terminate()
            self.agent.wait(timeout=10)

    def start_desktop(self):
        """openbox, then trayer, which owns the tray before Kavelo looks for one."""
        self.window_manager = subprocess.Popen(self.ns_command("openbox"), env=self.env, stdout=subprocess.DEVNULL,
                                               stderr=open(os.path.join(self.dir, "openbox.log"), "w"))
        time.sleep(0.5)
        self.tray = subprocess.Popen(
            self.ns_command("trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                            "--height", "24", "--SetDockType", "true"),
            env=self.env, stdout=subprocess.DEVNULL, stderr=open(os.path.join(self.dir, "trayer.log"), "w"))
        self.wait("the tray panel", lambda: self.run("xdotool", "search", "--onlyvisible", "--classname",
                                                     "^panel$").stdout.split(), 20)
        time.sleep(0.5)

    # --- the X display ---------------------------------------------------------
    def geometry(self, window_id):
        done = self.run("xdotool", "getwindowgeometry", "--shell", window_id)
        values = dict(line.split("=", 1) for line in done.stdout.split() if "=" in line)
        return {k: int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT")} if done.returncode == 0 else None

    def settled_geometry(self, window_id):
        """The window's geometry once it has stopped moving (a popup is placed after it maps)."""
        first = self.geometry(window_id)
        time.sleep(0.2)
        return first if first is not None and first == self.geometry(window_id) else None

    def tray_icon(self):
        """The window Kavelo's icon shows in, inside the tray; None while there is none."""
        done = self.run("xdotool", "search", "--onlyvisible", "--class", "^Kavelo$")
        for window_id in done.stdout.split():
            box = self.geometry(window_id)
            # Every window of the program has its class; the icon is the small square.
            if box and 8 <= box["WIDTH"] <= 64 and 8 <= box["HEIGHT"] <= 64:
                return box
        return None

    def program_windows(self):
        return set(self.run("xdotool", "search", "--onlyvisible", "--class", "^Kavelo$").stdout.split())

    def tray_menu(self, item):
        """A right click on the tray icon, then a click on the menu item, as a person picks it.

        Qt keeps popup menus off the accessibility bus: the menu is the window that
        the right click brings up, its items stacked in TRAY_MENU's order."""
        icon = self.wait("the tray icon", self.tray_icon, 30)
        before = self.program_windows()
        x, y = icon["X"] + icon["WIDTH"] // 2, icon["Y"] + icon["HEIGHT"] // 2
        done = self.run("xdotool", "mousemove", "--sync", str(x), str(y), "click", "3")
        check(done.returncode == 0, "host %s: xdotool could not click the tray icon: %s" % (self.name, done.stderr))
        menu = self.wait("the tray menu", lambda: sorted(self.program_windows() - before), 10)
        check(len(menu) == 1, "host %s: the right click brought up %d windows, not one menu" % (self.name, len(menu)))
        box = self.wait("the tray menu in its place", lambda: self.settled_geometry(menu[0]), 10)
        row = box["HEIGHT"] / len(TRAY_MENU)
        x, y = box["X"] + box["WIDTH"] // 2, box["Y"] + int(row * (TRAY_MENU.index(item) + 0.5))
        # Onto the item first, as a hand moves: the menu marks it before the press.
        self.run("xdotool", "mousemove", "--sync", str(x), str(y))
        time.sleep(0.3)
        done = self.run("xdotool", "click", "1")
        check(done.returncode == 0, "host %s: xdotool could not click %r: %s" % (self.name, item, done.stderr))

    def main_window_state(self):
        """(mapped and viewable, hidden as a minimised window) of the main window."""
        info = self.run("xwininfo", "-id", self.main_window).stdout
        state = self.run("xprop", "-id", self.main_window, "_NET_WM_STATE").stdout
        return "Map State: IsViewable" in info, "_NET_WM_STATE_HIDDEN" in state

    def main_window_shown(self):
        viewable, hidden = self.main_window_state()
        return viewable and not hidden

    def bound_ports(self):
        """The UDP ports bound in the host's namespace."""
        ports = set()
        for line in self.run("cat", "/proc/net/udp").stdout.splitlines()[1:]:
            fields = line.split()
            if len(fields) > 1 and ":" in fields[1]:
                ports.add(int(fields[1].rsplit(":", 1)[1], 16))
        return ports

    def has_box(self, text):
        return self.ask("state", window="*", name=text)["ok"]

    def wait_ended(self, what, timeout=20):
        try:
            code = self.program.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.screenshot("failed-still-running")
            raise
        self.program_log.flush()
        with open(os.path.join(self.dir, "kavelo.log"), errors="replace") as f:
            output = f.read()
        check("LeakSanitizer" not in output and "ERROR: AddressSanitizer" not in output,
              "host %s: the sanitizer reported at exit; see its kavelo.log:\n%s" % (self.name, output[-3000:]))
        check(code == 0, "host %s: Kavelo ended with code %s after %s" % (self.name, code, what))
        self.stop_agent()
        free = PORTS[0] not in self.bound_ports() and PORTS[1] not in self.bound_ports()
        check(free, "host %s: ports %r still bound after Kavelo ended (bound: %r)"
              % (self.name, PORTS, sorted(self.bound_ports())))


def minimised_into_the_tray(a):
    """Started minimised, restored from the tray once (the settings are read), minimised back."""
    a.start("m")
    a.wait("the tray icon", a.tray_icon, 30)
    # A screen reader is told of the tray menu and its items when it opens:
    # the only way back into a program started minimised.
    watch = AccessibilityWatch(a)
    a.tray_menu("Restore")
    menus = watch.shown("popup menu")
    watch.stop()
    check(any(items == list(TRAY_MENU) for _, items in menus),
          "host a: the tray menu was not told to assistive technology with its items %r (told: %r)"
          % (TRAY_MENU, [(e.get("role"), e.get("name"), e.get("items")) for e in watch.told][-10:]))
    a.find_main_window()
    check(a.main_window_shown(), "host a: 'Restore' did not show the main window")
    a.run("xdotool", "windowminimize", "--sync", a.main_window)
    a.wait("the main window hidden in the tray", lambda: not a.main_window_state()[0], 10)


def failed_exit(a, error):
    """ "Exit" from the tray menu: the box names the error over the shown main window."""
    a.tray_menu("Exit")
    a.wait("the box %r" % error, lambda: a.has_box(error), 15)
    for button in (QUIT, CANCEL):
        check(a.has_box(button), "host a: the box has no %r button: %r" % (button, a.ask("names", window="*")))
    a.wait("the main window shown under the box", a.main_window_shown, 10)
    check(a.tray_icon() is not None, "host a: the tray icon went with the failed close")
    a.alive()


def cancel(a, error):
    a.click("*", CANCEL)
    a.wait("the box to close", lambda: not a.has_box(error), 10)
    time.sleep(0.5)
    check(a.main_window_shown(), "host a: the main window went after 'Cancel' (mapped, hidden: %r)"
          % (a.main_window_state(),))
    check(a.tray_icon() is not None, "host a: no tray icon after 'Cancel'")
    check(set(PORTS) <= a.bound_ports(), "host a: the running program does not hold ports %r (bound: %r)"
          % (PORTS, sorted(a.bound_ports())))
    a.alive()


def scenario(a):
    app_txt = os.path.join(a.vars["PROGRAM_FOLDER"], "app.txt")
    error = "Cannot write %s: Is a directory" % app_txt
    a.start_desktop()
    log("host a has a window manager and a tray; a folder stands where app.txt goes")

    # 1. A minimised start ended from the tray: nothing was read, nothing is written.
    a.start("m")
    a.wait("the tray icon", a.tray_icon, 40)
    a.screenshot("close-0-in-the-tray")
    a.tray_menu("Exit")
    a.wait_ended("'Exit' of a minimised start")
    check(os.path.isdir(app_txt), "host a: the minimised start's close replaced the folder app.txt")
    log("a minimised start ended from the tray at once, writing nothing")

    # 2. Restored once, back in the tray, "Exit": the error, the window, the tray icon.
    minimised_into_the_tray(a)
    failed_exit(a, error)
    shot = a.screenshot("close-1-failed-close")
    log("the failed close shows %r over the main window (screenshot %s)" % (error, shot))
    cancel(a, error)
    a.screenshot("close-2-cancelled")
    log("after 'Cancel' the main window stays shown, the tray icon stays and the program holds its ports")
    failed_exit(a, error)
    a.click("*", QUIT)
    a.wait_ended("'%s'" % QUIT)
    check(a.tray_icon() is None, "host a: a tray icon is left after the program ended")
    check(os.path.isdir(app_txt), "host a: 'Quit without saving' touched the folder app.txt")
    log("'%s' ended the program and freed ports %r" % (QUIT, PORTS))

    # 3. The cause put right after "Cancel": the next "Exit" saves and ends.
    minimised_into_the_tray(a)
    failed_exit(a, error)
    cancel(a, error)
    os.rmdir(app_txt)
    a.tray_menu("Exit")
    a.wait_ended("'Exit' with the folder gone")
    check(os.path.isfile(app_txt) and os.path.getsize(app_txt) == 104,
          "host a: the close after the cause was put right did not write app.txt (%s)"
          % ("%d bytes" % os.path.getsize(app_txt) if os.path.isfile(app_txt) else "no file"))
    log("with the folder gone the next 'Exit' wrote app.txt (104 bytes) and ended the program")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kavelo", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    a = DesktopHost("a", args.work, args.out, args.kavelo)
    return run_scenario("close", (a,), lambda: scenario(a))


if __name__ == "__main__":
    sys.exit(main())
