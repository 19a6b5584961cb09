#include "support/support.hpp"

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace ladyzh::test {
namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string templ = (fs::temp_directory_path() / "ladyzh-test-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (!it->is_symlink()) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

InDir::InDir(const fs::path& dir) : previous_(fs::current_path()) { fs::current_path(dir); }
InDir::~InDir() {
  std::error_code ec;
  fs::current_path(previous_, ec);
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

namespace {
std::string drain(int fd) {
  std::string s;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      s.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  return s;
}
}  // namespace

ProcResult run_program(const std::string& exe, const fs::path& dir,
                       const std::vector<std::string>& env) {
  RunOptions options;
  options.env = env;
  return run_program_with(exe, dir, options);
}

ProcResult run_program_with(const std::string& exe, const fs::path& dir,
                            const RunOptions& options) {
  // Output goes to temporary files so that a large output cannot block the child.
  TempDir io;
  const std::string out_path =
      options.stdout_path.empty() ? (io.path() / "out").string() : options.stdout_path;
  const std::string err_path = (io.path() / "err").string();
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    int in = open("/dev/null", O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (const auto& e : options.env) putenv(const_cast<char*>(e.c_str()));
    if (options.file_size_limit >= 0) {
      // An ignored signal stays ignored across exec; a caught one is reset.
      signal(SIGXFSZ, options.ignore_sigxfsz ? SIG_IGN : SIG_DFL);
      const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                         static_cast<rlim_t>(options.file_size_limit)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    if (options.address_space_limit >= 0) {
      const rlimit limit{static_cast<rlim_t>(options.address_space_limit),
                         static_cast<rlim_t>(options.address_space_limit)};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    }
    if (options.unprivileged && geteuid() == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(unprivileged_gid) != 0 ||
          setuid(unprivileged_uid) != 0) {
        _exit(126);
      }
    }
    execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  ProcResult r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  int fo = options.stdout_path.empty() ? open(out_path.c_str(), O_RDONLY) : -1;
  int fe = open(err_path.c_str(), O_RDONLY);
  if (fo >= 0) {
    r.out = drain(fo);
    close(fo);
  }
  if (fe >= 0) {
    r.err = drain(fe);
    close(fe);
  }
  return r;
}

}  // namespace ladyzh::test
