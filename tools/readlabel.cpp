// readlabel: reads a label job (the filter's output) strictly, prints what
// each page commands, and draws each label as a PNG, so that people and tests
// can see what the printer would print.
//
//   ReadInput    the whole job from a file or standard input
//   PrintPage    one page's summary lines
//   LabelCanvas  a page's bitmaps drawn on its label, clipped
//   WritePng     the canvas as an 8-bit grey PNG
#include <cups/ppd.h>
#include <getopt.h>
#include <png.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "job_reader.h"

namespace {

const char kUsage[] =
    "Usage: readlabel [OPTION]... [FILE]\n"
    "Reads a label job from FILE (or standard input, also for '-') strictly and\n"
    "prints each page's commands: setup lines as they are, bitmaps as\n"
    "\"BITMAP x,y,w,h,1 <n> bytes, <k> ink dots\", and the PRINT line.\n"
    "Anything else in the job is an error: exit status 1.\n"
    "\n"
    "      --png PREFIX   draw each label to PREFIX-<page>.png (pages from 1),\n"
    "                     black ink on white, at the label's SIZE\n"
    "      --dpi N        printer resolution for the drawing and the bounds check\n"
    "                     (default 203)\n"
    "      --ppd FILE     take the resolution from the printer's PPD instead\n"
    "  -q, --quiet        print no summary\n"
    "  -h, --help         show this text\n";

constexpr long kLargestCanvas = 100000;  // dots a side

struct Options {
  std::string input = "-";
  std::string png_prefix;  // empty: no drawing
  unsigned dpi = 203;
  bool quiet = false;
};

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The dots per inch of a PPD's default "Resolution" choice ("203dpi", "300x300dpi").
unsigned PpdResolution(const char* path) {
  std::unique_ptr<ppd_file_t, void (*)(ppd_file_t*)> ppd(ppdOpenFile(path), ppdClose);
  if (!ppd)
    throw Failure(std::string("--ppd: ") + path + ": " + ppdErrorString(ppdLastError(nullptr)));
  ppdMarkDefaults(ppd.get());
  const ppd_choice_t* choice = ppdFindMarkedChoice(ppd.get(), "Resolution");
  const unsigned dpi = choice != nullptr ? static_cast<unsigned>(atoi(choice->choice)) : 0;
  if (dpi == 0 || dpi > 10000)
    throw Failure(std::string("--ppd: ") + path + " names no resolution");
  return dpi;
}

// Returns false when only --help was asked for.
bool ParseArguments(int argc, char** argv, Options& options) {
  enum { kPng = 256, kDpi, kPpd };
  const option long_options[] = {
      {"png", required_argument, nullptr, kPng}, {"dpi", required_argument, nullptr, kDpi},
      {"ppd", required_argument, nullptr, kPpd}, {"quiet", no_argument, nullptr, 'q'},
      {"help", no_argument, nullptr, 'h'},       {nullptr, 0, nullptr, 0}};
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, ":qh", long_options, nullptr)) != -1) {
    switch (c) {
      case kPng:
        options.png_prefix = optarg;
        if (options.png_prefix.empty()) throw Failure("--png: empty prefix");
        break;
      case kDpi: {
        const char* end = optarg + strlen(optarg);
        auto [ptr, ec] = std::from_chars(optarg, end, options.dpi);
        if (ec != std::errc() || ptr != end || options.dpi == 0 || options.dpi > 10000)
          throw Failure(std::string("--dpi: '") + optarg + "' is not a number from 1 to 10000");
        break;
      }
      case kPpd:
        options.dpi = PpdResolution(optarg);
        break;
      case 'q':
        options.quiet = true;
        break;
      case 'h':
        fputs(kUsage, stdout);
        return false;
      case ':':
        throw Failure(std::string("option ") + argv[optind - 1] + " needs a value");
      default:
        throw Failure(std::string("unknown option ") + argv[optind - 1]);
    }
  }
  if (argc - optind > 1) throw Failure("more than one input file");
  if (optind < argc) options.input = argv[optind];
  return true;
}

std::vector<uint8_t> ReadInput(const std::string& path) {
  std::unique_ptr<FILE, FileCloser> owned;
  FILE* in = stdin;
  if (path != "-") {
    owned.reset(fopen(path.c_str(), "rb"));
    if (!owned) throw Failure(path + ": " + strerror(errno));
    in = owned.get();
  }
  std::vector<uint8_t> data;
  uint8_t chunk[1 << 16];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, in)) > 0) data.insert(data.end(), chunk, chunk + n);
  if (ferror(in)) throw Failure(path + ": read error");
  return data;
}

void PrintPage(const LabelPage& page) {
  for (const std::string& line : page.setup) printf("%s\n", line.c_str());
  for (const Bitmap& b : page.bitmaps)
    printf("BITMAP %u,%u,%u,%u,1 %zu bytes, %zu ink dots\n", b.x, b.y, b.width, b.height,
           b.data.size(), b.InkDots());
  printf("%s\n", page.print.c_str());
}

// The label in printer dots: SIZE in millimetres at the printer's resolution.
struct LabelCanvas {
  LabelCanvas(const LabelPage& page, unsigned dpi)
      : width(std::lround(page.width_mm / 25.4 * dpi)),
        height(std::lround(page.height_mm / 25.4 * dpi)) {}

  bool Holds(const Bitmap& b) const {
    return long{b.x} + 8L * b.width <= width && long{b.y} + long{b.height} <= height;
  }

  // White canvas, ink black; dots outside the label are dropped.
  std::vector<uint8_t> Draw(const LabelPage& page) const {
    std::vector<uint8_t> dots(static_cast<size_t>(width) * height, 255);
    for (const Bitmap& b : page.bitmaps)
      for (long row = 0; row < b.height; ++row) {
        const long y = b.y + row;
        if (y >= height) break;
        for (long dot = 0; dot < 8L * b.width; ++dot) {
          const long x = b.x + dot;
          if (x >= width) break;
          const uint8_t byte = b.data[row * b.width + dot / 8];
          if (!((byte >> (7 - dot % 8)) & 1)) dots[y * width + x] = 0;
        }
      }
    return dots;
  }

  long width;
  long height;
};

void WritePng(const std::string& path, const std::vector<uint8_t>& dots, long width, long height) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_GRAY;
  if (!png_image_write_to_file(&image, path.c_str(), 0, dots.data(), 0, nullptr))
    throw Failure(path + ": " + image.message);
}

int Run(const Options& options) {
  const std::string name = options.input == "-" ? "<stdin>" : options.input;
  const std::vector<uint8_t> stream = ReadInput(options.input);
  const LabelJob job = ParseLabelJob(stream);

  for (const LabelPage& page : job.pages) {
    if (!options.quiet) PrintPage(page);
    const LabelCanvas canvas(page, options.dpi);
    for (const Bitmap& b : page.bitmaps)
      if (!canvas.Holds(b))
        fprintf(stderr,
                "readlabel: %s:%zu: warning: BITMAP %u,%u,%u,%u reaches beyond the %ldx%ld-dot "
                "label; drawn clipped\n",
                name.c_str(), b.offset, b.x, b.y, b.width, b.height, canvas.width, canvas.height);
  }
  fflush(stdout);
  if (job.fault) {
    fprintf(stderr, "readlabel: %s:%zu: %s\n", name.c_str(), job.fault->offset,
            job.fault->message.c_str());
    return 1;
  }

  if (options.png_prefix.empty()) return 0;
  for (size_t i = 0; i < job.pages.size(); ++i) {
    const LabelCanvas canvas(job.pages[i], options.dpi);
    if (canvas.width < 1 || canvas.height < 1 || canvas.width > kLargestCanvas ||
        canvas.height > kLargestCanvas)
      throw Failure(name + ": page " + std::to_string(i + 1) + ": cannot draw a label of " +
                    std::to_string(canvas.width) + "x" + std::to_string(canvas.height) + " dots");
    WritePng(options.png_prefix + "-" + std::to_string(i + 1) + ".png", canvas.Draw(job.pages[i]),
             canvas.width, canvas.height);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Options options;
    if (!ParseArguments(argc, argv, options)) return 0;
    return Run(options);
  } catch (const std::exception& e) {
    fprintf(stderr, "readlabel: %s\n", e.what());
    return 1;
  }
}
