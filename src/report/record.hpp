// Records: the lines of the console and of every report file.
//
// A free-format record begins with one blank and holds its items in order: a
// text item exactly as given (its own blanks included), a number in decimal
// form after at least one blank. A formatted record is exactly what its format
// string produces for its items, nothing added in front.
//
// Format strings are written as in Fortran: a parenthesised, comma-separated
// list of the descriptors nX, Iw, Fw.d and Ew.d (letters in either case, blanks
// between descriptors ignored), for example "(e20.10,4x,e20.10)". They are
// parsed once into a Format and can then render any number of records.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ladyzh {

// One item of a record: a text, a 32-bit integer or a double.
using Item = std::variant<std::string_view, std::int32_t, double>;

// --- free-format records --------------------------------------------------

// Free-format rendering of numbers: integers in plain decimal; doubles in the
// shortest form that reads back to the same double.
std::string free_number(std::int32_t v);
std::string free_number(double v);

// Appends one free-format record (without the line end) to out.
void append_free_record(std::string& out, std::span<const Item> items);
std::string free_record(std::initializer_list<Item> items);

// --- formatted records ----------------------------------------------------

struct Descriptor {
  enum class Kind : std::uint8_t { X, I, F, E };
  Kind kind;
  int w;  // field width (nX: the number of blanks)
  int d;  // digits after the point (F, E); 0 otherwise
};

class Format {
 public:
  // Parses a format string; throws RunError naming the text and the position
  // of the first descriptor it cannot read.
  static Format parse(std::string_view text);

  const std::vector<Descriptor>& descriptors() const { return fields_; }
  std::string_view text() const { return text_; }
  // Number of descriptors that consume an item (I, F, E).
  int value_fields() const { return value_fields_; }

 private:
  std::string text_;
  std::vector<Descriptor> fields_;
  int value_fields_ = 0;
};

// Appends one formatted record (without the line end) to out. Items are taken
// by the value fields in order: an I field takes an integer, F and E take a
// double (an integer item is converted). A text item, a missing item or a left
// over item throws RunError.
void append_record(std::string& out, const Format& format, std::span<const Item> items);

// The library's public entry: renders one formatted record from a format string
// and its integer and double items.
std::string format_record(std::string_view format, std::span<const Item> items);
std::string format_record(std::string_view format, std::initializer_list<Item> items);

// --- single fields --------------------------------------------------------
// Right-justified in w characters; w asterisks when the text does not fit.

void render_I(std::string& out, int w, std::int64_t v);
void render_F(std::string& out, int w, int d, double v);
void render_E(std::string& out, int w, int d, double v);

}  // namespace ladyzh
