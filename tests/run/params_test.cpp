// Reading para.dat: the layouts a parameter file may have, the number forms of
// both types, and the error for every kind of bad input; then the parameters
// the solver rejects.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <future>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "run/driver.hpp"
#include "run/error.hpp"
#include "support/support.hpp"

namespace ladyzh {
namespace {

using test::InDir;
using test::TempDir;
using test::write_file;

// A valid file of bare values and what it holds.
const std::vector<std::string> base_lines = {"100", "0.5", "3.0",     "9",       "1.0", "0.7",
                                             "10",  "200", "1.0E-08", "1.0E-10", "2"};

RunParams base_values() {
  RunParams p;
  p.Re = 100.0;
  p.eps1 = 0.5;
  p.Q = 3.0;
  p.m = 9;
  p.L = 1.0;
  p.r = 0.7;
  p.imax = 10;
  p.imax_in = 200;
  p.tol_outer = 1.0e-08;
  p.tol_inner = 1.0e-10;
  p.iproblem = 2;
  return p;
}

std::string join(const std::vector<std::string>& lines, const std::string& end = "\n") {
  std::string text;
  for (const auto& l : lines) text += l + end;
  return text;
}

// The base file with line n (1-based) replaced.
std::string with_line(int n, const std::string& line) {
  std::vector<std::string> lines = base_lines;
  lines[n - 1] = line;
  return join(lines);
}

RunParams read_text(const std::string& text) {
  TempDir dir;
  write_file(dir / "para.dat", text);
  InDir in(dir.path());
  return read_params("para.dat");
}

std::string error_of(const std::string& text) {
  try {
    read_text(text);
  } catch (const RunError& e) {
    return e.what();
  }
  return "(no error)";
}

void expect_params(const RunParams& got, const RunParams& want) {
  EXPECT_EQ(got.Re, want.Re);
  EXPECT_EQ(got.eps1, want.eps1);
  EXPECT_EQ(got.Q, want.Q);
  EXPECT_EQ(got.m, want.m);
  EXPECT_EQ(got.L, want.L);
  EXPECT_EQ(got.r, want.r);
  EXPECT_EQ(got.imax, want.imax);
  EXPECT_EQ(got.imax_in, want.imax_in);
  EXPECT_EQ(got.tol_outer, want.tol_outer);
  EXPECT_EQ(got.tol_inner, want.tol_inner);
  EXPECT_EQ(got.iproblem, want.iproblem);
}

TEST(ReadParams, LayoutsThatReadLikeBareValues) {
  const std::string garbage = std::string("\xff\xfe", 2) + std::string(1, '\0') + "%%\n" +
                              "abc def\n\n1e999\n" + std::string(5000, 'x');
  struct Case {
    const char* what;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"bare values", join(base_lines)},
      {"names after a blank",
       "100 Re\n0.5 eps1\n3.0 Q\n9 m\n1.0 L\n0.7 r\n10 imax\n200 imax_in\n1.0E-08 tol_outer\n"
       "1.0E-10 tol_inner\n2 iproblem\n"},
      {"comments after tabs and several blanks",
       "100\t! Reynolds number\n0.5    weight\n3.0\t\tQ\n9 \t m\n1.0 L\n0.7 r\n10 imax\n"
       "200 imax_in\n1.0E-08 tol\n1.0E-10 tol\n2\tproblem 2 = known solution\n"},
      {"blanks and tabs before the values",
       "  100\n\t0.5\n \t 3.0\n9\n     1.0\n0.7\n10\n200\n\t1.0E-08\n1.0E-10\n   2\n"},
      {"blank lines before and between",
       "\n   \n\t\n100\n\n0.5\n \r\n3.0\n9\n\n\n\n1.0\n0.7\n10\n200\n1.0E-08\n\t \n1.0E-10\n\n2\n"},
      {"CRLF line ends", join(base_lines, "\r\n")},
      {"CRLF with names and a blank CRLF line",
       "100 Re\r\n\r\n0.5 eps1\r\n3.0\r\n9\r\n1.0\r\n0.7\r\n10\r\n200\r\n1.0E-08\r\n1.0E-10\r\n2 "
       "iproblem\r\n"},
      {"commas end the value",
       "100,Re\n0.5,\n3.0, 7.0\n9,11\n1.0 ,2\n0.7\n10,\n200\n1.0E-08,1\n1.0E-10\n2,3\n"},
      {"a second value on a line is never used",
       "100 0.25\n0.5 4.0\n3.0 17\n9 5.5\n1.0 0.7\n0.7 99\n10 200\n200 1e-3\n1.0E-08 1e-9\n"
       "1.0E-10 1\n2 3\n"},
      {"no line end after the eleventh value",
       join(base_lines).substr(0, join(base_lines).size() - 1)},
      {"twelfth and later lines ignored, even garbage", join(base_lines) + garbage},
      {"garbage right after the eleventh value on its line",
       join({base_lines.begin(), base_lines.begin() + 10}) + "2 " + garbage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    expect_params(read_text(c.text), base_values());
  }
}

TEST(ReadParams, RealForms) {
  const double tie_up = std::nextafter(1.0, 2.0);    // 1 + 2^-52
  const double above_03 = std::nextafter(0.3, 1.0);  // the double after 0.3
  struct Case {
    const char* text;
    double value;
  };
  const std::vector<Case> cases = {
      {"100", 100.0},
      {"1.0D-08", 1e-8},
      {"1d-8", 1e-8},
      {"1.0e-08", 1e-8},
      {"1E-8", 1e-8},
      {"2.5E+3", 2500.0},
      {"-0.5", -0.5},
      {"+3", 3.0},
      {".5", 0.5},
      {"5.", 5.0},
      {"-5.D0", -5.0},
      {"+.5e+1", 5.0},
      {"00012.5000", 12.5},
      {"1,0", 1.0},
      {"0.1", 0.1},
      {"0.7", 0.7},
      // 20 significant digits on either side of the midpoint of 0.3 and the next double.
      {"0.30000000000000001665", 0.3},
      {"0.30000000000000001666", above_03},
      // 1 + 2^-53 exactly is a tie, which goes to the even 1; a digit more goes up.
      {"1.00000000000000011102230246251565404236316680908203125", 1.0},
      {"1.00000000000000011102230246251565404236316680908203126", tie_up},
      {"9007199254740993", 9007199254740992.0},  // 2^53 + 1: a tie, to even
      {"9007199254740993.0000000001", 9007199254740994.0},
      {"1.7976931348623158e308", std::numeric_limits<double>::max()},  // below the midpoint
      {"4.9406564584124654E-324", std::numeric_limits<double>::denorm_min()},
      {"2.2250738585072014d-308", std::numeric_limits<double>::min()},
      {"1e-400", 0.0},
      {"1e-99999999999999999999", 0.0},
      {"0e999999", 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    RunParams want = base_values();
    want.Q = c.value;
    expect_params(read_text(with_line(3, c.text)), want);
  }
  EXPECT_TRUE(std::signbit(read_text(with_line(3, "-1e-400")).Q));
}

TEST(ReadParams, IntegerForms) {
  struct Case {
    const char* text;
    std::int32_t value;
  };
  const std::vector<Case> cases = {
      {"9", 9},
      {"+3", 3},
      {"-7", -7},
      {"-0", 0},
      {"007", 7},
      {"11,", 11},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    RunParams want = base_values();
    want.m = c.value;
    expect_params(read_text(with_line(4, c.text)), want);
  }
}

TEST(ReadParams, ErrorsNameTheFileLineParameterAndText) {
  struct Case {
    std::string text;
    const char* message;
  };
  const std::vector<Case> cases = {
      {with_line(1, "abc"), "para.dat, line 1: cannot read Re (a real) from 'abc'"},
      {with_line(4, "1.5"), "para.dat, line 4: cannot read m (an integer) from '1.5'"},
      {with_line(4, "7e0 m"), "para.dat, line 4: cannot read m (an integer) from '7e0'"},
      {with_line(7, "2147483648"),
       "para.dat, line 7: cannot read imax (an integer) from '2147483648': outside the 32-bit "
       "integer range"},
      {with_line(8, "-2147483649"),
       "para.dat, line 8: cannot read imax_in (an integer) from '-2147483649': outside the 32-bit "
       "integer range"},
      {with_line(11, "+"), "para.dat, line 11: cannot read iproblem (an integer) from '+'"},
      {with_line(11, "0x10"), "para.dat, line 11: cannot read iproblem (an integer) from '0x10'"},
      {with_line(5, "1e999"),
       "para.dat, line 5: cannot read L (a real) from '1e999': too large for a double"},
      {with_line(6, "-1.7976931348623159e308"),
       "para.dat, line 6: cannot read r (a real) from '-1.7976931348623159e308': too large for a "
       "double"},
      {with_line(3, "1.0E"), "para.dat, line 3: cannot read Q (a real) from '1.0E'"},
      {with_line(3, "1.0e+"), "para.dat, line 3: cannot read Q (a real) from '1.0e+'"},
      {with_line(3, "."), "para.dat, line 3: cannot read Q (a real) from '.'"},
      {with_line(3, "-"), "para.dat, line 3: cannot read Q (a real) from '-'"},
      {with_line(3, "1.2.3"), "para.dat, line 3: cannot read Q (a real) from '1.2.3'"},
      {with_line(3, "nan"), "para.dat, line 3: cannot read Q (a real) from 'nan'"},
      {with_line(3, "inf"), "para.dat, line 3: cannot read Q (a real) from 'inf'"},
      {with_line(3, "0x1p3"), "para.dat, line 3: cannot read Q (a real) from '0x1p3'"},
      {with_line(9, "1.0Q-08"), "para.dat, line 9: cannot read tol_outer (a real) from '1.0Q-08'"},
      {with_line(9, "1.0E-0.8"),
       "para.dat, line 9: cannot read tol_outer (a real) from '1.0E-0.8'"},
      {with_line(4, std::string("9\x01", 2)),
       "para.dat, line 4: cannot read m (an integer) from '9\\x01'"},
      {with_line(2, ","), "para.dat, line 2: no value for eps1 (a real) before the comma"},
      {with_line(10, "  ,1e-10"),
       "para.dat, line 10: no value for tol_inner (a real) before the comma"},
      // Blank lines count in the line numbers.
      {"\n \n" + with_line(4, "nine"), "para.dat, line 6: cannot read m (an integer) from 'nine'"},
      {"", "para.dat: end of file before the value of Re (value 1 of 11)"},
      {"  \n\n", "para.dat: end of file before the value of Re (value 1 of 11)"},
      {join({base_lines.begin(), base_lines.begin() + 9}) + "\n \n",
       "para.dat: end of file before the value of tol_inner (value 10 of 11)"},
      {join({base_lines.begin(), base_lines.begin() + 10}),
       "para.dat: end of file before the value of iproblem (value 11 of 11)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(error_of(c.text), c.message);
  }
}

TEST(ReadParams, FileThatCannotBeOpenedOrRead) {
  TempDir dir;
  InDir in(dir.path());
  try {
    read_params("para.dat");
    ADD_FAILURE() << "no error for a missing file";
  } catch (const RunError& e) {
    EXPECT_STREQ(e.what(), "cannot open parameter file 'para.dat': No such file or directory");
  }
  ASSERT_EQ(mkdir("para.dat", 0700), 0);
  try {
    read_params("para.dat");
    ADD_FAILURE() << "no error for a folder";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find("'para.dat'"), std::string::npos) << e.what();
  }
}

// Read from a pipe whose writer stays open after the eleventh line: a reader
// that looked further would wait until the writer gives up.
TEST(ReadParams, NeverReadsBeyondTheEleventhValue) {
  TempDir dir;
  const std::string fifo = (dir / "para.dat").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::promise<void> reader_done;
  std::future<void> done = reader_done.get_future();
  std::thread writer([&] {
    const int fd = open(fifo.c_str(), O_WRONLY);
    if (fd < 0) return;
    const std::string text = join(base_lines);
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      ADD_FAILURE() << "write to the pipe failed";
    }
    done.wait_for(std::chrono::seconds(20));
    close(fd);
  });
  InDir in(dir.path());
  const auto start = std::chrono::steady_clock::now();
  RunParams p;
  try {
    p = read_params("para.dat");
  } catch (const RunError& e) {
    ADD_FAILURE() << e.what();
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  reader_done.set_value();
  writer.join();
  EXPECT_LT(elapsed, std::chrono::seconds(10));
  expect_params(p, base_values());
}

TEST(CheckParams, RejectsEvenOrSmallMAndImaxBelowOne) {
  struct Case {
    std::int32_t m, imax;
    const char* message;  // empty: accepted
  };
  const char* const odd_m = " cannot be solved: m must be odd and at least 3";
  const char* const imax_rule = " cannot be run: imax must be at least 1";
  const std::vector<Case> cases = {
      {3, 1, ""},           {9, 10, ""},        {2047, 1, ""},      {2147483647, 1, ""},
      {1, 1, "m = 1"},      {2, 1, "m = 2"},    {4, 10, "m = 4"},   {0, 10, "m = 0"},
      {-1, 10, "m = -1"},   {-3, 10, "m = -3"}, {10, 10, "m = 10"}, {9, 0, "imax = 0"},
      {9, -5, "imax = -5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.m) + " " + std::to_string(c.imax));
    RunParams p = base_values();
    p.m = c.m;
    p.imax = c.imax;
    std::string got;
    try {
      check_params(p);
    } catch (const RunError& e) {
      got = e.what();
    }
    if (std::string(c.message).empty()) {
      EXPECT_EQ(got, "");
    } else {
      const std::string rule = std::string(c.message).rfind("m =", 0) == 0 ? odd_m : imax_rule;
      EXPECT_EQ(got.rfind(std::string(c.message) + rule, 0), 0u) << got;
    }
  }
  // Nothing else is checked: odd m, imax >= 1 and any other values pass.
  RunParams p = base_values();
  p.Re = -1.0;
  p.L = 0.0;
  p.r = -1.0;
  p.imax_in = -1;
  p.tol_outer = -1.0;
  p.iproblem = 7;
  EXPECT_NO_THROW(check_params(p));
}

}  // namespace
}  // namespace ladyzh
