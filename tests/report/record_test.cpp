// Formatted records: format strings, and the I, F and E fields of the reports.
//
// The expected texts are worked out by hand from the field rules: the exact
// decimal value of each double is noted where the rounding depends on it.
// A randomized comparison against a slow big-integer reference covers the
// rounding of F and E fields beyond the tables.
#include "report/record.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "run/error.hpp"

namespace ladyzh {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");
constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kMinSub = std::numeric_limits<double>::denorm_min();  // 4.94065645841246544e-324

struct FieldCase {
  const char* format;  // one value field
  double value;
  const char* expected;
};

std::string field(const char* format, double v) {
  return format_record(format, {v});
}

TEST(FormattedField, IFields) {
  struct Case {
    const char* format;
    std::int32_t value;
    const char* expected;
  };
  const Case cases[] = {
      {"(I1)", 0, "0"},
      {"(I1)", 1, "1"},
      {"(I1)", 9, "9"},
      {"(I1)", 10, "*"},
      {"(I1)", -1, "*"},
      {"(I3)", 1, "  1"},
      {"(I3)", 999, "999"},
      {"(I3)", 1000, "***"},
      {"(I3)", -99, "-99"},
      {"(I3)", -100, "***"},
      {"(i3)", 0, "  0"},
      {"(I5)", 42, "   42"},
      {"(I5)", 12345, "12345"},
      {"(I5)", 123456, "*****"},
      {"(I5)", -1234, "-1234"},
      {"(I5)", -12345, "*****"},
      {"(I5)", std::numeric_limits<std::int32_t>::min(), "*****"},
      {"(I11)", std::numeric_limits<std::int32_t>::min(), "-2147483648"},
      {"(I12)", std::numeric_limits<std::int32_t>::max(), "  2147483647"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(format_record(c.format, {c.value}), c.expected) << c.format << " " << c.value;
  }
}

TEST(FormattedField, F9_4) {
  const FieldCase cases[] = {
      {"(F9.4)", 0.5, "    .5000"},  // the definition's example
      {"(F9.4)", 1.0, "   1.0000"},
      {"(F9.4)", -1.5, "  -1.5000"},
      {"(F9.4)", -0.25, "   -.2500"},
      {"(F9.4)", 0.0, "    .0000"},
      {"(F9.4)", -0.0, "    .0000"},
      {"(f9.4)", 1234.5678, "1234.5678"},  // 1234.56780000000003383...
      {"(F9.4)", -999.9999, "-999.9999"},  // exactly nine characters
      // Rounded to zero: no minus sign.
      {"(F9.4)", -0.00004, "    .0000"},
      {"(F9.4)", -kMinSub, "    .0000"},
      {"(F9.4)", kMinSub, "    .0000"},
      // Exact ties (odd multiples of 1/32) round up in magnitude.
      {"(F9.4)", 0.03125, "    .0313"},
      {"(F9.4)", 0.15625, "    .1563"},
      {"(F9.4)", -0.03125, "   -.0313"},
      {"(F9.4)", 0.09375, "    .0938"},
      {"(F9.4)", -12.5, " -12.5000"},
      // Carries.
      {"(F9.4)", 0.99996, "   1.0000"},  // 0.99995999999999995999...
      {"(F9.4)", -0.99996, "  -1.0000"},
      {"(F9.4)", 999.99999, "1000.0000"},
      {"(F9.4)", 9999.99999, "*********"},  // 10000.0000 needs ten
      // Too long.
      {"(F9.4)", 12345.6, "*********"},
      {"(F9.4)", -1000.0, "*********"},
      {"(F9.4)", 1e300, "*********"},
      {"(F9.4)", -kMax, "*********"},
      // Not numbers.
      {"(F9.4)", kNaN, "      NaN"},
      {"(F9.4)", kInf, " Infinity"},
      {"(F9.4)", -kInf, "-Infinity"},
      {"(F8.4)", -kInf, "    -Inf"},
      {"(F3.1)", kInf, "Inf"},
      {"(F3.1)", -kInf, "***"},
      {"(F2.1)", kNaN, "**"},
      // Other widths: F w.0 keeps the point, and a zero integer part shows
      // as "0." there since nothing else would be left.
      {"(F3.0)", 2.5, " 3."},
      {"(F3.0)", 0.5, " 1."},
      {"(F3.0)", 0.25, " 0."},
      {"(F5.2)", 0.005, "  .01"},  // 0.005000000000000000104...
      {"(F5.2)", 0.125, "  .13"},
      {"(F4.2)", -0.125, "-.13"},
  };
  for (const FieldCase& c : cases) {
    EXPECT_EQ(field(c.format, c.value), c.expected) << c.format << " " << c.value;
  }
}

TEST(FormattedField, E7_2) {
  const FieldCase cases[] = {
      {"(E7.2)", 0.0012, ".12E-02"},  // the definition's example: 0.00119999999999999989...
      {"(E7.2)", 1.0e12, ".10E+13"},
      {"(E7.2)", 0.0, ".00E+00"},
      {"(E7.2)", -0.0, ".00E+00"},
      {"(E7.2)", 0.5, ".50E+00"},
      {"(E7.2)", 1.0, ".10E+01"},
      {"(e7.2)", 2.5, ".25E+01"},
      // A negative value needs eight characters.
      {"(E7.2)", -1.0, "*******"},
      {"(E7.2)", -0.0012, "*******"},
      {"(E7.2)", -kMinSub, "*******"},
      // Exact ties round up in magnitude (to-even would give .12, .62, .12E+22).
      {"(E7.2)", 0.125, ".13E+00"},
      {"(E7.2)", 0.625, ".63E+00"},
      {"(E7.2)", 0.375, ".38E+00"},
      {"(E7.2)", 1.25e21, ".13E+22"},  // 5^22 * 2^19, an exact double
      {"(E7.2)", 99.5, ".10E+03"},     // tie and carry into the exponent
      // Rounding decided on the exact value.
      {"(E7.2)", 0.995, ".99E+00"},   // 0.99499999999999999555...
      {"(E7.2)", 0.9951, ".10E+01"},  // carry
      {"(E7.2)", 0.0996, ".10E+00"},
      // Exponents around 99 and beyond.
      {"(E7.2)", 9.9e98, ".99E+99"},
      {"(E7.2)", 1e98, ".10E+99"},   // 9.99999999999999999769e97 carries
      {"(E7.2)", 1e99, ".10+100"},   // 9.99999999999999967336e98 carries
      {"(E7.2)", 1e-99, ".10E-98"},  // 1.00000000000000001999e-99
      {"(E7.2)", 1e-100, ".10E-99"},
      {"(E7.2)", 1e-101, ".10-100"},
      {"(E7.2)", 1e300, ".10+301"},
      {"(E7.2)", 1.5e-300, ".15-299"},
      {"(E7.2)", kMax, ".18+309"},
      {"(E7.2)", 2.2250738585072014e-308, ".22-307"},  // smallest normal
      {"(E7.2)", kMinSub, ".49-323"},
      // Not numbers.
      {"(E7.2)", kNaN, "    NaN"},
      {"(E7.2)", kInf, "    Inf"},
      {"(E7.2)", -kInf, "   -Inf"},
  };
  for (const FieldCase& c : cases) {
    EXPECT_EQ(field(c.format, c.value), c.expected) << c.format << " " << c.value;
  }
}

TEST(FormattedField, E12_5AndE12_6) {
  const FieldCase cases[] = {
      {"(e12.5)", -1.5, " -.15000E+01"},  // the definition's example
      {"(e12.5)", 1.5, "  .15000E+01"},
      {"(e12.5)", 0.0, "  .00000E+00"},
      {"(e12.5)", -0.0, "  .00000E+00"},
      {"(e12.5)", 0.00390625, "  .39063E-02"},  // 2^-8, a tie
      {"(e12.5)", -0.00390625, " -.39063E-02"},
      {"(e12.5)", 1e100, "  .10000+101"},
      {"(e12.5)", 1e-100, "  .10000E-99"},
      {"(e12.5)", -1e300, " -.10000+301"},
      {"(e12.5)", kNaN, "         NaN"},
      {"(e12.5)", kInf, "    Infinity"},
      {"(e12.5)", -kInf, "   -Infinity"},

      {"(e12.6)", -1.5, "-.150000E+01"},  // the definition's example
      {"(e12.6)", 1.5, " .150000E+01"},
      {"(e12.6)", 0.0, " .000000E+00"},
      {"(e12.6)", -0.0, " .000000E+00"},
      {"(e12.6)", 1.0 / 3.0, " .333333E+00"},
      {"(e12.6)", -2.0 / 3.0, "-.666667E+00"},
      {"(e12.6)", 0.001953125, " .195313E-02"},  // 2^-9, a tie
      {"(e12.6)", -123456.5, "-.123457E+06"},    // a tie
      {"(e12.6)", 0.99999951, " .100000E+01"},   // carry
      {"(e12.6)", 1e-99, " .100000E-98"},
      {"(e12.6)", -1.5e99, "-.150000+100"},
      {"(e12.6)", kMinSub, " .494066-323"},
      {"(e12.6)", -kMinSub, "-.494066-323"},
      {"(e12.6)", -kMax, "-.179769+309"},
  };
  for (const FieldCase& c : cases) {
    EXPECT_EQ(field(c.format, c.value), c.expected) << c.format << " " << c.value;
  }
}

TEST(FormattedField, E20_10) {
  const double pi = 3.141592653589793;  // 3.14159265358979311599...
  const FieldCase cases[] = {
      {"(e20.10)", 1.0 / 3.0, "     .3333333333E+00"},
      {"(e20.10)", -1.0 / 3.0, "    -.3333333333E+00"},
      {"(e20.10)", 0.0, "     .0000000000E+00"},
      {"(e20.10)", -0.0, "     .0000000000E+00"},
      {"(e20.10)", pi, "     .3141592654E+01"},
      {"(e20.10)", -pi, "    -.3141592654E+01"},
      {"(e20.10)", 1234567892.5, "     .1234567893E+10"},  // a tie
      {"(e20.10)", -1234567892.5, "    -.1234567893E+10"},
      {"(e20.10)", 0.99999999999, "     .1000000000E+01"},  // carry
      {"(e20.10)", 1.5e98, "     .1500000000E+99"},
      {"(e20.10)", 1.5e99, "     .1500000000+100"},
      {"(e20.10)", 1e300, "     .1000000000+301"},
      {"(e20.10)", 1e-300, "     .1000000000-299"},
      {"(e20.10)", kMax, "     .1797693135+309"},
      {"(e20.10)", kMinSub, "     .4940656458-323"},
      {"(e20.10)", -kMinSub, "    -.4940656458-323"},
      {"(e20.10)", kNaN, "                 NaN"},
      {"(e20.10)", -kInf, "           -Infinity"},
  };
  for (const FieldCase& c : cases) {
    EXPECT_EQ(field(c.format, c.value), c.expected) << c.format << " " << c.value;
  }
}

TEST(FormattedRecord, StepTableRow) {
  const char* fmt =
      "(I3,2x,E7.2,2x,E7.2,F9.4,F9.4,2x,I5,2x,I5,4x,I1,5x,I1,  2x,E7.2,2x,E7.2,2x,E7.2,2x,E7.2)";
  const std::string row = format_record(
      fmt, {1, 1.234e-3, 5.6789e-5, 0.5, 12.25, 150, 3000, 1, 0, 0.5, 1.0, -0.25, 1e12});
  EXPECT_EQ(row,
            "  1  .12E-02  .57E-04    .5000  12.2500    150   3000    1     0  .50E+00  .10E+01"
            "  *******  .10E+13");
  EXPECT_EQ(row.size(), 100u);
  // Values too wide for their fields.
  EXPECT_EQ(format_record(fmt, {1000, 0.0, 0.0, 0.0, 0.0, 123456, -1, 10, -1, 0.0, 0.0, 0.0, 0.0}),
            "***  .00E+00  .00E+00    .0000    .0000  *****     -1    *     *  .00E+00  .00E+00"
            "  .00E+00  .00E+00");
}

TEST(FormattedRecord, SampleRowAndGridDump) {
  const std::string sample = format_record("(e12.6,2x,e12.6,2x,e12.6,2x,e12.6,2x,e12.6)",
                                           {1.5, -1.5, 0.0, 1.0 / 3.0, -2.0 / 3.0});
  EXPECT_EQ(sample, " .150000E+01  -.150000E+01   .000000E+00   .333333E+00  -.666667E+00");
  EXPECT_EQ(sample.size(), 68u);

  const std::string dump = format_record("(e20.10,4x,e20.10)", {1.0 / 3.0, -3.141592653589793});
  EXPECT_EQ(dump, "     .3333333333E+00        -.3141592654E+01");
  EXPECT_EQ(dump.size(), 44u);
}

TEST(FormattedRecord, ParsedFormatRendersManyRecords) {
  const Format f = Format::parse("( e20.10 , 4X,E7.2 )");
  ASSERT_EQ(f.descriptors().size(), 3u);
  EXPECT_EQ(f.value_fields(), 2);
  EXPECT_EQ(f.text(), "( e20.10 , 4X,E7.2 )");
  std::string out;
  const Item first[] = {0.5, 0.125};
  const Item second[] = {std::int32_t{-3}, std::int32_t{120}};  // integers convert
  append_record(out, f, first);
  out += '|';
  append_record(out, f, second);
  EXPECT_EQ(out, "     .5000000000E+00    .13E+00|    -.3000000000E+01    .12E+03");
  EXPECT_EQ(format_record("(F9.4,I3)", {3, 7}), "   3.0000  7");
  EXPECT_EQ(format_record("()", {}), "");
  EXPECT_EQ(format_record("(3x)", {}), "   ");
}

TEST(FormattedRecord, ItemErrors) {
  struct Case {
    const char* format;
    std::vector<Item> items;
    const char* message;
  };
  const Case cases[] = {
      {"(I3,E7.2)",
       {std::int32_t{1}},
       "cannot write record with format '(I3,E7.2)': item 2 is missing for E7.2"},
      {"(I3)",
       {std::int32_t{1}, std::int32_t{2}},
       "cannot write record with format '(I3)': item 2 is left over: the format has 1 value "
       "fields for 2 items"},
      {"(I3)",
       {1.0},
       "cannot write record with format '(I3)': item 1 for I3 is a double, not an integer"},
      {"(2x,I3)",
       {std::string_view("a")},
       "cannot write record with format '(2x,I3)': item 1 for I3 is a text, not an integer"},
      {"(F9.4,e12.6)",
       {1.0, std::string_view("b")},
       "cannot write record with format '(F9.4,e12.6)': item 2 for E12.6 is a text, not a number"},
  };
  for (const Case& c : cases) {
    try {
      format_record(c.format, std::span<const Item>(c.items));
      ADD_FAILURE() << "no error for " << c.format;
    } catch (const RunError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

TEST(FormatParse, Errors) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"", "invalid format '' at position 1: expected '('"},
      {"I3", "invalid format 'I3' at position 1: expected '('"},
      {"(I3", "invalid format '(I3' at position 4: expected ',' or ')'"},
      {"(I3 I3)", "invalid format '(I3 I3)' at position 5: expected ',' or ')'"},
      {"(I3,)", "invalid format '(I3,)' at position 5: expected a descriptor nX, Iw, Fw.d or Ew.d"},
      {"(I3,,I3)",
       "invalid format '(I3,,I3)' at position 5: expected a descriptor nX, Iw, Fw.d or Ew.d"},
      {"(Q3)", "invalid format '(Q3)' at position 2: expected a descriptor nX, Iw, Fw.d or Ew.d"},
      {"(X)", "invalid format '(X)' at position 2: expected a descriptor nX, Iw, Fw.d or Ew.d"},
      {"(I)", "invalid format '(I)' at position 3: expected the field width"},
      {"(I0)", "invalid format '(I0)' at position 3: the field width must be at least 1"},
      {"(F9)", "invalid format '(F9)' at position 4: expected '.' and the number of digits"},
      {"(F9.)", "invalid format '(F9.)' at position 5: expected the number of digits"},
      {"(E7.0)", "invalid format '(E7.0)' at position 5: an E field needs at least one digit"},
      {"(2)", "invalid format '(2)' at position 3: expected X after the count 2"},
      {"(2E7.2)", "invalid format '(2E7.2)' at position 3: expected X after the count 2"},
      {"(0X)", "invalid format '(0X)' at position 2: a blank count must be at least 1"},
      {"(I99999)", "invalid format '(I99999)' at position 3: the field width exceeds 1000"},
      {"(I3) x", "invalid format '(I3) x' at position 6: text after the closing ')'"},
  };
  for (const Case& c : cases) {
    try {
      Format::parse(c.text);
      ADD_FAILURE() << "no error for '" << c.text << "'";
    } catch (const RunError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

TEST(FormattedField, RenderersRefuseImpossibleFields) {
  std::string out;
  EXPECT_THROW(render_E(out, 7, 0, 1.0), RunError);
  EXPECT_THROW(render_F(out, -1, 2, 1.0), RunError);
  EXPECT_THROW(render_F(out, 9, 5000, 1.0), RunError);
  EXPECT_THROW(render_I(out, 0, 1), RunError);
  EXPECT_EQ(out, "");
}

// --- randomized comparison with a slow reference ---------------------------

// The exact decimal value of a finite nonzero |v|, as digits D (no leading
// zero) and an exponent P with |v| = 0.D * 10^P. |v| = m * 2^e is an integer
// m * 2^e for e >= 0, and m * 5^-e / 10^-e for e < 0; the integer is built in
// base 10^9 limbs.
struct Decimal {
  std::string digits;
  int exp10;
};

Decimal exact_decimal(double v) {
  int e;
  const double frac = std::frexp(std::fabs(v), &e);  // |v| = frac * 2^e, frac in [0.5, 1)
  auto m = static_cast<std::uint64_t>(std::ldexp(frac, 53));
  e -= 53;
  std::vector<std::uint64_t> limbs;  // little-endian, base 10^9
  for (std::uint64_t x = m; x != 0; x /= 1000000000) limbs.push_back(x % 1000000000);
  auto mul = [&](std::uint64_t f) {
    std::uint64_t carry = 0;
    for (auto& l : limbs) {
      const std::uint64_t p = l * f + carry;
      l = p % 1000000000;
      carry = p / 1000000000;
    }
    while (carry != 0) {
      limbs.push_back(carry % 1000000000);
      carry /= 1000000000;
    }
  };
  int frac_digits = 0;
  if (e >= 0) {
    for (int k = e; k > 0; k -= std::min(k, 30)) mul(std::uint64_t{1} << std::min(k, 30));
  } else {
    frac_digits = -e;
    for (int k = -e; k > 0; k -= std::min(k, 13)) {
      std::uint64_t f = 1;
      for (int t = 0; t < std::min(k, 13); ++t) f *= 5;
      mul(f);
    }
  }
  std::string s = std::to_string(limbs.back());
  for (std::size_t i = limbs.size() - 1; i-- > 0;) {
    std::string part = std::to_string(limbs[i]);
    s += std::string(9 - part.size(), '0') + part;
  }
  Decimal d{s, static_cast<int>(s.size()) - frac_digits};
  while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
  return d;
}

// Rounds the digit string to n digits (n >= 1), half up; returns true when the
// rounding carried into a new leading digit: the digits are then "1" and n - 1
// zeros, and the value is ten times what they show.
bool round_half_up(std::string& digits, std::size_t n) {
  const bool up = digits.size() > n && digits[n] >= '5';
  digits.resize(n, '0');
  if (!up) return false;
  for (std::size_t i = n; i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return false;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
  digits.pop_back();
  return true;
}

std::string fit(int w, const std::string& text) {
  if (text.size() > static_cast<std::size_t>(w)) return std::string(w, '*');
  return std::string(w - text.size(), ' ') + text;
}

std::string reference_E(int w, int d, double v) {
  if (v == 0) return fit(w, "." + std::string(d, '0') + "E+00");
  Decimal x = exact_decimal(v);
  if (round_half_up(x.digits, d)) {
    x.digits.resize(d, '0');
    ++x.exp10;
  }
  const int mag = std::abs(x.exp10);
  std::string ex = std::to_string(mag);
  ex = mag > 99 ? ex : std::string(2 - ex.size(), '0') + ex;
  return fit(w, std::string(v < 0 ? "-" : "") + "." + x.digits + (mag > 99 ? "" : "E") +
                    (x.exp10 < 0 ? "-" : "+") + ex);
}

std::string reference_F(int w, int d, double v) {
  std::string fixed;  // all digits of |v| with exactly d after the point, as one string
  if (v == 0) {
    fixed = std::string(d + 1, '0');
  } else {
    const Decimal x = exact_decimal(v);
    // Digits of the integer part and the first d decimals, then one more.
    std::string all;
    int int_digits = std::max(x.exp10, 0);
    if (x.exp10 < 0) all = std::string(-x.exp10, '0');
    all += x.digits;
    all.resize(std::max<std::size_t>(all.size(), int_digits + d + 1), '0');
    if (int_digits == 0) {
      all.insert(all.begin(), '0');
      int_digits = 1;
    }
    const bool carry = round_half_up(all, int_digits + d);
    fixed = carry ? all + "0" : all;
  }
  const std::size_t n_int = fixed.size() - d;
  std::string ip = fixed.substr(0, n_int);
  const std::string fp = fixed.substr(n_int);
  ip.erase(0, std::min(ip.find_first_not_of('0'), ip.size()));
  const bool zero = fixed.find_first_not_of('0') == std::string::npos;
  if (ip.empty() && d == 0) ip = "0";
  return fit(w, std::string(v < 0 && !zero ? "-" : "") + ip + "." + fp);
}

TEST(FormattedField, ReferenceCheckedExamples) {
  // The reference itself, against a few hand-worked values.
  EXPECT_EQ(reference_E(7, 2, 0.125), ".13E+00");
  EXPECT_EQ(reference_E(7, 2, 1e99), ".10+100");
  EXPECT_EQ(reference_E(12, 6, -1.5), "-.150000E+01");
  EXPECT_EQ(reference_F(9, 4, 0.5), "    .5000");
  EXPECT_EQ(reference_F(9, 4, -0.00004), "    .0000");
  EXPECT_EQ(reference_F(9, 4, 999.99999), "1000.0000");
  EXPECT_EQ(reference_F(3, 0, 0.25), " 0.");
}

TEST(FormattedField, RandomValuesMatchExactReference) {
  std::mt19937_64 rng(20240611);
  std::uniform_int_distribution<std::uint64_t> bits;
  std::uniform_int_distribution<int> small_exp(-60, 60);
  std::uniform_int_distribution<int> dec_exp(-30, 30);
  std::uniform_int_distribution<std::uint64_t> odd(0, (1u << 24) - 1);
  std::uniform_int_distribution<int> pick(0, 4);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const double pow10_tab[] = {1, 10, 100, 1000, 1e4, 1e5, 1e6, 1e7, 1e8};

  auto next_value = [&]() -> double {
    switch (pick(rng)) {
      case 0: {  // any finite double, subnormals included
        double v;
        do {
          v = std::bit_cast<double>(bits(rng));
        } while (!std::isfinite(v));
        return v;
      }
      case 1:  // dyadic values with few significant digits: many exact ties
        return std::ldexp(static_cast<double>(2 * odd(rng) + 1), small_exp(rng)) *
               (bits(rng) & 1 ? -1 : 1);
      case 2:  // decimal ties "...5" near every scale, rounded to a double
        return (static_cast<double>(odd(rng)) * 10 + 5) * std::pow(10.0, dec_exp(rng));
      case 3:  // the range of report values
        return unit(rng) * pow10_tab[bits(rng) % 9];
      default:  // near a power of ten: carries
        return std::pow(10.0, dec_exp(rng)) *
               (1 - std::ldexp(1.0, -static_cast<int>(bits(rng) % 50)));
    }
  };

  const int e_digits[] = {1, 2, 5, 6, 10, 17, 20};
  const int f_digits[] = {0, 1, 4, 6, 10};
  int mismatches = 0;
  for (int n = 0; n < 200000 && mismatches < 20; ++n) {
    const double v = next_value();
    const int de = e_digits[n % 7];
    std::string got;
    render_E(got, de + 7, de, v);
    const std::string want_e = reference_E(de + 7, de, v);
    if (got != want_e) {
      ++mismatches;
      ADD_FAILURE() << "E" << de + 7 << "." << de << " of " << std::hexfloat << v << ": got '"
                    << got << "', want '" << want_e << "'";
    }
    const int df = f_digits[n % 5];
    got.clear();
    render_F(got, 40, df, v);
    const std::string want_f = reference_F(40, df, v);
    if (got != want_f) {
      ++mismatches;
      ADD_FAILURE() << "F40." << df << " of " << std::hexfloat << v << ": got '" << got
                    << "', want '" << want_f << "'";
    }
  }
}

}  // namespace
}  // namespace ladyzh
