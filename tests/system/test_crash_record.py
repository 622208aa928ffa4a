"""Crash records: a crash inside the agent (an access violation inside an in-process OPC server,
a fault inside the data-change sink, a C++ exception nobody catches on a worker thread; opcsim's
fault switches) ends the agent after it wrote a minidump and a one-line record to its crash
folder; the next start names that record as the log's first entry, once."""
import re
import shutil
import subprocess
import time
from pathlib import Path

import pytest

from scada_peer import ScadaPeer
from winagent import Agent, windows_path
from wire import SIM, Wire, fault_config, tag_hash, wait_online

RECORD_LINE = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d exception ([0-9A-F]{8}) "
                         r"at ([^ ]+)\+0x[0-9A-F]+\r\n")
ERROR_HEAD = "**********ERROR***********"
# Under Wine a minidump takes half a minute and more; the agent waits for it at most a minute.
DUMP_TIMEOUT = 90


def wine_output(wine, *args):
    done = subprocess.run([str(wine.env_script), *args], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
    return done.stdout.decode("utf-8").strip()


def crash_folder(wine):
    """The agent's crash folder in the Wine prefix (Wine sets %LOCALAPPDATA% from its own
    profile), as (Windows path, Linux path)."""
    local = wine_output(wine, "cmd", "/c", "echo", "%LOCALAPPDATA%")
    assert local, "no %LOCALAPPDATA%"
    unix = Path(wine_output(wine, "winepath", "-u", local))
    return local + "\\Tagrelay\\crash", unix / "Tagrelay" / "crash"


def log_text(wine):
    """What the running agent's log view shows."""
    tool = wine.build / "tools" / "wine" / "read_log.exe"
    done = subprocess.run([str(wine.env_script), windows_path(tool), "20"],
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=60)
    assert done.returncode == 0, "no log view found"
    return done.stdout.decode("utf-8")


def settled_log_rows(wine, seconds=20):
    """The log view's rows once the start has replaced the view's placeholder row (the view
    refreshes on a timer, so a read right after the window appears may still see it)."""
    deadline = time.monotonic() + seconds
    last = None
    while True:
        rows = log_text(wine).split("\r\n")
        if (rows[0] != "MemoLog" and rows == last) or time.monotonic() > deadline:
            return rows
        last = rows
        time.sleep(0.2)


# Fault switch, how the agent is made to meet it, the codes and module the record may name
# (None: any). An exception nobody catches ends in std::terminate's handler, in the
# unhandled-exception filter, or (thrown in opcsim.dll, whose C++ runtime is its own) in that
# runtime's abort. opcsim's statusOverflows (a stack overflow) is not among them: under Wine 8 no
# handler of the agent's is called for it and the agent stays up without the crashed thread.
CASES = {
    "access violation in the server": ({"statusCrashes": True}, "sync", {"C0000005"},
                                       "opcsim.dll"),
    "fault in the data-change sink": ({"sinkBadPointer": True}, "async", {"C0000005"},
                                      "tagrelay-crash.exe"),
    "exception on a worker thread": ({"timerThrows": True}, "async",
                                     {"E0000001", "20474343", "40000015"}, None),
}


@pytest.mark.parametrize("case", CASES)
def test_a_crash_is_recorded_and_named_at_the_next_start(wine, tmp_path, case):
    faults, mode, codes, module = CASES[case]
    crash_windows, crash = crash_folder(wine)
    shutil.rmtree(crash, ignore_errors=True)  # records of earlier runs in this prefix
    config = fault_config(tmp_path / "opcsim.json", faults, {})
    env = {"OPCSIM_CONFIG": windows_path(config)}
    peer = ScadaPeer().start()
    agent = Agent(wine, tmp_path, "tagrelay-crash.exe")
    agent.configure(port=peer.port)
    try:
        agent.start(env=env)
        wire = Wire(peer)
        wait_online(wire)
        wire.send({"cmd": "OPCConnect", "TransID": 1, "OPCServerID": SIM, "syncMode": mode,
                   "responseTime": 200})
        if mode == "sync":
            wire.send({"cmd": "ping", "TransID": 2, "OPCServerID": SIM})
        else:
            wire.send({"cmd": "getValues", "TransID": 2, "OPCServerID": SIM,
                       "tagNames": [tag_hash("Integer")]})
        agent.process.wait(timeout=DUMP_TIMEOUT)

        records = sorted(crash.glob("crash-*.txt"))
        assert len(records) == 1, sorted(p.name for p in crash.parent.rglob("*"))
        record = records[0]
        line = record.read_bytes().decode("ascii")
        match = RECORD_LINE.fullmatch(line)
        assert match, line
        assert match.group(1) in codes, line
        assert module is None or match.group(2) == module, line
        assert record.with_suffix(".dmp").read_bytes()[:4] == b"MDMP"
        assert (crash / "unreported.txt").read_text().strip() == record.stem

        agent.start(env=env)
        shown = settled_log_rows(wine)
        assert shown[0] == ERROR_HEAD, shown
        assert shown[1] == ("The last run ended in a crash: " + line.strip() + "; record " +
                            crash_windows + "\\" + record.name), shown
        assert not (crash / "unreported.txt").exists()
        agent.close()

        # Named once: a further start begins its log with reading the configuration.
        agent.start(env=env)
        shown = settled_log_rows(wine)
        assert shown[0] != "MemoLog", shown
        assert ERROR_HEAD not in shown, shown
        agent.close()
    finally:
        agent.kill()
        peer.stop()
