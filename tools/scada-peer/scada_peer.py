#!/usr/bin/env python3
"""The SCADA side of the wire: listens for the agent, shows every line it sends, sends requests.

Usage:
  scada_peer.py [--host 127.0.0.1] --port 5000 [--tls CERT KEY] [--script FILE]

Every line the agent sends is printed as it arrives ("<< " and the text). Requests come from the
script file (one JSON line each; a line "sleep N" waits N seconds; "#" starts a comment) and then
from standard input, one line each. The agent also opens short probe connections every few
seconds; requests always go to the connection that most recently sent a line.

Also a library for tests: ScadaPeer(port=0).start(), then wait_line(), send().
"""
import argparse
import json
import queue
import socket
import ssl
import sys
import threading
import time


class ScadaPeer:
    """A listening SCADA endpoint that records each received line with the connection it came on."""

    def __init__(self, host="127.0.0.1", port=0, tls_files=None):
        self._server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._server.bind((host, port))
        self._server.listen(8)
        self.host, self.port = self._server.getsockname()
        self._tls = None
        if tls_files:
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.load_cert_chain(*tls_files)
            self._tls = ctx
        self.lines = queue.Queue()  # (connection number, raw bytes of the line without LF)
        self.connections = 0  # accepted so far, probes included
        self._active = None
        self._lock = threading.Lock()
        self._stopping = threading.Event()
        self._threads = []

    def start(self):
        self._spawn(self._accept_loop)
        return self

    def stop(self):
        self._stopping.set()
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

    def _accept_loop(self):
        while not self._stopping.is_set():
            try:
                conn, _ = self._server.accept()
            except OSError:
                return
            with self._lock:
                self.connections += 1
                number = self.connections
            self._spawn(self._serve, conn, number)

    def _serve(self, conn, number):
        try:
            if self._tls is not None:
                conn = self._tls.wrap_socket(conn, server_side=True)
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
                    self.lines.put((number, line))
        except (OSError, ssl.SSLError):
            pass
        finally:
            with self._lock:
                if self._active is conn:
                    self._active = None
            try:
                conn.close()
            except OSError:
                pass

    def send(self, text):
        """Sends one request line (a str or a dict, which is dumped compactly) to the agent."""
        if isinstance(text, dict):
            text = json.dumps(text, separators=(",", ":"), ensure_ascii=False)
        data = text.encode("utf-8") + b"\r\n" if isinstance(text, str) else text
        with self._lock:
            conn = self._active
        if conn is None:
            raise ConnectionError("no agent connection")
        conn.sendall(data)

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
        def matches(line):
            try:
                obj = json.loads(line.decode("utf-8"))
            except ValueError:
                return False
            return obj.get("cmd") == cmd and all(obj.get(k) == v for k, v in fields.items())
        line = self.wait_line(matches, timeout)
        return line, json.loads(line.decode("utf-8"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--script")
    args = parser.parse_args()

    peer = ScadaPeer(args.host, args.port, args.tls).start()
    print(f"listening on {peer.host}:{peer.port}{' (TLS)' if args.tls else ''}", flush=True)

    def show():
        while True:
            number, line = peer.lines.get()
            print(f"<< [{number}] {line.decode('utf-8', 'replace').rstrip(chr(13))}", flush=True)

    threading.Thread(target=show, daemon=True).start()

    def send(text):
        text = text.strip()
        if not text or text.startswith("#"):
            return
        if text.startswith("sleep "):
            time.sleep(float(text.split()[1]))
            return
        while True:
            try:
                peer.send(text)
                print(f">> {text}", flush=True)
                return
            except ConnectionError:
                time.sleep(0.5)  # the agent is not connected yet

    try:
        if args.script:
            with open(args.script, encoding="utf-8") as f:
                for text in f:
                    send(text)
        for text in sys.stdin:
            send(text)
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass
    finally:
        peer.stop()


if __name__ == "__main__":
    main()
