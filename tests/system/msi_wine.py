"""The installer under test: MSI packages made by installer/make-msi from the windows build, and a
Wine prefix of their own in which msiexec installs them (the build's prefix stays untouched)."""
import os
import re
import shutil
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
OPENSSL = Path(os.environ.get("TAGRELAY_OPENSSL_WIN_DIR", "/var/cache/tagrelay/openssl-mingw64"))


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"^project\(\w+ VERSION ([0-9.]+)", text, re.M).group(1)


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def make_msi(build, folder, version, marker=b""):
    """Builds the x64 MSI of this build under another version; returns its path. marker is
    appended to tagrelay.exe (after the image, where Windows ignores it) to tell its copies
    apart."""
    stage = folder / f"stage-{version}"
    stage.mkdir(parents=True, exist_ok=True)
    exe = (build / "src" / "shell" / "tagrelay.exe").read_bytes()
    (stage / "tagrelay.exe").write_bytes(exe + marker)
    for dll in ("libssl-3-x64.dll", "libcrypto-3-x64.dll"):
        shutil.copy(OPENSSL / dll, stage)
    shutil.copy(ROOT / "docs" / "package" / "README.txt", stage / "README.txt")
    shutil.copy(ROOT / "docs" / "protocol.md", stage / "PROTOCOL.md")
    msi = folder / f"tagrelay-{version}-x64.msi"
    subprocess.run([str(ROOT / "installer" / "make-msi"), "--version", version, "--arch", "x64",
                    "--source", str(stage), "--out", str(msi)], check=True,
                   capture_output=True)
    return msi


class Prefix:
    """A Wine prefix copied from a template made once per build folder, with a persistent
    wineserver of its own; stop() ends every process in it (services included)."""

    def __init__(self, build, path):
        self.path = path
        self.template = build / "msi-test" / "template"
        self.env = {**os.environ, "WINEPREFIX": str(path), "WINEARCH": "win64",
                    "WINEDEBUG": "-all",
                    "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d"}
        self.env.pop("DISPLAY", None)

    def _quiet(self, *args, env=None):
        return subprocess.run(list(args), env=env or self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)

    def _ensure_template(self):
        ready = self.template / ".tagrelay-ready"
        if ready.exists():
            return
        shutil.rmtree(self.template, ignore_errors=True)
        self.template.parent.mkdir(parents=True, exist_ok=True)
        env = {**self.env, "WINEPREFIX": str(self.template)}
        self._quiet("wineboot", "-i", env=env)
        self._quiet("wineserver", "-w", env=env)
        ready.touch()

    def start(self):
        self._ensure_template()
        shutil.rmtree(self.path, ignore_errors=True)
        subprocess.run(["cp", "-a", str(self.template), str(self.path)], check=True)
        # Detached, so that no Wine process holds pytest's pipes.
        self._quiet("wineserver", "-p")
        self._quiet("wine", "cmd", "/c", "exit")
        return self

    def stop(self):
        """Ends every process of the prefix and deletes it (a prefix is some 700 MB)."""
        self._quiet("wineserver", "-k")
        shutil.rmtree(self.path, ignore_errors=True)

    def run(self, *args, timeout=120):
        """Runs a Windows program; returns (exit status, output text)."""
        out = subprocess.run(["wine", *map(str, args)], env=self.env, stdin=subprocess.DEVNULL,
                             capture_output=True, timeout=timeout)
        return out.returncode, out.stdout.decode("utf-8", "replace").replace("\r", "")

    def msiexec(self, *args):
        """msiexec quietly; its exit code reaches us cut to 8 bits (1603 arrives as 67)."""
        return self.run("msiexec", *args, "/qn")[0]

    def c(self, *parts):
        return self.path / "drive_c" / Path(*parts)

    @property
    def install_dir(self):
        return self.c("Program Files", "Tagrelay")

    @property
    def settings(self):
        return self.c("ProgramData", "Tagrelay", "tagrelayConfig.ini")

    def shortcuts(self):
        return sorted(self.c().rglob("Tagrelay.lnk"))

    def reg_values(self, key):
        """The values under a registry key (name -> data), {} when the key is missing."""
        status, text = self.run("reg", "query", key)
        if status != 0:
            return {}
        values = {}
        for line in text.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2] if len(parts) == 3 else ""
        return values

    def products(self):
        """DisplayName and DisplayVersion of every registered Tagrelay product."""
        uninstall = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
        _, text = self.run("reg", "query", uninstall)
        found = []
        for key in (k.strip() for k in text.splitlines() if k.strip().startswith("HKEY")):
            values = self.reg_values(key)
            if values.get("DisplayName", "").startswith("Tagrelay"):
                found.append((values["DisplayName"], values.get("DisplayVersion")))
        return found

    def processes(self, image):
        """Linux process ids of this prefix's Windows processes whose image is named image."""
        found = []
        for proc in Path("/proc").iterdir():
            try:
                environ = (proc / "environ").read_bytes().split(b"\0")
                cmdline = (proc / "cmdline").read_bytes().split(b"\0")[0]
            except OSError:
                continue
            if (f"WINEPREFIX={self.path}".encode() in environ and
                    cmdline.lower().endswith(b"\\" + image.lower().encode())):
                found.append(int(proc.name))
        return found

    def service_state(self):
        """The service's state word (RUNNING, STOPPED...), None when there is no such service."""
        status, text = self.run("sc", "query", "Tagrelay")
        match = re.search(r"STATE\s*:\s*\d+\s+(\w+)", text)
        return match.group(1) if status == 0 and match else None
