"""The SCADA link under faults and hostile input, against one agent behind a gate that can stop
accepting connections or stop reading: lines the agent must survive on the same link, lines too
long for it (the link is dropped and built again, also over TLS), a peer that closes mid-line,
goes silent, refuses connections for a while or stops reading. After each, a ping round trip
shows the agent answering normally."""
import threading
import time
from types import SimpleNamespace

import pytest

from winagent import Agent
from scada_peer import ScadaPeer
from wire import (EDGE, RECONNECT_TIMEOUT, SIM, Gate, Wire, compact, is_push, recorded,
                  tag_hash, wait_online)

MAX_LINE = 16384  # bytes before the line feed, carriage return included
UPTIME = tag_hash("[Dev]Uptime")  # pushed every second by the edge server


@pytest.fixture(scope="module")
def link(wine, tmp_path_factory):
    peer = ScadaPeer().start()
    gate = Gate(peer.port)
    agent = Agent(wine, tmp_path_factory.mktemp("link"), "tagrelay-link.exe")
    agent.configure(port=gate.port)
    agent.start()
    try:
        wire = Wire(peer)
        _, number = wait_online(wire)
        # A connected server keeps its connection across every loss of the link.
        wire.connect(1, SIM, "sync", 500)
        wire.connect(2, EDGE, "async", 200)
        wire.send({"cmd": "getValues", "TransID": 3, "OPCServerID": EDGE, "tagNames": [UPTIME]})
        wire.wait_json("getValues", TransID=3)
        yield SimpleNamespace(agent=agent, wire=wire, gate=gate, connection=number)
    finally:
        agent.kill()
        gate.stop()
        peer.stop()


def ping_line(transid, pad_to=0):
    """A ping request line (CR LF included), padded with blanks to pad_to bytes before its LF."""
    text = compact({"cmd": "ping", "TransID": transid, "OPCServerID": SIM})
    return text + b" " * max(0, pad_to - len(text) - 1) + b"\r\n"


def nested(depth):
    return b"[" * depth + b"]" * depth


def ping_with(transid, key_and_value):
    """A ping request with one more key, its value given as raw JSON bytes."""
    return (b'{"cmd":"ping","TransID":' + str(transid).encode() + b',"OPCServerID":"' +
            SIM.encode() + b'",' + key_and_value + b"}\r\n")


# (line, answered): each is sent on a live link; none may break it.
HOSTILE = [
    (nested(8000) + b"\r\n", False),  # far beyond the nesting limit, within the line limit
    (ping_with(101, b'"deep":' + nested(511)), True),  # 512 levels with the object: parsed
    (ping_with(102, b'"deep":' + nested(512)), False),  # 513 levels: unreadable
    (ping_with(103, b'"x":"\xff\xfe\xc3(\xed\xa0\x80"'), True),  # no UTF-8, in a key not read
    (b'{"cmd":"ping","TransID":104,"OPCServerID":"' + SIM.encode() + b'\xff"}\r\n', False),
    (b'{"cmd":"ping","TransID":105,"OPCServerID":"\\ud800"}\r\n', False),  # a lone surrogate
    (b"\x00\x01\x02\x1b[2J\r\n", False),
    (ping_line(106, pad_to=MAX_LINE), True),  # exactly the longest line accepted
]


def test_hostile_lines_leave_the_link_up(link):
    wire = link.wire
    start = wire.mark()
    for line, _ in HOSTILE:
        wire.send(line)
    number = wire.ping(199)
    assert number == link.connection
    assert [raw for raw in wire.between(start, wire.mark()) if not is_push(raw)] == [
        recorded({"cmd": "ping", "TransID": t, "OPCServerID": SIM, "OPCState": "Running"})
        for t in (101, 103, 106, 199)]


def send_quietly(wire, data):
    """Sends in the background; the agent may drop the link while the bytes still flow."""
    def run():
        try:
            wire.send(data)
        except OSError:
            pass
    sender = threading.Thread(target=run, daemon=True)
    sender.start()
    return sender


@pytest.mark.parametrize("data", [
    ping_line(301, pad_to=MAX_LINE + 1),  # one byte too many before the line feed
    b"x" * (20 * 1024 * 1024),  # 20 MB without a line feed
], ids=["longest-plus-one", "20MB-without-LF"])
def test_over_long_lines_drop_the_link_and_it_comes_back(link, data):
    wire = link.wire
    start = wire.mark()
    sender = send_quietly(wire, data)
    _, number = wait_online(wire, RECONNECT_TIMEOUT, start)
    assert number > link.connection
    link.connection = number
    sender.join(timeout=30)
    assert not sender.is_alive()
    assert wire.ping(302) == number
    assert [raw for raw in wire.between(start, wire.mark()) if b'"TransID":301' in raw] == []


def wait_until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"never happened: {what}")
        time.sleep(0.1)


def closes_mid_line(link):
    link.wire.send(ping_line(401)[:-2])
    time.sleep(0.3)
    link.gate.drop_links()


def goes_silent(link):
    """The peer stops accepting but keeps the link: only the probe can notice."""
    gate = link.gate
    probes = gate.accepted
    wait_until(lambda: gate.accepted > probes, 15, "a probe connection")
    ended = len(gate.ended)
    gate.refuse()
    wait_until(lambda: any(by_agent and sent for by_agent, sent in gate.ended[ended:]), 20,
               "the agent closing its link after a failed probe")


def refuses_for_a_while(link):
    """Attempts keep coming after refused ones: the link comes back once the peer accepts."""
    link.gate.refuse()
    link.gate.drop_links()
    time.sleep(7)  # longer than the reconnect timer's 5 s: at least one attempt is refused


@pytest.mark.parametrize("fault", [closes_mid_line, goes_silent, refuses_for_a_while],
                         ids=lambda f: f.__name__)
def test_peer_faults_are_survived(link, fault):
    wire = link.wire
    start = wire.mark()
    fault(link)
    assert [raw for raw in wire.between(start, wire.mark()) if b"serverOnline" in raw] == []
    link.gate.open()
    _, number = wait_online(wire, RECONNECT_TIMEOUT, start)
    assert number > link.connection
    link.connection = number
    assert wire.ping(402) == number
    # The subscription outlived the link: values are pushed on the new one.
    _, _, pushed_on = wire.wait_json("getValues", TransID=0, OPCServerID=EDGE, start=wire.mark())
    assert pushed_on == number
    # A request cut short by the close is never routed.
    assert [raw for raw in wire.between(start, wire.mark()) if b'"TransID":401' in raw] == []


def test_first_request_of_a_link_is_read_as_utf8(link):
    """A request that completes the link's first read, which began before the agent wrote
    anything on the link, is decoded as UTF-8 like every other."""
    wire, gate = link.wire, link.gate
    names = ["Gr\u00fc\u00dfe \u2713"]
    gate.after_first_line = compact({"cmd": "getValues", "TransID": 450, "OPCServerID": SIM,
                                     "tagNames": names}) + b"\r\n"
    start = wire.mark()
    try:
        gate.drop_links()
        _, number = wait_online(wire, RECONNECT_TIMEOUT, start)
    finally:
        gate.after_first_line = None
    link.connection = number
    assert wire.expect({"cmd": "getValues", "OPCServerID": SIM, "TransID": 450,
                        "tagNames": names, "values": [""], "qualities": [""]}) == number


def request_big_answers(wire, first, count):
    """Asks for the simulated plant's tags (a line of about 330 kB) count times."""
    wire.send(b"".join(compact({"cmd": "getTags", "TransID": t, "OPCServerID": SIM}) + b"\r\n"
                       for t in range(first, first + count)))


def test_peer_that_stops_reading_holds_up_nothing_for_good(link):
    wire, gate = link.wire, link.gate
    gate.stop_reading()
    request_big_answers(wire, 600, 24)  # more than any socket buffers: the agent's writes block
    time.sleep(3)
    start = wire.mark()
    gate.resume_reading()
    for transid in range(600, 624):
        _, answer, _ = wire.wait_json("getTags", TransID=transid, timeout=60)
        assert len(answer["ListTags"]) == 2806
    assert wire.ping(699) == link.connection
    assert [raw for raw in wire.between(start, wire.mark()) if b"serverOnline" in raw] == []


def test_closes_promptly_while_its_writes_block(link):
    link.gate.stop_reading()
    request_big_answers(link.wire, 700, 24)
    time.sleep(3)
    assert link.agent.close() < 15


def test_line_limits_over_tls(agent, tls_peer):
    agent.configure(port=tls_peer.port, tls=1)
    agent.start()
    wire = Wire(tls_peer)
    _, first = wait_online(wire)
    wire.send(ping_line(501, pad_to=MAX_LINE))  # the longest line accepted
    assert wire.expect({"cmd": "ping", "TransID": 501, "OPCServerID": SIM,
                        "OPCState": "CommFault"}) == first
    start = wire.mark()
    sender = send_quietly(wire, b"y" * (20 * 1024 * 1024))
    _, number = wait_online(wire, RECONNECT_TIMEOUT, start)
    assert number > first
    sender.join(timeout=30)
    assert wire.ping(502, state="CommFault") == number
