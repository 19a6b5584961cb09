// Console output: one line per record on standard output, flushed line by line
// so that progress shows while a long run goes on.
#include "report/console.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "run/error.hpp"

namespace ladyzh {
namespace {
ConsoleCapture* active_capture = nullptr;
}  // namespace

void console_line(std::string_view line) {
  if (active_capture != nullptr) {
    active_capture->text_.append(line);
    active_capture->text_ += '\n';
    return;
  }
  if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() ||
      std::fputc('\n', stdout) == EOF || std::fflush(stdout) != 0) {
    throw RunError(std::string("cannot write to standard output: ") + std::strerror(errno));
  }
}

void console(std::initializer_list<Item> items) { console_line(free_record(items)); }

void console_flush() {
  if (std::fflush(stdout) != 0) {
    throw RunError(std::string("cannot write to standard output: ") + std::strerror(errno));
  }
}

ConsoleCapture::ConsoleCapture() : previous_(active_capture) { active_capture = this; }
ConsoleCapture::~ConsoleCapture() { active_capture = previous_; }

}  // namespace ladyzh
