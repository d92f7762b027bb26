# The independent check of a cube's numbers: for every written leaf, the conditions printed on
# its path (what the viewer's drill-through sends back) are run as a record query against all
# the records, and every cell must hold exactly the sums of the records that all of its leaves'
# queries return.
import os
import re
import subprocess

# Sanitizer settings pass through, so that a finding fails the run.
SANITIZER_ENV = {k: v for k, v in os.environ.items() if k in ("ASAN_OPTIONS", "UBSAN_OPTIONS")}

HEX = re.compile(rb"%([0-9a-fA-F]{2})")


def url_decode(text):
    """What the CGI form decoder makes of a value that travels unencoded."""
    return HEX.sub(lambda m: bytes([int(m.group(1), 16)]), text)


def query_text(axis, path):
    """The record query of a leaf: one element per printed condition on its path."""
    conditions = [items["f0"] for _, _, items in axis.chain(path) if "f0" in items]
    return b";".join(b"e%d=" % i + url_decode(c) for i, c in enumerate(conditions))


def run_query(varkel, workdir, data, query):
    """Ids (first field) of the records that the record query accepts."""
    env = {b"REQUEST_METHOD": b"GET", b"QUERY_STRING": b"", b"LC_ALL": b"C",
           b"W3_dataSource": b"text:" + data.encode(), b"W3_emitAcceptedData": b"1",
           b"W3_datasourceformat": b"tsv", b"W3_firstfieldnames": b"1"}
    if query:
        env[b"W3_query"] = query
    env.update({k.encode(): v.encode() for k, v in SANITIZER_ENV.items()})
    p = subprocess.run([varkel], cwd=workdir, env=env, capture_output=True, timeout=60)
    lines = p.stdout.split(b"\n")
    if p.returncode != 0 or lines[:2] != [b"Content-type: text/plain", b""]:
        raise AssertionError("record query %r ended %d: %r %r"
                             % (query[:200], p.returncode, p.stdout[:300], p.stderr[:300]))
    return {line.split(b"\t", 1)[0].decode() for line in lines[3:] if line}


# Leaves that stand after a grown level in its chain are never visited by the classification:
# by design they get no records, whatever their conditions select.
def never_given_records(axis, path):
    return any(label.startswith(b"After ") for _, label, _ in axis.chain(path))


def expected_cells(cube, case, selected):
    """{leaf paths: sums} from the queries' answers; selected[a][leaf] is a set of ids."""
    ids = [rec[0] for rec in case["records"]]
    out = {}
    for i, rid in enumerate(ids):
        combos = [()]
        for a in range(len(cube.axes)):
            hits = [leaf for leaf, got in selected[a].items() if rid in got]
            combos = [c + (leaf,) for c in combos for leaf in hits]
        for c in combos:
            sums = out.setdefault(c, [None] * len(case["values"][i]))
            for m, v in enumerate(case["values"][i]):
                if v is not None:
                    sums[m] = v if sums[m] is None else sums[m] + v
    return out


def check(cube, case, varkel, workdir, data):
    """Problems found, as lines; empty when every cell holds what its leaves select."""
    selected = []
    for axis in cube.axes:
        per = {}
        for leaf in axis.leaves:
            if never_given_records(axis, leaf):
                per[leaf] = set()
            else:
                per[leaf] = run_query(varkel, workdir, data, query_text(axis, leaf))
        selected.append(per)
    problems = overlapping_periods(cube, selected)
    want = expected_cells(cube, case, selected)
    got = cube.cells()
    for key in sorted(set(want) | set(got)):
        if want.get(key) != got.get(key):
            shown = " x ".join(ax.shown(p) for ax, p in zip(cube.axes, key))
            problems.append("cell %s: cube %s, its records give %s"
                            % (shown, fmt(got.get(key)), fmt(want.get(key))))
    return problems


def overlapping_periods(cube, selected):
    """Two periods of one date level (sibling leaves with keys) never share a record."""
    problems = []
    for axis, per in zip(cube.axes, selected):
        seen = {}
        for leaf in axis.leaves:
            if "key" not in axis.by_path[leaf][1]:
                continue
            parent = leaf.rsplit(".", 1)[0]
            for other in seen.setdefault(parent, []):
                common = per[leaf] & per[other]
                if common:
                    problems.append("periods %s and %s both select records %s" % (
                        axis.shown(other), axis.shown(leaf), " ".join(sorted(common)[:5])))
            seen[parent].append(leaf)
    return problems


def fmt(values):
    if values is None:
        return "no cell"
    return "(" + ", ".join("-" if v is None else str(v.normalize()) for v in values) + ")"
