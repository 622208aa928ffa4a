"""The MSI under Wine's msiexec, in a prefix of its own: settings given as properties, features,
upgrade from an older version, refused downgrade, uninstall; and the signed packages."""
import subprocess
import time
import zipfile
from pathlib import Path

import pytest

from msi_wine import ROOT, Prefix, make_msi, project_version, windows_path

VERSION = project_version()
OLDER = "0.0.1"
PRODUCT = "Tagrelay (64-bit)"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
EVENT_SOURCE_KEY = r"HKLM\System\CurrentControlSet\Services\EventLog\Application\Tagrelay"
FAILED = 1603 & 0xFF  # ERROR_INSTALL_FAILURE as the shell sees it


@pytest.fixture(scope="module")
def build(request):
    build = Path(request.config.getoption("--build-dir")).resolve()
    if not (build / "src" / "shell" / "tagrelay.exe").exists():
        pytest.fail(f"{build} has no tagrelay.exe")
    return build


@pytest.fixture(scope="module")
def packages(build, tmp_path_factory):
    folder = tmp_path_factory.mktemp("msi")
    return {OLDER: windows_path(make_msi(build, folder, OLDER, marker=b"older")),
            VERSION: windows_path(make_msi(build, folder, VERSION))}


@pytest.fixture
def prefix(build, tmp_path):
    p = Prefix(build, tmp_path / "prefix").start()
    yield p
    p.stop()


def ini_values(path):
    lines = path.read_text(encoding="latin-1").splitlines()
    return dict(line.split("=", 1) for line in lines if "=" in line and not line.startswith(";"))


def test_without_the_service_settings_upgrade_downgrade_and_uninstall(prefix, packages):
    assert prefix.msiexec("/i", packages[OLDER], "ADDLOCAL=Agent,LogonStart",
                          "SCADAHOST=scada.plant.example", "SCADAPORT=5123",
                          "CLIENTUID=4711000042", "TLS=1", "TLSPIN=AB:CD",
                          "TLSVERIFY=system") == 0
    assert sorted(p.name for p in prefix.install_dir.iterdir()) == [
        "PROTOCOL.md", "README.txt", "libcrypto-3-x64.dll", "libssl-3-x64.dll", "tagrelay.exe"]
    settings = ini_values(prefix.settings)
    assert {k: settings[k] for k in ("KelScadaIp", "KelScadaPort", "uid", "IsSSLSecure",
                                     "TlsPin", "TlsVerify", "AllowWrites")} == {
        "KelScadaIp": "scada.plant.example", "KelScadaPort": "5123", "uid": "4711000042",
        "IsSSLSecure": "1", "TlsPin": "AB:CD", "TlsVerify": "system", "AllowWrites": "1"}
    assert prefix.shortcuts()
    assert prefix.reg_values(RUN_KEY).get("Tagrelay") == \
        '"C:\\Program Files\\Tagrelay\\tagrelay.exe"'
    assert prefix.service_state() is None
    assert prefix.products() == [(PRODUCT, OLDER)]

    # A site edits its settings; a repair, and an upgrade given other values, keep the file as
    # it is.
    edited = b"[tagrelayConfig]\r\n; edited on site\r\nKelScadaIp=10.0.0.7\r\nKelScadaPort=6000\r\n"
    prefix.settings.write_bytes(edited)
    (prefix.install_dir / "README.txt").unlink()
    assert prefix.msiexec("/i", packages[OLDER], "REINSTALL=ALL", "REINSTALLMODE=omus",
                          "SCADAHOST=repair.example") == 0
    assert (prefix.install_dir / "README.txt").exists()
    assert prefix.settings.read_bytes() == edited
    assert prefix.msiexec("/i", packages[VERSION], "ADDLOCAL=Agent,LogonStart",
                          "SCADAHOST=other.example") == 0
    assert prefix.settings.read_bytes() == edited
    assert prefix.products() == [(PRODUCT, VERSION)]
    assert (prefix.install_dir / "tagrelay.exe").exists()

    # The older version is refused and changes nothing.
    assert prefix.msiexec("/i", packages[OLDER], "ADDLOCAL=Agent") == FAILED
    assert prefix.products() == [(PRODUCT, VERSION)]
    assert (prefix.install_dir / "tagrelay.exe").exists()

    assert prefix.msiexec("/x", packages[VERSION]) == 0
    assert not prefix.install_dir.exists()
    assert prefix.shortcuts() == []
    assert "Tagrelay" not in prefix.reg_values(RUN_KEY)
    assert prefix.products() == []
    assert prefix.settings.read_bytes() == edited


def test_settings_file_already_there_is_not_touched(prefix, packages):
    prefix.settings.parent.mkdir(parents=True)
    own = b"[tagrelayConfig]\r\nKelScadaIp=site.example\r\n"
    prefix.settings.write_bytes(own)
    assert prefix.msiexec("/i", packages[VERSION], "ADDLOCAL=Agent", "SCADAHOST=x.example") == 0
    assert prefix.settings.read_bytes() == own


def osslsigncode_verify(path, ca):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", str(ca), "-in", str(path)],
                          capture_output=True).returncode == 0


def test_signed_packages(build, tmp_path):
    cert, key = tmp_path / "cert.pem", tmp_path / "key.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Tagrelay test signer", "-keyout", str(key), "-out", str(cert),
                    "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
    out = tmp_path / "dist"
    subprocess.run([str(ROOT / "scripts" / "package"), "--no-build", "--arch", "win64",
                    "--build-dir", str(build), "--out", str(out), "--sign", str(cert), str(key)],
                   check=True,
                   capture_output=True)
    msi = out / f"tagrelay-{VERSION}-x64.msi"
    from_zip = tmp_path / "zip"
    with zipfile.ZipFile(out / f"tagrelay-{VERSION}-win64.zip") as z:
        z.extractall(from_zip)
    from_msi = tmp_path / "msi"
    subprocess.run(["msiextract", "-C", str(from_msi), str(msi)], check=True,
                   capture_output=True)
    signed = [msi]
    for name in ("tagrelay.exe", "libssl-3-x64.dll", "libcrypto-3-x64.dll"):
        signed += [from_zip / f"tagrelay-{VERSION}" / name, *from_msi.rglob(name)]
    assert len(signed) == 7
    assert [p for p in signed if not osslsigncode_verify(p, cert)] == []

    # One changed byte in a signed program, or another signer's certificate: refused.
    exe = from_zip / f"tagrelay-{VERSION}" / "tagrelay.exe"
    data = bytearray(exe.read_bytes())
    data[len(data) // 2] ^= 0x01
    tampered = tmp_path / "tampered.exe"
    tampered.write_bytes(bytes(data))
    assert not osslsigncode_verify(tampered, cert)
    other = tmp_path / "other.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Someone else", "-keyout", str(tmp_path / "other.key"),
                    "-out", str(other)], check=True, capture_output=True)
    assert not osslsigncode_verify(msi, other)


def wait_gone(prefix, image, timeout=30):
    deadline = time.monotonic() + timeout
    while prefix.processes(image) and time.monotonic() < deadline:
        time.sleep(0.2)
    return not prefix.processes(image)


def test_service_install_upgrade_remove_and_uninstall(build, prefix, packages, peer):
    assert prefix.msiexec("/i", packages[OLDER], "SCADAHOST=127.0.0.1",
                          f"SCADAPORT={peer.port}", "CLIENTUID=4711000042") == 0
    assert prefix.service_state() == "RUNNING"
    peer.wait_json("serverOnline", uid="4711000042", timeout=60)
    assert prefix.shortcuts()
    assert "Tagrelay" not in prefix.reg_values(RUN_KEY)
    assert (prefix.install_dir / "tagrelay.exe").read_bytes().endswith(b"older")
    assert prefix.reg_values(EVENT_SOURCE_KEY).get("EventMessageFile") == \
        "C:\\Program Files\\Tagrelay\\tagrelay.exe"

    # The upgrade stops the running service, replaces it and starts it again, with the settings
    # as the site left them.
    text = prefix.settings.read_text(encoding="latin-1")
    prefix.settings.write_text(text.replace("uid=4711000042", "uid=4711000099"),
                               encoding="latin-1")
    edited = prefix.settings.read_bytes()
    assert prefix.msiexec("/i", packages[VERSION], "CLIENTUID=4711000077") == 0
    peer.wait_json("serverOnline", uid="4711000099", timeout=60)
    assert prefix.service_state() == "RUNNING"
    assert (prefix.install_dir / "tagrelay.exe").read_bytes() == \
        (build / "src" / "shell" / "tagrelay.exe").read_bytes()
    assert prefix.products() == [(PRODUCT, VERSION)]
    assert prefix.settings.read_bytes() == edited

    # Taking the feature away deletes the service and keeps the program.
    assert prefix.msiexec("/i", packages[VERSION], "REMOVE=Service") == 0
    assert prefix.service_state() is None
    assert (prefix.install_dir / "tagrelay.exe").exists()
    assert prefix.reg_values(EVENT_SOURCE_KEY) == {}

    # Wine's msiexec asks a service to stop but does not wait for it to end (Windows does, as
    # the ServiceControl row asks), so its tagrelay.exe may still be in use below.
    assert wait_gone(prefix, "tagrelay.exe")
    assert prefix.msiexec("/x", packages[VERSION]) == 0
    assert not prefix.install_dir.exists()
    assert prefix.shortcuts() == []
    assert prefix.products() == []
    assert prefix.settings.read_bytes() == edited
    assert (prefix.settings.parent / "log").is_dir()
