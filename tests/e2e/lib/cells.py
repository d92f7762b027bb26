# Reads a cube file back on its own terms: the nodes of every axis tree, the leaves among
# them (childless and not computed: no compute or function item) numbered depth-first, the
# bits each axis takes for its childless nodes, and the coded coordinates and measure-major
# values. Prints one line per cell: the path of its leaf on every axis, then its values ('-'
# for a missing one).
import re
import sys

DIGITS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz,."

settings = {}
for line in open(sys.argv[1]):
    name, _, value = line.rstrip("\n").partition("=")
    settings[name] = value


def number(text):
    v = 0
    for c in text:
        v = v * 64 + DIGITS.index(c)
    return v


def bits(n):
    b = 1
    while n > 2:
        n = (n + 1) // 2
        b += 1
    return b


axes = []  # per axis: (leaf paths by leaf number, bits)
a = 0
while "lumetraaxis%d" % a in settings:
    nodes = []  # (path, text, computed), in the order written (depth-first)
    for item in re.split(r";(?=x%d[.=])" % a, settings["lumetraaxis%d" % a].rstrip(";")):
        head, _, rest = item.partition("=")
        text = rest.split(";")[0]
        computed = ";compute=" in ";" + rest or ";function=" in ";" + rest
        nodes.append((head, text, computed))
    names = {head: text for head, text, _ in nodes}
    childless = [n for n in nodes if not any(m[0].startswith(n[0] + ".") for m in nodes)]
    leaves = []
    for head, _, computed in childless:
        if computed:
            continue
        parts = head.split(".")
        leaves.append("/".join(names[".".join(parts[:i])] for i in range(2, len(parts) + 1)))
    axes.append((leaves, bits(len(childless)) if childless else 1))
    a += 1

coords = [number(c) for c in settings["codedcoords"].split("+")[1:]]
places = int(re.match(r"\d+", settings["codeddata"]).group())
values = []
for sign, digits in re.findall(r"([-+*=#])([0-9A-Za-z,.]*)", settings["codeddata"][len(str(places)):]):
    if sign == "#":
        values.append("-")
        continue
    v = number(digits)
    if sign in "*=":
        v = v / 10 ** places
    values.append("%g" % (-v if sign in "-=" else v))

for i, key in enumerate(coords):
    shift = sum(b for _, b in axes)
    row = []
    for leaves, b in axes:
        shift -= b
        row.append(leaves[(key >> shift) & ((1 << b) - 1)])
    row += [values[m * len(coords) + i] for m in range(len(values) // len(coords))]
    print("\t".join(row))
