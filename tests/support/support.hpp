// Test helpers: temporary working folders, files, and running the program.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace ladyzh::test {

// A fresh folder under the system's temporary directory, removed with its
// contents (write permissions restored first) when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Makes a folder the working directory for the object's lifetime.
class InDir {
 public:
  explicit InDir(const std::filesystem::path& dir);
  ~InDir();
  InDir(const InDir&) = delete;
  InDir& operator=(const InDir&) = delete;

 private:
  std::filesystem::path previous_;
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& text);
std::vector<std::string> split_lines(const std::string& text);  // without the '\n'

struct ProcResult {
  int status = -1;     // exit status, or 128 + signal number
  std::string out;     // standard output
  std::string err;     // standard error
};

// Runs an executable in the folder dir with the given extra environment
// entries ("NAME=value") and no standard input; waits for it.
ProcResult run_program(const std::string& exe, const std::filesystem::path& dir,
                       const std::vector<std::string>& env = {});

// The ladyzh executable of this build, and the source tree.
inline std::string ladyzh_exe() { return LADYZH_EXE; }
inline std::filesystem::path source_dir() { return LADYZH_SOURCE_DIR; }

}  // namespace ladyzh::test
