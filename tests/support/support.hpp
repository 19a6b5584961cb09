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

// How run_program_with runs the child, beyond run_program's defaults.
struct RunOptions {
  std::vector<std::string> env;  // extra environment entries ("NAME=value")
  // Largest file the child may write (RLIMIT_FSIZE), in bytes; negative: no
  // limit. The limit also holds for the captured standard output and error:
  // keep it above what they receive, or send standard output elsewhere.
  long long file_size_limit = -1;
  // With a file-size limit: the child starts with SIGXFSZ ignored, so that a
  // write beyond the limit fails with EFBIG; false leaves the signal's default
  // action (ending the process), as a shell's ulimit -f does.
  bool ignore_sigxfsz = true;
  // Largest address space of the child (RLIMIT_AS), in bytes; negative: no
  // limit. An allocation beyond it fails as on a machine without the memory.
  // (AddressSanitizer reserves far more address space than any such limit.)
  long long address_space_limit = -1;
  // Where standard output goes ("/dev/null", "/dev/full", ...); empty: captured.
  std::string stdout_path;
  // When the tests run as root: run the child as the unprivileged user nobody,
  // so that permission bits apply to it (the folder must be searchable by it).
  bool unprivileged = false;
};

ProcResult run_program_with(const std::string& exe, const std::filesystem::path& dir,
                            const RunOptions& options);

// The numeric ids the child runs under when RunOptions::unprivileged is set.
constexpr unsigned unprivileged_uid = 65534;
constexpr unsigned unprivileged_gid = 65534;

// The ladyzh executable of this build, and the source tree.
inline std::string ladyzh_exe() {
  return LADYZH_EXE;
}
inline std::filesystem::path source_dir() {
  return LADYZH_SOURCE_DIR;
}

}  // namespace ladyzh::test
