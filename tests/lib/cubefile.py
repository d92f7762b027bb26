# Reads a built cube back on its own terms, from the cube file or from the page (-ecube):
# the entries of every axis tree with their items, the leaves the entries show (childless and
# not computed, numbered depth-first as written), and the cells with their measure values.
import re
from decimal import Decimal

DIGITS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz,."
ITEMS = ("f0=", "key=", "format=", "function=", "compute=", "field=")
PARAM = re.compile(rb'^<param name="([^"]*)" value="(.*)">$')


class CubeError(Exception):
    pass


ENTITY = re.compile(rb"&(#[0-9]+|#[xX][0-9a-fA-F]+|amp|lt|gt|quot|apos);")
NAMED = {b"amp": b"&", b"lt": b"<", b"gt": b">", b"quot": b'"', b"apos": b"'"}


def html_value(text):
    """An attribute value as a browser hands it to the viewer: character references decoded."""
    def one(m):
        ref = m.group(1)
        if ref.startswith(b"#"):
            n = int(ref[2:], 16) if ref[1:2] in b"xX" else int(ref[1:])
            return bytes([n]) if 0 < n < 256 else m.group(0)
        return NAMED[ref]
    return ENTITY.sub(one, text)


def settings(path):
    """Settings of a cube file ("name=value" lines) or of a page (param tags), as bytes."""
    data = open(path, "rb").read()
    out = {}
    page = path.endswith(".html")
    for line in data.split(b"\n"):
        if page:
            m = PARAM.match(line)
            if m:
                out[m.group(1).decode("latin-1")] = html_value(m.group(2))
        elif b"=" in line:
            name, _, value = line.partition(b"=")
            out[name.decode("latin-1")] = value
    return out


# Settings that name the run rather than the cube.
RUN_NAMES = ("createversion", "builddate", "rawdata", "cb4file")


def lines_without(path, names=RUN_NAMES):
    """The lines of a cube file or page but those of the named settings ("name=" lines, or
    param tags in a page): what two runs building one cube must write alike."""
    drop = tuple(n.encode() + b"=" for n in names) + \
        tuple(b'<param name="' + n.encode() for n in names)
    with open(path, "rb") as f:
        return [l for l in f.read().split(b"\n") if not l.startswith(drop)]


def next_power_of_two(n):
    b = 1
    while n > 2:
        n = (n + 1) // 2
        b += 1
    return b


class Axis:
    """One written tree: entries in written order as (path, label, items)."""

    def __init__(self, value, prefix):
        self.entries = []
        head = re.compile(rb"^%s\d+(\.\d+)*=" % prefix.encode())
        if not value.endswith(b";"):
            raise CubeError("tree does not end with ';'")
        for piece in value[:-1].split(b";"):
            if head.match(piece):
                path, _, label = piece.partition(b"=")
                self.entries.append((path.decode(), label, {}))
            elif self.entries and piece.decode("latin-1").startswith(ITEMS):
                name, _, v = piece.partition(b"=")
                self.entries[-1][2][name.decode()] = v
            else:
                raise CubeError("piece %r is neither an entry nor an item" % piece[:60])
        paths = [p for p, _, _ in self.entries]
        if len(set(paths)) != len(paths):
            raise CubeError("two entries bear one name")
        parents = {p.rsplit(".", 1)[0] for p in paths if "." in p}
        self.by_path = {p: (label, items) for p, label, items in self.entries}
        for p in paths[1:]:
            if p.rsplit(".", 1)[0] not in self.by_path:
                raise CubeError("entry %s has no parent entry" % p)
        childless = [e for e in self.entries[1:] if e[0] not in parents] or self.entries[:1]
        self.leaves = [p for p, _, items in childless
                       if "compute" not in items and "function" not in items]
        self.bits = next_power_of_two(len(childless))

    def chain(self, path):
        """The entries from the root's first level down to path, as (path, label, items)."""
        parts = path.split(".")
        return [(p, ) + self.by_path[p] for p in
                (".".join(parts[:i]) for i in range(2, len(parts) + 1))]

    def shown(self, path):
        return "/".join(repr(label)[2:-1] for _, label, _ in self.chain(path))


def number(text, digits=DIGITS):
    v = 0
    for c in text:
        v = v * 64 + digits.index(c)
    return v


class Cube:
    def __init__(self, path):
        s = self.settings = settings(path)
        self.axes = []
        while "lumetraaxis%d" % len(self.axes) in s:
            self.axes.append(Axis(s["lumetraaxis%d" % len(self.axes)], "x"))
        self.measures = Axis(s["lumetrarecord0"], "y") if "lumetrarecord0" in s else None
        coords = s.get("codedcoords", b"0").decode("latin-1").split("+")
        self.coords = [number(c) for c in coords[1:]]
        # Coordinates are coded in the fixed digits, values in the cube's own (-chars).
        digits = s.get("codingchars", DIGITS.encode()).decode("latin-1")[:64]
        if int(coords[0]) != len(self.coords):
            raise CubeError("codedcoords announces %s cells, lists %d" % (coords[0], len(self.coords)))
        data = s.get("codeddata", b"0").decode("latin-1")
        places = re.match(r"\d+", data).group()
        self.values = []
        for sign, text in re.findall(r"([-+*=#])([^-+*=#]*)", data[len(places):]):
            if sign == "#":
                self.values.append(None)
                continue
            v = Decimal(number(text, digits))
            if sign in "*=":
                v = v / 10 ** int(places)
            self.values.append(-v if sign in "-=" else v)

    def cells(self):
        """{tuple of leaf paths: [values]}; a coordinate naming no written leaf raises."""
        n = len(self.coords)
        if n and len(self.values) % n:
            raise CubeError("%d values for %d cells" % (len(self.values), n))
        per = len(self.values) // n if n else 0
        out = {}
        for i, key in enumerate(self.coords):
            shift = sum(a.bits for a in self.axes)
            if key >> shift:
                raise CubeError("coordinate %d uses bits above the axes'" % key)
            row = []
            for a, axis in enumerate(self.axes):
                shift -= axis.bits
                leaf = (key >> shift) & ((1 << axis.bits) - 1)
                if leaf >= len(axis.leaves):
                    raise CubeError("cell %d: leaf %d of axis %d is not written (%d leaves)"
                                    % (i, leaf, a, len(axis.leaves)))
                row.append(axis.leaves[leaf])
            out[tuple(row)] = [self.values[m * n + i] for m in range(per)]
        return out
