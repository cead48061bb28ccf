#include "run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace {

void Drain(int fd, std::string& into, bool& open) {
  char buf[65536];
  ssize_t n = read(fd, buf, sizeof buf);
  if (n > 0) {
    into.append(buf, static_cast<size_t>(n));
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    open = false;
  }
}

}  // namespace

RunResult Run(const RunOptions& opts) {
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    for (const auto& [name, value] : opts.env) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
    if (opts.address_space_limit) {
      rlimit limit = {*opts.address_space_limit, *opts.address_space_limit};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(125);
    }
    int in = open(opts.stdin_path.empty() ? "/dev/null" : opts.stdin_path.c_str(), O_RDONLY);
    if (in < 0) _exit(126);
    dup2(in, 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(in);
    close(out_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[0]);
    close(err_pipe[1]);
    std::vector<char*> argv;
    for (const auto& a : opts.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  RunResult r;
  bool out_open = !opts.closed_stdout, err_open = true, signalled = false;
  if (opts.closed_stdout) close(out_pipe[0]);
  bool want_signal =
      opts.sigterm_after_err_bytes.has_value() || !opts.sigterm_after_err_text.empty();
  while (out_open || err_open) {
    if (want_signal && !signalled) {
      bool due = opts.sigterm_after_err_bytes
                     ? r.err.size() >= *opts.sigterm_after_err_bytes
                     : r.err.find(opts.sigterm_after_err_text) != std::string::npos;
      if (due) {
        kill(pid, SIGTERM);
        signalled = true;
      }
    }
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    if (!out_open) fds[0].fd = -1;
    if (!err_open) fds[1].fd = -1;
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) Drain(out_pipe[0], r.out, out_open);
    if (fds[1].revents) Drain(err_pipe[0], r.err, err_open);
  }
  if (!opts.closed_stdout) close(out_pipe[0]);
  close(err_pipe[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "labeltest.XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary);
  f << data;
}

size_t Count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = 0; (at = s.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

std::vector<std::string> ReadLabels(const std::string& job, std::string* fault) {
  TempDir dir;
  WriteFile(dir.File("job"), job);
  RunOptions o;
  o.args = {READLABEL_EXE, dir.File("job")};
  const RunResult r = Run(o);
  if (fault != nullptr) *fault = r.status == 0 ? "" : r.err;
  std::vector<std::string> labels;
  for (size_t from = 0, at;
       r.status == 0 && (at = r.out.find("PRINT 1,", from)) != std::string::npos;) {
    const size_t end = r.out.find('\n', at) + 1;
    labels.push_back(r.out.substr(from, end - from));
    from = end;
  }
  return labels;
}

std::string MaskAddresses(const std::string& err) {
  static const std::regex addr(
      "\\b(Buffer=|pDataBuf=|options=|ppdClose fd=|pData=|choice=|pMirror=|pBuf180=|pBuf90=|"
      "pzlibBuf=)-?[0-9a-f]+");
  return std::regex_replace(err, addr, "$1X");
}
