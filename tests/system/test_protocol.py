"""The wire protocol end to end, against one agent: the announcement and server lists, both
connection modes, tags, values and pushes, writes, every error answer opcsim can provoke without
faults, the requests that get no answer, ping, and disconnecting and connecting again.

The tests of this module share one agent and run in file order; each builds on the state the
earlier ones left (servers connected, tags requested)."""
import time
from types import SimpleNamespace

import pytest

from load_support import SimRegistration, counter_server, write_config
from winagent import Agent
from scada_peer import ScadaPeer
from wire import (EDGE, EDGE_PROGID, SIM, SIM_PROGID, UID, Wire, compact, is_push, parse,
                  recorded, tag_hash, wait_online)

# OPC servers installed while the agent runs: one whose class identifier cannot be read, one whose
# class is not registered. Their key names sort before opcsim's, so the registry lists them first.
BAD_CLSID, BAD_PROGID = "{}", "Aaa.Tagrelay.BadClassId"
ABSENT_CLSID, ABSENT_PROGID = "{0BADC0DE-0000-4000-8000-00000000A001}", "Aaa.Tagrelay.Absent"
CASES_CLSID, CASES_PROGID = "{0BADC0DE-0000-4000-8000-00000000A002}", "Aaa.Tagrelay.Cases"
# Keys that are no OPC server: a numeric class identifier, an empty one.
NUMERIC_PROGID, EMPTY_PROGID = "Aaa.Tagrelay.Numeric", "Aaa.Tagrelay.Empty"
FAKE_PROGIDS = (BAD_PROGID, ABSENT_PROGID, CASES_PROGID, NUMERIC_PROGID, EMPTY_PROGID)
# In the order of their key names, as the registry lists them.
SERVERS = sorted([{"id": SIM, "name": SIM_PROGID}, {"id": EDGE, "name": EDGE_PROGID}],
                 key=lambda server: server["name"].lower())


def diag(leaf):
    return tag_hash("Diagnostics$#%" + leaf)


# The simulated edge server's whole address space, in walk order: root leaves, then each branch;
# item identifiers carry the prefix "[Dev]", the branch "Locked" refuses entry.
EDGE_TAGS = [("[Dev]Uptime", True, False), ("[Dev]Plant$#%Temp.PV", True, True),
             ("[Dev]Plant$#%Line2$#%Temp", True, True), ("[Dev]Plant$#%Line3$#%Speed", True, True)]
UPTIME, TEMP_PV = tag_hash("[Dev]Uptime"), tag_hash("[Dev]Plant$#%Temp.PV")


@pytest.fixture(scope="module")
def proto(wine, tmp_path_factory):
    peer = ScadaPeer().start()
    agent = Agent(wine, tmp_path_factory.mktemp("protocol"), "tagrelay-protocol.exe")
    agent.configure(port=peer.port)
    for progid in FAKE_PROGIDS:  # left behind by an interrupted run
        wine.run("reg", "delete", rf"HKLM\Software\Classes\{progid}", "/f")
    set_decimal_separator(wine, ".")
    agent.start()
    installed = []
    try:
        wire = Wire(peer)
        online, _ = wait_online(wire)
        yield SimpleNamespace(wine=wine, wire=wire, online=online, installed=installed)
    finally:
        agent.kill()
        peer.stop()
        for progid in installed:
            wine.run("reg", "delete", rf"HKLM\Software\Classes\{progid}", "/f")


def set_decimal_separator(wine, separator):
    return wine.run("reg", "add", r"HKCU\Control Panel\International", "/v", "sDecimal", "/d",
                    separator, "/f")


def install_server(proto, progid, clsid, clsid_type="REG_SZ", clsid_key="CLSID", opc_key="OPC"):
    proto.installed.append(progid)
    key = rf"HKLM\Software\Classes\{progid}"
    assert proto.wine.run("reg", "add", key + "\\" + clsid_key, "/ve", "/t", clsid_type, "/d",
                          clsid, "/f").returncode == 0
    assert proto.wine.run("reg", "add", key + "\\" + opc_key, "/f").returncode == 0


def get_values(wire, transid, server, names, timeout=20.0):
    wire.send({"cmd": "getValues", "TransID": transid, "OPCServerID": server, "tagNames": names})
    raw, answer, _ = wire.wait_json("getValues", timeout, TransID=transid)
    return raw, answer


def values_message(server, transid, names, values, qualities):
    return {"cmd": "getValues", "OPCServerID": server, "TransID": transid, "tagNames": names,
            "values": values, "qualities": qualities}


def poll_values(wire, first_transid, server, names, expected_values, attempts=40):
    """Asks until the values read are the expected ones; returns the last answer."""
    for n in range(attempts):
        _, answer = get_values(wire, first_transid + n, server, names)
        if answer["values"] == expected_values:
            return answer
        time.sleep(0.25)
    raise AssertionError(f"values never became {expected_values}: {answer}")


def test_announces_itself_with_every_server(proto):
    assert proto.online == recorded({"cmd": "serverOnline", "uid": UID, "TransID": 0,
                                     "ListServers": SERVERS})


def test_server_list_appends_servers_installed_later(proto):
    wire = proto.wire
    wire.send({"cmd": "getOPCServers", "TransID": 5})
    wire.expect({"cmd": "getOPCServers", "TransID": 5, "ListServers": SERVERS})

    install_server(proto, BAD_PROGID, BAD_CLSID)
    install_server(proto, ABSENT_PROGID, ABSENT_CLSID)
    install_server(proto, CASES_PROGID, CASES_CLSID, clsid_key="Clsid", opc_key="opc")
    install_server(proto, NUMERIC_PROGID, "5", clsid_type="REG_DWORD")  # skipped, walk goes on
    install_server(proto, EMPTY_PROGID, "")
    wire.send({"cmd": "getOPCServers", "TransID": 6})
    raw, answer, _ = wire.wait_json("getOPCServers", TransID=6)
    # The workers registered earlier keep their places; the new ones follow.
    assert answer["ListServers"][:2] == SERVERS
    assert sorted(map(tuple, (s.values() for s in answer["ListServers"][2:]))) == sorted(
        [(BAD_CLSID, BAD_PROGID), (ABSENT_CLSID, ABSENT_PROGID), (CASES_CLSID, CASES_PROGID)])
    assert raw == recorded({"cmd": "getOPCServers", "TransID": 6,
                            "ListServers": answer["ListServers"]})


def test_connects_in_sync_and_async_mode(proto):
    wire = proto.wire
    wire.connect(10, SIM, "sync", 500)
    wire.connect(11, EDGE, "async", 200)


def test_lists_tags_with_names_hashes_and_access(proto):
    wire = proto.wire
    wire.send({"cmd": "getTags", "TransID": 20, "OPCServerID": EDGE})
    wire.expect({"cmd": "getTags", "TransID": 20, "OPCServerID": EDGE, "ListTags": [
        {"name": name, "hash": tag_hash(name), "readable": r, "writeable": w}
        for name, r, w in EDGE_TAGS]})

    wire.send({"cmd": "getTags", "TransID": 21, "OPCServerID": SIM})
    _, answer, _ = wire.wait_json("getTags", TransID=21, timeout=180)  # out of process: slow
    tags = {t["name"]: t for t in answer["ListTags"]}
    assert len(tags) == len(answer["ListTags"]) == 2806
    assert all(t["hash"] == tag_hash(name) for name, t in tags.items())
    for leaf, readable, writeable in [("ReadOnly", True, False), ("WriteOnly", False, True),
                                      ("Integer", True, True)]:
        assert tags["Diagnostics$#%" + leaf] == {"name": "Diagnostics$#%" + leaf,
                                                  "hash": diag(leaf), "readable": readable,
                                                  "writeable": writeable}
    assert tags["Heartbeat"]["hash"] == tag_hash("Heartbeat")
    assert "Plant$#%Area3$#%Line2$#%Pump07$#%Speed" in tags


def test_values_are_empty_first_then_read(proto):
    wire = proto.wire
    # leaf: (value text, quality) once read; "Missing" is in no tag table and never gets a value.
    table = {
        "Integer": ("42", "1"),
        "Text": ("Gr\u00fc\u00dfe", "1"),
        "Flag": ("True", "1"),
        "Float": ("0.100000001490116", "1"),  # a 32-bit 0.1, widened
        "Bad": ("1", "0"),
        "LastKnown": ("2", "0"),
        "LowLimited": ("4", "1"),  # good with limit bits
        "Vector": ("<Unread Value>", "0"),  # an array has no text
        "Missing": ("", ""),
    }
    names = [diag(leaf) for leaf in table]
    raw, _ = get_values(wire, 30, SIM, names)
    assert raw == recorded(values_message(SIM, 30, names, [""] * len(names), [""] * len(names)))

    values = [v for v, _ in table.values()]
    answer = poll_values(wire, 31, SIM, names, values)
    assert answer == values_message(SIM, answer["TransID"], names, values,
                                    [q for _, q in table.values()])


def test_async_mode_pushes_each_change(proto):
    wire = proto.wire
    line2_temp = tag_hash("[Dev]Plant$#%Line2$#%Temp")
    names = [UPTIME, TEMP_PV, line2_temp]
    start = wire.mark()
    get_values(wire, 40, EDGE, names)

    uptimes = []
    while len(uptimes) < 3:
        raw, push, _ = wire.wait_json("getValues", TransID=0, OPCServerID=EDGE, start=start)
        assert list(push) == ["cmd", "OPCServerID", "TransID", "tagNames", "values", "qualities"]
        assert raw == recorded(push)
        assert len(push["tagNames"]) == len(push["values"]) == len(push["qualities"])
        assert set(push["tagNames"]) <= set(names)
        assert push["qualities"] == ["1"] * len(push["tagNames"])
        if UPTIME in push["tagNames"]:
            uptimes.append(int(push["values"][push["tagNames"].index(UPTIME)]))
    assert uptimes == sorted(uptimes) and len(set(uptimes)) == 3

    # A new tag rebuilds the group: the first report after it carries every item, the new one
    # with its value; the old ones go on changing.
    speed = tag_hash("[Dev]Plant$#%Line3$#%Speed")
    start = wire.mark()
    get_values(wire, 42, EDGE, [UPTIME, speed])
    first = wire.wait(lambda raw: is_push(raw) and speed.encode() in raw, start=start)
    push = parse(wire.lines[first][1])
    assert sorted(push["tagNames"]) == sorted(names + [speed])
    assert push["values"][push["tagNames"].index(speed)] == "7"
    wire.wait(lambda raw: is_push(raw) and UPTIME.encode() in raw, start=first + 1)

    # A write is a change like any other: it is pushed with the value read back.
    start = wire.mark()
    wire.send({"cmd": "setValue", "TransID": 41, "OPCServerID": EDGE, "tagName": TEMP_PV,
               "value": 23.25})
    wire.expect({"cmd": "setValue", "OPCServerID": EDGE, "TransID": 41, "tagName": TEMP_PV,
                 "value": "23.25"})
    wire.wait(lambda raw: b'"TransID":0' in raw and TEMP_PV.encode() in raw
              and b'"23.25"' in raw, start=start)


# (leaf, "value" as sent (absent when missing), the answer's value text, the value read back)
WRITES = [
    ("Integer", 7, "7", "7"),
    ("Integer", "$1F", "$1F", "31"),
    ("Integer", "0x20", "0x20", "32"),
    ("Integer", None, "0", "0"),  # no "value" reads as the number 0
    ("Limited", 12.5, "12.5", "12.5"),
    ("Limited", "37,5", "37,5", "37.5"),  # either decimal separator
    # Numbers in the general format: 15 significant digits, exponent beyond them or below 1E-4.
    ("Float", 1e20, "1E20", None),
    ("Float", 0.00001, "1E-5", None),
    ("Float", 0.0001, "0.0001", None),
    ("Float", -2.5e-5, "-2.5E-5", None),
    ("Float", 0.1 + 0.2, "0.3", None),
    ("Float", 999999999999999, "999999999999999", None),
    ("Float", 1e15, "1E15", None),
    ("Float", 123456789012345678, "1.23456789012346E17", None),
    ("Float", 100, "100", None),
    ("Text", "ON", "ON", "ON"),
    ("Text", "Gr\u00fc\u00dfe/\"1\"", "Gr\u00fc\u00dfe/\"1\"", "Gr\u00fc\u00dfe/\"1\""),
]

# (leaf, "value", error text): the write is refused (-14) or the tag was never requested (-13).
REFUSED_WRITES = [
    ("Locked", 5, "Write item error"),  # the item refuses writes
    ("ReadOnly", 9, "Write item error"),  # no write access
    ("Limited", 150, "Write item error"),  # out of range
    ("Integer", "abc", "Write item error"),  # not a number for an integer item
    ("Small", 1, "Item not init"),  # never asked for with getValues
]


def test_set_value_writes_numbers_hex_and_text(proto):
    wire = proto.wire
    get_values(wire, 50, SIM, [diag(leaf) for leaf in ("Integer", "Limited", "Float", "Text",
                                                       "Locked", "ReadOnly")])
    for n, (leaf, value, text, read_back) in enumerate(WRITES):
        transid = 100 + 50 * n
        request = {"cmd": "setValue", "TransID": transid, "OPCServerID": SIM,
                   "tagName": diag(leaf)}
        if value is not None:
            request["value"] = value
        wire.send(request)
        wire.expect({"cmd": "setValue", "OPCServerID": SIM, "TransID": transid,
                     "tagName": diag(leaf), "value": text})
        if read_back is not None:
            poll_values(wire, transid + 1, SIM, [diag(leaf)], [read_back])

    # A text with bytes that are no UTF-8 arrives with each bad sequence replaced by U+FFFD.
    wire.send(b'{"cmd":"setValue","TransID":700,"OPCServerID":"' + SIM.encode() +
              b'","tagName":"' + diag("Text").encode() + b'","value":"bad\xc3(\xff"}\r\n')
    wire.expect({"cmd": "setValue", "OPCServerID": SIM, "TransID": 700,
                 "tagName": diag("Text"), "value": "bad\ufffd(\ufffd"})


def test_set_value_errors(proto):
    wire = proto.wire
    for n, (leaf, value, error) in enumerate(REFUSED_WRITES):
        wire.send({"cmd": "setValue", "TransID": 800 + n, "OPCServerID": SIM,
                   "tagName": diag(leaf), "value": value})
        wire.expect({"cmd": "setValue", "error": error, "TransID": 800 + n,
                     "tagName": diag(leaf)})
    # A "value" that is neither number nor string, also for a server nobody knows.
    for n, (server, value) in enumerate([(SIM, True), (SIM, None), (SIM, [1]), (SIM, {}),
                                         ("{unknown}", False)]):
        transid = 900 + n
        wire.send({"cmd": "setValue", "TransID": transid, "OPCServerID": server,
                   "tagName": diag("Integer"), "value": value})
        wire.expect({"cmd": "setValue", "TransID": transid,
                     "error": f"Error parsing write value, TransID={transid}"})


# (request, answer) of every other error the agent gives without a server fault.
CONNECT_ERRORS = [
    ({"cmd": "OPCConnect", "OPCServerID": SIM, "syncMode": "sync"}, "OPC still initialize"),
    ({"cmd": "OPCConnect", "OPCServerID": BAD_CLSID, "syncMode": "sync"}, "Wrong OPC Class ID"),
    ({"cmd": "OPCConnect", "OPCServerID": ABSENT_CLSID, "syncMode": "sync"},
     "Unable to connect OPC server"),
    ({"cmd": "getTags", "OPCServerID": ABSENT_CLSID}, "OPC Server not initialize"),
]


@pytest.mark.parametrize("request_, error", CONNECT_ERRORS,
                         ids=[e for _, e in CONNECT_ERRORS])
def test_error_answers(proto, request_, error):
    transid = 1000 + CONNECT_ERRORS.index((request_, error))
    proto.wire.send({**request_, "TransID": transid})
    proto.wire.expect({"cmd": request_["cmd"], "TransID": transid,
                       "OPCServerID": request_["OPCServerID"], "error": error})


def test_edge_cases_that_are_answered(proto):
    wire = proto.wire
    wire.send({"cmd": "ping", "OPCServerID": SIM})  # no TransID: 0
    wire.expect({"cmd": "ping", "TransID": 0, "OPCServerID": SIM, "OPCState": "Running"})
    wire.send({"cmd": "ping", "TransID": -3, "OPCServerID": SIM, "extra": [1, {"a": None}]})
    wire.expect({"cmd": "ping", "TransID": -3, "OPCServerID": SIM, "OPCState": "Running"})
    wire.send({"cmd": "getValues", "TransID": 1101, "OPCServerID": SIM, "tagNames": []})
    wire.expect(values_message(SIM, 1101, [], [], []))
    wire.send({"cmd": "ping", "TransID": 2147483647, "OPCServerID": SIM})
    wire.expect({"cmd": "ping", "TransID": 2147483647, "OPCServerID": SIM, "OPCState": "Running"})
    wire.send({"cmd": "ping", "TransID": -2147483648, "OPCServerID": SIM})
    wire.expect({"cmd": "ping", "TransID": -2147483648, "OPCServerID": SIM,
                 "OPCState": "Running"})
    # A line ended by LF alone, or by two CRs (one is dropped, the other follows the object).
    wire.send(compact({"cmd": "ping", "TransID": 1105, "OPCServerID": SIM}) + b"\n")
    wire.expect({"cmd": "ping", "TransID": 1105, "OPCServerID": SIM, "OPCState": "Running"})
    wire.send(compact({"cmd": "ping", "TransID": 1106, "OPCServerID": SIM}) + b"\r\r\n")
    wire.expect({"cmd": "ping", "TransID": 1106, "OPCServerID": SIM, "OPCState": "Running"})
    # Half a line, a pause longer than a read's 2 s wait, then the rest: one request.
    line = compact({"cmd": "ping", "TransID": 1108, "OPCServerID": SIM}) + b"\r\n"
    wire.send(line[:20])
    time.sleep(2.5)
    wire.send(line[20:])
    wire.expect({"cmd": "ping", "TransID": 1108, "OPCServerID": SIM, "OPCState": "Running"})
    # Whatever follows the object on its line is not looked at.
    wire.send(compact({"cmd": "ping", "TransID": 1107, "OPCServerID": SIM}) + b' trailing {"x\r\n')
    wire.expect({"cmd": "ping", "TransID": 1107, "OPCServerID": SIM, "OPCState": "Running"})
    # Names in no tag table travel back as sent: UTF-8, a pair of surrogates, escapes.
    odd = ["Gr\u00fc\u00dfe/\"x\"\\", "\u65e5\u672c", "\U0001F600", "tab\tend"]
    wire.send({"cmd": "getValues", "TransID": 1104, "OPCServerID": SIM, "tagNames": odd})
    wire.expect(values_message(SIM, 1104, odd, [""] * 4, [""] * 4))
    # A server never connected has no server object: communication fault.
    wire.send({"cmd": "ping", "TransID": 1102, "OPCServerID": ABSENT_CLSID})
    wire.expect({"cmd": "ping", "TransID": 1102, "OPCServerID": ABSENT_CLSID,
                 "OPCState": "CommFault"})
    # Disconnecting a server never connected succeeds.
    wire.send({"cmd": "OPCDisconnect", "TransID": 1103, "OPCServerID": ABSENT_CLSID})
    wire.expect({"cmd": "OPCDisconnect", "TransID": 1103, "OPCServerID": ABSENT_CLSID})


# "TransID" as written on the wire, and as answered: a number truncated toward zero, of which the
# low 32 bits count; the first of two equal keys is read.
TRANSIDS = [(b"5.9", 5), (b"-5.9", -5), (b"4294967301", 5), (b"2147483648", -2147483648),
            (b"1e2", 100), (b'1,"TransID":2', 1)]


@pytest.mark.parametrize("text, transid", TRANSIDS, ids=[t.decode() for t, _ in TRANSIDS])
def test_transid_as_read(proto, text, transid):
    proto.wire.send(b'{"cmd":"ping","cmd":"x","TransID":' + text + b',"OPCServerID":"' +
                    EDGE.encode() + b'"}\r\n')
    proto.wire.expect({"cmd": "ping", "TransID": transid, "OPCServerID": EDGE,
                       "OPCState": "Running"})


SILENT = [
    b"this is not json",
    b"[1,2,3]",
    b'{"cmd":5}',
    b'"ping"',
    b"",
    b"\r",
    b"   ",
    compact({"TransID": 1201, "OPCServerID": SIM}),  # no cmd
    compact({"cmd": "Ping", "TransID": 1202, "OPCServerID": SIM}),
    compact({"cmd": "updateValues", "TransID": 1203, "OPCServerID": SIM}),
    compact({"cmd": "serverOnline", "TransID": 1204}),
    compact({"cmd": "ping", "TransID": "1205", "OPCServerID": SIM}),
    compact({"cmd": "ping", "TransID": 1206, "OPCServerID": SIM.lower()}),
    compact({"cmd": "ping", "TransID": 1207, "OPCServerID": SIM.strip("{}")}),
    compact({"cmd": "ping", "TransID": 1208, "OPCServerID": ABSENT_CLSID[:-2] + "FF}"}),
    compact({"cmd": "ping", "TransID": 1209}),
    compact({"cmd": "getTags", "TransID": 1210, "OPCServerID": 5}),
    compact({"cmd": "getValues", "TransID": 1211, "OPCServerID": SIM}),
    compact({"cmd": "getValues", "TransID": 1212, "OPCServerID": SIM, "tagNames": ["a", 1]}),
    compact({"cmd": "getValues", "TransID": 1213, "OPCServerID": SIM, "tagNames": "a"}),
    compact({"cmd": "setValue", "TransID": 1214, "OPCServerID": "{unknown}", "tagName": "a",
             "value": 1}),
    compact({"cmd": "OPCConnect", "TransID": 1215, "OPCServerID": "", "syncMode": "sync"}),
    compact({"cmd": "ping", "TransID": 1216, "OPCServerID": SIM})[:-1],  # cut short
    b'{"cmd":"ping","TransID":1e19,"OPCServerID":"' + SIM.encode() + b'"}',  # beyond 64 bits
    b'{"cmd":"ping","TransID":1e400,"OPCServerID":"' + SIM.encode() + b'"}',  # beyond a double
    b'{"cmd":"ping","TransID":null,"OPCServerID":"' + SIM.encode() + b'"}',
]


def test_requests_that_get_no_answer(proto):
    wire = proto.wire
    start = wire.mark()
    for line in SILENT:
        wire.send(line + b"\r\n")
    # Pings on both connected servers after them: every task queued before would come first.
    wire.send({"cmd": "ping", "TransID": 1290, "OPCServerID": SIM})
    wire.send({"cmd": "ping", "TransID": 1291, "OPCServerID": EDGE})
    for transid, server in ((1290, SIM), (1291, EDGE)):
        wire.expect({"cmd": "ping", "TransID": transid, "OPCServerID": server,
                     "OPCState": "Running"})
    answers = [raw for raw in wire.between(start, wire.mark())
               if not is_push(raw) and b'"TransID":129' not in raw]
    assert answers == []


def test_disconnect_and_connect_again(proto):
    wire = proto.wire
    wire.send({"cmd": "OPCDisconnect", "TransID": 1300, "OPCServerID": EDGE})
    wire.expect({"cmd": "OPCDisconnect", "TransID": 1300, "OPCServerID": EDGE})
    start = wire.mark()
    time.sleep(2.5)  # the uptime counter changes every second: no push may follow
    assert [raw for raw in wire.between(start, wire.mark())
            if EDGE.encode() in raw and b'"TransID":0,' in raw] == []

    # The server object is kept: its state is still read; tags and items are gone.
    wire.ping(1301, EDGE)
    wire.send({"cmd": "getTags", "TransID": 1302, "OPCServerID": EDGE})
    wire.expect({"cmd": "getTags", "TransID": 1302, "OPCServerID": EDGE,
                 "error": "OPC Server not initialize"})
    wire.send({"cmd": "setValue", "TransID": 1303, "OPCServerID": EDGE, "tagName": TEMP_PV,
               "value": 1})
    wire.expect({"cmd": "setValue", "error": "Item not init", "TransID": 1303,
                 "tagName": TEMP_PV})

    # Any mode text but "sync" (letter case counts) connects asynchronously: values are pushed.
    wire.connect(1304, EDGE, "Sync", 200)
    start = wire.mark()
    get_values(wire, 1305, EDGE, [UPTIME])
    _, push, _ = wire.wait_json("getValues", TransID=0, OPCServerID=EDGE, start=start)
    assert push["tagNames"] == [UPTIME] and push["qualities"] == ["1"]


LATE_CLSID, LATE_PROGID = "{0BADC0DE-0000-4000-8000-00000000A010}", "Zzz.Tagrelay.Late.1"


def test_server_registered_while_running_is_listed_by_the_next_request(proto, tmp_path):
    """The agent reuses its last registry walk while the classes key is unchanged; registering a
    server (regsvr32) is a change, so the very next getOPCServers lists it. Unregistering keeps
    the worker, which stays listed and keeps its server connection."""
    wire = proto.wire
    wire.send({"cmd": "getOPCServers", "TransID": 1400})
    _, before, _ = wire.wait_json("getOPCServers", TransID=1400)
    assert LATE_CLSID not in [s["id"] for s in before["ListServers"]]
    wire.send({"cmd": "getOPCServers", "TransID": 1401})  # nothing changed: the same list
    wire.expect({"cmd": "getOPCServers", "TransID": 1401, "ListServers": before["ListServers"]})

    config = write_config(tmp_path / "late.json",
                          [counter_server(LATE_PROGID, LATE_CLSID, [("S", 3, 1000)])])
    late = {"id": LATE_CLSID, "name": LATE_PROGID}
    with SimRegistration(proto.wine.build, config):
        wire.send({"cmd": "getOPCServers", "TransID": 1402})
        wire.expect({"cmd": "getOPCServers", "TransID": 1402,
                     "ListServers": before["ListServers"] + [late]})
        wire.connect(1403, LATE_CLSID, "sync", 200)
    wire.send({"cmd": "getOPCServers", "TransID": 1404})
    wire.expect({"cmd": "getOPCServers", "TransID": 1404,
                 "ListServers": before["ListServers"] + [late]})
    wire.ping(1405, LATE_CLSID)


@pytest.fixture
def comma_locale(wine):
    """The user's regional settings with a comma as decimal separator, for the test's agent."""
    assert set_decimal_separator(wine, ",").returncode == 0
    yield
    set_decimal_separator(wine, ".")


def test_decimal_comma_of_the_regional_settings(comma_locale, agent, peer):
    agent.configure(port=peer.port)
    agent.start()
    wire = Wire(peer)
    wait_online(wire)
    wire.connect(1, SIM, "sync", 200)
    limited = diag("Limited")
    # The first request browses the plant: out of process one call per item identifier.
    get_values(wire, 2, SIM, [limited], timeout=180)
    # A number is written with the user's separator; either separator is read. The value read
    # back is the platform's text of the double.
    for n, (value, text, read_back) in enumerate([(12.5, "12,5", "12,5"),
                                                  ("37.25", "37.25", "37,25"),
                                                  (1e-7, "1E-7", "1E-07")]):
        transid = 10 + 50 * n
        wire.send({"cmd": "setValue", "TransID": transid, "OPCServerID": SIM,
                   "tagName": limited, "value": value})
        wire.expect({"cmd": "setValue", "OPCServerID": SIM, "TransID": transid,
                     "tagName": limited, "value": text})
        poll_values(wire, transid + 1, SIM, [limited], [read_back])
