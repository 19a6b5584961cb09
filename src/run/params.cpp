// Reading the parameter file para.dat and checking the parameters the solver
// cannot work with.
//
// The file holds eleven values, one per line. Each value is sought from the
// start of a new line: lines holding only blanks (spaces, tabs, CR) are passed
// over, blanks before the value are skipped, and the value ends at the first
// blank, tab, comma or line end; the rest of its line is ignored. Reading stops
// at the line of the eleventh value, so whatever follows it is never looked at.
//
// Integers are optionally signed decimal digits in the 32-bit range. Reals are
// decimal numbers with an optional sign, digits with or without a point (".5"
// and "5." included) and an optional exponent introduced by E, e, D or d; they
// convert to the nearest double. A real too large for a double is an error, one
// too small for a normal double becomes a subnormal or zero. A value longer
// than 65536 characters is refused; what follows a value on its line may be of
// any length and is passed over without being kept.
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "run/driver.hpp"
#include "run/error.hpp"

namespace ladyzh {
namespace {

enum class Kind { Integer, Real };

struct Field {
  const char* name;
  Kind kind;
};

// The eleven values in file order.
constexpr Field fields[11] = {
    {"Re", Kind::Real},        {"eps1", Kind::Real},        {"Q", Kind::Real},
    {"m", Kind::Integer},      {"L", Kind::Real},           {"r", Kind::Real},
    {"imax", Kind::Integer},   {"imax_in", Kind::Integer},  {"tol_outer", Kind::Real},
    {"tol_inner", Kind::Real}, {"iproblem", Kind::Integer},
};

// The longest value text that is read; longer ones are refused.
constexpr std::size_t kMaxValueLength = 65536;

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The text found, as it stands in an error message: bytes that do not print
// are shown as \xNN, and a long text is cut short.
std::string shown(std::string_view text) {
  constexpr std::size_t limit = 40;
  std::string out;
  for (std::size_t k = 0; k < text.size() && k < limit; ++k) {
    const unsigned char c = static_cast<unsigned char>(text[k]);
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  if (text.size() > limit) out += "...";
  return out;
}

// An optionally signed decimal integer in the 32-bit range.
std::optional<std::int32_t> parse_integer(std::string_view s, bool& out_of_range) {
  out_of_range = false;
  std::size_t k = 0;
  if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
  if (k == s.size()) return std::nullopt;
  for (std::size_t q = k; q < s.size(); ++q) {
    if (!is_digit(s[q])) return std::nullopt;
  }
  // from_chars takes a minus sign but no plus sign.
  const std::string_view digits = s[0] == '+' ? s.substr(1) : s;
  std::int32_t v = 0;
  const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (res.ec == std::errc::result_out_of_range) {
    out_of_range = true;
    return std::nullopt;
  }
  if (res.ec != std::errc() || res.ptr != digits.data() + digits.size()) return std::nullopt;
  return v;
}

// A decimal real: [sign] (digits [. [digits]] | . digits) [(E|e|D|d) [sign] digits].
// Returns nullopt when the text does not have this form; sets overflow when it
// has the form but its magnitude is beyond the largest double.
std::optional<double> parse_real(std::string_view s, bool& overflow) {
  overflow = false;
  std::size_t k = 0;
  bool negative = false;
  if (k < s.size() && (s[k] == '+' || s[k] == '-')) {
    negative = s[k] == '-';
    ++k;
  }
  // Mantissa; the decimal order of its first non-zero digit is tracked so that
  // an out-of-range result can be told apart as overflow or underflow.
  std::int64_t before_point = 0;  // digits before the point
  std::int64_t lead_zeros = 0;    // zero digits before the first non-zero digit
  bool nonzero = false;
  std::size_t mantissa_digits = 0;
  while (k < s.size() && is_digit(s[k])) {
    if (!nonzero && s[k] == '0') ++lead_zeros;
    if (s[k] != '0') nonzero = true;
    ++before_point;
    ++mantissa_digits;
    ++k;
  }
  if (k < s.size() && s[k] == '.') {
    ++k;
    while (k < s.size() && is_digit(s[k])) {
      if (!nonzero && s[k] == '0') ++lead_zeros;
      if (s[k] != '0') nonzero = true;
      ++mantissa_digits;
      ++k;
    }
  }
  if (mantissa_digits == 0) return std::nullopt;
  std::int64_t exponent = 0;
  std::size_t exp_letter = std::string_view::npos;
  if (k < s.size() && (s[k] == 'E' || s[k] == 'e' || s[k] == 'D' || s[k] == 'd')) {
    exp_letter = k;
    ++k;
    bool exp_negative = false;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) {
      exp_negative = s[k] == '-';
      ++k;
    }
    const std::size_t exp_start = k;
    while (k < s.size() && is_digit(s[k])) {
      // Saturate: any exponent beyond this bound already decides the outcome.
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (s[k] - '0');
      ++k;
    }
    if (k == exp_start) return std::nullopt;
    if (exp_negative) exponent = -exponent;
  }
  if (k != s.size()) return std::nullopt;

  // from_chars takes neither a plus sign nor the letter D.
  std::string text(s[0] == '+' ? s.substr(1) : s);
  if (exp_letter != std::string_view::npos) text[exp_letter - (s[0] == '+' ? 1 : 0)] = 'e';
  double v = 0.0;
  const auto res = std::from_chars(text.data(), text.data() + text.size(), v);
  if (res.ec == std::errc::result_out_of_range) {
    // The value is 0.d1d2... x 10^order with d1 the first non-zero digit.
    const std::int64_t order = before_point - lead_zeros + exponent;
    if (order > 0) {
      overflow = true;
      return std::nullopt;
    }
    return negative ? -0.0 : 0.0;  // below the smallest subnormal
  }
  if (res.ec != std::errc() || res.ptr != text.data() + text.size()) return std::nullopt;
  return v;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

RunParams parse_params(std::string_view text, const std::string& name) {
  RunParams p;
  double* const reals[11] = {&p.Re,   &p.eps1, &p.Q,         nullptr,      &p.L,   &p.r,
                             nullptr, nullptr, &p.tol_outer, &p.tol_inner, nullptr};
  std::int32_t* const integers[11] = {nullptr, nullptr,    nullptr, &p.m,    nullptr,    nullptr,
                                      &p.imax, &p.imax_in, nullptr, nullptr, &p.iproblem};

  std::size_t next = 0;  // start of the next line in text
  long line_no = 0;
  for (int n = 0; n < 11; ++n) {
    const Field& field = fields[n];
    const char* type = field.kind == Kind::Integer ? "an integer" : "a real";
    // Seek the next line that holds more than blanks. The last line may lack
    // its line end; an empty text after the last line end is no line.
    std::string_view line;
    std::size_t start = 0;
    for (;;) {
      if (next >= text.size()) {
        throw RunError(name + ": end of file before the value of " + field.name + " (value " +
                       std::to_string(n + 1) + " of 11)");
      }
      const std::size_t end = text.find('\n', next);
      line = end == std::string_view::npos ? text.substr(next) : text.substr(next, end - next);
      next = end == std::string_view::npos ? text.size() : end + 1;
      ++line_no;
      start = 0;
      while (start < line.size() && is_blank(line[start])) ++start;
      if (start < line.size()) break;
    }
    const std::string where = name + ", line " + std::to_string(line_no) + ": ";
    if (line[start] == ',') {
      throw RunError(where + "no value for " + field.name + " (" + type + ") before the comma");
    }
    std::size_t end = start;
    while (end < line.size() && !is_blank(line[end]) && line[end] != ',') ++end;
    const std::string_view token = line.substr(start, end - start);

    const std::string cannot =
        where + "cannot read " + field.name + " (" + type + ") from '" + shown(token) + "'";
    if (token.size() > kMaxValueLength) {
      throw RunError(cannot + ": longer than " + std::to_string(kMaxValueLength) + " characters");
    }
    if (field.kind == Kind::Integer) {
      bool out_of_range = false;
      const auto v = parse_integer(token, out_of_range);
      if (!v) {
        throw RunError(cannot + (out_of_range ? ": outside the 32-bit integer range" : ""));
      }
      *integers[n] = *v;
    } else {
      bool overflow = false;
      const auto v = parse_real(token, overflow);
      if (!v) throw RunError(cannot + (overflow ? ": too large for a double" : ""));
      *reals[n] = *v;
    }
  }
  return p;
}

// The file is read line by line up to the line of the eleventh value (the
// eleventh line that holds more than blanks) or its end, so that nothing after
// that line is ever read. Of each line only what the parser looks at is kept:
// the value, cut just beyond the longest accepted length, and the character
// that ends it; the blanks before it and the rest of the line are dropped, so
// that a huge line costs no memory. The text kept is then parsed as a whole
// and reads exactly as the file would.
RunParams read_params(const std::string& path) {
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    throw RunError("cannot open parameter file '" + path + "': " + std::strerror(errno));
  }
  std::string text;
  int value_lines = 0;
  while (value_lines < 11) {
    enum class State { Blanks, Value, Rest } state = State::Blanks;
    std::size_t kept = 0;  // characters of the value kept
    int c;
    while ((c = std::getc(file.get())) != EOF && c != '\n') {
      const char ch = static_cast<char>(c);
      if (state == State::Blanks) {
        if (is_blank(ch)) continue;
        state = State::Value;
        ++value_lines;
      }
      if (state == State::Value) {
        text += ch;
        if (is_blank(ch) || ch == ',') {
          state = State::Rest;  // the character that ends the value is kept
        } else if (++kept > kMaxValueLength) {
          // A value this long is refused however it goes on: stop reading
          // (the file may have no end, as a device has none).
          break;
        }
      }
    }
    if (kept > kMaxValueLength) break;
    if (c == EOF) {
      if (std::ferror(file.get())) {
        throw RunError("cannot read parameter file '" + path + "': " + std::strerror(errno));
      }
      break;
    }
    text += '\n';
  }
  file.reset();
  return parse_params(text, path);
}

void check_params(const RunParams& p) {
  if (p.m < 3 || p.m % 2 == 0) {
    throw RunError("m = " + std::to_string(p.m) +
                   " cannot be solved: m must be odd and at least 3 (the AGE group patterns "
                   "pair the grid lines and need an odd m >= 3)");
  }
  if (p.imax < 1) {
    throw RunError("imax = " + std::to_string(p.imax) +
                   " cannot be run: imax must be at least 1 (the outer iteration runs at least "
                   "one pass)");
  }
}

}  // namespace ladyzh
