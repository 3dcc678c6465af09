"""Captures the UDP datagrams that reach one address and port, as a sniffer would.

    capture_voice.py ADDRESS PORT OUT_FILE

Run inside the listening host's network namespace, as root (a packet socket).
Writes each datagram's payload to OUT_FILE as a 2-byte big-endian length and the
bytes, until SIGTERM. The program under test is not touched: it keeps its port.
"""

import signal
import socket
import struct
import sys

ETH_P_IP = 0x0800


def main():
    address, port, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    wanted = socket.inet_aton(address)
    sniffer = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(ETH_P_IP))
    running = [True]
    signal.signal(signal.SIGTERM, lambda *_: running.__setitem__(0, False))
    sniffer.settimeout(0.1)
    with open(path, "wb", buffering=0) as out:
        print("ready", flush=True)
        while running[0]:
            try:
                packet = sniffer.recv(65536)
            except socket.timeout:
                continue
            except InterruptedError:
                continue
            if len(packet) < 28 or packet[9] != socket.IPPROTO_UDP or packet[16:20] != wanted:
                continue
            header = (packet[0] & 0x0F) * 4
            if struct.unpack("!H", packet[header + 2:header + 4])[0] != port:
                continue
            payload = packet[header + 8:]
            out.write(struct.pack("!H", len(payload)) + payload)


if __name__ == "__main__":
    main()
