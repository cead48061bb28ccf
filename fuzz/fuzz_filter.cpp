// Fuzz target: the whole filter, in process, on any byte stream.
//
// An input is two option bytes and a raster stream (job_input.h): the option
// bytes choose the job's options among the choices of a small fixed PPD, the
// stream goes to RunFilter as the raster file.  Pages of every depth, broken
// headers and short streams all reach the page loop this way.
//
// Besides the sanitizers, every run checks what the scheduler relies on:
//   1. Standard output holds only whole page jobs, each one read back
//      strictly (the same reader as readlabel's; only a label size beyond
//      its largest count is let through, see TakeHugeSize).
//   2. The exit status is 0 or 1, and 0 only when a page was written.
//
// The page limit is lowered to 1 MiB so that a run stays quick; the limit
// itself is tested at process level.
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "adaptive/code_detect.h"
#include "driver/filter.h"
#include "job_input.h"
#include "job_reader.h"

namespace {

std::string g_ppdPath;
FILE* g_report = nullptr;  // the original standard error

bool WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// The label size comes from the header's PageSize as it is: a page claiming
// thousands of kilometres gets a SIZE line beyond the reader's largest count
// (10^9), yet well formed.  If the line at offset is such a line, it is
// replaced by a small one so that reading can go on, and true is returned.
bool TakeHugeSize(std::string& job, size_t offset) {
  const size_t end = job.find("\r\n", offset);
  if (end == std::string::npos) return false;
  const std::string line = job.substr(offset, end - offset);
  unsigned long long w = 0, h = 0;
  int used = 0;
  if (sscanf(line.c_str(), "SIZE %llu mm, %llu mm%n", &w, &h, &used) != 2 ||
      static_cast<size_t>(used) != line.size() || w > INT32_MAX || h > INT32_MAX ||
      line != "SIZE " + std::to_string(w) + " mm, " + std::to_string(h) + " mm") {
    return false;
  }
  job.replace(offset, line.size(), "SIZE 1 mm, 1 mm");
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char path[] = "/tmp/fuzzjobppdXXXXXX";
  int fd = mkstemp(path);
  if (fd < 0 ||
      !WriteAll(fd, reinterpret_cast<const uint8_t*>(kJobInputPpd), sizeof kJobInputPpd - 1)) {
    abort();
  }
  close(fd);
  g_ppdPath = path;
  atexit([] { unlink(g_ppdPath.c_str()); });
  setenv("PPD", path, 1);
  setenv("RASTERTOLABEL_DUMP", "", 1);
  setenv("RASTERTOLABEL_PAGE_LIMIT", "1048576", 1);
  // The filter's log goes nowhere.  In glibc stderr is a plain variable that
  // may be set; libFuzzer and the sanitizers keep writing to the original
  // standard error (libFuzzer took its stream at start-up, the sanitizers
  // write to descriptor 2), so their reports are not lost.
  g_report = stderr;
  stderr = fopen("/dev/null", "w");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const JobInput job = SplitJobInput({data, size});
  int fd = memfd_create("raster", MFD_CLOEXEC);
  if (fd < 0 || !WriteAll(fd, job.raster.data(), job.raster.size())) abort();
  std::string file = "/proc/self/fd/" + std::to_string(fd);

  char* out = nullptr;
  size_t outSize = 0;
  FILE* console = stdout;
  stdout = open_memstream(&out, &outSize);

  // A code found by an earlier input would change how this one converts.
  ResetTwoDimensionCodeRects();
  std::string options = job.options;
  char* argv[] = {const_cast<char*>("rastertolabel"),
                  const_cast<char*>("1"),
                  const_cast<char*>("fuzz"),
                  const_cast<char*>("fuzz"),
                  const_cast<char*>("1"),
                  options.data(),
                  file.data(),
                  nullptr};
  const int status = RunFilter(7, argv);

  fclose(stdout);
  stdout = console;
  close(fd);

  if (status != 0 && status != 1) abort();
  if (outSize == 0) {
    if (status == 0) abort();  // success without a label
  } else {
    std::string job(out, outSize);
    for (;;) {
      LabelJob written = ParseLabelJob({reinterpret_cast<const uint8_t*>(job.data()), job.size()});
      if (!written.fault) break;
      if (!TakeHugeSize(job, written.fault->offset)) {
        fprintf(g_report, "label job unreadable at byte %zu: %s\n", written.fault->offset,
                written.fault->message.c_str());
        abort();
      }
    }
  }
  free(out);
  return 0;
}
