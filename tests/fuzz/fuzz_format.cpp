// Fuzzing the format-string interpreter and the field renderers. Every input
// either renders or throws RunError; nothing else may happen. What renders is
// checked against rules derived here independently of the renderers:
//  - a parsed format prints back to a text that parses to the same descriptors;
//  - a record is exactly as long as its descriptors' widths add up to, and
//    renders the same through format_record as through a parsed Format;
//  - every field has exactly w characters: w asterisks exactly when the text of
//    the value does not fit, else the text right-justified, which reads back to
//    the value within half a unit of its last digit.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "report/record.hpp"
#include "run/error.hpp"

namespace {

using ladyzh::Descriptor;
using ladyzh::Format;
using ladyzh::Item;
using ladyzh::RunError;

constexpr int kMaxWidth = 1000;  // the renderers' documented limit for w and d

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_format: %s\n", what.c_str());
  std::abort();
}

std::string field_name(char kind, int w, int d) {
  return std::string(1, kind) + std::to_string(w) + "." + std::to_string(d);
}

bool all_stars(std::string_view s) {
  return s.find_first_not_of('*') == std::string_view::npos;
}

// The field without its leading blanks; it may hold no blank itself.
std::string_view trimmed(std::string_view field, const std::string& what) {
  const auto start = field.find_first_not_of(' ');
  if (start == std::string_view::npos) fail(what + ": field of blanks only");
  const std::string_view text = field.substr(start);
  if (text.find(' ') != std::string_view::npos) fail(what + ": blank inside the field");
  return text;
}

// A value whose text takes len characters in a field of width w: asterisks
// when it does not fit (no text then), else the text, exactly len characters
// after the leading blanks.
std::optional<std::string_view> laid_out(std::string_view field, int w, std::size_t len,
                                         const std::string& what) {
  if (static_cast<int>(len) > w) {
    if (!all_stars(field)) fail(what + ": '" + std::string(field) + "' should be asterisks");
    return std::nullopt;
  }
  const std::string_view text = trimmed(field, what);
  if (text.size() != len)
    fail(what + ": '" + std::string(text) + "' should have " + std::to_string(len) + " characters");
  return text;
}

// Read in extended precision and range: a value rounded to its field may lie
// just beyond the largest double.
long double read_back(std::string_view text, const std::string& what) {
  const std::string t(text);
  char* end = nullptr;
  const long double v = std::strtold(t.c_str(), &end);
  if (t.empty() || end != t.c_str() + t.size() ||
      t.find_first_of("xXnNiIpP") != std::string::npos) {
    fail(what + ": field '" + t + "' does not read as a number");
  }
  return v;
}

// The texts of NaN and the infinities, longest first, for a field of width w.
void check_nonfinite(std::string_view field, int w, double v, const std::string& what) {
  std::vector<std::string> texts;
  if (std::isnan(v)) {
    texts = {"NaN"};
  } else {
    texts = v < 0 ? std::vector<std::string>{"-Infinity", "-Inf"}
                  : std::vector<std::string>{"Infinity", "Inf"};
  }
  for (const auto& t : texts) {
    if (static_cast<int>(t.size()) <= w) {
      if (trimmed(field, what) != t)
        fail(what + ": expected " + t + ", got '" + std::string(field) + "'");
      return;
    }
  }
  if (!all_stars(field)) fail(what + ": expected asterisks, got '" + std::string(field) + "'");
}

void check_I(std::string_view field, int w, std::int64_t v, const std::string& what) {
  const std::string text = std::to_string(v);
  if (static_cast<int>(text.size()) > w) {
    if (!all_stars(field)) fail(what + ": '" + std::string(field) + "' should be asterisks");
  } else if (trimmed(field, what) != text) {
    fail(what + ": '" + std::string(field) + "' for " + text);
  }
}

// The decimal digits of |v| rounded to d places, by the C library (exact;
// exact ties go to even there, which changes neither the length nor, but for
// 0.5 at d = 0, whether the digits are all zero).
std::string fixed_digits(double a, int d) {
  const int n = std::snprintf(nullptr, 0, "%.*f", d, a);
  std::string s(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(s.data(), s.size(), "%.*f", d, a);
  s.resize(static_cast<std::size_t>(n));
  return s;
}

void check_F(std::string_view field, int w, int d, double v, const std::string& what) {
  if (!std::isfinite(v)) return check_nonfinite(field, w, v, what);
  const double a = std::fabs(v);
  const std::string digits = fixed_digits(a, d);
  // Text length: the integer part's lone 0 is dropped unless d = 0, a point is
  // added for d = 0, and a minus sign stands before a value that does not show
  // as zero (0.5 at d = 0 rounds away from zero, to 1).
  std::size_t len = digits.size();
  if (d > 0 && digits[0] == '0') --len;
  if (d == 0) ++len;
  const bool shows_zero = digits.find_first_of("123456789") == std::string::npos && a != 0.5;
  if (std::signbit(v) && !shows_zero) ++len;
  const std::optional<std::string_view> shown = laid_out(field, w, len, what);
  if (!shown) return;
  const std::string_view text = *shown;
  const std::size_t point = text.find('.');
  if (point == std::string_view::npos || text.size() - point - 1 != static_cast<std::size_t>(d)) {
    fail(what + ": '" + std::string(text) + "' lacks a point with " + std::to_string(d) +
         " digits after it");
  }
  const long double back = read_back(text, what);
  // Half a unit of the last digit, and the rounding of reading the text back.
  const long double tolerance = 0.5L * std::pow(10.0L, -d) * (1 + 1e-9L) +
                                4 * std::fabs(v) * 0x1p-63L +
                                std::numeric_limits<long double>::denorm_min();
  if (!(std::fabs(back - v) <= tolerance)) {
    fail(what + ": '" + std::string(text) + "' is not " + std::to_string(v) + " rounded");
  }
}

void check_E(std::string_view field, int w, int d, double v, const std::string& what) {
  if (!std::isfinite(v)) return check_nonfinite(field, w, v, what);
  // [-].DDDD followed by E+XX, E-XX, +XXX or -XXX: d + 5 characters and the sign.
  const std::size_t len = static_cast<std::size_t>(d) + 5 + (v < 0 ? 1 : 0);
  const std::optional<std::string_view> shown = laid_out(field, w, len, what);
  if (!shown) return;
  const std::string_view text = *shown;
  const std::size_t mant = v < 0 ? 1 : 0;
  if (text[mant] != '.') fail(what + ": '" + std::string(text) + "' lacks the leading point");
  const std::string_view digits = text.substr(mant + 1, static_cast<std::size_t>(d));
  if (digits.find_first_not_of("0123456789") != std::string_view::npos) {
    fail(what + ": '" + std::string(text) + "' has a mantissa that is not digits");
  }
  if (v != 0 && digits[0] == '0') fail(what + ": '" + std::string(text) + "' is not normalised");
  const std::string_view tail = text.substr(mant + 1 + static_cast<std::size_t>(d));
  std::string_view exp_digits;
  if (tail[0] == 'E') {
    if (tail[1] != '+' && tail[1] != '-')
      fail(what + ": '" + std::string(text) + "' has no exponent sign");
    exp_digits = tail.substr(2);
  } else if (tail[0] == '+' || tail[0] == '-') {
    exp_digits = tail.substr(1);
    // Three exponent digits only when two do not hold it.
    if (exp_digits[0] == '0')
      fail(what + ": '" + std::string(text) + "' has a needless third exponent digit");
  } else {
    fail(what + ": '" + std::string(text) + "' has no exponent");
  }
  if (exp_digits.find_first_not_of("0123456789") != std::string_view::npos) {
    fail(what + ": '" + std::string(text) + "' has an exponent that is not digits");
  }
  // Read back as 0.DDDD e(+/-)XX.
  const std::string number = (v < 0 ? "-0." : "0.") + std::string(digits) + "e" +
                             (tail[0] == 'E' ? std::string(tail.substr(1)) : std::string(tail));
  const long double back = read_back(number, what);
  int ex = 0;
  std::from_chars(exp_digits.data(), exp_digits.data() + exp_digits.size(), ex);
  if (tail[tail[0] == 'E' ? 1 : 0] == '-') ex = -ex;
  // Half a unit of the last mantissa digit, 10^(ex - d) / 2, and the rounding
  // of reading the text back.
  if (v == 0 && back != 0) fail(what + ": zero shows as '" + std::string(text) + "'");
  const long double tolerance = 0.5L * std::pow(10.0L, ex - d) * (1 + 1e-9L) +
                                4 * std::fabs(v) * 0x1p-63L +
                                std::numeric_limits<long double>::denorm_min();
  if (!(std::fabs(back - v) <= tolerance)) {
    fail(what + ": '" + std::string(text) + "' is not " + std::to_string(v) + " rounded");
  }
}

// A double of any bit pattern, or one near a rounding boundary of few digits.
double some_double(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      return std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
    case 1:  // k / 2^s: exact ties of decimal rounding are among these
      return std::ldexp(double(in.ConsumeIntegral<std::int32_t>()),
                        -in.ConsumeIntegralInRange<int>(0, 60));
    case 2:
      return double(in.ConsumeIntegral<std::int32_t>()) *
             std::pow(10.0, in.ConsumeIntegralInRange<int>(-30, 30));
    default:
      return in.ConsumeFloatingPoint<double>();
  }
}

// One field rendered on its own, widths and digits of any size.
void fuzz_field(FuzzedDataProvider& in) {
  const int kind = in.ConsumeIntegralInRange<int>(0, 2);
  const int w =
      in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(1, 60) : in.ConsumeIntegral<int>();
  const int d =
      in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(0, 30) : in.ConsumeIntegral<int>();
  const std::string prefix = in.ConsumeBool() ? "x" : "";  // a field appends to what is there
  std::string out = prefix;
  // An I field has no digits after a point: d does not apply to it.
  const bool valid =
      w >= 1 && w <= kMaxWidth && (kind == 0 || (d >= (kind == 2 ? 1 : 0) && d <= kMaxWidth));
  const char name = "IFE"[kind];
  const std::string what = field_name(name, w, d);
  try {
    if (kind == 0) {
      const std::int64_t v = in.ConsumeIntegral<std::int64_t>();
      ladyzh::render_I(out, w, v);
      if (valid) check_I(std::string_view(out).substr(prefix.size()), w, v, what);
    } else {
      const double v = some_double(in);
      if (kind == 1) {
        ladyzh::render_F(out, w, d, v);
        if (valid) check_F(std::string_view(out).substr(prefix.size()), w, d, v, what);
      } else {
        ladyzh::render_E(out, w, d, v);
        if (valid) check_E(std::string_view(out).substr(prefix.size()), w, d, v, what);
      }
    }
  } catch (const RunError&) {
    if (valid) fail(what + ": a valid field was refused");
    if (out != prefix) fail(what + ": a refused field left text behind");
    return;
  }
  if (!valid) fail(what + ": an invalid field was rendered");
  if (out.size() != prefix.size() + static_cast<std::size_t>(w))
    fail(what + ": field of the wrong length");
}

std::string descriptor_text(const Descriptor& f) {
  switch (f.kind) {
    case Descriptor::Kind::X:
      return std::to_string(f.w) + "X";
    case Descriptor::Kind::I:
      return "I" + std::to_string(f.w);
    case Descriptor::Kind::F:
      return "F" + std::to_string(f.w) + "." + std::to_string(f.d);
    case Descriptor::Kind::E:
      return "E" + std::to_string(f.w) + "." + std::to_string(f.d);
  }
  return "?";
}

bool same_descriptors(const std::vector<Descriptor>& a, const std::vector<Descriptor>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (a[k].kind != b[k].kind || a[k].w != b[k].w || a[k].d != b[k].d) return false;
  }
  return true;
}

// A format string from the input, parsed, then a record of items from the input.
void fuzz_record(FuzzedDataProvider& in) {
  const std::string text = in.ConsumeRandomLengthString(200);
  Format format;
  try {
    format = Format::parse(text);
  } catch (const RunError& e) {
    if (std::string_view(e.what()).rfind("invalid format '", 0) != 0)
      fail(std::string("parse error: ") + e.what());
    return;
  }
  const auto& fields = format.descriptors();
  int value_fields = 0;
  std::string canonical = "(";
  for (const auto& f : fields) {
    if (f.w < 1 || f.w > kMaxWidth || f.d < 0 || f.d > kMaxWidth)
      fail("descriptor out of range in " + text);
    if (f.kind == Descriptor::Kind::E && f.d < 1) fail("E field without digits in " + text);
    if (f.kind != Descriptor::Kind::X) ++value_fields;
    if (canonical.size() > 1) canonical += ",";
    canonical += descriptor_text(f);
  }
  canonical += ")";
  if (value_fields != format.value_fields()) fail("value field count wrong for " + text);
  if (!same_descriptors(Format::parse(canonical).descriptors(), fields)) {
    fail("'" + canonical + "' does not parse back to the descriptors of '" + text + "'");
  }

  // Items mostly of the kinds the fields take, sometimes not, sometimes one too many or few.
  const int count = std::max(0, value_fields + in.ConsumeIntegralInRange<int>(-1, 1) *
                                                   (in.ConsumeIntegralInRange<int>(0, 7) == 0));
  std::vector<Item> items;
  bool fits = count == value_fields;
  std::size_t next = 0;
  for (int k = 0; k < count; ++k) {
    while (next < fields.size() && fields[next].kind == Descriptor::Kind::X) ++next;
    const bool integer_field = next < fields.size() && fields[next].kind == Descriptor::Kind::I;
    const int choice = in.ConsumeIntegralInRange<int>(0, 15);
    if (choice == 0) {
      items.emplace_back(std::string_view("text"));
      fits = false;
    } else if (integer_field || choice == 1) {
      items.emplace_back(in.ConsumeIntegral<std::int32_t>());  // an F or E field converts it
    } else {
      items.emplace_back(some_double(in));
      if (integer_field) fits = false;
    }
    ++next;
  }
  std::string out;
  try {
    ladyzh::append_record(out, format, items);
  } catch (const RunError& e) {
    if (fits) fail(std::string("a fitting record was refused: ") + e.what());
    if (std::string_view(e.what()).rfind("cannot write record with format '", 0) != 0) {
      fail(std::string("record error: ") + e.what());
    }
    return;
  }
  if (!fits) fail("a record with unfitting items was rendered for " + text);

  // Field by field.
  std::size_t at = 0;
  std::size_t item = 0;
  for (const auto& f : fields) {
    const std::string_view field = std::string_view(out).substr(at, static_cast<std::size_t>(f.w));
    const std::string what = text + " " + descriptor_text(f);
    if (field.size() != static_cast<std::size_t>(f.w)) fail(what + ": record too short");
    if (f.kind == Descriptor::Kind::X) {
      if (field.find_first_not_of(' ') != std::string_view::npos) fail(what + ": X is not blanks");
    } else {
      const Item& it = items[item++];
      const double v = std::holds_alternative<double>(it) ? std::get<double>(it)
                                                          : double(std::get<std::int32_t>(it));
      if (f.kind == Descriptor::Kind::I) check_I(field, f.w, std::get<std::int32_t>(it), what);
      if (f.kind == Descriptor::Kind::F) check_F(field, f.w, f.d, v, what);
      if (f.kind == Descriptor::Kind::E) check_E(field, f.w, f.d, v, what);
    }
    at += static_cast<std::size_t>(f.w);
  }
  if (at != out.size()) fail(text + ": record longer than its fields");
  if (ladyzh::format_record(text, items) != out) fail(text + ": format_record renders differently");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    while (in.remaining_bytes() > 0) fuzz_field(in);
  } else {
    fuzz_record(in);
  }
  return 0;
}
