#!/usr/bin/env python3
"""Soak of the engine and its MCP server, run by scripts/soak (not part of CI).

Starts mcp-test-host with AI control allowed and the two demos, opens 29 more
channels through MCP (one loop:// serial channel running the example frame
script, TCP clients and servers and UDP sockets, each with a peer here that
sends at a steady rate), and runs 8 MCP clients that long-poll their channel,
send to it and read the other tools. Every minute it prints the host's
resident memory and open file descriptors; after the warm-up neither may grow.
"""

import argparse
import http.client
import json
import os
import random
import socket
import subprocess
import sys
import threading
import time

EXAMPLE_FRAME = "AA 55 C4 09 E4 0C BC 0D"
TCP_CLIENTS = 12    # channels that connect to a peer listening here
TCP_SERVERS = 5     # channels that listen; a peer here connects
UDP_SOCKETS = 12
CLIENTS = 8
PERIOD = 0.1        # seconds between two deliveries of one peer

stop = threading.Event()
counts = {"calls": 0, "tool_errors": 0, "http_errors": 0, "sent": 0}
counts_lock = threading.Lock()
last_errors = []


def count(key, n=1):
    with counts_lock:
        counts[key] += n


class Mcp:
    """One MCP client session; one HTTP request per connection, as the server wants."""

    def __init__(self, port, name):
        self.port = port
        self.session = None
        self.next_id = 0
        reply, headers = self.post({"jsonrpc": "2.0", "id": 0, "method": "initialize",
                                    "params": {"protocolVersion": "2025-03-26", "capabilities": {},
                                               "clientInfo": {"name": name, "version": "1"}}})
        self.session = headers.get("mcp-session-id")
        self.post({"jsonrpc": "2.0", "method": "notifications/initialized"})

    def post(self, message, timeout=30):
        body = json.dumps(message).encode()
        headers = {"Host": "127.0.0.1:%d" % self.port, "Content-Type": "application/json"}
        if self.session:
            headers["Mcp-Session-Id"] = self.session
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            connection.request("POST", "/mcp", body, headers)
            response = connection.getresponse()
            data = response.read()
            if response.status not in (200, 202):
                raise RuntimeError("HTTP %d: %r" % (response.status, data[:200]))
            return (json.loads(data) if data else None), {k.lower(): v for k, v in response.getheaders()}
        finally:
            connection.close()

    def call(self, tool, **arguments):
        self.next_id += 1
        reply, _ = self.post({"jsonrpc": "2.0", "id": self.next_id, "method": "tools/call",
                              "params": {"name": tool, "arguments": arguments}})
        count("calls")
        result = reply.get("result", {})
        if "error" in reply or result.get("isError"):
            count("tool_errors")
            text = json.dumps(reply, ensure_ascii=False)[:300]
            if len(last_errors) < 20:
                last_errors.append("%s: %s" % (tool, text))
            return None
        return result.get("structuredContent")


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def payload(n, peer):
    # Wave lines most of the time, a JSON document now and then, raw bytes too.
    if n % 10 == 0:
        return json.dumps({"peer": peer, "n": n, "v": [n % 7, n % 11]}).encode() + b"\n"
    if n % 10 == 5:
        return bytes(random.getrandbits(8) for _ in range(32))
    return ("@wave a=%d,b=%.3f,peer%d=1\n" % (n, (n % 100) / 7.0, peer)).encode()


def steady(sender, peer):
    n = 0
    next_at = time.monotonic()
    while not stop.is_set():
        n += 1
        try:
            sender(payload(n, peer))
            count("sent")
        except OSError:
            return
        next_at += PERIOD
        stop.wait(max(0.0, next_at - time.monotonic()))


def drain(sock):
    sock.settimeout(0.5)
    while not stop.is_set():
        try:
            if not sock.recv(65536) and sock.type == socket.SOCK_STREAM:
                return
        except socket.timeout:
            continue
        except OSError:
            return


def start(target, *args):
    thread = threading.Thread(target=target, args=args, daemon=True)
    thread.start()
    return thread


def tcp_listener_peer(peer):
    """A peer that a tcp-client channel connects to."""
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)

    def serve():
        listener.settimeout(0.5)
        while not stop.is_set():
            try:
                conn, _ = listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            start(drain, conn)
            start(steady, conn.sendall, peer)

    start(serve)
    return listener.getsockname()[1]


def tcp_client_peer(port, peer):
    """A peer that connects to a tcp-server channel (retrying until it listens)."""
    def run():
        while not stop.is_set():
            try:
                conn = socket.create_connection(("127.0.0.1", port), timeout=2)
            except OSError:
                stop.wait(0.2)
                continue
            start(drain, conn)
            steady(conn.sendall, peer)
            conn.close()
    start(run)


def udp_peer(channel_port, peer):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    start(drain, sock)
    start(steady, lambda data: sock.sendto(data, ("127.0.0.1", channel_port)), peer)
    return sock.getsockname()[1]


def mcp_connection_inodes(pid, mcp_port):
    """Sockets of MCP requests in flight: accepted connections on the MCP port."""
    inodes = set()
    for table in ("tcp", "tcp6"):
        try:
            with open("/proc/%d/net/%s" % (pid, table)) as f:
                next(f)
                for line in f:
                    fields = line.split()
                    local_port = int(fields[1].rsplit(":", 1)[1], 16)
                    if local_port == mcp_port and fields[3] != "0A":
                        inodes.add(fields[9])
        except OSError:
            pass
    return inodes


def host_figures(pid, mcp_port):
    """Resident KiB, descriptors other than MCP requests in flight, and those requests."""
    with open("/proc/%d/status" % pid) as f:
        rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
    # Connections come and go while the descriptors are listed: the tables read
    # before and after together know every one that was open meanwhile.
    transient = mcp_connection_inodes(pid, mcp_port)
    targets = []
    for name in os.listdir("/proc/%d/fd" % pid):
        try:
            targets.append(os.readlink("/proc/%d/fd/%s" % (pid, name)))
        except OSError:
            continue
    transient |= mcp_connection_inodes(pid, mcp_port)
    fds = 0
    requests = 0
    for target in targets:
        if target.startswith("socket:[") and target[8:-1] in transient:
            requests += 1
        else:
            fds += 1
    return rss, fds, requests


def client_loop(port, index, channels, loop_id, wave_id, json_id):
    try:
        mcp = Mcp(port, "soak-%d" % index)
    except Exception as error:  # noqa: BLE001 - any failure here is a finding
        count("http_errors")
        last_errors.append("client %d initialize: %s" % (index, error))
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
            if len(last_errors) < 20:
                last_errors.append("client %d: %s" % (index, error))
            stop.wait(1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True, help="mcp-test-host program")
    parser.add_argument("--minutes", type=float, default=60)
    # Wave samples fill their per-source limit only after about ten minutes.
    parser.add_argument("--warmup", type=float, default=15, help="minutes before memory must stay flat")
    parser.add_argument("--interval", type=float, default=60, help="seconds between two figures")
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

        # Per interval: elapsed minutes, resident KiB, and the fewest descriptors
        # seen (requests in flight apart: they come and go by design).
        samples = []
        began = time.monotonic()
        minute = 0
        while time.monotonic() - began < options.minutes * 60:
            lowest, highest, rss, busiest = None, None, 0, 0
            end = began + (minute + 1) * options.interval
            while time.monotonic() < end:
                if host.poll() is not None:
                    raise RuntimeError("mcp-test-host exited with %s" % host.returncode)
                rss, fds, requests = host_figures(host.pid, port)
                lowest = fds if lowest is None else min(lowest, fds)
                highest = fds if highest is None else max(highest, fds)
                busiest = max(busiest, requests)
                time.sleep(min(5, max(0.1, end - time.monotonic())))
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

        warm = [s for s in samples if s[0] <= options.warmup]
        after = [s for s in samples if s[0] > options.warmup]
        if not warm or len(after) < 2:
            failed.append("too short to judge: %d minutes after a %g minute warm-up" % (len(after), options.warmup))
        else:
            # Descriptors (requests in flight excluded) may never stay above the warm-up's.
            ceiling = max(s[2] for s in warm)
            risen = [s for s in after if s[2] > ceiling]
            if risen:
                failed.append("open descriptors grew after warm-up: at most %d during it, %d at minute %.1f"
                              % (ceiling, risen[0][2], risen[0][0]))
            # Memory: the last third of the run against the first third after warm-up.
            third = max(1, len(after) // 3)
            early = sum(s[1] for s in after[:third]) / third
            late = sum(s[1] for s in after[-third:]) / third
            allowed = max(4096.0, early * 0.03)
            print("soak: rss after warm-up: first third %.1f MiB, last third %.1f MiB (allowed growth %.1f MiB)"
                  % (early / 1024, late / 1024, allowed / 1024), flush=True)
            if late - early > allowed:
                failed.append("resident memory grew after warm-up: %.1f MiB -> %.1f MiB" % (early / 1024, late / 1024))
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
