// Speed of the halftoning functions on synthetic label pages.
//
//   MakeLabelPage  a grey working image like a shipping label: white, with anti-aliased text,
//                  boxes, a barcode and a grey ramp
//   MakeAdversarialPage  grey noise and rows of anti-aliased finder-like patterns: the worst
//                  case of the adaptive conversion (mode "None")
//   kKernels       the table of timed functions; add a row to time another one
//   main           times every row on every page size and prints ms per page, megapixels per
//                  second and the ratio to a plain copy of the page (the floor)
//
// Usage: bench_halftone [runs]   (default 31; the median of the runs is reported)
// The adaptive conversion logs to standard error as the filter does: run with 2>/dev/null.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "adaptive/code_detect.h"
#include "convert/color2bw.h"
#include "convert/error_diffusion.h"
#include "convert/ordered_dither.h"
#include "convert/otsu.h"

namespace {

// A working image as the filter hands it to the halftoning functions: three equal bytes per
// pixel, rows padded to a multiple of four bytes.
struct Page {
  int width = 0;
  int height = 0;
  size_t stride = 0;
  std::vector<unsigned char> bytes;
};

// Darkens the pixel at (x, y) to grey g (keeps the darker of the two).
void Ink(Page& page, int x, int y, int g) {
  if (x < 0 || y < 0 || x >= page.width || y >= page.height) return;
  unsigned char* p = &page.bytes[size_t(y) * page.stride + size_t(x) * 3];
  if (g < p[0]) p[0] = p[1] = p[2] = static_cast<unsigned char>(g);
}

// An anti-aliased stroke from (x0, y0) to (x1, y1), `width` pixels wide: coverage falls off
// over one pixel at the stroke's edge, which gives the soft greys of rasterised text.
void Stroke(Page& page, double x0, double y0, double x1, double y1, double width) {
  const double half = width / 2;
  const int left = int(std::floor(std::min(x0, x1) - half - 1));
  const int right = int(std::ceil(std::max(x0, x1) + half + 1));
  const int top = int(std::floor(std::min(y0, y1) - half - 1));
  const int bottom = int(std::ceil(std::max(y0, y1) + half + 1));
  const double dx = x1 - x0, dy = y1 - y0;
  const double len2 = dx * dx + dy * dy;
  for (int y = top; y <= bottom; ++y) {
    for (int x = left; x <= right; ++x) {
      double t = len2 > 0 ? ((x - x0) * dx + (y - y0) * dy) / len2 : 0;
      t = std::clamp(t, 0.0, 1.0);
      const double ex = x - (x0 + t * dx), ey = y - (y0 + t * dy);
      const double coverage = std::clamp(half + 0.5 - std::sqrt(ex * ex + ey * ey), 0.0, 1.0);
      Ink(page, x, y, int(std::lround(255 * (1 - coverage))));
    }
  }
}

void Box(Page& page, int x0, int y0, int x1, int y1, int thickness) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      const bool edge =
          x < x0 + thickness || x >= x1 - thickness || y < y0 + thickness || y >= y1 - thickness;
      if (edge) Ink(page, x, y, 0);
    }
}

// A label of width x height dots: a frame, address blocks of text, a barcode, a grey ramp and
// a few boxes, on white.  The same page for the same size, every time.
Page MakeLabelPage(int width, int height) {
  Page page;
  page.width = width;
  page.height = height;
  page.stride = (size_t(width) * 24 + 31) / 32 * 4;
  page.bytes.assign(page.stride * height, 255);
  std::mt19937 rng(12345);
  auto uniform = [&](double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
  };

  const int margin = width / 40;
  Box(page, margin, margin, width - margin, height - margin, 4);

  // Text: lines of glyphs made of a few strokes each, in three sizes.
  auto textBlock = [&](int x0, int y0, int x1, int y1, double em) {
    for (double y = y0; y + em < y1; y += em * 1.5) {
      for (double x = x0; x + em * 0.7 < x1; x += em * 0.7) {
        if (uniform(0, 1) < 0.15) continue;  // spaces
        const int strokes = 2 + int(rng() % 3);
        for (int s = 0; s < strokes; ++s) {
          Stroke(page, x + uniform(0, em * 0.55), y + uniform(0, em), x + uniform(0, em * 0.55),
                 y + uniform(0, em), em / 9);
        }
      }
    }
  };
  textBlock(2 * margin, 2 * margin, width / 2, height / 5, width / 30.0);
  textBlock(width / 2 + margin, 2 * margin, width - 2 * margin, height / 5, width / 45.0);
  textBlock(2 * margin, height / 4, width - 2 * margin, height / 4 + height / 6, width / 18.0);
  Box(page, 2 * margin, height / 4 - margin, width - 2 * margin, height / 4 + height / 6 + margin,
      3);

  // A barcode: bars of 2 to 8 dots.
  {
    int x = 3 * margin;
    const int top = height / 2, bottom = height / 2 + height / 8;
    while (x < width - 3 * margin) {
      const int bar = 2 + int(rng() % 4) * 2;
      if (rng() % 2) Box(page, x, top, std::min(x + bar, width - 3 * margin), bottom, bar);
      x += bar;
    }
  }

  // A grey ramp, left to right, under a caption.
  {
    const int x0 = 2 * margin, x1 = width - 2 * margin;
    const int y0 = height * 7 / 10, y1 = height * 7 / 10 + height / 12;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) Ink(page, x, y, 255 * (x - x0) / (x1 - x0));
    textBlock(x0, y1 + margin, x1, y1 + margin + width / 20, width / 24.0);
  }

  // Small text at the foot, and a few check boxes.
  textBlock(2 * margin, height * 7 / 8, width * 2 / 3, height - 2 * margin, width / 60.0);
  for (int k = 0; k < 4; ++k) {
    const int x = width * 3 / 4 + k * (width / 20);
    Box(page, x, height * 7 / 8, x + width / 25, height * 7 / 8 + width / 25, 2);
  }
  return page;
}

// Grey noise over the top half: every pixel is grey, and most are decided one by one.  Below,
// rows of finder-like patterns (7 x 7 modules of 3 dots, anti-aliased by a 2 x 2 mean), every
// third one without its centre, every fifth one with a dark grey ring: code detection runs deep
// into its states from each of their edges.
Page MakeAdversarialPage(int width, int height) {
  Page page;
  page.width = width;
  page.height = height;
  page.stride = (size_t(width) * 24 + 31) / 32 * 4;
  page.bytes.assign(page.stride * height, 255);
  std::mt19937 rng(54321);
  for (int y = 0; y < height / 2; ++y)
    for (int x = 0; x < width; ++x) Ink(page, x, y, int(rng() % 256));

  std::vector<int> ideal(size_t(width) * height, 255);
  int n = 0;
  for (int top = height / 2 + 4; top + 22 < height; top += 27) {
    for (int left = 4; left + 22 < width; left += 27, ++n) {
      for (int my = 0; my < 7; ++my)
        for (int mx = 0; mx < 7; ++mx) {
          const bool ring = mx == 0 || mx == 6 || my == 0 || my == 6;
          const bool centre = mx >= 2 && mx <= 4 && my >= 2 && my <= 4 && n % 3 != 0;
          if (!ring && !centre) continue;
          for (int k = 0; k < 9; ++k)
            ideal[size_t(top + my * 3 + k / 3) * width + left + mx * 3 + k % 3] =
                ring && n % 5 == 0 ? 90 : 0;
        }
    }
  }
  auto at = [&](int x, int y) {
    return x < width && y < height ? ideal[size_t(y) * width + x] : 255;
  };
  for (int y = height / 2; y < height; ++y)
    for (int x = 0; x < width; ++x)
      Ink(page, x, y, (at(x, y) + at(x + 1, y) + at(x, y + 1) + at(x + 1, y + 1)) / 4);
  return page;
}

// A timed function: it works in place on a fresh copy of the page at every run.
struct Kernel {
  const char* name;
  void (*run)(unsigned char* pixels, const Page& page);
};

// Add a row here to time another conversion.
const Kernel kKernels[] = {
    {"otsu",
     [](unsigned char* p, const Page& page) { otsu(p, int(page.stride), page.height, 24, 100); }},
    {"OrderedDither",
     [](unsigned char* p, const Page& page) {
       OrderedDither(p, page.width, page.height, int(page.stride), 100);
     }},
    {"ErrorDiffusion",
     [](unsigned char* p, const Page& page) {
       ErrorDiffusion(p, page.width, page.height, int(page.stride), 100);
     }},
    {"Color2BW None",
     [](unsigned char* p, const Page& page) {
       // An empty code table at every run, so that every run finds the same codes.
       ResetTwoDimensionCodeRects();
       std::vector<unsigned char> bitmap(size_t((page.width + 31) >> 5) * 4 * page.height, 0xFF);
       Color2BW(p, bitmap.data(), page.width, page.height, int(page.stride), 0, 0);
     }},
};

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Median milliseconds of `runs` calls of `work` on a copy of the page; the copy is made before
// the clock starts.
template <class Work>
double TimeMs(const Page& page, std::vector<unsigned char>& scratch, int runs, Work work) {
  std::vector<double> ms;
  for (int r = 0; r < runs; ++r) {
    std::memcpy(scratch.data(), page.bytes.data(), page.bytes.size());
    const auto start = Clock::now();
    work(scratch.data());
    const auto stop = Clock::now();
    ms.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
  }
  return Median(ms);
}

// Sum of a buffer, printed so that no run can be optimised away.
unsigned Checksum(const std::vector<unsigned char>& v) {
  unsigned s = 0;
  for (unsigned char b : v) s = s * 31 + b;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 31;
  // width, height, and 1 for the adversarial page instead of the label
  const int sizes[][3] = {{812, 1218, 0}, {1200, 1800, 0}, {1200, 1800, 1}};

  std::printf("median of %d runs per row; floor = memcpy of the same page\n\n", runs);
  std::printf("%-11s %-16s %10s %10s %9s\n", "page", "function", "ms/page", "MP/s", "x floor");
  for (const auto& size : sizes) {
    const Page page =
        size[2] ? MakeAdversarialPage(size[0], size[1]) : MakeLabelPage(size[0], size[1]);
    std::vector<unsigned char> scratch(page.bytes.size());
    std::vector<unsigned char> copy(page.bytes.size());
    const double megapixels = double(page.width) * page.height / 1e6;
    char label[32];
    std::snprintf(label, sizeof label, "%dx%d%s", page.width, page.height, size[2] ? "!" : "");

    const double floor = TimeMs(
        page, scratch, runs, [&](unsigned char* p) { std::memcpy(copy.data(), p, copy.size()); });
    std::printf("%-11s %-16s %10.3f %10.1f %9s\n", label, "memcpy (floor)", floor,
                megapixels / (floor / 1e3), "1.0");
    unsigned check = Checksum(copy);
    for (const Kernel& k : kKernels) {
      const double ms = TimeMs(page, scratch, runs, [&](unsigned char* p) { k.run(p, page); });
      check ^= Checksum(scratch);
      std::printf("%-11s %-16s %10.3f %10.1f %9.1f\n", label, k.name, ms, megapixels / (ms / 1e3),
                  ms / floor);
    }
    std::printf("%-11s (checksum %08x)\n\n", "", check);
  }
  return 0;
}
