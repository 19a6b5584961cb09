// The console: progress and messages on standard output, one record per line.
// Tests redirect it with ConsoleCapture.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "report/record.hpp"

namespace ladyzh {

// Writes one line (the line end is added) to the console.
void console_line(std::string_view line);

// Writes one free-format record to the console.
void console(std::initializer_list<Item> items);

// Flushes standard output; a failed console write ends the run with a RunError.
void console_flush();

// While alive, console lines are collected here instead of going to stdout.
class ConsoleCapture {
 public:
  ConsoleCapture();
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;
  const std::string& text() const { return text_; }
  void clear() { text_.clear(); }

 private:
  friend void console_line(std::string_view);
  std::string text_;
  ConsoleCapture* previous_;
};

}  // namespace ladyzh
