"""What the soaks share (not part of CI): the MCP client, the peers that send
at a steady rate, the figures read from /proc, and the growth checks.

State is per process: one soak runs in one interpreter, so the stop flag and
the call counts live here and every thread of the soak reads the same ones.
"""

import http.client
import json
import os
import random
import socket
import threading
import time

EXAMPLE_FRAME = "AA 55 C4 09 E4 0C BC 0D"
PERIOD = 0.1        # seconds between two deliveries of one peer

stop = threading.Event()
counts = {"calls": 0, "tool_errors": 0, "http_errors": 0, "sent": 0}
counts_lock = threading.Lock()
last_errors = []


def count(key, n=1):
    with counts_lock:
        counts[key] = counts.get(key, 0) + n


def note(text):
    if len(last_errors) < 20:
        last_errors.append(text)


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
            note("%s: %s" % (tool, json.dumps(reply, ensure_ascii=False)[:300]))
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


def main_thread_seconds(pid):
    """CPU seconds the host's main (event-loop) thread has used."""
    try:
        with open("/proc/%d/task/%d/stat" % (pid, pid)) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except OSError:
        return 0.0


def watch_until(process, name, mcp_port, end):
    """Reads the process's figures every few seconds until the monotonic time
    `end`: returns its last resident KiB, the fewest and most descriptors other
    than requests in flight, and the most requests in flight."""
    lowest, highest, rss, busiest = None, None, 0, 0
    while time.monotonic() < end:
        if process.poll() is not None:
            raise RuntimeError("%s exited with %s" % (name, process.returncode))
        rss, fds, requests = host_figures(process.pid, mcp_port)
        lowest = fds if lowest is None else min(lowest, fds)
        highest = fds if highest is None else max(highest, fds)
        busiest = max(busiest, requests)
        time.sleep(min(5, max(0.1, end - time.monotonic())))
    return rss, lowest, highest, busiest


def growth(samples, warmup):
    """Judges samples of (elapsed minutes, resident KiB, fewest descriptors):
    returns the figure lines to print and the failures."""
    lines, failed = [], []
    warm = [s for s in samples if s[0] <= warmup]
    after = [s for s in samples if s[0] > warmup]
    if not warm or len(after) < 2:
        failed.append("too short to judge: %d minutes after a %g minute warm-up" % (len(after), warmup))
        return lines, failed
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
    lines.append("rss after warm-up: first third %.1f MiB, last third %.1f MiB (allowed growth %.1f MiB)"
                 % (early / 1024, late / 1024, allowed / 1024))
    if late - early > allowed:
        failed.append("resident memory grew after warm-up: %.1f MiB -> %.1f MiB" % (early / 1024, late / 1024))
    return lines, failed
