// The floors of the benchmark: the least any filter pays for a page.
//
//   main        the filter's interface: "job user title copies options [file]", $PPD
//   ReadPage    the whole page into memory in one read of libcups
//   PackPage    a fixed threshold, packed to one bit per dot, 0 ink
//   DumpPage    (bench_floor_dump only) the 24-bit working image of an 8-bit page, dumped
//               as a BMP to $RASTERTOLABEL_DUMP
//   WriteJob    one label job with a single BITMAP command for the whole page
//
// Built twice from this file: bench_floor does what every filter must (open the stream and
// the PPD, read each page, threshold and pack it, write one bitmap command); bench_floor_dump
// (FLOOR_DUMP) also widens every 8-bit page to the working image the filter dumps (three
// bytes per dot, 255 minus the grey of a black-based page, rows padded to four bytes) and
// writes it as a BMP, as the filter must for every 8-bit page.  bench/run.sh times the filter
// against both in the same rounds.
//
// The threshold is fixed at the middle: ink where a black-based byte is 128 or more (a
// white-based one below 128), where the sum of a colour dot's three bytes is below 384.
#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#if defined(FLOOR_DUMP)
#include "driver/page_dump.h"
#include "driver/page_intake.h"
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

struct RasterCloser {
  void operator()(cups_raster_t* r) const { cupsRasterClose(r); }
};
struct PpdCloser {
  void operator()(ppd_file_t* p) const { ppdClose(p); }
};

// Leaves new elements uninitialised, as the filter's page buffer does: the page is read into
// it at once.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  template <typename U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
};
using PageBuffer = std::vector<uint8_t, UninitialisedAllocator<uint8_t>>;

bool WhiteBased(const cups_page_header2_t& h) {
  return h.cupsColorSpace == CUPS_CSPACE_W || h.cupsColorSpace == CUPS_CSPACE_SW;
}

// Reads the page's rows into raster; returns the number of whole rows that arrived.
size_t ReadPage(cups_raster_t* ras, const cups_page_header2_t& h, PageBuffer& raster) {
  const size_t bpl = h.cupsBytesPerLine;
  raster.resize(bpl * h.cupsHeight);
  if (raster.empty()) return 0;
  size_t got = cupsRasterReadPixels(ras, raster.data(), static_cast<unsigned>(raster.size()));
  return got / bpl;
}

// The bit order of a byte reversed: movemask puts the first dot in bit 0, a bitmap byte wants
// it in bit 7.
constexpr std::array<uint8_t, 256> kReversed = [] {
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    int r = 0;
    for (int b = 0; b < 8; ++b) r |= ((i >> b) & 1) << (7 - b);
    t[i] = static_cast<uint8_t>(r);
  }
  return t;
}();

// One row of an 8-bit page to bits, 1 where no ink.  A black-based byte is ink from 128 up,
// which is its top bit; white-based bytes the other way round.
void PackGreyRow(const uint8_t* src, size_t width, bool whiteBased, uint8_t* dst) {
  const unsigned flip = whiteBased ? 0 : 0xFFFF;
  size_t x = 0;
#if defined(__SSE2__)
  for (; x + 16 <= width; x += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
    unsigned m = static_cast<unsigned>(_mm_movemask_epi8(v)) ^ flip;
    dst[x / 8] = kReversed[m & 0xFF];
    dst[x / 8 + 1] = kReversed[m >> 8];
  }
#endif
  for (; x < width; x += 8) {
    unsigned b = 0xFF;
    for (size_t k = 0; k < 8 && x + k < width; ++k) {
      const bool ink = (src[x + k] >= 128) != whiteBased;
      if (ink) b &= ~(0x80u >> k);
    }
    dst[x / 8] = static_cast<uint8_t>(b);
  }
}

// The page bitmap at (width + 7) / 8 bytes a row.
void PackPage(const cups_page_header2_t& h, const uint8_t* raster, size_t rows,
              std::vector<uint8_t>& bits) {
  const size_t width = h.cupsWidth;
  const size_t bpl = h.cupsBytesPerLine;
  const size_t stride = (width + 7) / 8;
  bits.resize(stride * rows);
  for (size_t y = 0; y < rows; ++y) {
    const uint8_t* src = raster + y * bpl;
    uint8_t* dst = bits.data() + y * stride;
    switch (h.cupsBitsPerPixel) {
      case 1:  // raster ink is 1, printer ink 0; white-based data has it so already
        for (size_t i = 0; i < stride; ++i) dst[i] = WhiteBased(h) ? src[i] : ~src[i];
        if (width % 8) dst[stride - 1] |= static_cast<uint8_t>(0xFF >> (width % 8));
        break;
      case 8:
        PackGreyRow(src, width, WhiteBased(h), dst);
        break;
      default:  // 24 bits: red, green, blue, 0 black
        for (size_t x = 0; x < width; x += 8) {
          unsigned b = 0xFF;
          for (size_t k = 0; k < 8 && x + k < width; ++k) {
            const uint8_t* p = src + 3 * (x + k);
            if (p[0] + p[1] + p[2] < 384) b &= ~(0x80u >> k);
          }
          dst[x / 8] = static_cast<uint8_t>(b);
        }
    }
  }
}

#if defined(FLOOR_DUMP)
// The working image of an 8-bit page (0 black, three bytes per dot, rows padded to four bytes
// with white) written as a top-down 24-bit BMP, as the filter dumps it.
void DumpPage(const cups_page_header2_t& h, const uint8_t* raster, size_t rows) {
  const char* path = getenv("RASTERTOLABEL_DUMP");
  if (path == nullptr) path = "/tmp/Buf.bmp";
  if (*path == '\0') return;
  const size_t width = h.cupsWidth;
  const size_t stride = (width * 24 + 31) / 32 * 4;
  const size_t size = stride * rows;
  std::unique_ptr<uint8_t[]> work(new uint8_t[size]);  // every byte is written below
  const uint8_t flip = WhiteBased(h) ? 0x00 : 0xFF;
  for (size_t y = 0; y < rows; ++y) {
    uint8_t* dst = work.get() + y * stride;
    WidenRow(raster + y * h.cupsBytesPerLine, width, flip, dst);
    std::memset(dst + 3 * width, 0xFF, stride - 3 * width);
  }
  // The filter's own BMP writer, so the floor pays for exactly the same file.
  SaveImage(work.get(), static_cast<int>(size), static_cast<int>(width), static_cast<int>(rows),
            path);
}
#endif

// The page's label job: the setup the printer needs, one bitmap command, the print command.
bool WriteJob(const cups_page_header2_t& h, const std::vector<uint8_t>& bits, size_t rows,
              std::string& job) {
  const size_t stride = (h.cupsWidth + 7) / 8;
  char head[160];
  int n = snprintf(head, sizeof head,
                   "SIZE %u mm, %u mm\r\nGAP 2 mm,0 mm\r\nCLS\r\nBITMAP 0,0,%zu,%zu,1,",
                   static_cast<unsigned>(h.PageSize[0] * 25.4 / 72 + 0.5),
                   static_cast<unsigned>(h.PageSize[1] * 25.4 / 72 + 0.5), stride, rows);
  job.assign(head, static_cast<size_t>(n));
  job.append(reinterpret_cast<const char*>(bits.data()), bits.size());
  n = snprintf(head, sizeof head, "\r\nPRINT 1,%u\r\n", h.NumCopies ? h.NumCopies : 1);
  job.append(head, static_cast<size_t>(n));
  return fwrite(job.data(), 1, job.size(), stdout) == job.size() && fflush(stdout) == 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 6 || argc > 7) {
    fprintf(stderr, "Usage: %s job user title copies options [file]\n", argv[0]);
    return 1;
  }
  int fd = argc == 7 ? open(argv[6], O_RDONLY) : 0;
  if (fd < 0) {
    fprintf(stderr, "ERROR: %s: %s\n", argv[6], strerror(errno));
    return 1;
  }
  std::unique_ptr<cups_raster_t, RasterCloser> ras(cupsRasterOpen(fd, CUPS_RASTER_READ));
  // The PPD and the job's options are read as a filter must, though nothing here uses them.
  std::unique_ptr<ppd_file_t, PpdCloser> ppd(ppdOpenFile(getenv("PPD")));
  if (!ppd) {
    fprintf(stderr, "ERROR: cannot open the PPD\n");
    return 1;
  }
  cups_option_t* options = nullptr;
  int numOptions = cupsParseOptions(argv[5], 0, &options);
  ppdMarkDefaults(ppd.get());
  cupsMarkOptions(ppd.get(), numOptions, options);
  cupsFreeOptions(numOptions, options);

  PageBuffer raster;
  std::vector<uint8_t> bits;
  std::string job;
  cups_page_header2_t h;
  int pages = 0;
  bool ok = true;
  while (cupsRasterReadHeader2(ras.get(), &h)) {
    const unsigned bpp = h.cupsBitsPerPixel;
    if ((bpp != 1 && bpp != 8 && bpp != 24) ||
        h.cupsBytesPerLine < (uint64_t{h.cupsWidth} * bpp + 7) / 8) {
      fprintf(stderr, "ERROR: page %d cannot be read\n", pages + 1);
      return 1;
    }
    const size_t rows = ReadPage(ras.get(), h, raster);
#if defined(FLOOR_DUMP)
    if (bpp == 8) DumpPage(h, raster.data(), rows);
#endif
    PackPage(h, raster.data(), rows, bits);
    ok = WriteJob(h, bits, rows, job) && ok;
    ++pages;
  }
  if (fd != 0) close(fd);
  return pages > 0 && ok ? 0 : 1;
}
