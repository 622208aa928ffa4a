#!/usr/bin/python3
"""Measures the agent as a Windows service under Wine, against the simulated servers in process
(opcsim.dll) and a SCADA peer on 127.0.0.1, and prints the figures (no pass or fail):

  start     from asking the service manager to start the service to the greeting at the peer,
            and the part of it until the service reported RUNNING
  stop      from the stop control to STOPPED, with the two simulated servers connected, and
            with one of them hung inside a call (its worker is abandoned at the shared deadline)
  idle      working set and CPU of the service with the two servers connected and subscribed,
            then of the window program in the same state, same run

The start and stop times are taken by tools/wine/service_timer.exe inside Wine, so they hold no
Wine process start-up; the greeting comes at the link's first attempt, which waits for the
reconnect timer's next wake-up (every 5 s).

Usage: bench/system/service_measure.py [--build-dir build/windows] [--rounds 3] [--idle 30]
See bench/README.md for the figures of a run.
"""
import argparse
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "system"))
sys.path.insert(0, str(ROOT / "tools" / "scada-peer"))

from load_support import ResourceProbe, connect_and_browse  # noqa: E402
from scada_peer import ScadaPeer  # noqa: E402
from winagent import Agent, OpcSimInstall, Wine, windows_path  # noqa: E402
from wire import EDGE, SIM, fault_config  # noqa: E402

CONNECT_TIMEOUT = 60


def timer(wine, action):
    out = subprocess.run([str(wine.env_script),
                          windows_path(wine.build / "tools" / "wine" / "service_timer.exe"), action],
                         stdin=subprocess.DEVNULL, capture_output=True, timeout=90)
    if out.returncode != 0:
        raise RuntimeError(f"service_timer {action} failed: {out.returncode}")
    return dict(item.split("=", 1) for item in out.stdout.decode().split())


class ServiceSession:
    def __init__(self, wine, work):
        self.wine = wine
        self.peer = ScadaPeer().start()
        self.agent = Agent(wine, Path(tempfile.mkdtemp(dir=work)), "tagrelay-svcbench.exe")
        self.agent.configure(port=self.peer.port, uid="4711000098")
        exe = windows_path(self.agent.exe)
        wine.run(exe, "--uninstall-service")
        if wine.run(exe, "--install-service", "demand").returncode != 0:
            raise RuntimeError("the service could not be installed")

    def start(self):
        """Seconds to the greeting, and the service_timer figures."""
        began = time.monotonic()
        figures = timer(self.wine, "start")
        self.peer.wait_json("serverOnline", timeout=CONNECT_TIMEOUT)
        return time.monotonic() - began, figures

    def connect_both(self):
        for n, server in enumerate((SIM, EDGE)):
            hashes = connect_and_browse(self.peer, server, 10 + 10 * n, "async", 200)
            some = list(hashes.values())[:20]
            self.peer.send({"cmd": "getValues", "TransID": 12 + 10 * n, "OPCServerID": server,
                            "tagNames": some})
            self.peer.wait_json("getValues", TransID=12 + 10 * n)

    def stop(self):
        return timer(self.wine, "stop")

    def close(self):
        self.wine.run(windows_path(self.agent.exe), "--uninstall-service")
        self.peer.stop()


def measure_start_stop(wine, work, rounds):
    session = ServiceSession(wine, work)
    try:
        greet, running, stopped = [], [], []
        for _ in range(rounds):
            seconds, figures = session.start()
            greet.append(seconds * 1000)
            running.append(float(figures["runningMs"]))
            session.connect_both()
            stop = session.stop()
            stopped.append((float(stop["stoppedMs"]), stop["checkpoints"], stop["waitHintMs"]))
        print(f"start to greeting ({rounds} starts): median {statistics.median(greet):.0f} ms "
              f"(max {max(greet):.0f}); start to RUNNING median "
              f"{statistics.median(running):.0f} ms")
        for ms, checkpoints, hint in stopped:
            print(f"stop to STOPPED, two servers connected and subscribed: {ms:.0f} ms "
                  f"({checkpoints} checkpoints, wait hint {hint} ms)")
    finally:
        session.close()


def measure_hung_stop(wine, work, install):
    """EDGE stops answering after a few calls (opcsim's hangAfterCalls): the worker connecting it
    or pinging it is stuck inside a call when the stop comes."""
    config = fault_config(Path(work) / "opcsim-hang.json", {}, {"hangAfterCalls": 40})
    if not install.register(env={"OPCSIM_CONFIG": windows_path(config)}):
        raise RuntimeError("opcsim could not be registered with the fault")
    session = ServiceSession(wine, work)
    try:
        session.start()
        session.peer.send({"cmd": "OPCConnect", "TransID": 1, "OPCServerID": EDGE,
                           "syncMode": "sync", "responseTime": 200})
        for transid in range(2, 60):
            session.peer.send({"cmd": "ping", "TransID": transid, "OPCServerID": EDGE})
            try:
                session.peer.wait_json("ping", TransID=transid, timeout=3)
            except Exception:  # no answer: the server hangs
                break
        stop = session.stop()
        print(f"stop to STOPPED, one server hung inside a call: {float(stop['stoppedMs']):.0f} ms "
              f"({stop['checkpoints']} checkpoints, wait hint {stop['waitHintMs']} ms)")
    finally:
        session.close()
        install.register()


def idle_figures(build, exe, seconds):
    probe = ResourceProbe(build, exe)
    time.sleep(5)
    begin, t0 = probe.sample(), time.monotonic()
    time.sleep(seconds)
    end, t1 = probe.sample(), time.monotonic()
    cpu = (end["cpuSeconds"] - begin["cpuSeconds"]) / (t1 - t0) * 100
    return end["rssKb"] / 1024, cpu, end["threads"]


def measure_idle(wine, work, seconds):
    session = ServiceSession(wine, work)
    try:
        session.start()
        session.connect_both()
        rss, cpu, threads = idle_figures(wine.build, session.agent.exe, seconds)
        print(f"idle service, 2 servers connected and subscribed ({seconds} s): working set "
              f"{rss:.1f} MB, CPU {cpu:.2f} % of one core, {threads} threads")
        session.stop()
    finally:
        session.close()
    peer = ScadaPeer().start()
    window = Agent(wine, Path(tempfile.mkdtemp(dir=work)), "tagrelay-winbench.exe")
    window.configure(port=peer.port, uid="4711000097")
    window.start()
    try:
        peer.wait_json("serverOnline", timeout=CONNECT_TIMEOUT)
        for n, server in enumerate((SIM, EDGE)):
            hashes = connect_and_browse(peer, server, 10 + 10 * n, "async", 200)
            peer.send({"cmd": "getValues", "TransID": 12 + 10 * n, "OPCServerID": server,
                       "tagNames": list(hashes.values())[:20]})
            peer.wait_json("getValues", TransID=12 + 10 * n)
        rss, cpu, threads = idle_figures(wine.build, window.exe, seconds)
        print(f"idle window program, same state ({seconds} s): working set {rss:.1f} MB, "
              f"CPU {cpu:.2f} % of one core, {threads} threads")
    finally:
        window.close()
        peer.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=str(ROOT / "build" / "windows"))
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--idle", type=int, default=30)
    args = parser.parse_args()
    wine = Wine(Path(args.build_dir).resolve())
    if wine.run("--start", timeout=120).returncode != 0:
        sys.exit("wine-env.sh --start failed")
    install = OpcSimInstall(wine, "inproc")
    if not install.register():
        sys.exit("opcsim could not be registered")
    work = tempfile.mkdtemp(prefix="tagrelay-service-bench-")
    try:
        measure_start_stop(wine, work, args.rounds)
        measure_hung_stop(wine, work, install)
        measure_idle(wine, work, args.idle)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
