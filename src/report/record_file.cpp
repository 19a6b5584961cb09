// Report files: created exclusively, written in large blocks through write(2).
#include "report/record_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "run/error.hpp"

namespace ladyzh {
namespace {

// The buffer is written out once it holds more than this.
constexpr std::size_t kFlushSize = std::size_t{1} << 20;

[[noreturn]] void file_error(const char* what, const std::string& name, int err) {
  throw RunError(std::string("cannot ") + what + " report file '" + name +
                 "': " + std::strerror(err));
}

}  // namespace

RecordFile::RecordFile(RecordFile&& other) noexcept
    : name_(std::move(other.name_)),
      buffer_(std::move(other.buffer_)),
      fd_(std::exchange(other.fd_, -1)) {}

RecordFile& RecordFile::operator=(RecordFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    name_ = std::move(other.name_);
    buffer_ = std::move(other.buffer_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

// Whatever is still buffered is written on a best-effort basis; a failure can
// no longer be reported here (close() reports it).
RecordFile::~RecordFile() {
  if (fd_ < 0) return;
  try {
    flush();
  } catch (...) {
  }
  ::close(fd_);
}

void RecordFile::create(std::string name) {
  if (fd_ >= 0) throw RunError("cannot create report file '" + name + "': a file is still open");
  // O_EXCL with O_CREAT fails on any existing name, a symbolic link included
  // (dangling or not): nothing is truncated and no link is followed.
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) file_error("create", name, errno);
  fd_ = fd;
  name_ = std::move(name);
  buffer_.clear();
  buffer_.reserve(kFlushSize + (kFlushSize >> 4));
}

void RecordFile::write_line(std::string_view line) {
  buffer_.append(line);
  buffer_ += '\n';
  commit();
}

void RecordFile::commit() {
  if (buffer_.size() > kFlushSize) flush();
}

void RecordFile::flush() {
  if (fd_ < 0) {
    if (buffer_.empty()) return;
    throw RunError("cannot write report file '" + name_ + "': the file is not open");
  }
  if (buffer_.empty()) return;
  try {
    write_all(buffer_.data(), buffer_.size());
  } catch (...) {
    buffer_.clear();  // the run ends; the destructor must not write it again
    throw;
  }
  buffer_.clear();
}

void RecordFile::close() {
  if (fd_ < 0) return;
  try {
    flush();
  } catch (...) {
    ::close(std::exchange(fd_, -1));
    buffer_.clear();
    throw;
  }
  // After close(2) the descriptor is released whatever the result (Linux), so
  // it is never retried; an interruption loses nothing already written.
  if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) file_error("close", name_, errno);
}

void RecordFile::write_all(const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t k = ::write(fd_, p, n);
    if (k < 0) {
      if (errno == EINTR) continue;
      file_error("write", name_, errno);
    }
    if (k == 0) file_error("write", name_, EIO);
    p += k;
    n -= static_cast<std::size_t>(k);
  }
}

bool file_exists(const std::string& name) {
  struct stat st;
  return ::lstat(name.c_str(), &st) == 0;
}

}  // namespace ladyzh
