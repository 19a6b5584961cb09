// Free-format records and the free-format rendering of numbers.
#include <charconv>
#include <cmath>
#include <string>

#include "report/record.hpp"

namespace ladyzh {

std::string free_number(std::int32_t v) { return std::to_string(v); }

// Doubles: the shortest decimal form that reads back to the same double, so no
// digit is lost; a value that comes out as a plain digit string gets ".0" so
// that it still reads as a real.
std::string free_number(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Infinity" : "Infinity";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, res.ptr);
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

void append_free_record(std::string& out, std::span<const Item> items) {
  out += ' ';
  for (const Item& item : items) {
    if (const auto* text = std::get_if<std::string_view>(&item)) {
      out += *text;
    } else if (const auto* i = std::get_if<std::int32_t>(&item)) {
      out += ' ';
      out += free_number(*i);
    } else {
      out += ' ';
      out += free_number(std::get<double>(item));
    }
  }
}

std::string free_record(std::initializer_list<Item> items) {
  std::string out;
  append_free_record(out, std::span<const Item>(items.begin(), items.size()));
  return out;
}

}  // namespace ladyzh
