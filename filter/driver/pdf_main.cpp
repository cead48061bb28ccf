// pdftothermallabel: the queue's entry for PDF pages.  The scheduler hands it the job's PDF (after
// pdftopdf) and the printer's PPD, as to any filter; it renders the pages with cups-filters'
// pdftoraster (Poppler), whose smoothed edges keep codes scannable where Ghostscript fills every
// dot a shape touches, and feeds the raster to the label filter.
//
// One process tree: this process starts the renderer and the label filter as its children,
// joined by a pipe, forwards SIGTERM to both, and fails when either fails.  Both keep the
// scheduler's standard error.  Where pdftoraster is not installed, Ghostscript's gstoraster
// renders instead (the chain the scheduler would otherwise take), and the log says so.
//
// pdftoraster writes one copy into every page header.  The printer makes the copies that
// pdftopdf left to it, which pdftopdf notes in the PDF ("%%PDFTOPDFNumCopies : N"; when it
// repeats pages itself to collate them, 1); the job's copy count (argv[4]) stands in where the
// note is missing.  A PDF on standard input is therefore kept in a temporary file first.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/filter.h"
#include "log.h"

namespace {

volatile sig_atomic_t renderer = 0, labeller = 0, terminated = 0;

void ForwardTerm(int) {
  terminated = 1;
  if (renderer > 0) kill(renderer, SIGTERM);
  if (labeller > 0) kill(labeller, SIGTERM);
}

// The renderer to run: pdftoraster, else gstoraster, from the scheduler's filter folder.
std::string Renderer() {
  const char* serverbin = getenv("CUPS_SERVERBIN");
  const std::string dir =
      std::string(serverbin && *serverbin ? serverbin : "/usr/lib/cups") + "/filter/";
  if (access((dir + "pdftoraster").c_str(), X_OK) == 0) return dir + "pdftoraster";
  if (access((dir + "gstoraster").c_str(), X_OK) == 0) {
    Warning(
        "pdftoraster (cups-filters) is not installed: the pages are rendered by Ghostscript, "
        "whose codes may not scan");
    return dir + "gstoraster";
  }
  return std::string();
}

// A PDF on standard input, kept in $TMPDIR (the job's temporary folder) until the renderer is
// done with it.
struct SpooledInput {
  std::string path;
  ~SpooledInput() {
    if (!path.empty()) unlink(path.c_str());
  }
  bool Take(int from) {
    const char* tmp = getenv("TMPDIR");
    path = std::string(tmp && *tmp ? tmp : "/tmp") + "/labelpdfXXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) return path.clear(), false;
    char chunk[65536];
    ssize_t n;
    bool ok = true;
    while (ok && (n = read(from, chunk, sizeof chunk)) != 0) {
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0 && write(fd, chunk, static_cast<size_t>(n)) == n;
    }
    return close(fd) == 0 && ok;
  }
};

// The copies pdftopdf left to the printer, from its note near the start of the PDF; else the
// job's.
unsigned CopiesForPrinter(const char* pdf, const char* jobCopies) {
  char head[8192] = {};
  const int fd = open(pdf, O_RDONLY | O_CLOEXEC);
  const ssize_t n = fd < 0 ? 0 : read(fd, head, sizeof head - 1);
  if (fd >= 0) close(fd);
  static const char kNote[] = "%%PDFTOPDFNumCopies : ";
  const char* note = static_cast<const char*>(memmem(head, n > 0 ? n : 0, kNote, sizeof kNote - 1));
  const unsigned long copies = strtoul(note ? note + sizeof kNote - 1 : jobCopies, nullptr, 10);
  return copies > 0 && copies <= UINT32_MAX ? static_cast<unsigned>(copies) : 1;
}

bool Succeeded(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  setbuf(stderr, nullptr);
  if (argc < 6 || argc > 7) return 1;
  const std::string program = Renderer();
  if (program.empty()) {
    Error("Neither pdftoraster nor gstoraster is installed: the PDF cannot be rendered");
    return 1;
  }
  Debug("Rendering the PDF pages with %s", program.c_str());
  // Installed before the PDF is spooled, so that a cancel then still removes the spooled file.
  struct sigaction forward = {};
  forward.sa_handler = ForwardTerm;
  sigemptyset(&forward.sa_mask);
  forward.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &forward, nullptr);
  SpooledInput spooled;
  if (argc == 6 && !spooled.Take(0)) {
    Error("Unable to keep the PDF in a temporary file: %s", strerror(errno));
    return 1;
  }
  if (terminated) return 1;
  char* args[] = {argv[0],
                  argv[1],
                  argv[2],
                  argv[3],
                  argv[4],
                  argv[5],
                  argc == 7 ? argv[6] : spooled.path.data(),
                  nullptr};
  const unsigned copies = CopiesForPrinter(args[6], argv[4]);
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    Error("Unable to start the renderer: %s", strerror(errno));
    return 1;
  }
  // SIGTERM waits until both children are known, so that it reaches both; each child starts
  // with the default action.
  sigset_t term, unblocked;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  sigprocmask(SIG_BLOCK, &term, &unblocked);
  const pid_t r = fork();
  if (r == 0) {  // the renderer: the job's file or standard input, raster to the pipe
    signal(SIGTERM, SIG_DFL);
    sigprocmask(SIG_SETMASK, &unblocked, nullptr);
    dup2(pipeFds[1], 1);
    close(pipeFds[0]);
    close(pipeFds[1]);
    args[0] = const_cast<char*>(program.c_str());
    execv(program.c_str(), args);
    Error("Unable to run %s: %s", program.c_str(), strerror(errno));
    _exit(1);
  }
  renderer = r;
  const pid_t l = r < 0 ? -1 : fork();
  if (l == 0) {  // the label filter: the raster from the pipe, the label jobs to the printer
    signal(SIGTERM, SIG_DFL);
    sigprocmask(SIG_SETMASK, &unblocked, nullptr);
    dup2(pipeFds[0], 0);
    close(pipeFds[0]);
    close(pipeFds[1]);
    _exit(RunFilter(6, argv, copies));
  }
  labeller = l;
  sigprocmask(SIG_SETMASK, &unblocked, nullptr);
  close(pipeFds[0]);
  close(pipeFds[1]);
  if (r < 0 || l < 0) {
    Error("Unable to start the conversion: %s", strerror(errno));
    ForwardTerm(SIGTERM);
    if (r > 0) Succeeded(r);
    return 1;
  }
  const bool rendered = Succeeded(r);
  const bool labelled = Succeeded(l);
  if (!rendered) Debug("%s failed", program.c_str());
  return rendered && labelled ? 0 : 1;
}
