// The final report `result` and the grid listing `data`.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "model/model.hpp"
#include "report/record_file.hpp"
#include "report/report_fixture.hpp"
#include "report/reports.hpp"
#include "run/error.hpp"
#include "support/support.hpp"

namespace ladyzh {
namespace {

namespace fs = std::filesystem;
using test::numbers_of;
using test::split_lines;

const std::string psi_title = " ---------- streamfunction values at  --------------";
const std::string omega_title = " ------------ vorticity values at  -----------------";

struct Reports {
  std::string result;
  std::string data;
};

// Runs printout in a fresh folder and returns both files.
Reports final_report(const RunParams& p, std::int32_t kconv, std::int32_t iconv) {
  test::TempDir dir;
  test::InDir in(dir.path());
  const test::NodeFields f = test::node_fields(p.m);
  const RunStats s = test::report_stats();
  RecordFile data;
  printout(p, f.omega, f.psi, s, kconv, iconv, data);
  EXPECT_TRUE(data.is_open());
  data.close();
  return {test::read_file("result"), test::read_file("data")};
}

// E20.10 of an integer-valued node value v (|v| < 10^10): a point, the digits
// padded with zeros to ten, the exponent as the number of digits.
std::string e20_10(long v) {
  std::string field = ".0000000000E+00";
  if (v != 0) {
    std::string digits = std::to_string(v < 0 ? -v : v);
    const std::string exp = std::to_string(digits.size());
    digits.resize(10, '0');
    field = (v < 0 ? "-." : ".") + digits + "E+" + (exp.size() == 1 ? "0" : "") + exp;
  }
  return std::string(20 - field.size(), ' ') + field;
}

// The exact samples at x, y = 0.1, 0.3 (as 0.1 + 0.2), 0.5, 0.7, 0.9 (as four
// additions of 0.2 to 0.1), row b holding the points (x_1, y_b) .. (x_5, y_b).
// Worked out independently in decimal arithmetic; .794062 against .794063 in
// the third row shows that 0.1 + 0.2 lies above 0.3 (the value at 0.3 is a
// decimal tie, 0.07940625).
const std::vector<std::string> exact_psi = {
    " .962361E-02   .249272E-01   .306563E-01   .249272E-01   .962361E-02",
    " .249272E-01   .645668E-01   .794062E-01   .645668E-01   .249272E-01",
    " .306563E-01   .794062E-01   .976563E-01   .794063E-01   .306563E-01",
    " .249272E-01   .645668E-01   .794063E-01   .645668E-01   .249272E-01",
    " .962361E-02   .249272E-01   .306563E-01   .249272E-01   .962361E-02",
};
const std::vector<std::string> exact_omega = {
    " .211896E+00   .521640E+00   .631800E+00   .521640E+00   .211896E+00",
    " .521640E+00   .128066E+01   .154980E+01   .128066E+01   .521640E+00",
    " .631800E+00   .154980E+01   .187500E+01   .154980E+01   .631800E+00",
    " .521640E+00   .128066E+01   .154980E+01   .128066E+01   .521640E+00",
    " .211896E+00   .521640E+00   .631800E+00   .521640E+00   .211896E+00",
};

std::vector<std::string> expected_result_m9() {
  std::vector<std::string> out = test::header_m9;
  const std::vector<std::string> middle = {
      "   ",
      " we solve the problem with known solution",
      " psi(x,y) = (x^4-2x^2+x)(y^4-2y^2+y)",
      "   ",
      "   ",
      "   ",
      " ***successful convergence with full outer iteration*",
      " -------------------------------------------------",
  };
  out.insert(out.end(), middle.begin(), middle.end());
  out.insert(out.end(), test::table_head.begin(), test::table_head.end());
  out.insert(out.end(), test::table_rows.begin(), test::table_rows.end());
  const std::vector<std::string> samples = {
      " -------------------------------------------------",
      "   ",
      "   ",
      "   ",
      " ---------------------------------------------------",
      " ---------- streamfunction values at  --------------",
      " ------ x=0.1:0.2:0.9 ,  y=0.1:0.2:0.9  ------------",
      " ---------------------------------------------------",
      " .101000E+03   .103000E+03   .105000E+03   .107000E+03   .109000E+03",
      " .301000E+03   .303000E+03   .305000E+03   .307000E+03   .309000E+03",
      " .501000E+03   .503000E+03   .505000E+03   .507000E+03   .509000E+03",
      " .701000E+03   .703000E+03   .705000E+03   .707000E+03   .709000E+03",
      " .901000E+03   .903000E+03   .905000E+03   .907000E+03   .909000E+03",
      " ---------------------------------------------------",
      " ------------ vorticity values at  -----------------",
      " ------ x=0.1:0.2:0.9 ,  y=0.1:0.2:0.9  ------------",
      " ---------------------------------------------------",
      "-.101000E+03  -.103000E+03  -.105000E+03  -.107000E+03  -.109000E+03",
      "-.301000E+03  -.303000E+03  -.305000E+03  -.307000E+03  -.309000E+03",
      "-.501000E+03  -.503000E+03  -.505000E+03  -.507000E+03  -.509000E+03",
      "-.701000E+03  -.703000E+03  -.705000E+03  -.707000E+03  -.709000E+03",
      "-.901000E+03  -.903000E+03  -.905000E+03  -.907000E+03  -.909000E+03",
      " ------------------exact----------------------------",
      " ---------- streamfunction values at  --------------",
      " ------ x=0.1:0.2:0.9 ,  y=0.1:0.2:0.9  ------------",
      " ---------------------------------------------------",
  };
  out.insert(out.end(), samples.begin(), samples.end());
  out.insert(out.end(), exact_psi.begin(), exact_psi.end());
  const std::vector<std::string> exact_head = {
      " -----------------exact-----------------------------",
      " ------------ vorticity values at  -----------------",
      " ------ x=0.1:0.2:0.9 ,  y=0.1:0.2:0.9  ------------",
      " ---------------------------------------------------",
  };
  out.insert(out.end(), exact_head.begin(), exact_head.end());
  out.insert(out.end(), exact_omega.begin(), exact_omega.end());
  const std::vector<std::string> dump_head = {
      " -------------------------------------------------",
      " ",
      "     streamfunction            vorticity ",
      "     ---------------         ---------------       ",
      "     .0000000000E+00         .0000000000E+00",
      "     .1000000000E+01        -.1000000000E+01",
      "     .2000000000E+01        -.2000000000E+01",
  };
  out.insert(out.end(), dump_head.begin(), dump_head.end());
  // The rest of the dump: j outer, i fastest, node value i + 100 j.
  for (int j = 0; j <= 10; ++j) {
    for (int i = j == 0 ? 3 : 0; i <= 10; ++i) {
      out.push_back(e20_10(i + 100 * j) + "    " + e20_10(-(i + 100 * j)));
    }
  }
  return out;
}

TEST(Printout, WholeResultM9) {
  const Reports r = final_report(test::report_params(9), 3, 2);
  const auto lines = split_lines(r.result);
  const auto expected = expected_result_m9();
  ASSERT_EQ(lines.size(), expected.size());
  // 11 x 11 grid nodes, boundary included.
  EXPECT_EQ(lines.size(), 15u + 8u + 3u + 3u + 4u + 4u * 9u + 4u + 121u);
  for (std::size_t k = 0; k < lines.size(); ++k) EXPECT_EQ(lines[k], expected[k]) << "line " << k;
  EXPECT_EQ(r.result.back(), '\n');
  EXPECT_EQ(lines.back(), "     .1010000000E+04        -.1010000000E+04");
  EXPECT_EQ(lines[lines.size() - 11], "     .1000000000E+04        -.1000000000E+04");
}

// The data listing holds every node with j fastest: the computed values and
// the exact ones at coordinates accumulated by adding h.
void check_data(const std::string& text, const RunParams& p) {
  const auto lines = split_lines(text);
  const int n = p.m + 2;
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(n) * n);
  const double h = p.L / (p.m + 1);
  double x = 0.0;
  std::size_t k = 0;
  for (int i = 0; i < n; ++i) {
    double y = 0.0;
    for (int j = 0; j < n; ++j, ++k) {
      const std::string& line = lines[k];
      ASSERT_EQ(line.size(), 92u) << line;
      EXPECT_EQ(line.substr(0, 44), e20_10(i + 100 * j) + "    " + e20_10(-(i + 100 * j)));
      EXPECT_EQ(line.substr(44, 4), "    ");
      EXPECT_EQ(line.substr(68, 4), "    ");
      double psi_e = 0.0;
      double omega_e = 0.0;
      exact(psi_e, omega_e, x, y);
      const auto v = numbers_of(line.substr(48));
      ASSERT_EQ(v.size(), 2u) << line;
      // Ten mantissa digits: within half a unit of the tenth.
      EXPECT_NEAR(v[0], psi_e, 5e-10 * std::fabs(psi_e)) << line;
      EXPECT_NEAR(v[1], omega_e, 5e-10 * std::fabs(omega_e)) << line;
      y += h;
    }
    x += h;
  }
}

TEST(Printout, DataListingJFastestWithAccumulatedCoordinates) {
  const RunParams p = test::report_params(9);
  const Reports r = final_report(p, 3, 2);
  check_data(r.data, p);
  // The last grid line lies at ten additions of 0.1, one unit in the last
  // place below 1: its exact values are tiny but not zero, as they are at 1.
  const auto lines = split_lines(r.data);
  const auto v = numbers_of(lines[10 * 11 + 5].substr(48));
  ASSERT_EQ(v.size(), 2u);
  EXPECT_NE(v[0], 0.0);
  EXPECT_LT(std::fabs(v[0]), 1e-15);
  EXPECT_EQ(lines[5].substr(48), "     .0000000000E+00         .0000000000E+00");
}

// Problem lines by iproblem, outcome line by iconv, table rows up to kconv.
struct Variant {
  std::int32_t iproblem;
  std::int32_t iconv;
  std::int32_t kconv;
  std::vector<std::string> problem;
  std::string outcome;
};

class PrintoutVariant : public ::testing::TestWithParam<Variant> {};

TEST_P(PrintoutVariant, ProblemOutcomeAndTable) {
  const Variant c = GetParam();
  const Reports r = final_report(test::report_params(9, 1.0, c.iproblem), c.kconv, c.iconv);
  const auto lines = split_lines(r.result);
  std::vector<std::string> expected = test::header_m9;
  expected.push_back("   ");
  expected.insert(expected.end(), c.problem.begin(), c.problem.end());
  expected.insert(expected.end(), {"   ", "   ", "   ", c.outcome});
  expected.push_back(" -------------------------------------------------");
  expected.insert(expected.end(), test::table_head.begin(), test::table_head.end());
  expected.insert(expected.end(), test::table_rows.begin(), test::table_rows.begin() + c.kconv);
  expected.push_back(" -------------------------------------------------");
  expected.insert(expected.end(), {"   ", "   ", "   "});
  expected.push_back(" ---------------------------------------------------");
  ASSERT_GE(lines.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) EXPECT_EQ(lines[k], expected[k]) << k;
  EXPECT_EQ(lines[expected.size()], psi_title);
  EXPECT_EQ(lines.size(), expected.size() + 3 + 5 + 3 * 9 + 4 + 121);
}

const std::vector<std::string> constant = {" we solve the problem with constant rhs c=1"};
const std::vector<std::string> known = {" we solve the problem with known solution",
                                        " psi(x,y) = (x^4-2x^2+x)(y^4-2y^2+y)"};
const std::string half = " ***successful convergence with half outer iteration*";
const std::string full = " ***successful convergence with full outer iteration*";
const std::string none = " ******No convergence*****";

INSTANTIATE_TEST_SUITE_P(Cases, PrintoutVariant,
                         ::testing::Values(Variant{1, 1, 2, constant, half},
                                           Variant{2, 2, 3, known, full},
                                           Variant{3, 0, 3, {}, none},
                                           Variant{1, 2, 1, constant, full},
                                           Variant{2, 0, 0, known, none}),
                         [](const auto& info) {
                           const Variant& v = info.param;
                           return "iproblem" + std::to_string(v.iproblem) + "_iconv" +
                                  std::to_string(v.iconv) + "_kconv" + std::to_string(v.kconv);
                         });

// Which nodes the computed sample rows show (the same indices in both
// directions), and the exact blocks, which depend on neither m nor L.
struct Sampling {
  int m;
  double L;
  std::vector<int> idx;
};

class PrintoutSampling : public ::testing::TestWithParam<Sampling> {};

TEST_P(PrintoutSampling, ComputedAtIndicesExactAtFixedPoints) {
  const Sampling c = GetParam();
  const RunParams p = test::report_params(c.m, c.L);
  const Reports r = final_report(p, 3, 2);
  const auto lines = split_lines(r.result);
  for (const std::string& title : {psi_title, omega_title}) {
    const double sign = title == psi_title ? 1.0 : -1.0;
    const auto samples = test::samples_under(lines, title, 0);
    ASSERT_EQ(samples.size(), 5u);
    for (std::size_t row = 0; row < 5; ++row) {
      EXPECT_EQ(samples[row].size(), 68u);
      const auto v = numbers_of(samples[row]);
      ASSERT_EQ(v.size(), 5u) << samples[row];
      for (std::size_t col = 0; col < 5; ++col) {
        EXPECT_EQ(test::node_of(sign * v[col]), std::make_pair(c.idx[col], c.idx[row]))
            << "m = " << c.m << ": " << samples[row];
      }
    }
  }
  EXPECT_EQ(test::samples_under(lines, psi_title, 1), exact_psi);
  EXPECT_EQ(test::samples_under(lines, omega_title, 1), exact_omega);
  const std::size_t nodes = static_cast<std::size_t>(c.m + 2) * (c.m + 2);
  EXPECT_EQ(lines.size(), 15u + 8u + 3u + 3u + 4u + 4u * 9u + 4u + nodes);
  for (std::size_t k = lines.size() - nodes; k < lines.size(); ++k) {
    ASSERT_EQ(lines[k].size(), 44u) << k;
  }
  check_data(r.data, p);
}

INSTANTIATE_TEST_SUITE_P(
    FinalRule, PrintoutSampling,
    ::testing::Values(Sampling{9, 1.0, {1, 3, 5, 7, 9}}, Sampling{19, 1.0, {2, 6, 10, 14, 18}},
                      Sampling{10, 1.0, {1, 3, 5, 7, 9}},
                      // x = 0.2, 0.6, 1.0, 1.4, 1.8 on [0, 2]; the exact samples stay at 0.1..0.9.
                      Sampling{19, 2.0, {2, 6, 10, 14, 18}},
                      // Below m = 9 the step is 1 and indices beyond m are taken at m.
                      Sampling{7, 1.0, {1, 3, 5, 7, 7}}, Sampling{3, 1.0, {1, 3, 3, 3, 3}}),
    [](const auto& info) {
      std::string name = "m";
      name += std::to_string(info.param.m) + "_L" + std::to_string(static_cast<int>(info.param.L));
      return name;
    });

// --- files that exist already, write failures ------------------------------

std::string run_expecting_error(std::int32_t m = 9) {
  const RunParams p = test::report_params(m);
  const test::NodeFields f = test::node_fields(m);
  const RunStats s = test::report_stats();
  RecordFile data;
  try {
    printout(p, f.omega, f.psi, s, 3, 2, data);
  } catch (const RunError& e) {
    return e.what();
  }
  ADD_FAILURE() << "printout did not fail";
  return "";
}

TEST(PrintoutFiles, ExistingResultIsLeftAlone) {
  test::TempDir dir;
  test::InDir in(dir.path());
  test::write_file("result", "an earlier report\n");
  const std::string msg = run_expecting_error();
  EXPECT_NE(msg.find("'result'"), std::string::npos) << msg;
  EXPECT_EQ(test::read_file("result"), "an earlier report\n");
  EXPECT_FALSE(fs::exists(fs::symlink_status("data")));
}

TEST(PrintoutFiles, SymlinkResultIsNotFollowed) {
  test::TempDir dir;
  test::InDir in(dir.path());
  fs::create_symlink("missing-target", "result");
  std::string msg = run_expecting_error();
  EXPECT_NE(msg.find("'result'"), std::string::npos) << msg;
  EXPECT_TRUE(fs::is_symlink("result"));
  EXPECT_FALSE(fs::exists(fs::symlink_status("missing-target")));

  fs::remove("result");
  test::write_file("target", "kept\n");
  fs::create_symlink("target", "result");
  msg = run_expecting_error();
  EXPECT_NE(msg.find("'result'"), std::string::npos) << msg;
  EXPECT_EQ(test::read_file("target"), "kept\n");
}

// `result` is created before `data`: it stays behind, empty.
TEST(PrintoutFiles, ExistingDataIsLeftAloneAndResultStaysEmpty) {
  test::TempDir dir;
  test::InDir in(dir.path());
  test::write_file("data", "earlier data\n");
  std::string msg = run_expecting_error();
  EXPECT_NE(msg.find("'data'"), std::string::npos) << msg;
  EXPECT_EQ(test::read_file("data"), "earlier data\n");
  EXPECT_EQ(test::read_file("result"), "");

  fs::remove("result");
  fs::remove("data");
  fs::create_symlink("nowhere", "data");
  msg = run_expecting_error();
  EXPECT_NE(msg.find("'data'"), std::string::npos) << msg;
  EXPECT_TRUE(fs::is_symlink("data"));
  EXPECT_FALSE(fs::exists(fs::symlink_status("nowhere")));
  EXPECT_EQ(test::read_file("result"), "");
}

// Runs printout (m = 99: `result` about 460 kB, `data` about 950 kB) in a child
// process whose files may grow to `limit` bytes, and returns the message of the
// RunError it reported, or a note of what else happened.
std::string printout_under_size_limit(rlim_t limit) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit lim{limit, limit};
    std::string msg = "no error";
    if (setrlimit(RLIMIT_FSIZE, &lim) != 0) {
      msg = "setrlimit failed";
    } else {
      const RunParams p = test::report_params(99);
      const test::NodeFields f = test::node_fields(99);
      const RunStats s = test::report_stats();
      RecordFile data;
      try {
        printout(p, f.omega, f.psi, s, 3, 2, data);
        data.close();
      } catch (const RunError& e) {
        msg = e.what();
      }
    }
    const ssize_t n = write(fds[1], msg.data(), msg.size());
    _exit(n == static_cast<ssize_t>(msg.size()) ? 0 : 1);
  }
  close(fds[1]);
  std::string msg;
  char buf[512];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) msg.append(buf, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return msg;
}

TEST(PrintoutFiles, WriteFailureIsReportedNamingTheFile) {
  test::TempDir dir;
  test::InDir in(dir.path());
  std::string msg = printout_under_size_limit(4096);
  EXPECT_NE(msg.find("'result'"), std::string::npos) << msg;
  EXPECT_EQ(fs::file_size("result"), 4096u);

  fs::remove("result");
  fs::remove("data");
  msg = printout_under_size_limit(700000);
  EXPECT_NE(msg.find("'data'"), std::string::npos) << msg;
  EXPECT_LT(fs::file_size("result"), 700000u);
  EXPECT_EQ(fs::file_size("data"), 700000u);
}

}  // namespace
}  // namespace ladyzh
