"""Support for the load tests and measurements: simulated servers with many changing tags, their
registration in the Wine prefix, the agent's resource figures, and a checker for value pushes.

Used by tests/system/test_soak.py and bench/system/measure.py.
"""
import json
import os
import queue
import subprocess
import time
from pathlib import Path

from winagent import windows_path


# ---------------------------------------------------------------- simulated servers

def counter_server(prog_id, clsid, groups, extra_leaves=()):
    """A server whose tree holds, per (name, count, period ms) group, `count` counter leaves that
    step by one every period: Load / <name> / C001 and so on. A counter's value is the number of
    periods since the simulator started, so it only moves forward and never wraps."""
    branches = []
    for name, count, period in groups:
        branches.append({"branch": name, "children": [
            {"leaf": "C{nnn}", "count": count, "type": "I4", "access": "r",
             "change": "counter", "period": period, "value": 0, "min": 0, "max": 0}]})
    return {"progId": prog_id, "clsid": clsid, "description": f"load server {prog_id}",
            "vendor": "Tagrelay", "tree": [{"branch": "Load", "children": branches},
                                           *extra_leaves]}


def write_config(path, servers):
    Path(path).write_text(json.dumps({"servers": servers}, indent=1), encoding="utf-8")
    return Path(path)


class SimRegistration:
    """Registers the servers of a configuration file of our own in the Wine prefix (the
    simulator's self-registration reads OPCSIM_CONFIG and records the file for each class), and
    removes them again, so other tests' agents do not find them. In process through opcsim.dll,
    or with local=True through opcsim-server.exe, whose classes have identities of their own
    (winagent.local_clsid); server_args go into its registered command line ("/MultipleUse",
    "/Linger", "300", say)."""

    def __init__(self, build, config, local=False, server_args=()):
        self.build = Path(build)
        self.config = Path(config)
        self.local = local
        self.server_args = tuple(server_args)
        self.dll = self.build / "tools" / "opcsim" / "opcsim.dll"
        self.exe = self.build / "tools" / "opcsim" / "opcsim-server.exe"

    def _register(self, remove):
        env = dict(os.environ, OPCSIM_CONFIG=windows_path(self.config))
        if self.local:
            command = [windows_path(self.exe), "/UnregServer" if remove else "/RegServer"]
            if not remove:
                command += self.server_args
        else:
            command = ["regsvr32", "/s", *(["/u"] if remove else []), windows_path(self.dll)]
        return subprocess.run([str(self.build / "wine-env.sh"), *command], env=env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=120).returncode

    def __enter__(self):
        rc = self._register(remove=False)
        if rc != 0:
            raise RuntimeError(f"registration of {self.config} failed with {rc}")
        return self

    def __exit__(self, *exc):
        self._register(remove=True)


# ---------------------------------------------------------------- the agent's resources

def linux_pid(exe):
    """The Linux process that runs the Windows program at `exe` (Wine keeps the Windows path in
    the command line)."""
    wanted = windows_path(exe).lower().encode()
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            cmdline = (entry / "cmdline").read_bytes()
        except OSError:
            continue
        if cmdline.split(b"\0")[0].lower() == wanted:
            return int(entry.name)
    return None


def server_pids(clsid):
    """Linux processes of opcsim-server.exe started for the class (its command line names it)."""
    pids = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            cmdline = (entry / "cmdline").read_bytes().lower()
        except OSError:
            continue
        if b"opcsim-server.exe" in cmdline and clsid.lower().encode() in cmdline:
            pids.append(int(entry.name))
    return pids


def wait_linux_pid(exe, timeout=30):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        pid = linux_pid(exe)
        if pid:
            return pid
        time.sleep(0.2)
    raise TimeoutError(f"no process runs {exe}")


class ResourceProbe:
    """The agent's memory, CPU time, handles, threads and file descriptors.

    Under Wine the agent is an ordinary Linux process: memory, CPU, threads and descriptors come
    from /proc/<pid> (VmRSS, utime + stime, Threads, fd/). Its Windows handles live in the
    wineserver: procstat.exe (tools/procstat) counts the process's entries in the system handle
    table, which Wine fills from its server (GetProcessHandleCount answers 0 under Wine 8), and
    reads GetProcessMemoryInfo's working set, which Wine takes from the same VmRSS."""

    CLOCK_TICKS = os.sysconf("SC_CLK_TCK")

    def __init__(self, build, exe):
        self.build = Path(build)
        self.image = Path(exe).name
        self.pid = wait_linux_pid(exe)
        self.procstat = self.build / "tools" / "procstat" / "procstat.exe"

    def status(self, key):
        for line in Path(f"/proc/{self.pid}/status").read_text().splitlines():
            if line.startswith(key + ":"):
                return int(line.split()[1])
        raise RuntimeError(f"no {key} in /proc/{self.pid}/status")

    def rss_kb(self):
        return self.status("VmRSS")

    def cpu_seconds(self):
        fields = Path(f"/proc/{self.pid}/stat").read_text().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / self.CLOCK_TICKS  # utime, stime

    def windows_view(self):
        """procstat.exe's figures for the agent's image name: handles, workingSet, ... (ints)."""
        out = subprocess.run([str(self.build / "wine-env.sh"), str(self.procstat), self.image],
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        rows = [dict(item.split("=", 1) for item in line.split())
                for line in out.stdout.decode().splitlines() if line.startswith("pid=")]
        if len(rows) != 1:
            raise RuntimeError(f"procstat found {len(rows)} {self.image}: {out.stdout!r}")
        return {k: int(v) for k, v in rows[0].items()}

    def sample(self):
        view = self.windows_view()
        if view["handleEntries"] < 0:
            raise RuntimeError("procstat could not read the handle table")
        return {"rssKb": self.rss_kb(), "cpuSeconds": self.cpu_seconds(),
                "handles": view["handleEntries"], "workingSetKb": view["workingSet"] // 1024,
                "threads": self.status("Threads"),
                "fds": len(os.listdir(f"/proc/{self.pid}/fd"))}


# ---------------------------------------------------------------- the wire

def next_line(peer, timeout):
    """The next raw line from the agent, or None when none came within timeout."""
    try:
        return peer.wait_line(timeout=timeout)
    except TimeoutError:
        return None


def drain(peer):
    """Every line already received, without waiting."""
    lines = []
    while True:
        try:
            lines.append(peer.lines.get_nowait()[1])
        except queue.Empty:
            return lines


def tag_path(name):
    """The branch and leaf names of a tag as getTags lists it."""
    return name.split("$#%")


# The agent reads request lines of up to 16384 bytes; a hash takes 35 in a "tagNames" list.
TAGS_PER_REQUEST = 400


def chunks(items, size=TAGS_PER_REQUEST):
    items = list(items)
    return [items[i:i + size] for i in range(0, len(items), size)]


def connect_and_browse(peer, server, transid, sync_mode="async", response_time=100, timeout=60):
    """OPCConnect and getTags (TransID and TransID + 1): returns {item name: hash}."""
    peer.send({"cmd": "OPCConnect", "TransID": transid, "OPCServerID": server,
               "syncMode": sync_mode, "responseTime": response_time})
    _, answer = peer.wait_json("OPCConnect", TransID=transid, timeout=timeout)
    if "error" in answer:
        raise RuntimeError(f"OPCConnect failed: {answer}")
    peer.send({"cmd": "getTags", "TransID": transid + 1, "OPCServerID": server})
    _, answer = peer.wait_json("getTags", TransID=transid + 1, timeout=timeout)
    return {t["name"]: t["hash"] for t in answer["ListTags"]}


def request_values(peer, server, hashes, transid, timeout=60):
    """getValues of the tags, in requests of TAGS_PER_REQUEST (TransID counting up from transid);
    returns the answers and the next unused TransID."""
    answers = []
    for part in chunks(hashes):
        peer.send({"cmd": "getValues", "TransID": transid, "OPCServerID": server,
                   "tagNames": part})
        answers.append(peer.wait_json("getValues", TransID=transid, timeout=timeout)[1])
        transid += 1
    return answers, transid


class PushChecker:
    """Follows the value pushes of counter tags on one link and finds what a lost, repeated,
    reordered or interleaved line would leave behind.

    - Every line must be one whole JSON object.
    - A push ("getValues", TransID 0) names only tags of its server, with as many values and
      qualities as names; a counter's pushed values only move forward, and between two pushes
      by no more steps than the time between their arrivals allows (period), give or take
      `jitter` seconds of delivery delay.
    - A stored-value check: the answer to a "getValues" of a server's tags is served from
      the values the agent last stored, which it stores and pushes in one step on the same thread
      that writes the answer, so each value in the answer must equal the last pushed value of
      that tag received before it. A push that never arrived shows up as a difference.
    """

    def __init__(self, servers, jitter=2.0):
        # servers: {server id: {hash: period ms}}
        self.periods = servers
        self.jitter = jitter
        self.last = {sid: {} for sid in servers}  # hash -> (value, arrival time)
        self.first = {sid: {} for sid in servers}  # hash -> value of the first push
        self.pushes = {sid: 0 for sid in servers}
        self.tag_updates = {sid: 0 for sid in servers}
        self.coalesced = {sid: 0 for sid in servers}  # steps skipped within the allowed gap
        self.checks = 0
        self.lines = 0
        self.bytes = 0
        self.failures = []
        self.answers = {}  # TransID -> server of a check not yet answered
        self.other = []  # parsed lines that are neither pushes nor check answers

    @staticmethod
    def parse(line):
        """The line's JSON object, or {} when it is not one."""
        try:
            obj = json.loads(line.decode("utf-8"))
        except ValueError:
            return {}
        return obj if isinstance(obj, dict) else {}

    def fail(self, text):
        if len(self.failures) < 50:
            self.failures.append(text)

    def feed(self, line, arrival=None):
        arrival = time.monotonic() if arrival is None else arrival
        self.lines += 1
        self.bytes += len(line) + 1
        if not line.endswith(b"\r"):
            self.fail(f"line without CR: {line[:80]!r}")
        try:
            obj = json.loads(line.decode("utf-8"))
        except ValueError as e:
            self.fail(f"not one JSON object ({e}): {line[:120]!r}...{line[-60:]!r}")
            return None
        if not isinstance(obj, dict):
            self.fail(f"not an object: {line[:120]!r}")
            return None
        if obj.get("cmd") == "getValues" and obj.get("TransID") == 0:
            self._push(obj, arrival)
        elif obj.get("cmd") == "getValues" and obj.get("TransID") in self.answers:
            self._check(obj)
        else:
            self.other.append(obj)
        return obj

    def _lists(self, obj):
        sid = obj.get("OPCServerID")
        names, values, qualities = obj.get("tagNames"), obj.get("values"), obj.get("qualities")
        if sid not in self.periods or not isinstance(names, list):
            self.fail(f"unexpected getValues: {str(obj)[:200]}")
            return None
        if not (isinstance(values, list) and isinstance(qualities, list)
                and len(names) == len(values) == len(qualities)):
            self.fail(f"lists of different lengths from {sid}")
            return None
        return sid, names, values, qualities

    def _push(self, obj, arrival):
        parts = self._lists(obj)
        if parts is None:
            return
        sid, names, values, qualities = parts
        self.pushes[sid] += 1
        periods, last = self.periods[sid], self.last[sid]
        for name, value, quality in zip(names, values, qualities):
            if name not in periods:
                self.fail(f"push of an unknown tag {name} from {sid}")
                continue
            if quality != "1" or not value.lstrip("-").isdigit():
                self.fail(f"push of {name}: value {value!r} quality {quality!r}")
                continue
            number = int(value)
            self.tag_updates[sid] += 1
            if name in last:
                previous, previous_arrival = last[name]
                allowed = int((arrival - previous_arrival + self.jitter) * 1000
                              / periods[name]) + 1
                if number <= previous:
                    self.fail(f"{name} went from {previous} to {number}")
                elif number - previous > allowed:
                    self.fail(f"{name} jumped from {previous} to {number} in "
                              f"{arrival - previous_arrival:.3f} s")
                elif number - previous > 1:
                    self.coalesced[sid] += number - previous - 1
            else:
                self.first[sid][name] = number
            last[name] = (number, arrival)

    def request_check(self, peer, sid, hashes, transid):
        """Sends a getValues of these tags of the server; its answer is compared on arrival."""
        self.answers[transid] = sid
        peer.send({"cmd": "getValues", "TransID": transid, "OPCServerID": sid,
                   "tagNames": hashes})

    def _check(self, obj):
        transid = obj["TransID"]
        del self.answers[transid]
        parts = self._lists(obj)
        if parts is None:
            return
        sid, names, values, qualities = parts
        self.checks += 1
        last = self.last[sid]
        for name, value in zip(names, values):
            if name in last and value != str(last[name][0]):
                self.fail(f"check {transid}: {name} stored {value}, last pushed {last[name][0]}")

    def steps_seen(self, sid):
        """Counter steps between each tag's first and last push, summed over the server's tags."""
        return sum(self.last[sid][h][0] - v for h, v in self.first[sid].items())

    def updates_expected(self, sid, seconds):
        return sum(seconds * 1000 / p for p in self.periods[sid].values())
