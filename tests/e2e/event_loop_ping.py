"""How long a program's event loop stands still, seen from outside.

    event_loop_ping.py WINDOW_ID SECONDS

Sends the window the window manager's _NET_WM_PING every 20 ms for SECONDS and
waits for each answer, which the program gives from its event loop. Prints one
JSON line: the number of pings, the longest and the median time to an answer,
in milliseconds. A ping that gets no answer within 30 s counts as 30 000 ms.
"""

import json
import select
import sys
import time

from Xlib import X, display
from Xlib.protocol import event

INTERVAL = 0.02
GIVE_UP = 30.0


def main():
    window_id, seconds = int(sys.argv[1], 0), float(sys.argv[2])
    screen = display.Display()
    root = screen.screen().root
    # The program sends its answer to the root window.
    root.change_attributes(event_mask=X.StructureNotifyMask | X.SubstructureNotifyMask)
    protocols = screen.intern_atom("WM_PROTOCOLS")
    ping = screen.intern_atom("_NET_WM_PING")
    window = screen.create_resource_object("window", window_id)

    took = []
    ends = time.monotonic() + seconds
    stamp = 1
    while time.monotonic() < ends:
        stamp += 1
        message = event.ClientMessage(window=window, client_type=protocols,
                                      data=(32, [ping, stamp, window_id, 0, 0]))
        sent = time.monotonic()
        window.send_event(message, event_mask=0)
        screen.flush()
        answered = False
        while not answered and time.monotonic() - sent < GIVE_UP:
            while screen.pending_events():
                reply = screen.next_event()
                if (reply.type == X.ClientMessage and reply.client_type == protocols
                        and reply.data[1][0] == ping and reply.data[1][1] == stamp):
                    answered = True
            if not answered:
                select.select([screen.fileno()], [], [], 0.5)
        took.append((time.monotonic() - sent) * 1000.0)
        time.sleep(INTERVAL)
    took.sort()
    print(json.dumps({"pings": len(took), "max_ms": round(took[-1], 1) if took else None,
                      "median_ms": round(took[len(took) // 2], 1) if took else None}))


if __name__ == "__main__":
    main()
