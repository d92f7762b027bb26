#!/usr/bin/env python3
"""The builder against varkel-plain, the same sources walking every record of every axis.

For each seed it writes a random profile (fixed labels with conditions, grown levels of
every selector, multi-level expansions, dates, labels after grown levels, computed labels)
and random records whose values repeat, so that most records meet a key already settled,
or whose values in some fields seldom repeat, with the keyed build's windows and budget
made small (VARKEL_TEST_KEY_LIMITS) so that keying stops and its tables fill, then builds the cube with both programs and compares their outputs byte for byte: standard
output and error, exit status, the page and the cube file (its build time aside).

    tests/differential/keyed_walk.py BUILD_DIR [FIRST LAST]

CI runs seeds 1 to 200; the wide check is seeds 1 to 5000:

    tests/differential/keyed_walk.py build 1 5000

A failing seed is printed with the directory that holds its inputs (kept).
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

FIELDS = ["region", "city", "path", "code", "when", "amount", "qty", "note"]


def pick(rng, items):
    return items[rng.randrange(len(items))]


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


class Values:
    """Small pools per field, so that values repeat; bytes of every kind now and then."""

    def __init__(self, rng):
        self.rng = rng
        odd = ["", " ", "x y", "caf\xe9", "\xff\x80", "a\"b", "'q'", "$", "(", "-", "NA"]
        self.pools = {
            "region": ["North", "South", "East", "West", "north", ""] + odd[:4],
            "city": ["Oslo", "Paris", "Lima", "Pune", "Oslo ", "P", "", "Springfield North",
                     "Springfield South", "Springfield"] + odd[3:7],
            "path": ["A;B;C", "A;X", "A", "B;B", "A;B;", ";B", "", "C;D;E;F", "A/B/C",
                     "x/y", "z"],
            "code": ["abcdef", "abc", "ab", "x12", "x3", "99", "", "123456789", "ab;cd"],
            "when": ["2001-02-14", "2001-03-01", "2000-08-31", "2001-12-01", "1999-01-31",
                     "2001-13-01", "2001-05-", "", "2000-02-29", "2002-07-04", "01-02-03"],
            "amount": ["1", "2.5", "-3", "$1,234.50", "(12)", "NA", "", "0.00", "+5",
                       "1e3", "12"],
            "qty": ["1", "2", "3", "10", "", "x"],
            "note": ["", "n1", "n2", "\"q,x\"", "  lead", "a" * 300, "\x01\x7f"] + odd,
        }

    def record(self, fields):
        return [pick(self.rng, self.pools[f]) for f in fields]


def condition(rng, depth=0):
    field = pick(rng, ["region", "city", "code", "amount", "path", "note"])
    roll = rng.randrange(14)
    value = pick(rng, ["North", "Oslo", "A", "ab", "1", "", "x", "2.5", "B;B", "P"])
    if roll == 0:
        leaf = f"{field} = {quoted(value)}"
    elif roll == 1:
        leaf = f"{field} not equals {quoted(value)}"
    elif roll == 2:
        leaf = f"{field} contains {quoted(value)}"
    elif roll == 3:
        leaf = f"{field} not startswith {quoted(value)}"
    elif roll == 4:
        leaf = f"{field} endswith {quoted(value)}"
    elif roll == 5:
        leaf = f"{field} regexp {quoted(pick(rng, ['^N', 'o$', '[0-9]', 'a|b']))}"
    elif roll == 6:
        leaf = f"{field} in ({quoted(value)}, \"South\", \"A;X\")"
    elif roll == 7:
        leaf = f"amount {pick(rng, ['>', '<', '>=', '<=', '=', '<>'])} {pick(rng, ['1', '2.5', '-3', '0'])}"
    elif roll == 8:
        leaf = f"code[1-3] = {quoted(pick(rng, ['bcd', 'bc', '12', '']))}"
    elif roll == 9:
        leaf = f"path[1, \";\"] = {quoted(pick(rng, ['B', 'X', '']))}"
    elif roll == 10:
        leaf = f"path[-1, \";/\"] = {quoted(pick(rng, ['C', 'B', 'y']))}"
    elif roll == 11:
        leaf = f"when[0, \"-\"] = {quoted(pick(rng, ['2001', '2000']))}"
    else:
        leaf = f"{field} not contains {quoted(value)}"
    if depth < 2 and rng.randrange(4) == 0:
        joiner = pick(rng, ["and", "or"])
        return f"({leaf} {joiner} {condition(rng, depth + 1)})"
    return leaf


def autobuild(rng):
    roll = rng.randrange(12)
    sort = pick(rng, ["", " sorta-z", " sortz-a", " sort0-9", " sort9-0"])
    if roll == 0:
        return "autobuild = " + pick(rng, ["region", "city", "note", "code"]) + sort
    if roll == 1:
        return "autobuild = code[1-3]" + sort
    if roll == 2:
        return "autobuild = path[1, \";\"]" + sort
    if roll == 3:
        return "autobuild = path[-1, \";/\"]" + sort
    if roll == 4:
        return "autobuild = multi_level_expand(path, 0, 2, \";\")" + sort
    if roll == 5:
        return "autobuild = reverse_multi_level_expand(path, 0, 1, \";\")"
    if roll == 6:
        return "autobuild = sub_field(path, 1, \";\")" + sort
    if roll in (7, 8):
        form = pick(rng, ["Y+Q+MMM", "Y+Q+M2", "Y+M2A", "YQM", "Y+Q", "Y+M", "Y+Q+M+D",
                          "Y+M+D1A", "Y+MM+DD"])
        fiscal = pick(rng, ["", ", 6", ", 3", ", 11"])
        return f"autobuild = date(when, \"YYYY-MM-DD\", \"{form}\"{fiscal})"
    return "autobuild = " + pick(rng, ["region", "city"]) + sort


def tree(rng, depth, budget):
    """Lines of one level of an axis, each a label with perhaps a subtree below it."""
    lines = []
    for _ in range(rng.randrange(1, 4)):
        if budget[0] <= 0:
            break
        budget[0] -= 1
        prefix = "+ " * depth
        roll = rng.randrange(10)
        if roll < 4:
            label = f"\"L{budget[0]}\" match({condition(rng)})"
            if rng.randrange(8) == 0:
                label += " compute = \"avg\""
            lines.append(prefix + label)
        else:
            lines.append(prefix + autobuild(rng))
        if depth < 3 and rng.randrange(3) == 0:
            lines += tree(rng, depth + 1, budget)
    return lines


def profile(rng):
    text = ["<!--varkel", "setup {", "  data = \"text:data.txt\"", "  firstFieldNames = true",
            "}"]
    for a in range(rng.randrange(1, 5)):
        text.append(f"axis \"A{a}\" {{")
        text += ["  " + line for line in tree(rng, 0, [rng.randrange(2, 9)])]
        text.append("}")
    text.append("measure {")
    text.append("  \"Amount\" extract = amount")
    if rng.randrange(2):
        text.append("  \"Qty\" extract = qty")
    if rng.randrange(2):
        text.append("  \"Records\" extract = '-1'")
    text.append("}")
    text.append("varkel-->")
    return "\n".join(text) + "\n"


def distinct(rng, field, i):
    """A value of field that no other record holds, of the field's own kind."""
    if field == "when":
        return f"{1990 + i % 30}-{1 + i % 12:02d}-{1 + i % 28:02d}"
    if field in ("amount", "qty"):
        return str(i)
    if field == "path":
        return f"P{i % 7};Q{i};R{i % 3}"
    return pick(rng, ["", "N", "x", "ab"]) + str(i) + "\xe9" * (i % 2)


def data(rng):
    """Records whose values repeat, or (cardinality draw) whose values in some fields are
    new for most records, from the start, from half way, or only until half way, so that
    keying starts, stops and runs out of room in the middle of a pass."""
    values = Values(rng)
    fields = FIELDS[:]
    rng.shuffle(fields)
    lines = ["\t".join(fields)]
    count = rng.randrange(20, 400)
    shape = rng.randrange(5)
    fresh = set(rng.sample(FIELDS, rng.randrange(1, 4))) if shape else set()
    for i in range(count):
        row = values.record(fields)
        late = i >= count // 2
        if shape == 1 or (shape == 2 and late) or (shape == 3 and not late) or \
                (shape == 4 and rng.randrange(3)):
            row = [distinct(rng, f, i) if f in fresh else v for f, v in zip(fields, row)]
        if rng.randrange(40) == 0:
            row = row[: rng.randrange(len(row))]  # a short record
        lines.append("\t".join(row))
    return ("\n".join(lines) + "\n").encode("latin-1")


def run(program, work, options, limits):
    env = {"PATH": "/usr/bin:/bin", "LC_ALL": "C"}
    if limits:
        env["VARKEL_TEST_KEY_LIMITS"] = limits
    for v in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
        if v in os.environ:
            env[v] = os.environ[v]
    done = subprocess.run([program, "p.qv4", "-o", "p.html"] + options, cwd=work, env=env,
                          capture_output=True, timeout=120)
    outputs = [done.returncode, done.stdout, done.stderr]
    for name in ("p.html", "p.cb4"):
        path = os.path.join(work, name)
        if os.path.exists(path):
            with open(path, "rb") as f:
                outputs.append(b"".join(l for l in f.readlines() if not l.startswith(b"builddate=")))
            os.remove(path)
        else:
            outputs.append(None)
    return outputs


def check(seed, build):
    rng = random.Random(seed)
    work = tempfile.mkdtemp(prefix=f"keyed{seed}.")
    with open(os.path.join(work, "p.qv"), "w", encoding="latin-1") as f:
        f.write(profile(rng))
    with open(os.path.join(work, "data.txt"), "wb") as f:
        f.write(data(rng))
    compiled = subprocess.run([os.path.join(build, "profile", "tarnwick"), "p.qv"], cwd=work,
                              capture_output=True)
    if compiled.returncode != 0:
        print(f"seed {seed}: tarnwick refused the profile ({work})")
        return False
    options = [o for o in ("-showdups", "-showfailed") if rng.randrange(2)]
    # Windows and a budget for the keyed build's tables small enough that these records
    # cross them (or the usual ones)
    limits = pick(rng, ["", f"{pick(rng, [4, 16, 64])} {pick(rng, [0, 300, 4000, 10 ** 6])}"])
    keyed = run(os.path.join(build, "varkel", "varkel"), work, options, limits)
    plain = run(os.path.join(build, "varkel", "varkel-plain"), work, options, "")
    if keyed != plain:
        names = ["status", "stdout", "stderr", "page", "cube file"]
        differ = [n for n, a, b in zip(names, keyed, plain) if a != b]
        print(f"seed {seed}: varkel and varkel-plain differ in {', '.join(differ)} ({work})")
        return False
    shutil.rmtree(work)
    return True


def main():
    build = os.path.abspath(sys.argv[1])
    first, last = (int(sys.argv[2]), int(sys.argv[3])) if len(sys.argv) > 3 else (1, 200)
    failed = [s for s in range(first, last + 1) if not check(s, build)]
    print(f"{last - first + 1 - len(failed)} of {last - first + 1} seeds agree")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
