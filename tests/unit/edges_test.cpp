// The edges that whole golden jobs do not pin down by themselves: hand-worked cases of the
// threshold, the boundary test, finder detection and the band scan.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adaptive/code_detect.h"
#include "adaptive/grey_steps.h"
#include "convert/border.h"
#include "convert/color2bw.h"
#include "convert/otsu.h"
#include "label/bands.h"
#include "label/command_text.h"

namespace {

// A grey working image of w x h pixels (three equal bytes each) at a stride of 3w + padding,
// with the white margin behind it that the adaptive conversion's snapshot carries.
struct Grey {
  int w, h, stride;
  std::vector<unsigned char> px;
  Grey(int width, int height, int padding = 0)
      : w(width), h(height), stride(3 * width + padding), px(2 * size_t(stride) * height, 255) {}
  void Set(int x, int y, int v) {
    for (int k = 0; k < 3; ++k) px[size_t(y) * stride + 3 * x + k] = static_cast<unsigned char>(v);
  }
  int At(int x, int y) const { return px[size_t(y) * stride + 3 * x]; }
};

}  // namespace

TEST(Otsu, TiesGoToTheLowestLevelAndGreyingCountsWholeGroupsOnly) {
  Grey g(9, 1, 1);  // a 28-byte row: nine pixels, then one padding byte that is no group
  for (int x = 0; x < 9; ++x) g.Set(x, 0, 51 + x / 3);  // 51, 52, 53 in equal shares
  EXPECT_EQ(otsu(g.px.data(), g.stride, 1, 24, 100), 51);
  std::vector<unsigned char> colour = {10, 20, 31, 9};
  otsu(colour.data(), 4, 1, 24, 100);
  EXPECT_EQ(colour, (std::vector<unsigned char>{20, 20, 20, 9}))
      << "the byte after the group is kept";
}

TEST(Border, AGrey229PixelInAWideRowIsABoundaryAndTakesTheDecisionAbove) {
  Grey g(40, 3, 0);
  for (int x = 0; x < 40; ++x) g.Set(x, 1, x < 20 ? 255 : 0);  // light left, dark right
  g.Set(20, 1, 229);
  g.Set(20, 0, 140);  // the pixel above decides: grey 140 is not above 150, so black
  EXPECT_EQ(IsBorder(g.px.data(), 20, 1, 40, 3), 0);
  g.Set(21, 1, 230);
  EXPECT_EQ(IsBorder(g.px.data(), 21, 1, 40, 3), -1) << "230 is no mid-grey";
  g.Set(21, 1, 0);
  SnapBorderPixels(g.px.data(), 40, 3, g.stride, 0);
  EXPECT_EQ(g.At(20, 1), 0);
  EXPECT_EQ(g.At(20, 0), 140) << "the deciding pixel itself is no boundary";
}

TEST(Conversion, ModesByChoiceNameWithoutRegardToCase) {
  EXPECT_EQ(ModeOfChoice("errordiffusion"), ConversionMode::kErrorDiffusion);
  EXPECT_EQ(ModeOfChoice("THRESHOLD"), ConversionMode::kThreshold);
  EXPECT_EQ(ModeOfChoice("Halftone"), ConversionMode::kNone);
  EXPECT_EQ(ModeOfChoice(nullptr), ConversionMode::kNone);
}

// Finder patterns of 7 x 7 modules at 3 pixels a module, smoothed by a 2 x 2 mean as a scan
// smooths them: a finder at (8, 4) and a second one 14 modules to its right.
class Finders : public testing::Test {
 protected:
  void SetUp() override { ResetTwoDimensionCodeRects(); }
  void TearDown() override { ResetTwoDimensionCodeRects(); }
  static Grey Page() {
    std::vector<int> ideal(100 * 80, 255);
    for (int left : {8, 50}) {
      for (int my = 0; my < 7; ++my)
        for (int mx = 0; mx < 7; ++mx) {
          const int ring = std::max(std::abs(mx - 3), std::abs(my - 3));
          if (ring == 2) continue;
          for (int d = 0; d < 9; ++d) ideal[(4 + 3 * my + d / 3) * 100 + left + 3 * mx + d % 3] = 0;
        }
    }
    auto at = [&](int x, int y) { return x < 100 && y < 80 ? ideal[y * 100 + x] : 255; };
    Grey g(100, 80);
    for (int y = 0; y < 80; ++y)
      for (int x = 0; x < 100; ++x)
        g.Set(x, y, (at(x, y) + at(x + 1, y) + at(x, y + 1) + at(x + 1, y + 1)) / 4);
    return g;
  }
};

TEST_F(Finders, SmoothedFindersMakeASquareCode) {
  const Grey g = Page();
  const GreySteps steps(g.px.data(), g.stride, g.h);
  auto anchor = [&](int x, int y) {
    return IsAnchor(nullptr, g.px.data(), x, y, g.stride, g.h, steps);
  };
  auto code = [&](int x, int y) {
    return IsRDCode(nullptr, g.px.data(), x, y, g.stride, g.h, steps);
  };
  EXPECT_EQ(anchor(7, 3), 21);  // from the smoothed corner the top band ends at column 28
  EXPECT_EQ(anchor(8, 4), 20);
  EXPECT_EQ(code(7, 3), 0) << "row 3 holds nothing dark enough to lead to the second finder";
  ASSERT_EQ(code(8, 4), 1);
  const RECT r = TwoDimensionCodeRect[0];
  EXPECT_EQ(std::vector<int>({r.left, r.top, r.right, r.bottom}), std::vector<int>({8, 4, 70, 66}));
  for (int i = 1; i < kTwoDimensionCodeSlots; ++i) EXPECT_EQ(code(8, 4), 1);
  EXPECT_EQ(code(8, 4), 0) << "a full table takes no more";
}

namespace {

// A 1-bit picture, all blank (0xFF) but for the bytes inked.
struct Picture {
  size_t stride, rows;
  std::vector<unsigned char> bytes;
  Picture(size_t s, size_t r) : stride(s), rows(r), bytes(s * r, 0xFF) {}
  void Ink(size_t row, size_t col, unsigned char v = 0) { bytes[row * stride + col] = v; }
  std::string Commands() const {
    std::string out;
    for (const Band& b : FindBands(bytes.data(), stride, rows)) AppendBitmap(out, b);
    return out;
  }
};

}  // namespace

TEST(BandScan, TheTopCutRaggedBandsAndRowsAtTheEdges) {
  Picture p(36, 300);  // two bands: rows 100-149 and 200-219
  for (size_t r = 100; r < 150; ++r) p.Ink(r, 2), p.Ink(r, 10);
  for (size_t r = 200; r < 220; ++r) p.Ink(r, 5, static_cast<unsigned char>(r)), p.Ink(r, 6);
  const std::string out = p.Commands();
  EXPECT_EQ(out.substr(0, 20), "BITMAP 16,80,9,50,1,") << "moved up to row 80, inked columns only";
  EXPECT_EQ(out.substr(20 + 450, 23), "\r\nBITMAP 40,180,2,20,1,") << "the gap between bands kept";

  Picture edges(4, 406);
  edges.Ink(0, 1);  // from row 0: no cut
  edges.Ink(2, 0);  // a blank row splits the band; ragged edges widen it
  edges.Ink(3, 3, '\r');
  edges.Ink(405, 0);  // the very last row
  EXPECT_EQ(edges.Commands(), std::string("BITMAP 8,0,1,1,1,") + '\0' + "\r\nBITMAP 0,2,4,2,1," +
                                  '\0' + "\xFF\xFF\xFF\xFF\xFF\xFF\r\r\nBITMAP 0,405,1,1,1," +
                                  '\0' + "\r\n");
  EXPECT_EQ(Picture(4, 30).Commands(), "") << "a blank page sends no bitmap";
}
