// Raster streams built field by field (version 3, uncompressed, in the machine's byte order):
// any depth, row length, page size or copy count, rows cut short.  WriteRasterWithLibcups
// writes compressed ones through libcups; SanitizerBuild tells whether the tests run under ASan.
#pragma once

#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

inline cups_page_header2_t PageHeader(unsigned width, unsigned height, unsigned bitsPerPixel) {
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  h.HWResolution[0] = h.HWResolution[1] = 203;
  h.PageSize[0] = width * 72 / 203;
  h.PageSize[1] = height * 72 / 203;
  h.NumCopies = 1;
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.cupsBitsPerPixel = bitsPerPixel;
  h.cupsBitsPerColor = bitsPerPixel == 24 ? 8 : bitsPerPixel;
  h.cupsBytesPerLine = static_cast<unsigned>((uint64_t{width} * bitsPerPixel + 7) / 8);
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsColorSpace = bitsPerPixel == 24 ? CUPS_CSPACE_RGB : CUPS_CSPACE_K;
  h.cupsNumColors = bitsPerPixel == 24 ? 3 : 1;
  return h;
}

inline std::string RasterPage(const cups_page_header2_t& h, std::string_view rows) {
  std::string page(reinterpret_cast<const char*>(&h), sizeof h);
  page += rows;
  return page;
}

// A page whose rows all repeat one byte value; rows defaults to the height.
inline std::string RasterPage(const cups_page_header2_t& h, unsigned char fill) {
  return RasterPage(
      h, std::string(size_t{h.cupsBytesPerLine} * h.cupsHeight, static_cast<char>(fill)));
}

inline std::string RasterStream(std::string_view pages) {
  const uint32_t sync = CUPS_RASTER_SYNC;  // "RaS3": uncompressed
  std::string s(reinterpret_cast<const char*>(&sync), sizeof sync);
  s += pages;
  return s;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool SanitizerBuild() { return true; }
#elif defined(__has_feature)
constexpr bool SanitizerBuild() { return __has_feature(address_sanitizer); }
#else
constexpr bool SanitizerBuild() { return false; }
#endif

// Writes pages (headers with their rows) to path through libcups' own
// writer in the given mode: CUPS_RASTER_WRITE_COMPRESSED ("RaS2"),
// CUPS_RASTER_WRITE_PWG or CUPS_RASTER_WRITE_APPLE, whose pixel data are
// compressed.  Returns false when libcups refuses a header.
inline bool WriteRasterWithLibcups(
    const std::string& path, cups_mode_t mode,
    const std::vector<std::pair<cups_page_header2_t, std::string>>& pages) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  cups_raster_t* r = cupsRasterOpen(fd, mode);
  bool ok = r != nullptr;
  for (auto [header, rows] : pages) {
    if (!ok || !cupsRasterWriteHeader2(r, &header)) {
      ok = false;
      break;
    }
    auto* data = reinterpret_cast<unsigned char*>(rows.data());
    ok = rows.empty() || cupsRasterWritePixels(r, data, static_cast<unsigned>(rows.size())) > 0;
  }
  if (r) cupsRasterClose(r);
  close(fd);
  return ok;
}
