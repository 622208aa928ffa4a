"""OPC servers in processes of their own (opcsim-server.exe through the test proxy/stub), as most
plant servers are: a server process killed under the agent is reported, connected again (COM
starts a new process) and read again."""
import contextlib
import json
import os
import signal
import time

import pytest

from load_support import SimRegistration, server_pids
from winagent import local_clsid
from wire import (EDGE_CONFIG, OPCSIM_MODE, SIM_CONFIG, agent_session, compact, fault_config,
                  is_push, recorded, tag_hash)

LOCAL_SIM = local_clsid(SIM_CONFIG)
INTEGER = tag_hash("Integer")  # 42 in the small tree of fault_config


def read_integer(wire, first_transid, attempts=40):
    """Asks for Integer until it is read (the first answer of a new group is empty)."""
    for n in range(attempts):
        wire.send({"cmd": "getValues", "TransID": first_transid + n, "OPCServerID": LOCAL_SIM,
                   "tagNames": [INTEGER]})
        _, answer, _ = wire.wait_json("getValues", TransID=first_transid + n)
        if answer.get("values") == ["42"]:
            return answer
        time.sleep(0.25)
    raise AssertionError(f"Integer never read: {answer}")


@contextlib.contextmanager
def local_agent(wine, folder, name, sim_faults=None, server_args=()):
    """An agent with the out-of-process simulator on a small configuration of its own (with
    fault switches for the plant server); yields the wire and the agent. server_args: see
    SimRegistration (they need a registration of this test's own)."""
    config = fault_config(folder / "opcsim.json", sim_faults or {}, {})
    # Out of process, the run registered opcsim-server.exe already (conftest); in process this
    # test registers it itself, for its own duration.
    registration = (contextlib.nullcontext() if OPCSIM_MODE == "local"
                    else SimRegistration(wine.build, config, local=True, server_args=server_args))
    with registration, agent_session(wine, folder, name, config) as session:
        yield session


def test_killed_server_is_reported_started_again_and_read(wine, tmp_path):
    others = set(server_pids(LOCAL_SIM))  # left by earlier agents of the run
    with local_agent(wine, tmp_path, "tagrelay-dead.exe") as (wire, _):
        wire.connect(1, LOCAL_SIM, "sync", 500)
        read_integer(wire, 10)
        first = set(server_pids(LOCAL_SIM)) - others
        assert len(first) == 1, first
        killed = first.pop()
        os.kill(killed, signal.SIGKILL)

        lost = wire.wait(lambda raw: b'"cmd":"updateValues"' in raw, timeout=60)
        assert wire.lines[lost][1] == recorded({"cmd": "updateValues", "TransID": 0,
                                                "OPCServerID": LOCAL_SIM,
                                                "error": "OPC not answer"})
        wire.wait(lambda raw: raw.startswith(b'{"cmd":"OPCConnect","TransID":0,'), timeout=30,
                  start=lost)
        read_integer(wire, 100)
        started = set(server_pids(LOCAL_SIM)) - others
        assert len(started) == 1 and killed not in started, (killed, started)


def test_hung_server_holds_up_nothing_else(wine, tmp_path):
    """Server A hangs (every call after its first 40 blocks for good); server B's pings, reads
    and pushes go on, A's queue refuses what does not fit, and the agent still closes."""
    uptime = tag_hash("[Dev]Uptime")
    a, b = LOCAL_SIM, local_clsid(EDGE_CONFIG)
    with local_agent(wine, tmp_path, "tagrelay-hung.exe", {"hangAfterCalls": 40}) as (wire, agent):
        wire.connect(1, a, "sync", 500)
        wire.connect(2, b, "async", 100)
        wire.send({"cmd": "getValues", "TransID": 3, "OPCServerID": b, "tagNames": [uptime]})
        wire.wait_json("getValues", TransID=3)
        for transid in range(10, 200):  # A's status calls run out
            wire.send({"cmd": "ping", "TransID": transid, "OPCServerID": a})
            try:
                wire.wait_json("ping", timeout=5, TransID=transid)
            except TimeoutError:
                break
        else:
            raise AssertionError("server A never hung")

        for transid in range(300, 303):
            wire.ping(transid, b)
            start = wire.mark()
            wire.send({"cmd": "getValues", "TransID": transid + 10, "OPCServerID": b,
                       "tagNames": [uptime]})
            wire.wait_json("getValues", TransID=transid + 10, start=start)
            wire.wait(is_push, start=start)  # B's subscription keeps pushing

        first, count = 1000, 150
        start = wire.mark()
        wire.send(b"".join(compact({"cmd": "ping", "TransID": t, "OPCServerID": a}) + b"\r\n"
                           for t in range(first, first + count)))
        refused = []
        while not refused or refused[-1] != first + count - 1:  # answers keep their order
            i = wire.wait(lambda raw: b'"cmd":"ping"' in raw, timeout=30, start=start)
            transid = json.loads(wire.lines[i][1])["TransID"]
            assert wire.lines[i][1] == recorded({"cmd": "ping", "TransID": transid,
                                                 "error": f"Task buffer overload, "
                                                          f"TransID={transid}"})
            refused.append(transid)
        # 100 tasks wait behind the stuck call at most, a few of them the agent's own checks.
        assert refused == list(range(refused[0], first + count))
        assert first + 90 <= refused[0] <= first + 100, refused[0]
        wire.ping(400, b)
        assert agent.close() < 15  # a guard against a hang, not a speed figure


@pytest.mark.skipif(OPCSIM_MODE == "local", reason="needs a registration of its own")
def test_connect_right_after_disconnect_meets_a_stopping_server(wine, tmp_path):
    """The server process serves many clients and, once its last object is released, is stopping
    for 300 ms: its class object, still handed out, refuses to make objects. Every OPCConnect
    right after OPCDisconnect releases that last object first, meets the stopping process, and
    succeeds on a later try, which starts a new process."""
    with local_agent(wine, tmp_path, "tagrelay-linger.exe",
                     server_args=("/MultipleUse", "/Linger", "300")) as (wire, agent):
        agent.log_text()  # "Enable log" ticked: the retries are kept
        wire.connect(1, LOCAL_SIM, "sync", 500)
        for n in range(10):
            disconnect, connect = 10 + 2 * n, 11 + 2 * n
            wire.send(compact({"cmd": "OPCDisconnect", "TransID": disconnect,
                               "OPCServerID": LOCAL_SIM}) + b"\r\n" +
                      compact({"cmd": "OPCConnect", "TransID": connect, "OPCServerID": LOCAL_SIM,
                               "syncMode": "sync", "responseTime": 500}) + b"\r\n")
            wire.expect({"cmd": "OPCDisconnect", "TransID": disconnect, "OPCServerID": LOCAL_SIM})
            wire.expect({"cmd": "OPCConnect", "TransID": connect, "OPCServerID": LOCAL_SIM},
                        timeout=30)
        read_integer(wire, 100)
        retries = agent.log_text(enable=False).count(f"OPC server {LOCAL_SIM} is stopping or gone")
        assert retries >= 10, retries  # each connect met the stopping process at least once
