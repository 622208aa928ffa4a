"""System tests: the real tagrelay.exe under Wine against opcsim and a SCADA peer on 127.0.0.1."""
import os
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools" / "scada-peer"))

from scada_peer import ScadaPeer, make_throwaway_certificate  # noqa: E402
from winagent import Agent, OpcSimInstall, Wine  # noqa: E402


def pytest_addoption(parser):
    parser.addoption("--build-dir", default=str(ROOT / "build" / "windows"),
                     help="the windows build folder")
    parser.addoption("--opcsim", choices=("inproc", "local"), default="inproc",
                     help="the simulated servers in process (opcsim.dll) or out of process "
                          "(opcsim-server.exe through the test proxy/stub): same tests, same "
                          "expectations")


def pytest_configure(config):
    # Read by wire.py when the test modules import it, after this.
    os.environ["TAGRELAY_OPCSIM"] = config.getoption("--opcsim")


@pytest.fixture(scope="session")
def wine(request):
    build = Path(request.config.getoption("--build-dir")).resolve()
    exe = build / "src" / "shell" / "tagrelay.exe"
    if not exe.exists():
        pytest.fail(f"{exe} is not built")
    w = Wine(build)
    assert w.run("--start", timeout=120).returncode == 0
    assert OpcSimInstall(w, request.config.getoption("--opcsim")).register()
    yield w
    w.run("--stop")


@pytest.fixture
def peer():
    p = ScadaPeer().start()
    yield p
    p.stop()


@pytest.fixture
def tls_peer(tmp_path):
    """A peer that speaks TLS with a throwaway self-signed certificate."""
    p = ScadaPeer(tls_files=make_throwaway_certificate(str(tmp_path))).start()
    yield p
    p.stop()


@pytest.fixture
def agent(wine, tmp_path):
    a = Agent(wine, tmp_path)
    yield a
    a.kill()
