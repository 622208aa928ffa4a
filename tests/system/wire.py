"""Helpers of the system tests: the exact bytes of the agent's messages, a recorder that keeps every
line the agent sent, opcsim configurations with faults, and a gate in front of the peer that can
stop accepting connections while the links it carries stay up."""
import contextlib
import copy
import hashlib
import json
import os
import queue
import socket
import threading
import time
from pathlib import Path

from scada_peer import ScadaPeer
from winagent import Agent, local_clsid, local_progid, windows_path

ROOT = Path(__file__).resolve().parents[2]

# The simulated servers as opcsim.json defines them, and as the agents of this run see them: the
# same in process, under opcsim-server.exe's identities out of process (conftest's --opcsim).
SIM_CONFIG = "{12226D95-F79B-42B9-BF2E-69408C20B162}"
EDGE_CONFIG = "{AB357784-DE10-4308-97FA-F9125F50728C}"
OPCSIM_MODE = os.environ.get("TAGRELAY_OPCSIM", "inproc")
_local = OPCSIM_MODE == "local"
SIM = local_clsid(SIM_CONFIG) if _local else SIM_CONFIG
SIM_PROGID = local_progid("Tagrelay.OpcSim.1") if _local else "Tagrelay.OpcSim.1"
EDGE = local_clsid(EDGE_CONFIG) if _local else EDGE_CONFIG
EDGE_PROGID = local_progid("Tagrelay.OpcSimEdge.1") if _local else "Tagrelay.OpcSimEdge.1"
UID = "4711000042"
CONNECT_TIMEOUT = 30  # the first attempt waits for the reconnect timer's next 5 s wake-up
RECONNECT_TIMEOUT = 25  # a probe or read failure, the teardown pause, then the next wake-up


def compact(obj):
    """The agent's generator: compact, keys in order, UTF-8 as itself, "/" escaped."""
    text = json.dumps(obj, separators=(",", ":"), ensure_ascii=False)
    return text.replace("/", "\\/").encode("utf-8")


def recorded(obj):
    """A message as the recorder holds it: the line with its CR, without the LF."""
    return compact(obj) + b"\r"


def tag_hash(separator_name):
    return hashlib.md5(separator_name.encode("ascii", "replace")).hexdigest()


def parse(raw):
    try:
        obj = json.loads(raw.decode("utf-8"))
    except ValueError:
        return None
    return obj if isinstance(obj, dict) else None


def is_push(raw):
    obj = parse(raw)
    return obj is not None and obj.get("cmd") == "getValues" and obj.get("TransID") == 0


class Wire:
    """Every line the agent sent on any connection, in arrival order, never discarded; waits take
    the first matching line not taken before."""

    def __init__(self, peer):
        self.peer = peer
        self.lines = []  # (connection number, raw line without LF)
        self._taken = set()

    def _keep(self, entry):
        # Every line is one whole JSON object ended by CR LF: lines written by several threads
        # never interleave.
        assert entry[1].endswith(b"\r") and parse(entry[1]) is not None, entry
        self.lines.append(entry)

    def _pull(self, timeout):
        try:
            self._keep(self.peer.lines.get(timeout=max(timeout, 0.001)))
        except queue.Empty:
            pass

    def mark(self):
        """The index of the next line to arrive (lines already received are pulled first)."""
        while True:
            try:
                self._keep(self.peer.lines.get_nowait())
            except queue.Empty:
                return len(self.lines)

    def wait(self, predicate, timeout=20.0, start=0):
        """Index of the first untaken line from start on that satisfies predicate(raw)."""
        deadline = time.monotonic() + timeout
        i = start
        while True:
            while i < len(self.lines):
                if i not in self._taken and predicate(self.lines[i][1]):
                    self._taken.add(i)
                    return i
                i += 1
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise TimeoutError("no matching line from the agent")
            self._pull(remaining)

    def wait_json(self, cmd, timeout=20.0, start=0, **fields):
        """(raw line, parsed object, connection number) of the next line with cmd and fields."""
        def matches(raw):
            obj = parse(raw)
            return (obj is not None and obj.get("cmd") == cmd
                    and all(obj.get(k) == v for k, v in fields.items()))
        i = self.wait(matches, timeout, start)
        number, raw = self.lines[i]
        return raw, parse(raw), number

    def expect(self, expected, timeout=20.0, start=0):
        """Waits for the answer with the cmd and TransID of `expected`; checks its exact bytes."""
        fields = {"TransID": expected["TransID"]}
        if "OPCServerID" in expected:
            fields["OPCServerID"] = expected["OPCServerID"]
        raw, _, number = self.wait_json(expected["cmd"], timeout, start, **fields)
        assert raw == recorded(expected)
        return number

    def send(self, request):
        self.peer.send(request)

    def ping(self, transid, server=SIM, state="Running", timeout=20.0):
        """A ping round trip; returns the connection number it was answered on."""
        self.send({"cmd": "ping", "TransID": transid, "OPCServerID": server})
        return self.expect({"cmd": "ping", "TransID": transid, "OPCServerID": server,
                            "OPCState": state}, timeout)

    def connect(self, transid, server, mode, response_time, timeout=20.0):
        """An OPCConnect round trip that must succeed; returns the connection number."""
        self.send({"cmd": "OPCConnect", "TransID": transid, "OPCServerID": server,
                   "syncMode": mode, "responseTime": response_time})
        return self.expect({"cmd": "OPCConnect", "TransID": transid, "OPCServerID": server},
                           timeout)

    def between(self, start, end):
        return [raw for _, raw in self.lines[start:end]]

    def assert_only_pushes(self, start, end):
        """Nothing but value pushes arrived between the two indexes."""
        others = [raw for raw in self.between(start, end) if not is_push(raw)]
        assert others == []


def wait_online(wire, timeout=CONNECT_TIMEOUT, start=0):
    """Waits for "serverOnline"; returns (raw line, connection number)."""
    raw, _, number = wire.wait_json("serverOnline", timeout, start)
    return raw, number


@contextlib.contextmanager
def agent_session(wine, folder, name, config, **settings):
    """An agent named `name` in `folder`, with these keys added to its configuration file, whose
    simulator reads the configuration file `config`, on a peer of its own; yields (wire, agent)
    once the agent is online, and stops both at the end."""
    peer = ScadaPeer().start()
    agent = Agent(wine, folder, name)
    try:
        agent.configure(port=peer.port, **settings)
        agent.start(env={"OPCSIM_CONFIG": windows_path(config)})
        wire = Wire(peer)
        wait_online(wire)
        yield wire, agent
    finally:
        agent.kill()
        peer.stop()


# ---- opcsim configurations ----------------------------------------------------------------------

SMALL_SIM_TREE = [
    {"leaf": "Integer", "type": "I4", "value": 42},
    {"branch": "Plant", "children": [
        {"leaf": "Counter", "type": "I4", "change": "counter", "period": 200},
    ]},
]


def fault_config(path, sim_faults, edge_faults):
    """Writes opcsim's default configuration with these fault switches per server, the big
    simulated plant replaced by a small tree; returns path."""
    config = json.loads((ROOT / "tools" / "opcsim" / "opcsim.json").read_text(encoding="utf-8"))
    servers = {s["clsid"]: s for s in config["servers"]}
    servers[SIM_CONFIG]["faults"] = copy.deepcopy(sim_faults)
    servers[EDGE_CONFIG]["faults"] = copy.deepcopy(edge_faults)
    servers[SIM_CONFIG]["tree"] = SMALL_SIM_TREE
    path.write_text(json.dumps(config), encoding="utf-8")
    return path


# ---- a gate in front of the peer -----------------------------------------------------------------

class Gate:
    """A TCP front on a port of its own that forwards both ways to the peer. It can stop accepting
    (the listening socket is closed, so connection attempts are refused) while the links it
    already carries stay up, stop reading from the agent, drop the links, and speak first on a
    new link. It counts the links accepted and records each link's end: whether the agent closed
    it, and how many bytes the agent had sent on it."""

    def __init__(self, target_port):
        self.target = target_port
        self.port = 0
        self.accepted = 0
        self.ended = []  # (closed by the agent, bytes the agent sent) per link, in order
        self._reading = threading.Event()  # cleared: nothing more is read from the agent
        self._reading.set()
        # Sent to the agent on each new link right after the agent's first line, from the gate
        # itself: it reaches the agent while its first read of the link still waits.
        self.after_first_line = None
        self._lock = threading.Lock()
        self._links = []
        self._listener = None
        self._accepting = None
        self._threads = []
        self.open()

    def open(self):
        """Accepts connections (again) on the same port."""
        if self._listener is not None:
            return
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        # A small receive buffer (inherited by the links), so a gate that stops reading soon
        # blocks the agent's writes.
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
        listener.bind(("127.0.0.1", self.port))
        listener.listen(8)
        listener.settimeout(0.1)
        self.port = listener.getsockname()[1]
        self._listener = listener
        self._accepting = threading.Event()
        self._accepting.set()
        self._acceptor = self._spawn(self._accept_loop, listener, self._accepting)

    def refuse(self):
        """Stops accepting: once this returns, connection attempts are refused."""
        if self._listener is None:
            return
        self._accepting.clear()
        self._acceptor.join(timeout=5)
        self._listener.close()
        self._listener = None

    def stop_reading(self):
        """Reads nothing more from the agent, as a peer that hangs: its writes fill the buffers
        and then block."""
        self._reading.clear()

    def resume_reading(self):
        self._reading.set()

    def drop_links(self):
        with self._lock:
            links, self._links = self._links, []
        for link in links:
            self._close(link, by_agent=False)

    def stop(self):
        self.resume_reading()
        self.refuse()
        self.drop_links()
        for t in self._threads:
            t.join(timeout=5)

    def _spawn(self, target, *args):
        t = threading.Thread(target=target, args=args, daemon=True)
        t.start()
        self._threads.append(t)
        return t

    def _accept_loop(self, listener, accepting):
        while accepting.is_set():
            try:
                agent, _ = listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            if not accepting.is_set():
                agent.close()
                return
            try:
                peer = socket.create_connection(("127.0.0.1", self.target))
            except OSError:
                agent.close()
                continue
            agent.settimeout(None)
            # The line to inject is taken when the link is made: the test may clear it as soon
            # as it sees the agent's first line, before this link's pump has sent it.
            link = {"agent": agent, "peer": peer, "closed": False, "sent": 0,
                    "inject": self.after_first_line}
            with self._lock:
                self.accepted += 1
                self._links.append(link)
            self._spawn(self._pump, link, "agent", "peer")
            self._spawn(self._pump, link, "peer", "agent")

    def _pump(self, link, source, sink):
        try:
            while True:
                if source == "agent":
                    while not self._reading.wait(0.1):
                        if link["closed"]:
                            return
                data = link[source].recv(65536)
                if not data:
                    break
                inject = None
                if source == "agent" and link["inject"] and b"\n" in data:
                    inject, link["inject"] = link["inject"], None
                if source == "agent":
                    link["sent"] += len(data)
                link[sink].sendall(data)
                if inject:
                    link["agent"].sendall(inject)
        except OSError:
            pass
        self._close(link, by_agent=source == "agent")

    def _close(self, link, by_agent):
        with self._lock:
            if link["closed"]:
                return
            link["closed"] = True
            self.ended.append((by_agent, link["sent"]))
            if link in self._links:
                self._links.remove(link)
        for side in ("agent", "peer"):
            try:
                link[side].shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            link[side].close()
