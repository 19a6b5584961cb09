"""Readers for the files of a ladyzh run: `result`, `data`, `step` and `para.dat`.

The program writes its reports as fixed records:

- `data`: (m+2)^2 records of four e20.10 fields (columns 1-20, 25-44, 49-68,
  73-92): computed psi, computed omega, exact psi, exact omega at node (i, j),
  i = 0..m+1 outer, j = 0..m+1 inner; node (i, j) lies at (i*h, j*h),
  h = L/(m+1).
- `result`: the run header with the parameter block ("Re = " 10.0, ...), the
  problem lines, the outcome line, the statistics table of every pass (rows of
  100 characters, format (I3,2x,E7.2,2x,E7.2,F9.4,F9.4,2x,I5,2x,I5,4x,I1,5x,I1,
  2x,E7.2,2x,E7.2,2x,E7.2,2x,E7.2)), the samples and a dump of both fields at
  every node.
- `step`: one section per outer pass, each with the statistics table up to
  that pass.

A field too wide for its format is written as asterisks; such a field reads
as NaN here, and `StatTable.overflow` tells which ones they were.

Every failure to read a file raises RunFileError with a one-line message that
names the file, and the line where that helps.
"""

import math
import os
import re

import numpy as np

PARAM_NAMES = ("Re", "eps1", "Q", "m", "L", "r", "imax", "imax_in", "tol_outer", "tol_inner")
INT_PARAMS = ("m", "imax", "imax_in")
# The eleven values of para.dat in file order.
PARA_DAT_NAMES = PARAM_NAMES + ("iproblem",)

HYPHENS_49 = "-" * 49
TABLE_HEAD = (
    " k    psi      omega     psi     omega   #iter   #iter  psi   w    all deltas",
    "     error     error   cputime  cputime psi-stp  w-stp  succ succ  2psi , 2w",
    "---  -----     -----   -------  ------- -------  -----  --    --   ----------",
)
PROBLEM_LINES = {
    "we solve the problem with constant rhs c=1": 1,
    "we solve the problem with known solution": 2,
}
OUTCOME_LINES = {
    "***successful convergence with half outer iteration*": 1,
    "***successful convergence with full outer iteration*": 2,
    "******No convergence*****": 0,
}
DUMP_HEAD = "    streamfunction            vorticity "

ROW_WIDTH = 100
# Value fields of a statistics row: (name, first column, last column), 1-based.
ROW_FIELDS = (
    ("pass", 1, 3),
    ("err_psi", 6, 12),
    ("err_omega", 15, 21),
    ("cpu_psi", 22, 30),
    ("cpu_omega", 31, 39),
    ("iter_psi", 42, 46),
    ("iter_omega", 49, 53),
    ("succ_psi", 58, 58),
    ("succ_omega", 64, 64),
    ("delta1", 67, 73),
    ("delta2", 76, 82),
    ("delta3", 85, 91),
    ("delta4", 94, 100),
)
ROW_INT_FIELDS = ("pass", "iter_psi", "iter_omega", "succ_psi", "succ_omega")
ROW_BLANKS = ((4, 5), (13, 14), (40, 41), (47, 48), (54, 57), (59, 63), (65, 66), (74, 75),
              (83, 84), (92, 93))

DATA_WIDTH = 92
DATA_FIELDS = ((0, 20), (24, 44), (48, 68), (72, 92))
DATA_BLANKS = ((20, 24), (44, 48), (68, 72))


class RunFileError(Exception):
    """A run folder or one of its files cannot be read; the message is one line."""


# --- numbers ----------------------------------------------------------------

_INT_RE = re.compile(r"[+-]?\d+\Z")
_REAL_RE = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([EeDd]?[+-]?\d+)?\Z")
_NON_FINITE = {"nan": math.nan, "inf": math.inf, "+inf": math.inf, "-inf": -math.inf,
            "infinity": math.inf, "+infinity": math.inf, "-infinity": -math.inf}


def parse_real(text):
    """Reads a real in the forms the reports use: .12E-02, -.1500000000E+01,
    .12-100 (exponent above 99 without its letter), 1.5d-3, 10.0, 1e-08, NaN,
    Infinity, Inf. Returns None for anything else."""
    t = text.strip()
    non_finite = _NON_FINITE.get(t.lower())
    if non_finite is not None:
        return non_finite
    if not _REAL_RE.match(t):
        return None
    t = t.replace("D", "E").replace("d", "E")
    if "E" not in t and "e" not in t:
        # A three-digit exponent is written without its letter: .12-100.
        t = re.sub(r"(?<=[\d.])([+-]\d+)\Z", r"E\1", t)
    try:
        return float(t)
    except ValueError:
        return None


def parse_int(text):
    t = text.strip()
    return int(t) if _INT_RE.match(t) else None


def _is_overflow(field):
    return len(field) > 0 and set(field) == {"*"}


# --- helpers ----------------------------------------------------------------


def _read_lines(path, what):
    if not os.path.exists(path):
        raise RunFileError(f"{path}: no such file ({what})")
    if not os.path.isfile(path):
        raise RunFileError(f"{path}: not a file ({what})")
    try:
        with open(path, "r", encoding="ascii", errors="replace", newline="") as f:
            text = f.read()
    except OSError as e:
        raise RunFileError(f"{path}: cannot read: {e.strerror}") from None
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return [line[:-1] if line.endswith("\r") else line for line in lines]


def _free_items(line):
    """The content of a free-format record: the line without its leading blank."""
    return line[1:] if line.startswith(" ") else line


# --- result -----------------------------------------------------------------


class StatTable:
    """The statistics table: one entry per pass, columns as ROW_FIELDS.

    Each column is a numpy float array (NaN where the field was asterisks);
    `overflow[name]` is a bool array marking those fields."""

    def __init__(self, rows, overflow):
        self.rows = len(rows)
        self.columns = {}
        self.overflow = {}
        for index, (name, _, _) in enumerate(ROW_FIELDS):
            self.columns[name] = np.array([r[index] for r in rows], dtype=float)
            self.overflow[name] = np.array([o[index] for o in overflow], dtype=bool)

    def __getitem__(self, name):
        return self.columns[name]

    def __len__(self):
        return self.rows


def parse_stat_row(line, where):
    """Reads one 100-character row of the statistics table; `where` names the
    file and line for the error message."""
    if len(line) != ROW_WIDTH:
        raise RunFileError(
            f"{where}: statistics row has {len(line)} characters, expected {ROW_WIDTH}"
            + (" (file truncated?)" if len(line) < ROW_WIDTH else ""))
    for a, b in ROW_BLANKS:
        if line[a - 1:b].strip():
            raise RunFileError(f"{where}: statistics row has text in columns {a}-{b}, "
                               "which hold blanks: garbled row")
    values, overflow = [], []
    for name, a, b in ROW_FIELDS:
        field = line[a - 1:b]
        if _is_overflow(field):
            values.append(math.nan)
            overflow.append(True)
            continue
        value = parse_int(field) if name in ROW_INT_FIELDS else parse_real(field)
        if value is None:
            raise RunFileError(f"{where}: cannot read {name} from columns {a}-{b} "
                               f"'{field.strip()}' of the statistics row")
        values.append(float(value))
        overflow.append(False)
    return values, overflow


def _find_line(lines, text, start, stop=None):
    stop = len(lines) if stop is None else stop
    for n in range(start, stop):
        if _free_items(lines[n]) == text:
            return n
    return -1


def read_table(lines, start, path):
    """Reads the statistics table whose head begins at or after line index
    `start`. Returns (StatTable, index of the line after the closing line)."""
    head = _find_line(lines, TABLE_HEAD[0], start)
    if head < 0:
        raise RunFileError(f"{path}: no statistics table (file truncated?)")
    for offset, text in enumerate(TABLE_HEAD[1:], start=1):
        n = head + offset
        if n >= len(lines):
            raise RunFileError(f"{path}: file ends inside the statistics table head "
                               "(file truncated?)")
        if _free_items(lines[n]) != text:
            raise RunFileError(f"{path}, line {n + 1}: garbled statistics table head")
    rows, overflow = [], []
    n = head + len(TABLE_HEAD)
    while True:
        if n >= len(lines):
            raise RunFileError(f"{path}: file ends inside the statistics table after "
                               f"{len(rows)} rows (file truncated?)")
        if _free_items(lines[n]) == HYPHENS_49:
            break
        values, over = parse_stat_row(lines[n], f"{path}, line {n + 1}")
        if values[0] != len(rows) + 1:
            raise RunFileError(f"{path}, line {n + 1}: statistics row of pass "
                               f"{values[0]:g} where pass {len(rows) + 1} belongs")
        rows.append(values)
        overflow.append(over)
        n += 1
    return StatTable(rows, overflow), n + 1


def read_param_block(lines, path):
    """The ten run parameters of the run header: a dict name -> int/float."""
    params = {}
    pattern = re.compile(r"\s*(" + "|".join(PARAM_NAMES) + r") = (.*)\Z")
    table_head = _find_line(lines, TABLE_HEAD[0], 0)
    stop = table_head if table_head >= 0 else len(lines)
    for n in range(stop):
        match = pattern.match(_free_items(lines[n]))
        if not match or match.group(1) in params:
            continue
        name, text = match.group(1), match.group(2)
        value = parse_int(text) if name in INT_PARAMS else parse_real(text)
        if value is None:
            raise RunFileError(f"{path}, line {n + 1}: cannot read {name} from '{text.strip()}'")
        params[name] = value
    missing = [name for name in PARAM_NAMES if name not in params]
    if missing:
        raise RunFileError(f"{path}: parameter block lacks {', '.join(missing)} "
                           "(file truncated?)")
    return params


class Result:
    """What `result` tells: params (dict), iproblem (1, 2 or None when the
    report names no problem), iconv (0, 1, 2), the statistics table and the
    number of grid-dump records."""

    def __init__(self, path, params, iproblem, iconv, table):
        self.path = path
        self.params = params
        self.iproblem = iproblem
        self.iconv = iconv
        self.table = table

    @property
    def kconv(self):
        return len(self.table)

    @property
    def converged(self):
        return self.iconv in (1, 2)

    # Columns of the last row that a stop after the streamfunction half leaves
    # unrecorded: the pass ended before its vorticity solve and before its
    # change measures and CPU times were stored.
    HALF_STOP_UNRECORDED = ("err_psi", "err_omega", "cpu_psi", "cpu_omega", "iter_omega",
                            "succ_omega", "delta3", "delta4")

    def recorded(self, name):
        """Bool array over the passes: False where column `name` shows a value
        the run never recorded (last row after a stop in the psi half)."""
        mask = np.ones(len(self.table), dtype=bool)
        if self.iconv == 1 and len(self.table) and name in self.HALF_STOP_UNRECORDED:
            mask[-1] = False
        return mask

    def column(self, name):
        """Column `name` of the table with unrecorded entries set to NaN."""
        return np.where(self.recorded(name), self.table[name], np.nan)


def read_result(path):
    lines = _read_lines(path, "the final report of a run")
    if not lines:
        raise RunFileError(f"{path}: empty file (the run did not finish?)")
    params = read_param_block(lines, path)
    iproblem, iconv = None, None
    table_head = _find_line(lines, TABLE_HEAD[0], 0)
    for n in range(table_head if table_head >= 0 else len(lines)):
        text = _free_items(lines[n])
        if text in PROBLEM_LINES and iproblem is None:
            iproblem = PROBLEM_LINES[text]
        if text in OUTCOME_LINES and iconv is None:
            iconv = OUTCOME_LINES[text]
    if iconv is None:
        raise RunFileError(f"{path}: no outcome line (file truncated?)")
    table, after = read_table(lines, 0, path)
    # The grid dump closes the file: (m+2)^2 records of two e20.10 fields.
    dump = _find_line(lines, DUMP_HEAD, after)
    if dump < 0:
        raise RunFileError(f"{path}: no grid dump (file truncated?)")
    expected = (params["m"] + 2) ** 2
    got = len(lines) - (dump + 2)
    if got != expected:
        raise RunFileError(f"{path}: grid dump has {max(got, 0)} records, expected "
                           f"(m+2)^2 = {expected}"
                           + (" (file truncated?)" if got < expected else ""))
    last = lines[-1]
    if len(last) != 44 or parse_real(last[:20]) is None or parse_real(last[24:]) is None:
        raise RunFileError(f"{path}, line {len(lines)}: garbled grid-dump record (file truncated?)")
    return Result(path, params, iproblem, iconv, table)


# --- data -------------------------------------------------------------------


class Data:
    """The grid listing: m and four (m+2) x (m+2) arrays indexed [i, j]
    (i the x index): psi, omega, psi_exact, omega_exact."""

    def __init__(self, path, m, columns):
        self.path = path
        self.m = m
        self.psi, self.omega, self.psi_exact, self.omega_exact = columns

    def coordinates(self, L):
        """Node coordinates x[i, j] = i*h, y[i, j] = j*h with h = L/(m+1)."""
        h = L / (self.m + 1)
        t = np.arange(self.m + 2) * h
        x, y = np.meshgrid(t, t, indexing="ij")
        return x, y


def read_data(path):
    lines = _read_lines(path, "the grid listing of a run")
    count = len(lines)
    n = math.isqrt(count)
    if count == 0:
        raise RunFileError(f"{path}: empty file (the run did not finish?)")
    if n * n != count or n < 3:
        raise RunFileError(f"{path}: {count} records, not (m+2)^2 for any grid "
                           "(file truncated?)")
    values = np.empty((count, 4))
    for k, line in enumerate(lines):
        if len(line) != DATA_WIDTH:
            raise RunFileError(f"{path}, line {k + 1}: record has {len(line)} characters, "
                               f"expected {DATA_WIDTH}"
                               + (" (file truncated?)" if len(line) < DATA_WIDTH else ""))
        if any(line[a:b].strip() for a, b in DATA_BLANKS):
            raise RunFileError(f"{path}, line {k + 1}: garbled record")
        for c, (a, b) in enumerate(DATA_FIELDS):
            v = parse_real(line[a:b])
            if v is None:
                raise RunFileError(f"{path}, line {k + 1}: cannot read a number from "
                                   f"columns {a + 1}-{b} '{line[a:b].strip()}'")
            values[k, c] = v
    # i outer, j inner: record i*(m+2) + j.
    columns = [values[:, c].reshape(n, n) for c in range(4)]
    return Data(path, n - 2, columns)


# --- step -------------------------------------------------------------------


def read_step(path):
    """The number of sections of `step` and the statistics table of its last one."""
    lines = _read_lines(path, "the step report of a run")
    start, table, sections = 0, None, 0
    while _find_line(lines, TABLE_HEAD[0], start) >= 0:
        table, start = read_table(lines, start, path)
        sections += 1
    if table is None:
        raise RunFileError(f"{path}: no statistics table (file truncated?)")
    return sections, table


# --- a run folder -----------------------------------------------------------


class Run:
    def __init__(self, folder, result, data):
        self.folder = folder
        self.result = result
        self.data = data

    @property
    def params(self):
        return self.result.params

    @property
    def m(self):
        return self.data.m

    @property
    def h(self):
        return self.params["L"] / (self.m + 1)

    def interior_errors(self):
        """Max and discrete-L2 errors of psi and omega against the exact columns
        over the interior nodes 1..m: {'psi': (max, l2), 'omega': (max, l2)};
        l2 = sqrt(h^2 * sum of squared errors)."""
        h = self.h
        out = {}
        for name, computed, exact in (("psi", self.data.psi, self.data.psi_exact),
                                      ("omega", self.data.omega, self.data.omega_exact)):
            e = (computed - exact)[1:-1, 1:-1]
            out[name] = (float(np.max(np.abs(e))), float(math.sqrt(h * h * np.sum(e * e))))
        return out


def load_run(folder):
    """Reads `result` and `data` of a finished run in `folder`."""
    if not os.path.exists(folder):
        raise RunFileError(f"{folder}: no such folder")
    if not os.path.isdir(folder):
        raise RunFileError(f"{folder}: not a folder")
    result_path = os.path.join(folder, "result")
    data_path = os.path.join(folder, "data")
    if not os.path.exists(result_path) and os.path.exists(os.path.join(folder, "step")):
        raise RunFileError(f"{folder}: has step but no result: the run has not finished")
    result = read_result(result_path)
    data = read_data(data_path)
    if data.m != result.params["m"]:
        raise RunFileError(f"{data_path}: {(data.m + 2) ** 2} records are a grid with m = "
                           f"{data.m}, but {result_path} says m = {result.params['m']}")
    return Run(folder, result, data)


# --- para.dat ---------------------------------------------------------------


def read_para_dat(path):
    """The eleven value texts of a parameter file, in file order, read as the
    program reads them: one value per line, blank lines passed over, a value
    ending at the first blank, tab or comma. Returns a dict name -> text."""
    lines = _read_lines(path, "a parameter file")
    values = {}
    names = iter(PARA_DAT_NAMES)
    name = next(names)
    for line in lines:
        token = re.split(r"[ \t,]", line.strip(" \t"), maxsplit=1)[0]
        if not token:
            continue
        values[name] = token
        name = next(names, None)
        if name is None:
            return values
    raise RunFileError(f"{path}: holds {len(values)} values, a parameter file needs 11")


def write_para_dat(path, values):
    """Writes a parameter file: one value per line followed by its name."""
    with open(path, "x", encoding="ascii") as f:
        for name in PARA_DAT_NAMES:
            f.write(f"{values[name]:<12} {name}\n")
