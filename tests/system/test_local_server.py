"""OPC servers in processes of their own (opcsim-server.exe through the test proxy/stub), as most
plant servers are: a server process killed under the agent is reported, connected again (COM
starts a new process) and read again."""
import contextlib
import os
import signal
import time

from load_support import SimRegistration, server_pids
from scada_peer import ScadaPeer
from winagent import Agent, local_clsid, windows_path
from wire import OPCSIM_MODE, SIM_CONFIG, Wire, fault_config, recorded, tag_hash, wait_online

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
def local_agent(wine, folder, name, sim_faults=None):
    """An agent with the out-of-process simulator on a small configuration of its own (with
    fault switches for the plant server); yields the wire and the agent."""
    config = fault_config(folder / "opcsim.json", sim_faults or {}, {})
    # Out of process, the run registered opcsim-server.exe already (conftest); in process this
    # test registers it itself, for its own duration.
    registration = (contextlib.nullcontext() if OPCSIM_MODE == "local"
                    else SimRegistration(wine.build, config, local=True))
    with registration:
        peer = ScadaPeer().start()
        agent = Agent(wine, folder, name)
        try:
            agent.configure(port=peer.port)
            agent.start(env={"OPCSIM_CONFIG": windows_path(config)})
            wire = Wire(peer)
            wait_online(wire)
            yield wire, agent
        finally:
            agent.kill()
            peer.stop()


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

