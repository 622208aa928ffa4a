"""tagrelay.exe under Wine: the build's Wine wrapper and an agent in a folder of its own. Free of
pytest, so the measurement driver under bench/ uses it too."""
import os
import shutil
import subprocess
import time
from pathlib import Path


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


# ---- opcsim in process (opcsim.dll) or out of process (opcsim-server.exe) ----------------------

def local_clsid(clsid):
    """The class identifier opcsim-server.exe serves a configured server under: the first field
    plus one."""
    first, rest = clsid.strip("{}").split("-", 1)
    return "{%08X-%s}" % ((int(first, 16) + 1) & 0xFFFFFFFF, rest.upper())


def local_progid(progid):
    """... and its program identifier: "Local" before a numeric version, else at the end."""
    head, dot, version = progid.rpartition(".")
    return f"{head}Local.{version}" if dot and version.isdigit() else progid + "Local"


class OpcSimInstall:
    """Which simulator the agents of a run find: "inproc" registers opcsim.dll (and removes
    opcsim-server.exe's classes), "local" registers opcsim-server.exe (and removes opcsim.dll's
    classes), so an agent lists the two simulated servers once; both register the test
    proxy/stub opcps.dll. OPCSIM_CONFIG given in `env` is the configuration the registration
    records."""

    def __init__(self, wine, mode):
        self.wine = wine
        self.mode = mode
        opcsim = wine.build / "tools" / "opcsim"
        self.dll = windows_path(opcsim / "opcsim.dll")
        self.exe = windows_path(opcsim / "opcsim-server.exe")
        self.proxy = windows_path(wine.build / "tools" / "opcps" / "opcps.dll")

    def register(self, env=None):
        # The proxy/stub in both: tests of out-of-process servers register their own.
        if self.mode == "local":
            steps = [("regsvr32", "/s", "/u", self.dll), ("regsvr32", "/s", self.proxy),
                     (self.exe, "/RegServer")]
        else:
            steps = [(self.exe, "/UnregServer"), ("regsvr32", "/s", self.dll),
                     ("regsvr32", "/s", self.proxy)]
        return all(self.wine.run(*step, env=env).returncode == 0 for step in steps)

    def unregister(self, env=None):
        step = (self.exe, "/UnregServer") if self.mode == "local" else \
            ("regsvr32", "/s", "/u", self.dll)
        return self.wine.run(*step, env=env).returncode == 0

    def clsid(self, clsid):
        return local_clsid(clsid) if self.mode == "local" else clsid

    def progid(self, progid):
        return local_progid(progid) if self.mode == "local" else progid


class Wine:
    def __init__(self, build):
        self.build = build
        self.env_script = build / "wine-env.sh"

    def run(self, *args, timeout=60, env=None):
        return subprocess.run([str(self.env_script), *map(str, args)], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout,
                              env=None if env is None else {**os.environ, **env})

    def spawn(self, *args, env=None, wrapper=()):
        """Starts a Windows program; wrapper is a command line the Wine command is handed to
        (it ends by running its arguments)."""
        return subprocess.Popen([*map(str, wrapper), str(self.env_script), *map(str, args)],
                                stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                env=None if env is None else {**os.environ, **env})


class Agent:
    """tagrelay.exe in a folder of its own, with the configuration file the test writes. Agents
    that run at the same time get image names of their own, so closing one leaves the others."""

    def __init__(self, wine, folder, name="tagrelay.exe"):
        self.wine = wine
        self.folder = folder
        self.exe = folder / name
        self.process = None
        build = wine.build
        shutil.copy(build / "src" / "shell" / "tagrelay.exe", self.exe)
        openssl = Path(os.environ.get("TAGRELAY_OPENSSL_WIN_DIR",
                                      "/var/cache/tagrelay/openssl-mingw64"))
        for dll in ("libssl-3-x64.dll", "libcrypto-3-x64.dll"):
            if (openssl / dll).exists():
                shutil.copy(openssl / dll, folder / dll)

    @property
    def ini(self):
        return self.folder / "tagrelayConfig.ini"

    def configure(self, host="127.0.0.1", port=0, uid="4711000042", tls=0, **more):
        """Writes the configuration file; more adds keys (TlsPin="...", AllowWrites=0, say)."""
        self.ini.write_text("[tagrelayConfig]\r\n"
                            f"KelScadaIp={host}\r\nKelScadaPort={port}\r\n"
                            f"uid={uid}\r\nIsSSLSecure={tls}\r\n" +
                            "".join(f"{key}={value}\r\n" for key, value in more.items()))

    def log_text(self, enable=True):
        """The text of the agent's log view; enable ticks "Enable log" first (entries made while
        it is off are not kept)."""
        tools = self.wine.build / "tools" / "wine"
        if enable:
            self.wine.run(windows_path(tools / "enable_log.exe"), "20")
        out = subprocess.run([str(self.wine.env_script), windows_path(tools / "read_log.exe")],
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        return out.stdout.decode("utf-8", "replace")

    def start(self, env=None, wrapper=()):
        """Starts tagrelay.exe; env adds environment variables (OPCSIM_CONFIG, say); wrapper is
        a command that runs the Wine command line given to it (see Wine.spawn)."""
        self.process = self.wine.spawn(windows_path(self.exe), env=env, wrapper=wrapper)

    def close(self, timeout=30):
        """Asks the window to close (WM_CLOSE) and returns the seconds it took to exit."""
        started = time.monotonic()
        self.wine.run("taskkill", "/IM", self.exe.name)
        try:
            self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise
        return time.monotonic() - started

    def kill(self):
        if self.process and self.process.poll() is None:
            self.wine.run("taskkill", "/F", "/IM", self.exe.name)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
