# Prints one line per cell of a cube file, read back by the tests' shared reader
# (tests/lib/cubefile.py), not the builder's code: its leaf on each one-level axis, then its
# units and amount as the GROUP BY prints them.
import os
import sys

sys.path.insert(0, os.path.join(os.environ["CASE"], "..", "..", "..", "lib"))
import cubefile  # noqa: E402

cube = cubefile.Cube(sys.argv[1])
for paths, values in cube.cells().items():
    names = [axis.chain(path)[-1][1].decode() for axis, path in zip(cube.axes, paths)]
    print("\t".join(names + ["%d" % values[0], "%.2f" % values[1]]))
