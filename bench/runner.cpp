// bench_runner: runs one program the way the scheduler runs a filter and measures it.
//
//   bench_runner [--in FILE] [--out FILE] -- PROGRAM [ARG]...
//
// The program gets FILE (default: nothing) on standard input through a pipe, fed as fast as
// it reads, and its standard output and standard error go to pipes that are drained as they
// fill (standard output into --out FILE, else dropped).  The environment is passed on as it
// is.  Prints one line:
//
//   wall_ms user_ms sys_ms maxrss_kib status out_bytes err_bytes
//
// wall_ms runs from just before the fork to the reaping of the child once both of its output
// pipes are at their end; user, system time and peak resident memory are the child's own
// (wait4).  status is the exit status, or 128 + the signal that ended it.  The input is read
// into memory before the clock starts, so the disk is not timed.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Die(const char* what) {
  fprintf(stderr, "bench_runner: %s: %s\n", what, strerror(errno));
  _exit(2);
}

std::vector<char> ReadAll(const char* path) {
  std::vector<char> data;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) Die(path);
  char chunk[1 << 16];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Die(path);
    if (n == 0) break;
    data.insert(data.end(), chunk, chunk + n);
  }
  close(fd);
  return data;
}

double Ms(const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; }

}  // namespace

int main(int argc, char* argv[]) {
  const char* inPath = nullptr;
  const char* outPath = nullptr;
  int i = 1;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--in" && i + 1 < argc) {
      inPath = argv[++i];
    } else if (a == "--out" && i + 1 < argc) {
      outPath = argv[++i];
    } else if (a == "--") {
      ++i;
      break;
    } else {
      fprintf(stderr, "Usage: bench_runner [--in FILE] [--out FILE] -- PROGRAM [ARG]...\n");
      return 2;
    }
  }
  if (i >= argc) {
    fprintf(stderr, "bench_runner: no program\n");
    return 2;
  }
  const std::vector<char> input = inPath ? ReadAll(inPath) : std::vector<char>();
  int outFd = -1;
  if (outPath) {
    outFd = open(outPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (outFd < 0) Die(outPath);
  }
  signal(SIGPIPE, SIG_IGN);  // a child that stops reading its input must not end the runner

  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) Die("pipe");
  timespec start, stop;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = fork();
  if (pid < 0) Die("fork");
  if (pid == 0) {
    if (dup2(in[0], 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) _exit(127);
    execvp(argv[i], argv + i);
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  for (int fd : {in[1], out[0], err[0]}) fcntl(fd, F_SETFL, O_NONBLOCK);

  size_t fed = 0;
  int inFd = in[1];
  if (input.empty()) {
    close(inFd);
    inFd = -1;
  }
  long long outBytes = 0, errBytes = 0;
  int outOpen = out[0], errOpen = err[0];
  static char buf[1 << 16];
  while (inFd >= 0 || outOpen >= 0 || errOpen >= 0) {
    pollfd fds[3] = {{inFd, POLLOUT, 0}, {outOpen, POLLIN, 0}, {errOpen, POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      Die("poll");
    }
    if (inFd >= 0 && fds[0].revents) {
      ssize_t n = write(inFd, input.data() + fed, input.size() - fed);
      if (n > 0) fed += static_cast<size_t>(n);
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || fed == input.size()) {
        close(inFd);  // all fed, or the child closed its end
        inFd = -1;
      }
    }
    for (int k = 1; k <= 2; ++k) {
      int& fd = k == 1 ? outOpen : errOpen;
      if (fd < 0 || fds[k].revents == 0) continue;
      ssize_t n = read(fd, buf, sizeof buf);
      if (n > 0) {
        (k == 1 ? outBytes : errBytes) += n;
        if (k == 1 && outFd >= 0 && write(outFd, buf, static_cast<size_t>(n)) != n) Die(outPath);
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        close(fd);
        fd = -1;
      }
    }
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) Die("wait4");
  }
  clock_gettime(CLOCK_MONOTONIC, &stop);
  if (outFd >= 0) close(outFd);

  const double wall = (stop.tv_sec - start.tv_sec) * 1e3 + (stop.tv_nsec - start.tv_nsec) / 1e6;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  printf("%.3f %.3f %.3f %ld %d %lld %lld\n", wall, Ms(usage.ru_utime), Ms(usage.ru_stime),
         usage.ru_maxrss, code, outBytes, errBytes);
  return 0;
}
