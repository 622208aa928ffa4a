"""OPC servers that fail: each profile runs one agent whose simulator configuration (chosen with
OPCSIM_CONFIG) gives both servers fault switches, and checks the answers on the wire: every
server state in "ping", a server whose status calls fail until it is declared lost and connected
again, browse and group failures, and a flood of requests on a slow server beyond its queue.

One fault agent runs at a time. Out of process, COM starts a server process from the activating
agent (with that agent's OPCSIM_CONFIG) but hands the class object to whichever client of the
class connects first: two agents activating the same class at once (one of them connecting its
lost server again) can swap their servers and with them their faults."""
import json
import os
import signal
import time

import pytest

from load_support import server_pids
from winagent import Agent, windows_path
from scada_peer import ScadaPeer
from wire import (EDGE, OPCSIM_MODE, SIM, Wire, compact, fault_config, is_push, recorded,
                  tag_hash, wait_online)

UPTIME = tag_hash("[Dev]Uptime")


def status_window(calls, state=None):
    """GetStatus fails (or reports `state`) for its first `calls` calls, then recovers."""
    faults = {"statusFailFrom": 1, "statusFailCount": calls, "statusFailMode": "error"}
    if state is not None:
        faults.update(statusFailMode="state", statusState=state)
    return faults


# name: (faults of SIM, faults of EDGE, connection mode of SIM, of EDGE)
PROFILES = {
    # SIM's status calls fail long enough for the server to be declared lost (11 checks).
    "hang": ({**status_window(14), "browserMissing": True, "browseElementsMissing": True,
              "addGroupFails": True},
             {**status_window(4, state=2), "rootLeavesFail": True, "browseElementsFails": True,
              "addItemsFails": True},
             "sync", "sync"),
    "slow": ({**status_window(4, state=3), "adviseFails": True},
             {**status_window(4, state=4), "callDelayMs": 40},
             "async", "sync"),
    # EDGE is lost while it pushes the values of a subscription.
    "test": (status_window(4, state=5), status_window(14), "sync", "async"),
}


class FaultAgent:
    """An agent on a configuration of its own, with both servers connected: the pings sent before
    connecting and right after are kept for the state checks."""

    def __init__(self, wine, folder, name):
        sim_faults, edge_faults, sim_mode, edge_mode = PROFILES[name]
        config = fault_config(folder / "opcsim.json", sim_faults, edge_faults)
        self.earlier_servers = self._servers()
        self.peer = ScadaPeer().start()
        self.agent = Agent(wine, folder, f"tagrelay-{name}.exe")
        self.agent.configure(port=self.peer.port)
        self.agent.start(env={"OPCSIM_CONFIG": windows_path(config)})
        self.wire = Wire(self.peer)
        self._recovery = None
        try:
            self._connect(sim_mode, edge_mode)
        except BaseException:
            self.close()
            raise

    def _connect(self, sim_mode, edge_mode):
        wait_online(self.wire)
        for n, server in enumerate((SIM, EDGE)):
            self.wire.send({"cmd": "ping", "TransID": 1 + n, "OPCServerID": server})
        # Each ping right behind its connect in the queue: the server's first status call.
        for transid, server, mode in ((3, SIM, sim_mode), (4, EDGE, edge_mode)):
            self.wire.send(compact({"cmd": "OPCConnect", "TransID": transid,
                                    "OPCServerID": server, "syncMode": mode,
                                    "responseTime": 200}) + b"\r\n" +
                           compact({"cmd": "ping", "TransID": transid + 2,
                                    "OPCServerID": server}) + b"\r\n")
        self.before = self._answers(1)
        for transid, server in ((3, SIM), (4, EDGE)):
            self.wire.expect({"cmd": "OPCConnect", "TransID": transid, "OPCServerID": server})
        self.after = self._answers(5)
        if edge_mode == "async":
            self.wire.send({"cmd": "getValues", "TransID": 7, "OPCServerID": EDGE,
                            "tagNames": [UPTIME]})
            self.wire.wait_json("getValues", TransID=7)

    def _answers(self, transid):
        """The raw answers to the pings transid (SIM) and transid + 1 (EDGE), by server."""
        return {server: self.wire.wait_json("ping", TransID=transid + n)[0]
                for n, server in enumerate((SIM, EDGE))}

    def recovery(self):
        """Indexes of the lost server's "OPC not answer" and of its reconnection (TransID 0)."""
        if self._recovery is None:
            lost = self.wire.wait(lambda raw: b'"cmd":"updateValues"' in raw, timeout=30)
            back = self.wire.wait(lambda raw: raw.startswith(b'{"cmd":"OPCConnect","TransID":0,'),
                                  timeout=20, start=lost)
            self._recovery = (lost, back)
        return self._recovery

    @staticmethod
    def _servers():
        return set(server_pids(SIM) + server_pids(EDGE)) if OPCSIM_MODE == "local" else set()

    def close(self):
        self.agent.kill()
        self.peer.stop()
        # A server process this agent started last may not have been taken yet: left running, it
        # would hand its class object (and this agent's faults) to the next agent.
        for _ in range(2):  # a process the agent was starting as it died shows up a little later
            for pid in self._servers() - self.earlier_servers:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            time.sleep(0.5)


@pytest.fixture(scope="module")
def fault_agents(wine, tmp_path_factory):
    started = {}

    def get(name):
        if name not in started:
            while started:
                started.popitem()[1].close()
            started[name] = FaultAgent(wine, tmp_path_factory.mktemp(name), name)
        return started[name]

    yield get
    for fault_agent in started.values():
        fault_agent.close()


def ping_answer(transid, server, state):
    return recorded({"cmd": "ping", "TransID": transid, "OPCServerID": server, "OPCState": state})


@pytest.mark.parametrize("profile, sim_state, edge_state", [
    ("hang", "CommFault", "Failed"),  # a failing status call is a communication fault
    ("slow", "NoConfig", "Suspended"),
    ("test", "Test", "CommFault"),
])
def test_ping_reports_the_server_state(fault_agents, profile, sim_state, edge_state):
    fa = fault_agents(profile)
    # Before connecting there is no server object: communication fault.
    assert fa.before == {SIM: ping_answer(1, SIM, "CommFault"),
                         EDGE: ping_answer(2, EDGE, "CommFault")}
    assert fa.after == {SIM: ping_answer(5, SIM, sim_state),
                        EDGE: ping_answer(6, EDGE, edge_state)}


def test_server_that_stops_answering_is_reported_and_connected_again(fault_agents):
    fa = fault_agents("hang")
    lost, back = fa.recovery()
    assert fa.wire.lines[lost][1] == recorded({"cmd": "updateValues", "TransID": 0,
                                              "OPCServerID": SIM, "error": "OPC not answer"})
    assert fa.wire.lines[back][1] == recorded({"cmd": "OPCConnect", "TransID": 0,
                                              "OPCServerID": SIM})
    if OPCSIM_MODE == "local":
        # Out of process the reconnection starts a new server process, which fails its first
        # status calls again as its file says: it recovers only in process, where every server
        # object of a class shares one simulated device.
        return
    for n in range(20):  # the last failing status calls pass, then the server runs
        fa.wire.send({"cmd": "ping", "TransID": 10 + n, "OPCServerID": SIM})
        raw, answer, _ = fa.wire.wait_json("ping", TransID=10 + n)
        if answer["OPCState"] == "Running":
            break
        time.sleep(0.25)
    assert raw == ping_answer(10 + n, SIM, "Running")
    # The other server failed four checks only: it was never reported.
    fa.wire.mark()
    assert [raw for _, raw in fa.wire.lines if b'"cmd":"updateValues"' in raw] == [
        fa.wire.lines[lost][1]]


def test_lost_server_drops_its_subscription_until_asked_again(fault_agents):
    fa = fault_agents("test")
    lost, back = fa.recovery()
    wire = fa.wire
    assert wire.lines[lost][1] == recorded({"cmd": "updateValues", "TransID": 0,
                                            "OPCServerID": EDGE, "error": "OPC not answer"})
    assert wire.lines[back][1] == recorded({"cmd": "OPCConnect", "TransID": 0,
                                            "OPCServerID": EDGE})
    assert any(is_push(raw) for raw in wire.between(0, lost))
    time.sleep(2.5)  # the uptime counter changes every second
    assert [raw for raw in wire.between(lost, wire.mark()) if is_push(raw)] == []
    start = wire.mark()
    wire.send({"cmd": "getValues", "TransID": 30, "OPCServerID": EDGE, "tagNames": [UPTIME]})
    wire.wait(is_push, start=start)


NAMES = [tag_hash("Integer"), tag_hash("Plant$#%Counter")]

# (profile, request, expected answer without TransID), in order per profile.
FAULT_ANSWERS = [
    ("hang", {"cmd": "getTags", "OPCServerID": SIM},
     {"cmd": "getTags", "OPCServerID": SIM, "error": "Unable to init server browser"}),
    ("hang", {"cmd": "getValues", "OPCServerID": SIM, "tagNames": NAMES},
     {"cmd": "getValues", "error": "Fail create OPC group", "tagNames": NAMES}),
    ("hang", {"cmd": "getTags", "OPCServerID": EDGE},
     {"cmd": "getTags", "OPCServerID": EDGE, "error": "Unable to browser items"}),
    ("hang", {"cmd": "getValues", "OPCServerID": EDGE, "tagNames": NAMES},
     {"cmd": "getValues", "error": "Fail add tags to OPC group", "tagNames": NAMES}),
    # The same tags again bring nothing new, but their group is still missing: built again and
    # refused again, never answered as a success that brings no value.
    ("hang", {"cmd": "getValues", "OPCServerID": EDGE, "tagNames": NAMES},
     {"cmd": "getValues", "error": "Fail add tags to OPC group", "tagNames": NAMES}),
    ("slow", {"cmd": "getValues", "OPCServerID": SIM, "tagNames": NAMES},
     {"cmd": "getValues", "error": "Unable to advise async group", "tagNames": NAMES}),
]


def with_transid(message, transid):
    """The message with "TransID" at its place: after "cmd", or after "OPCServerID" in values."""
    keys = list(message)
    at = 1
    if message["cmd"] == "getValues" and "error" not in message:
        at = 2
    out = dict(zip(keys[:at], [message[k] for k in keys[:at]]))
    out["TransID"] = transid
    out.update((k, message[k]) for k in keys[at:])
    return out


@pytest.mark.parametrize("profile", ["hang", "slow"])
def test_browse_and_group_faults_are_answered(fault_agents, profile):
    fa = fault_agents(profile)
    if profile == "hang":
        fa.recovery()  # connected again: a task queued while it was lost would meet no server
    for n, (p, request, answer) in enumerate(FAULT_ANSWERS):
        if p == profile:
            fa.wire.send({**request, "TransID": 20 + n})
            fa.wire.expect(with_transid(answer, 20 + n))


def test_flood_beyond_the_queue_limit(fault_agents):
    fa = fault_agents("slow")  # every call of EDGE takes 40 ms
    for n in range(40):
        fa.wire.send({"cmd": "ping", "TransID": 100 + n, "OPCServerID": EDGE})
        if fa.wire.wait_json("ping", TransID=100 + n)[1]["OPCState"] == "Running":
            break

    first, count = 1000, 160
    start = fa.wire.mark()
    fa.wire.send(b"".join(compact({"cmd": "ping", "TransID": t, "OPCServerID": EDGE}) + b"\r\n"
                          for t in range(first, first + count)))
    answered, refused = [], []
    for _ in range(count):
        i = fa.wire.wait(lambda raw: b'"cmd":"ping"' in raw, timeout=60, start=start)
        raw = fa.wire.lines[i][1]
        transid = json.loads(raw)["TransID"]
        if raw == ping_answer(transid, EDGE, "Running"):
            answered.append(transid)
        else:
            assert raw == recorded({"cmd": "ping", "TransID": transid,
                                    "error": f"Task buffer overload, TransID={transid}"})
            refused.append(transid)
    assert sorted(answered + refused) == list(range(first, first + count))
    assert answered == sorted(answered) and refused == sorted(refused)
    # 100 tasks wait at most; an update task may hold one of the places.
    assert refused and len(answered) >= 99
    # The update ticks that met the full queue were refused the same way.
    end = fa.wire.mark()
    for raw in fa.wire.between(start, end):
        if b'"cmd":"updateValues"' in raw:
            assert raw == recorded({"cmd": "updateValues", "TransID": 0,
                                    "error": "Task buffer overload, TransID=0"})
    fa.wire.ping(2000, EDGE)


def test_closes_promptly_with_a_full_queue(fault_agents):
    fa = fault_agents("slow")
    fa.wire.send(b"".join(compact({"cmd": "ping", "TransID": t, "OPCServerID": EDGE}) + b"\r\n"
                          for t in range(3000, 3150)))
    fa.wire.wait_json("ping", TransID=3000)
    assert fa.agent.close() < 15


def test_browse_that_never_ends_is_answered(wine, tmp_path):
    """A server whose browse position never moves shows the same branches at every depth: the walk
    never enters a branch whose item identifier is already on its path, so it ends with the
    levels it saw, through either browse interface, and the agent answers on."""
    config = fault_config(tmp_path / "opcsim.json", {}, {"browseStuck": True})
    peer = ScadaPeer().start()
    agent = Agent(wine, tmp_path, "tagrelay-browse.exe")
    try:
        agent.configure(port=peer.port)
        agent.start(env={"OPCSIM_CONFIG": windows_path(config)})
        wire = Wire(peer)
        wait_online(wire)
        wire.connect(1, EDGE, "sync", 500)
        wire.send({"cmd": "getTags", "TransID": 2, "OPCServerID": EDGE})
        raw, answer, _ = wire.wait_json("getTags", 120, TransID=2, OPCServerID=EDGE)
        assert "error" not in answer and answer["ListTags"], raw
        names = [tag["name"] for tag in answer["ListTags"]]
        assert max(name.count("$#%") for name in names) <= 2, names  # no level entered twice
        wire.ping(3, EDGE)
    finally:
        agent.kill()
        peer.stop()
