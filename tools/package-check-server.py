#!/usr/bin/python3
"""A one-connection TCP server for tools/package-check.

Prints "PORT <n>", accepts the agent on 127.0.0.1, checks its registration
(JSON, "wellcome", client type "printer", "from" = the clientId the agent
wrote into HOME/config.json), asks GetCurrentDir (the answer must be HOME),
then sends ExitQuorvin and waits for its reply and the agent's close.
Exits 0 when all of that happened within the time limit, else 1 with the
reason. Usage: package-check-server.py HOME [SECONDS]
"""
import json
import os
import socket
import sys
import time

home = sys.argv[1]
deadline = time.monotonic() + (float(sys.argv[2]) if len(sys.argv) > 2 else 30)


def fail(why):
    print("package-check-server: " + why, flush=True)
    sys.exit(1)


def left():
    rest = deadline - time.monotonic()
    if rest <= 0:
        fail("out of time")
    return rest


pending = b""


def frame(conn):
    """The next message up to 0xFE, without the heartbeat bytes (0xFF)."""
    global pending
    while b"\xfe" not in pending:
        conn.settimeout(left())
        try:
            data = conn.recv(65536)
        except socket.timeout:
            fail("no complete message in time")
        if not data:
            fail("the agent closed the connection early")
        pending += data.replace(b"\xff", b"")
    text, _, pending = pending.partition(b"\xfe")
    try:
        return json.loads(text.decode("utf-8"))
    except ValueError as e:
        fail("not JSON (%s): %r" % (e, text[:200]))


def command(conn, name, seq):
    msg = {"type": "cmd", "from": "server", "to": "agent", "name": name, "body": {}, "seq": seq}
    conn.sendall(json.dumps(msg).encode() + b"\xfe")
    reply = frame(conn)
    if reply.get("name") != name + ">res":
        fail("%s: unexpected reply %r" % (name, reply))
    return reply["body"]["result"]


srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
srv.bind(("127.0.0.1", 0))
srv.listen(1)
print("PORT %d" % srv.getsockname()[1], flush=True)
srv.settimeout(left())
try:
    conn, _ = srv.accept()
except socket.timeout:
    fail("the agent did not connect")

reg = frame(conn)
with open(os.path.join(home, "config.json"), encoding="utf-8") as f:
    client_id = json.load(f)["startup"]["param"]["clientId"]
if reg.get("name") != "wellcome" or reg.get("body", {}).get("clientType") != "printer":
    fail("not a printer's registration: %r" % reg)
if not client_id or reg.get("from") != client_id:
    fail("registered as %r, config.json's clientId is %r" % (reg.get("from"), client_id))

current = command(conn, "GetCurrentDir", 1).get("dir")
if current != home:
    fail("GetCurrentDir answered %r, QUORVIN_HOME is %r" % (current, home))

command(conn, "ExitQuorvin", 2)
while True:
    conn.settimeout(left())
    try:
        if not conn.recv(65536):
            break
    except socket.timeout:
        fail("the agent kept the connection after ExitQuorvin")
print("package-check-server: registered as %s, answered, ended" % client_id, flush=True)
