"""The link's defences, on the real agent under Wine: no OpenSSL configuration file from outside is
read, an urgent TCP byte changes nothing, the greeting is the first line of every connection, the
read-only mode, and the opt-in checks of the server's certificate (throwaway CA and certificates
made here with the openssl command)."""
import json
import re
import socket
import ssl
import subprocess
import time
import warnings

import pytest

from load_support import ResourceProbe
from scada_peer import ScadaPeer, make_throwaway_certificate
from winagent import windows_path
from wire import (RECONNECT_TIMEOUT, ROOT, SIM, UID, Wire, fault_config, is_push, parse,
                  tag_hash, wait_online)

REFUSAL_ATTEMPTS = 2  # refusals seen before a test is satisfied that attempts go on
REFUSAL_TIMEOUT = 40  # the first attempt within 5 s, then one every 5 s, Wine being slow


# ---- helpers ------------------------------------------------------------------------------------

def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True,
                   env={"PATH": "/usr/bin:/bin"})


def make_ca(folder, name):
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", f"/CN={name}",
            "-keyout", f"{name}.key", "-out", f"{name}.pem",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    return folder / f"{name}.pem"


def make_server_certificate(folder, ca, name, alt_names):
    (folder / f"{name}.ext").write_text(f"subjectAltName={alt_names}\n")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=scada.test",
            "-keyout", f"{name}.key", "-out", f"{name}.csr", cwd=folder)
    openssl("x509", "-req", "-in", f"{name}.csr", "-CA", f"{ca}.pem", "-CAkey", f"{ca}.key",
            "-CAcreateserial", "-days", "2", "-extfile", f"{name}.ext", "-out", f"{name}.pem",
            cwd=folder)
    return str(folder / f"{name}.pem"), str(folder / f"{name}.key")


def fingerprint(cert):
    out = subprocess.run(["openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in", cert],
                         check=True, capture_output=True, text=True).stdout
    return out.strip().split("=", 1)[1]  # "AB:CD:..."


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    """A trusted CA with a server certificate for 127.0.0.1 and scada.test, and a second CA the
    agent is never told about, with a certificate of its own."""
    folder = tmp_path_factory.mktemp("pki")
    make_ca(folder, "ca")
    make_ca(folder, "otherca")
    return {
        "folder": folder,
        "ca": folder / "ca.pem",
        "server": make_server_certificate(folder, "ca", "server", "IP:127.0.0.1,DNS:scada.test"),
        "stranger": make_server_certificate(folder, "otherca", "stranger", "IP:127.0.0.1"),
    }


def peer_with(files, max_version=None):
    peer = ScadaPeer(tls_files=files)
    if max_version is not None:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            peer._tls.maximum_version = max_version
    return peer.start()


def wait_log(agent, text, count=1, timeout=REFUSAL_TIMEOUT):
    """Waits until the agent's log holds text at least count times; returns the log."""
    deadline = time.monotonic() + timeout
    enable = True
    while True:
        log = agent.log_text(enable)
        enable = False
        if log.count(text) >= count:
            return log
        if time.monotonic() > deadline:
            raise AssertionError(f"{text!r} not {count} times in the log:\n{log}")
        time.sleep(1)


# ---- no foreign OpenSSL configuration -----------------------------------------------------------

# Allows only ECDSA signatures: applied, it fails every handshake with an RSA-certificate peer.
BREAKING_OPENSSL_CONF = """openssl_conf = openssl_init
[openssl_init]
ssl_conf = ssl_sect
[ssl_sect]
system_default = system_default_sect
[system_default_sect]
SignatureAlgorithms = ECDSA+SHA256
MinProtocol = TLSv1.3
"""


def test_openssl_configuration_from_the_environment_is_not_read(agent, tls_peer, tmp_path):
    conf = tmp_path / "openssl.cnf"
    conf.write_text(BREAKING_OPENSSL_CONF)
    agent.configure(port=tls_peer.port, tls=1)
    agent.start(env={"OPENSSL_CONF": windows_path(conf)})
    wire = Wire(tls_peer)
    wait_online(wire)
    assert wire.ping(1, state="CommFault") >= 1


# Runs its arguments in the mount namespace unshare made for it, with the folder $1 showing at
# the path $2 and everything else as it is; nothing of this is seen outside the namespace. A
# folder that exists is covered by a bind mount; a missing one is made inside a tmpfs laid over
# its nearest existing parent, into which the parent's own entries are bound back. Wine opens
# files in its server process, so the Wine prefix $3 is covered by an overlay (writes go to a
# tmpfs): it is then another folder to Wine, whose programs started here get a server of their
# own, born in this namespace and seeing the same files.
PRIVATE_WINE_WITH_FOLDER = r"""set -eu
folder=$1 target=$2 prefix=$3
shift 3
scratch=$(mktemp -d -p "$(dirname "$folder")")
if [ ! -d "$target" ]; then
  parent=$(dirname "$target")
  while [ ! -d "$parent" ]; do parent=$(dirname "$parent"); done
  [ "$parent" != / ] || { echo "will not cover /" >&2; exit 97; }
  mkdir "$scratch/original"
  mount --bind "$parent" "$scratch/original"
  mount -t tmpfs tagrelay-test "$parent"
  for entry in "$scratch/original"/* "$scratch/original"/.[!.]*; do
    [ -e "$entry" ] || [ -L "$entry" ] || continue
    name=$parent/$(basename "$entry")
    if [ -L "$entry" ]; then cp -P "$entry" "$name"
    elif [ -d "$entry" ]; then mkdir "$name"; mount --bind "$entry" "$name"
    else touch "$name"; mount --bind "$entry" "$name"
    fi
  done
  mkdir -p "$target"
fi
mount --bind "$folder" "$target"
mkdir "$scratch/writes"
mount -t tmpfs tagrelay-test "$scratch/writes"
mkdir "$scratch/writes/upper" "$scratch/writes/work"
mount -t overlay tagrelay-test -o "lowerdir=$prefix,upperdir=$scratch/writes/upper,workdir=$scratch/writes/work" "$prefix"
unset OPENSSL_CONF
exec "$@"
"""


def built_in_openssl_dir(libcrypto):
    """The configuration folder compiled into a libcrypto: where the library looks for its
    openssl.cnf unless told otherwise."""
    found = re.search(rb'OPENSSLDIR: "([^"]*)"', libcrypto.read_bytes())
    assert found, f"no OPENSSLDIR in {libcrypto}"
    return found.group(1).decode()


def stop_private_wine(process, prefix):
    """Ends every Wine process of the private server the process belongs to."""
    if process.poll() is None:
        subprocess.run(["nsenter", f"--mount=/proc/{process.pid}/ns/mnt", "env",
                        f"WINEPREFIX={prefix}", "wineserver", "-k"], capture_output=True,
                       timeout=60)
    process.wait(timeout=30)


def test_openssl_configuration_in_the_built_in_folder_is_not_read(agent, wine, tls_peer,
                                                                 tmp_path):
    openssl_dir = built_in_openssl_dir(agent.folder / "libcrypto-3-x64.dll")
    # Under Wine a path that starts with "/" is the host's path of that name.
    assert openssl_dir.startswith("/"), f"cannot place a file at {openssl_dir!r} here"
    if subprocess.run(["unshare", "--mount", "true"], capture_output=True).returncode != 0:
        pytest.skip("no private mount namespace here (unshare --mount needs root)")
    folder = tmp_path / "openssldir"
    folder.mkdir()
    (folder / "openssl.cnf").write_text(BREAKING_OPENSSL_CONF)
    prefix = wine.build / "wineprefix"
    agent.configure(port=tls_peer.port, tls=1)
    agent.start(wrapper=["unshare", "--mount", "--propagation", "private", "bash", "-c",
                         PRIVATE_WINE_WITH_FOLDER, "private-wine", folder, openssl_dir, prefix])
    try:
        wire = Wire(tls_peer)
        wait_online(wire)
        assert wire.ping(1, state="CommFault") >= 1
    finally:
        stop_private_wine(agent.process, prefix)


# ---- urgent data --------------------------------------------------------------------------------

@pytest.mark.parametrize("tls", [0, 1], ids=["plain", "tls"])
def test_an_urgent_byte_neither_spins_nor_breaks_the_link(agent, wine, tmp_path, tls):
    peer = ScadaPeer(tls_files=make_throwaway_certificate(str(tmp_path)) if tls else None).start()
    try:
        agent.configure(port=peer.port, tls=tls)
        agent.start()
        wire = Wire(peer)
        _, number = wait_online(wire)
        probe = ResourceProbe(wine.build, agent.exe)
        link = peer._active
        raw = link if not tls else socket.socket(fileno=link.fileno())
        try:
            raw.send(b"\n", socket.MSG_OOB)
        finally:
            if tls:
                raw.detach()
        before = probe.cpu_seconds()
        time.sleep(5)
        used = probe.cpu_seconds() - before
        assert used < 0.5, f"{used:.2f} s of CPU in 5 s idle after an urgent byte"
        assert wire.ping(2, state="CommFault") == number
    finally:
        peer.stop()


# ---- the greeting comes first -------------------------------------------------------------------

FAST_TREE = [{"leaf": f"Fast{i}", "type": "I4", "change": "counter", "period": 10}
             for i in range(8)]


def test_greeting_is_the_first_line_of_every_connection(agent, peer, tmp_path):
    config = json.loads((ROOT / "tools" / "opcsim" / "opcsim.json").read_text(encoding="utf-8"))
    for server in config["servers"]:
        if server["clsid"] == SIM:
            server["tree"] = FAST_TREE
    (tmp_path / "opcsim.json").write_text(json.dumps(config), encoding="utf-8")
    agent.configure(port=peer.port)
    agent.start(env={"OPCSIM_CONFIG": windows_path(tmp_path / "opcsim.json")})
    wire = Wire(peer)
    wait_online(wire)
    wire.connect(1, SIM, "async", 10)
    wire.send({"cmd": "getValues", "TransID": 2, "OPCServerID": SIM,
               "tagNames": [tag_hash(f"Fast{i}") for i in range(8)]})
    wire.wait_json("getValues", TransID=2)
    wire.wait(is_push)
    for _ in range(10):
        start = wire.mark()
        peer.close_active()
        _, number = wait_online(wire, RECONNECT_TIMEOUT, start)
        # Pushes keep coming on the new connection: the race the greeting must win was on.
        wire.wait(is_push, start=start)
    firsts = {}
    for number, raw in wire.lines:  # every line was checked whole as it arrived
        firsts.setdefault(number, raw)
    assert len(firsts) == 11
    for number, raw in firsts.items():
        assert parse(raw)["cmd"] == "serverOnline", (number, raw)
        assert parse(raw)["uid"] == UID


# ---- read-only mode -----------------------------------------------------------------------------

INTEGER = tag_hash("Integer")


def read_integer(wire, transid):
    """The Integer tag's value, once the sync group has read it."""
    for attempt in range(40):
        wire.send({"cmd": "getValues", "TransID": transid + attempt, "OPCServerID": SIM,
                   "tagNames": [INTEGER]})
        _, answer, _ = wire.wait_json("getValues", TransID=transid + attempt)
        if answer["values"] != [""]:
            return answer["values"][0]
        time.sleep(0.5)
    raise AssertionError("Integer was never read")


@pytest.mark.parametrize("setting", ["0", "0 ; read-only site"])
def test_writes_are_refused_when_disabled(agent, peer, tmp_path, setting):
    """Anything but exactly 1 turns writing off (an inline comment is part of the value), and the
    log file's start says so."""
    config = fault_config(tmp_path / "opcsim.json", {}, {})
    agent.configure(port=peer.port, AllowWrites=setting, LogFile="agent.log")
    agent.start(env={"OPCSIM_CONFIG": windows_path(config)})
    wire = Wire(peer)
    wait_online(wire)
    wire.connect(1, SIM, "sync", 100)
    assert read_integer(wire, 100) == "42"
    agent.log_text()  # ticks "Enable log": entries made while it is off are not kept
    wire.send({"cmd": "setValue", "TransID": 7, "OPCServerID": SIM, "tagName": INTEGER,
               "value": 5})
    wire.expect({"cmd": "setValue", "error": "Write item error", "TransID": 7,
                 "tagName": INTEGER})
    time.sleep(1)  # several sync reads later
    assert read_integer(wire, 200) == "42"
    assert wire.ping(8) >= 1
    wait_log(agent, "Write refused: writes are disabled by AllowWrites")
    started = (agent.folder / "agent.log").read_bytes().decode("utf-8")
    assert f"Writes are disabled by AllowWrites={setting}\r\n" in started, started


# ---- checking the server's certificate ----------------------------------------------------------

def test_a_trusted_server_passes(agent, pki):
    peer = peer_with(pki["server"])
    try:
        agent.configure(port=peer.port, tls=1, TlsVerify=windows_path(pki["ca"]),
                        TlsPin=fingerprint(pki["server"][0]).lower(), TlsMinVersion="1.2")
        agent.start()
        wire = Wire(peer)
        wait_online(wire)
        assert wire.ping(1, state="CommFault") >= 1
    finally:
        peer.stop()


def test_a_ca_file_beside_the_agent_and_a_name_pass(agent, pki):
    (agent.folder / "trusted.pem").write_bytes(pki["ca"].read_bytes())
    peer = peer_with(pki["server"])
    try:
        agent.configure(port=peer.port, tls=1, TlsVerify="trusted.pem",
                        TlsServerName="scada.test")
        agent.start()
        wait_online(Wire(peer))
    finally:
        peer.stop()


REFUSALS = [
    # (case, server certificate, settings, the log's reason)
    ("unknown CA", "stranger", {"TlsVerify": "ca"},
     "TLS: server certificate not trusted: unable to get local issuer certificate"),
    ("wrong name", "server", {"TlsVerify": "ca", "TlsServerName": "other.example"},
     "TLS: server certificate not trusted: hostname mismatch"),
    ("pin not matching", "server", {"TlsPin": "stranger"},
     "TLS: server certificate fingerprint not pinned: "),
    ("pin whatever the CA says", "server", {"TlsVerify": "ca", "TlsPin": "stranger"},
     "TLS: server certificate fingerprint not pinned: "),
    ("bad pin value", "server", {"TlsPin": "12:34"},
     "TLS: TlsPin is not a SHA-256 fingerprint: 12:34"),
    ("bad version value", "server", {"TlsMinVersion": "2"},
     "TLS: TlsMinVersion must be 1.0, 1.1, 1.2 or 1.3, not 2"),
    ("unreadable CA file", "server", {"TlsVerify": "missing.pem"},
     "TLS: no trusted certificates can be read from "),
]


@pytest.mark.parametrize("case,cert,settings,reason", REFUSALS, ids=[r[0] for r in REFUSALS])
def test_refused_servers_get_no_protocol_byte_and_attempts_go_on(agent, pki, case, cert,
                                                                   settings, reason):
    values = {}
    for key, value in settings.items():
        if value == "ca":
            value = windows_path(pki["ca"])
        elif value == "stranger":
            value = fingerprint(pki["stranger"][0])
        values[key] = value
    peer = peer_with(pki[cert])
    try:
        agent.configure(port=peer.port, tls=1, **values)
        agent.start()
        log = wait_log(agent, reason, REFUSAL_ATTEMPTS)
        if "not pinned" in reason:
            assert reason + fingerprint(pki["server"][0]) in log
        assert peer.lines.empty()  # not one line of the protocol reached the peer
    finally:
        peer.stop()


def test_a_minimum_version_above_the_peers_is_refused(agent, pki):
    peer = peer_with(pki["server"], max_version=ssl.TLSVersion.TLSv1)
    try:
        agent.configure(port=peer.port, tls=1, TlsMinVersion="1.2")
        agent.start()
        wait_log(agent, "Error connecting with SSL.", REFUSAL_ATTEMPTS)
        assert peer.lines.empty()
    finally:
        peer.stop()


def test_checks_without_tls_keep_the_link_closed(agent, peer, pki):
    agent.configure(port=peer.port, tls=0, TlsPin=fingerprint(pki["server"][0]))
    agent.start()
    wait_log(agent, "TLS: TlsVerify and TlsPin need IsSSLSecure=1", REFUSAL_ATTEMPTS)
    assert peer.connections == 0


def test_system_roots_are_trusted(agent, wine, pki):
    """TlsVerify=system, judged by Windows' chain engine: refused while the CA is unknown to
    Windows, trusted once it is a root in the prefix's "ROOT" store, refused again once the
    server's certificate is in the "Disallowed" store (the next probe's handshake finds it, the
    link starts again and every attempt is refused)."""
    for name in ("ca", "server"):
        openssl("x509", "-in", f"{name}.pem", "-outform", "DER", "-out", f"{name}.der",
                cwd=pki["folder"])
    store = windows_path(wine.build / "tools" / "wine" / "root_store.exe")
    root = windows_path(pki["folder"] / "ca.der")
    server = windows_path(pki["folder"] / "server.der")
    peer = peer_with(pki["server"])
    try:
        agent.configure(port=peer.port, tls=1, TlsVerify="system")
        agent.start()
        wait_log(agent, "TLS: server certificate not trusted: unable to get local issuer")
        assert wine.run(store, "add", root).returncode == 0, "the ROOT store did not take the CA"
        wire = Wire(peer)
        _, number = wait_online(wire, RECONNECT_TIMEOUT)
        assert number >= 2
        assert wine.run(store, "add", server, "Disallowed").returncode == 0, \
            "the Disallowed store did not take the certificate"
        wait_log(agent, "TLS: server certificate not trusted: explicitly distrusted",
                 REFUSAL_ATTEMPTS)
    finally:
        wine.run(store, "remove", server, "Disallowed")
        wine.run(store, "remove", root)
        peer.stop()
