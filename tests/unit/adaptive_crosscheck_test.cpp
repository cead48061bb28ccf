// The filter's adaptive conversion (mode "None") run side by side with the
// plain second implementation of adaptive_reference.cpp, on pages of every
// kind the filter meets; bitmaps, working images and code tables must agree
// byte for byte.
//
// Contents
//   Rng, Page, page makers   random greys, text strokes, codes at 2 to 4 dots
//                            per module (crisp, area coverage, 2 x 2 mean),
//                            finder-strewn noise, tiny pages, odd strides
//   SameConversion           runs both on one page, names the first difference
//   ReferenceExample.*       the reference on the two-finder example worked by
//                            hand, so the yardstick itself is checked
//   CrossCheckRules.*        ProcessLine on random neighbourhoods near every
//                            cut and on two rare ones worked by hand; IsAnchor
//                            and IsRDCode at every pixel of finder pages
//   CrossCheckPages.*        whole pages, both tables empty at the start
//   CrossCheckJob.*          a job of pages whose code table carries over

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "adaptive_reference.h"
#include "adaptive/code_detect.h"
#include "convert/color2bw.h"
#include "grey_page.h"
#include "adaptive/line_rules.h"

namespace {

// splitmix64: the same pages on every platform and standard library.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
  int Between(int lo, int hi) { return lo + Below(hi - lo + 1); }
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
  bool Chance(int percent) { return Below(100) < percent; }

 private:
  uint64_t state_;
};

void ResetBothTables() {
  ResetTwoDimensionCodeRects();
  reference::ResetCodeRects();
}

int CodesRecorded() {
  int n = 0;
  for (const reference::Rect& r : reference::TwoDimensionCodeRect) n += r.right != 0;
  return n;
}

// ---------------------------------------------------------------- pages

enum class Stride { kPadded, kTight, kOdd };
enum class PadFill { kWhite, kBlack, kNoise };

struct Page {
  std::string name;
  int width = 0;
  int height = 0;
  int stride = 0;
  std::vector<unsigned char> bytes;
};

int StrideFor(int width, Stride kind, Rng& rng) {
  switch (kind) {
    case Stride::kPadded:
      return ((width * 24 + 31) / 32) * 4;
    case Stride::kTight:
      return 3 * width;
    case Stride::kOdd:
      return 3 * width + rng.Between(1, 7);
  }
  return 3 * width;
}

// A page from grey values (all three bytes alike, as 8-bit pages arrive) or,
// with `colour`, with bytes that differ but average to about the grey.
Page MakePage(std::string name, const std::vector<int>& grey, int width, int height, Stride kind,
              PadFill pad, Rng& rng, bool colour = false) {
  Page page;
  page.width = width;
  page.height = height;
  page.stride = StrideFor(width, kind, rng);
  page.bytes.assign(static_cast<size_t>(page.stride) * height, 255);
  for (size_t k = 0; k < page.bytes.size(); ++k) {
    const int in_row = static_cast<int>(k % page.stride);
    if (in_row < 3 * width) continue;
    page.bytes[k] = pad == PadFill::kWhite   ? 255
                    : pad == PadFill::kBlack ? 0
                                             : static_cast<unsigned char>(rng.Below(256));
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int g = std::clamp(grey[static_cast<size_t>(y) * width + x], 0, 255);
      unsigned char* px = &page.bytes[static_cast<size_t>(y) * page.stride + 3 * x];
      if (colour && g > 8 && g < 247) {
        const int spread = rng.Between(0, 8);
        px[0] = static_cast<unsigned char>(g - spread);
        px[1] = static_cast<unsigned char>(g);
        px[2] = static_cast<unsigned char>(g + spread);
      } else {
        px[0] = px[1] = px[2] = static_cast<unsigned char>(g);
      }
    }
  }
  page.name = std::move(name) + " " + std::to_string(width) + "x" + std::to_string(height) +
              " stride " + std::to_string(page.stride);
  return page;
}

// A canvas of grey values that shapes are painted onto by area coverage.
struct Canvas {
  int width;
  int height;
  std::vector<int> grey;
  Canvas(int w, int h, int background = 255)
      : width(w), height(h), grey(static_cast<size_t>(w) * h, background) {}
  int& At(int x, int y) { return grey[static_cast<size_t>(y) * width + x]; }
};

void FillNoise(Canvas& c, Rng& rng, int lo, int hi) {
  for (int& g : c.grey) g = rng.Between(lo, hi);
}

// Darkens every pixel by the share of its area that the rectangle
// [x0, x1) x [y0, y1) covers, rounding to the nearest level.
void PaintRect(Canvas& c, double x0, double y0, double x1, double y1, int ink = 0) {
  const int px0 = std::max(0, static_cast<int>(std::floor(x0)));
  const int py0 = std::max(0, static_cast<int>(std::floor(y0)));
  const int px1 = std::min(c.width - 1, static_cast<int>(std::ceil(x1)));
  const int py1 = std::min(c.height - 1, static_cast<int>(std::ceil(y1)));
  for (int y = py0; y <= py1; ++y) {
    const double cy = std::max(0.0, std::min(y + 1.0, y1) - std::max(static_cast<double>(y), y0));
    if (cy <= 0) continue;
    for (int x = px0; x <= px1; ++x) {
      const double cx = std::max(0.0, std::min(x + 1.0, x1) - std::max(static_cast<double>(x), x0));
      const double cover = cx * cy;
      if (cover <= 0) continue;
      int& g = c.At(x, y);
      g = static_cast<int>(std::lround(g * (1.0 - cover) + ink * cover));
    }
  }
}

// A thick line from (ax, ay) to (bx, by), sampled 4 x 4 per pixel.
void PaintStroke(Canvas& c, double ax, double ay, double bx, double by, double thickness) {
  const double len = std::hypot(bx - ax, by - ay);
  if (len <= 0) return;
  const int x0 = std::max(0, static_cast<int>(std::min(ax, bx) - thickness) - 1);
  const int x1 = std::min(c.width - 1, static_cast<int>(std::max(ax, bx) + thickness) + 1);
  const int y0 = std::max(0, static_cast<int>(std::min(ay, by) - thickness) - 1);
  const int y1 = std::min(c.height - 1, static_cast<int>(std::max(ay, by) + thickness) + 1);
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      int hits = 0;
      for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
          const double px = x + (sx + 0.5) / 4, py = y + (sy + 0.5) / 4;
          const double t =
              std::clamp(((px - ax) * (bx - ax) + (py - ay) * (by - ay)) / (len * len), 0.0, 1.0);
          const double d = std::hypot(px - (ax + t * (bx - ax)), py - (ay + t * (by - ay)));
          hits += d <= thickness / 2;
        }
      }
      int& g = c.At(x, y);
      g = g * (16 - hits) / 16;
    }
  }
}

// Module grid of a two-dimensional code: finders at three corners with their
// light separators, timing lines, random modules elsewhere.
struct Code {
  int n;
  std::vector<bool> dark;
  bool At(int mx, int my) const { return dark[static_cast<size_t>(my) * n + mx]; }
};

// Without `bottom_finder` the bottom-left corner holds random modules, so a
// code can only be taken as square.
Code MakeCode(int n, Rng& rng, bool bottom_finder = true) {
  Code code{n, std::vector<bool>(static_cast<size_t>(n) * n)};
  auto in_finder = [&](int mx, int my, int fx, int fy) {
    return mx >= fx - 1 && mx <= fx + 7 && my >= fy - 1 && my <= fy + 7;
  };
  auto finder_dark = [](int dx, int dy) {
    const bool ring = dx == 0 || dx == 6 || dy == 0 || dy == 6;
    const bool centre = dx >= 2 && dx <= 4 && dy >= 2 && dy <= 4;
    return dx >= 0 && dx <= 6 && dy >= 0 && dy <= 6 && (ring || centre);
  };
  for (int my = 0; my < n; ++my) {
    for (int mx = 0; mx < n; ++mx) {
      bool d;
      if (in_finder(mx, my, 0, 0)) {
        d = finder_dark(mx, my);
      } else if (in_finder(mx, my, n - 7, 0)) {
        d = finder_dark(mx - (n - 7), my);
      } else if (bottom_finder && in_finder(mx, my, 0, n - 7)) {
        d = finder_dark(mx, my - (n - 7));
      } else if (mx == 6 || my == 6) {
        d = (mx + my) % 2 == 0;
      } else {
        d = rng.Chance(50);
      }
      code.dark[static_cast<size_t>(my) * n + mx] = d;
    }
  }
  return code;
}

Code FinderOnly() {
  Rng unused(0);
  Code code = MakeCode(7, unused);
  return code;
}

enum class Render { kCrisp, kCoverage, kMean2x2 };

// Paints `code` with its top-left corner at (left, top), `module` pixels per
// module.  Crisp: a pixel is dark when the module under its centre is.
void PaintCode(Canvas& c, const Code& code, double left, double top, double module, Render render) {
  for (int my = 0; my < code.n; ++my) {
    for (int mx = 0; mx < code.n; ++mx) {
      if (!code.At(mx, my)) continue;
      const double x0 = left + mx * module, y0 = top + my * module;
      if (render == Render::kCoverage) {
        PaintRect(c, x0, y0, x0 + module, y0 + module);
        continue;
      }
      for (int y = static_cast<int>(std::floor(y0)); y <= static_cast<int>(y0 + module); ++y) {
        for (int x = static_cast<int>(std::floor(x0)); x <= static_cast<int>(x0 + module); ++x) {
          if (x < 0 || y < 0 || x >= c.width || y >= c.height) continue;
          if (x + 0.5 >= x0 && x + 0.5 < x0 + module && y + 0.5 >= y0 && y + 0.5 < y0 + module) {
            c.At(x, y) = 0;
          }
        }
      }
    }
  }
}

void Mean2x2(Canvas& c) { c.grey = Smooth2x2(c.grey, c.width, c.height); }

// ---------------------------------------------------------------- comparison

std::string DescribeTables() {
  std::ostringstream out;
  for (int k = 0; k < kTwoDimensionCodeSlots; ++k) {
    const RECT& a = TwoDimensionCodeRect[k];
    const reference::Rect& b = reference::TwoDimensionCodeRect[k];
    out << "  [" << k << "] filter {" << a.left << "," << a.top << "," << a.right << "," << a.bottom
        << "} reference {" << b.left << "," << b.top << "," << b.right << "," << b.bottom << "}\n";
  }
  return out.str();
}

bool TablesEqual() {
  for (int k = 0; k < kTwoDimensionCodeSlots; ++k) {
    const RECT& a = TwoDimensionCodeRect[k];
    const reference::Rect& b = reference::TwoDimensionCodeRect[k];
    if (a.left != b.left || a.top != b.top || a.right != b.right || a.bottom != b.bottom) {
      return false;
    }
  }
  return true;
}

// Converts copies of `page` with the filter and with the reference, from the
// tables as they stand, and compares everything the conversion leaves behind.
::testing::AssertionResult SameConversion(const Page& page) {
  const int xx = ((page.width + 31) >> 5) * 4;
  const size_t bitmap_size = static_cast<size_t>(xx) * page.height;
  std::vector<unsigned char> filter_image = page.bytes, reference_image = page.bytes;
  std::vector<unsigned char> filter_bits(bitmap_size, 0xFF), reference_bits(bitmap_size, 0xFF);

  Color2BW(filter_image.data(), filter_bits.data(), page.width, page.height, page.stride, 0, 0);
  reference::Color2BW(reference_image.data(), reference_bits.data(), page.width, page.height,
                      page.stride);

  std::ostringstream why;
  const auto image_diff =
      std::mismatch(filter_image.begin(), filter_image.end(), reference_image.begin());
  if (image_diff.first != filter_image.end()) {
    const size_t at = static_cast<size_t>(image_diff.first - filter_image.begin());
    const int y = static_cast<int>(at / page.stride);
    const int in_row = static_cast<int>(at % page.stride);
    why << "working image differs first at pixel (" << in_row / 3 << ", " << y << ") byte "
        << in_row % 3 << ": filter " << int{*image_diff.first} << ", reference "
        << int{*image_diff.second} << ", grey " << int{page.bytes[at]} << "\n";
  }
  const auto bit_diff =
      std::mismatch(filter_bits.begin(), filter_bits.end(), reference_bits.begin());
  if (bit_diff.first != filter_bits.end()) {
    const size_t at = static_cast<size_t>(bit_diff.first - filter_bits.begin());
    why << "bitmap differs first at row " << at / xx << " dots " << (at % xx) * 8 << "..: filter 0x"
        << std::hex << int{*bit_diff.first} << ", reference 0x" << int{*bit_diff.second} << std::dec
        << "\n";
  }
  if (!TablesEqual()) why << "code tables differ:\n" << DescribeTables();
  if (why.str().empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << page.name << "\n" << why.str();
}

// Pages converted with both tables empty; counts the pages that recorded codes.
struct Tally {
  int pages = 0;
  int with_codes = 0;
};

void CheckFresh(const Page& page, Tally& tally) {
  ResetBothTables();
  EXPECT_TRUE(SameConversion(page));
  ++tally.pages;
  tally.with_codes += CodesRecorded() > 0;
}

// ---------------------------------------------------------------- reference example

class ReferenceExample : public ::testing::Test {
 protected:
  void SetUp() override { ResetBothTables(); }
  void TearDown() override { ResetBothTables(); }
};

// 100 x 80, 3 dots per module, finders at (8, 4) and 42 dots to the right.
GreyPage TwoFinderPage(bool smoothed) {
  constexpr int kWidth = 100, kHeight = 80;
  std::vector<int> ideal(kWidth * kHeight, 255);
  DrawFinder(ideal, kWidth, 8, 4, 3);
  DrawFinder(ideal, kWidth, 50, 4, 3);
  const std::vector<int> grey = smoothed ? Smooth2x2(ideal, kWidth, kHeight) : ideal;
  GreyPage page(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) page.Grey(x, y, grey[y * kWidth + x]);
  }
  return page;
}

TEST_F(ReferenceExample, SmoothedFinderPairIsMeasuredAndRecordedAsASquare) {
  GreyPage page = TwoFinderPage(true);
  const unsigned char* grey = page.snapshot.data();
  EXPECT_EQ(reference::IsAnchor(grey, 7, 3, page.stride, page.height), 21);
  EXPECT_EQ(reference::IsAnchor(grey, 8, 4, page.stride, page.height), 20);
  EXPECT_EQ(reference::IsRDCode(grey, 7, 3, page.stride, page.height), 0);
  EXPECT_EQ(CodesRecorded(), 0);
  EXPECT_EQ(reference::IsRDCode(grey, 8, 4, page.stride, page.height), 1);
  const reference::Rect& r = reference::TwoDimensionCodeRect[0];
  EXPECT_EQ(r.left, 8);
  EXPECT_EQ(r.top, 4);
  EXPECT_EQ(r.right, 70);
  EXPECT_EQ(r.bottom, 66);
}

TEST_F(ReferenceExample, CrispFinderPairIsNoCode) {
  GreyPage page = TwoFinderPage(false);
  const unsigned char* grey = page.snapshot.data();
  EXPECT_EQ(reference::IsAnchor(grey, 7, 3, page.stride, page.height), 0);
  EXPECT_EQ(reference::IsAnchor(grey, 8, 4, page.stride, page.height), 0);
  EXPECT_EQ(reference::IsRDCode(grey, 8, 4, page.stride, page.height), 0);
  EXPECT_EQ(CodesRecorded(), 0);
}

// ---------------------------------------------------------------- single routines

class CrossCheckRules : public ::testing::Test {
 protected:
  void SetUp() override { ResetBothTables(); }
  void TearDown() override { ResetBothTables(); }
};

// Grey levels at and around every cut the rules make.
int InterestingGrey(Rng& rng) {
  static const int kCuts[] = {0,   1,   29,  30,  31,  49,  50,  69,  70,  71,  79,  80,
                              81,  89,  90,  91,  99,  100, 101, 149, 150, 151, 179, 180,
                              181, 199, 200, 201, 219, 220, 234, 235, 236, 254, 255};
  if (rng.Chance(30)) return rng.Below(256);
  return kCuts[rng.Below(static_cast<int>(std::size(kCuts)))];
}

int Near(int grey, Rng& rng) {
  static const int kSteps[] = {0,  1,  5,  6,  9,  10, 11, 19, 20, 21, 29,
                               30, 31, 34, 35, 36, 49, 50, 51, 80, 120};
  const int step = kSteps[rng.Below(static_cast<int>(std::size(kSteps)))];
  return std::clamp(rng.Chance(50) ? grey + step : grey - step, 0, 255);
}

// Every pixel's neighbourhood is drawn near its left or upper neighbour so
// that the "within k" tests land on both sides of k; decisions already taken
// are 0, 255 or (as in unvisited padding columns) a grey value.
TEST_F(CrossCheckRules, ProcessLineAgreesOnRandomNeighbourhoods) {
  constexpr int kTrials = 250000;
  Rng rng(7);
  int calls = 0;
  for (int trial = 0; trial < kTrials; ++trial) {
    const int width = rng.Between(1, 9);
    const int height = rng.Between(1, 5);
    const Stride kind = static_cast<Stride>(rng.Below(3));
    const int stride = StrideFor(width, kind, rng);
    const size_t size = static_cast<size_t>(stride) * height;
    const int columns = stride / 3;
    std::vector<unsigned char> grey(2 * size, 255);
    for (int r = 0; r < height; ++r) {
      const size_t row = static_cast<size_t>(r) * stride;
      for (int c = 0; c < columns; ++c) {
        const size_t at = row + 3 * c;
        int g = InterestingGrey(rng);
        if (c >= 1 && rng.Chance(50)) g = Near(grey[at - 3], rng);
        if (r >= 1 && rng.Chance(40)) g = Near(grey[at - stride], rng);
        grey[at] = grey[at + 1] = grey[at + 2] = static_cast<unsigned char>(g);
      }
      // One or two bytes left at the row's end: read by the run average only.
      for (size_t k = row + 3 * columns; k < row + stride; ++k) {
        const int pick = rng.Below(4);
        grey[k] = static_cast<unsigned char>(pick < 2 ? 255 : pick < 3 ? 0 : rng.Below(256));
      }
    }
    const int x = rng.Below(std::max(1, std::min(columns, width + 1)));
    const int y = rng.Below(height);
    std::vector<unsigned char> image(grey.begin(), grey.begin() + static_cast<long>(size));
    for (int r = 0; r <= y; ++r) {
      for (int c = 0; c < (r < y ? width : x); ++c) {
        const size_t at = static_cast<size_t>(r) * stride + 3 * c;
        const int pick = rng.Below(10);
        int v = pick < 4 ? 0 : pick < 8 ? 255 : rng.Below(256);
        if (c >= 1 && rng.Chance(60)) v = image[at - 3];  // runs of one decision
        image[at] = image[at + 1] = image[at + 2] = static_cast<unsigned char>(v);
      }
    }
    // Now and then the row above is one run, as on real pages: one decision,
    // greys near each other, and the bytes after its last column alike, so
    // that the run average reaches the row's end.
    if (y >= 1 && rng.Chance(30)) {
      const int decision = rng.Chance(50) ? 255 : 0;
      const int base = decision == 255 ? rng.Between(190, 255) : rng.Between(0, 60);
      const size_t row = static_cast<size_t>(y - 1) * stride;
      for (int c = 0; c < columns; ++c) {
        const size_t at = row + 3 * c;
        const auto g = static_cast<unsigned char>(std::clamp(base + rng.Between(-30, 30), 0, 255));
        grey[at] = grey[at + 1] = grey[at + 2] = g;
        image[at] = image[at + 1] = image[at + 2] = static_cast<unsigned char>(decision);
      }
      for (size_t k = row + 3 * columns; k < row + stride; ++k) {
        grey[k] = image[k] = static_cast<unsigned char>(decision);
      }
      const size_t here = static_cast<size_t>(y) * stride + 3 * x;
      const auto o = static_cast<unsigned char>(std::clamp(base + rng.Between(-40, 40), 0, 255));
      grey[here] = grey[here + 1] = grey[here + 2] = image[here] = image[here + 1] =
          image[here + 2] = o;
    }
    for (int r = y; r < height; ++r) {
      for (int c = r == y ? x : 0; c < columns; ++c) {
        if (rng.Chance(5)) image[static_cast<size_t>(r) * stride + 3 * c] = 255;  // white marks
      }
    }
    // A code around the pixel now and then, so the whitening runs too.
    ResetBothTables();
    if (rng.Chance(30)) {
      const RECT r{rng.Between(0, x), rng.Between(0, y), x + rng.Between(0, 4),
                   y + rng.Between(0, 3)};
      TwoDimensionCodeRect[0] = r;
      reference::TwoDimensionCodeRect[0] = reference::Rect{r.left, r.top, r.right, r.bottom};
    }

    std::vector<unsigned char> filter_image = image, reference_image = image;
    ProcessLine(filter_image.data(), grey.data(), x, y, stride, height);
    reference::ProcessLine(reference_image.data(), grey.data(), x, y, stride, height);
    ++calls;
    const auto diff =
        std::mismatch(filter_image.begin(), filter_image.end(), reference_image.begin());
    if (diff.first != filter_image.end()) {
      const size_t at = static_cast<size_t>(diff.first - filter_image.begin());
      std::ostringstream page;
      for (int r = 0; r < height; ++r) {
        page << "\n  grey ";
        for (int c = 0; c < columns; ++c)
          page << int{grey[static_cast<size_t>(r) * stride + 3 * c]} << " ";
        page << "| decided ";
        for (int c = 0; c < columns; ++c)
          page << int{image[static_cast<size_t>(r) * stride + 3 * c]} << " ";
      }
      ADD_FAILURE() << "trial " << trial << ": pixel (" << x << ", " << y << ") of " << width << "x"
                    << height << " stride " << stride << ": byte " << at % stride << " of row "
                    << at / stride << " filter " << int{*diff.first} << " reference "
                    << int{*diff.second} << page.str() << "\n"
                    << DescribeTables();
      break;
    }
    ASSERT_TRUE(TablesEqual()) << "trial " << trial << "\n" << DescribeTables();
  }
  EXPECT_EQ(calls, kTrials);
}

// Two neighbourhoods that random ones hardly ever meet, worked by hand: both
// implementations must give the decision the rules give.
TEST_F(CrossCheckRules, RareCutsDecideAsWritten) {
  auto decide_both = [](GreyPage& page, int x, int y) {
    std::vector<unsigned char> other = page.image;
    ProcessLine(page.image.data(), page.snapshot.data(), x, y, page.stride, page.height);
    reference::ProcessLine(other.data(), page.snapshot.data(), x, y, page.stride, page.height);
    EXPECT_EQ(page.image, other);
    return page.Decision(x, y);
  };

  // A stride of 3 * 6 + 1: the run above (1, 1) also counts the lone byte
  // after the last column (0, within 30 of the 30 above), which brings its
  // mean from 54 down to 45, no longer within 9 of the pixel's 58: instead of
  // the dark decision above, the pixel takes the white one on its left.
  {
    GreyPage page(6, 2, 1);
    page.Decided(0, 0, 200, 255);
    page.Decided(1, 0, 30, 0);
    for (int x = 2; x < 6; ++x) page.Decided(x, 0, 60, 0);
    page.image[18] = page.snapshot[18] = 0;
    page.Decided(0, 1, 58, 255);
    page.Grey(1, 1, 58);
    EXPECT_EQ(decide_both(page, 1, 1), 255);
  }

  // Closer to the row below and lighter than above, two columns in: a left
  // neighbour of exactly 70 is not "below 70", so the pixel is not made
  // white for its dark left; it takes the dark decision above (within 10).
  {
    GreyPage page(5, 3);
    page.Decided(2, 0, 105, 0);
    page.Decided(3, 0, 105, 255);
    page.Decided(0, 1, 40, 0);
    page.Decided(1, 1, 70, 0);
    page.Grey(2, 1, 110);
    page.Grey(3, 1, 110);
    page.Grey(2, 2, 112);
    EXPECT_EQ(decide_both(page, 2, 1), 0);
  }
}

// IsAnchor at every pixel of `page`, and IsRDCode (from an empty table)
// wherever a finder is confirmed.
void CompareDetectionAtEveryPixel(const Page& page, int& confirmed, int& recorded) {
  std::vector<unsigned char> grey(2 * page.bytes.size(), 255);
  std::copy(page.bytes.begin(), page.bytes.end(), grey.begin());
  for (int y = 0; y < page.height; ++y) {
    for (int x = 0; x < page.stride / 3; ++x) {
      const int a = IsAnchor(grey.data(), grey.data(), x, y, page.stride, page.height);
      const int b = reference::IsAnchor(grey.data(), x, y, page.stride, page.height);
      ASSERT_EQ(a, b) << page.name << " IsAnchor at (" << x << ", " << y << ")";
      confirmed += b != 0;
      if (b == 0) continue;
      ResetBothTables();
      const int ca = IsRDCode(grey.data(), grey.data(), x, y, page.stride, page.height);
      const int cb = reference::IsRDCode(grey.data(), x, y, page.stride, page.height);
      ASSERT_EQ(ca, cb) << page.name << " IsRDCode at (" << x << ", " << y << ")";
      ASSERT_TRUE(TablesEqual()) << page.name << " at (" << x << ", " << y << ")\n"
                                 << DescribeTables();
      recorded += cb;
    }
  }
}

// Pages strewn with finders and codes at every module size: IsAnchor and
// IsRDCode must agree at every pixel.
TEST_F(CrossCheckRules, FinderDetectionAgreesAtEveryPixel) {
  Rng rng(11);
  const double kModules[] = {2.0, 2.5, 3.0, 10.0 / 3.0, 4.0};
  int confirmed = 0, recorded = 0;
  for (int k = 0; k < 10; ++k) {
    Canvas c(120, 90);
    if (k % 2 == 1) FillNoise(c, rng, 150, 255);
    const double module = kModules[k % 5];
    PaintCode(c, MakeCode(21, rng), 6 + rng.Unit(), 5 + rng.Unit(), module,
              k < 5 ? Render::kCoverage : Render::kCrisp);
    PaintCode(c, FinderOnly(), 85 + rng.Unit(), 50 + rng.Unit(), module, Render::kCoverage);
    if (k >= 5) Mean2x2(c);
    CompareDetectionAtEveryPixel(
        MakePage("finders", c.grey, c.width, c.height, Stride::kPadded, PadFill::kWhite, rng),
        confirmed, recorded);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(confirmed, 0);
  EXPECT_GT(recorded, 0);
}

// Finder pairs drawn at dark and light levels right at the detector's cuts,
// about 42 dots apart (the narrowest code it accepts is 43 wide), smoothed or
// not, and sprinkled with more cut values: comparisons meet equality often.
TEST_F(CrossCheckRules, FinderDetectionAgreesOnFindersAtTheCuts) {
  static const int kDark[] = {0, 40, 64, 99, 100};
  static const int kLight[] = {255, 220, 201, 200, 199, 150, 149};
  Rng rng(12);
  int confirmed = 0, recorded = 0;
  for (int k = 0; k < 90; ++k) {
    const bool clean = k < 36;  // black on white, smoothed, no sprinkles
    const int module = 2 + k % 2;
    const int left = rng.Between(0, 5), top = rng.Between(0, 4);
    const int apart = (module == 2 ? 26 : 38) + k / 2 % 9;
    const int down = apart - rng.Between(0, 2);
    const bool bottom_finder = rng.Chance(50);
    const int w = left + apart + 7 * module + rng.Between(0, 12);
    const int h = (bottom_finder ? top + down : top) + 7 * module + rng.Between(0, 12);
    std::vector<int> ideal(static_cast<size_t>(w) * h, 255);
    DrawFinder(ideal, w, left, top, module);
    DrawFinder(ideal, w, left + apart, top, module);
    if (bottom_finder) DrawFinder(ideal, w, left, top + down, module);
    if (!clean) {
      const int dark = kDark[rng.Below(static_cast<int>(std::size(kDark)))];
      const int light = kLight[rng.Below(static_cast<int>(std::size(kLight)))];
      for (int& v : ideal) v = v == 0 ? dark : light;
    }
    if (clean || rng.Chance(70)) ideal = Smooth2x2(ideal, w, h);
    for (int& v : ideal) {
      if (!clean && rng.Chance(2)) v = InterestingGrey(rng);
    }
    CompareDetectionAtEveryPixel(MakePage("finders at the cuts", ideal, w, h,
                                          static_cast<Stride>(k % 3), PadFill::kWhite, rng),
                                 confirmed, recorded);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(confirmed, 0);
  EXPECT_GT(recorded, 0);
}

// ---------------------------------------------------------------- whole pages

class CrossCheckPages : public ::testing::Test {
 protected:
  void SetUp() override { ResetBothTables(); }
  void TearDown() override { ResetBothTables(); }
};

TEST_F(CrossCheckPages, RandomGreysOfEveryStride) {
  Rng rng(21);
  Tally tally;
  for (int k = 0; k < 120; ++k) {
    const int w = rng.Between(8, 70), h = rng.Between(2, 40);
    Canvas c(w, h);
    const int lo = rng.Chance(50) ? 0 : rng.Between(0, 150);
    FillNoise(c, rng, lo, rng.Between(lo, 255));
    CheckFresh(MakePage("random greys", c.grey, w, h, static_cast<Stride>(k % 3),
                        static_cast<PadFill>(k / 3 % 3), rng, k % 4 == 0),
               tally);
  }
  EXPECT_EQ(tally.pages, 120);
}

TEST_F(CrossCheckPages, TinyPages) {
  Rng rng(22);
  Tally tally;
  for (int w = 1; w <= 7; ++w) {
    for (int h = 1; h <= 7; ++h) {
      Canvas c(w, h);
      FillNoise(c, rng, 0, 255);
      CheckFresh(MakePage("tiny", c.grey, w, h, static_cast<Stride>((w + h) % 3),
                          static_cast<PadFill>(w % 3), rng),
                 tally);
    }
  }
  EXPECT_EQ(tally.pages, 49);
}

TEST_F(CrossCheckPages, SmoothedTextStrokes) {
  Rng rng(23);
  Tally tally;
  for (int k = 0; k < 80; ++k) {
    const int w = rng.Between(40, 160), h = rng.Between(20, 70);
    Canvas c(w, h);
    if (k % 5 == 4) FillNoise(c, rng, 200, 255);
    for (int s = 0; s < 12; ++s) {
      const double x = rng.Unit() * w, y = rng.Unit() * h;
      const double t = 1.0 + rng.Unit() * 3.0;
      switch (rng.Below(3)) {
        case 0:  // horizontal bar
          PaintRect(c, x, y, x + 4 + rng.Unit() * 20, y + t, rng.Chance(80) ? 0 : 90);
          break;
        case 1:  // vertical stem
          PaintRect(c, x, y, x + t, y + 4 + rng.Unit() * 20, rng.Chance(80) ? 0 : 90);
          break;
        default:  // diagonal
          PaintStroke(c, x, y, x + rng.Between(-15, 15), y + rng.Between(-15, 15), t);
      }
    }
    if (k % 3 == 2) Mean2x2(c);
    CheckFresh(MakePage("text strokes", c.grey, w, h, static_cast<Stride>(k % 3),
                        static_cast<PadFill>(k % 2), rng, k % 7 == 0),
               tally);
  }
  EXPECT_EQ(tally.pages, 80);
}

// One code per page at 2, 2.5, 3, 3.33 and 4 dots per module, rendered crisp,
// by area coverage and by the 2 x 2 mean, on white or light noise.
TEST_F(CrossCheckPages, CodesAtEveryModuleSize) {
  Rng rng(24);
  const double kModules[] = {2.0, 2.5, 3.0, 10.0 / 3.0, 4.0};
  const Render kRenders[] = {Render::kCrisp, Render::kCoverage, Render::kMean2x2};
  Tally tally;
  for (int k = 0; k < 150; ++k) {
    const double module = kModules[k % 5];
    const Render render = kRenders[k / 5 % 3];
    const int n = module < 2.5 ? 25 : 21 + 4 * rng.Below(2);
    const int quiet = rng.Between(1, 5);
    const int side = static_cast<int>(std::ceil((n + 2 * quiet) * module)) + rng.Between(0, 9);
    Canvas c(side, side + rng.Between(-5, 5));
    if (k / 15 % 2 == 1) FillNoise(c, rng, 225, 255);
    const double left = quiet * module + (render == Render::kCrisp ? 0 : rng.Unit());
    const double top = quiet * module + (render == Render::kCrisp ? 0 : rng.Unit());
    PaintCode(c, MakeCode(n, rng, k % 4 != 1), left, top, module,
              render == Render::kCoverage ? Render::kCoverage : Render::kCrisp);
    if (render == Render::kMean2x2) Mean2x2(c);
    CheckFresh(MakePage("code", c.grey, c.width, c.height, static_cast<Stride>(k / 75 + k % 2),
                        PadFill::kWhite, rng, k % 11 == 0),
               tally);
    // The smoothed renderings are the ones the detector is built for.
    if (render == Render::kMean2x2) {
      EXPECT_GT(CodesRecorded(), 0) << "module " << module << ", page " << k;
    }
  }
  EXPECT_EQ(tally.pages, 150);
  EXPECT_GE(tally.with_codes, 50);
}

// Grey noise with many finder-like squares, lone finders and finder pairs far
// enough apart to pass for codes.
TEST_F(CrossCheckPages, FinderStrewnNoise) {
  Rng rng(25);
  const double kModules[] = {2.0, 2.5, 3.0, 10.0 / 3.0, 4.0};
  Tally tally;
  for (int k = 0; k < 80; ++k) {
    const int w = rng.Between(90, 200), h = rng.Between(60, 140);
    Canvas c(w, h);
    FillNoise(c, rng, rng.Between(60, 180), 255);
    for (int f = 0; f < 8; ++f) {
      const double module = kModules[rng.Below(5)];
      const double x = rng.Unit() * (w - 10), y = rng.Unit() * (h - 10);
      PaintCode(c, FinderOnly(), x, y, module, rng.Chance(60) ? Render::kCoverage : Render::kCrisp);
      if (rng.Chance(50)) {
        PaintCode(c, FinderOnly(), x + 14 * module + rng.Between(0, 4), y, module,
                  Render::kCoverage);
      }
      if (rng.Chance(30)) {
        PaintCode(c, FinderOnly(), x, y + 14 * module + rng.Between(0, 4), module,
                  Render::kCoverage);
      }
    }
    if (k % 2 == 0) Mean2x2(c);
    CheckFresh(MakePage("finder noise", c.grey, w, h, static_cast<Stride>(k % 3),
                        static_cast<PadFill>(k % 3), rng),
               tally);
  }
  EXPECT_EQ(tally.pages, 80);
  EXPECT_GE(tally.with_codes, 1);
}

// Twelve codes on one page: the table fills up and the last codes find no
// slot.
TEST_F(CrossCheckPages, MoreCodesThanSlots) {
  Rng rng(26);
  for (const Stride kind : {Stride::kPadded, Stride::kTight}) {
    Canvas c(4 * 81, 3 * 81);
    for (int row = 0; row < 3; ++row) {
      for (int col = 0; col < 4; ++col) {
        PaintCode(c, MakeCode(21, rng), col * 81 + 9, row * 81 + 9, 3.0, Render::kCrisp);
      }
    }
    Mean2x2(c);
    ResetBothTables();
    EXPECT_TRUE(SameConversion(
        MakePage("twelve codes", c.grey, c.width, c.height, kind, PadFill::kWhite, rng)));
    EXPECT_EQ(CodesRecorded(), reference::kCodeSlots);
  }
}

// ---------------------------------------------------------------- a job

class CrossCheckJob : public ::testing::Test {
 protected:
  void SetUp() override { ResetBothTables(); }
  void TearDown() override { ResetBothTables(); }
};

// Pages of one job: codes found early stay in both tables and govern later
// pages, including pages of another size where the old rectangles cover text.
TEST_F(CrossCheckJob, TablesCarryOverFromPageToPage) {
  Rng rng(27);
  const double kModules[] = {2.5, 3.0, 10.0 / 3.0, 4.0};
  int pages = 0;
  for (int k = 0; k < 60; ++k) {
    const int w = rng.Between(100, 180), h = rng.Between(90, 150);
    Canvas c(w, h);
    if (k % 3 == 0) FillNoise(c, rng, 215, 255);
    const double module = kModules[k % 4];
    const double left = rng.Between(0, 3) * 8 + rng.Unit(), top = rng.Between(0, 3) * 6;
    if (k % 4 != 3) {
      PaintCode(c, MakeCode(21, rng), left, top, module,
                rng.Chance(50) ? Render::kCoverage : Render::kCrisp);
    }
    for (int s = 0; s < 6; ++s) {
      PaintRect(c, rng.Unit() * w, rng.Unit() * h, rng.Unit() * w, rng.Unit() * h,
                rng.Chance(50) ? 0 : 60);
    }
    if (k % 2 == 0) Mean2x2(c);
    const Page page = MakePage("job page " + std::to_string(k), c.grey, w, h,
                               static_cast<Stride>(k % 2), PadFill::kWhite, rng);
    ASSERT_TRUE(SameConversion(page));
    ++pages;
  }
  EXPECT_EQ(pages, 60);
  EXPECT_GT(CodesRecorded(), 1);
}

}  // namespace
