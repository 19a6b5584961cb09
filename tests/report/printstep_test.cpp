// The step report: run header on the first pass only, one section per pass with
// the table of every pass so far, and the 5-column samples of psi and omega.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "report/record_file.hpp"
#include "report/report_fixture.hpp"
#include "report/reports.hpp"
#include "support/support.hpp"

namespace ladyzh {
namespace {

using test::numbers_of;
using test::split_lines;

const std::string psi_title = " ---------- streamfunction values at  --------------";
const std::string omega_title = " ------------ vorticity values at  -----------------";

// Writes the sections of the given passes into a fresh `step` and returns its text.
std::string step_report(const RunParams& p, const RunStats& s, const std::vector<int>& passes) {
  test::TempDir dir;
  test::InDir in(dir.path());
  const test::NodeFields f = test::node_fields(p.m);
  RecordFile step("step");
  for (int k : passes) printstep(p, f.omega, f.psi, s, k, step);
  step.close();
  return test::read_file("step");
}

// The expected section of pass k for m = 9 with the fixture fields.
std::vector<std::string> section_m9(int k) {
  std::vector<std::string> out = {
      " -------------------------------------------------",
      " ------------ " + std::to_string(k) + "-------------------",
      " -------------------------------------------------",
  };
  out.insert(out.end(), test::table_head.begin(), test::table_head.end());
  out.insert(out.end(), test::table_rows.begin(), test::table_rows.begin() + k);
  const std::vector<std::string> tail = {
      " -------------------------------------------------",
      "   ",
      "   ",
      "   ",
      " ---------------------------------------------------",
      " ---------- streamfunction values at  --------------",
      " ------ x=0.1:0.2:0.9 ,  y=0.1:0.2:0.9  ------------",
      " ---------------------------------------------------",
      "  .10100E+03    .10300E+03    .10500E+03    .10700E+03    .10900E+03",
      "  .30100E+03    .30300E+03    .30500E+03    .30700E+03    .30900E+03",
      "  .50100E+03    .50300E+03    .50500E+03    .50700E+03    .50900E+03",
      "  .70100E+03    .70300E+03    .70500E+03    .70700E+03    .70900E+03",
      "  .90100E+03    .90300E+03    .90500E+03    .90700E+03    .90900E+03",
      " ---------------------------------------------------",
      " ------------ vorticity values at  -----------------",
      " ------ x=0.1:0.2:0.9 ,  y=0.1:0.2:0.9  ------------",
      " ---------------------------------------------------",
      " -.10100E+03   -.10300E+03   -.10500E+03   -.10700E+03   -.10900E+03",
      " -.30100E+03   -.30300E+03   -.30500E+03   -.30700E+03   -.30900E+03",
      " -.50100E+03   -.50300E+03   -.50500E+03   -.50700E+03   -.50900E+03",
      " -.70100E+03   -.70300E+03   -.70500E+03   -.70700E+03   -.70900E+03",
      " -.90100E+03   -.90300E+03   -.90500E+03   -.90700E+03   -.90900E+03",
      " -------------------------------------------------",
  };
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

std::string joined(const std::vector<std::vector<std::string>>& parts) {
  std::string s;
  for (const auto& part : parts) {
    for (const auto& line : part) s += line + "\n";
  }
  return s;
}

const std::vector<std::string> three_blank_items = {"   ", "   ", "   "};

TEST(Printstep, ThreeCallsGiveHeaderOnceAndTablesOfOneTwoThreeRows) {
  const std::string text = step_report(test::report_params(9), test::report_stats(), {1, 2, 3});
  EXPECT_EQ(text, joined({test::header_m9, three_blank_items, section_m9(1), section_m9(2),
                          section_m9(3)}));
}

TEST(Printstep, HeaderOnlyOnPassOne) {
  const RunParams p = test::report_params(9);
  const RunStats s = test::report_stats();
  EXPECT_EQ(step_report(p, s, {2}), joined({section_m9(2)}));
  EXPECT_EQ(step_report(p, s, {3, 1}),
            joined({section_m9(3), test::header_m9, three_blank_items, section_m9(1)}));
}

TEST(Printstep, RecordLengths) {
  const auto lines = split_lines(step_report(test::report_params(9), test::report_stats(), {3}));
  int rows = 0;
  int samples = 0;
  for (const auto& line : lines) {
    if (line.rfind("  1  ", 0) == 0 || line.rfind("  2  ", 0) == 0 || line.rfind("  3  ", 0) == 0) {
      EXPECT_EQ(line.size(), 100u) << line;
      ++rows;
    } else if (line.find("E+0") != std::string::npos) {
      EXPECT_EQ(line.size(), 68u) << line;
      ++samples;
    }
  }
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(samples, 10);
  EXPECT_EQ(lines.size(), 3u + 3u + 3u + 1u + 3u + 4u + 5u + 4u + 5u + 1u);
}

// A pass beyond the imax rows of the statistics has no section: the section
// of pass imax already holds the complete table.
TEST(Printstep, PassAboveImaxWritesNothing) {
  const RunParams p = test::report_params(9);
  const RunStats s = test::report_stats();
  EXPECT_EQ(step_report(p, s, {1, 2, 3, 4}), step_report(p, s, {1, 2, 3}));
  EXPECT_EQ(step_report(p, s, {4}), "");
  RunParams one = p;
  one.imax = 0;
  EXPECT_EQ(step_report(one, s, {1}), "");
}

// Which nodes the sample rows show, for psi (i + 100 j) and omega (its
// negative): columns in record order, rows in file order.
struct Sampling {
  int m;
  std::vector<int> cols;
  std::vector<int> rows;
};

class PrintstepSampling : public ::testing::TestWithParam<Sampling> {};

TEST_P(PrintstepSampling, ColumnsAndRows) {
  const Sampling c = GetParam();
  RunParams p = test::report_params(c.m);
  const auto lines = split_lines(step_report(p, test::report_stats(), {1}));
  for (const std::string& title : {psi_title, omega_title}) {
    const double sign = title == psi_title ? 1.0 : -1.0;
    const auto samples = test::samples_under(lines, title);
    ASSERT_EQ(samples.size(), c.rows.size()) << title;
    for (std::size_t r = 0; r < samples.size(); ++r) {
      EXPECT_EQ(samples[r].size(), 68u);
      const auto v = numbers_of(samples[r]);
      ASSERT_EQ(v.size(), 5u) << samples[r];
      for (std::size_t q = 0; q < 5; ++q) {
        EXPECT_EQ(test::node_of(sign * v[q]), std::make_pair(c.cols[q], c.rows[r]))
            << "m = " << c.m << ", " << samples[r];
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    StepRule, PrintstepSampling,
    ::testing::Values(Sampling{9, {1, 3, 5, 7, 9}, {1, 3, 5, 7, 9}},
                      Sampling{10, {1, 3, 5, 7, 10}, {1, 3, 5, 7, 9}},
                      Sampling{8, {1, 2, 3, 4, 8}, {1, 2, 3, 4, 5, 6, 7, 8}},
                      Sampling{5, {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}},
                      Sampling{13, {1, 4, 7, 10, 13}, {1, 4, 7, 10, 13}},
                      // Below m = 5 the step is 1 and columns beyond m are taken at m.
                      Sampling{3, {1, 2, 3, 3, 3}, {1, 2, 3}}, Sampling{1, {1, 1, 1, 1, 1}, {1}}),
    [](const auto& info) {
      std::string name = "m";
      name += std::to_string(info.param.m);
      return name;
    });

}  // namespace
}  // namespace ladyzh
