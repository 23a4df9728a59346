#!/usr/bin/env python3
"""Load clients of bench/http_bench.sh that wrk does not cover.

  download PORT PATH SECONDS CLIENTS   prints the MB/s (10^6 bytes) of CLIENTS connections
                                       fetching PATH over and over, read in 1 MiB pieces
  hold PORT COUNT                      opens COUNT connections that each send part of a
                                       request head, prints "ready N" and keeps them open
                                       until its standard input closes
"""
import socket
import sys
import threading
import time

PIECE = 1 << 20


def fetch_until(port, path, deadline, totals, index):
    request = f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n".encode()
    buffer = bytearray(PIECE)
    view = memoryview(buffer)
    received = 0
    while time.monotonic() < deadline:
        with socket.create_connection(("127.0.0.1", port), timeout=30) as connection:
            connection.sendall(request)
            while True:
                count = connection.recv_into(view, PIECE)
                if count == 0:
                    break
                received += count
    totals[index] = received


def download(port, path, seconds, clients):
    totals = [0] * clients
    start = time.monotonic()
    deadline = start + seconds
    threads = [
        threading.Thread(target=fetch_until, args=(port, path, deadline, totals, i))
        for i in range(clients)
    ]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    elapsed = time.monotonic() - start
    print(f"{sum(totals) / elapsed / 1e6:.1f}")


def hold(port, count):
    # No blank line after the Host header: every server waits for the rest of the head.
    partial = b"GET /small.htm HTTP/1.1\r\nHost: 127.0.0.1\r\n"
    connections = []
    for _ in range(count):
        connection = socket.create_connection(("127.0.0.1", port), timeout=30)
        connection.sendall(partial)
        connections.append(connection)
    print(f"ready {len(connections)}", flush=True)
    sys.stdin.read()
    for connection in connections:
        connection.close()


def main():
    if len(sys.argv) == 6 and sys.argv[1] == "download":
        download(int(sys.argv[2]), sys.argv[3], float(sys.argv[4]), int(sys.argv[5]))
    elif len(sys.argv) == 4 and sys.argv[1] == "hold":
        hold(int(sys.argv[2]), int(sys.argv[3]))
    else:
        sys.stderr.write(__doc__)
        sys.exit(2)


if __name__ == "__main__":
    main()
