// The filter's process entry and page loop.
//
//   RunFilter        the page loop
//   StartPage        page header trace
//   ReportPageFault  what the log says of a page that cannot be taken
//   CheckPage, PageLimitBytes, PageNeedBytes
//
// Every page is read whole into memory, brought to a page bitmap and handed to ProcessData,
// which writes its whole label job at once.  A page whose rows have been read is always
// written, also when SIGTERM or the end of the stream cut it short.
#include "driver/filter.h"

#include <cinttypes>
#include <cstdlib>
#include <ctime>
#include <new>

#include "driver/job.h"
#include "driver/page_intake.h"
#include "driver/raster_header.h"
#include "label/label_output.h"
#include "log.h"
#include "pixels.h"

volatile sig_atomic_t Canceled = 0;

namespace {

constexpr uint64_t kDefaultPageLimit = uint64_t{1} << 30;

int Page = 0;  // pages started in this job

void Setup(const Choices&) {}

// Traces every field of the page header; the field names are CUPS's own.
void StartPage(const cups_page_header2_t& h) {
  // Strings from the stream need not be terminated within their field.
  auto str = [](const char* name, const char(&field)[64]) {
    Debug("%s = \"%.*s\"", name, 64, field);
  };
  auto num = [](const char* name, const auto& field) {
    Debug("%s = %d", name, static_cast<int>(HeaderValue(field)));
  };
  auto d = [](unsigned v) { return static_cast<int>(v); };
  Debug("StartPage...");
  str("MediaClass", h.MediaClass);
  str("MediaColor", h.MediaColor);
  str("MediaType", h.MediaType);
  str("OutputType", h.OutputType);
  num("AdvanceDistance", h.AdvanceDistance);
  num("AdvanceMedia", h.AdvanceMedia);
  num("Collate", h.Collate);
  num("CutMedia", h.CutMedia);
  num("Duplex", h.Duplex);
  Debug("HWResolution = [ %d %d ]", d(h.HWResolution[0]), d(h.HWResolution[1]));
  Debug("ImagingBoundingBox = [ %d %d %d %d ]", d(h.ImagingBoundingBox[0]),
        d(h.ImagingBoundingBox[1]), d(h.ImagingBoundingBox[2]), d(h.ImagingBoundingBox[3]));
  num("InsertSheet", h.InsertSheet);
  num("Jog", h.Jog);
  num("LeadingEdge", h.LeadingEdge);
  Debug("Margins = [ %d %d ]", d(h.Margins[0]), d(h.Margins[1]));
  num("ManualFeed", h.ManualFeed);
  num("MediaPosition", h.MediaPosition);
  num("MediaWeight", h.MediaWeight);
  num("MirrorPrint", h.MirrorPrint);
  num("NegativePrint", h.NegativePrint);
  num("NumCopies", h.NumCopies);
  num("Orientation", h.Orientation);
  num("OutputFaceUp", h.OutputFaceUp);
  Debug("PageSize = [ %d %d ]", d(h.PageSize[0]), d(h.PageSize[1]));
  num("Separations", h.Separations);
  num("TraySwitch", h.TraySwitch);
  num("Tumble", h.Tumble);
  num("cupsWidth", h.cupsWidth);
  num("cupsHeight", h.cupsHeight);
  num("cupsMediaType", h.cupsMediaType);
  num("cupsBitsPerColor", h.cupsBitsPerColor);
  num("cupsBitsPerPixel", h.cupsBitsPerPixel);
  num("cupsBytesPerLine", h.cupsBytesPerLine);
  num("cupsColorOrder", h.cupsColorOrder);
  num("cupsColorSpace", h.cupsColorSpace);
  num("cupsCompression", h.cupsCompression);
  num("cupsRowCount", h.cupsRowCount);
  num("cupsRowFeed", h.cupsRowFeed);
  num("cupsRowStep", h.cupsRowStep);
}

void EndPage() { Debug("Enter EndPage"); }

// Logs why the page cannot be taken; returns whether the job stops there.
bool ReportPageFault(PageFault fault, const cups_page_header2_t& h, uint64_t need) {
  switch (fault) {
    case PageFault::kDepth:
      Error("Page %d has %u bits per pixel; only 1, 8 and 24 can be printed, page skipped", Page,
            h.cupsBitsPerPixel);
      return false;
    case PageFault::kDepthTooLarge:
      Error("Page %d has %u bits per pixel, which cannot be printed, and %" PRIu64
            " bytes, more than the page limit of %" PRIu64
            " bytes (RASTERTOLABEL_PAGE_LIMIT) to pass over, job stopped",
            Page, h.cupsBitsPerPixel, need, PageLimitBytes());
      return true;
    case PageFault::kRowTooShort:
      Error("Page %d: cupsBytesPerLine %u cannot hold %u dots of %u bits, job stopped", Page,
            h.cupsBytesPerLine, h.cupsWidth, h.cupsBitsPerPixel);
      return true;
    case PageFault::kTooLarge:
      Error("Page %d needs %" PRIu64 " bytes, more than the page limit of %" PRIu64
            " bytes (RASTERTOLABEL_PAGE_LIMIT), job stopped",
            Page, need, PageLimitBytes());
      return true;
    case PageFault::kNone:
      break;
  }
  return false;
}

}  // namespace

uint64_t PageLimitBytes() {
  const char* s = getenv("RASTERTOLABEL_PAGE_LIMIT");
  if (s && *s) {
    char* end = nullptr;
    const unsigned long long v = strtoull(s, &end, 10);
    if (*end == '\0' && v > 0) return v;
  }
  return kDefaultPageLimit;
}

uint64_t PageNeedBytes(unsigned bitsPerPixel, unsigned width, unsigned bytesPerLine,
                       uint64_t rows) {
  // A header's fields multiply far beyond 64 bits: the sums stop at the largest value instead
  // of wrapping round to a size that would pass.
  auto mul = [](uint64_t a, uint64_t b) {
    uint64_t r;
    return __builtin_mul_overflow(a, b, &r) ? UINT64_MAX : r;
  };
  const uint64_t raster = mul(bytesPerLine, rows);
  switch (bitsPerPixel) {
    case 8: {  // the working image, and twice it for the adaptive snapshot
      const uint64_t image = mul(WorkingImageStride(width), rows);
      return std::max(raster, mul(2, image > UINT64_MAX - 256 ? UINT64_MAX : image + 256));
    }
    case 24:
      return mul(2, raster);
    default:
      return raster;
  }
}

PageFault CheckPage(const cups_page_header2_t& h, uint64_t& need) {
  const unsigned bpp = h.cupsBitsPerPixel;
  need = PageNeedBytes(bpp, h.cupsWidth, h.cupsBytesPerLine, h.cupsHeight);
  if (bpp != 1 && bpp != 8 && bpp != 24) {
    // A page passed over is still read whole; from a compressed stream a few bytes can claim
    // gigabytes of rows, so the limit holds for it too.
    return need > PageLimitBytes() ? PageFault::kDepthTooLarge : PageFault::kDepth;
  }
  if (h.cupsBytesPerLine < (uint64_t{h.cupsWidth} * bpp + 7) / 8) return PageFault::kRowTooShort;
  return need > PageLimitBytes() ? PageFault::kTooLarge : PageFault::kNone;
}

int RunFilter(int argc, char* argv[], unsigned copiesPerPage) {
  static char logBuffer[64 * 1024];
  setvbuf(stderr, logBuffer, _IOFBF, sizeof logBuffer);
  // Out on every return, also to a caller that leaves by _exit.
  struct FlushAtReturn {
    ~FlushAtReturn() { FlushLog(); }
  } flushAtReturn;
  ResetLog();
  if (argc < 6 || argc > 7) return 1;
  std::unique_ptr<FilterJob> job = FilterJob::Open(argc, argv);
  if (!job) return 1;
  Setup(job->choices());
  Page = 0;
  const std::string dumpPath = PageDumpPath();
  int pagesWritten = 0;
  long long labels = 0;
  bool failed = false;
  cups_page_header2_t header;

  while (job->NextHeader(header)) {
    if (Canceled) break;
    if (copiesPerPage != 0) header.NumCopies = copiesPerPage;
    ++Page;
    Debug("Starting page = %d 1 time=%lld", Page, static_cast<long long>(time(nullptr)));
    Info("Printing label %d", Page);
    StartPage(header);
    uint64_t need = 0;
    if (const PageFault fault = CheckPage(header, need); fault != PageFault::kNone) {
      if (ReportPageFault(fault, header, need)) {
        failed = true;
        break;
      }
      job->SkipRows(header);
      if (Canceled) break;
      continue;
    }
    try {
      const unsigned rows = job->ReadRows(header);
      if (rows < header.cupsHeight && !Canceled) {
        Warning("Page %d: the raster stream ends after %u of %u rows", Page, rows,
                header.cupsHeight);
      }
      const PageBitmap bitmap =
          BringToBitmap(job->choices(), header, job->Buffer.data(), rows, job->pDataBuf, dumpPath);
      int copies = 0;
      if (!ProcessData(job->choices(), header, bitmap.bits, bitmap.width, bitmap.rows, Page,
                       copies)) {
        failed = true;
      }
      labels += copies;
      ++pagesWritten;
    } catch (const std::bad_alloc&) {
      Error("Page %d: not enough memory, job stopped", Page);
      failed = true;
      break;
    }
    Debug("call EndPage");
    EndPage();
    Debug("EndPage Out Canceled=%d", static_cast<int>(Canceled));
    if (Canceled || failed) break;
    Debug("EndPage return");
  }
  // Pages may be lost after a header libcups refused, and the stream cannot be followed further.
  if (!Canceled && !failed && job->StreamLeftUnread()) {
    Error(
        "Page %d has no valid page header; the rest of the raster stream is ignored, job "
        "stopped",
        Page + 1);
    failed = true;
  }
  if (pagesWritten > 0 && !failed) Info("Printed %lld label%s", labels, labels == 1 ? "" : "s");
  job.reset();
  return (pagesWritten > 0 && !failed) ? 0 : 1;
}
