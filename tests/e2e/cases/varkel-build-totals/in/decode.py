# Reads a cube file back on its own terms, without the builder's code: the leaves of each
# one-level axis in order, the coordinate bits they take, the coded coordinates and the
# measure-major coded values. Prints one line per cell: its categories and its values.
import re
import sys

DIGITS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz,."

settings = {}
for line in open(sys.argv[1]):
    name, _, value = line.rstrip("\n").partition("=")
    settings[name] = value

axes = []
a = 0
while "lumetraaxis%d" % a in settings:
    leaves = re.findall(r"(?:^|;)x%d\.\d+=([^;]*)" % a, settings["lumetraaxis%d" % a])
    axes.append(leaves)
    a += 1

def bits(n):
    b = 1
    while n > 2:
        n = (n + 1) // 2
        b += 1
    return b

def number(text):
    v = 0
    for c in text:
        v = v * 64 + DIGITS.index(c)
    return v

coords = [number(c) for c in settings["codedcoords"].split("+")[1:]]
places = int(re.match(r"\d+", settings["codeddata"]).group())
values = []
for sign, digits in re.findall(r"([-+*=#])([0-9A-Za-z,.]*)", settings["codeddata"][len(str(places)):]):
    if sign == "#":
        values.append(None)
        continue
    v = number(digits)
    if sign in "*=":
        v = v / 10 ** places
    values.append(-v if sign in "-=" else v)

cells = len(coords)
measures = len(values) // cells
for i, key in enumerate(coords):
    names = []
    shift = sum(bits(len(l)) for l in axes)
    for leaves in axes:
        shift -= bits(len(leaves))
        names.append(leaves[(key >> shift) & ((1 << bits(len(leaves))) - 1)])
    row = [values[m * cells + i] for m in range(measures)]
    print("\t".join(names + ["%d" % row[0], "%.2f" % row[1]]))
