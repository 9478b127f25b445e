"""Stand-in for PyYAML's safe_load over block-style YAML: nested mappings and sequences by
indentation, plain scalars (null, booleans, integers, floats, strings), single- and double-quoted
strings, comments and the empty flow collections {} and []. Anything else raises YAMLError."""
import re

__version__ = "6.0+standin"

_INT = re.compile(r"[-+]?(0|[1-9][0-9_]*)$")
_FLOAT = re.compile(r"[-+]?([0-9][0-9_]*\.[0-9_]*|\.[0-9_]+)([eE][-+][0-9]+)?$")


class YAMLError(Exception):
    pass


def _strip_comment(line):
    quote = None
    for i, ch in enumerate(line):
        if quote:
            if ch == quote:
                quote = None
        elif ch in "'\"":
            quote = ch
        elif ch == "#" and (i == 0 or line[i - 1] in " \t"):
            return line[:i]
    return line


def _scalar(text):
    text = text.strip()
    if text in ("", "~", "null", "Null", "NULL"):
        return None
    if text in ("true", "True", "TRUE"):
        return True
    if text in ("false", "False", "FALSE"):
        return False
    if text == "{}":
        return {}
    if text == "[]":
        return []
    if len(text) >= 2 and text[0] == text[-1] == "'":
        return text[1:-1].replace("''", "'")
    if len(text) >= 2 and text[0] == text[-1] == '"':
        return text[1:-1].encode("utf-8").decode("unicode_escape")
    if text[0] in "[{|>&*!%@`\"'":
        raise YAMLError(f"the stand-in does not read this YAML value: {text}")
    if _INT.match(text):
        return int(text.replace("_", ""))
    if _FLOAT.match(text):
        return float(text.replace("_", ""))
    return text


def _split_key(content):
    match = re.match(r"""("[^"]*"|'[^']*'|[^:#'"][^:]*?)\s*:(\s|$)""", content)
    if not match:
        return None
    return _scalar(match.group(1)), content[match.end():]


class _Lines:
    def __init__(self, text):
        self.items = []
        for raw in text.splitlines():
            line = _strip_comment(raw).rstrip()
            if not line.strip() or line.strip() in ("---", "..."):
                continue
            if "\t" in line[: len(line) - len(line.lstrip())]:
                raise YAMLError("found a tab character in indentation")
            self.items.append((len(line) - len(line.lstrip(" ")), line.strip()))
        self.pos = 0

    def peek(self):
        return self.items[self.pos] if self.pos < len(self.items) else None


def _block(lines, indent):
    first = lines.peek()
    if first is None or first[0] < indent:
        return None
    indent = first[0]
    if first[1] == "-" or first[1].startswith("- "):
        return _sequence(lines, indent)
    return _mapping(lines, indent)


def _value_after(lines, rest, parent_indent, after_key):
    if rest.strip():
        return _scalar(rest)
    following = lines.peek()
    if following is None or following[0] <= parent_indent:
        # The sequence under a key may sit at the key's own indentation.
        if after_key and following is not None and following[0] == parent_indent and (
                following[1] == "-" or following[1].startswith("- ")):
            return _sequence(lines, parent_indent)
        return None
    return _block(lines, parent_indent + 1)


def _mapping(lines, indent):
    result = {}
    while True:
        line = lines.peek()
        if line is None or line[0] < indent:
            return result
        if line[0] > indent:
            raise YAMLError(f"unexpected indentation: {line[1]}")
        if line[1] == "-" or line[1].startswith("- "):
            return result
        split = _split_key(line[1])
        if split is None:
            raise YAMLError(f"expected a mapping entry: {line[1]}")
        key, rest = split
        lines.pos += 1
        result[key] = _value_after(lines, rest, indent, True)


def _sequence(lines, indent):
    result = []
    while True:
        line = lines.peek()
        if line is None or line[0] != indent or not (line[1] == "-" or line[1].startswith("- ")):
            return result
        rest = line[1][1:].strip()
        if not rest:
            lines.pos += 1
            result.append(_value_after(lines, "", indent, False))
        elif _split_key(rest) is not None:
            # "- key: value" opens a mapping whose keys sit two columns further in.
            lines.items[lines.pos] = (indent + 2, rest)
            result.append(_mapping(lines, indent + 2))
        else:
            lines.pos += 1
            result.append(_scalar(rest))


def safe_load(stream):
    text = stream.read() if hasattr(stream, "read") else stream
    if isinstance(text, bytes):
        text = text.decode("utf-8")
    lines = _Lines(text)
    if lines.peek() is None:
        return None
    first = lines.peek()
    if len(lines.items) == 1 and _split_key(first[1]) is None and not first[1].startswith("-"):
        return _scalar(first[1])
    value = _block(lines, 0)
    if lines.peek() is not None:
        raise YAMLError(f"unexpected content: {lines.peek()[1]}")
    return value
