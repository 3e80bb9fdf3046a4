#!/usr/bin/env python3
"""stuck_server.py SOCKET LOG - a sound server that hangs: it listens on the Unix socket SOCKET
(replacing a dead server's socket file), accepts every connection and never answers, holding
each one open until it is ended (any signal). Appends a line to LOG per connection accepted."""
import os
import socket
import sys

path, log = sys.argv[1], sys.argv[2]
try:
    os.unlink(path)
except FileNotFoundError:
    pass
listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
listener.bind(path)
listener.listen(16)
with open(log, "a") as out:
    out.write("listening\n")
held = []
while True:
    connection, _ = listener.accept()
    held.append(connection)
    with open(log, "a") as out:
        out.write("accepted\n")
