#!/usr/bin/env python3
"""Soak of the engine and its MCP server, run by scripts/soak (not part of CI).

Starts mcp-test-host with AI control allowed and the two demos, opens 29 more
channels through MCP (one loop:// serial channel running the example frame
script, TCP clients and servers and UDP sockets, each with a peer here that
sends at a steady rate), and runs 8 MCP clients that long-poll their channel,
send to it and read the other tools. Every minute it prints the host's
resident memory and open file descriptors; after the warm-up neither may grow.

Within the warm-up comes a flood: for longer than an accepted connection may
live, 8 more clients call get_status as fast as they can, each call on a fresh
connection. It prints the calls per second of every 5-second window and the
longest call against the benchmark's aims (no window below 80 % of the first,
no call over 100 ms), with how busy the host's event-loop thread was. The
soak's own traffic, still growing in the warm-up, and a busy machine blur
those aims, so it fails only on a stall: a window below a quarter of the
first, or a call of a second or more (the kernel dropped a connection attempt
and the client waited out its retransmission).
"""

import argparse
import json
import multiprocessing
import os
import socket
import subprocess
import sys
import time

from soak_common import (EXAMPLE_FRAME, Mcp, count, counts, counts_lock, free_port, growth, host_figures,
                         last_errors, main_thread_seconds, note, start, stop, tcp_client_peer, tcp_listener_peer,
                         udp_peer, watch_until)

TCP_CLIENTS = 12    # channels that connect to a peer listening here
TCP_SERVERS = 5     # channels that listen; a peer here connects
UDP_SOCKETS = 12
CLIENTS = 8
FLOOD_CLIENTS = 8
FLOOD_WINDOW = 5    # seconds per figure of the flood
FLOOD_AIM_FLOOR = 0.8    # aim: no window below this share of the first
FLOOD_AIM_LONGEST = 0.1  # aim: seconds
FLOOD_STALL_FLOOR = 0.25 # a stall: a window below this share of the first
FLOOD_STALL = 1.0        # a stall: a dropped connection attempt costs at least this

def flood_worker(port, request, began, until, results):
    """One flood client, in a process of its own so that the figures are not
    bounded by this interpreter's lock: fresh connection, one call, closed."""
    counts = {}
    longest = 0.0
    failures = 0
    while True:
        started = time.monotonic()
        if started >= until:
            break
        ok = False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=120) as conn:
                conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                conn.sendall(request)
                reply = bytearray()
                while True:
                    chunk = conn.recv(65536)
                    if not chunk:
                        break
                    reply += chunk
            ok = reply.startswith(b"HTTP/1.1 200 OK") and b'"isError":false' in reply
        except OSError:
            pass
        ended = time.monotonic()
        longest = max(longest, ended - started)
        if not ok:
            failures += 1
        window = int((ended - began) // FLOOD_WINDOW)
        counts[window] = counts.get(window, 0) + 1
    results.put((counts, longest, failures))


def flood(port, session, seconds, pid):
    """Runs the flood; returns the figure lines and the failures."""
    body = json.dumps({"jsonrpc": "2.0", "id": 1, "method": "tools/call",
                       "params": {"name": "get_status", "arguments": {}}}).encode()
    request = (b"POST /mcp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
               b"Mcp-Session-Id: " + session.encode() + b"\r\nContent-Length: "
               + str(len(body)).encode() + b"\r\n\r\n" + body)
    windows = max(1, int(seconds // FLOOD_WINDOW))
    context = multiprocessing.get_context("spawn")
    results = context.Queue()
    began = time.monotonic() + 1.0  # every worker has started by then
    until = began + windows * FLOOD_WINDOW
    workers = [context.Process(target=flood_worker, args=(port, request, began, until, results), daemon=True)
               for _ in range(FLOOD_CLIENTS)]
    for worker in workers:
        worker.start()
    busy = []
    for w in range(windows + 1):
        time.sleep(max(0.0, began + w * FLOOD_WINDOW - time.monotonic()))
        busy.append(main_thread_seconds(pid))
    counts, longest, failures = {}, 0.0, 0
    for _ in workers:
        theirs, their_longest, their_failures = results.get(timeout=windows * FLOOD_WINDOW + 600)
        for window, n in theirs.items():
            counts[window] = counts.get(window, 0) + n
        longest = max(longest, their_longest)
        failures += their_failures
    for worker in workers:
        worker.join()
    rates = [counts.get(w, 0) / FLOOD_WINDOW for w in range(windows)]
    lines = ["soak: flood %3d-%3d s: %6.0f calls/s, host thread busy %3.0f %%"
             % (w * FLOOD_WINDOW, (w + 1) * FLOOD_WINDOW, rate, 100 * (busy[w + 1] - busy[w]) / FLOOD_WINDOW)
             for w, rate in enumerate(rates)]
    lowest = min(rates)
    lines.append("soak: flood: %d clients, fresh connection per get_status, %d s: %d calls, %d failed, "
                 "slowest window %.0f%% of the first (aim %.0f%%: %s), longest call %.1f ms (aim %.0f ms: %s)"
                 % (FLOOD_CLIENTS, windows * FLOOD_WINDOW, sum(counts.get(w, 0) for w in range(windows)), failures,
                    100.0 * lowest / rates[0] if rates[0] else 0.0, 100 * FLOOD_AIM_FLOOR,
                    "met" if lowest >= FLOOD_AIM_FLOOR * rates[0] else "missed", longest * 1000,
                    1000 * FLOOD_AIM_LONGEST, "met" if longest <= FLOOD_AIM_LONGEST else "missed"))
    problems = []
    if failures:
        problems.append("flood: %d calls failed" % failures)
    if rates[0] == 0 or lowest < FLOOD_STALL_FLOOR * rates[0]:
        problems.append("flood stalled: a window fell to %.0f calls/s against %.0f in the first" % (lowest, rates[0]))
    if longest >= FLOOD_STALL:
        problems.append("flood stalled: a call took %.0f ms" % (longest * 1000))
    return lines, problems


def client_loop(port, index, channels, loop_id, wave_id, json_id):
    try:
        mcp = Mcp(port, "soak-%d" % index)
    except Exception as error:  # noqa: BLE001 - any failure here is a finding
        count("http_errors")
        note("client %d initialize: %s" % (index, error))
        return
    own = channels[index % len(channels)]
    cursor = 0
    all_cursor = 0
    n = 0
    while not stop.is_set():
        n += 1
        try:
            events = mcp.call("read_events", channel_id=own, after=cursor, limit=200, wait_ms=1000)
            if events:
                cursor = events.get("next_cursor", cursor)
                if events.get("cursor_reset_required"):
                    cursor = 0
            if n % 3 == 0:
                mcp.call("send_data", channel_id=loop_id, payload=EXAMPLE_FRAME, hex_mode=True)
            if n % 4 == 0:
                mcp.call("send_data", channel_id=own, payload="soak %d %d" % (index, n), newline="lf")
            if n % 7 == 0:
                every = mcp.call("read_all_events", after=all_cursor, limit=200)
                if every:
                    all_cursor = every.get("next_cursor", all_cursor)
                mcp.call("read_script_results", channel_id=loop_id, after=0, limit=20)
            if n % 11 == 0:
                mcp.call("get_status")
                mcp.call("read_waveform", channel_id=wave_id, limit=200)
                mcp.call("read_structured", channel_id=json_id, after=0, limit=20)
                mcp.call("list_connections")
        except Exception as error:  # noqa: BLE001
            if stop.is_set():
                return
            count("http_errors")
            note("client %d: %s" % (index, error))
            stop.wait(1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True, help="mcp-test-host program")
    parser.add_argument("--minutes", type=float, default=60)
    # Wave samples fill their per-source limit only after about ten minutes.
    parser.add_argument("--warmup", type=float, default=15, help="minutes before memory must stay flat")
    parser.add_argument("--interval", type=float, default=60, help="seconds between two figures")
    # Longer than an accepted connection may live (20 s), inside the warm-up.
    parser.add_argument("--flood-at", type=float, default=10, help="minute at which the flood starts")
    parser.add_argument("--flood-seconds", type=float, default=120, help="length of the flood (0: none)")
    options = parser.parse_args()

    host = subprocess.Popen([options.host, "--port", "0", "--allow-ai-control", "--demo"],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    url = host.stdout.readline().strip()
    port = int(url.rsplit(":", 1)[1].split("/")[0])
    print("soak: mcp-test-host pid %d at %s" % (host.pid, url), flush=True)
    failed = []
    try:
        admin = Mcp(port, "soak-admin")
        demos = {c["config"]["host"]: c["id"] for c in admin.call("get_status")["connections"]}
        wave_id = demos["waveform-demo"]
        json_id = demos["structured-demo"]

        loop = admin.call("open_connection", config={"kind": "serial", "port": "loop://", "name": "soak loop"})
        loop_id = loop["id"]
        script = admin.call("get_frame_script", channel_id=loop_id)
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "example.fs"), encoding="utf-8") as f:
            code = f.read()
        applied = admin.call("set_frame_script", channel_id=loop_id, code=code, enabled=True,
                             expected_revision=script["revision"])
        if applied is None:
            raise RuntimeError("frame script refused: %s" % last_errors[-1:])

        channels = []
        for i in range(TCP_CLIENTS):
            peer_port = tcp_listener_peer(i)
            opened = admin.call("open_connection", config={"kind": "tcp-client", "host": "127.0.0.1",
                                                           "network_port": peer_port, "name": "soak tcp %d" % i})
            channels.append(opened["id"])
        for i in range(TCP_SERVERS):
            listen = free_port()
            opened = admin.call("open_connection", config={"kind": "tcp-server", "bind_host": "127.0.0.1",
                                                           "bind_port": listen, "name": "soak server %d" % i})
            channels.append(opened["id"])
            tcp_client_peer(listen, 100 + i)
        for i in range(UDP_SOCKETS):
            bind = free_port(socket.SOCK_DGRAM)
            # The peer's own port is where the channel sends to.
            peer_port = udp_peer(bind, 200 + i)
            opened = admin.call("open_connection", config={"kind": "udp", "bind_host": "127.0.0.1", "bind_port": bind,
                                                           "host": "127.0.0.1", "network_port": peer_port,
                                                           "name": "soak udp %d" % i})
            channels.append(opened["id"])
        listed = admin.call("list_connections")
        if isinstance(listed, dict):
            listed = listed.get("connections", listed.get("result", []))
        total = len(listed)
        print("soak: %d channels open (%d TCP clients, %d TCP servers, %d UDP, loop:// with the frame script, 2 demos)"
              % (total, TCP_CLIENTS, TCP_SERVERS, UDP_SOCKETS), flush=True)

        for i in range(CLIENTS):
            start(client_loop, port, i, channels + [loop_id], loop_id, wave_id, json_id)

        flood_outcome = []

        def flood_phase():
            if stop.wait(options.flood_at * 60):
                return
            print("soak: flood starts at minute %.1f" % options.flood_at, flush=True)
            try:
                lines, problems = flood(port, admin.session, options.flood_seconds, host.pid)
            except Exception as error:  # noqa: BLE001
                lines, problems = [], ["flood: %s" % error]
            for line in lines:
                print(line, flush=True)
            flood_outcome.append(problems)

        flooding = start(flood_phase) if options.flood_seconds > 0 else None

        # Per interval: elapsed minutes, resident KiB, and the fewest descriptors
        # seen (requests in flight apart: they come and go by design).
        samples = []
        began = time.monotonic()
        minute = 0
        while time.monotonic() - began < options.minutes * 60:
            end = began + (minute + 1) * options.interval
            rss, lowest, highest, busiest = watch_until(host, "mcp-test-host", port, end)
            minute += 1
            elapsed = (time.monotonic() - began) / 60
            samples.append((elapsed, rss, lowest))
            with counts_lock:
                snapshot = dict(counts)
            scripted = admin.call("read_script_results", channel_id=loop_id, after=0, limit=1) or {}
            print("soak: minute %5.1f  rss %7.1f MiB  fds %3d..%-3d (+%d MCP requests)  calls %7d  tool errors %d  http errors %d  peer sends %d  journal %s  %s"
                  % (elapsed, rss / 1024.0, lowest, highest, busiest, snapshot["calls"], snapshot["tool_errors"],
                     snapshot["http_errors"], snapshot["sent"],
                     (admin.call("get_status") or {}).get("latest_cursor"),
                     "" if scripted else "(no script results)"), flush=True)

        if flooding is not None:
            flooding.join(timeout=options.flood_seconds + 660)
            if not flood_outcome:
                failed.append("the flood did not finish within the run (it starts at minute %g)" % options.flood_at)
            else:
                failed.extend(flood_outcome[0])

        lines, problems = growth(samples, options.warmup)
        for line in lines:
            print("soak: " + line, flush=True)
        failed.extend(problems)
        if counts["http_errors"]:
            failed.append("%d HTTP failures" % counts["http_errors"])
    except Exception as error:  # noqa: BLE001
        failed.append(str(error))
    finally:
        stop.set()
        if host.poll() is None:
            host.stdin.close()
            try:
                host.wait(timeout=10)
            except subprocess.TimeoutExpired:
                host.kill()
                host.wait()
    for line in last_errors[:10]:
        print("soak: note: %s" % line)
    if failed:
        for line in failed:
            print("soak: FAILED: %s" % line)
        return 1
    print("soak: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
