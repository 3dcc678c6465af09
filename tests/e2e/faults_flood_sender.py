"""Floods one Kavelo with datagrams from many source addresses of this host.

    faults_flood_sender.py TARGET PORT FIRST_ADDRESS COUNT TEXT_ONLY ROUNDS SECONDS

Every one of COUNT consecutive addresses from FIRST_ADDRESS gets its own UDP
socket. The last TEXT_ONLY addresses send four text lines each and nothing else;
all the others send ROUNDS datagrams each, cycling through the ring, stop and
voice shapes. Rounds are spread evenly over SECONDS; then every caller rings once
more within three seconds. Prints one JSON line with what was sent.
"""

import ipaddress
import json
import os
import random
import resource
import socket
import sys
import time

SIZE = 390
ROLL_CALL_SECONDS = 3.0


def shape(kind, seed):
    if kind == "ring":
        return b"ring" + bytes(SIZE - 4)
    if kind == "stop":
        return b"stop" + bytes(SIZE - 4)
    if kind == "text":
        text = b"flood line %d" % seed
        return (b"|mess" + text + b"|").ljust(SIZE, b"\0")
    voice = bytearray(os.urandom(SIZE))
    voice[0] = 0x42  # never "r", "s" or "|": always voice
    return bytes(voice)


def main():
    target, port, first, count, text_only, rounds, seconds = sys.argv[1:8]
    port, count, text_only, rounds, seconds = int(port), int(count), int(text_only), int(rounds), float(seconds)
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, count + 64)), hard))
    base = ipaddress.IPv4Address(first)
    sockets = []
    for i in range(count):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((str(base + i), 0))
        s.setblocking(True)
        sockets.append(s)
    callers = count - text_only
    kinds = ("ring", "stop", "voice")
    sent = {"ring": 0, "stop": 0, "voice": 0, "text": 0}
    errors = 0
    text_rounds = tuple(range(0, rounds, max(1, rounds // 4)))[:4]
    lull = 0.2
    start = time.monotonic()
    # Each round is sent in slices spread over its share of the time, so that the
    # flood is a steady stream rather than bursts; the text lines go out between
    # slices, at the start and in the middle of the run.
    slices = 10
    per_round = seconds / rounds
    # The callers go out in a new order every round: a receiver that drops the tail
    # of every burst must not drop the same callers every time.
    order = list(range(callers))
    shuffle = random.Random(5552).shuffle
    for r in range(rounds):
        payload = {k: shape(k, r) for k in kinds}
        shuffle(order)
        for part in range(slices):
            for i in order[part::slices]:
                kind = kinds[(r + i) % 3]
                try:
                    sockets[i].sendto(payload[kind], (target, port))
                    sent[kind] += 1
                except OSError:
                    errors += 1
            if r in text_rounds and part == slices // 2:
                # A receiver that falls behind drops whatever finds its queue
                # full; a short lull lets it catch up so the lines get through.
                time.sleep(lull)
                for i in range(callers, count):
                    try:
                        sockets[i].sendto(shape("text", i), (target, port))
                        sent["text"] += 1
                    except OSError:
                        errors += 1
            pause = start + r * per_round + (part + 1) * per_round / slices - time.monotonic()
            if pause > 0:
                time.sleep(pause)
    # Roll call: every caller rings once more, paced so that a receiver that
    # dropped most of the flood still hears each caller at least once.
    # The lull first lets the receiver drain the queue the flood left full.
    time.sleep(1.0)
    roll_call_start = time.monotonic()
    for i in range(callers):
        try:
            sockets[i].sendto(shape("ring", i), (target, port))
            sent["ring"] += 1
        except OSError:
            errors += 1
        pause = roll_call_start + (i + 1) * ROLL_CALL_SECONDS / callers - time.monotonic()
        if pause > 0:
            time.sleep(pause)
    elapsed = time.monotonic() - start
    print(json.dumps({"sent": sent, "total": sum(sent.values()), "errors": errors, "seconds": elapsed,
                      "callers": [str(base + i) for i in range(callers)],
                      "texters": [str(base + i) for i in range(callers, count)]}), flush=True)


if __name__ == "__main__":
    main()
