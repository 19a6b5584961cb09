// Fuzzing the reader of para.dat. Every text either reads as eleven values or
// ends with one RunError line naming the file; nothing else may happen. What
// reads is checked further:
//  - the values written back in plain form read again to the same values, bit
//    for bit (so no value is read loosely, nor a sign or a subnormal lost);
//  - the file reader, which keeps only the value of each line and stops at the
//    line of the eleventh value, gives the same values or the same message as
//    the parser on the whole text.
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "run/driver.hpp"
#include "run/error.hpp"
#include "run/params.hpp"

namespace {

using ladyzh::RunError;
using ladyzh::RunParams;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_params: %s\n", what.c_str());
  std::abort();
}

struct Outcome {
  bool ok = false;
  RunParams params;
  std::string message;
};

template <class Read>
Outcome outcome_of(Read read) {
  Outcome o;
  try {
    o.params = read();
    o.ok = true;
  } catch (const RunError& e) {
    o.message = e.what();
  }
  return o;
}

bool same(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same(const RunParams& a, const RunParams& b) {
  return same(a.Re, b.Re) && same(a.eps1, b.eps1) && same(a.Q, b.Q) && a.m == b.m &&
         same(a.L, b.L) && same(a.r, b.r) && a.imax == b.imax && a.imax_in == b.imax_in &&
         same(a.tol_outer, b.tol_outer) && same(a.tol_inner, b.tol_inner) &&
         a.iproblem == b.iproblem;
}

std::string plain(double v) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

std::string written_back(const RunParams& p) {
  std::string t;
  for (const double v : {p.Re, p.eps1, p.Q}) t += plain(v) + "\n";
  t += std::to_string(p.m) + "\n";
  for (const double v : {p.L, p.r}) t += plain(v) + "\n";
  t += std::to_string(p.imax) + "\n" + std::to_string(p.imax_in) + "\n";
  for (const double v : {p.tol_outer, p.tol_inner}) t += plain(v) + "\n";
  t += std::to_string(p.iproblem) + "\n";
  return t;
}

void check_message(const std::string& message, const std::string& name) {
  if (message.rfind(name, 0) != 0) fail("message does not name the file: " + message);
  if (message.find('\n') != std::string::npos) fail("message of more than one line: " + message);
  // The text found is cut short in a message, whatever the input.
  if (message.size() > 400) fail("message of " + std::to_string(message.size()) + " characters");
}

// The text as a file without a name on disk, for read_params.
class MemoryFile {
 public:
  explicit MemoryFile(std::string_view text) {
    fd_ = memfd_create("para.dat", MFD_CLOEXEC);
    if (fd_ < 0) fail("memfd_create failed");
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(fd_, text.data() + done, text.size() - done);
      if (n <= 0) fail("write to the memory file failed");
      done += static_cast<std::size_t>(n);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() { close(fd_); }
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string name = "para.dat";
  const Outcome parsed = outcome_of([&] { return ladyzh::parse_params(text, name); });
  if (!parsed.ok) {
    check_message(parsed.message, name);
  } else {
    const std::string again = written_back(parsed.params);
    const Outcome reread = outcome_of([&] { return ladyzh::parse_params(again, name); });
    if (!reread.ok) fail("values written back do not read: " + reread.message);
    if (!same(reread.params, parsed.params))
      fail("values written back read differently:\n" + again);
  }

  const MemoryFile file(text);
  const Outcome from_file = outcome_of([&] { return ladyzh::read_params(file.path()); });
  const Outcome whole = outcome_of([&] { return ladyzh::parse_params(text, file.path()); });
  if (from_file.ok != whole.ok) {
    fail("file reader and parser disagree: " + from_file.message + " | " + whole.message);
  }
  if (from_file.ok ? !same(from_file.params, whole.params) : from_file.message != whole.message) {
    fail("file reader and parser disagree: '" + from_file.message + "' | '" + whole.message + "'");
  }
  return 0;
}
