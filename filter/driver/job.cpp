// The filter's job: FilterJob.
#include "driver/job.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "driver/filter.h"
#include "log.h"

// Prints "<prefix>: <message> - <system error>" in the job's language.
extern "C" int _cupsLangPrintError(const char* prefix, const char* message);

namespace {

void CancelJob(int) { Canceled = 1; }

}  // namespace

std::unique_ptr<FilterJob> FilterJob::Open(int argc, char* argv[]) {
  std::unique_ptr<FilterJob> job(new FilterJob);
  if (argc == 7) {
    job->fd_ = open(argv[6], O_RDONLY);
    if (job->fd_ < 0) {
      job->fd_ = 0;
      _cupsLangPrintError("ERROR", "Unable to open raster file");
      sleep(1);
      return nullptr;
    }
  }
  job->input_.fd = job->fd_;
  job->ras_.reset(cupsRasterOpenIO(ReadRaster, &job->input_, CUPS_RASTER_READ));

  Canceled = 0;
  struct sigaction action = {};
  action.sa_handler = CancelJob;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  // A printer connection that closes is a failed write to report, not a reason to die.
  signal(SIGPIPE, SIG_IGN);

  job->options_.num_options = cupsParseOptions(argv[5], 0, &job->options_.options);
  job->ppd_.reset(ppdOpenFile(getenv("PPD")));
  if (!job->ppd_) {
    int line = 0;
    const ppd_status_t status = ppdLastError(&line);
    Error("%s on line %d.", ppdErrorString(status), line);
    return nullptr;
  }
  ppdMarkDefaults(job->ppd_.get());
  cupsMarkOptions(job->ppd_.get(), job->options_.num_options, job->options_.options);
  job->choices_ = PpdChoices(job->ppd_.get());

  // An empty stream is a job without pages; anything else that libcups cannot open is no raster
  // stream, and the log says why.
  const uint64_t got = job->input_.delivered;
  if (!job->ras_ && got > 0 && got < sizeof(uint32_t)) {
    Error("The input is not a raster stream: it ends after %d bytes", static_cast<int>(got));
  } else if (!job->ras_ && got > 0) {
    const char* why = cupsRasterErrorString();
    Error("The input is not a raster stream: %.*s", why ? static_cast<int>(strcspn(why, "\n")) : 0,
          why ? why : "");
  }
  job->opened_ = true;
  return job;
}

FilterJob::~FilterJob() {
  if (!opened_) {
    if (fd_ != 0) close(fd_);
    return;
  }
  Debug("free Buffer=%x", Buffer.capacity() ? LogAddr(Buffer.data()) : 0u);
  PageBuffer().swap(Buffer);
  Debug("free pDataBuf=%x", pDataBuf.capacity() ? LogAddr(pDataBuf.data()) : 0u);
  std::vector<unsigned char>().swap(pDataBuf);
  Debug("cupsFreeOptions options=%x num_options=%d", LogAddr(options_.options),
        options_.num_options);
  cupsFreeOptions(options_.num_options, options_.options);
  options_.num_options = 0;
  options_.options = nullptr;
  Debug("cupsRasterClose");
  ras_.reset();
  Debug("close fd=%d", fd_);
  if (fd_ != 0) close(fd_);
  Debug("ppdClose fd=%d", static_cast<int>(LogAddr(ppd_.get())));
  ppd_.reset();
  Debug("Tarvo-filter return");
}

bool FilterJob::NextHeader(cups_page_header2_t& header) {
  headerAt_ = input_.delivered;
  return ras_ && cupsRasterReadHeader2(ras_.get(), &header) != 0;
}

bool FilterJob::StreamLeftUnread() const {
  // At a clean end, reading the header took nothing and found the end of the stream.  (A
  // compressed stream is read ahead by libcups: bytes after its last page can go unseen.)
  return ras_ && (input_.delivered != headerAt_ || !input_.atEnd);
}

unsigned FilterJob::ReadRows(const cups_page_header2_t& header) {
  const unsigned bpl = header.cupsBytesPerLine;
  // The buffer grows with the rows that really arrive, so a header that claims more rows than
  // the stream holds costs only what was sent.
  Buffer.clear();
  Buffer.reserve(std::min<uint64_t>(uint64_t{bpl} * header.cupsHeight, 64u << 20));
  size_t nOffset = 0;
  unsigned y = 0;
  for (; y < header.cupsHeight && !Canceled; ++y) {
    if (y % 16 == 0) {
      char line[48];
      const int n =
          snprintf(line, sizeof line, "ATTR: job-media-progress=%u\n", y * 100 / header.cupsHeight);
      LogRaw(line, static_cast<size_t>(n));
    }
    Buffer.resize(nOffset + bpl);
    if (cupsRasterReadPixels(ras_.get(), Buffer.data() + nOffset, bpl) == 0) break;
    nOffset += bpl;
  }
  Buffer.resize(nOffset);
  return y;
}

void FilterJob::SkipRows(const cups_page_header2_t& header) {
  // Read in pieces: the header's row length is not to be trusted with an allocation.
  unsigned char chunk[65536];
  uint64_t left = uint64_t{header.cupsBytesPerLine} * header.cupsHeight;
  while (left > 0 && !Canceled) {
    const unsigned n = static_cast<unsigned>(std::min<uint64_t>(left, sizeof chunk));
    if (cupsRasterReadPixels(ras_.get(), chunk, n) == 0) break;
    left -= n;
  }
}
