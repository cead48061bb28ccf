// makeraster: writes a CUPS raster stream, one page per picture, for feeding
// the filter by hand, in the demo and in the tests. It can also write the
// broken streams a filter must survive (wrong row size, missing rows, a stream
// cut short).
//
//   ParseArguments   command line to Settings and the list of pages
//   PageHeader       the raster page header for one picture
//   PackRows         the picture as raster rows of 1, 8 or 24 bits per pixel
//   WriteStream      all pages through libcups into memory, then out
#include <cups/raster.h>
#include <getopt.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image_input.h"

namespace {

const char kUsage[] =
    "Usage: makeraster [OPTION]... (IMAGE | --blank WxH)...\n"
    "Writes a CUPS raster stream with one page per IMAGE (PBM/PGM/PPM or PNG) or\n"
    "blank page, in the order given.\n"
    "\n"
    "  -o, --output FILE        write to FILE instead of standard output\n"
    "  -b, --bits N             bits per pixel: 1, 8 or 24 (default 8)\n"
    "  -c, --colorspace NAME    k (0 = no ink), w or sw (0 = black) for 1 and 8 bits,\n"
    "                           rgb or srgb for 24 bits (default k, or rgb for 24)\n"
    "  -r, --dpi N              resolution in dots per inch (default 203)\n"
    "      --page-size WxH      PageSize in points (default: picture size at the\n"
    "                           resolution, rounded)\n"
    "      --copies N           NumCopies (default 1)\n"
    "      --orientation N      Orientation, 0 to 3 (default 0)\n"
    "      --blank WxH          a white page of W x H pixels, taken as a picture\n"
    "  -h, --help               show this text\n"
    "\n"
    "Broken streams, for testing readers (apply to every page):\n"
    "      --bytes-per-line N   cupsBytesPerLine says N and rows are written N bytes\n"
    "                           long, cut or padded with zero bytes\n"
    "      --claim-height N     cupsHeight says N; the picture's rows are written,\n"
    "                           at most N of them, so the stream ends early if N is\n"
    "                           larger than the picture\n"
    "      --truncate-bytes N   cut the whole stream after N bytes\n"
    "\n"
    "Pixel values: 8-bit k is 255 - grey, w and sw the grey itself; 1-bit k sets\n"
    "ink bits where grey < 128, w sets white bits; rows are padded with blank bits.\n"
    "Colour pictures are greyed with 0.299 R + 0.587 G + 0.114 B.\n";

struct Settings {
  unsigned bits = 8;
  std::optional<cups_cspace_t> colorspace;
  unsigned dpi = 203;
  std::optional<std::pair<unsigned, unsigned>> page_size;
  unsigned copies = 1;
  unsigned orientation = 0;
  std::optional<unsigned> bytes_per_line;
  std::optional<unsigned> claim_height;
  std::optional<size_t> truncate_bytes;
  std::string output;  // empty: standard output
};

// One page to write: a picture file, or a blank page when path is empty.
struct PageSource {
  std::string path;
  size_t blank_width = 0;
  size_t blank_height = 0;
};

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

template <typename T>
T ParseNumber(const char* option, const char* text, T low, T high) {
  T value{};
  const char* end = text + strlen(text);
  auto [ptr, ec] = std::from_chars(text, end, value);
  if (ec != std::errc() || ptr != end || *text == '\0' || value < low || value > high)
    throw UsageError(std::string("--") + option + ": '" + text + "' is not a number from " +
                     std::to_string(low) + " to " + std::to_string(high));
  return value;
}

std::pair<unsigned, unsigned> ParseSize(const char* option, const char* text) {
  const char* x = strchr(text, 'x');
  if (!x) throw UsageError(std::string("--") + option + ": '" + text + "' is not WxH");
  const std::string width(text, x);
  return {ParseNumber<unsigned>(option, width.c_str(), 1, 65535),
          ParseNumber<unsigned>(option, x + 1, 1, 65535)};
}

cups_cspace_t ParseColorspace(const char* text) {
  const std::pair<const char*, cups_cspace_t> names[] = {{"k", CUPS_CSPACE_K},
                                                         {"w", CUPS_CSPACE_W},
                                                         {"sw", CUPS_CSPACE_SW},
                                                         {"rgb", CUPS_CSPACE_RGB},
                                                         {"srgb", CUPS_CSPACE_SRGB}};
  for (const auto& [name, space] : names)
    if (strcasecmp(text, name) == 0) return space;
  throw UsageError(std::string("--colorspace: unknown colour space '") + text + "'");
}

bool IsColour(cups_cspace_t space) { return space == CUPS_CSPACE_RGB || space == CUPS_CSPACE_SRGB; }

// Returns false when only --help was asked for.
bool ParseArguments(int argc, char** argv, Settings& settings, std::vector<PageSource>& pages) {
  enum { kPageSize = 256, kCopies, kOrientation, kBlank, kBytesPerLine, kClaimHeight, kTruncate };
  const option options[] = {{"output", required_argument, nullptr, 'o'},
                            {"bits", required_argument, nullptr, 'b'},
                            {"colorspace", required_argument, nullptr, 'c'},
                            {"dpi", required_argument, nullptr, 'r'},
                            {"page-size", required_argument, nullptr, kPageSize},
                            {"copies", required_argument, nullptr, kCopies},
                            {"orientation", required_argument, nullptr, kOrientation},
                            {"blank", required_argument, nullptr, kBlank},
                            {"bytes-per-line", required_argument, nullptr, kBytesPerLine},
                            {"claim-height", required_argument, nullptr, kClaimHeight},
                            {"truncate-bytes", required_argument, nullptr, kTruncate},
                            {"help", no_argument, nullptr, 'h'},
                            {nullptr, 0, nullptr, 0}};
  opterr = 0;
  int c;
  // The leading '-' hands pictures over in place, keeping them in order with --blank.
  while ((c = getopt_long(argc, argv, "-:o:b:c:r:h", options, nullptr)) != -1) {
    switch (c) {
      case 1:
        pages.push_back({optarg});
        break;
      case 'o':
        settings.output = optarg;
        break;
      case 'b':
        settings.bits = ParseNumber<unsigned>("bits", optarg, 1, 24);
        if (settings.bits != 1 && settings.bits != 8 && settings.bits != 24)
          throw UsageError("--bits: must be 1, 8 or 24");
        break;
      case 'c':
        settings.colorspace = ParseColorspace(optarg);
        break;
      case 'r':
        settings.dpi = ParseNumber<unsigned>("dpi", optarg, 1, 100000);
        break;
      case kPageSize:
        settings.page_size = ParseSize("page-size", optarg);
        break;
      case kCopies:
        settings.copies = ParseNumber<unsigned>("copies", optarg, 0, 1000000);
        break;
      case kOrientation:
        settings.orientation = ParseNumber<unsigned>("orientation", optarg, 0, 3);
        break;
      case kBlank: {
        const auto [width, height] = ParseSize("blank", optarg);
        pages.push_back({"", width, height});
        break;
      }
      case kBytesPerLine:
        settings.bytes_per_line = ParseNumber<unsigned>("bytes-per-line", optarg, 0, 1 << 20);
        break;
      case kClaimHeight:
        settings.claim_height = ParseNumber<unsigned>("claim-height", optarg, 0, 1 << 20);
        break;
      case kTruncate:
        settings.truncate_bytes = ParseNumber<size_t>("truncate-bytes", optarg, 0, SIZE_MAX);
        break;
      case 'h':
        fputs(kUsage, stdout);
        return false;
      case ':':
        throw UsageError(std::string("option ") + argv[optind - 1] + " needs a value");
      default:
        throw UsageError(std::string("unknown option ") + argv[optind - 1]);
    }
  }
  if (pages.empty()) throw UsageError("no picture and no --blank page given");
  if (!settings.colorspace)
    settings.colorspace = settings.bits == 24 ? CUPS_CSPACE_RGB : CUPS_CSPACE_K;
  if (IsColour(*settings.colorspace) != (settings.bits == 24))
    throw UsageError("--colorspace: rgb and srgb go with 24 bits, k, w and sw with 1 and 8");
  return true;
}

cups_page_header2_t PageHeader(const Settings& settings, const Image& image) {
  cups_page_header2_t header;
  memset(&header, 0, sizeof header);
  const auto points = [&](size_t pixels) {
    return static_cast<unsigned>(std::lround(pixels * 72.0 / settings.dpi));
  };
  const auto [page_width, page_height] =
      settings.page_size.value_or(std::pair{points(image.width), points(image.height)});
  header.HWResolution[0] = header.HWResolution[1] = settings.dpi;
  header.PageSize[0] = page_width;
  header.PageSize[1] = page_height;
  header.ImagingBoundingBox[2] = page_width;
  header.ImagingBoundingBox[3] = page_height;
  header.cupsPageSize[0] = static_cast<float>(page_width);
  header.cupsPageSize[1] = static_cast<float>(page_height);
  header.cupsImagingBBox[2] = header.cupsPageSize[0];
  header.cupsImagingBBox[3] = header.cupsPageSize[1];
  header.NumCopies = settings.copies;
  header.Orientation = static_cast<cups_orient_t>(settings.orientation);
  header.cupsWidth = static_cast<unsigned>(image.width);
  header.cupsHeight = settings.claim_height.value_or(static_cast<unsigned>(image.height));
  header.cupsBitsPerPixel = settings.bits;
  header.cupsBitsPerColor = settings.bits == 24 ? 8 : settings.bits;
  header.cupsNumColors = settings.bits == 24 ? 3 : 1;
  header.cupsColorOrder = CUPS_ORDER_CHUNKED;
  header.cupsColorSpace = *settings.colorspace;
  header.cupsBytesPerLine = settings.bytes_per_line.value_or(
      static_cast<unsigned>((image.width * settings.bits + 7) / 8));
  return header;
}

// The picture's rows in raster form, each (width * bits + 7) / 8 bytes long.
std::vector<uint8_t> PackRows(const Settings& settings, const Image& image) {
  const size_t row_bytes = (image.width * settings.bits + 7) / 8;
  std::vector<uint8_t> rows(row_bytes * image.height);
  const bool black_is_zero = *settings.colorspace != CUPS_CSPACE_K;
  auto grey = [&](const uint8_t* p) -> uint8_t {
    if (image.channels == 1) return p[0];
    return static_cast<uint8_t>((299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000);
  };
  for (size_t y = 0; y < image.height; ++y) {
    const uint8_t* in = image.Row(y);
    uint8_t* out = rows.data() + y * row_bytes;
    if (settings.bits == 24) {
      for (size_t x = 0; x < image.width; ++x, in += image.channels, out += 3)
        for (int c = 0; c < 3; ++c) out[c] = in[image.channels == 3 ? c : 0];
    } else if (settings.bits == 8) {
      for (size_t x = 0; x < image.width; ++x, in += image.channels) {
        const uint8_t g = grey(in);
        out[x] = black_is_zero ? g : 255 - g;
      }
    } else {
      // Set bits mean ink for k and white for w; padding bits are blank either way.
      if (black_is_zero) memset(out, 0xFF, row_bytes);
      for (size_t x = 0; x < image.width; ++x, in += image.channels) {
        const bool white = grey(in) >= 128;
        const uint8_t bit = 0x80 >> (x % 8);
        if (white == black_is_zero)
          out[x / 8] |= bit;
        else
          out[x / 8] &= ~bit;
      }
    }
  }
  return rows;
}

ssize_t CollectBytes(void* sink, unsigned char* buffer, size_t length) {
  auto* bytes = static_cast<std::vector<uint8_t>*>(sink);
  bytes->insert(bytes->end(), buffer, buffer + length);
  return static_cast<ssize_t>(length);
}

struct RasterCloser {
  void operator()(cups_raster_t* raster) const { cupsRasterClose(raster); }
};

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};

// The whole stream goes to memory first, so that --truncate-bytes can cut it
// anywhere, headers included.
std::vector<uint8_t> RenderStream(const Settings& settings, const std::vector<PageSource>& pages) {
  std::vector<uint8_t> stream;
  std::unique_ptr<cups_raster_t, RasterCloser> raster(
      cupsRasterOpenIO(CollectBytes, &stream, CUPS_RASTER_WRITE));
  if (!raster) throw std::runtime_error("cannot open a raster stream");
  for (const PageSource& page : pages) {
    const Image image =
        page.path.empty() ? BlankImage(page.blank_width, page.blank_height) : ReadImage(page.path);
    cups_page_header2_t header = PageHeader(settings, image);
    if (!cupsRasterWriteHeader2(raster.get(), &header))
      throw std::runtime_error("libcups refused the page header");
    const std::vector<uint8_t> rows = PackRows(settings, image);
    const size_t row_bytes = rows.size() / image.height;
    const size_t line = header.cupsBytesPerLine;
    // libcups divides by cupsBytesPerLine: with 0 the rows are empty anyway.
    if (line == 0) continue;
    std::vector<uint8_t> out(line, 0);
    const size_t count = std::min<size_t>(image.height, header.cupsHeight);
    for (size_t y = 0; y < count; ++y) {
      std::fill(out.begin(), out.end(), 0);
      memcpy(out.data(), rows.data() + y * row_bytes, std::min(line, row_bytes));
      if (cupsRasterWritePixels(raster.get(), out.data(), static_cast<unsigned>(line)) != line)
        throw std::runtime_error("libcups refused a row");
    }
  }
  raster.reset();
  if (settings.truncate_bytes && *settings.truncate_bytes < stream.size())
    stream.resize(*settings.truncate_bytes);
  return stream;
}

void WriteOutput(const std::string& path, const std::vector<uint8_t>& stream) {
  std::unique_ptr<FILE, FileCloser> file;
  FILE* out = stdout;
  if (!path.empty()) {
    file.reset(fopen(path.c_str(), "wb"));
    if (!file) throw std::runtime_error(path + ": " + strerror(errno));
    out = file.get();
  }
  const std::string name = path.empty() ? "standard output" : path;
  if (fwrite(stream.data(), 1, stream.size(), out) != stream.size() || fflush(out) != 0)
    throw std::runtime_error(name + ": " + strerror(errno));
  if (file && fclose(file.release()) != 0) throw std::runtime_error(name + ": " + strerror(errno));
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Settings settings;
    std::vector<PageSource> pages;
    if (!ParseArguments(argc, argv, settings, pages)) return 0;
    WriteOutput(settings.output, RenderStream(settings, pages));
    return 0;
  } catch (const UsageError& e) {
    fprintf(stderr, "makeraster: %s\nTry 'makeraster --help'.\n", e.what());
  } catch (const std::exception& e) {
    fprintf(stderr, "makeraster: %s\n", e.what());
  }
  return 1;
}
