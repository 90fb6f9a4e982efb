#!/usr/bin/python3
"""A WebSocket server to try the agent's WebSocket link by hand.

Usage: tools/ws-try-server.py [PORT]   (default 9101, on 127.0.0.1)

Prints every message an agent sends (its registration, replies) and sends
each line typed on standard input to the agents connected, as one text
message, e.g.:
    {"type":"cmd","from":"srv","to":"me","name":"GetAllPrn","body":{}}
Needs Debian's python3-websockets (tools/install-deps installs it).
"""
import asyncio
import sys

import websockets

agents = set()


async def agent(ws, path):
    agents.add(ws)
    print("+ agent connected on %s (%d)" % (path, len(agents)), flush=True)
    try:
        async for message in ws:
            print("< " + (message if isinstance(message, str) else message.decode("utf-8", "replace")), flush=True)
    except websockets.ConnectionClosed:
        pass
    finally:
        agents.discard(ws)
        print("- agent gone (%d left)" % len(agents), flush=True)


async def typed_lines():
    loop = asyncio.get_running_loop()
    while True:
        line = await loop.run_in_executor(None, sys.stdin.readline)
        if not line:
            return
        line = line.rstrip("\r\n")
        if line:
            for ws in list(agents):
                await ws.send(line)
            print("> sent to %d agent(s)" % len(agents), flush=True)


async def main():
    port = int(sys.argv[1]) if len(sys.argv) > 1 else 9101
    async with websockets.serve(agent, "127.0.0.1", port, max_size=64 << 20, compression=None):
        print("listening on ws://127.0.0.1:%d/" % port, flush=True)
        await typed_lines()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        pass
