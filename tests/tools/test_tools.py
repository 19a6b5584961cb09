"""Tests of tools/plot-run, tools/refine, their file reader and tools/bench-table.

Real runs use the program named by LADYZH_EXE (default build/release/ladyzh);
hand-built run folders (fixtures.py) and a stand-in program with known errors
(fake_ladyzh.py) cover the layouts and failures a real run does not produce.
Run: /usr/bin/python3 -m unittest discover -s tests/tools -v
"""

import json
import math
import os
import re
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("LADYZH_SOURCE_DIR") or os.path.dirname(os.path.dirname(HERE))
TOOLS = os.path.join(SOURCE, "tools")
EXE = os.environ.get("LADYZH_EXE") or os.path.join(SOURCE, "build", "release", "ladyzh")
FAKE = os.path.join(HERE, "fake_ladyzh.py")
sys.path.insert(0, HERE)
sys.path.insert(0, TOOLS)

try:
    import numpy as np
    import matplotlib.image

    import ladyzh_files as lf
    HAVE_LIBS = True
except ImportError:
    HAVE_LIBS = False

import fixtures as fx  # noqa: E402

needs_libs = unittest.skipUnless(HAVE_LIBS, "numpy and matplotlib are not installed")

# The linear test problem, converged far below its discretisation error.
LINEAR = {"Re": "0.0", "eps1": "0.0", "Q": "2.0", "m": "19", "L": "1.0", "r": "0.8",
          "imax": "100000", "imax_in": "1000000", "tol_outer": "1.0E-12", "tol_inner": "1.0E-11",
          "iproblem": "2"}
NAMES = ("Re", "eps1", "Q", "m", "L", "r", "imax", "imax_in", "tol_outer", "tol_inner", "iproblem")


def write_params(path, values):
    with open(path, "w") as f:
        for name in NAMES:
            f.write(f"{values[name]}   {name}\n")


def solve(folder, **changes):
    """Runs the program on LINEAR with `changes` in a new folder."""
    if not os.path.isfile(EXE):
        raise AssertionError(f"ladyzh not found at {EXE}: build it or set LADYZH_EXE")
    os.makedirs(folder)
    write_params(os.path.join(folder, "para.dat"), dict(LINEAR, **changes))
    proc = subprocess.run([EXE], cwd=folder, capture_output=True, text=True, timeout=300)
    if proc.returncode != 0:
        raise AssertionError(f"ladyzh failed in {folder}: {proc.stderr}")
    return folder


def tool(name, *args, env=None):
    return subprocess.run([os.path.join(TOOLS, name), *map(str, args)], capture_output=True,
                          text=True, timeout=600, env=dict(os.environ, **(env or {})))


def pngs(folder):
    return sorted(f for f in os.listdir(folder) if f.endswith(".png"))


class TempCase(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="ladyzh-tools-")
        self.tmp = self._tmp.name

    def tearDown(self):
        self._tmp.cleanup()

    def assertOneLineError(self, proc, prog, text):
        self.assertNotEqual(proc.returncode, 0, proc.stdout)
        lines = proc.stderr.strip().splitlines()
        self.assertEqual(len(lines), 1, proc.stderr)
        self.assertTrue(lines[0].startswith(f"{prog}: error: "), lines[0])
        self.assertIn(text, lines[0])


@needs_libs
class ReaderTest(TempCase):
    def test_numbers_in_report_forms(self):
        cases = [(".12E-02", 0.0012), ("-.15E+01", -1.5), (".10-119", 1e-120), (".10+100", 1e99),
                 ("    .5000", 0.5), ("-.5000", -0.5), ("10.0", 10.0), ("1e-08", 1e-08),
                 ("1.0E-08", 1e-08), ("1d-3", 1e-3), ("Infinity", math.inf), ("-Inf", -math.inf)]
        for text, value in cases:
            with self.subTest(text=text):
                self.assertEqual(lf.parse_real(text), value)
        self.assertTrue(math.isnan(lf.parse_real("    NaN")))
        for text in ("", "abc", "1.2.3", ".E+01", "1,5", "*******"):
            with self.subTest(text=text):
                self.assertIsNone(lf.parse_real(text))

    def test_table_columns_asterisks_and_wide_exponents(self):
        rows = [fx.table_row(1, 0.0, 0.25, 1, 120, cpu=(0.5, 12.25)),
                fx.table_row(2, 0.5, 3.0, 100000, 4, succ_psi=0),
                fx.table_row(3, 2e-9, -1.0, 3, 1000, succ_omega=0, deltas=(-0.5, 2.0, 1e-120, 7.0))]
        self.assertIn("*****", rows[1])
        self.assertIn("*******", rows[2])
        fx.write_run(self.tmp, rows=rows, iconv=0, iproblem=1, params={"m": 19, "r": 1.25})
        result = lf.read_result(os.path.join(self.tmp, "result"))
        self.assertEqual((result.iconv, result.iproblem, result.kconv), (0, 1, 3))
        self.assertEqual((result.params["m"], result.params["r"], result.params["tol_outer"]),
                         (19, 1.25, 1e-08))
        t = result.table
        self.assertEqual(list(t["pass"]), [1, 2, 3])
        self.assertEqual(list(t["err_psi"]), [0.0, 0.5, 0.2e-8])
        self.assertEqual((t["cpu_psi"][0], t["cpu_omega"][0]), (0.5, 12.25))
        self.assertEqual(list(t["succ_psi"]), [1, 0, 1])
        self.assertEqual(list(t["succ_omega"]), [1, 1, 0])
        self.assertEqual(list(t["iter_omega"]), [120, 4, 1000])
        self.assertEqual(list(t["delta2"]), [0.5, 0.5, 0.2e1])
        self.assertEqual(t["delta3"][2], 1e-120)
        self.assertEqual(t["delta4"][2], 7.0)
        # Fields written as asterisks read as NaN and are flagged.
        for name, p in (("iter_psi", 1), ("err_omega", 2), ("delta1", 2)):
            self.assertTrue(math.isnan(t[name][p]) and t.overflow[name][p], name)
        self.assertEqual(int(sum(t.overflow[n].sum() for n in t.columns)), 3)

    def test_stop_after_the_psi_half_leaves_the_last_omega_columns_unrecorded(self):
        rows = [fx.table_row(1, 0.0, 1e-11, 1, 190), fx.table_row(2, 0.0, 0.0, 170, 0,
                                                                   succ_omega=0)]
        fx.write_run(self.tmp, rows=rows, iconv=1)
        result = lf.read_result(os.path.join(self.tmp, "result"))
        self.assertEqual(list(result.recorded("iter_psi")), [True, True])
        self.assertEqual(list(result.recorded("succ_omega")), [True, False])
        self.assertEqual(list(result.recorded("err_psi")), [True, False])
        self.assertTrue(math.isnan(result.column("succ_omega")[1]))
        self.assertEqual(result.column("iter_psi")[1], 170)

    def test_data_records_run_j_fastest(self):
        # Values that name their node, exact in e20.10.
        fx.write_run(self.tmp, params={"m": 9, "L": 2.0},
                     psi=lambda i, j, x, y: i + 100 * j, omega=lambda i, j, x, y: -(1000 * i + j))
        data = lf.read_data(os.path.join(self.tmp, "data"))
        self.assertEqual(data.m, 9)
        i, j = np.meshgrid(np.arange(11), np.arange(11), indexing="ij")
        np.testing.assert_array_equal(data.psi, i + 100 * j)
        np.testing.assert_array_equal(data.omega, -(1000 * i + j))
        x, y = data.coordinates(2.0)
        self.assertEqual((x[10, 3], y[10, 3]), (2.0, 0.6000000000000001))

    def test_interior_errors_ignore_the_boundary(self):
        def psi(i, j, x, y):
            return fx.exact(x, y)[0] + {(3, 5): 1e-3, (0, 4): 5.0}.get((i, j), 0.0)

        def omega(i, j, x, y):
            return fx.exact(x, y)[1] - (2e-3 if (i, j) in ((9, 9), (1, 1)) else 0.0)

        fx.write_run(self.tmp, psi=psi, omega=omega)
        errors = lf.load_run(self.tmp).interior_errors()
        h = 0.1
        for got, want in zip(errors["psi"] + errors["omega"],
                             (1e-3, h * 1e-3, 2e-3, h * math.sqrt(2) * 2e-3)):
            self.assertAlmostEqual(got / want, 1.0, places=6)

    def test_para_dat_read_as_the_program_reads_it(self):
        path = os.path.join(self.tmp, "p.dat")
        with open(path, "w") as f:
            f.write("  10.0 Re\n\n0.001,eps1\n4.0\t Q\n19\n   \n1.0\n0.8 7 r\n100\n20000\n"
                    "1.0E-08\n1.0E-06\n2\nextra line\n")
        values = lf.read_para_dat(path)
        self.assertEqual([values[n] for n in NAMES],
                         ["10.0", "0.001", "4.0", "19", "1.0", "0.8", "100", "20000", "1.0E-08",
                          "1.0E-06", "2"])
        with open(path, "w") as f:
            f.write("10.0\n0.001\n")
        with self.assertRaisesRegex(lf.RunFileError, "holds 2 values"):
            lf.read_para_dat(path)


def drop_last(path):
    fx.rewrite(path, lambda lines: lines[:-1])


def cut_last(path, n):
    fx.rewrite(path, lambda lines: lines[:-1] + [lines[-1][:n]])


def edit_row(path, p, edit):
    """Applies edit to the statistics row of pass p in a file."""
    def apply(lines):
        rows = [k for k, line in enumerate(lines) if re.match(rf"^ {{0,2}}{p}  [ .\d*-]", line)
                and len(line) == 100]
        lines[rows[0]] = edit(lines[rows[0]])
        return lines
    fx.rewrite(path, apply)


@needs_libs
class PlotRunErrorTest(TempCase):
    """Bad run folders: one line on stderr, non-zero status, no PNG."""

    def test_bad_folders(self):
        def missing(d):
            return os.path.join(d, "nothing-here")

        def without(name):
            return lambda d: os.remove(os.path.join(d, name))

        def on(name, f, *args):
            return lambda d: f(os.path.join(d, name), *args)

        def data_of_another_grid(d):
            other = os.path.join(d, "other")
            fx.write_run(other, params={"m": 19})
            os.replace(os.path.join(other, "data"), os.path.join(d, "data"))

        def table_cut(d):
            fx.rewrite(os.path.join(d, "result"),
                       lambda lines: lines[:[k for k, s in enumerate(lines) if len(s) == 100][1]])

        def drop_param(d):
            fx.rewrite(os.path.join(d, "result"),
                       lambda lines: [s for s in lines if not s.startswith(" r = ")])

        cases = [
            ("missing folder", missing, "no such folder"),
            ("a file, not a folder", lambda d: os.path.join(d, "result"), "not a folder"),
            ("no result but step", without("result"), "has step but no result"),
            ("no data", without("data"), "data: no such file"),
            ("empty result", on("result", lambda p: open(p, "w").close()), "empty file"),
            ("data one record short", on("data", drop_last), "120 records, not (m+2)^2"),
            ("data last record cut", on("data", cut_last, 50),
             "line 121: record has 50 characters, expected 92"),
            ("data garbled", on("data", fx.rewrite,
                                lambda ls: ls[:7] + [ls[7][:30] + "x" + ls[7][31:]] + ls[8:]),
             "line 8: cannot read a number from columns 25-44"),
            ("data of another grid", data_of_another_grid, "m = 19, but"),
            ("short table row", on("result", edit_row, 2, lambda s: s[:57]),
             "statistics row has 57 characters, expected 100"),
            ("letters in a count", on("result", edit_row, 2, lambda s: s[:41] + "  abc" + s[46:]),
             "cannot read iter_psi from columns 42-46 'abc'"),
            ("text where blanks belong", on("result", edit_row, 1, lambda s: s[:54] + "x" + s[55:]),
             "columns 54-57, which hold blanks"),
            ("rows out of order", on("result", edit_row, 2, lambda s: "  5" + s[3:]),
             "row of pass 5 where pass 2 belongs"),
            ("result cut in the table", table_cut, "ends inside the statistics table after 1 rows"),
            ("result cut in the grid dump", on("result", drop_last),
             "grid dump has 120 records, expected (m+2)^2 = 121"),
            ("parameter lost", drop_param, "parameter block lacks r"),
        ]
        for label, setup, text in cases:
            with self.subTest(label):
                folder = os.path.join(self.tmp, label.replace(" ", "-"))
                fx.write_run(folder)
                target = setup(folder) or folder
                proc = tool("plot-run", target, "--dpi", 20)
                self.assertOneLineError(proc, "plot-run", text)
                self.assertEqual(pngs(folder), [])


@needs_libs
class PlotRunTest(TempCase):
    @classmethod
    def setUpClass(cls):
        cls._runs = tempfile.TemporaryDirectory(prefix="ladyzh-tools-runs-")
        cls.test_problem = solve(os.path.join(cls._runs.name, "test"), m="19")
        cls.constant = solve(os.path.join(cls._runs.name, "constant"), m="9", iproblem="1",
                             Re="10.0", eps1="0.001", Q="4.0", tol_inner="1.0E-08",
                             tol_outer="1.0E-09")

    @classmethod
    def tearDownClass(cls):
        cls._runs.cleanup()

    def check_png(self, path, width, height):
        self.assertEqual(fx.png_size(path), (width, height), path)
        image = matplotlib.image.imread(path)
        self.assertEqual(image.shape[:2], (height, width))
        # A drawn plot, not an empty canvas: many distinct colours.
        colours = np.unique(image.reshape(-1, image.shape[2]), axis=0)
        self.assertGreater(len(colours), 50, path)

    def test_test_problem_fields_exact_error_and_history(self):
        out = os.path.join(self.tmp, "png")
        proc = tool("plot-run", self.test_problem, "-o", out, "--dpi", 50)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        names = ["convergence.png", "omega-error.png", "omega-exact.png", "omega.png",
                 "psi-error.png", "psi-exact.png", "psi.png"]
        self.assertEqual(pngs(out), names)
        self.assertEqual(sorted(os.path.basename(p) for p in proc.stdout.split()), names)
        for name in names:
            size = (400, 300) if name == "convergence.png" else (300, 250)
            self.check_png(os.path.join(out, name), *size)
        self.assertEqual(pngs(self.test_problem), [])

    def test_constant_forcing_has_no_exact_plots_and_writes_into_the_run_folder(self):
        proc = tool("plot-run", self.constant, "--dpi", 40)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(pngs(self.constant), ["convergence.png", "omega.png", "psi.png"])
        self.check_png(os.path.join(self.constant, "psi.png"), 240, 200)
        self.check_png(os.path.join(self.constant, "convergence.png"), 320, 240)

    def test_unusual_histories_still_plot(self):
        cases = {
            "asterisks and failed solves": dict(iconv=0, rows=[
                fx.table_row(1, 0.0, 0.25, 1, 120),
                fx.table_row(2, 0.5, 3.0, 100000, 4, succ_psi=0),
                fx.table_row(3, 2e-9, -1.0, 3, 1000, succ_omega=0)]),
            "stop after the psi half": dict(iconv=1, rows=[
                fx.table_row(1, 0.0, 1e-11, 1, 190),
                fx.table_row(2, 0.0, 0.0, 170, 0, succ_omega=0)]),
            "no passes": dict(iconv=0, rows=[]),
            "constant zero fields": dict(psi=lambda *a: 0.0, omega=lambda *a: 0.0),
        }
        for label, kwargs in cases.items():
            with self.subTest(label):
                folder = os.path.join(self.tmp, label.replace(" ", "-"))
                fx.write_run(folder, **kwargs)
                proc = tool("plot-run", folder, "--dpi", 30)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.assertEqual(fx.png_size(os.path.join(folder, "convergence.png")), (240, 180))
                self.assertEqual(len(pngs(folder)), 7)


TABLE_ROW = re.compile(r"^\s*(\d+)\s+(\S+)\s+(\d+)\s+(\S+)" + r"\s+(\S+)\s+(\S+)" * 4 + r"\s*$")


def table_rows(stdout):
    """The grid rows of refine's table: dicts of m, h, passes, inner, errors, orders."""
    rows = []
    for line in stdout.splitlines():
        match = TABLE_ROW.match(line)
        if match:
            g = match.groups()
            rows.append({"m": int(g[0]), "h": float(g[1]), "passes": int(g[2]),
                         "inner": int(g[3]), "errors": [float(v) for v in g[4::2]],
                         "orders": [math.nan if v == "-" else float(v) for v in g[5::2]]})
    return rows


def errors_from_data(folder, m):
    """Max and L2 errors of psi and omega over the interior, read with numpy."""
    d = np.loadtxt(os.path.join(folder, "data")).reshape(m + 2, m + 2, 4)[1:-1, 1:-1]
    h = 1.0 / (m + 1)
    out = []
    for computed, exact in ((0, 2), (1, 3)):
        e = d[:, :, computed] - d[:, :, exact]
        out += [np.abs(e).max(), h * np.sqrt((e * e).sum())]
    return out


@needs_libs
class RefineTest(TempCase):
    def test_linear_test_problem_is_second_order(self):
        params = os.path.join(self.tmp, "linear.dat")
        write_params(params, dict(LINEAR, m="5", L="3.0", iproblem="1"))
        work = os.path.join(self.tmp, "work")
        plot = os.path.join(self.tmp, "refine.png")
        proc = tool("refine", "--exe", EXE, "--params", params, "--grids", "9,19,39",
                    "--work", work, "--plot", plot, "--dpi", 40)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        rows = table_rows(proc.stdout)
        self.assertEqual([r["m"] for r in rows], [9, 19, 39])
        for row in rows:
            folder = os.path.join(work, f"m{row['m']:04d}")
            self.assertEqual(lf.read_para_dat(os.path.join(folder, "para.dat")),
                             dict(LINEAR, m=str(row["m"])))
            self.assertAlmostEqual(row["h"], 1.0 / (row["m"] + 1), places=12)
            for got, want in zip(row["errors"], errors_from_data(folder, row["m"])):
                self.assertAlmostEqual(got / want, 1.0, places=3)
            with open(os.path.join(folder, "result")) as f:
                stat = [s for s in f.read().splitlines() if len(s) == 100]
            self.assertEqual(row["passes"], len(stat))
            self.assertEqual(row["inner"], sum(int(s[41:46]) + int(s[48:53]) for s in stat))
        for row in rows[1:]:
            for order in row["orders"]:
                self.assertAlmostEqual(order, 2.0, delta=0.05)
        self.assertEqual(fx.png_size(plot), (240, 200))

    def test_known_errors_from_a_stand_in_program(self):
        # fake_ladyzh.py adds c*h^2 at every interior node: max error c*h^2,
        # discrete L2 error c*h^2 * m*h. From m = 19 to 59 h shrinks threefold.
        work = os.path.join(self.tmp, "work")
        proc = tool("refine", "--exe", FAKE, "--grids", "9, 19,59", "--work", work,
                    "--set", "Re=0", "--set", "tol_inner=1e-11")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        rows = table_rows(proc.stdout)
        # Its three passes: 1 + 10m inner iterations, 10m + 1, 1 + 1.
        self.assertEqual([(r["m"], r["passes"], r["inner"]) for r in rows],
                         [(m, 3, 20 * m + 4) for m in (9, 19, 59)])
        for row in rows:
            m = row["m"]
            h = 1.0 / (m + 1)
            for got, c in zip(row["errors"], (1e-2, 1e-2 * m * h, 3e-1, 3e-1 * m * h)):
                self.assertAlmostEqual(got / (c * h * h), 1.0, places=3)
        for row, (coarse, fine) in zip(rows[1:], ((9, 19), (19, 59))):
            ratio = (fine + 1) / (coarse + 1)
            l2 = math.log(ratio ** 2 * (coarse / (coarse + 1)) / (fine / (fine + 1)), ratio)
            self.assertEqual(row["orders"], [2.0, round(l2, 2), 2.0, round(l2, 2)])
        values = lf.read_para_dat(os.path.join(work, "m0019", "para.dat"))
        self.assertEqual((values["Re"], values["tol_inner"], values["L"], values["iproblem"],
                          values["Q"]), ("0", "1e-11", "1.0", "2", "4.0"))

    def test_errors(self):
        taken = os.path.join(self.tmp, "taken")
        os.makedirs(os.path.join(taken, "m0009"))
        cases = [
            (["--exe", os.path.join(self.tmp, "none")], {}, "no such program"),
            (["--exe", FAKE, "--grids", "9,19"], {"FAKE_FAIL_M": "19"},
             "m = 19: ladyzh ended with status 1: ladyzh: para.dat, line 4: cannot use m"),
            (["--exe", FAKE, "--set", "L=2"], {}, "the test problem fixes L = 1.0"),
            (["--exe", FAKE, "--set", "iproblem=1"], {}, "fixes iproblem = 2"),
            (["--exe", FAKE, "--set", "Reynolds=1"], {}, "expected NAME=VALUE"),
            (["--exe", FAKE, "--set", "Re=abc"], {}, "'abc' is not a number"),
            (["--exe", FAKE, "--set", "imax=2.5"], {}, "'2.5' is not an integer"),
            (["--exe", FAKE, "--grids", "9,20"], {}, "m = 20: every m must be odd"),
            (["--exe", FAKE, "--grids", "19,9"], {}, "from coarse to fine"),
            (["--exe", FAKE, "--work", taken], {}, "m0009: exists already"),
            (["--exe", FAKE, "--params", os.path.join(self.tmp, "no.dat")], {}, "no such file"),
        ]
        for args, env, text in cases:
            with self.subTest(" ".join(args)):
                if "--work" not in args:
                    args = args + ["--work", tempfile.mkdtemp(dir=self.tmp)]
                self.assertOneLineError(tool("refine", *args, env=env), "refine", text)


if __name__ == "__main__":
    unittest.main()


class BenchTableTest(TempCase):
    """tools/bench-table on results written by hand: every repetition counts,
    aggregates and other benchmarks do not, ratios from the best times and the
    medians."""

    @staticmethod
    def entry(name, ns, bytes_per_point=None, run_type="iteration"):
        b = {"name": name + "/real_time", "run_type": run_type, "ns_per_point": ns}
        if bytes_per_point is not None:
            b["bytes_per_point"] = bytes_per_point
        return b

    def write(self, benchmarks):
        path = os.path.join(self.tmp, "results.json")
        with open(path, "w") as f:
            json.dump({"context": {}, "benchmarks": benchmarks}, f)
        return path

    def test_table_and_ratios(self):
        e = self.entry
        path = self.write(
            [e("BM_Literal/m:511/threads:1", v) for v in (12.0, 10.0, 11.0)]
            + [e("BM_Fused/m:511/threads:1", v, 56) for v in (4.0, 5.0, 3.0)]
            + [e("BM_Fused/m:511/threads:2", v, 56) for v in (2.0, 1.5, 2.5)]
            + [e("BM_Triad/m:511/threads:1", v, 56) for v in (1.0, 0.8, 1.2)]
            + [e("BM_FusedUniform/m:511/threads:1", v, 24) for v in (2.0, 3.0, 2.5)]
            # Neither an aggregate nor another benchmark enters the figures.
            + [e("BM_Fused/m:511/threads:1_mean", 0.1, 56, run_type="aggregate"),
               e("BM_Other/m:511/threads:1", 0.1)])
        proc = tool("bench-table", "--json", path)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        out = proc.stdout
        self.assertIn("3 repetitions from results.json", out)
        # A column with no repetitions (uniform couplings, 2 threads) is left out.
        self.assertIn("| 511 | 10.00 (11.00) | 3.00 (4.00) | 1.50 (2.00) | 2.00 (2.50) |"
                      " 0.80 (1.00) |", out)
        # 10/3 and 11/4; 3/1.5 and 4/2; (56/3)/(56/0.8) and (56/4)/(56/1).
        self.assertIn("production vs literal, 1 thread, m = 511: 3.33x (2.75x)", out)
        # 10/2 and 11/2.5.
        self.assertIn("uniform couplings vs literal, 1 thread, m = 511: 5.00x (4.40x)", out)
        self.assertIn("production, 2 threads vs 1, m = 511: 2.00x (2.00x)", out)
        self.assertIn("share of the triad's, 1 thread, m = 511: 27% (25%)", out)
        # No triad on two threads: no share for them.
        self.assertNotIn("2 threads, m = 511: ", out.split("2 threads vs 1")[1])

    def test_errors(self):
        empty = self.write(
            [self.entry("BM_Fused/m:511/threads:1_mean", 1.0, 56, "aggregate")])
        broken = os.path.join(self.tmp, "broken.json")
        with open(broken, "w") as f:
            f.write("{ not json")
        cases = [
            (["--json", empty],
             "holds no repetitions of BM_Literal, BM_Fused, BM_FusedUniform or BM_Triad"),
            (["--json", broken], "is not a benchmark JSON file"),
            (["--json", os.path.join(self.tmp, "absent.json")], "cannot read"),
            (["-n", "0"], "-n must be at least 1, not 0"),
            ([os.path.join(self.tmp, "no-bench")], "cannot run the benchmark"),
        ]
        for args, text in cases:
            with self.subTest(args=args):
                self.assertOneLineError(tool("bench-table", *args), "bench-table", text)
