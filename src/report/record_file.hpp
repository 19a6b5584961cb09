// Report files: sequential text files created new in the working directory.
//
// Creation is exclusive: a file of that name that already exists, a symbolic
// link included (dangling or not), makes it fail; nothing on disk is ever
// truncated or followed. Records are buffered and written in large blocks; a
// failed write or close ends the run with a RunError naming the file.
#pragma once

#include <string>
#include <string_view>

namespace ladyzh {

class RecordFile {
 public:
  RecordFile() = default;
  explicit RecordFile(std::string name) { create(std::move(name)); }
  RecordFile(RecordFile&& other) noexcept;
  RecordFile& operator=(RecordFile&& other) noexcept;
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;
  // Closes a file still open; errors are not reported here (call close()).
  ~RecordFile();

  // Creates the file (mode 0644 less the umask); throws RunError when it exists
  // or cannot be created.
  void create(std::string name);

  // Appends one record and its line end.
  void write_line(std::string_view line);

  // The buffer that the next records go into: append whole records, each
  // followed by '\n', then call commit() so that a full buffer is written out.
  std::string& buffer() { return buffer_; }
  void commit();

  // Writes out everything buffered.
  void flush();
  // Flushes and closes; throws RunError when the data cannot be written.
  void close();

  bool is_open() const { return fd_ >= 0; }
  const std::string& name() const { return name_; }

 private:
  void write_all(const char* p, std::size_t n);
  std::string name_;
  std::string buffer_;
  int fd_ = -1;
};

// True when something of that name exists in the working directory (a
// dangling symbolic link included).
bool file_exists(const std::string& name);

}  // namespace ladyzh
