#!/usr/bin/env python3
"""Soak of the desktop program itself, run by scripts/soak-program (not part of CI).

Starts `varnelle` offscreen in a temporary home with a workspace file of its
own. The file carries six instrument pages (two plots, three record pages and
a control panel), which the program restores at start: their sources open the
two demos, and the others bind to channels the soak opens once the program is
up. Through MCP it then opens 30 channels, each of which the window gives a
session page: a loop:// serial channel running the example frame script, a
serial channel on one end of a socat pty pair (the control panel's target), TCP
clients and servers and UDP sockets, each with a peer here that sends at a
steady rate. 8 MCP clients long-poll read_events, search the pages' displays
with search_logs and send.

Every minute it prints the program's resident memory, open descriptors, the
window tick's median and longest duration of that minute and the longest turn
of the program's event loop (the longest gap of a 10 ms probe timer, which
also counts work done outside the tick), all from the log the program writes
when VARNELLE_TICK_LOG names a file. It fails if memory or descriptors grow
after the warm-up, if the 30 pages' memory passes its limit, or if a turn of
the loop ever takes over 100 ms.

With --closer-plugins (the folder of the page-closing plugin) it also measures
memory with the first two session pages alone over a full journal, before the
other 28 open, and at the end closes those 28 with their tabs' close buttons:
memory must then come back within 20 % of the 2-page figure.
"""

import argparse
import json
import os
import select
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from soak_common import (EXAMPLE_FRAME, Mcp, count, counts, counts_lock, free_port, growth, host_figures,
                         last_errors, main_thread_seconds, note, start, steady, stop, tcp_client_peer, tcp_listener_peer, udp_peer,
                         watch_until)

TCP_CLIENTS = 11    # channels that connect to a peer listening here
TCP_SERVERS = 5     # channels that listen; a peer here connects
UDP_SOCKETS = 12
CLIENTS = 8
# An agent reads a page's display now and then, not in a loop: each search
# lays the page's text out anew, and at a search per read_events the window's
# thread does nothing else.
SEARCH_PERIOD = 1.0  # seconds between two searches of one client
LONGEST_TURN_MS = 100.0  # the longest turn of the event loop allowed, whatever runs in it
HERE = os.path.dirname(os.path.abspath(__file__))


def network_key(kind, host="127.0.0.1", network_port=9000, bind_host="127.0.0.1", bind_port=9001):
    """The key the program files a channel's pages under (Config::key)."""
    return "%s:%s:%d:%s:%d" % (kind, host, network_port, bind_host, bind_port)


def serial_key(port):
    return "serial:" + port.lower()


WAVE_DEMO = network_key("demo", host="waveform-demo")
STRUCTURED_DEMO = network_key("demo", host="structured-demo")


def control_panel():
    """A control panel with a paced (auto-send) slider and a send button."""
    def control(kind, title, key, value, auto_send):
        return {"type": kind, "title": title, "key": key, "value": value, "minimum": 0, "maximum": 100,
                "step": 1, "decimals": 0, "auto_send": auto_send, "options": "", "format": "text",
                "pattern": "SET {key} {value}", "encoding": "utf-8", "newline": "crlf"}
    return {"groups": [{"id": "soak", "name": "soak",
                        "controls": [control("slider", "速度", "speed", "10", True),
                                     control("button", "复位", "reset", "1", False)]}],
            "active_group": "soak", "layout_version": 2}


class Socat:
    """A pty pair: the program's serial channel on one end, a peer here on the other."""

    def __init__(self, folder):
        self.a = os.path.join(folder, "pty-a")
        self.b = os.path.join(folder, "pty-b")
        self.process = subprocess.Popen(["socat", "pty,raw,echo=0,link=" + self.a, "pty,raw,echo=0,link=" + self.b],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + 10
        while not (os.path.exists(self.a) and os.path.exists(self.b)):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("socat did not make its pty pair")
            time.sleep(0.05)

    def peer(self, peer):
        fd = os.open(self.b, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)

        def write(data):
            # The program may be slow to read; a full pty waits for room rather than failing.
            view = memoryview(data)
            while view and not stop.is_set():
                try:
                    view = view[os.write(fd, view):]
                except BlockingIOError:
                    select.select([], [fd], [], 0.5)

        def read():
            while not stop.is_set():
                ready, _, _ = select.select([fd], [], [], 0.5)
                if ready:
                    try:
                        if os.read(fd, 65536):
                            count("pty_received")
                    except BlockingIOError:
                        continue
                    except OSError:
                        return

        start(read)
        start(steady, write, peer)


def stop_process(process, name, grace=10):
    """Stops a process the soak started, by its PID: TERM, then KILL."""
    if process is None or process.poll() is not None:
        return
    try:
        os.kill(process.pid, signal.SIGTERM)
        process.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        print("soak: %s (pid %d) ignored SIGTERM; killing it" % (name, process.pid), flush=True)
        os.kill(process.pid, signal.SIGKILL)
        process.wait()
    except ProcessLookupError:
        pass


def wait_for_server(port, program, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if program.poll() is not None:
            raise RuntimeError("varnelle exited at start with %s" % program.returncode)
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.1)
    raise RuntimeError("varnelle's MCP server did not listen on port %d within %d s" % (port, seconds))


def new_tick_lines(path, offset):
    """Lines the program appended to its tick log since `offset`, and the new offset:
    (ticks, tick median ms, longest tick ms, longest turn of the loop ms) each."""
    try:
        with open(path, "rb") as f:
            f.seek(offset)
            data = f.read()
    except FileNotFoundError:
        return [], offset
    whole = data[:data.rfind(b"\n") + 1]
    figures = []
    for line in whole.decode().splitlines():
        fields = dict(part.split("=", 1) for part in line.split())
        figures.append((int(fields["ticks"]), float(fields["median_ms"]), float(fields["longest_ms"]),
                        loop_turn(fields)))
    return figures, offset + len(whole)


def loop_turn(fields):
    """The longest turn of the event loop of one tick-log line: the probe's longest
    gap, or the longest tick from a program that does not probe its loop."""
    return float(fields.get("loop_longest_ms", fields["longest_ms"]))


def tick_text(fresh):
    """The minute's tick and loop figures, as the soak prints them."""
    return "  ".join("tick median %5.2f ms longest %6.2f ms (%d), loop turn longest %7.2f ms"
                     % (median, longest, n, turn) for n, median, longest, turn in fresh) or "tick: no line yet"


def slow_turns(fresh, minute):
    """A failure line when a turn of the loop took longer than allowed in the minute."""
    slow = [turn for _, _, _, turn in fresh if turn > LONGEST_TURN_MS]
    if not slow:
        return []
    return ["the event loop was held %.1f ms in minute %d (limit %.0f ms)" % (max(slow), minute, LONGEST_TURN_MS)]


def tick_summary(ticks):
    return ("window tick: %d ticks, median of the minutes' medians %.2f ms, longest %.2f ms; "
            "longest turn of the loop %.2f ms (limit %.0f ms)"
            % (sum(t[0] for t in ticks), statistics.median(t[1] for t in ticks), max(t[2] for t in ticks),
               max(t[3] for t in ticks), LONGEST_TURN_MS))


def receive_view(mcp, channel_id):
    listed = mcp.call("list_search_views", channel_id=channel_id) or {}
    for view in listed.get("views", []):
        if view.get("kind") not in ("json", "xml", "serial-monitor"):
            return view["view_id"]
    return None


def client_loop(port, index, own, loop_id, pty_id, wave_id, json_id, halt=stop):
    try:
        mcp = Mcp(port, "soak-%d" % index)
    except Exception as error:  # noqa: BLE001 - any failure here is a finding
        count("http_errors")
        note("client %d initialize: %s" % (index, error))
        return
    cursor = 0
    view = None
    n = 0
    searches = 0
    next_search = time.monotonic()
    while not halt.is_set():
        n += 1
        try:
            events = mcp.call("read_events", channel_id=own, after=cursor, limit=200, wait_ms=1000)
            if events:
                cursor = events.get("next_cursor", cursor)
                if events.get("cursor_reset_required"):
                    cursor = 0
            if time.monotonic() >= next_search:
                next_search += SEARCH_PERIOD
                searches += 1
                if view is None:
                    view = receive_view(mcp, own)
                if view is not None:
                    arguments = {"channel_id": own, "view_id": view, "limit": 50}
                    if searches % 20 == 0:
                        # Through the real search box, as an agent narrowing the display would.
                        arguments["filter"] = {"text": "peer" if searches % 40 == 0 else ""}
                    found = mcp.call("search_logs", **arguments)
                    if found is None:
                        view = None
                    else:
                        count("searches")
            if n % 3 == 0:
                mcp.call("send_data", channel_id=loop_id, payload=EXAMPLE_FRAME, hex_mode=True)
            if n % 4 == 0:
                mcp.call("send_data", channel_id=own, payload="soak %d %d" % (index, n), newline="lf")
            if n % 5 == index % 5:
                mcp.call("send_data", channel_id=pty_id, payload="SET client%d %d" % (index, n), newline="crlf")
            if n % 11 == 0:
                mcp.call("get_status")
                mcp.call("read_script_results", channel_id=loop_id, after=0, limit=20)
                mcp.call("read_waveform", channel_id=wave_id, limit=200)
                mcp.call("read_structured", channel_id=json_id, after=0, limit=20)
        except Exception as error:  # noqa: BLE001
            if halt.is_set():
                return
            count("http_errors")
            note("client %d: %s" % (index, error))
            halt.wait(1)


def open_channel(admin, config):
    opened = admin.call("open_connection", config=config)
    if opened is None:
        raise RuntimeError("open_connection %s refused: %s" % (config.get("name"), last_errors[-1:]))
    return opened["id"]


def check_pages(admin, settings_path, session_keys, instruments):
    """What the window shows, from the workspace file it writes: a session page
    filed under each channel's key, and the instrument pages with their sources."""
    view = None
    for channel_id in session_keys.values():
        view = receive_view(admin, channel_id)
        if view:
            # A search with a filter makes the window write its workspace file.
            admin.call("search_logs", channel_id=channel_id, view_id=view, filter={"text": ""}, limit=1)
            break
    with open(settings_path, encoding="utf-8") as f:
        written = json.load(f)
    views = written.get("views", {})
    missing = [key for key in session_keys if key not in views]
    pages = written.get("widget_pages", [])
    shown = sorted((page.get("kind"), page.get("source_key")) for page in pages)
    wanted = sorted((page["kind"], page["source_key"]) for page in instruments)
    problems = []
    if missing:
        problems.append("no session page for %d channels: %s" % (len(missing), ", ".join(missing[:5])))
    if shown != wanted:
        problems.append("instrument pages differ: %s" % shown)
    searchable = sum(1 for channel_id in session_keys.values() if receive_view(admin, channel_id))
    return ("pages: %d session pages filed, %d of %d channels searchable in their page, %d instrument pages (%s)"
            % (len(views), searchable, len(session_keys), len(pages),
               ", ".join("%s on %s" % (kind, key) for kind, key in shown))), problems


def records_in(result):
    """Records a structured or script read found, over all its sources."""
    return sum(len(source.get("records", [])) for source in (result or {}).get("sources", {}).values())


def traffic(admin, wave_id, json_id, loop_id, pty_id):
    """What the instrument pages' channels received, as the program reports it."""
    waves = admin.call("read_waveform", channel_id=wave_id, limit=1) or {}
    samples = sum(source.get("total_samples", 0) for source in waves.get("sources", {}).values())
    records = records_in(admin.call("read_structured", channel_id=json_id, after=0, limit=20))
    scripted = records_in(admin.call("read_script_results", channel_id=loop_id, after=0, limit=20))
    pty = admin.call("read_events", channel_id=pty_id, after=0, limit=1) or {}
    line = ("traffic: %d wave samples on the plotted TCP channel, %d+ JSON records on the recorded one, "
            "%d+ frame-script results on loop://, pty channel journal at %s, its peer read %d times"
            % (samples, records, scripted, pty.get("next_cursor", "?"), counts.get("pty_received", 0)))
    problems = []
    for figure, what in ((samples, "wave samples"), (records, "JSON records"), (scripted, "frame-script results"),
                         (counts.get("pty_received", 0), "bytes from the pty channel")):
        if not figure:
            problems.append("no %s arrived" % what)
    return line, problems


PLATEAU_LIMIT_MIB = 200.0   # resident memory of the 30 busy pages once warm
CLOSED_WITHIN = 0.20        # after closing 28 pages, this close to the 2-page figure
JOURNAL_FULL = 22000        # events: past the journal's bound of 20,000


def resident_mib(pid, mcp_port, seconds):
    """The median of the resident set over `seconds`, in MiB."""
    figures = []
    end = time.monotonic() + seconds
    while True:
        figures.append(host_figures(pid, mcp_port)[0] / 1024.0)
        if time.monotonic() >= end:
            return statistics.median(figures)
        time.sleep(min(2.0, max(0.1, end - time.monotonic())))


def fill_journal(port, loop_id, program):
    """Sends to loop:// until the journal holds as many events as it ever
    keeps, so that a figure taken now carries a full journal as a later one does."""
    def sender(index):
        mcp = Mcp(port, "soak-fill-%d" % index)
        n = 0
        while not done.is_set() and not stop.is_set():
            n += 1
            mcp.call("send_data", channel_id=loop_id, newline="lf",
                     payload="@wave a=%d,b=%.3f,fill%d=1" % (n, (n % 100) / 7.0, index))
    admin = Mcp(port, "soak-fill")
    done = threading.Event()
    threads = [start(sender, i) for i in range(4)]
    deadline = time.monotonic() + 600
    try:
        while time.monotonic() < deadline:
            if program.poll() is not None:
                raise RuntimeError("varnelle exited with %s while the journal filled" % program.returncode)
            status = admin.call("get_status") or {}
            if status.get("latest_cursor", 0) >= JOURNAL_FULL:
                return status["latest_cursor"]
            time.sleep(1)
        raise RuntimeError("the journal did not reach %d events within 600 s" % JOURNAL_FULL)
    finally:
        done.set()
        for thread in threads:
            thread.join(timeout=30)


def two_page_figure(program, port, loop_id, settle_seconds):
    """Resident memory with the two first session pages (and the instrument
    pages) alone, over a full journal: what the closing step must come back to."""
    events = fill_journal(port, loop_id, program)
    time.sleep(settle_seconds)  # the pages read the backlog, 500 events a tick
    figure = resident_mib(program.pid, port, 20)
    print("soak: 2 session pages, journal at %d events: rss %.1f MiB" % (events, figure), flush=True)
    return figure


def judge_plateau(samples, warmup):
    """The 30 busy pages' memory once warm against its limit."""
    after = [s for s in samples if s[0] > warmup] or samples[-1:]
    if not after:
        return [], []
    third = after[-max(1, len(after) // 3):]
    plateau = sum(s[1] for s in third) / len(third) / 1024.0
    line = "rss plateau with 30 session pages: %.1f MiB (limit %.0f MiB)" % (plateau, PLATEAU_LIMIT_MIB)
    failed = ["resident memory %.1f MiB over the %.0f MiB limit" % (plateau, PLATEAU_LIMIT_MIB)] \
        if plateau > PLATEAU_LIMIT_MIB else []
    return [line], failed


def close_pages_step(program, port, request, names, two_pages, settle_seconds):
    """Closes the named session pages with their tabs' close buttons (the
    page-closing plugin clicks them) and compares what the program then holds
    with the 2-page figure."""
    before = resident_mib(program.pid, port, 5)
    with open(request + ".tmp", "w", encoding="utf-8") as f:
        json.dump({"close": names}, f, ensure_ascii=False)
    os.replace(request + ".tmp", request)
    deadline = time.monotonic() + 120
    while not os.path.exists(request + ".done"):
        if program.poll() is not None:
            raise RuntimeError("varnelle exited with %s while closing pages" % program.returncode)
        if time.monotonic() > deadline:
            return ["closing pages: no answer from the page-closing plugin within 120 s"], \
                ["the page-closing plugin did not close the pages"]
        time.sleep(0.5)
    with open(request + ".done", encoding="utf-8") as f:
        answer = json.load(f)
    time.sleep(settle_seconds)
    after = resident_mib(program.pid, port, 20)
    lines = ["closed %d session pages with their close buttons: rss %.1f MiB before, %.1f MiB after, "
             "2-page figure %.1f MiB (%+.0f %%, allowed %.0f %%)"
             % (answer.get("closed", 0), before, after, two_pages, 100.0 * (after - two_pages) / two_pages,
                100.0 * CLOSED_WITHIN)]
    failed = []
    if answer.get("missing") or answer.get("closed", 0) != len(names):
        failed.append("pages not closed: %s" % answer.get("missing"))
    if abs(after - two_pages) > CLOSED_WITHIN * two_pages:
        failed.append("after closing %d pages rss %.1f MiB is not within %.0f %% of the 2-page %.1f MiB"
                      % (len(names), after, 100.0 * CLOSED_WITHIN, two_pages))
    return lines, failed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True, help="the varnelle program")
    parser.add_argument("--minutes", type=float, default=60)
    parser.add_argument("--warmup", type=float, default=15, help="minutes before memory must stay flat")
    parser.add_argument("--interval", type=float, default=60, help="seconds between two figures")
    parser.add_argument("--closer-plugins", default="",
                        help="folder with generic/libvn_soak_page_closer.so; without it no pages are closed")
    options = parser.parse_args()
    options.program = os.path.abspath(options.program)

    def terminated(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, terminated)
    # Also when started in the background, where the shell has SIGINT ignored.
    signal.signal(signal.SIGINT, signal.default_int_handler)

    folder = tempfile.mkdtemp(prefix="varnelle-soak-")
    home = os.path.join(folder, "home")
    runtime = os.path.join(folder, "run")
    for path in (home, runtime):
        os.makedirs(path, mode=0o700)
    settings_path = os.path.join(home, "settings.json")
    tick_log = os.path.join(folder, "ticks.log")
    program_log = os.path.join(folder, "varnelle.log")
    environment = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                       XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                       XDG_CACHE_HOME=os.path.join(home, ".cache"), XDG_RUNTIME_DIR=runtime,
                       QT_QPA_PLATFORM="offscreen", VARNELLE_TICK_LOG=tick_log)
    close_request = os.path.join(folder, "close.json")
    if options.closer_plugins:
        environment.update(QT_PLUGIN_PATH=os.path.abspath(options.closer_plugins),
                           QT_QPA_GENERIC_PLUGINS="vnsoakpagecloser", VN_SOAK_CLOSE_REQUEST=close_request)
    environment.pop("LOCALAPPDATA", None)

    program = None
    socat = None
    failed = []
    samples = []
    ticks = []
    rss_marks = {}
    fd_marks = {}
    two_pages = None
    halt_clients = threading.Event()
    try:
        socat = Socat(folder)
        print("soak: socat pid %d: %s <-> %s" % (socat.process.pid, socat.a, socat.b), flush=True)

        # The peers first: their ports are part of the keys the pages are filed under.
        planned = []  # (session key, open_connection config, peer starter or None)
        for i in range(TCP_CLIENTS):
            peer_port = tcp_listener_peer(i)
            planned.append((network_key("tcp-client", network_port=peer_port),
                            {"kind": "tcp-client", "host": "127.0.0.1", "network_port": peer_port,
                             "bind_host": "127.0.0.1", "bind_port": 9001, "name": "soak tcp %d" % i}, None))
        for i in range(TCP_SERVERS):
            listen = free_port()
            planned.append((network_key("tcp-server", bind_port=listen),
                            {"kind": "tcp-server", "host": "127.0.0.1", "network_port": 9000,
                             "bind_host": "127.0.0.1", "bind_port": listen, "name": "soak server %d" % i},
                            (tcp_client_peer, listen, 100 + i)))
        for i in range(UDP_SOCKETS):
            bind = free_port(socket.SOCK_DGRAM)
            # The peer's own port is where the channel sends to.
            peer_port = udp_peer(bind, 200 + i)
            planned.append((network_key("udp", network_port=peer_port, bind_port=bind),
                            {"kind": "udp", "bind_host": "127.0.0.1", "bind_port": bind, "host": "127.0.0.1",
                             "network_port": peer_port, "name": "soak udp %d" % i}, None))
        wave_key, json_key = planned[0][0], planned[1][0]
        instruments = [
            {"kind": "waveform", "source_key": WAVE_DEMO, "title": "soak 波形 demo"},
            {"kind": "waveform", "source_key": wave_key, "title": "soak 波形 tcp"},
            {"kind": "json", "source_key": STRUCTURED_DEMO, "title": "soak JSON demo"},
            {"kind": "xml", "source_key": STRUCTURED_DEMO, "title": "soak XML demo"},
            {"kind": "json", "source_key": json_key, "title": "soak JSON tcp"},
            {"kind": "control", "source_key": serial_key(socat.a), "title": "soak 控制",
             "serial_controls": control_panel()},
        ]
        mcp_port = free_port()
        with open(settings_path, "w", encoding="utf-8") as f:
            json.dump({"allow_ai_control": True, "mcp_port": mcp_port, "widget_pages": instruments,
                       "views": {}}, f, ensure_ascii=False, indent=2)

        with open(program_log, "wb") as log:
            program = subprocess.Popen([options.program, "--settings", settings_path, "--mcp-port", str(mcp_port)],
                                       env=environment, cwd=home, stdin=subprocess.DEVNULL, stdout=log,
                                       stderr=subprocess.STDOUT, start_new_session=True)
        print("soak: varnelle pid %d, MCP on port %d, home %s" % (program.pid, mcp_port, home), flush=True)
        wait_for_server(mcp_port, program)

        admin = Mcp(mcp_port, "soak-admin")
        demos = {c["config"]["host"]: c["id"] for c in admin.call("get_status")["connections"]
                 if c["config"].get("kind") == "demo"}
        if "waveform-demo" not in demos or "structured-demo" not in demos:
            raise RuntimeError("the instrument pages did not open both demos: %s" % sorted(demos))

        loop_id = open_channel(admin, {"kind": "serial", "port": "loop://", "name": "soak loop"})
        script = admin.call("get_frame_script", channel_id=loop_id)
        with open(os.path.join(HERE, "example.fs"), encoding="utf-8") as f:
            code = f.read()
        if admin.call("set_frame_script", channel_id=loop_id, code=code, enabled=True,
                      expected_revision=script["revision"]) is None:
            raise RuntimeError("frame script refused: %s" % last_errors[-1:])
        pty_id = open_channel(admin, {"kind": "serial", "port": socat.a, "baudrate": 115200, "name": "soak pty"})
        socat.peer(300)
        session_keys = {serial_key("loop://"): loop_id, serial_key(socat.a): pty_id}
        if options.closer_plugins:
            two_pages = two_page_figure(program, mcp_port, loop_id, 10)
        channels = []
        for key, config, peer in planned:
            channel_id = open_channel(admin, config)
            session_keys[key] = channel_id
            channels.append(channel_id)
            if peer:
                peer[0](*peer[1:])
        wave_id, json_id = channels[0], channels[1]
        listed = admin.call("list_connections")
        if isinstance(listed, dict):
            listed = listed.get("connections", listed.get("result", []))
        total = len(listed or [])
        print("soak: %d channels open (%d TCP clients, %d TCP servers, %d UDP, loop:// with the frame script, "
              "a socat pty, 2 demos)" % (total, TCP_CLIENTS, TCP_SERVERS, UDP_SOCKETS), flush=True)

        for i in range(CLIENTS):
            start(client_loop, mcp_port, i, (channels + [loop_id, pty_id])[i * 4 % (len(channels) + 2)],
                  loop_id, pty_id, wave_id, json_id, halt_clients)

        stop.wait(5)
        line, problems = check_pages(admin, settings_path, session_keys, instruments)
        print("soak: " + line, flush=True)
        failed.extend(problems)

        start_rss, start_fds, _ = host_figures(program.pid, mcp_port)
        began = time.monotonic()
        tick_offset = 0
        minute = 0
        thread_seconds, thread_clock = main_thread_seconds(program.pid), time.monotonic()
        while time.monotonic() - began < options.minutes * 60:
            end = began + (minute + 1) * options.interval
            rss, lowest, highest, busiest = watch_until(program, "varnelle", mcp_port, end)
            minute += 1
            # Counted by the minute it measured, so the warm-up's last lands inside it.
            elapsed = minute * options.interval / 60
            samples.append((elapsed, rss, lowest))
            fresh, tick_offset = new_tick_lines(tick_log, tick_offset)
            now_seconds = main_thread_seconds(program.pid)
            now_clock = time.monotonic()
            busy = 100.0 * (now_seconds - thread_seconds) / max(1e-3, now_clock - thread_clock)
            thread_seconds, thread_clock = now_seconds, now_clock
            ticks.extend(fresh)
            with counts_lock:
                snapshot = dict(counts)
            print("soak: minute %5.1f  rss %7.1f MiB  fds %3d..%-3d (+%d MCP requests)  %s  window thread busy %3.0f %%  "
                  "calls %7d  searches %6d  tool errors %d  http errors %d  peer sends %d"
                  % (elapsed, rss / 1024.0, lowest, highest, busiest, tick_text(fresh), busy, snapshot["calls"],
                     snapshot.get("searches", 0), snapshot["tool_errors"], snapshot["http_errors"],
                     snapshot["sent"]), flush=True)
            failed.extend(slow_turns(fresh, minute))

        line, problems = traffic(admin, wave_id, json_id, loop_id, pty_id)
        print("soak: " + line, flush=True)
        failed.extend(problems)

        lines, problems = growth(samples, options.warmup)
        for line in lines:
            print("soak: " + line, flush=True)
        failed.extend(problems)
        lines, problems = judge_plateau(samples, options.warmup)
        for line in lines:
            print("soak: " + line, flush=True)
        failed.extend(problems)
        warm = [s for s in samples if s[0] <= options.warmup]
        rss_marks = {"start": start_rss, "after warm-up": (warm or samples)[-1][1], "end": samples[-1][1]}
        fd_marks = {"start": start_fds, "after warm-up": (warm or samples)[-1][2], "end": samples[-1][2]}
        if not ticks:
            failed.append("the program wrote no tick figures to %s" % tick_log)
        if counts["http_errors"]:
            failed.append("%d HTTP failures" % counts["http_errors"])
        if two_pages is not None:
            halt_clients.set()
            closing = [config["name"] for _, config, _ in planned]
            lines, problems = close_pages_step(program, mcp_port, close_request, closing, two_pages, 15)
            for line in lines:
                print("soak: " + line, flush=True)
            failed.extend(problems)
    except KeyboardInterrupt:
        failed.append("interrupted")
    except Exception as error:  # noqa: BLE001
        failed.append(str(error))
    finally:
        stop.set()
        stop_process(program, "varnelle")
        stop_process(socat.process if socat else None, "socat")

    print("soak: summary: %d minutes, warm-up %g" % (len(samples), options.warmup))
    if rss_marks:
        print("soak:   resident memory MiB: " + ", ".join("%s %.1f" % (k, v / 1024) for k, v in rss_marks.items()))
        print("soak:   open descriptors:    " + ", ".join("%s %d" % (k, v) for k, v in fd_marks.items()))
    if ticks:
        print("soak:   " + tick_summary(ticks))
    print("soak:   MCP calls %d (searches %d), tool errors %d, HTTP errors %d, peer sends %d"
          % (counts["calls"], counts.get("searches", 0), counts["tool_errors"], counts["http_errors"], counts["sent"]))
    for line in last_errors[:10]:
        print("soak: note: %s" % line)
    if failed:
        for line in failed:
            print("soak: FAILED: %s" % line)
        print("soak: program output and tick log kept in %s" % folder)
        return 1
    shutil.rmtree(folder, ignore_errors=True)
    print("soak: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
