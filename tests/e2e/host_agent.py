"""Works one host's Kavelo through its accessibility bus, as a person works its windows.

Runs inside the host's network namespace with the host's DISPLAY and session bus.
Reads one JSON request per line on stdin and answers one JSON line on stdout:
    {"op": "windows"}                                  -> visible top-level windows
    {"op": "press", "window": W, "name": N}            -> run the control's press action
    {"op": "extents", "window": W, "name": N}          -> where the control is on the screen
                                                          ("editable": true for a text field)
    {"op": "set_text", "window": W, "name": N, "text": T}
    {"op": "text", "window": W, "name": N}             -> the text field's text
    {"op": "state", "window": W, "name": N}            -> enabled/checked/showing
    {"op": "names", "window": W}                       -> names of every control in W
    {"op": "boxes"}                                    -> names in every dialog and alert up
    {"op": "answer_boxes", "name": N}                  -> presses N in every box up, newest first
Answers are {"ok": true, ...} or {"ok": false, "error": "..."}.
A window is found among the program's visible top-level windows by accessible
name; W may also be "*", meaning any visible window. The main window's name is
its caption, the status, which changes with every step of a call: W "Kavelo"
is the main window whatever its caption ("windows" lists it so, with the name
a screen reader reads as "caption").
"""

import json
import sys

import pyatspi

APP_NAMES = ("kavelo", "Kavelo")


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name in APP_NAMES:
            return app
    raise LookupError("Kavelo is not on the accessibility bus (yet)")


def showing(node):
    states = node.getState()
    return states.contains(pyatspi.STATE_SHOWING) or states.contains(pyatspi.STATE_VISIBLE)


def visible_windows():
    app = application()
    found = []
    for i in range(app.childCount):
        window = app.getChildAtIndex(i)
        if window is not None and showing(window):
            found.append(window)
    return found


MAIN_WINDOW = "Kavelo"
MAIN_WINDOW_CONTROL = "Remote IP:"


def is_main_window(w):
    return any(n.name == MAIN_WINDOW_CONTROL for n in descendants(w))


def listed_name(w):
    return MAIN_WINDOW if is_main_window(w) else w.name


def window(name):
    candidates = visible_windows()
    for w in candidates:
        if name == "*" or listed_name(w) == name:
            return w
    raise LookupError("no visible window named %r (visible: %s)" % (name, [listed_name(w) for w in candidates]))


def descendants(node, depth=0):
    if depth > 30:
        return
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is None:
            continue
        yield child
        yield from descendants(child, depth + 1)


def control(window_name, name, editable=False):
    """The control named `name`; with `editable`, a text field rather than its label."""
    windows = visible_windows() if window_name == "*" else [window(window_name)]
    for w in windows:
        for node in descendants(w):
            if node.name != name:
                continue
            if editable and node.getRole() in (pyatspi.ROLE_LABEL, pyatspi.ROLE_STATIC):
                continue
            return node
    raise LookupError("no %s named %r in window %r" % ("text field" if editable else "control", name, window_name))


def text_of(node):
    try:
        text = node.queryText()
        return text.getText(0, text.characterCount)
    except NotImplementedError:
        return node.name


def handle(request):
    op = request["op"]
    if op == "windows":
        return {"windows": [{"name": listed_name(w), "caption": w.name, "role": w.getRoleName()}
                            for w in visible_windows()]}
    if op == "boxes":
        # What every dialog and alert up says, whatever its title.
        return {"boxes": [[n.name for n in descendants(w) if n.name] for w in visible_windows()
                          if w.getRoleName() in ("dialog", "alert")]}
    if op == "answer_boxes":
        # A box opened while another one shows is on top of it, and the one
        # underneath cannot close before it: every box is answered, the
        # newest first, as a person answers the one in front.
        pressed = 0
        for w in reversed([w for w in visible_windows() if w.getRoleName() in ("dialog", "alert")]):
            for node in descendants(w):
                if node.name == request["name"]:
                    node.queryAction().doAction(0)
                    pressed += 1
                    break
        return {"pressed": pressed}
    if op == "names":
        w = window(request["window"])
        return {"names": [n.name for n in descendants(w) if n.name]}
    node = control(request["window"], request["name"], editable=op in ("set_text", "text") or request.get("editable", False))
    if op == "press":
        actions = node.queryAction()
        for i in range(actions.nActions):
            if actions.getName(i) in ("Press", "press", "click", "Toggle", "toggle"):
                actions.doAction(i)
                return {}
        actions.doAction(0)
        return {}
    if op == "extents":
        box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return {"x": box.x, "y": box.y, "width": box.width, "height": box.height}
    if op == "set_text":
        node.queryEditableText().setTextContents(request["text"])
        return {}
    if op == "text":
        return {"text": text_of(node)}
    if op == "state":
        states = node.getState()
        return {
            "enabled": states.contains(pyatspi.STATE_ENABLED),
            "checked": states.contains(pyatspi.STATE_CHECKED) or states.contains(pyatspi.STATE_PRESSED),
            "showing": showing(node),
        }
    raise ValueError("unknown request %r" % op)


def main():
    for line in sys.stdin:
        line = line.strip()
        if not line:
            continue
        try:
            answer = {"ok": True}
            answer.update(handle(json.loads(line)))
        except Exception as error:  # every failure goes back to the driver as an answer
            answer = {"ok": False, "error": "%s: %s" % (type(error).__name__, error)}
        sys.stdout.write(json.dumps(answer) + "\n")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
