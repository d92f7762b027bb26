"""The benchmark's check: a result's cell count and measure totals, in one form for all tools.

  totals.py cube FILE.cb4     the cube file's coordinate and value lists
  totals.py groups FILE       a peer's groups, one per line, the three measures' sums last

Both print "cells<TAB>units<TAB>revenue cents<TAB>cost cents": the units in whole units, the
money in whole cents (cells hold sums of two-decimal values); a measure no record gave a
number to counts 0.
"""
import re
import sys
from decimal import Decimal

DIGITS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz,."


def cube(path):
    """Decodes codedcoords and codeddata: integral values count their units, fractional ones
    their rounded hundredths."""
    settings = {}
    with open(path) as f:
        for line in f:
            name, _, value = line.rstrip("\n").partition("=")
            settings[name] = value
    cells = settings["codedcoords"].count("+")
    data = settings["codeddata"]
    places = int(re.match(r"\d+", data).group())
    values = []
    for sign, text in re.findall(r"([-+*=#])([0-9A-Za-z,.]*)", data[len(str(places)):]):
        if sign == "#":
            values.append(0)
            continue
        v = 0
        for c in text:
            v = v * 64 + DIGITS.index(c)
        if sign in "+-":
            v *= 10 ** places
        values.append(-v if sign in "-=" else v)
    measures = len(values) // cells
    totals = [sum(values[m * cells:(m + 1) * cells]) for m in range(measures)]
    return [cells, totals[0] // 10 ** places] + totals[1:]


def groups(path):
    """Counts the lines and sums the last three fields (empty: no number)."""
    cells = 0
    totals = [Decimal(0)] * 3
    with open(path) as f:
        for line in f:
            cells += 1
            fields = line.rstrip("\n").split("\t")[-3:]
            totals = [t + (Decimal(v) if v else 0) for t, v in zip(totals, fields)]
    return [cells, round(totals[0]), round(totals[1] * 100), round(totals[2] * 100)]


if __name__ == "__main__":
    kind, path = sys.argv[1:3]
    print("\t".join(str(v) for v in (cube if kind == "cube" else groups)(path)))
