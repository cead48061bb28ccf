// Page intake: BringToBitmap and its pieces.
//
//   BringToBitmap   by depth: 1-bit in place, 8-bit widened/dumped/converted, 24-bit converted
//   WidenRow        one raster row of grey to a working image row
//   PageDumpPath    where grey pages are dumped
//   (internal) ReleasePages  gives the raster's memory back once it is widened
#include "driver/page_intake.h"

#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "convert/color2bw.h"
#include "driver/page_dump.h"
#include "driver/raster_header.h"
#include "log.h"
#include "pixels.h"

namespace {

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

}  // namespace

void WidenRow(const unsigned char* src, size_t width, unsigned char flip, unsigned char* dst) {
  auto widen = [&](size_t i) { dst[3 * i] = dst[3 * i + 1] = dst[3 * i + 2] = src[i] ^ flip; };
  size_t i = 0;
  for (; i + 8 <= width; i += 8) {  // paper and solid ink eight dots at a time
    std::uint64_t eight;
    std::memcpy(&eight, src + i, sizeof eight);
    if (eight == (eight & 0xFF) * 0x0101010101010101u) {
      std::memset(dst + 3 * i, src[i] ^ flip, 24);
    } else {
      for (size_t k = i; k < i + 8; ++k) widen(k);
    }
  }
  for (; i < width; ++i) widen(i);
}

// The leading decimal integer of the "Threshold" choice name, 0 without one.
static int LightLevel(const Choices& choices) {
  const char* choice = choices.Marked("Threshold");
  if (choice == nullptr) return 0;
  // Choice names are at most 40 characters; keep absurd numbers in range.
  return static_cast<int>(std::clamp<long>(strtol(choice, nullptr, 10), -100000, 100000));
}

std::string PageDumpPath() {
  if (const char* path = getenv("RASTERTOLABEL_DUMP")) {
    // The scheduler's SetEnv passes quotes as they are: "" is the empty value written out.
    const bool off = *path == '\0' || strcmp(path, "\"\"") == 0 || strcasecmp(path, "off") == 0 ||
                     strcasecmp(path, "none") == 0;
    return off ? std::string() : std::string(path);
  }
  const char* tmp = getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? std::string(tmp) + "/Buf.bmp" : "/tmp/Buf.bmp";
}

namespace {

// 8-bit pages: working image, dump, conversion by the choices.
void IntakeGreyPage(const Choices& choices, const cups_page_header2_t& header,
                    unsigned char* Buffer, unsigned rows, std::vector<unsigned char>& pDataBuf,
                    const std::string& dumpPath) {
  const unsigned width = header.cupsWidth;
  const size_t BytePerLine = WorkingImageStride(width);
  Debug("BytePerLine =%d ", static_cast<int>(BytePerLine));
  TakeBitmap(pDataBuf, width, rows);

  // Every byte of the working image is written below (the dots, each row's padding and the
  // 256 bytes after the last row, both white), so it is not filled beforehand.
  const size_t imageBytes = BytePerLine * rows;
  std::unique_ptr<unsigned char[]> work(new unsigned char[imageBytes + 256]);
  // The working image is white-based (0 black); black-based grey is turned.
  const unsigned char flip = WhiteBased(HeaderValue(header.cupsColorSpace)) ? 0x00 : 0xFF;
  const size_t dotBytes = size_t{3} * width;
  for (unsigned j = 0; j < rows; ++j) {
    const unsigned char* src = Buffer + static_cast<size_t>(j) * header.cupsBytesPerLine;
    unsigned char* dst = work.get() + j * BytePerLine;
    WidenRow(src, width, flip, dst);
    std::memset(dst + dotBytes, 0xFF, BytePerLine - dotBytes);
  }
  std::memset(work.get() + imageBytes, 0xFF, 256);
  ReleasePages(Buffer, static_cast<size_t>(header.cupsBytesPerLine) * rows);

  const ConversionMode mode = ModeOfChoice(choices.Marked("Dithering"));
  const int nDithering = static_cast<int>(mode);
  const int nLight = LightLevel(choices);
  Debug("SaveImage nDithering=%d nLight=%d", nDithering, nLight);
  if (!dumpPath.empty() && imageBytes > static_cast<size_t>(INT32_MAX) - 54) {
    // A BMP file cannot describe more than 2 GiB of pixels.
    Error("Page too large for the page dump, %s not written", dumpPath.c_str());
  } else if (!dumpPath.empty()) {
    SaveImage(work.get(), static_cast<int>(imageBytes), static_cast<int>(width),
              static_cast<int>(rows), dumpPath.c_str());
  }
  Debug("call Color2BW");
  Color2BW(work.get(), pDataBuf.data(), static_cast<int>(width), static_cast<int>(rows),
           static_cast<int>(BytePerLine), nLight, nDithering);
}

// Sets every bit beyond the first width dots of each of count rows to 1 (no ink).  The bits
// beyond a 1-bit page's width are row padding, not picture, whatever the stream put there;
// grey and colour pages never print theirs either.
void WhitenRowPadding(unsigned char* rows, unsigned width, size_t stride, unsigned count) {
  const size_t used = (static_cast<size_t>(width) + 7) / 8;
  const unsigned char tail = width % 8 ? static_cast<unsigned char>(0xFF >> (width % 8)) : 0;
  for (unsigned j = 0; j < count; ++j) {
    unsigned char* row = rows + j * stride;
    if (tail) row[used - 1] |= tail;
    std::memset(row + used, 0xFF, stride - used);
  }
}

}  // namespace

PageBitmap BringToBitmap(const Choices& choices, const cups_page_header2_t& header,
                         unsigned char* Buffer, unsigned rows, std::vector<unsigned char>& pDataBuf,
                         const std::string& dumpPath) {
  const int width = static_cast<int>(header.cupsWidth);
  switch (header.cupsBitsPerPixel) {
    case 1:
      Debug("cupsBitsPerPixel =1 ");
      // Raster ink is 1 and the printer's is 0; white-based data has it so already.
      if (!WhiteBased(HeaderValue(header.cupsColorSpace))) {
        const size_t n = static_cast<size_t>(header.cupsBytesPerLine) * rows;
        for (size_t i = 0; i < n; ++i) Buffer[i] = static_cast<unsigned char>(~Buffer[i]);
      }
      WhitenRowPadding(Buffer, header.cupsWidth, header.cupsBytesPerLine, rows);
      return PageBitmap{Buffer, width, static_cast<int>(rows)};
    case 24:
      Debug("cupsBitsPerPixel =24 ");
      TakeBitmap(pDataBuf, header.cupsWidth, rows);
      Color2BW(Buffer, pDataBuf.data(), width, static_cast<int>(rows),
               static_cast<int>(header.cupsBytesPerLine), 100,
               static_cast<int>(ConversionMode::kNone));
      return PageBitmap{pDataBuf.data(), width, static_cast<int>(rows)};
    default:
      IntakeGreyPage(choices, header, Buffer, rows, pDataBuf, dumpPath);
      return PageBitmap{pDataBuf.data(), width, static_cast<int>(rows)};
  }
}
