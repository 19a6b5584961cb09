"""Hand-built run folders for the tool tests: `result`, `data` and `step` in
the record layouts the program writes, from fields and statistics chosen by
the test. The field renderers here are written out independently of the
tools' readers."""

import math
import os

HYPHENS_49 = "-" * 49
HYPHENS_51 = "-" * 51
TABLE_HEAD = (
    " k    psi      omega     psi     omega   #iter   #iter  psi   w    all deltas",
    "     error     error   cputime  cputime psi-stp  w-stp  succ succ  2psi , 2w",
    "---  -----     -----   -------  ------- -------  -----  --    --   ----------",
)


def E(w, d, v):
    """Ew.d: .ddddE+xx, no digit before the point; asterisks when too wide."""
    if v == 0:
        text = "." + "0" * d + "E+00"
    else:
        mantissa, exponent = f"{abs(v):.{d - 1}e}".split("e")
        digits = mantissa.replace(".", "")
        e = int(exponent) + 1
        tail = f"E{'-' if e < 0 else '+'}{abs(e):02d}" if abs(e) <= 99 else f"{e:+04d}"
        text = ("-" if v < 0 else "") + "." + digits + tail
    return text.rjust(w) if len(text) <= w else "*" * w


def F(w, d, v):
    text = f"{v:.{d}f}"
    if text.startswith("0."):
        text = text[1:]
    elif text.startswith("-0."):
        text = "-" + text[2:]
    return text.rjust(w) if len(text) <= w else "*" * w


def I(w, v):
    text = str(v)
    return text.rjust(w) if len(text) <= w else "*" * w


def table_row(p, err_psi, err_omega, iter_psi, iter_omega, succ_psi=1, succ_omega=1,
              cpu=(0.01, 0.02), deltas=(0.5, 0.5, 0.5, 0.5)):
    row = (I(3, p) + "  " + E(7, 2, err_psi) + "  " + E(7, 2, err_omega) + F(9, 4, cpu[0])
           + F(9, 4, cpu[1]) + "  " + I(5, iter_psi) + "  " + I(5, iter_omega) + "    "
           + I(1, succ_psi) + "     " + I(1, succ_omega))
    for delta in deltas:
        row += "  " + E(7, 2, delta)
    assert len(row) == 100, row
    return row


def free(*items):
    out = " "
    for item in items:
        out += item if isinstance(item, str) else f" {item!r}"
    return out


def exact(x, y):
    px = x ** 4 - 2 * x ** 3 + x
    py = y ** 4 - 2 * y ** 3 + y
    return px * py, -12 * ((x * x - x) * py + (y * y - y) * px)


DEFAULT_PARAMS = {"Re": 0.0, "eps1": 0.0, "Q": 2.0, "m": 9, "L": 1.0, "r": 0.8, "imax": 10,
                  "imax_in": 1000, "tol_outer": 1e-08, "tol_inner": 1e-10}


def header(params):
    lines = [free(HYPHENS_49), free("This file contains the result of solving"),
             free("Ladyzhenskaya equations using AGE method with the"),
             free("following parameters: "), free()]
    for name in ("Re", "eps1", "Q", "m", "L", "r", "imax", "imax_in", "tol_outer", "tol_inner"):
        lines.append(free(f"{name} = ", params[name]))
    return lines


def write_run(folder, params=None, iproblem=2, iconv=2, rows=None, psi=None, omega=None):
    """Writes result, data and step. psi/omega: functions (i, j, x, y) -> value
    (default: the exact fields); rows: table rows (default: three passes)."""
    params = dict(DEFAULT_PARAMS, **(params or {}))
    m, L = params["m"], params["L"]
    h = L / (m + 1)
    psi = psi or (lambda i, j, x, y: exact(x, y)[0])
    omega = omega or (lambda i, j, x, y: exact(x, y)[1])
    if rows is None:
        rows = [table_row(1, 0.0, 0.25, 1, 120), table_row(2, 0.031, 1.2e-7, 130, 4),
                table_row(3, 2.0e-9, 4.0e-11, 3, 1)]
    os.makedirs(folder, exist_ok=True)
    lines = header(params) + [free("  ")]
    lines += {1: [free("we solve the problem with constant rhs c=1")],
              2: [free("we solve the problem with known solution"),
                  free("psi(x,y) = (x^4-2x^2+x)(y^4-2y^2+y)")]}.get(iproblem, [])
    lines += [free("  ")] * 3
    lines.append(free({1: "***successful convergence with half outer iteration*",
                       2: "***successful convergence with full outer iteration*",
                       0: "******No convergence*****"}[iconv]))
    lines += [free(HYPHENS_49)] + [free(t) for t in TABLE_HEAD] + rows + [free(HYPHENS_49)]
    lines += [free("  ")] * 3
    n = (m + 1) // 10
    for label in ("---------- streamfunction values at  --------------",
                  "------------ vorticity values at  -----------------"):
        lines += [free(HYPHENS_51), free(label),
                  free("------ x=0.1:0.2:0.9 ,  y=0.1:0.2:0.9  ------------"), free(HYPHENS_51)]
        f = psi if "stream" in label else omega
        for j in range(n, 10 * n, 2 * n):
            samples = range(n, 10 * n, 2 * n)
            lines.append("  ".join(E(12, 6, f(i, j, i * h, j * h)) for i in samples))
    lines += [free(HYPHENS_49), free(), free("    streamfunction            vorticity "),
              free("    ---------------         ---------------       ")]
    for j in range(m + 2):
        for i in range(m + 2):
            lines.append(E(20, 10, psi(i, j, i * h, j * h)) + "    "
                         + E(20, 10, omega(i, j, i * h, j * h)))
    with open(os.path.join(folder, "result"), "w") as out:
        out.write("\n".join(lines) + "\n")

    records = []
    for i in range(m + 2):
        for j in range(m + 2):
            x, y = i * h, j * h
            pe, oe = exact(x, y)
            records.append("    ".join(E(20, 10, v) for v in (psi(i, j, x, y), omega(i, j, x, y),
                                                             pe, oe)))
    with open(os.path.join(folder, "data"), "w") as out:
        out.write("\n".join(records) + "\n")

    step = header(params) + [free("  ")] * 3
    for k in range(1, len(rows) + 1):
        step += [free(HYPHENS_49), free("------------", k, "-------------------"), free(HYPHENS_49)]
        step += [free(t) for t in TABLE_HEAD] + rows[:k] + [free(HYPHENS_49)]
    with open(os.path.join(folder, "step"), "w") as out:
        out.write("\n".join(step) + "\n")
    return params


def rewrite(path, edit):
    """Replaces the lines of a file by edit(lines)."""
    with open(path) as f:
        lines = f.read().split("\n")[:-1]
    with open(path, "w") as f:
        f.write("\n".join(edit(lines)) + "\n")


def png_size(path):
    """(width, height) from the PNG signature and IHDR chunk; None if not a PNG."""
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


def is_close(a, b, rel=1e-9):
    return math.isclose(a, b, rel_tol=rel, abs_tol=1e-300)
