// Page intake of grey and colour pages.
//
//   IntakeGreyPage      8-bit page -> working image -> dump -> Color2BW
//   WidenRow            one raster row of grey to a working image row
//   (internal) ReleasePages  gives the raster's memory back once it is widened
//   IntakeColourPage    24-bit page -> Color2BW in place
//   WorkingImageStride  three bytes per dot, rounded up to four bytes
//   PageDumpPath        where grey pages are dumped
#include "driver/page_intake.h"

#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "convert/color2bw.h"
#include "driver/page_dump.h"
#include "log.h"
#include "driver/raster_header.h"

namespace {

size_t BitmapStride(unsigned width) { return ((static_cast<size_t>(width) + 31) >> 5) * 4; }

// The page bitmap starts all white: the conversion only clears ink bits.
void TakeBitmap(std::vector<unsigned char>& pDataBuf, unsigned width, unsigned rows) {
  std::vector<unsigned char>().swap(pDataBuf);
  pDataBuf.assign(BitmapStride(width) * rows, 0xFF);
}

// Hands the whole memory pages inside [p, p + n) back to the system; they read as 0 afterwards.
// Only a hint: where it is not supported, or refused, the memory simply stays.
void ReleasePages(unsigned char* p, size_t n) {
#if defined(MADV_DONTNEED)
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pageSize <= 0) return;
  const uintptr_t page = static_cast<uintptr_t>(pageSize);
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + page - 1) / page * page;
  const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + n) / page * page;
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
#else
  (void)p;
  (void)n;
#endif
}

int DitheringMode(ppd_file_t* ppd) {
  const ppd_choice_t* choice = ppd ? ppdFindMarkedChoice(ppd, "Dithering") : nullptr;
  if (!choice) return 0;
  static const char* const kModes[] = {"None", "Threshold", "OrderDithering", "ErrorDiffusion"};
  for (int i = 0; i < 4; ++i) {
    if (strcasecmp(choice->choice, kModes[i]) == 0) return i;
  }
  return 0;
}

// The leading decimal integer of the "Threshold" choice name, 0 without one.
int LightLevel(ppd_file_t* ppd) {
  const ppd_choice_t* choice = ppd ? ppdFindMarkedChoice(ppd, "Threshold") : nullptr;
  if (!choice) return 0;
  long v = strtol(choice->choice, nullptr, 10);
  // Choice names are at most 40 characters; keep absurd numbers in range.
  return static_cast<int>(std::clamp<long>(v, -100000, 100000));
}

}  // namespace

// Writes each of the width bytes of src, xor flip, three times over to dst: one grey dot to
// the three equal bytes of a working image dot.  Eight dots (24 bytes) at a time are put
// together in three 64-bit words, where the byte order allows.
void WidenRow(const unsigned char* src, size_t width, unsigned char flip, unsigned char* dst) {
  size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    const uint64_t flip8 = flip * uint64_t{0x0101010101010101};
    for (; i + 8 <= width; i += 8) {
      uint64_t g;
      std::memcpy(&g, src + i, 8);
      g ^= flip8;
      auto dot = [g](int k) { return (g >> (8 * k)) & 0xFF; };
      const uint64_t w[3] = {
          dot(0) * 0x010101 | dot(1) * 0x010101 << 24 | dot(2) * 0x0101 << 48,
          dot(2) | dot(3) * 0x010101 << 8 | dot(4) * 0x010101 << 32 | dot(5) << 56,
          dot(5) * 0x0101 | dot(6) * 0x010101 << 16 | dot(7) * 0x010101 << 40,
      };
      std::memcpy(dst + 3 * i, w, 24);
    }
  }
  for (; i < width; ++i) {
    const unsigned char v = src[i] ^ flip;
    dst[3 * i] = dst[3 * i + 1] = dst[3 * i + 2] = v;
  }
}

size_t WorkingImageStride(unsigned width) {
  return ((static_cast<size_t>(width) * 24 + 31) >> 5) << 2;
}

const char* PageDumpPath() {
  const char* path = getenv("RASTERTOLABEL_DUMP");
  return path ? path : "/tmp/Buf.bmp";
}

void IntakeGreyPage(ppd_file_t* ppd, const cups_page_header2_t& header, unsigned char* Buffer,
                    unsigned rows, std::vector<unsigned char>& pDataBuf) {
  const unsigned width = header.cupsWidth;
  const size_t BytePerLine = WorkingImageStride(width);
  fprintf(stderr, "ERROR: BytePerLine =%d \n", static_cast<int>(BytePerLine));
  TakeBitmap(pDataBuf, width, rows);

  // Every byte of the working image is written below (the dots, each row's padding and the
  // 256 bytes after the last row, both white), so it is not filled beforehand.
  const size_t imageBytes = BytePerLine * rows;
  std::unique_ptr<unsigned char[]> work(new unsigned char[imageBytes + 256]);
  // The working image is white-based (0 black); black-based grey is turned.
  const unsigned space = HeaderValue(header.cupsColorSpace);
  const bool whiteBased = space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW;
  const unsigned char flip = whiteBased ? 0x00 : 0xFF;
  const size_t dotBytes = size_t{3} * width;
  for (unsigned j = 0; j < rows; ++j) {
    const unsigned char* src = Buffer + static_cast<size_t>(j) * header.cupsBytesPerLine;
    unsigned char* dst = work.get() + j * BytePerLine;
    WidenRow(src, width, flip, dst);
    std::memset(dst + dotBytes, 0xFF, BytePerLine - dotBytes);
  }
  std::memset(work.get() + imageBytes, 0xFF, 256);
  ReleasePages(Buffer, static_cast<size_t>(header.cupsBytesPerLine) * rows);

  const int nDithering = DitheringMode(ppd);
  const int nLight = LightLevel(ppd);
  fprintf(stderr, "ERROR: SaveImage nDithering=%d nLight=%d\n", nDithering, nLight);
  const char* dump = PageDumpPath();
  if (*dump && BytePerLine * rows > static_cast<size_t>(INT32_MAX) - 54) {
    // A BMP file cannot describe more than 2 GiB of pixels.
    fprintf(stderr, "ERROR: Page too large for the page dump, %s not written\n", dump);
  } else if (*dump) {
    SaveImage(work.get(), static_cast<int>(BytePerLine * rows), static_cast<int>(width),
              static_cast<int>(rows), dump);
  }
  fprintf(stderr, "ERROR: call Color2BW\n");
  Color2BW(work.get(), pDataBuf.data(), static_cast<int>(width), static_cast<int>(rows),
           static_cast<int>(BytePerLine), nLight, nDithering);
}

void IntakeColourPage(const cups_page_header2_t& header, unsigned char* Buffer, unsigned rows,
                      std::vector<unsigned char>& pDataBuf) {
  fprintf(stderr, "ERROR: cupsBitsPerPixel =24 \n");
  TakeBitmap(pDataBuf, header.cupsWidth, rows);
  Color2BW(Buffer, pDataBuf.data(), static_cast<int>(header.cupsWidth), static_cast<int>(rows),
           static_cast<int>(header.cupsBytesPerLine), 100, 0);
}
