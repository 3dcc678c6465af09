"""Prints what a screen reader is told by Kavelo, one JSON line per event, as it happens.

Runs inside a host's network namespace with the host's DISPLAY and session bus,
until it is stopped. For every object that comes up ("showing" set) and every
change of an accessible name it prints
    {"event": E, "role": R, "name": N, "items": [names of its children]}
read from the object the event names at the moment it arrives, as a screen
reader reads it. Only Kavelo's own objects are printed.
"""

import json
import sys

import pyatspi

APP_NAMES = ("kavelo", "Kavelo")


def note(event):
    try:
        source = event.source
        if event.type.startswith("object:state-changed:showing") and event.detail1 != 1:
            return
        app = source.getApplication()
        if app is None or app.name not in APP_NAMES:
            return
        items = []
        for i in range(min(source.childCount, 20)):
            child = source.getChildAtIndex(i)
            if child is not None and child.name:
                items.append(child.name)
        print(json.dumps({"event": event.type, "role": source.getRoleName(), "name": source.name, "items": items}),
              flush=True)
    except Exception as error:  # an object gone before it was read
        print(json.dumps({"event": event.type, "error": str(error)}), flush=True)


def main():
    pyatspi.Registry.registerEventListener(note, "object:state-changed:showing",
                                           "object:property-change:accessible-name")
    print(json.dumps({"event": "listening"}), flush=True)
    pyatspi.Registry.start()


if __name__ == "__main__":
    sys.exit(main())
