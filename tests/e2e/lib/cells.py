# Prints the cells of a built cube (cube file or page), read back on its own terms by the
# tests' shared reader (tests/lib/cubefile.py): one line per cell in the order of the coded
# coordinates, the path of its leaf on every axis (labels as written, '/' between levels),
# then its values ('-' for a missing one).
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "lib"))
import cubefile  # noqa: E402

cube = cubefile.Cube(sys.argv[1])
out = sys.stdout.buffer
for paths, values in cube.cells().items():
    row = [b"/".join(label for _, label, _ in axis.chain(path)) for axis, path in zip(cube.axes, paths)]
    row += [b"-" if v is None else (b"%g" % v) for v in values]
    out.write(b"\t".join(row) + b"\n")
