"""Habits of OPC servers written by others, which the simulator imitates: an in-process server
whose unloading waits for a thread of its own, a server process that lingers after its last client
and hands its class object to many clients, qualities with substatus and limit bits."""
import json
import time

import pytest

from wire import OPCSIM_MODE, ROOT, SIM, SIM_CONFIG, agent_session, fault_config, is_push, tag_hash

COUNTER = tag_hash("Plant$#%Counter")  # changes every 200 ms in the small tree of fault_config




@pytest.mark.skipif(OPCSIM_MODE == "local", reason="a habit of in-process servers")
def test_closes_after_an_async_session_with_a_server_whose_unload_waits(wine, tmp_path):
    """The server's DllCanUnloadNow waits for a thread of its own, whose end needs the loader
    lock: COM must not ask it from a thread that is already ending."""
    config = fault_config(tmp_path / "opcsim.json", {"unloadWaitsForThread": True}, {})
    with agent_session(wine, tmp_path, "tagrelay-unload.exe", config) as (wire, agent):
        wire.connect(1, SIM, "async", 100)
        wire.send({"cmd": "getValues", "TransID": 2, "OPCServerID": SIM, "tagNames": [COUNTER]})
        start = wire.mark()
        wire.wait_json("getValues", TransID=2)
        wire.wait(is_push, start=start)
        assert agent.close() < 15  # a guard against a hang, not a speed figure


# Leaves of the same value type under qualities a server may give: good, good with a low limit,
# good with a local override (how some servers mark a value a client wrote), uncertain, bad; and an
# array, which no value text is made of.
QUALITY_LEAVES = [("Good", 192), ("GoodLowLimited", 193), ("GoodLocalOverride", 216),
                  ("Uncertain", 64), ("Bad", 0)]
QUALITY_TAGS = [tag_hash(name) for name, _ in QUALITY_LEAVES] + [tag_hash("Array")]
# The "sync" read counts every good quality as good and sends every value's text.
SYNC_READ = (["1", "2", "3", "4", "5", "<Unread Value>"], ["1", "1", "1", "0", "0", "0"])
PUSHED = {
    # By default a push counts only plain good (0xC0) as good, and sends no text for the rest.
    "exact": (["1", "", "", "", "", "<Unread Value>"], ["1", "0", "0", "0", "0", "0"]),
    # AsyncGoodQuality=any: every good quality counts, as in the "sync" read.
    "any": (["1", "2", "3", "", "", "<Unread Value>"], ["1", "1", "1", "0", "0", "0"]),
}


def quality_config(path):
    config = json.loads((ROOT / "tools" / "opcsim" / "opcsim.json").read_text(encoding="utf-8"))
    sim = next(s for s in config["servers"] if s["clsid"] == SIM_CONFIG)
    sim["tree"] = [{"leaf": name, "type": "I4", "value": n + 1, "quality": quality}
                   for n, (name, quality) in enumerate(QUALITY_LEAVES)]
    sim["tree"].append({"leaf": "Array", "type": "I4[]", "value": [1, 2]})
    path.write_text(json.dumps(config), encoding="utf-8")
    return path


def by_tag(message):
    """(values, qualities) in the order of QUALITY_TAGS, from a message that names them all."""
    slots = {tag: n for n, tag in enumerate(message["tagNames"])}
    return ([message["values"][slots[t]] for t in QUALITY_TAGS],
            [message["qualities"][slots[t]] for t in QUALITY_TAGS])


@pytest.mark.parametrize("setting", ["exact", "any"])
def test_qualities_of_pushes_by_the_setting_and_of_the_sync_read(wine, tmp_path, setting):
    settings = {"AsyncGoodQuality": "any"} if setting == "any" else {}
    config = quality_config(tmp_path / "opcsim.json")
    with agent_session(wine, tmp_path, f"tagrelay-{setting}.exe", config, **settings) as (wire, _):
        wire.connect(1, SIM, "async", 100)
        start = wire.mark()
        wire.send({"cmd": "getValues", "TransID": 2, "OPCServerID": SIM, "tagNames": QUALITY_TAGS})
        wire.wait_json("getValues", TransID=2)
        # The first report after the subscription carries every item.
        _, push, _ = wire.wait_json("getValues", TransID=0, start=start)
        assert by_tag(push) == PUSHED[setting]

        wire.send({"cmd": "OPCDisconnect", "TransID": 3, "OPCServerID": SIM})
        wire.wait_json("OPCDisconnect", TransID=3)
        wire.connect(4, SIM, "sync", 100)
        for transid in range(5, 45):
            wire.send({"cmd": "getValues", "TransID": transid, "OPCServerID": SIM,
                       "tagNames": QUALITY_TAGS})
            _, answer, _ = wire.wait_json("getValues", TransID=transid)
            if answer["values"][0]:
                break
            time.sleep(0.25)
        assert by_tag(answer) == SYNC_READ
