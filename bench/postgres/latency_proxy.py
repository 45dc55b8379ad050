#!/usr/bin/python3
"""A link with latency for the benchmarks: listens on 127.0.0.1:PORT, forwards
each connection to the server's unix socket and delays every chunk by
ONE_WAY_MS in each direction (1 ms round trip: 0.5). A chunk of the client
sent after the server last spoke counts one round trip; the count of every
connection is added to STATS_FILE ("ROUND_TRIPS" per line) when it closes.
Run: latency_proxy.py PORT SOCKET_PATH ONE_WAY_MS STATS_FILE (stops when killed)."""
import asyncio
import sys
import time

PORT, SOCKET, ONE_WAY, STATS = int(sys.argv[1]), sys.argv[2], float(sys.argv[3]) / 1000, sys.argv[4]


async def pump(reader, writer, state, from_client):
    queue = asyncio.Queue()

    async def deliver():
        while True:
            at, data = await queue.get()
            if data is None:
                break
            wait = at + ONE_WAY - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        writer.close()

    delivery = asyncio.ensure_future(deliver())
    try:
        while True:
            data = await reader.read(1 << 16)
            if not data:
                break
            if from_client and state["server_spoke"]:
                state["round_trips"] += 1
            state["server_spoke"] = not from_client
            queue.put_nowait((time.monotonic(), data))
    except (ConnectionError, OSError):
        pass
    queue.put_nowait((0, None))
    await delivery


async def handle(client_reader, client_writer):
    server_reader, server_writer = await asyncio.open_unix_connection(SOCKET)
    state = {"round_trips": 0, "server_spoke": True}
    await asyncio.gather(pump(client_reader, server_writer, state, True),
                         pump(server_reader, client_writer, state, False),
                         return_exceptions=True)
    with open(STATS, "a") as stats:
        stats.write("%d\n" % state["round_trips"])


async def main():
    server = await asyncio.start_server(handle, "127.0.0.1", PORT)
    async with server:
        await server.serve_forever()


asyncio.run(main())
