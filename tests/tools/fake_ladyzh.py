#!/usr/bin/python3
"""A stand-in for ladyzh with known errors, for testing refine without a solve.

Reads para.dat in the working directory (first token of every non-blank line)
and writes result, data and step whose computed fields are the exact ones plus
c*h^2 at every interior node (c = 1e-2 for psi, 3e-1 for omega). The
environment variable FAKE_FAIL_M=m makes the run for that grid end with
status 1 and a one-line message on stderr."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))
import fixtures as fx  # noqa: E402

PSI_C, OMEGA_C = 1e-2, 3e-1

def main():
    with open("para.dat") as f:
        tokens = [line.split()[0] for line in f if line.strip()]
    names = ("Re", "eps1", "Q", "m", "L", "r", "imax", "imax_in", "tol_outer", "tol_inner",
             "iproblem")
    values = dict(zip(names, tokens))
    params = {n: (int(values[n]) if n in ("m", "imax", "imax_in") else float(values[n]))
              for n in names[:10]}
    m = params["m"]
    if os.environ.get("FAKE_FAIL_M") == str(m):
        print("ladyzh: para.dat, line 4: cannot use m", file=sys.stderr)
        sys.exit(1)
    for name in ("step", "result", "data"):
        if os.path.exists(name):
            print(f"ladyzh: cannot create {name}: file exists", file=sys.stderr)
            sys.exit(1)
    h = params["L"] / (m + 1)

    def shifted(column, c):
        def f(i, j, x, y):
            inner = 1 <= i <= m and 1 <= j <= m
            return fx.exact(x, y)[column] + (c * h * h if inner else 0.0)
        return f

    rows = [fx.table_row(1, 0.0, 0.5, 1, 10 * m), fx.table_row(2, 0.1, 1e-12, 10 * m, 1),
            fx.table_row(3, 1e-12, 1e-12, 1, 1)]
    fx.write_run(".", params=params, iproblem=int(values["iproblem"]), rows=rows,
                 psi=shifted(0, PSI_C), omega=shifted(1, OMEGA_C))
    print("fake run done")


if __name__ == "__main__":
    main()
