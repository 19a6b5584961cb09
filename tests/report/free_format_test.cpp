// Free-format records: leading blank, texts exactly, numbers after one blank.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "report/console.hpp"
#include "report/record.hpp"

namespace ladyzh {
namespace {

TEST(FreeRecord, LayoutOfTextsAndNumbers) {
  EXPECT_EQ(free_record({}), " ");
  EXPECT_EQ(free_record({"  "}), "   ");
  EXPECT_EQ(free_record({"Re", 100.0}), " Re 100.0");
  EXPECT_EQ(free_record({"m", std::int32_t{19}}), " m 19");
  EXPECT_EQ(free_record({"------------", std::int32_t{3}, "-------------------"}),
            " ------------ 3-------------------");
  EXPECT_EQ(free_record({std::int32_t{-12}, "     error= ", 1.5e-7}), "  -12     error=  1.5e-07");
}

TEST(FreeRecord, DoublesReadBackExactly) {
  for (double v : {0.1, 1.0 / 3.0, 1e-8, 6.02214076e23, -2.5, 5e-324, 1.7976931348623157e308}) {
    const std::string s = free_number(v);
    EXPECT_EQ(std::strtod(s.c_str(), nullptr), v) << s;
  }
  EXPECT_EQ(free_number(0.5), "0.5");
  EXPECT_EQ(free_number(0.0), "0.0");
  EXPECT_EQ(free_number(1e12), "1e+12");
  EXPECT_EQ(free_number(std::nan("")), "NaN");
  EXPECT_EQ(free_number(-std::numeric_limits<double>::infinity()), "-Infinity");
}

TEST(Console, CaptureCollectsLines) {
  ConsoleCapture cap;
  console({"we solve the problem with c=1"});
  console({});
  EXPECT_EQ(cap.text(), " we solve the problem with c=1\n \n");
}

}  // namespace
}  // namespace ladyzh
