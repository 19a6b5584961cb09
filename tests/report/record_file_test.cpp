// Report files: exclusive creation, buffered records, write failures reported.
#include "report/record_file.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "run/error.hpp"
#include "support/support.hpp"

namespace ladyzh {
namespace {

namespace fs = std::filesystem;
using test::InDir;
using test::read_file;
using test::TempDir;
using test::write_file;

std::string create_error(const std::string& name) {
  try {
    RecordFile f(name);
  } catch (const RunError& e) {
    return e.what();
  }
  return "(created)";
}

TEST(RecordFile, CreationNeverTouchesAnExistingName) {
  struct Case {
    const char* what;
    void (*setup)();
  };
  const Case cases[] = {
      {"regular file", [] { write_file("step", "old\n"); }},
      {"link to a file", [] { fs::create_symlink("target", "step"); }},
      {"dangling link", [] { fs::create_symlink("missing", "step"); }},
      {"directory", [] { fs::create_directory("step"); }},
  };
  for (const Case& c : cases) {
    TempDir dir;
    InDir in(dir.path());
    write_file("target", "keep\n");
    c.setup();
    EXPECT_TRUE(file_exists("step")) << c.what;
    EXPECT_EQ(create_error("step"), "cannot create report file 'step': File exists") << c.what;
    EXPECT_EQ(read_file("target"), "keep\n") << c.what;
    EXPECT_FALSE(fs::exists("missing")) << c.what;
    if (fs::is_regular_file(fs::symlink_status("step"))) {
      EXPECT_EQ(read_file("step"), "old\n");
    }
  }
}

TEST(RecordFile, CreationErrorNamesFileAndReason) {
  TempDir dir;
  InDir in(dir.path());
  EXPECT_EQ(create_error("no/such/step"),
            "cannot create report file 'no/such/step': No such file or directory");
  EXPECT_FALSE(file_exists("result"));
}

TEST(RecordFile, RecordsRoundTripInOrder) {
  TempDir dir;
  InDir in(dir.path());
  const mode_t old_mask = umask(022);
  std::string expected;
  {
    RecordFile f("data");
    EXPECT_TRUE(f.is_open());
    EXPECT_EQ(f.name(), "data");
    f.write_line(" first");
    f.write_line("");
    expected = " first\n\n";
    // Well over the 1 MiB buffer, through buffer() and commit(): written out
    // in blocks while records keep coming.
    for (int k = 0; k < 40000; ++k) {
      std::string rec = "record " + std::to_string(k) + std::string(20 + k % 50, '.');
      f.buffer() += rec;
      f.buffer() += '\n';
      f.commit();
      expected += rec + '\n';
    }
    EXPECT_GT(fs::file_size("data"), 0u);
    EXPECT_LT(f.buffer().size(), 2u << 20);
    f.write_line("last");
    expected += "last\n";
    f.close();
    EXPECT_FALSE(f.is_open());
    f.close();  // a second close does nothing
  }
  umask(old_mask);
  EXPECT_EQ(read_file("data"), expected);
  struct stat st;
  ASSERT_EQ(lstat("data", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(RecordFile, DestructorAndMoveKeepTheRecords) {
  TempDir dir;
  InDir in(dir.path());
  {
    RecordFile a("step");
    a.write_line("one");
    RecordFile b(std::move(a));
    EXPECT_FALSE(a.is_open());
    b.write_line("two");
    RecordFile c;
    c = std::move(b);
    EXPECT_FALSE(b.is_open());
    EXPECT_EQ(c.name(), "step");
    c.write_line("three");
  }  // flushed and closed without close()
  EXPECT_EQ(read_file("step"), "one\ntwo\nthree\n");
}

// Writing past a file-size limit: write(2) first writes what fits, then fails
// with EFBIG (SIGXFSZ ignored). Run in a child so the limit stays there; the
// exit status reports the outcome.
TEST(RecordFile, WriteFailureIsReportedWithTheFileName) {
  TempDir dir;
  InDir in(dir.path());
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const rlimit lim{4096, 4096};
    if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(10);
    signal(SIGXFSZ, SIG_IGN);
    int status = 1;  // no error reported
    try {
      RecordFile f("data");
      for (int k = 0; k < 1000; ++k) f.write_line(std::string(19, 'x'));
      f.close();
    } catch (const RunError& e) {
      status = std::string(e.what()) == "cannot write report file 'data': File too large" ? 0 : 2;
    } catch (...) {
      status = 3;
    }
    _exit(status);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no error, 2: other message, 3: other exception";
  // Everything up to the limit went out before the failure.
  EXPECT_EQ(fs::file_size("data"), 4096u);
}

TEST(RecordFile, FileExistsSeesLinksButNotMissingNames) {
  TempDir dir;
  InDir in(dir.path());
  EXPECT_FALSE(file_exists("step"));
  fs::create_symlink("nowhere", "step");
  EXPECT_TRUE(file_exists("step"));
}

}  // namespace
}  // namespace ladyzh
