#!/usr/bin/env python3
"""scada_peer: plays the SCADA server for the Tagrelay agent.

It listens on a TCP port (optionally TLS), accepts the agent's connections, prints every line the
agent sends (raw, and pretty-printed), and sends request lines taken from a script file and/or
typed on standard input. Scripts can wait, check answers (by fields or byte for byte), pick values
out of answers for later requests, and end with a non-zero exit status when a check fails.

Also a library for tests: ScadaPeer(port=0).start(), then wait_json(), send(), stop().
"""
import argparse
import json
import os
import queue
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import warnings

from peer_script import CheckFailed, Session, run_lines, value_of
from peer_wire import compact, matches, parse_line

EPILOG = r"""
input lines (script file or standard input), one per line:
  {...} or [...]          sent to the agent as typed (after ${name} substitution), CR LF added
  send TEXT               sends TEXT as typed, JSON or not (e.g. to try a broken line)
  expect CMD [KEY=VALUE ...]
                          waits for a line whose "cmd" is CMD and whose fields equal the values;
                          VALUE is JSON (1, "a b", ["1","0"], true) or else plain text
  expect-exact TEXT       waits for the line with the same "cmd" (and "TransID", if TEXT has one)
                          as TEXT and checks it byte for byte against TEXT, with CR LF after it;
                          TEXT that is not JSON is compared with the next line
  expect-none SECONDS CMD [KEY=VALUE ...]
                          fails if such a line arrives within SECONDS
  let NAME = PATH         takes a value out of the line the last expect matched, e.g.
                            let sim = ListServers[name=Tagrelay.OpcSim.1].id
                            let tag = ListTags[name=Plant$#%Area1$#%Line1$#%Recipe].hash
                            let any = ListTags[name$=Counter, writeable=true].hash
                            let first = ListTags[0].name
                          conditions: = equal, != differ, ^= starts, $= ends, *= contains
  set NAME VALUE          defines ${NAME}; also --set NAME=VALUE on the command line
  timeout SECONDS         how long later expects wait (default: --timeout)
  wait SECONDS            pauses (also: sleep SECONDS)
  echo TEXT               prints TEXT into the conversation
  close                   closes the agent's connection (the agent reconnects within ~5 s)
  quit                    ends the input
  # ...                   comment; blank lines are ignored

An expect looks at every received line that no earlier expect has taken, oldest first, then waits
for new ones up to the timeout. In a script the first failed check ends the script (unless
--keep-going); typed checks only report. Exit status: 0 when every check passed, 1 when one failed
or timed out, 2 for a usage error.

Requests go to the connection that most recently sent a line (the agent opens a short probe
connection every 5 s that sends nothing); a request typed before the agent is connected waits for
it up to --timeout.

output:
  << [N] TEXT             a line received on connection N (raw; "(no CR)" if it lacked CR LF)
                          followed by the same line pretty-printed (long lists shortened)
  >> TEXT                 a line sent
  ok / FAIL               the result of a check;  -- notes;  == echo

The agent finds the peer through its tagrelayConfig.ini: KelScadaIp=127.0.0.1, KelScadaPort=the
port, IsSSLSecure=1 with --tls (scripts/demo writes it so).

examples:
  # watch the agent and type requests by hand (plain TCP on port 5000)
  scada_peer.py --port 5000
  # TLS with a throwaway self-signed certificate, or with your own files
  scada_peer.py --port 5000 --tls
  scada_peer.py --port 5000 --tls server.crt server.key
  # run a script, keep listening afterwards until Ctrl-C
  scada_peer.py --port 5000 --script tools/scada-peer/demo.txt --stay
  # a free port, written to a file for the program that configures the agent
  scada_peer.py --port 0 --port-file /tmp/port --script session.txt

  a script:
    timeout 60
    expect serverOnline TransID=0
    let sim = ListServers[name=Tagrelay.OpcSim.1].id
    timeout 20
    {"cmd":"ping","TransID":1,"OPCServerID":"${sim}"}
    expect-exact {"cmd":"ping","TransID":1,"OPCServerID":"${sim}","OPCState":"CommFault"}
"""


def tls_context(cert, key):
    """A server context that also lets agents in that speak only TLS 1.0."""
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # old on purpose
        ctx.minimum_version = ssl.TLSVersion.TLSv1
    ctx.set_ciphers("DEFAULT:@SECLEVEL=0")
    ctx.load_cert_chain(cert, key)
    return ctx


class ScadaPeer:
    """A listening SCADA endpoint that records each received line with the connection it came on.

    on_line(number, line) and on_event(text), when given, are called on the connection's thread
    for every line and for connections opening and closing.
    """

    def __init__(self, host="127.0.0.1", port=0, tls_files=None, *, on_line=None, on_event=None):
        self._server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._server.bind((host, port))
        self._server.listen(8)
        self.host, self.port = self._server.getsockname()
        self._tls = tls_context(*tls_files) if tls_files else None
        self.lines = queue.Queue()  # (connection number, raw bytes of the line without LF)
        self.connections = 0  # accepted so far, probes included
        self._on_line = on_line
        self._on_event = on_event
        self._active = None
        self._lock = threading.Lock()
        self._has_active = threading.Condition(self._lock)
        self._stopping = threading.Event()
        self._threads = []

    def start(self):
        self._spawn(self._accept_loop)
        return self

    def stop(self):
        self._stopping.set()
        # Closing a listening socket does not wake an accept() blocked on it in another thread;
        # shutting it down first does.
        try:
            self._server.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        try:
            self._server.close()
        except OSError:
            pass
        with self._lock:
            active = self._active
        if active is not None:
            try:
                active.close()
            except OSError:
                pass
        for t in self._threads:
            t.join(timeout=5)

    def _spawn(self, target, *args):
        t = threading.Thread(target=target, args=args, daemon=True)
        t.start()
        self._threads.append(t)

    def _event(self, text):
        if self._on_event is not None:
            self._on_event(text)

    def _accept_loop(self):
        while not self._stopping.is_set():
            try:
                conn, address = self._server.accept()
            except OSError:
                return
            with self._lock:
                self.connections += 1
                number = self.connections
            self._event(f"connection [{number}] from {address[0]}:{address[1]}")
            self._spawn(self._serve, conn, number)

    def _serve(self, conn, number):
        why = "closed by the agent"
        try:
            if self._tls is not None:
                conn = self._tls.wrap_socket(conn, server_side=True)
                self._event(f"connection [{number}]: {conn.version()} {conn.cipher()[0]}")
            buffer = b""
            while not self._stopping.is_set():
                data = conn.recv(65536)
                if not data:
                    break
                buffer += data
                while b"\n" in buffer:
                    line, buffer = buffer.split(b"\n", 1)
                    with self._lock:
                        self._active = conn
                        self._has_active.notify_all()
                    if self._on_line is not None:
                        self._on_line(number, line)
                    self.lines.put((number, line))
        except (OSError, ssl.SSLError) as e:
            why = str(e) or type(e).__name__
        finally:
            with self._lock:
                if self._active is conn:
                    self._active = None
            try:
                conn.close()
            except OSError:
                pass
            self._event(f"connection [{number}] ended: {why}")

    def send(self, text):
        """Sends one request line (a str or a dict, which is dumped compactly) to the agent."""
        if isinstance(text, dict):
            text = compact(text)
        data = text.encode("utf-8") + b"\r\n" if isinstance(text, str) else text
        with self._lock:
            conn = self._active
        if conn is None:
            raise ConnectionError("no agent connection")
        conn.sendall(data)

    def wait_agent(self, timeout=20.0):
        """Waits until a connection has sent a line (the agent's link); False after timeout."""
        with self._lock:
            return self._has_active.wait_for(lambda: self._active is not None, timeout)

    def close_active(self):
        """Closes the agent's current connection, as a SCADA server going away would."""
        with self._lock:
            conn, self._active = self._active, None
        if conn is not None:
            try:
                conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            conn.close()

    def wait_line(self, predicate=None, timeout=20.0):
        """Returns the next received raw line (CR LF included up to the LF) matching predicate."""
        deadline = time.monotonic() + timeout
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise TimeoutError("no matching line from the agent")
            try:
                _, line = self.lines.get(timeout=remaining)
            except queue.Empty:
                raise TimeoutError("no matching line from the agent") from None
            if predicate is None or predicate(line):
                return line

    def wait_json(self, cmd, timeout=20.0, **fields):
        """Returns (raw line, parsed object) of the next line with this "cmd" and these fields."""
        line = self.wait_line(lambda raw: matches(parse_line(raw), cmd, fields), timeout)
        return line, json.loads(line.decode("utf-8"))


# ---- The command-line tool ----

def pretty_lines(value, indent="", top=True, width=120):
    """Indented JSON: the top level one key per line, inner values on one line when they fit."""
    flat = json.dumps(value, ensure_ascii=False, separators=(", ", ": "))
    if not top and (len(indent) + len(flat) <= width or not isinstance(value, (dict, list))):
        return [flat]
    inner = indent + "  "
    if isinstance(value, dict):
        items = [(json.dumps(k, ensure_ascii=False) + ": ", v) for k, v in value.items()]
        opening, closing = "{", "}"
    elif isinstance(value, list):
        items = [("", v) for v in value]
        opening, closing = "[", "]"
    else:
        return [flat]
    if not items:
        return [flat]
    lines = [opening]
    for i, (prefix, item) in enumerate(items):
        sub = pretty_lines(item, inner, False, width - len(prefix))
        comma = "," if i < len(items) - 1 else ""
        lines.append(inner + prefix + sub[0])
        lines.extend(sub[1:])
        lines[-1] += comma
    lines.append(indent + closing)
    return lines


class Output:
    """Prints the conversation: received lines raw and pretty, sent lines, check results."""

    def __init__(self, show, raw_limit, max_items, verbose):
        self.show = show
        self.raw_limit = raw_limit
        self.max_items = max_items
        self.verbose = verbose
        self._lock = threading.Lock()

    def write(self, text):
        with self._lock:
            print(text, flush=True)

    def received(self, number, line):
        no_cr = not line.endswith(b"\r")
        text = (line[:-1] if not no_cr else line).decode("utf-8", "replace")
        parts = []
        if self.show in ("raw", "both"):
            shown = text
            if self.raw_limit and len(shown) > self.raw_limit:
                shown = f"{shown[:self.raw_limit]} ... [{len(text) - self.raw_limit} more characters]"
            parts.append(f"<< [{number}] {shown}{' (no CR)' if no_cr else ''}")
        else:
            parts.append(f"<< [{number}]{' (no CR)' if no_cr else ''}")
        if self.show in ("pretty", "both"):
            obj = parse_line(line)
            if obj is None:
                parts.append("     (not JSON)")
            else:
                parts.extend("     " + p for p in pretty_lines(self.shorten(obj)))
        self.write("\n".join(parts))

    def shorten(self, obj):
        if isinstance(obj, dict):
            return {k: self.shorten(v) for k, v in obj.items()}
        if isinstance(obj, list):
            items = [self.shorten(v) for v in obj]
            if self.max_items and len(items) > self.max_items:
                items = items[:self.max_items] + [f"... {len(obj) - self.max_items} more"]
            return items
        return obj

    def event(self, text):
        if self.verbose:
            self.write(f"-- {text}")


def make_throwaway_certificate(folder):
    cert, key = os.path.join(folder, "peer.crt"), os.path.join(folder, "peer.key")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=scada-peer", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    return cert, key


def parse_args(argv):
    parser = argparse.ArgumentParser(
        prog="scada_peer.py", description="\n\n".join(__doc__.split("\n\n")[:2]),
        epilog=EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", default="127.0.0.1",
                        help="address to listen on (default 127.0.0.1; 0.0.0.0 for every one)")
    parser.add_argument("--port", type=int, required=True, help="port to listen on; 0: a free one")
    parser.add_argument("--port-file", help="write the port listened on into this file")
    parser.add_argument("--tls", nargs="*", metavar="FILE",
                        help="TLS; CERT KEY files, or none for a throwaway self-signed certificate"
                             " (made with the openssl command); TLS 1.0 and up are accepted")
    parser.add_argument("--script", help="input lines to carry out first (see below)")
    parser.add_argument("--interactive", action="store_true",
                        help="after the script, read standard input too (default without --script)")
    parser.add_argument("--stay", action="store_true",
                        help="after the input ends, keep listening and printing until Ctrl-C or"
                             " SIGTERM")
    parser.add_argument("--keep-going", action="store_true",
                        help="go on with the script after a failed check")
    parser.add_argument("--timeout", type=float, default=20.0,
                        help="seconds an expect waits (default 20; the script can change it)")
    parser.add_argument("--set", action="append", default=[], metavar="NAME=VALUE",
                        help="define ${NAME} for the input lines")
    parser.add_argument("--show", choices=("both", "raw", "pretty"), default="both",
                        help="how received lines are printed (default both)")
    parser.add_argument("--raw-limit", type=int, default=2000, metavar="N",
                        help="shorten raw lines to N characters on screen (0: never; default"
                             " 2000); checks always see the whole line")
    parser.add_argument("--max-items", type=int, default=5, metavar="N",
                        help="show at most N elements of a list when pretty-printing (0: all)")
    parser.add_argument("-v", "--verbose", action="store_true",
                        help="also print connections opening and closing (probes included)")
    args = parser.parse_args(argv)
    if args.tls is not None and len(args.tls) not in (0, 2):
        parser.error("--tls takes no file or two: CERT KEY")
    for item in args.set:
        if "=" not in item:
            parser.error(f"--set {item}: expected NAME=VALUE")
    return args


def interrupted(*_):
    raise KeyboardInterrupt


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    signal.signal(signal.SIGTERM, interrupted)
    out = Output(args.show, args.raw_limit, args.max_items, args.verbose)
    with tempfile.TemporaryDirectory(prefix="scada-peer-") as scratch:
        tls_files = None
        if args.tls is not None:
            tls_files = tuple(args.tls) if args.tls else make_throwaway_certificate(scratch)
        try:
            peer = ScadaPeer(args.host, args.port, tls_files, on_line=out.received,
                             on_event=out.event).start()
        except OSError as e:
            print(f"scada_peer: cannot listen on {args.host}:{args.port}: {e}", file=sys.stderr)
            return 2
        if args.port_file:
            with open(args.port_file + ".tmp", "w") as f:
                f.write(f"{peer.port}\n")
            os.replace(args.port_file + ".tmp", args.port_file)
        out.write(f"-- listening on {peer.host}:{peer.port}"
                  f"{' (TLS' + (', throwaway certificate)' if not args.tls else ')') if tls_files else ''}")
        variables = {k: value_of(v) for k, v in (s.split("=", 1) for s in args.set)}
        session = Session(peer, out, args.timeout, variables)
        try:
            go_on = True
            if args.script:
                with open(args.script, encoding="utf-8") as f:
                    script = f.read().splitlines()
                try:
                    go_on = run_lines(session, script, args.script, not args.keep_going)
                except CheckFailed:
                    go_on = False
                verdict = "passed" if not session.failed else "FAILED"
                out.write(f"-- script {verdict}: {session.passed} checks passed,"
                          f" {session.failed} failed")
            if go_on and (args.interactive or not args.script):
                run_lines(session, sys.stdin, "stdin", False)
            if args.stay:
                out.write("-- input ended; still listening (Ctrl-C to end)")
                while True:
                    time.sleep(3600)
        except KeyboardInterrupt:
            pass
        finally:
            peer.stop()
        return 1 if session.failed else 0


if __name__ == "__main__":
    sys.exit(main())
