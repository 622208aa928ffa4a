"""The agent's lines as the SCADA peer reads and writes them: compact JSON text, parsing a
received line, matching a parsed line against a command and fields."""
import json


def compact(obj):
    """The agent's own JSON text: no spaces, keys in their order, non-ASCII characters as is."""
    return json.dumps(obj, separators=(",", ":"), ensure_ascii=False)


def parse_line(line):
    """The JSON value of a received raw line (bytes), or None when it is no JSON."""
    try:
        return json.loads(line.decode("utf-8"))
    except ValueError:
        return None


def matches(obj, cmd, fields):
    return (isinstance(obj, dict) and obj.get("cmd") == cmd
            and all(k in obj and obj[k] == v for k, v in fields.items()))
