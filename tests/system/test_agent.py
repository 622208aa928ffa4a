"""The agent end to end: requests on the wire, answers byte for byte, reconnection, TLS, close."""
import json
import time

from wire import SIM, SIM_PROGID
CONNECT_TIMEOUT = 30  # the first attempt waits for the reconnect timer's next 5 s wake-up


def compact(obj):
    return json.dumps(obj, separators=(",", ":"), ensure_ascii=False).encode("utf-8")


def expect_exact(peer, cmd, expected, **fields):
    line, _ = peer.wait_json(cmd, **fields)
    assert line == compact(expected) + b"\r"


def connected_agent(agent, peer, **config):
    agent.configure(port=peer.port, **config)
    agent.start()
    line, online = peer.wait_json("serverOnline", timeout=CONNECT_TIMEOUT)
    return line, online


def tag_hashes(peer, transid):
    peer.send({"cmd": "getTags", "TransID": transid, "OPCServerID": SIM})
    line, answer = peer.wait_json("getTags", TransID=transid)
    assert line.startswith(compact({"cmd": "getTags", "TransID": transid,
                                    "OPCServerID": SIM})[:-1] + b',"ListTags":[')
    return {t["name"]: t for t in answer["ListTags"]}


def first_tag(tags, suffix, writeable=None):
    for name, tag in tags.items():
        if name.endswith(suffix) and (writeable is None or tag["writeable"] == writeable):
            return tag
    raise AssertionError(f"no tag ending in {suffix}")


def poll_values(peer, transid, hashes, until, attempts=40):
    for _ in range(attempts):
        peer.send({"cmd": "getValues", "TransID": transid, "OPCServerID": SIM, "tagNames": hashes})
        _, answer = peer.wait_json("getValues", TransID=transid)
        if until(answer):
            return answer
        time.sleep(0.25)
    raise AssertionError(f"values never settled: {answer}")


def test_sync_session_on_the_wire(agent, peer):
    line, online = connected_agent(agent, peer)
    assert line.startswith(b'{"cmd":"serverOnline","uid":"4711000042","TransID":0,"ListServers":[')
    assert compact({"id": SIM, "name": SIM_PROGID}) in line

    peer.send({"cmd": "OPCConnect", "TransID": 1, "OPCServerID": SIM, "syncMode": "sync",
               "responseTime": 500})
    expect_exact(peer, "OPCConnect", {"cmd": "OPCConnect", "TransID": 1, "OPCServerID": SIM})

    tags = tag_hashes(peer, 2)
    assert len(tags) > 1000
    for tag in tags.values():
        assert len(tag["hash"]) == 32 and tag["hash"] == tag["hash"].lower()
        assert isinstance(tag["readable"], bool) and isinstance(tag["writeable"], bool)
    recipe = first_tag(tags, "Recipe", writeable=True)["hash"]
    counter = first_tag(tags, "Counter")["hash"]

    answer = poll_values(peer, 3, [recipe, counter], lambda a: a["values"][0] == "R-100")
    assert list(answer) == ["cmd", "OPCServerID", "TransID", "tagNames", "values", "qualities"]
    assert answer["tagNames"] == [recipe, counter] and answer["qualities"] == ["1", "1"]
    assert answer["values"][1].isdigit()

    peer.send({"cmd": "setValue", "TransID": 4, "OPCServerID": SIM, "tagName": recipe,
               "value": "R-200"})
    expect_exact(peer, "setValue", {"cmd": "setValue", "OPCServerID": SIM, "TransID": 4,
                                    "tagName": recipe, "value": "R-200"})
    poll_values(peer, 5, [recipe], lambda a: a["values"] == ["R-200"])

    # An unreadable line gets no answer; the next request is served normally.
    peer.send("this is not json")
    peer.send({"cmd": "ping", "TransID": 7, "OPCServerID": SIM})
    assert peer.wait_line() == compact({"cmd": "ping", "TransID": 7, "OPCServerID": SIM,
                                        "OPCState": "Running"}) + b"\r"

    peer.send({"cmd": "setValue", "TransID": 8, "OPCServerID": SIM, "tagName": recipe,
               "value": True})
    expect_exact(peer, "setValue", {"cmd": "setValue", "TransID": 8,
                                    "error": "Error parsing write value, TransID=8"})

    peer.send({"cmd": "OPCDisconnect", "TransID": 9, "OPCServerID": SIM})
    expect_exact(peer, "OPCDisconnect", {"cmd": "OPCDisconnect", "TransID": 9,
                                         "OPCServerID": SIM})

    assert agent.close() < 15


def test_async_mode_pushes_changes(agent, peer):
    connected_agent(agent, peer)
    peer.send({"cmd": "OPCConnect", "TransID": 1, "OPCServerID": SIM, "syncMode": "async",
               "responseTime": 200})
    peer.wait_json("OPCConnect", TransID=1)
    counter = first_tag(tag_hashes(peer, 2), "Counter")["hash"]
    peer.send({"cmd": "getValues", "TransID": 3, "OPCServerID": SIM, "tagNames": [counter]})
    peer.wait_json("getValues", TransID=3)

    seen = set()
    deadline = time.monotonic() + 15
    while len(seen) < 2 and time.monotonic() < deadline:
        _, push = peer.wait_json("getValues", TransID=0)
        assert push["OPCServerID"] == SIM and push["tagNames"] == [counter]
        assert push["qualities"] == ["1"]
        seen.add(push["values"][0])
    assert len(seen) >= 2, "the counter's changes were not pushed"
    assert agent.close() < 15


def test_reconnects_after_the_server_drops_the_link(agent, peer):
    connected_agent(agent, peer)
    first = peer.connections
    peer.close_active()
    line, _ = peer.wait_json("serverOnline", timeout=CONNECT_TIMEOUT)
    assert line.startswith(b'{"cmd":"serverOnline","uid":"4711000042"')
    assert peer.connections > first
    assert agent.close() < 15


def test_tls_link(agent, tls_peer):
    connected_agent(agent, tls_peer, tls=1)
    tls_peer.send({"cmd": "ping", "TransID": 3, "OPCServerID": SIM})
    expect_exact(tls_peer, "ping", {"cmd": "ping", "TransID": 3, "OPCServerID": SIM,
                                    "OPCState": "CommFault"})
    assert agent.close() < 15
