// The filter's process entry and page loop.
//
//   RunFilter       arguments, raster stream, PPD and options, page loop,
//                   teardown and exit status
//   StartPage       page header dump
//   CancelJob       the SIGTERM handler
//   PageLimitBytes  the largest buffer one page may need
//
// Every page is read whole into memory, brought to a page bitmap and handed
// to ProcessData, which writes its whole label job at once.  A page whose rows
// have been read is always written, also when SIGTERM or the end of the
// stream cut it short.
#include "driver/filter.h"

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "label/label_output.h"
#include "log.h"
#include "driver/page_intake.h"
#include "driver/raster_header.h"

// Prints "<prefix>: <message> - <system error>" in the job's language.
extern "C" int _cupsLangPrintError(const char* prefix, const char* message);

volatile sig_atomic_t Canceled = 0;

namespace {

constexpr uint64_t kDefaultPageLimit = uint64_t{1} << 30;

int Page = 0;  // pages started in this job

void CancelJob(int) { Canceled = 1; }

struct RasterCloser {
  void operator()(cups_raster_t* r) const { cupsRasterClose(r); }
};

// The raster stream as libcups reads it: through a buffer of our own, so that a page read row by
// row costs one system call per buffer filled, not one (or two) per row.  libcups asks for
// exactly the bytes it needs, so the rows and headers it returns, and where a short stream
// ends, are the same as with unbuffered reads.
struct RasterInput {
  static constexpr size_t kSize = 256 * 1024;
  int fd = 0;
  std::unique_ptr<unsigned char[]> buffer{new unsigned char[kSize]};
  size_t begin = 0, end = 0;  // the bytes read ahead and not yet handed out
  uint64_t delivered = 0;     // bytes handed to libcups so far
  bool atEnd = false;         // a read found the end of the stream (or failed)
  // Progress lines of rows taken from bytes already read: written in one piece before the
  // stream is read again (a read may wait for the sender) and when the page's rows are done,
  // rather than one system call per line.
  std::string progress;
};

// Writes the progress lines held back, if any.
void FlushProgress(RasterInput& in) {
  if (in.progress.empty()) return;
  fwrite(in.progress.data(), 1, in.progress.size(), stderr);
  in.progress.clear();
}

// The read callback of cupsRasterOpenIO: like a read(2) of ctx's descriptor that retries when
// interrupted.  Requests at least the buffer's size bypass it.
ssize_t ReadRaster(void* ctx, unsigned char* out, size_t length) {
  auto* in = static_cast<RasterInput*>(ctx);
  auto readFd = [in](unsigned char* to, size_t n) {
    FlushProgress(*in);
    ssize_t got;
    while ((got = read(in->fd, to, n)) < 0 && (errno == EINTR || errno == EAGAIN)) {
    }
    if (got <= 0) in->atEnd = true;
    return got;
  };
  if (in->begin == in->end) {
    if (length >= RasterInput::kSize) {
      const ssize_t got = readFd(out, length);
      if (got > 0) in->delivered += static_cast<uint64_t>(got);
      return got;
    }
    const ssize_t got = readFd(in->buffer.get(), RasterInput::kSize);
    if (got <= 0) return got;
    in->begin = 0;
    in->end = static_cast<size_t>(got);
  }
  const size_t n = std::min(length, in->end - in->begin);
  std::memcpy(out, in->buffer.get() + in->begin, n);
  in->begin += n;
  in->delivered += n;
  return static_cast<ssize_t>(n);
}

// An allocator that leaves new elements uninitialised: the page buffer grows row by row and
// every row is read into at once, so zeroing it first would only be undone.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    if constexpr (sizeof...(Args) == 0) {
      ::new (static_cast<void*>(p)) U;
    } else {
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
  }
};
using PageBuffer = std::vector<unsigned char, UninitialisedAllocator<unsigned char>>;

struct PpdCloser {
  void operator()(ppd_file_t* p) const { ppdClose(p); }
};

void Setup(ppd_file_t*) {}

// Logs every field of the page header; the field names are CUPS's own.
void StartPage(ppd_file_t*, const cups_page_header2_t& h) {
  // Strings from the stream need not be terminated within their field.
  auto str = [](const char* name, const char(&field)[64]) {
    fprintf(stderr, "ERROR: %s = \"%.*s\"\n", name, 64, field);
  };
  auto num = [](const char* name, const auto& field) {
    fprintf(stderr, "ERROR: %s = %d\n", name, static_cast<int>(HeaderValue(field)));
  };
  auto d = [](unsigned v) { return static_cast<int>(v); };
  fprintf(stderr, "ERROR: StartPage...\n");
  str("MediaClass", h.MediaClass);
  str("MediaColor", h.MediaColor);
  str("MediaType", h.MediaType);
  str("OutputType", h.OutputType);
  num("AdvanceDistance", h.AdvanceDistance);
  num("AdvanceMedia", h.AdvanceMedia);
  num("Collate", h.Collate);
  num("CutMedia", h.CutMedia);
  num("Duplex", h.Duplex);
  fprintf(stderr, "ERROR: HWResolution = [ %d %d ]\n", d(h.HWResolution[0]), d(h.HWResolution[1]));
  fprintf(stderr, "ERROR: ImagingBoundingBox = [ %d %d %d %d ]\n", d(h.ImagingBoundingBox[0]),
          d(h.ImagingBoundingBox[1]), d(h.ImagingBoundingBox[2]), d(h.ImagingBoundingBox[3]));
  num("InsertSheet", h.InsertSheet);
  num("Jog", h.Jog);
  num("LeadingEdge", h.LeadingEdge);
  fprintf(stderr, "ERROR: Margins = [ %d %d ]\n", d(h.Margins[0]), d(h.Margins[1]));
  num("ManualFeed", h.ManualFeed);
  num("MediaPosition", h.MediaPosition);
  num("MediaWeight", h.MediaWeight);
  num("MirrorPrint", h.MirrorPrint);
  num("NegativePrint", h.NegativePrint);
  num("NumCopies", h.NumCopies);
  num("Orientation", h.Orientation);
  num("OutputFaceUp", h.OutputFaceUp);
  fprintf(stderr, "ERROR: PageSize = [ %d %d ]\n", d(h.PageSize[0]), d(h.PageSize[1]));
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

void EndPage(ppd_file_t*, const cups_page_header2_t&) { fprintf(stderr, "ERROR: Enter EndPage\n"); }

bool WhiteBased(const cups_page_header2_t& h) {
  const unsigned space = HeaderValue(h.cupsColorSpace);
  return space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW;
}

// Reads the rows of a page that is not printed, so that the stream stays in
// step for the next page header.  Read in pieces: the header's row length is
// not to be trusted with an allocation.
void SkipRows(cups_raster_t* ras, const cups_page_header2_t& h) {
  unsigned char chunk[65536];
  uint64_t left = uint64_t{h.cupsBytesPerLine} * h.cupsHeight;
  while (left > 0 && !Canceled) {
    unsigned n = static_cast<unsigned>(std::min<uint64_t>(left, sizeof chunk));
    if (cupsRasterReadPixels(ras, chunk, n) == 0) break;
    left -= n;
  }
}

// Sets every bit beyond the first width dots of each of count rows to 1 (no
// ink).  The bits beyond a 1-bit page's width are row padding, not picture,
// whatever the stream put there; grey and colour pages never print theirs
// either.  The stride holds at least the width (CheckPage).
void WhitenRowPadding(unsigned char* rows, unsigned width, size_t stride, unsigned count) {
  const size_t used = (static_cast<size_t>(width) + 7) / 8;
  const unsigned char tail = width % 8 ? static_cast<unsigned char>(0xFF >> (width % 8)) : 0;
  for (unsigned j = 0; j < count; ++j) {
    unsigned char* row = rows + j * stride;
    if (tail) row[used - 1] |= tail;
    std::memset(row + used, 0xFF, stride - used);
  }
}

// Why a page cannot be taken at all.
enum class PageFault { kNone, kDepth, kDepthTooLarge, kRowTooShort, kTooLarge };

PageFault CheckPage(const cups_page_header2_t& h, uint64_t& need) {
  unsigned bpp = h.cupsBitsPerPixel;
  if (bpp != 1 && bpp != 8 && bpp != 24) {
    // A page passed over is still read whole; from a compressed stream a few
    // bytes can claim gigabytes of rows, so the limit holds for it too.
    need = PageNeedBytes(bpp, h.cupsWidth, h.cupsBytesPerLine, h.cupsHeight);
    return need > PageLimitBytes() ? PageFault::kDepthTooLarge : PageFault::kDepth;
  }
  if (h.cupsBytesPerLine < (uint64_t{h.cupsWidth} * bpp + 7) / 8) return PageFault::kRowTooShort;
  need = PageNeedBytes(bpp, h.cupsWidth, h.cupsBytesPerLine, h.cupsHeight);
  return need > PageLimitBytes() ? PageFault::kTooLarge : PageFault::kNone;
}

}  // namespace

uint64_t PageLimitBytes() {
  const char* s = getenv("RASTERTOLABEL_PAGE_LIMIT");
  if (s && *s) {
    char* end = nullptr;
    unsigned long long v = strtoull(s, &end, 10);
    if (*end == '\0' && v > 0) return v;
  }
  return kDefaultPageLimit;
}

uint64_t PageNeedBytes(unsigned bitsPerPixel, unsigned width, unsigned bytesPerLine,
                       uint64_t rows) {
  // A header's fields multiply far beyond 64 bits: the sums stop at the
  // largest value instead of wrapping round to a size that would pass.
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

int RunFilter(int argc, char* argv[]) {
  setbuf(stderr, nullptr);
  if (argc < 6 || argc > 7) return 1;

  int fd = 0;
  if (argc == 7) {
    fd = open(argv[6], O_RDONLY);
    if (fd < 0) {
      _cupsLangPrintError("ERROR", "Unable to open raster file");
      sleep(1);
      return 1;
    }
  }
  RasterInput input;
  input.fd = fd;
  std::unique_ptr<cups_raster_t, RasterCloser> ras(
      cupsRasterOpenIO(ReadRaster, &input, CUPS_RASTER_READ));

  Canceled = 0;
  struct sigaction action = {};
  action.sa_handler = CancelJob;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);

  cups_option_t* options = nullptr;
  int num_options = cupsParseOptions(argv[5], 0, &options);

  std::unique_ptr<ppd_file_t, PpdCloser> ppd(ppdOpenFile(getenv("PPD")));
  if (!ppd) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    fprintf(stderr, "ERROR: %s on line %d.\n", ppdErrorString(status), line);
    cupsFreeOptions(num_options, options);
    if (fd != 0) close(fd);
    return 1;
  }
  ppdMarkDefaults(ppd.get());
  cupsMarkOptions(ppd.get(), num_options, options);
  Setup(ppd.get());
  Page = 0;

  PageBuffer Buffer;
  std::vector<unsigned char> pDataBuf;
  int pagesWritten = 0;
  bool failed = false;
  cups_page_header2_t header;

  // An empty stream is a job without pages; anything else that libcups cannot
  // open is no raster stream, and the log says why.
  if (!ras && input.delivered > 0 && input.delivered < sizeof(uint32_t)) {
    fprintf(stderr, "ERROR: The input is not a raster stream: it ends after %d bytes\n",
            static_cast<int>(input.delivered));
  } else if (!ras && input.delivered > 0) {
    const char* why = cupsRasterErrorString();
    fprintf(stderr, "ERROR: The input is not a raster stream: %.*s\n",
            why ? static_cast<int>(strcspn(why, "\n")) : 0, why ? why : "");
  }
  // Where the stream stood before the latest page header: at a clean end of
  // the stream, reading a header takes nothing more from it.
  uint64_t headerAt = 0;
  auto nextHeader = [&] {
    headerAt = input.delivered;
    return cupsRasterReadHeader2(ras.get(), &header) != 0;
  };

  while (nextHeader()) {
    if (Canceled) break;
    ++Page;
    fprintf(stderr, "ERROR: Starting page = %d 1 time=%lld\n", Page,
            static_cast<long long>(time(nullptr)));
    StartPage(ppd.get(), header);

    uint64_t need = 0;
    PageFault fault = CheckPage(header, need);
    if (fault == PageFault::kDepth) {
      fprintf(stderr,
              "ERROR: Page %d has %u bits per pixel; only 1, 8 and 24 can be printed, "
              "page skipped\n",
              Page, header.cupsBitsPerPixel);
      SkipRows(ras.get(), header);
      if (Canceled) break;
      continue;
    }
    if (fault == PageFault::kDepthTooLarge) {
      fprintf(stderr,
              "ERROR: Page %d has %u bits per pixel, which cannot be printed, and %" PRIu64
              " bytes, more than the page limit of %" PRIu64
              " bytes (RASTERTOLABEL_PAGE_LIMIT) to pass over, job stopped\n",
              Page, header.cupsBitsPerPixel, need, PageLimitBytes());
      failed = true;
      break;
    }
    if (fault == PageFault::kRowTooShort) {
      fprintf(stderr,
              "ERROR: Page %d: cupsBytesPerLine %u cannot hold %u dots of %u bits, job "
              "stopped\n",
              Page, header.cupsBytesPerLine, header.cupsWidth, header.cupsBitsPerPixel);
      failed = true;
      break;
    }
    if (fault == PageFault::kTooLarge) {
      fprintf(stderr,
              "ERROR: Page %d needs %" PRIu64 " bytes, more than the page limit of %" PRIu64
              " bytes (RASTERTOLABEL_PAGE_LIMIT), job stopped\n",
              Page, need, PageLimitBytes());
      failed = true;
      break;
    }

    try {
      const unsigned bpl = header.cupsBytesPerLine;
      // The buffer grows with the rows that really arrive, so a header that
      // claims more rows than the stream holds costs only what was sent.
      Buffer.clear();
      Buffer.reserve(std::min<uint64_t>(uint64_t{bpl} * header.cupsHeight, 64u << 20));
      size_t nOffset = 0;
      unsigned y = 0;
      {
        // Whatever ends the rows (all read, the stream's end, SIGTERM, no memory), their
        // progress lines are out before anything else is logged.
        struct Flush {
          RasterInput& in;
          ~Flush() { FlushProgress(in); }
        } flush{input};
        for (y = 0; y < header.cupsHeight && !Canceled; ++y) {
          if (y % 16 == 0) {
            char line[48];
            const int n = snprintf(line, sizeof line, "ATTR: job-media-progress=%u\n",
                                   y * 100 / header.cupsHeight);
            input.progress.append(line, static_cast<size_t>(n));
          }
          Buffer.resize(nOffset + bpl);
          if (cupsRasterReadPixels(ras.get(), Buffer.data() + nOffset, bpl) == 0) break;
          nOffset += bpl;
        }
      }
      Buffer.resize(nOffset);
      if (y < header.cupsHeight && !Canceled) {
        fprintf(stderr, "ERROR: Page %d: the raster stream ends after %u of %u rows\n", Page, y,
                header.cupsHeight);
      }

      unsigned char* pBuf = nullptr;
      int biWidth = static_cast<int>(header.cupsWidth);
      if (header.cupsBitsPerPixel == 1) {
        fprintf(stderr, "ERROR: cupsBitsPerPixel =1 \n");
        // Raster ink is 1 and the printer's is 0; white-based data has it so.
        if (!WhiteBased(header)) {
          for (unsigned char& b : Buffer) b = static_cast<unsigned char>(~b);
        }
        WhitenRowPadding(Buffer.data(), header.cupsWidth, bpl, y);
        pBuf = Buffer.data();
      } else if (header.cupsBitsPerPixel == 24) {
        IntakeColourPage(header, Buffer.data(), y, pDataBuf);
        pBuf = pDataBuf.data();
      } else {
        IntakeGreyPage(ppd.get(), header, Buffer.data(), y, pDataBuf);
        pBuf = pDataBuf.data();
      }
      if (!ProcessData(ppd.get(), &header, pBuf, biWidth, static_cast<int>(y))) failed = true;
      ++pagesWritten;
    } catch (const std::bad_alloc&) {
      fprintf(stderr, "ERROR: Page %d: not enough memory, job stopped\n", Page);
      failed = true;
      break;
    }
    fprintf(stderr, "ERROR: call EndPage\n");
    EndPage(ppd.get(), header);
    fprintf(stderr, "ERROR: EndPage Out Canceled=%d\n", static_cast<int>(Canceled));
    if (Canceled || failed) break;
    fprintf(stderr, "ERROR: EndPage return\n");
  }
  // The loop ended at a header libcups refused, or at bytes after the last
  // page that make no header: pages may be lost, and the stream cannot be
  // followed any further.  At a clean end reading the header took nothing
  // and found the end of the stream.  (A compressed stream is read ahead by
  // libcups: bytes after its last page can go unseen.)
  if (!Canceled && !failed && ras && (input.delivered != headerAt || !input.atEnd)) {
    fprintf(stderr,
            "ERROR: Page %d has no valid page header; the rest of the raster stream is "
            "ignored, job stopped\n",
            Page + 1);
    failed = true;
  }

  fprintf(stderr, "ERROR: free Buffer=%x\n", Buffer.capacity() ? LogAddr(Buffer.data()) : 0u);
  PageBuffer().swap(Buffer);
  fprintf(stderr, "ERROR: free pDataBuf=%x\n", pDataBuf.capacity() ? LogAddr(pDataBuf.data()) : 0u);
  std::vector<unsigned char>().swap(pDataBuf);
  fprintf(stderr, "ERROR: cupsFreeOptions options=%x num_options=%d\n", LogAddr(options),
          num_options);
  cupsFreeOptions(num_options, options);
  fprintf(stderr, "ERROR: cupsRasterClose\n");
  ras.reset();
  fprintf(stderr, "ERROR: close fd=%d\n", fd);
  if (fd != 0) close(fd);
  fprintf(stderr, "ERROR: ppdClose fd=%d\n", static_cast<int>(LogAddr(ppd.get())));
  ppd.reset();
  fprintf(stderr, "ERROR: Tarvo-filter return\n");
  return (pagesWritten > 0 && !failed) ? 0 : 1;
}
