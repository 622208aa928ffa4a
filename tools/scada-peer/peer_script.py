"""The script language of scada_peer.py: the words of an input line, values and paths into
answers, and the session that carries out input lines against a ScadaPeer."""
import collections
import json
import queue
import re
import time

from peer_wire import compact, matches, parse_line


BACKLOG = 1000  # received lines kept for later expects, newest


class ScriptError(Exception):
    """A line of input that cannot be carried out (bad syntax, unknown name)."""


class CheckFailed(Exception):
    """An expectation that failed or timed out; reported once it has been printed and counted."""

    def __init__(self, text, reported=False):
        super().__init__(text)
        self.reported = reported


def split_words(text):
    """Splits at blanks outside JSON strings and brackets: a=["x y"] b="c d" -> 2 words."""
    words, start, depth, in_string, escaped = [], None, 0, False, False
    for i, c in enumerate(text):
        if start is None:
            if c.isspace():
                continue
            start = i
        if in_string:
            if escaped:
                escaped = False
            elif c == "\\":
                escaped = True
            elif c == '"':
                in_string = False
        elif c == '"':
            in_string = True
        elif c in "[{":
            depth += 1
        elif c in "]}":
            depth -= 1
        elif c.isspace() and depth <= 0:
            words.append(text[start:i])
            start = None
    if start is not None:
        words.append(text[start:])
    return words


def value_of(text):
    """A value written in a script: JSON when it parses, else the text itself."""
    try:
        return json.loads(text)
    except ValueError:
        return text


def parse_fields(words):
    fields = {}
    for word in words:
        key, eq, value = word.partition("=")
        if not eq or not key:
            raise ScriptError(f"expected KEY=VALUE, got {word!r}")
        fields[key] = value_of(value)
    return fields


CONDITION = re.compile(r"\s*([^=!^$*\s]+)\s*(=|!=|\^=|\$=|\*=)\s*(.*?)\s*$")


def condition_holds(element, condition):
    m = CONDITION.match(condition)
    if not m:
        raise ScriptError(f"bad condition {condition!r}")
    key, op, text = m.groups()
    if not isinstance(element, dict) or key not in element:
        return False
    have = element[key]
    if op in ("=", "!="):
        want = value_of(text)
        return (have == want or (isinstance(have, str) and have == text)) == (op == "=")
    have = have if isinstance(have, str) else compact(have)
    return {"^=": have.startswith, "$=": have.endswith, "*=": have.__contains__}[op](text)


def select(obj, path):
    """The value at PATH: keys joined by dots, each with [index] or [conditions] after it."""
    value = obj
    for segment in split_path(path):
        m = re.match(r"([^\[]*)((?:\[[^\]]*\])*)$", segment)
        if not m:
            raise ScriptError(f"bad path segment {segment!r}")
        key, brackets = m.groups()
        if key:
            if not isinstance(value, dict) or key not in value:
                raise ScriptError(f"no key {key!r} in {path!r}")
            value = value[key]
        for inner in re.findall(r"\[([^\]]*)\]", brackets):
            if not isinstance(value, list):
                raise ScriptError(f"{key!r} is not a list in {path!r}")
            if re.fullmatch(r"-?\d+", inner.strip()):
                try:
                    value = value[int(inner)]
                except IndexError:
                    raise ScriptError(f"index {inner} out of range in {path!r}") from None
                continue
            conditions = [c for c in split_outside_quotes(inner, ",") if c.strip()]
            found = [e for e in value if all(condition_holds(e, c) for c in conditions)]
            if not found:
                raise ScriptError(f"no element of {key!r} with [{inner}]")
            value = found[0]
    return value


def split_outside_quotes(text, separator):
    parts, current, in_string = [], "", False
    for c in text:
        if c == '"':
            in_string = not in_string
        if c == separator and not in_string:
            parts.append(current)
            current = ""
        else:
            current += c
    parts.append(current)
    return parts


def split_path(path):
    parts, current, depth = [], "", 0
    for c in path:
        depth += c == "["
        depth -= c == "]"
        if c == "." and depth == 0:
            parts.append(current)
            current = ""
        else:
            current += c
    parts.append(current)
    return [p for p in parts if p]


class Session:
    """Carries out input lines: sends requests and checks what the agent sends back."""

    def __init__(self, peer, output, timeout, variables):
        self.peer = peer
        self.out = output
        self.timeout = timeout
        self.variables = dict(variables)
        self.backlog = collections.deque(maxlen=BACKLOG)  # (raw, parsed) no expect has taken
        self.last = None  # the object the last expect matched
        self.passed = 0
        self.failed = 0

    def substitute(self, text):
        def value(m):
            name = m.group(1)
            if name not in self.variables:
                raise ScriptError(f"${{{name}}} is not defined")
            v = self.variables[name]
            return v if isinstance(v, str) else compact(v)
        return re.sub(r"\$\{([A-Za-z_][A-Za-z0-9_]*)\}", value, text)

    def run(self, text):
        """Carries out one input line; returns False for quit."""
        text = text.strip()
        if not text or text.startswith("#"):
            return True
        word, _, rest = text.partition(" ")
        rest = rest.strip()
        if text[0] in "{[":
            self.send(self.substitute(text))
        elif word == "send":
            self.send(self.substitute(rest))
        elif word in ("wait", "sleep"):
            time.sleep(self.number(rest))
        elif word == "timeout":
            self.timeout = self.number(rest)
        elif word == "echo":
            self.out.write(f"== {self.substitute(rest)}")
        elif word == "set":
            name, _, value = rest.partition(" ")
            self.variables[self.name(name)] = value_of(self.substitute(value.strip()))
        elif word == "let":
            self.let(rest)
        elif word == "expect":
            self.expect(rest)
        elif word == "expect-exact":
            self.expect_exact(self.substitute(rest))
        elif word == "expect-none":
            self.expect_none(rest)
        elif word == "close":
            self.peer.close_active()
            self.out.write("-- closed the agent's connection")
        elif word in ("quit", "exit"):
            return False
        else:
            raise ScriptError(f"unknown line {text!r}")
        return True

    @staticmethod
    def number(text):
        try:
            return float(text)
        except ValueError:
            raise ScriptError(f"expected a number of seconds, got {text!r}") from None

    @staticmethod
    def name(text):
        if not re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", text):
            raise ScriptError(f"bad name {text!r}")
        return text

    def send(self, text):
        deadline = time.monotonic() + self.timeout
        while True:
            try:
                self.peer.send(text)
                self.out.write(f">> {text}")
                return
            except ConnectionError:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    raise CheckFailed(f"no agent connection to send to within {self.timeout:g} s")
                self.peer.wait_agent(min(remaining, 0.5))

    def let(self, rest):
        name, eq, path = rest.partition("=")
        if not eq:
            raise ScriptError("expected: let NAME = PATH")
        if self.last is None:
            raise ScriptError("let needs an earlier expect")
        value = select(self.last, self.substitute(path.strip()))
        self.variables[self.name(name.strip())] = value
        self.out.write(f"-- {name.strip()} = {value if isinstance(value, str) else compact(value)}")

    def take(self, predicate, timeout):
        """The first unclaimed line (backlog first, then new ones) whose parsed value satisfies
        predicate, as (raw line, parsed value); None after timeout."""
        for i, (line, obj) in enumerate(self.backlog):
            if predicate(obj):
                del self.backlog[i]
                return line, obj
        deadline = time.monotonic() + timeout
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                return None
            try:
                _, line = self.peer.lines.get(timeout=remaining)
            except queue.Empty:
                return None
            obj = parse_line(line)
            if predicate(obj):
                return line, obj
            self.backlog.append((line, obj))

    def check(self, ok, what, why=""):
        if ok:
            self.passed += 1
            self.out.write(f"ok   {what}")
        else:
            self.failed += 1
            self.out.write(f"FAIL {what}{': ' + why if why else ''}")
            raise CheckFailed(what, reported=True)

    def expect(self, rest):
        words = split_words(self.substitute(rest))
        if not words:
            raise ScriptError("expected: expect CMD [KEY=VALUE ...]")
        cmd, fields = words[0], parse_fields(words[1:])
        found = self.take(lambda obj: matches(obj, cmd, fields), self.timeout)
        what = f"expect {' '.join(words)}"
        if found is not None:
            self.last = found[1]
        self.check(found is not None, what, f"nothing within {self.timeout:g} s")

    def expect_exact(self, text):
        what = f"expect-exact {text}"
        wanted = value_of(text) if text[:1] in "{[" else None
        if isinstance(wanted, dict) and "cmd" in wanted:
            keys = {k: wanted[k] for k in ("TransID",) if k in wanted}
            found = self.take(lambda obj: matches(obj, wanted["cmd"], keys), self.timeout)
        else:
            found = self.take(lambda obj: True, self.timeout)
        if found is None:
            self.check(False, what, f"nothing within {self.timeout:g} s")
        line, self.last = found
        got = line[:-1] if line.endswith(b"\r") else line
        if got != text.encode("utf-8"):
            self.check(False, what, f"got {got.decode('utf-8', 'replace')}")
        self.check(line.endswith(b"\r"), what, "the line did not end with CR LF")

    def expect_none(self, rest):
        words = split_words(self.substitute(rest))
        if len(words) < 2:
            raise ScriptError("expected: expect-none SECONDS CMD [KEY=VALUE ...]")
        seconds, cmd, fields = self.number(words[0]), words[1], parse_fields(words[2:])
        found = self.take(lambda obj: matches(obj, cmd, fields), seconds)
        what = f"expect-none {' '.join(words)}"
        self.check(found is None, what,
                   f"got {found[0].decode('utf-8', 'replace') if found is not None else ''}")


def run_lines(session, lines, source, stop_on_failure):
    """Carries out lines; returns False when a quit line was met."""
    for number, text in enumerate(lines, 1):
        try:
            if not session.run(text):
                return False
        except ScriptError as e:
            session.failed += 1
            session.out.write(f"FAIL {source}:{number}: {e}")
            if stop_on_failure:
                raise CheckFailed(str(e)) from None
        except CheckFailed as e:
            if not e.reported:
                session.failed += 1
                session.out.write(f"FAIL {source}:{number}: {e}")
            if stop_on_failure:
                raise
    return True
