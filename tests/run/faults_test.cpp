// The whole program under faults of its input and of the file system: every
// fault ends the run with one line on stderr and a non-zero status, no crash,
// and leaves every file that was there before the run as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/support.hpp"

namespace ladyzh {
namespace {

using test::ladyzh_exe;
using test::ProcResult;
using test::read_file;
using test::run_program;
using test::run_program_with;
using test::RunOptions;
using test::TempDir;
using test::write_file;

namespace fs = std::filesystem;

// A parameter file, one value per line; set(n, text) replaces value n (1-based).
struct Params {
  std::vector<std::string> lines = {"10 Re",        "0.5 eps1",     "3.0 Q",     "9 m",
                                    "1.0 L",        "0.7 r",        "1 imax",    "1 imax_in",
                                    "1e-8 tol_out", "1e-10 tol_in", "2 iproblem"};
  Params& set(int n, const std::string& text) {
    lines[static_cast<std::size_t>(n - 1)] = text;
    return *this;
  }
  std::string text() const {
    std::string t;
    for (const auto& l : lines) t += l + "\n";
    return t;
  }
};

// What lies in a folder, recursively, without following symbolic links: per
// relative path its kind and its content (file bytes, link target, nothing).
using Snapshot = std::map<std::string, std::string>;

Snapshot snapshot(const fs::path& dir) {
  Snapshot s;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::end(it); ++it) {
    const fs::path& p = it->path();
    const std::string rel = fs::relative(p, dir).string();
    struct stat st;
    if (lstat(p.c_str(), &st) != 0) {
      s[rel] = "vanished";
      continue;
    }
    if (S_ISLNK(st.st_mode)) {
      s[rel] = "link -> " + fs::read_symlink(p).string();
    } else if (S_ISDIR(st.st_mode)) {
      s[rel] = "directory";
    } else if (S_ISREG(st.st_mode)) {
      s[rel] = "file: " + read_file(p);
    } else if (S_ISFIFO(st.st_mode)) {
      s[rel] = "fifo";
    } else {
      s[rel] = "other";
    }
  }
  return s;
}

// Every entry of before is in after unchanged; the entries after adds are
// named in created.
void expect_kept(const Snapshot& before, const Snapshot& after,
                 const std::set<std::string>& created = {}) {
  for (const auto& [name, what] : before) {
    const auto it = after.find(name);
    if (it == after.end()) {
      ADD_FAILURE() << name << " is gone";
    } else if (it->second != what) {
      ADD_FAILURE() << name << " changed: " << it->second.substr(0, 80);
    }
  }
  for (const auto& [name, what] : after) {
    if (before.count(name) == 0 && created.count(name) == 0) {
      ADD_FAILURE() << name << " was created: " << what.substr(0, 80);
    }
  }
}

// A run that ended early: a status of its own (not a signal), and one line on
// stderr, the program's, holding the expected text.
void expect_clean_failure(const ProcResult& r, const std::string& message) {
  EXPECT_GE(r.status, 1);
  EXPECT_LE(r.status, 125) << "ended by a signal or not run at all";
  ASSERT_FALSE(r.err.empty());
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(r.err.back(), '\n') << r.err;
  EXPECT_EQ(r.err.rfind("ladyzh: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(message), std::string::npos) << "expected '" << message << "' in\n" << r.err;
}

// Runs the program as the unprivileged user when the tests run as root. The
// user may not reach the build folder, so the program runs from a copy in a
// folder anyone can read.
ProcResult run_unprivileged(const fs::path& dir) {
  static const TempDir bin;
  static const fs::path exe = [] {
    const fs::path to = bin / "ladyzh";
    fs::copy_file(ladyzh_exe(), to);
    fs::permissions(bin.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    return to;
  }();
  RunOptions options;
  options.unprivileged = true;
  const ProcResult r = run_program_with(exe.string(), dir, options);
  EXPECT_NE(r.status, 126) << "the program could not be started as an unprivileged user";
  EXPECT_NE(r.status, 127) << "the program could not be started as an unprivileged user";
  return r;
}

// A folder that anyone may enter: the unprivileged user must reach para.dat.
void open_to_all(const fs::path& dir) {
  fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
}

// --- the parameter file -----------------------------------------------------

TEST(Faults, ParameterFileThatCannotBeUsed) {
  std::string forty_nuls;
  for (int k = 0; k < 40; ++k) forty_nuls += "\\x00";
  struct Case {
    const char* what;
    // Lays out para.dat in dir (and anything it points to in outside).
    void (*make)(const fs::path& dir, const fs::path& outside);
    std::string message;  // the whole line after "ladyzh: "
  };
  const std::vector<Case> cases = {
      {"missing", [](const fs::path&, const fs::path&) {},
       "cannot open parameter file 'para.dat': No such file or directory"},
      {"a directory",
       [](const fs::path& d, const fs::path&) { fs::create_directory(d / "para.dat"); },
       "cannot read parameter file 'para.dat': Is a directory"},
      {"a dangling symbolic link",
       [](const fs::path& d, const fs::path& o) { fs::create_symlink(o / "gone", d / "para.dat"); },
       "cannot open parameter file 'para.dat': No such file or directory"},
      {"empty", [](const fs::path& d, const fs::path&) { write_file(d / "para.dat", ""); },
       "para.dat: end of file before the value of Re (value 1 of 11)"},
      {"blank lines only",
       [](const fs::path& d, const fs::path&) { write_file(d / "para.dat", "\n \t\r\n\n   "); },
       "para.dat: end of file before the value of Re (value 1 of 11)"},
      {"truncated after five values",
       [](const fs::path& d, const fs::path&) {
         const std::string t = Params().text();
         write_file(d / "para.dat", t.substr(0, t.find("0.7 r")));
       },
       "para.dat: end of file before the value of r (value 6 of 11)"},
      {"truncated inside a number",
       [](const fs::path& d, const fs::path&) {
         const std::string t = Params().text();
         write_file(d / "para.dat", t.substr(0, t.find("1e-8") + 3));  // ends "1e-"
       },
       "para.dat, line 9: cannot read tol_outer (a real) from '1e-'"},
      {"binary garbage",
       [](const fs::path& d, const fs::path&) {
         write_file(d / "para.dat", std::string("\x7f"
                                                "ELF\x02\x01\x01\0\0\0 \n\xff\xfe",
                                                15));
       },
       "para.dat, line 1: cannot read Re (a real) from '\\x7FELF\\x02\\x01\\x01\\x00\\x00\\x00'"},
      {"a value of 10 MB",
       [](const fs::path& d, const fs::path&) {
         Params p;
         p.set(4, std::string(10'000'000, '7'));
         write_file(d / "para.dat", p.text());
       },
       "para.dat, line 4: cannot read m (an integer) from '" + std::string(40, '7') +
           "...': longer than 65536 characters"},
      // A device without end: the reader stops at the length limit of a value.
      {"a link to an endless device",
       [](const fs::path& d, const fs::path&) { fs::create_symlink("/dev/zero", d / "para.dat"); },
       "para.dat, line 1: cannot read Re (a real) from '" + forty_nuls +
           "...': longer than 65536 characters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    TempDir outside;
    c.make(dir.path(), outside.path());
    const Snapshot before = snapshot(dir.path());
    const Snapshot outside_before = snapshot(outside.path());
    const ProcResult r = run_program(ladyzh_exe(), dir.path());
    expect_clean_failure(r, c.message);
    EXPECT_EQ(r.err, "ladyzh: " + c.message + "\n");
    EXPECT_EQ(r.out, "") << "nothing is echoed before every value is read";
    expect_kept(before, snapshot(dir.path()));
    expect_kept(outside_before, snapshot(outside.path()));
  }
}

// Permission bits do not stop root: as root the program runs as nobody here.
TEST(Faults, ParameterFileWithoutReadPermission) {
  TempDir dir;
  open_to_all(dir.path());
  write_file(dir / "para.dat", Params().text());
  fs::permissions(dir / "para.dat", fs::perms::none);
  const Snapshot before = snapshot(dir.path());
  const ProcResult r = run_unprivileged(dir.path());
  expect_clean_failure(r, "cannot open parameter file 'para.dat': Permission denied");
  EXPECT_EQ(r.out, "");
  expect_kept(before, snapshot(dir.path()));
}

// Lines of any length around the values are passed over without being kept.
TEST(Faults, HugeLinesAroundTheValuesReadLikeShortOnes) {
  Params p;
  p.set(1, "10 " + std::string(10'000'000, 'x'));
  p.lines.insert(p.lines.begin() + 3, std::string(10'000'000, ' '));
  p.set(12, "2 " + std::string(10'000'000, '\xff'));
  TempDir dir;
  write_file(dir / "para.dat", p.text());
  const ProcResult r = run_program(ladyzh_exe(), dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.rfind(" Re 10.0\n eps1 0.5\n Q 3.0\n m 9\n", 0), 0u) << r.out.substr(0, 200);
  EXPECT_TRUE(fs::exists(dir / "data"));
}

// --- parameters the run cannot work with --------------------------------------

TEST(Faults, ValuesOutOfRange) {
  struct Case {
    int line;
    std::string value;
    const char* message;
  };
  const std::vector<Case> cases = {
      {4, "-7", "m = -7 cannot be solved: m must be odd and at least 3"},
      {4, "12", "m = 12 cannot be solved: m must be odd and at least 3"},
      {4, "4294967297",
       "para.dat, line 4: cannot read m (an integer) from '4294967297': outside "
       "the 32-bit integer range"},
      {7, "-1", "imax = -1 cannot be run: imax must be at least 1"},
      {1, "1e400",
       "para.dat, line 1: cannot read Re (a real) from '1e400': too large for a double"},
      // Index ranges up to m + 2 leave the 32-bit range.
      {4, "2147483647", "cannot allocate the arrays of the run: m = 2147483647 is too large"},
      // Arrays beyond the machine's memory, in the grid (m) or the statistics (imax).
      {4, "1000001", "cannot allocate the arrays of the run: m = 1000001, imax = 1 needs "},
      {7, "2147483647", "cannot allocate the arrays of the run: m = 9, imax = 2147483647 needs "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    TempDir dir;
    write_file(dir / "para.dat", Params().set(c.line, c.value).text());
    const Snapshot before = snapshot(dir.path());
    const ProcResult r = run_program(ladyzh_exe(), dir.path());
    expect_clean_failure(r, c.message);
    expect_kept(before, snapshot(dir.path()));  // no report file, step included
  }
}

// The memory a run needs: about sixteen m x m arrays of doubles (four coupling
// arrays, three right-hand side and coefficient arrays, the four fields with
// halo, two determinant arrays, three work arrays of the inner solver), against
// the machine's physical memory.
TEST(Faults, RunBeyondTheMachinesMemoryNamesBothSizes) {
  TempDir dir;
  const double m = 1000001;
  write_file(dir / "para.dat", Params().set(4, "1000001").text());
  const ProcResult r = run_program(ladyzh_exe(), dir.path());
  expect_clean_failure(r, "cannot allocate the arrays of the run: m = 1000001");
  double need = 0, have = 0;
  const auto at = r.err.find("needs ");
  ASSERT_NE(at, std::string::npos) << r.err;
  ASSERT_EQ(std::sscanf(r.err.c_str() + at, "needs %lf GiB, the machine has %lf GiB of memory",
                        &need, &have),
            2)
      << r.err;
  const double gib = 1024.0 * 1024.0 * 1024.0;
  EXPECT_NEAR(need, 16 * 8 * m * m / gib, 1e-4 * need);
  EXPECT_NEAR(have, double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGESIZE)) / gib, 0.051);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool address_sanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool address_sanitizer = true;
#else
constexpr bool address_sanitizer = false;
#endif
#else
constexpr bool address_sanitizer = false;
#endif

// Arrays that fit the machine's memory but not the memory the process may
// have: the allocation itself fails, before step is created.
TEST(Faults, ArraysThatCannotBeAllocated) {
  if (address_sanitizer) {
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit of this test";
  }
  TempDir dir;
  write_file(dir / "para.dat", Params().set(4, "4001").text());  // about 2 GB of arrays
  const Snapshot before = snapshot(dir.path());
  RunOptions options;
  options.address_space_limit = 256LL << 20;
  const ProcResult r = run_program_with(ladyzh_exe(), dir.path(), options);
  expect_clean_failure(r, "cannot allocate a grid array of ");
  expect_kept(before, snapshot(dir.path()));
}

// --- report files already there -----------------------------------------------

TEST(Faults, ExistingReportsAreNeverFollowedNorTruncated) {
  struct Kind {
    const char* what;
    void (*make)(const fs::path& at, const fs::path& outside);
  };
  const std::vector<Kind> kinds = {
      {"a directory",
       [](const fs::path& at, const fs::path&) {
         fs::create_directory(at);
         write_file(at / "inside", "inside\n");
       }},
      {"a link to a file",
       [](const fs::path& at, const fs::path& o) {
         write_file(o / "target", "target\n");
         fs::create_symlink(o / "target", at);
       }},
      {"a link to nothing",
       [](const fs::path& at, const fs::path& o) { fs::create_symlink(o / "absent", at); }},
      {"a link to a directory",
       [](const fs::path& at, const fs::path& o) {
         fs::create_directory(o / "folder");
         fs::create_directory_symlink(o / "folder", at);
       }},
      {"a relative link to para.dat",
       [](const fs::path& at, const fs::path&) { fs::create_symlink("para.dat", at); }},
      {"a named pipe", [](const fs::path& at, const fs::path&) { mkfifo(at.c_str(), 0644); }},
  };
  for (const char* name : {"step", "result", "data"}) {
    for (const auto& k : kinds) {
      SCOPED_TRACE(std::string(name) + " is " + k.what);
      TempDir dir;
      TempDir outside;
      write_file(dir / "para.dat", Params().text());
      k.make(dir / name, outside.path());
      const Snapshot before = snapshot(dir.path());
      const Snapshot outside_before = snapshot(outside.path());
      const ProcResult r = run_program(ladyzh_exe(), dir.path());
      expect_clean_failure(r, std::string("report file '") + name + "' already exists");
      expect_kept(before, snapshot(dir.path()));
      expect_kept(outside_before, snapshot(outside.path()));
    }
  }
}

// --- the working folder and writes that fail ------------------------------------

// Sets the immutable attribute of a folder for the object's lifetime: not even
// root can create a file in it.
class Immutable {
 public:
  explicit Immutable(const fs::path& dir) : dir_(dir) {
    ok_ = change(true);
    if (!ok_) why_ = std::strerror(errno);
  }
  ~Immutable() {
    if (ok_) change(false);
  }
  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }

 private:
  bool change(bool on) {
    const int fd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
      flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
      done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    const int err = errno;
    close(fd);
    errno = err;
    return done;
  }
  fs::path dir_;
  bool ok_ = false;
  std::string why_;
};

TEST(Faults, WorkingFolderNotWritable) {
  // Without write permission: as root the program runs as nobody, for whom the
  // permission bits hold.
  {
    SCOPED_TRACE("no write permission");
    TempDir dir;
    write_file(dir / "para.dat", Params().text());
    open_to_all(dir.path());
    fs::permissions(dir.path(), fs::perms::owner_write, fs::perm_options::remove);
    const Snapshot before = snapshot(dir.path());
    const ProcResult r = run_unprivileged(dir.path());
    expect_clean_failure(r, "cannot create report file 'step': Permission denied");
    expect_kept(before, snapshot(dir.path()));
  }
  // An immutable folder stops root too.
  {
    SCOPED_TRACE("immutable folder");
    TempDir dir;
    write_file(dir / "para.dat", Params().text());
    const Snapshot before = snapshot(dir.path());
    Immutable immutable(dir.path());
    if (!immutable.ok()) {
      GTEST_SKIP() << "the file system or the user cannot make a folder immutable: "
                   << immutable.why();
    }
    const ProcResult r = run_program(ladyzh_exe(), dir.path());
    expect_clean_failure(r, "cannot create report file 'step': Operation not permitted");
    expect_kept(before, snapshot(dir.path()));
  }
}

// The writes of one report fail part way. Three runs are set up so that a
// different report is the first one whose writes go beyond the limit:
//  - step: 200 passes of m = 9 fill the step report's 1 MiB buffer during the
//    passes (each section lists every pass so far), before result and data exist;
//  - result: m = 99 in one pass writes about 460 kB of result, then 950 kB of data;
//  - data: the same with a limit that result stays under.
struct PartWay {
  const char* file;               // the report whose write fails
  Params params;                  // the run
  long long limit;                // bytes a file may hold
  std::set<std::string> created;  // the reports left behind (new files)
};

std::vector<PartWay> part_way_cases() {
  Params many_passes;
  many_passes.set(7, "200").set(9, "0.0");  // tol_outer 0: never stops early
  Params large_grid;
  large_grid.set(4, "99");
  return {
      {"step", many_passes, 256 * 1024, {"step"}},
      {"result", large_grid, 100 * 1024, {"step", "result", "data"}},
      {"data", large_grid, 600 * 1024, {"step", "result", "data"}},
  };
}

void expect_partial_reports(const PartWay& c, const fs::path& dir, long long limit,
                            const std::string& good_data) {
  for (const auto& name : c.created) {
    if (!fs::exists(dir / name)) continue;
    EXPECT_LE(static_cast<long long>(fs::file_size(dir / name)), limit) << name;
  }
  // What data holds is the start of what a run without the fault writes.
  if (fs::exists(dir / "data")) {
    const std::string data = read_file(dir / "data");
    EXPECT_EQ(good_data.compare(0, data.size(), data), 0) << "data is not a prefix of the full one";
    if (std::string(c.file) == "data") {
      EXPECT_LT(data.size(), good_data.size());
    }
  }
}

// The data report of a run without faults: it holds no CPU times, so runs agree.
std::string good_data_of(const Params& p) {
  TempDir dir;
  write_file(dir / "para.dat", p.text());
  RunOptions options;
  options.stdout_path = "/dev/null";
  const ProcResult r = run_program_with(ladyzh_exe(), dir.path(), options);
  EXPECT_EQ(r.status, 0) << r.err;
  return fs::exists(dir / "data") ? read_file(dir / "data") : "";
}

// Both with SIGXFSZ ignored from the start and with its default action (as
// under a shell's ulimit -f), which would end the process at the failing write
// unless the program ignores the signal itself.
TEST(Faults, WriteBeyondTheFileSizeLimit) {
  for (const auto& c : part_way_cases()) {
    const std::string good_data = good_data_of(c.params);
    for (const bool ignored : {true, false}) {
      SCOPED_TRACE(std::string(c.file) + (ignored ? ", SIGXFSZ ignored" : ", SIGXFSZ default"));
      TempDir dir;
      write_file(dir / "para.dat", c.params.text());
      const Snapshot before = snapshot(dir.path());
      RunOptions options;
      options.file_size_limit = c.limit;
      options.ignore_sigxfsz = ignored;
      options.stdout_path = "/dev/null";  // the console is not a file of the run here
      const ProcResult r = run_program_with(ladyzh_exe(), dir.path(), options);
      expect_clean_failure(
          r, std::string("cannot write report file '") + c.file + "': File too large");
      expect_kept(before, snapshot(dir.path()), c.created);
      expect_partial_reports(c, dir.path(), c.limit, good_data);
    }
  }
}

// A small file system of its own (tmpfs), mounted in a mount namespace private
// to this test process so that nothing outside it ever sees the mount.
class SmallFileSystem {
 public:
  SmallFileSystem(const fs::path& dir, long long bytes) : dir_(dir) {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      why_ = std::string("no private mount namespace: ") + std::strerror(errno);
      return;
    }
    const std::string data = "size=" + std::to_string(bytes) + ",mode=0700";
    if (mount("ladyzh-test", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, data.c_str()) != 0) {
      why_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ~SmallFileSystem() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

 private:
  fs::path dir_;
  bool mounted_ = false;
  std::string why_;
};

TEST(Faults, FileSystemFullPartWay) {
  for (const auto& c : part_way_cases()) {
    SCOPED_TRACE(c.file);
    const std::string good_data = good_data_of(c.params);
    TempDir dir;
    // para.dat takes one page of the file system, the limit is left for the reports.
    SmallFileSystem small(dir.path(), c.limit + 4096);
    if (!small.mounted()) GTEST_SKIP() << small.why();
    write_file(dir / "para.dat", c.params.text());
    const Snapshot before = snapshot(dir.path());
    RunOptions options;
    options.stdout_path = "/dev/null";
    const ProcResult r = run_program_with(ladyzh_exe(), dir.path(), options);
    expect_clean_failure(
        r, std::string("cannot write report file '") + c.file + "': No space left on device");
    expect_kept(before, snapshot(dir.path()), c.created);
    expect_partial_reports(c, dir.path(), c.limit, good_data);
  }
}

TEST(Faults, ConsoleThatCannotBeWritten) {
  TempDir dir;
  write_file(dir / "para.dat", Params().text());
  const Snapshot before = snapshot(dir.path());
  RunOptions options;
  options.stdout_path = "/dev/full";
  const ProcResult r = run_program_with(ladyzh_exe(), dir.path(), options);
  expect_clean_failure(r, "cannot write to standard output: No space left on device");
  expect_kept(before, snapshot(dir.path()));  // the echo comes before any report
}

}  // namespace
}  // namespace ladyzh
