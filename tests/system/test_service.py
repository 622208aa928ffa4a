"""The agent as a Windows service under Wine: installed from the command line, started and stopped
by the service manager, a whole session on the wire, the start after a "reboot", and one agent per
machine (the window program leaves the link to a running service; a second window program shows
the first). Wine's sc prints nothing on errors: its exit status is what is checked."""
import re
import shutil
import subprocess
import threading
import time

import pytest

from scada_peer import ScadaPeer
from winagent import Agent, windows_path
from wire import CONNECT_TIMEOUT, EDGE, SIM, UID, tag_hash



UPTIME = tag_hash("[Dev]Uptime")  # changes every second
TEMP_PV = tag_hash("[Dev]Plant$#%Temp.PV")  # writeable


def exit_code(windows_code):
    """What a Unix parent sees of a Windows exit code under Wine: its low byte."""
    return windows_code & 0xFF


class Peer(ScadaPeer):
    """A SCADA peer that notes which connections greeted and which ended."""

    def __init__(self):
        self.greeted = []
        self.ended = set()
        self._changed = threading.Condition()
        super().__init__(on_line=self._line, on_event=self._note)

    def _line(self, number, line):
        if line.startswith(b'{"cmd":"serverOnline"'):
            with self._changed:
                self.greeted.append(number)
                self._changed.notify_all()

    def _note(self, text):
        found = re.match(r"connection \[(\d+)\] ended", text)
        if found:
            with self._changed:
                self.ended.add(int(found.group(1)))
                self._changed.notify_all()

    def wait_greetings(self, count, timeout=CONNECT_TIMEOUT):
        with self._changed:
            return self._changed.wait_for(lambda: len(self.greeted) >= count, timeout)

    def wait_ended(self, number, timeout=10):
        with self._changed:
            return self._changed.wait_for(lambda: number in self.ended, timeout)


def sc(wine, *args):
    return wine.run("sc", *args).returncode


def query_state(wine):
    """The service's state as sc prints it (RUNNING, STOPPED, ...), or None when sc fails."""
    out = subprocess.run([str(wine.env_script), "sc", "query", "Tagrelay"],
                         stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    if out.returncode != 0:
        return None
    found = re.search(rb"STATE\s+:\s+\d+\s+(\w+)", out.stdout)
    return found.group(1).decode() if found else ""


def wait_state(wine, state, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if query_state(wine) == state:
            return True
        time.sleep(0.1)
    return False


def data_folder(wine):
    return wine.build / "wineprefix" / "drive_c" / "ProgramData" / "Tagrelay"


@pytest.fixture
def peer():
    p = Peer().start()
    yield p
    p.stop()


@pytest.fixture
def service(wine, tmp_path, peer):
    """tagrelay.exe in a folder of its own with its settings beside it, not installed yet; removed
    from the service manager afterwards whatever the test did."""
    shutil.rmtree(data_folder(wine), ignore_errors=True)
    agent = Agent(wine, tmp_path, "tagrelay-service.exe")
    agent.configure(port=peer.port)
    yield agent
    wine.run(windows_path(agent.exe), "--uninstall-service", timeout=60)
    agent.kill()


def install(wine, agent, start_type):
    return wine.run(windows_path(agent.exe), "--install-service", start_type).returncode


def test_command_line_errors_have_their_exit_codes(wine, service):
    exe = windows_path(service.exe)
    assert wine.run(exe, "--help").returncode == 0
    assert wine.run(exe, "--install-service", "boot").returncode == exit_code(87)
    assert wine.run(exe, "--service").returncode == exit_code(1063), \
        "started by hand it explains itself"
    assert wine.run(exe, "--uninstall-service").returncode == exit_code(1060), "not installed"
    assert install(wine, service, "demand") == 0
    assert install(wine, service, "demand") == exit_code(1073), "already installed"
    assert query_state(wine) == "STOPPED"


def test_service_session_end_to_end(wine, service, peer):
    assert install(wine, service, "demand") == 0
    assert sc(wine, "start", "Tagrelay") == 0
    assert peer.wait_greetings(1)
    link = peer.greeted[0]
    line, online = peer.wait_json("serverOnline")
    assert online["uid"] == UID and {SIM, EDGE} <= {s["id"] for s in online["ListServers"]}

    peer.send({"cmd": "getOPCServers", "TransID": 1})
    _, servers = peer.wait_json("getOPCServers", TransID=1)
    assert any(s["id"] == SIM for s in servers["ListServers"])
    # The edge server's small tree: the plant's walk out of process takes minutes.
    peer.send({"cmd": "OPCConnect", "TransID": 2, "OPCServerID": EDGE, "syncMode": "async",
               "responseTime": 200})
    peer.wait_json("OPCConnect", TransID=2)
    peer.send({"cmd": "getTags", "TransID": 3, "OPCServerID": EDGE})
    _, tags = peer.wait_json("getTags", TransID=3)
    assert {t["hash"] for t in tags["ListTags"]} >= {UPTIME, TEMP_PV}
    peer.send({"cmd": "getValues", "TransID": 4, "OPCServerID": EDGE,
               "tagNames": [UPTIME, TEMP_PV]})
    _, values = peer.wait_json("getValues", TransID=4)
    assert values["tagNames"] == [UPTIME, TEMP_PV]
    seen = set()
    while len(seen) < 2:  # the uptime's changes are pushed
        _, push = peer.wait_json("getValues", TransID=0)
        assert push["OPCServerID"] == EDGE
        if UPTIME in push["tagNames"]:
            seen.add(push["values"][push["tagNames"].index(UPTIME)])
    peer.send({"cmd": "setValue", "TransID": 5, "OPCServerID": EDGE, "tagName": TEMP_PV,
               "value": "22.5"})
    _, written = peer.wait_json("setValue", TransID=5)
    assert "error" not in written and written["value"] == "22.5"
    peer.send({"cmd": "ping", "TransID": 6, "OPCServerID": EDGE})
    _, ping = peer.wait_json("ping", TransID=6)
    assert ping["OPCState"] == "Running"
    peer.send({"cmd": "OPCDisconnect", "TransID": 7, "OPCServerID": EDGE})
    peer.wait_json("OPCDisconnect", TransID=7)

    # How long the stop takes is measured by bench/system/service_measure.py.
    assert sc(wine, "stop", "Tagrelay") == 0
    assert wait_state(wine, "STOPPED", 30)
    assert peer.wait_ended(link), "the peer sees the link close"
    log = (data_folder(wine) / "log" / "tagrelay.log").read_text("utf-8", "replace")
    assert "Tagrelay service started" in log and "Tagrelay service stopping" in log

    assert wine.run(windows_path(service.exe), "--uninstall-service").returncode == 0
    assert query_state(wine) is None, "sc query fails once the service is removed"


def test_window_program_leaves_the_link_to_a_running_service(wine, service, peer, tmp_path_factory):
    assert install(wine, service, "demand") == 0
    assert sc(wine, "start", "Tagrelay") == 0
    assert peer.wait_greetings(1)
    window = Agent(wine, tmp_path_factory.mktemp("window"), "tagrelay-window.exe")
    window.configure(port=peer.port)
    window.start()
    try:
        # Past the window's first connection attempt (the reconnect timer wakes every 5 s).
        time.sleep(12)
        text = window.log_text(enable=False)
        assert "The Tagrelay service is running on this machine" in text
        assert "sc stop Tagrelay" in text and "tagrelay.log" in text
        assert len(peer.greeted) == 1, "the window opened a link of its own"
    finally:
        window.close()


def test_window_program_leaves_the_link_to_a_service_started_after_it(wine, service, peer,
                                                                       tmp_path_factory):
    window = Agent(wine, tmp_path_factory.mktemp("window"), "tagrelay-window.exe")
    window.configure(port=peer.port)
    window.start()
    try:
        assert peer.wait_greetings(1)
        first = peer.greeted[0]
        assert install(wine, service, "demand") == 0
        assert sc(wine, "start", "Tagrelay") == 0
        assert peer.wait_greetings(2)
        assert peer.wait_ended(first, timeout=30), "the window's link stays open"
        text = window.log_text(enable=False)
        assert "The Tagrelay service is running on this machine" in text
        time.sleep(7)  # past the window's next reconnect attempt
        assert len(peer.greeted) == 2, "the window opened a link again"
        assert sc(wine, "stop", "Tagrelay") == 0
        assert wait_state(wine, "STOPPED", 30)
    finally:
        window.close()


def test_second_window_program_shows_the_first_and_opens_no_link(wine, agent, peer):
    agent.configure(port=peer.port)
    agent.start()
    assert peer.wait_greetings(1)
    second = subprocess.run([str(wine.env_script), windows_path(agent.exe)],
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    assert second.returncode == 0
    assert agent.process.poll() is None, "the first one runs on"
    time.sleep(7)
    assert len(peer.greeted) == 1
    assert agent.close() < 15


def test_auto_start_after_a_reboot(wine, service, peer):
    assert install(wine, service, "auto") == 0
    # The prefix's wineserver ends, every process with it; the next Wine process boots it again
    # and with it the services that start with Windows.
    assert wine.run("--stop", timeout=120).returncode == 0
    assert wine.run("--start", timeout=120).returncode == 0
    assert peer.wait_greetings(1), "no greeting after the reboot"
    assert sc(wine, "stop", "Tagrelay") == 0
    assert wait_state(wine, "STOPPED", 30)


def wait_log(wine, text, timeout=30):
    log = data_folder(wine) / "log" / "tagrelay.log"
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if log.exists() and text in log.read_text("utf-8", "replace"):
            return True
        time.sleep(0.2)
    return False


def test_settings_others_can_change_are_not_used(wine, service, peer):
    """The service runs as SYSTEM, and its settings say where it connects and whether it writes:
    a settings file that anybody may change is not read (Wine derives the file's access list from
    its mode). The service stops and its default log says why; made safe, the file is used."""
    service.ini.chmod(0o666)
    assert install(wine, service, "demand") == 0
    sc(wine, "start", "Tagrelay")
    assert wait_log(wine, "is not used: it can be changed by"), "the default log says why"
    assert wait_state(wine, "STOPPED", 30)
    assert peer.greeted == []

    service.ini.chmod(0o644)
    assert sc(wine, "start", "Tagrelay") == 0
    assert peer.wait_greetings(1)
    assert sc(wine, "stop", "Tagrelay") == 0
    assert wait_state(wine, "STOPPED", 30)


def test_data_folder_others_can_change_is_mended_and_a_linked_one_refused(wine, service, peer,
                                                                          tmp_path):
    """The service writes its log and crash records into the data folder as SYSTEM. A folder
    anybody may add to is given an access list of its own (with Wine: the mode loses its write
    bits for others); a log folder that leads elsewhere is not written to at all."""
    data = data_folder(wine)
    data.mkdir(parents=True)
    data.chmod(0o777)
    assert install(wine, service, "demand") == 0
    assert sc(wine, "start", "Tagrelay") == 0
    assert peer.wait_greetings(1)
    assert wait_log(wine, "; now only SYSTEM, Administrators and the service's account may")
    assert data.stat().st_mode & 0o002 == 0
    assert sc(wine, "stop", "Tagrelay") == 0
    assert wait_state(wine, "STOPPED", 30)

    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    shutil.rmtree(data / "log")
    (data / "log").symlink_to(elsewhere, target_is_directory=True)
    sc(wine, "start", "Tagrelay")
    time.sleep(3)
    assert wait_state(wine, "STOPPED", 30)
    assert len(peer.greeted) == 1, "no link with a linked log folder"
    assert list(elsewhere.iterdir()) == []
