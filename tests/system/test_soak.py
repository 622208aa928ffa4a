"""Soak: the agent relays 2,000 changing tags of two asynchronous servers for minutes on end
without losing, repeating or mixing up a line, and without growing in memory or handles.

Length: TAGRELAY_SOAK_SECONDS (default 300), e.g. TAGRELAY_SOAK_SECONDS=60 for a quick run.
"""
import os
import time

import pytest

from load_support import (PushChecker, ResourceProbe, SimRegistration, chunks,
                          connect_and_browse, counter_server, drain, request_values, tag_path,
                          write_config)

SOAK_SECONDS = float(os.environ.get("TAGRELAY_SOAK_SECONDS", "300"))
CONNECT_TIMEOUT = 30
RESPONSE_TIME = 100  # the async groups' update rate, ms
CHECK_INTERVAL = 0.1  # a stored-value check of some tags of one server or the other this often, s
SERVERS = {
    # One server with 1000 tags changing every second, one with tags at two other periods.
    "{5A1D0C11-7D3B-4B7E-9C21-0F8E4A100001}": ("Tagrelay.Soak.A.1", [("S1000", 1000, 1000)]),
    "{5A1D0C11-7D3B-4B7E-9C21-0F8E4A100002}": ("Tagrelay.Soak.B.1",
                                                [("S500", 500, 500), ("S2000", 500, 2000)]),
}
# Growth allowed between the sample after warm-up and the one at the end.
MEMORY_MARGIN_KB = lambda start_kb: start_kb // 10 + 8 * 1024  # noqa: E731
HANDLE_MARGIN = 16


@pytest.fixture
def soak_servers(wine, tmp_path):
    config = write_config(tmp_path / "soak_opcsim.json",
                          [counter_server(prog, clsid, groups)
                           for clsid, (prog, groups) in SERVERS.items()])
    with SimRegistration(wine.build, config):
        yield config


def period_by_hash(tags, groups):
    periods = {}
    for branch, _, period in groups:
        periods.update({h: period for n, h in tags.items() if tag_path(n)[:2] == ["Load", branch]})
    return periods


def run_checked(peer, checker, seconds, next_transid):
    """Takes every line for `seconds`, with a stored-value check of one part of one server's tags
    every CHECK_INTERVAL, in turn (at most one outstanding per server). Returns the next unused
    TransID."""
    parts = [(sid, part) for sid in checker.periods for part in chunks(checker.periods[sid])]
    turn = 0
    end = time.monotonic() + seconds
    next_check = time.monotonic()
    while time.monotonic() < end:
        now = time.monotonic()
        if now >= next_check:
            sid, hashes = parts[turn % len(parts)]
            if sid not in checker.answers.values():
                checker.request_check(peer, sid, hashes, next_transid)
                next_transid += 1
                turn += 1
            next_check = now + CHECK_INTERVAL
        try:
            line = peer.wait_line(timeout=0.05)
        except TimeoutError:
            continue
        checker.feed(line, time.monotonic())
    return next_transid


def settle(peer, checker, timeout=60):
    """Waits for the answers of the checks still outstanding."""
    deadline = time.monotonic() + timeout
    while checker.answers and time.monotonic() < deadline:
        try:
            checker.feed(peer.wait_line(timeout=1), time.monotonic())
        except TimeoutError:
            pass
    for line in drain(peer):
        checker.feed(line, time.monotonic())


def test_soak_async_pushes_stay_whole_and_resources_flat(agent, peer, soak_servers):
    agent.configure(port=peer.port)
    agent.start()
    _, online = peer.wait_json("serverOnline", timeout=CONNECT_TIMEOUT)
    listed = {s["id"] for s in online["ListServers"]}
    assert set(SERVERS) <= listed

    periods = {}
    transid = 10
    for sid, (_, groups) in SERVERS.items():
        periods[sid] = period_by_hash(connect_and_browse(peer, sid, transid, "async",
                                                         RESPONSE_TIME), groups)
        assert len(periods[sid]) == 1000
        answers, transid = request_values(peer, sid, list(periods[sid]), transid + 2)
        assert [h for a in answers for h in a["tagNames"]] == list(periods[sid])

    checker = PushChecker(periods)
    probe = ResourceProbe(agent.wine.build, agent.exe)
    warm_up = min(30.0, SOAK_SECONDS / 5)
    started = time.monotonic()
    transid = run_checked(peer, checker, warm_up, 1000)
    begin = probe.sample()
    transid = run_checked(peer, checker, SOAK_SECONDS - warm_up, transid)
    settle(peer, checker)
    end = probe.sample()
    elapsed = time.monotonic() - started

    report = [f"{elapsed:.0f} s, {checker.lines} lines, {checker.bytes / 1e6:.1f} MB, "
              f"{checker.checks} stored-value checks",
              f"resources after warm-up {begin}", f"resources at the end    {end}"]
    for sid in SERVERS:
        report.append(f"{SERVERS[sid][0]}: {checker.pushes[sid]} pushes, "
                      f"{checker.tag_updates[sid]} tag updates, "
                      f"{checker.steps_seen(sid)} counter steps seen, "
                      f"{checker.updates_expected(sid, elapsed):.0f} expected, "
                      f"{checker.coalesced[sid]} steps coalesced")
    print("\n".join(report))

    assert not checker.failures, "\n".join(checker.failures[:20])
    assert not checker.answers, f"checks never answered: {sorted(checker.answers)}"
    unexpected = [o for o in checker.other if o.get("cmd") != "getValues"]
    assert not unexpected, f"unexpected lines: {str(unexpected)[:500]}"
    assert checker.checks >= SOAK_SECONDS  # the stored-value comparison really ran
    for sid in SERVERS:
        # Every tag kept being pushed; half the steps is a liveness bound, not a speed one.
        assert len(checker.last[sid]) == 1000
        assert checker.steps_seen(sid) >= checker.updates_expected(sid, elapsed) / 2
    assert end["rssKb"] <= begin["rssKb"] + MEMORY_MARGIN_KB(begin["rssKb"]), report
    assert end["workingSetKb"] <= begin["workingSetKb"] + MEMORY_MARGIN_KB(
        begin["workingSetKb"]), report
    assert end["handles"] <= begin["handles"] + HANDLE_MARGIN, report
    assert end["threads"] <= begin["threads"] + 2, report
    assert end["fds"] <= begin["fds"] + HANDLE_MARGIN, report
    assert agent.close() < 15
