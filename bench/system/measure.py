#!/usr/bin/python3
"""Measures the real tagrelay.exe under Wine against simulated servers and a SCADA peer on
127.0.0.1, and prints the figures (no pass or fail):

  idle      working set, CPU, handles and threads with two servers connected and nothing to do
  sync      getValues round trip in "sync" mode: 400 tags (one request line) and 1000 tags
            (three request lines sent at once, until the last answer)
  latency   from a value change in the simulator to the push line at the peer, "async" mode
  tags      getTags of the 2806-tag simulated plant
  rate      the highest sustained push rate (tag values per second) at which every change
            arrives, with the log off and with it on
  servers   getOPCServers round trip, the first request after a registry change and the ones
            that follow, in the prefix as it is and with 10,000 extra program identifier keys
  lines     the highest sustained rate of push lines at which every change arrives, with the
            log off and with it on (one line per server and step, 20 tags a line); a picture of
            the screen after the log-on run shows the log's last entries

Each figure is taken with the simulated servers in the agent's process and then out of process
(opcsim-server.exe, one process per server, through the test proxy/stub), same run.

Usage: bench/system/measure.py [--build-dir build/windows]
        [--only idle,sync,tags,latency,rate,servers,lines] [--servers inproc,local]
        [--agent-exe tagrelay.exe]
See bench/README.md for what each figure means and how it is taken.
"""
import argparse
import os
import statistics
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "system"))
sys.path.insert(0, str(ROOT / "tools" / "scada-peer"))

from load_support import (PushChecker, ResourceProbe, SimRegistration, chunks,  # noqa: E402
                          connect_and_browse, counter_server, drain, request_values, tag_path,
                          write_config)
from scada_peer import ScadaPeer  # noqa: E402
from winagent import Agent, OpcSimInstall, Wine, local_clsid, windows_path  # noqa: E402

RATE_A = "{5A1D0C11-7D3B-4B7E-9C21-0F8E4A200001}"
RATE_B = "{5A1D0C11-7D3B-4B7E-9C21-0F8E4A200002}"
SLOW_A = "{5A1D0C11-7D3B-4B7E-9C21-0F8E4A200005}"
SLOW_B = "{5A1D0C11-7D3B-4B7E-9C21-0F8E4A200006}"
SYNC = "{5A1D0C11-7D3B-4B7E-9C21-0F8E4A200003}"
PROBE = "{5A1D0C11-7D3B-4B7E-9C21-0F8E4A200004}"
# The rate servers' counters step every FAST_PERIOD; their groups report at RATE_UPDATE, so that
# every step has a report of its own even when a report comes late on a loaded machine.
FAST_PERIOD = 200  # ms
RATE_UPDATE = 50  # ms
SLOW_PERIOD = 1000  # ms: one line a second per server, for the log-on runs
FAST_TAGS = 30000  # per rate server (a group holds up to 65536 items)
CONNECT_TIMEOUT = 90
# The lines run: LINE_SERVERS small servers whose LINE_TAGS counters step every LINE_PERIOD, so
# each subscribed server sends 1000 / LINE_PERIOD lines a second.
LINE_SERVERS = 40
LINE_TAGS = 20
LINE_PERIOD = 100  # ms
LINE_UPDATE = 10  # ms
LINES = [f"{{5A1D0C11-7D3B-4B7E-9C21-0F8E4A2001{n:02X}}}" for n in range(LINE_SERVERS)]


def bench_servers(fast_tags=FAST_TAGS):
    """Three configuration files: the simulator, which runs inside the agent's process, loads
    the whole file of a server it serves, so the small servers of the idle, sync and latency
    runs come without the rate servers' tens of thousands of tags."""
    probe_leaf = {"leaf": "Probe", "type": "I4", "access": "rw", "value": 0}
    return {
        "bench_rate.json": [
            counter_server("Tagrelay.Bench.RateA.1", RATE_A, [("F", fast_tags, FAST_PERIOD)]),
            counter_server("Tagrelay.Bench.RateB.1", RATE_B, [("F", fast_tags, FAST_PERIOD)])],
        "bench_rate_slow.json": [
            counter_server("Tagrelay.Bench.SlowA.1", SLOW_A, [("F", fast_tags, SLOW_PERIOD)]),
            counter_server("Tagrelay.Bench.SlowB.1", SLOW_B, [("F", fast_tags, SLOW_PERIOD)])],
        "bench_lines.json": [
            counter_server(f"Tagrelay.Bench.Lines{n:02d}.1", sid, [("L", LINE_TAGS, LINE_PERIOD)])
            for n, sid in enumerate(LINES)],
        "bench_small.json": [
            counter_server("Tagrelay.Bench.Sync.1", SYNC, [("S", 1000, 1000)]),
            counter_server("Tagrelay.Bench.Probe.1", PROBE, [("S", 1000, 1000)], [probe_leaf])],
    }


def percentile(values, q):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(q / 100 * (len(ordered) - 1))))]


def ms(seconds):
    return f"{seconds * 1000:.1f} ms"


class Session:
    """Wine, the registered bench servers, one agent in a folder of its own and the peer. The
    servers run in the agent's process (opcsim.dll) or, with local, in processes of their own
    (opcsim-server.exe through the test proxy/stub), under identities of their own."""

    def __init__(self, build, work, local=False):
        self.build = build
        self.work = work
        self.local = local
        self.wine = Wine(build)
        self.agent = None
        self.peer = None
        self.probe = None
        self.exe = None  # another tagrelay.exe to measure instead of the build's

    def id(self, clsid):
        """The class identifier the agent lists the configured server under."""
        return local_clsid(clsid) if self.local else clsid

    def start_agent(self, log=False, **settings):
        """settings: more keys of the configuration file (Browse=2, say)."""
        self.peer = ScadaPeer().start()
        self.agent = Agent(self.wine, Path(tempfile.mkdtemp(dir=self.work)))
        if self.exe:
            shutil.copy(self.exe, self.agent.exe)
        self.agent.configure(port=self.peer.port, uid="4711000099", **settings)
        self.agent.start()
        self.probe = ResourceProbe(self.build, self.agent.exe)
        if log:
            enable = self.build / "tools" / "wine" / "enable_log.exe"
            if self.wine.run(enable, timeout=30).returncode != 0:
                raise RuntimeError("enable_log.exe could not tick the log switch")
        self.peer.wait_json("serverOnline", timeout=CONNECT_TIMEOUT)

    def stop_agent(self):
        try:
            self.agent.close()
        except subprocess.TimeoutExpired:
            pass  # close() has already ended it by force
        self.peer.stop()


# ---------------------------------------------------------------- idle

def measure_idle(session, seconds):
    session.start_agent()
    peer = session.peer
    for n, sid in enumerate((session.id(SYNC), session.id(PROBE))):
        connect_and_browse(peer, sid, 10 + 10 * n, "async", 100)
    time.sleep(5)
    begin, t0 = session.probe.sample(), time.monotonic()
    time.sleep(seconds)
    end, t1 = session.probe.sample(), time.monotonic()
    cpu = (end["cpuSeconds"] - begin["cpuSeconds"]) / (t1 - t0) * 100
    print(f"idle, 2 servers of 1000 tags connected and browsed ({seconds:.0f} s): working set "
          f"{end['rssKb'] / 1024:.1f} MB, CPU {cpu:.2f} % of one core, {end['handles']} handles, "
          f"{end['threads']} threads")
    session.stop_agent()


# ---------------------------------------------------------------- sync round trip

def measure_sync(session, rounds):
    session.start_agent()
    peer = session.peer
    sync = session.id(SYNC)
    tags = connect_and_browse(peer, sync, 10, "sync", 500)
    hashes = [h for n, h in tags.items() if tag_path(n)[:2] == ["Load", "S"]]
    _, transid = request_values(peer, sync, hashes, 100)  # builds the group
    time.sleep(1.5)  # the update cycle reads the values into the cache
    one, three = [], []
    for _ in range(rounds):
        started = time.monotonic()
        peer.send({"cmd": "getValues", "TransID": transid, "OPCServerID": sync,
                   "tagNames": hashes[:400]})
        _, answer = peer.wait_json("getValues", TransID=transid)
        one.append(time.monotonic() - started)
        assert len(answer["values"]) == 400 and all(answer["values"])
        transid += 1
        started = time.monotonic()
        last = transid
        for part in chunks(hashes):
            peer.send({"cmd": "getValues", "TransID": last, "OPCServerID": sync,
                       "tagNames": part})
            last += 1
        peer.wait_json("getValues", TransID=last - 1)
        three.append(time.monotonic() - started)
        transid = last
    print(f"getValues round trip, sync, {rounds} rounds: 400 tags (one line) median "
          f"{ms(statistics.median(one))}, p99 {ms(percentile(one, 99))}; 1000 tags "
          f"(3 lines at once) median {ms(statistics.median(three))}, "
          f"p99 {ms(percentile(three, 99))}")
    session.stop_agent()


# ---------------------------------------------------------------- server list

EXTRA_KEYS = 10000


def classes_reg_file(path, count, remove=False):
    """A .reg file that adds (or removes) `count` program identifier keys under
    HKLM\\Software\\Classes, each with a CLSID subkey and no OPC key: what installed programs leave
    there. `reg import` applies it in one go."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for n in range(count):
        key = rf"HKEY_LOCAL_MACHINE\Software\Classes\Tagrelay.Bench.Extra{n:05d}.1"
        if remove:
            lines += [f"[-{key}]", ""]
        else:
            clsid = f"{{5A1D0C11-0000-4000-8000-{n:012d}}}"
            lines += [f"[{key}]", '@="Bench extra"', "", f"[{key}\\CLSID]", f'@="{clsid}"', ""]
    path.write_text("\r\n".join(lines), encoding="utf-16")
    return path


def server_list_round_trips(peer, transid, count):
    times = []
    for n in range(count):
        started = time.monotonic()
        peer.send({"cmd": "getOPCServers", "TransID": transid + n})
        peer.wait_json("getOPCServers", TransID=transid + n, timeout=120)
        times.append(time.monotonic() - started)
    return times


def measure_servers(session, rounds):
    """The first getOPCServers after a change of HKLM\\Software\\Classes (a key added and
    removed again) and the `rounds` that follow it, once in the prefix as it is and once with
    EXTRA_KEYS more keys; the agent runs throughout."""
    wine = session.wine
    marker = r"HKLM\Software\Classes\Tagrelay.Bench.Marker"
    add = classes_reg_file(session.work / "extra_add.reg", EXTRA_KEYS)
    remove = classes_reg_file(session.work / "extra_remove.reg", EXTRA_KEYS, remove=True)
    session.start_agent()
    transid = 100
    try:
        for label in ("prefix as it is", f"with {EXTRA_KEYS} extra keys"):
            if label.startswith("with"):
                t0 = time.monotonic()
                if wine.run("reg", "import", windows_path(add), timeout=600).returncode != 0:
                    raise RuntimeError("reg import of the extra keys failed")
                print(f"  ({EXTRA_KEYS} keys imported in {time.monotonic() - t0:.1f} s)")
            wine.run("reg", "add", marker, "/f")
            wine.run("reg", "delete", marker, "/f")
            times = server_list_round_trips(session.peer, transid, rounds + 1)
            transid += rounds + 1
            rest = times[1:]
            print(f"getOPCServers round trip, {label}: first after a change {ms(times[0])}; "
                  f"the {rounds} following median {ms(statistics.median(rest))}, "
                  f"p99 {ms(percentile(rest, 99))}, max {ms(max(rest))}")
    finally:
        session.stop_agent()
        wine.run("reg", "import", windows_path(remove), timeout=600)


# ---------------------------------------------------------------- getTags of the plant

PLANT = "{12226D95-F79B-42B9-BF2E-69408C20B162}"  # opcsim.json's 2806-tag plant


def measure_tags(session, rounds):
    """getTags of the simulated plant (2806 tags in 130 branches): the whole browse walk, from
    the request leaving the peer to its answer; through IOPCBrowse (the default), then with
    Browse=2 through IOPCBrowseServerAddressSpace, in the same run."""
    for browse, path in (("3", "IOPCBrowse"), ("2", "IOPCBrowseServerAddressSpace")):
        measure_tags_once(session, rounds, browse, path)
    if session.local:
        measure_walk_calls(session.build, session.id(PLANT))


def measure_tags_once(session, rounds, browse, path):
    session.start_agent(Browse=browse)
    peer = session.peer
    plant = session.id(PLANT)
    peer.send({"cmd": "OPCConnect", "TransID": 1, "OPCServerID": plant, "syncMode": "sync",
               "responseTime": 500})
    peer.wait_json("OPCConnect", TransID=1, timeout=CONNECT_TIMEOUT)
    times = []
    for n in range(rounds):
        started = time.monotonic()
        peer.send({"cmd": "getTags", "TransID": 10 + n, "OPCServerID": plant})
        _, answer = peer.wait_json("getTags", TransID=10 + n, timeout=600)
        times.append(time.monotonic() - started)
        if len(answer.get("ListTags", [])) != 2806:
            raise RuntimeError(f"getTags listed {len(answer.get('ListTags', []))} tags")
    # The first request walks the server; later ones are answered from the agent's tag table.
    print(f"getTags, 2806-tag plant, Browse={browse} ({path}): the walk (first request) "
          f"{ms(times[0])}; from the table ({rounds - 1} more) median "
          f"{ms(statistics.median(times[1:] or times))}")
    session.stop_agent()


def measure_walk_calls(build, clsid):
    """The agent's browse walk run by bench_browse_local.exe against the same server: how many
    round trips it makes, and what one call to that server costs alone, in the same run."""
    driver = build / "bench" / "bench_browse_local.exe"
    if not driver.exists():
        print("walk round trips: bench_browse_local.exe not built")
        return
    result = subprocess.run([str(build / "wine-env.sh"), str(driver), clsid, "1"],
                            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=600)
    for line in result.stdout.splitlines():
        print(f"walk round trips ({driver.name}): {line}")


# ---------------------------------------------------------------- latency

def measure_latency(session, rounds, update_rate, listen):
    """Two ways: (1) the peer writes the Probe tag through the agent (setValue) and waits for the
    push carrying the new value. The change happens inside the write, after the request left
    the peer and before the answer arrives, so the push's arrival minus the request's departure
    is an upper bound of the change-to-line time and minus the answer's arrival a lower bound.
    (2) Background counters step every 1000 ms from the simulator's start; a push of value v
    arrives at start + v periods + delay, so arrival - v periods, less its smallest value over
    the run, is each push's delay above the fastest one (the absolute offset is unknown)."""
    session.start_agent()
    peer = session.peer
    probe_server = session.id(PROBE)
    tags = connect_and_browse(peer, probe_server, 10, "async", update_rate)
    probe = next(h for n, h in tags.items() if tag_path(n)[-1] == "Probe")
    counters = [h for n, h in tags.items() if tag_path(n)[:2] == ["Load", "S"]]
    _, transid = request_values(peer, probe_server, [probe] + counters, 100)
    time.sleep(2)
    drain(peer)
    upper, lower = [], []
    for i in range(1, rounds + 1):
        sent = time.monotonic()
        peer.send({"cmd": "setValue", "TransID": transid, "OPCServerID": probe_server,
                   "tagName": probe, "value": str(i)})
        answered = pushed = None
        deadline = sent + 10
        while pushed is None and time.monotonic() < deadline:
            line = peer.wait_line(timeout=10)
            now = time.monotonic()
            obj = PushChecker.parse(line)
            if obj.get("cmd") == "setValue" and obj.get("TransID") == transid:
                answered = now
            elif obj.get("cmd") == "getValues" and obj.get("TransID") == 0:
                if dict(zip(obj["tagNames"], obj["values"])).get(probe) == str(i):
                    pushed = now
        if pushed is None or answered is None:
            raise RuntimeError(f"no push of the written value {i}")
        upper.append(pushed - sent)
        lower.append(pushed - answered)
        transid += 1
        time.sleep(0.05)
    offsets = []
    end = time.monotonic() + listen
    while time.monotonic() < end:
        try:
            line = peer.wait_line(timeout=0.5)
        except TimeoutError:
            continue
        now = time.monotonic()
        obj = PushChecker.parse(line)
        values = dict(zip(obj.get("tagNames", []), obj.get("values", [])))
        if obj.get("TransID") == 0 and counters[0] in values:
            offsets.append(now - int(values[counters[0]]) * 1.0)
    above = [o - min(offsets) for o in offsets]
    print(f"latency, async, group update rate {update_rate} ms, {rounds} writes: "
          f"change to line between median {ms(statistics.median(lower))} (p99 "
          f"{ms(percentile(lower, 99))}) and median {ms(statistics.median(upper))} (p99 "
          f"{ms(percentile(upper, 99))})")
    if above:
        print(f"latency, async, counter pushes ({len(above)}): delay above the fastest push "
              f"median {ms(statistics.median(above))}, p99 {ms(percentile(above, 99))}")
    session.stop_agent()


# ---------------------------------------------------------------- rate

def run_window(peer, checker, seconds, period):
    end = time.monotonic() + seconds
    lags = []  # arrival - value * period of the first tag in each push
    while time.monotonic() < end:
        try:
            line = peer.wait_line(timeout=0.1)
        except TimeoutError:
            continue
        now = time.monotonic()
        obj = checker.feed(line, now)
        if obj and obj.get("TransID") == 0 and obj.get("values"):
            lags.append(now - int(obj["values"][0]) * period / 1000)
    return lags


def measure_rate(session, levels, window, log, servers, period, fast_tags=FAST_TAGS):
    """Subscribes more and more of the two servers' counters (stepping every `period` ms) and
    follows the pushes for `window` seconds per level, up to the first level at which not every
    step arrives."""
    session.start_agent(log=log)
    peer = session.peer
    servers = [session.id(sid) for sid in servers]
    hashes = {}
    for n, sid in enumerate(servers):
        tags = connect_and_browse(peer, sid, 10 + 10 * n, "async", RATE_UPDATE, timeout=900)
        hashes[sid] = [h for name, h in tags.items() if tag_path(name)[:2] == ["Load", "F"]]
    subscribed = 0
    transid = 100
    best = None
    label = f"{'on' if log else 'off'}, counters every {period} ms"
    for rate in levels:
        per_server = rate * period // 1000 // 2
        if per_server > fast_tags:
            break
        try:
            for sid in servers:
                _, transid = request_values(peer, sid, hashes[sid][subscribed:per_server],
                                            transid, timeout=300)
        except TimeoutError:
            print(f"rate, log {label}: {rate} tags/s: the subscription got no answer in 300 s")
            break
        subscribed = per_server
        time.sleep(3)  # the rebuilt groups' first full reports go by
        drain(peer)
        checker = PushChecker({sid: {h: period for h in hashes[sid][:per_server]}
                               for sid in servers})
        cpu0, t0 = session.probe.cpu_seconds(), time.monotonic()
        lags = run_window(peer, checker, window, period)
        cpu = (session.probe.cpu_seconds() - cpu0) / (time.monotonic() - t0) * 100
        seen = sum(checker.tag_updates.values())
        coalesced = sum(checker.coalesced.values())
        backlog = (lags[-1] - min(lags)) if lags else float("nan")
        whole = not checker.failures and coalesced == 0
        print(f"rate, log {label}: offered {rate} tags/s ({2 * per_server} tags): received "
              f"{seen / window:.0f}/s in {sum(checker.pushes.values())} pushes, "
              f"{coalesced} steps coalesced, {len(checker.failures)} faults, last push "
              f"{ms(backlog)} behind the fastest, agent CPU {cpu:.0f} %"
              f"{'' if whole else '  <- not every change delivered'}")
        if checker.failures:
            print("   ", checker.failures[0])
        if not whole:
            break  # the machine is saturated: higher levels only take longer to say so
        best = rate
    print(f"rate, log {label}: highest level with every change delivered: "
          f"{best if best else 'none'} tags/s")
    session.stop_agent()


def screenshot(build, path):
    """What the Wine desktop on the build's Xvfb shows, as a PNG file (ImageMagick's import)."""
    display = (Path(build) / "wine-state" / "display").read_text().strip()
    result = subprocess.run(["import", "-display", f":{display}", "-window", "root", str(path)],
                            capture_output=True, timeout=60)
    return result.returncode == 0


def measure_lines(session, levels, window, log, picture=None):
    """Subscribes the counters of more and more of the small servers, so that the number of
    push lines a second grows by 1000 / LINE_PERIOD per server at 20 tags a line, and follows the
    pushes for `window` seconds per level, up to the first level at which not every step
    arrives."""
    session.start_agent(log=log)
    peer = session.peer
    per_server = 1000 // LINE_PERIOD
    hashes, transid, best = {}, 100, None
    label = "on" if log else "off"
    for lines in levels:
        servers = lines // per_server
        if servers > LINE_SERVERS:
            break
        try:
            for sid in map(session.id, LINES[len(hashes):servers]):
                tags = connect_and_browse(peer, sid, transid, "async", LINE_UPDATE)
                hashes[sid] = [h for name, h in tags.items() if tag_path(name)[:2] == ["Load", "L"]]
                _, transid = request_values(peer, sid, hashes[sid], transid + 10, timeout=120)
        except TimeoutError:
            print(f"lines, log {label}: {lines} lines/s: a server's subscription got no answer")
            break
        time.sleep(3)
        drain(peer)
        checker = PushChecker({sid: {h: LINE_PERIOD for h in hashes[sid]} for sid in hashes})
        cpu0, t0 = session.probe.cpu_seconds(), time.monotonic()
        run_window(peer, checker, window, LINE_PERIOD)
        cpu = (session.probe.cpu_seconds() - cpu0) / (time.monotonic() - t0) * 100
        pushes = sum(checker.pushes.values())
        coalesced = sum(checker.coalesced.values())
        whole = not checker.failures and coalesced == 0
        print(f"lines, log {label}: offered {lines} lines/s ({servers} servers, "
              f"{lines * LINE_TAGS} tag values/s): received {pushes / window:.0f} lines/s, "
              f"{coalesced} steps coalesced, {len(checker.failures)} faults, agent CPU {cpu:.0f} %"
              f"{'' if whole else '  <- not every change delivered'}")
        if checker.failures:
            print("   ", checker.failures[0])
        if not whole:
            break
        best = lines
    print(f"lines, log {label}: highest level with every change delivered: "
          f"{best if best else 'none'} lines/s")
    if picture:
        print(f"lines, log {label}: screen after the run: {picture}"
              f"{'' if screenshot(session.build, picture) else ' (could not be taken)'}")
    session.stop_agent()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=str(ROOT / "build" / "windows"))
    parser.add_argument("--only", default="idle,sync,tags,latency,rate,servers,lines")
    parser.add_argument("--servers", default="inproc,local",
                        help="in process, out of process, or both (one after the other)")
    parser.add_argument("--tag-rounds", type=int, default=5)
    parser.add_argument("--agent-exe", help="measure this tagrelay.exe instead of the build's")
    parser.add_argument("--server-rounds", type=int, default=20,
                        help="getOPCServers requests after the first, per registry size")
    parser.add_argument("--idle-seconds", type=float, default=30)
    parser.add_argument("--rounds", type=int, default=200)
    parser.add_argument("--listen", type=float, default=30,
                        help="seconds of counter pushes for the second latency method")
    parser.add_argument("--update-rate", type=int, default=100,
                        help="the second latency run's group update rate in ms")
    parser.add_argument("--window", type=float, default=15, help="seconds per rate level")
    parser.add_argument("--levels", default="2000,5000,10000,20000,50000,100000,150000,200000,"
                                            "300000")
    parser.add_argument("--log-levels", default="200,500,1000,2000,5000,10000,20000,50000,100000")
    parser.add_argument("--slow-log-levels", default="1000,5000,20000,60000")
    parser.add_argument("--line-levels", default="10,20,50,100,200,300,400",
                        help="push lines per second, multiples of 1000 / LINE_PERIOD")
    parser.add_argument("--picture", default="lines-log-on.png",
                        help="where the lines run saves the screen after its log-on run")
    parser.add_argument("--rate-tags", type=int, default=FAST_TAGS,
                        help="counters per rate server (out of process the agent's browse of "
                             "30,000 tags takes minutes: one call per item identifier)")
    parser.add_argument("--log-off-only", action="store_true",
                        help="the rate run with the log off only")
    args = parser.parse_args()
    build = Path(args.build_dir).resolve()
    only = set(args.only.split(","))

    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    print(f"machine: {os.cpu_count()} cores, {wine}, Linux {os.uname().release}, "
          f"load average {os.getloadavg()[0]:.1f}")
    with tempfile.TemporaryDirectory(prefix="tagrelay-measure-") as work:
        wine = Wine(build)
        if wine.run("--start", timeout=120).returncode != 0:
            raise SystemExit("wine-env.sh --start failed")
        try:
            configs = [write_config(Path(work) / name, servers)
                       for name, servers in bench_servers(args.rate_tags).items()]
            for mode in args.servers.split(","):
                local = mode == "local"
                where = "out of process (opcsim-server.exe)" if local else "in process (opcsim.dll)"
                print(f"== servers {where}")
                if not OpcSimInstall(wine, mode).register():
                    raise SystemExit(f"the {mode} simulator could not be registered")
                with (SimRegistration(build, configs[0], local),
                      SimRegistration(build, configs[1], local),
                      SimRegistration(build, configs[2], local),
                      SimRegistration(build, configs[3], local)):
                    session = Session(build, Path(work), local)
                    session.exe = args.agent_exe and Path(args.agent_exe).resolve()
                    measure_all(session, args, only)
        finally:
            wine.run("--stop", timeout=120)


def measure_all(session, args, only):
    if "idle" in only:
        measure_idle(session, args.idle_seconds)
    if "sync" in only:
        measure_sync(session, args.rounds)
    if "tags" in only:
        measure_tags(session, args.tag_rounds)
    if "latency" in only:
        measure_latency(session, args.rounds, 10, args.listen)
        measure_latency(session, args.rounds, args.update_rate, args.listen)
    if "rate" in only:
        runs = [(args.levels, False, (RATE_A, RATE_B), FAST_PERIOD)]
        if not args.log_off_only:
            runs += [(args.log_levels, True, (RATE_A, RATE_B), FAST_PERIOD),
                     (args.slow_log_levels, True, (SLOW_A, SLOW_B), SLOW_PERIOD)]
        for levels, log, servers, period in runs:
            measure_rate(session, [int(x) for x in levels.split(",")], args.window, log,
                         servers, period, args.rate_tags)
    if "servers" in only:
        measure_servers(session, args.server_rounds)
    if "lines" in only:
        levels = [int(x) for x in args.line_levels.split(",")]
        measure_lines(session, levels, args.window, False)
        measure_lines(session, levels, args.window, True, Path(args.picture).resolve())


if __name__ == "__main__":
    main()
