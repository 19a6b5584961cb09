// Formatted records: a small interpreter of Fortran-style format strings and
// the rendering of the I, F and E fields.
//
// Rounding of F and E fields decides on the exact decimal value of the double:
// the first dropped digit 5 or more increases the magnitude of the last digit
// kept, so an exact tie rounds away from zero. std::to_chars rounds the exact
// value correctly but sends exact ties to the even digit; the two rules differ
// only on an exact tie whose lower neighbour is even, and whether the double is
// such a tie is decided exactly from its binary mantissa and exponent with a
// few integer operations. No case needs more than one to_chars call.
#include "report/record.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "run/error.hpp"

namespace ladyzh {
namespace {

// Widths, digit counts and blank counts beyond this are refused when parsing;
// they bound the scratch buffers of the field renderers.
constexpr int kMaxWidth = 1000;

constexpr std::array<double, 309> kPow10 = [] {
  std::array<double, 309> t{};
  double p = 1;
  for (double& x : t) {
    x = p;
    if (&x != &t.back()) p *= 10;
  }
  return t;
}();

void put_field(std::string& out, int w, const char* text, std::size_t len) {
  if (len > static_cast<std::size_t>(w)) {
    out.append(static_cast<std::size_t>(w), '*');
    return;
  }
  out.append(static_cast<std::size_t>(w) - len, ' ');
  out.append(text, len);
}

// NaN and infinities: "NaN", "Infinity" / "-Infinity", or "Inf" / "-Inf" when
// the longer text does not fit; asterisks when neither fits.
void put_non_finite(std::string& out, int w, double v) {
  if (std::isnan(v)) {
    put_field(out, w, "NaN", 3);
    return;
  }
  const bool neg = v < 0;
  const char* longer = neg ? "-Infinity" : "Infinity";
  const char* shorter = neg ? "-Inf" : "Inf";
  const std::size_t n = std::strlen(longer);
  if (n <= static_cast<std::size_t>(w)) {
    put_field(out, w, longer, n);
  } else {
    put_field(out, w, shorter, std::strlen(shorter));
  }
}

// True when |v| * 10^s lies exactly halfway between two integers K and K + 1
// with K even: the one case where rounding to even (to_chars) keeps K while the
// field rules want K + 1. v is finite and nonzero.
//
// With |v| = m * 2^e, m odd: N = 2 * |v| * 10^s = m * 5^s * 2^(e + 1 + s), and
// the tie means N = 2K + 1 is an odd integer. For s >= 0 that holds exactly when
// e + 1 + s = 0; for s < 0 it also needs 5^(-s) to divide m, impossible once
// 5^(-s) exceeds the 53-bit m. As 5 = 1 (mod 4), N = m (mod 4) in both cases,
// and K is even exactly when N = 1 (mod 4).
bool tie_kept_even(double v, int s) {
  const auto bits = std::bit_cast<std::uint64_t>(v);
  const int field = static_cast<int>((bits >> 52) & 0x7ff);
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  int e;
  if (field == 0) {
    e = -1074;
  } else {
    m |= std::uint64_t{1} << 52;
    e = field - 1075;
  }
  const int tz = std::countr_zero(m);
  m >>= tz;
  e += tz;
  if (e + 1 + s != 0 || (m & 3) != 1) return false;
  if (s >= 0) return true;
  if (-s > 22) return false;  // 5^23 > 2^53
  std::uint64_t p = 1;
  for (int k = 0; k < -s; ++k) p *= 5;
  return m % p == 0;
}

// The renderers are public: a field they cannot render (the parser never
// produces one) is refused rather than overrunning their buffers.
void check_field(char kind, int w, int d, int min_d) {
  if (w < 1 || w > kMaxWidth || d < min_d || d > kMaxWidth) [[unlikely]] {
    throw RunError(std::string("cannot render a field ") + kind + std::to_string(w) + "." +
                   std::to_string(d) + ": width or digits out of range");
  }
}

}  // namespace

// --- single fields --------------------------------------------------------

void render_I(std::string& out, int w, std::int64_t v) {
  check_field('I', w, 0, 0);
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  put_field(out, w, buf, static_cast<std::size_t>(res.ptr - buf));
}

void render_F(std::string& out, int w, int d, double v) {
  check_field('F', w, d, 0);
  if (!std::isfinite(v)) {
    put_non_finite(out, w, v);
    return;
  }
  const double a = std::fabs(v);
  // About w + 1 integer digits or more: cannot fit, and would need a large
  // buffer. (The table's powers are inexact above 10^22, which does not matter:
  // anything near 10^w has at least w integer digits, too many with the point.)
  if (w < static_cast<int>(kPow10.size()) && a >= kPow10[static_cast<std::size_t>(w)]) {
    out.append(static_cast<std::size_t>(w), '*');
    return;
  }
  char buf[2 * kMaxWidth + 16];
  char* const digits = buf + 1;  // room for the sign in front
  const auto res = std::to_chars(digits, buf + sizeof buf, a, std::chars_format::fixed, d);
  char* end = res.ptr;
  if (a != 0 && (end[-1] - '0') % 2 == 0 && tie_kept_even(a, d)) {
    ++end[-1];  // an even digit: no carry
  }
  // The integer part: to_chars writes "0" when it is zero; that digit is
  // dropped (kept only for F w.0, where nothing else would show).
  char* start = digits;
  if (digits[0] == '0' && d > 0) ++start;
  bool all_zero = true;
  for (const char* p = digits; p != end; ++p) {
    if (*p >= '1' && *p <= '9') {
      all_zero = false;
      break;
    }
  }
  if (d == 0) *end++ = '.';
  if (std::signbit(v) && !all_zero) *--start = '-';
  put_field(out, w, start, static_cast<std::size_t>(end - start));
}

void render_E(std::string& out, int w, int d, double v) {
  check_field('E', w, d, 1);
  if (!std::isfinite(v)) {
    put_non_finite(out, w, v);
    return;
  }
  char buf[kMaxWidth + 16];
  char* p = buf;
  if (v == 0) {
    *p++ = '.';
    std::memset(p, '0', static_cast<std::size_t>(d));
    p += d;
    std::memcpy(p, "E+00", 4);
    p += 4;
    put_field(out, w, buf, static_cast<std::size_t>(p - buf));
    return;
  }
  const double a = std::fabs(v);
  // to_chars gives d significant digits as "D.DDDe+XX" (or "De+XX" for d = 1),
  // the value being D.DDD * 10^XX; written here as .DDDD * 10^(XX + 1).
  char sci[kMaxWidth + 16];
  const auto res = std::to_chars(sci, sci + sizeof sci, a, std::chars_format::scientific, d - 1);
  const char* epos = sci + (d == 1 ? 1 : d + 1);
  int x = 0;
  std::from_chars(epos + 2, res.ptr, x);
  if (epos[1] == '-') x = -x;

  if (v < 0) *p++ = '-';
  *p++ = '.';
  *p++ = sci[0];
  if (d > 1) {
    std::memcpy(p, sci + 2, static_cast<std::size_t>(d - 1));
    p += d - 1;
  }
  if ((p[-1] - '0') % 2 == 0 && tie_kept_even(a, d - 1 - x)) {
    ++p[-1];  // an even digit: no carry
  }
  const int ex = x + 1;
  const int mag = ex < 0 ? -ex : ex;
  if (mag > 99) {
    *p++ = ex < 0 ? '-' : '+';
    *p++ = static_cast<char>('0' + mag / 100);
    *p++ = static_cast<char>('0' + mag / 10 % 10);
    *p++ = static_cast<char>('0' + mag % 10);
  } else {
    *p++ = 'E';
    *p++ = ex < 0 ? '-' : '+';
    *p++ = static_cast<char>('0' + mag / 10);
    *p++ = static_cast<char>('0' + mag % 10);
  }
  put_field(out, w, buf, static_cast<std::size_t>(p - buf));
}

// --- format strings -------------------------------------------------------

namespace {

[[noreturn]] void parse_error(std::string_view text, std::size_t pos, const std::string& what) {
  throw RunError("invalid format '" + std::string(text) + "' at position " +
                 std::to_string(pos + 1) + ": " + what);
}

class FormatParser {
 public:
  explicit FormatParser(std::string_view text) : text_(text) {}

  std::vector<Descriptor> run() {
    std::vector<Descriptor> out;
    skip_blanks();
    if (!take('(')) parse_error(text_, pos_, "expected '('");
    skip_blanks();
    if (take(')')) return finish(out);
    for (;;) {
      out.push_back(descriptor());
      skip_blanks();
      if (take(')')) return finish(out);
      if (!take(',')) parse_error(text_, pos_, "expected ',' or ')'");
      skip_blanks();
    }
  }

 private:
  std::vector<Descriptor> finish(std::vector<Descriptor>& out) {
    skip_blanks();
    if (pos_ != text_.size()) parse_error(text_, pos_, "text after the closing ')'");
    return std::move(out);
  }

  Descriptor descriptor() {
    const std::size_t start = pos_;
    if (digit()) {
      const int n = number("blank count");
      if (!take('x') && !take('X')) {
        parse_error(text_, pos_, "expected X after the count " + std::to_string(n));
      }
      if (n < 1) parse_error(text_, start, "a blank count must be at least 1");
      return {Descriptor::Kind::X, n, 0};
    }
    if (pos_ >= text_.size()) parse_error(text_, pos_, "expected a descriptor");
    const char c = text_[pos_];
    Descriptor::Kind kind;
    switch (c) {
      case 'i':
      case 'I':
        kind = Descriptor::Kind::I;
        break;
      case 'f':
      case 'F':
        kind = Descriptor::Kind::F;
        break;
      case 'e':
      case 'E':
        kind = Descriptor::Kind::E;
        break;
      default:
        parse_error(text_, pos_, "expected a descriptor nX, Iw, Fw.d or Ew.d");
    }
    ++pos_;
    if (!digit()) parse_error(text_, pos_, "expected the field width");
    const std::size_t wpos = pos_;
    const int w = number("field width");
    if (w < 1) parse_error(text_, wpos, "the field width must be at least 1");
    if (kind == Descriptor::Kind::I) return {kind, w, 0};
    if (!take('.')) parse_error(text_, pos_, "expected '.' and the number of digits");
    if (!digit()) parse_error(text_, pos_, "expected the number of digits");
    const std::size_t dpos = pos_;
    const int d = number("number of digits");
    if (kind == Descriptor::Kind::E && d < 1) {
      parse_error(text_, dpos, "an E field needs at least one digit");
    }
    return {kind, w, d};
  }

  int number(const char* what) {
    const std::size_t start = pos_;
    long n = 0;
    while (digit()) {
      n = n * 10 + (text_[pos_] - '0');
      if (n > kMaxWidth) {
        parse_error(text_, start,
                    std::string("the ") + what + " exceeds " + std::to_string(kMaxWidth));
      }
      ++pos_;
    }
    return static_cast<int>(n);
  }

  bool digit() const { return pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9'; }

  bool take(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  void skip_blanks() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

std::string descriptor_text(const Descriptor& f) {
  std::string t;
  switch (f.kind) {
    case Descriptor::Kind::X:
      t.append(std::to_string(f.w)).append("X");
      return t;
    case Descriptor::Kind::I:
      t.append("I").append(std::to_string(f.w));
      return t;
    case Descriptor::Kind::F:
      t.append("F");
      break;
    case Descriptor::Kind::E:
      t.append("E");
      break;
  }
  t.append(std::to_string(f.w)).append(".").append(std::to_string(f.d));
  return t;
}

[[noreturn]] void item_error(const Format& format, std::size_t item, const std::string& what) {
  throw RunError("cannot write record with format '" + std::string(format.text()) + "': item " +
                 std::to_string(item + 1) + " " + what);
}

}  // namespace

Format Format::parse(std::string_view text) {
  Format f;
  f.text_ = std::string(text);
  f.fields_ = FormatParser(text).run();
  for (const Descriptor& d : f.fields_) {
    if (d.kind != Descriptor::Kind::X) ++f.value_fields_;
  }
  return f;
}

void append_record(std::string& out, const Format& format, std::span<const Item> items) {
  std::size_t next = 0;
  for (const Descriptor& f : format.descriptors()) {
    if (f.kind == Descriptor::Kind::X) {
      out.append(static_cast<std::size_t>(f.w), ' ');
      continue;
    }
    if (next >= items.size()) item_error(format, next, "is missing for " + descriptor_text(f));
    const Item& item = items[next];
    if (f.kind == Descriptor::Kind::I) {
      const auto* i = std::get_if<std::int32_t>(&item);
      if (i == nullptr) {
        item_error(format, next,
                   std::string("for ") + descriptor_text(f) + " is " +
                       (std::holds_alternative<double>(item) ? "a double" : "a text") +
                       ", not an integer");
      }
      render_I(out, f.w, *i);
    } else {
      double v;
      if (const auto* dv = std::get_if<double>(&item)) {
        v = *dv;
      } else if (const auto* i = std::get_if<std::int32_t>(&item)) {
        v = *i;
      } else {
        item_error(format, next, "for " + descriptor_text(f) + " is a text, not a number");
      }
      if (f.kind == Descriptor::Kind::F) {
        render_F(out, f.w, f.d, v);
      } else {
        render_E(out, f.w, f.d, v);
      }
    }
    ++next;
  }
  if (next < items.size()) {
    item_error(format, next,
               "is left over: the format has " + std::to_string(format.value_fields()) +
                   " value fields for " + std::to_string(items.size()) + " items");
  }
}

std::string format_record(std::string_view format, std::span<const Item> items) {
  std::string out;
  append_record(out, Format::parse(format), items);
  return out;
}

std::string format_record(std::string_view format, std::initializer_list<Item> items) {
  return format_record(format, std::span<const Item>(items.begin(), items.size()));
}

}  // namespace ladyzh
