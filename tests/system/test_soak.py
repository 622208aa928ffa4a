"""Soak: the agent relays 2,000 changing tags of two asynchronous servers for minutes on end
without losing, repeating or mixing up a line, and without growing in memory or handles. Once
with the servers in the agent's process, once with each in a process of its own
(opcsim-server.exe, whose memory and threads must stay flat too).

Length: TAGRELAY_SOAK_SECONDS (default 300; at most 120 out of process), e.g.
TAGRELAY_SOAK_SECONDS=60 for a quick run.
"""
import os
import time

import pytest

from load_support import (PushChecker, ResourceProbe, SimRegistration, chunks,
                          connect_and_browse, counter_server, drain, request_values,
                          server_pids, tag_path, write_config)
from winagent import local_clsid

SOAK_SECONDS = float(os.environ.get("TAGRELAY_SOAK_SECONDS", "300"))
LOCAL_SOAK_SECONDS = min(SOAK_SECONDS, 120)
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


@pytest.fixture(params=["inproc", "local"])
def soak_servers(request, wine, tmp_path):
    """The soak servers registered in process or out of process: (the servers by the identifier
    the agent lists them under, soak seconds, whether they run in processes of their own)."""
    config = write_config(tmp_path / "soak_opcsim.json",
                          [counter_server(prog, clsid, groups)
                           for clsid, (prog, groups) in SERVERS.items()])
    local = request.param == "local"
    with SimRegistration(wine.build, config, local=local):
        if local:
            yield ({local_clsid(c): s for c, s in SERVERS.items()}, LOCAL_SOAK_SECONDS, True)
        else:
            yield SERVERS, SOAK_SECONDS, False


def server_rss_kb(servers):
    """VmRSS and thread count of each server's process, by server (out of process)."""
    sample = {}
    for sid in servers:
        pids = server_pids(sid)
        assert len(pids) == 1, (sid, pids)
        fields = dict(line.split(":", 1) for line in
                      open(f"/proc/{pids[0]}/status").read().splitlines() if ":" in line)
        sample[sid] = (int(fields["VmRSS"].split()[0]), int(fields["Threads"]))
    return sample


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
    servers, soak_seconds, local = soak_servers
    agent.configure(port=peer.port)
    agent.start()
    _, online = peer.wait_json("serverOnline", timeout=CONNECT_TIMEOUT)
    listed = {s["id"] for s in online["ListServers"]}
    assert set(servers) <= listed

    periods = {}
    transid = 10
    for sid, (_, groups) in servers.items():
        periods[sid] = period_by_hash(connect_and_browse(peer, sid, transid, "async",
                                                         RESPONSE_TIME), groups)
        assert len(periods[sid]) == 1000
        answers, transid = request_values(peer, sid, list(periods[sid]), transid + 2)
        assert [h for a in answers for h in a["tagNames"]] == list(periods[sid])

    checker = PushChecker(periods)
    probe = ResourceProbe(agent.wine.build, agent.exe)
    warm_up = min(30.0, soak_seconds / 5)
    started = time.monotonic()
    transid = run_checked(peer, checker, warm_up, 1000)
    begin = probe.sample()
    servers_begin = server_rss_kb(servers) if local else {}
    transid = run_checked(peer, checker, soak_seconds - warm_up, transid)
    settle(peer, checker)
    end = probe.sample()
    servers_end = server_rss_kb(servers) if local else {}
    elapsed = time.monotonic() - started

    report = [f"{elapsed:.0f} s, {checker.lines} lines, {checker.bytes / 1e6:.1f} MB, "
              f"{checker.checks} stored-value checks",
              f"resources after warm-up {begin}", f"resources at the end    {end}"]
    if local:
        report.append(f"server processes (VmRSS kB, threads): after warm-up {servers_begin}, "
                      f"at the end {servers_end}")
    for sid in servers:
        report.append(f"{servers[sid][0]}: {checker.pushes[sid]} pushes, "
                      f"{checker.tag_updates[sid]} tag updates, "
                      f"{checker.steps_seen(sid)} counter steps seen, "
                      f"{checker.updates_expected(sid, elapsed):.0f} expected, "
                      f"{checker.coalesced[sid]} steps coalesced")
    print("\n".join(report))

    assert not checker.failures, "\n".join(checker.failures[:20])
    assert not checker.answers, f"checks never answered: {sorted(checker.answers)}"
    unexpected = [o for o in checker.other if o.get("cmd") != "getValues"]
    assert not unexpected, f"unexpected lines: {str(unexpected)[:500]}"
    assert checker.checks >= soak_seconds  # the stored-value comparison really ran
    for sid in servers:
        # Every tag kept being pushed; half the steps is a liveness bound, not a speed one.
        assert len(checker.last[sid]) == 1000
        assert checker.steps_seen(sid) >= checker.updates_expected(sid, elapsed) / 2
    assert end["rssKb"] <= begin["rssKb"] + MEMORY_MARGIN_KB(begin["rssKb"]), report
    assert end["workingSetKb"] <= begin["workingSetKb"] + MEMORY_MARGIN_KB(
        begin["workingSetKb"]), report
    assert end["handles"] <= begin["handles"] + HANDLE_MARGIN, report
    assert end["threads"] <= begin["threads"] + 2, report
    assert end["fds"] <= begin["fds"] + HANDLE_MARGIN, report
    for sid, (rss, threads) in servers_begin.items():
        assert servers_end[sid][0] <= rss + MEMORY_MARGIN_KB(rss), report
        assert servers_end[sid][1] <= threads + 2, report
    assert agent.close() < 15
