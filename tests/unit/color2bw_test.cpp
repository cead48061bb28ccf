// Monochrome conversion of whole pages into the page bitmap.
//
// Contents
//   Packing.*    32-dot row stride, padding bits, exact black only
//   Adaptive.*   mode 0 on plain pages, codes remembered across pages, the
//                same decisions as pixel by pixel (strides padded by 0 to 3)
//   Threshold.*  mode 1: Otsu's cut and the light offset

#include "convert/color2bw.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "adaptive/code_detect.h"
#include "adaptive/line_rules.h"
#include "grey_page.h"

namespace {

class Color2BWTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetTwoDimensionCodeRects(); }
  void TearDown() override { ResetTwoDimensionCodeRects(); }
};

using Packing = Color2BWTest;
using Adaptive = Color2BWTest;
using Threshold = Color2BWTest;

int BitmapStride(int cx) { return ((cx + 31) >> 5) * 4; }

// Converts `page` and returns the bitmap, sized exactly stride * rows.
std::vector<unsigned char> Convert(GreyPage& page, int mode, int nLight = 0) {
  std::vector<unsigned char> bitmap(static_cast<size_t>(BitmapStride(page.width)) * page.height,
                                    0xFF);
  Color2BW(page.image.data(), bitmap.data(), page.width, page.height, page.stride, nLight, mode);
  return bitmap;
}

void SetBytes(GreyPage& page, int x, int y, unsigned char b0, unsigned char b1, unsigned char b2) {
  page.image[page.At(x, y)] = b0;
  page.image[page.At(x, y) + 1] = b1;
  page.image[page.At(x, y) + 2] = b2;
}

// An unknown mode converts nothing: only pixels already (0, 0, 0) are ink.
// Rows of 33 dots take 8 bytes, the last 31 bits staying 1; rows of 32 dots
// take 4 bytes with no padding.
TEST_F(Packing, UnknownModePacksOnlyExactBlackAt32DotStrides) {
  GreyPage page(33, 2);
  SetBytes(page, 0, 0, 0, 0, 0);
  SetBytes(page, 1, 0, 0, 0, 1);
  SetBytes(page, 2, 0, 1, 0, 0);
  SetBytes(page, 32, 0, 0, 0, 0);
  SetBytes(page, 31, 1, 0, 0, 0);
  const std::vector<unsigned char> before = page.image;
  EXPECT_EQ(Convert(page, 7), (std::vector<unsigned char>{
                                  0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF,  // dots 0, 32
                                  0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF,  // dot 31
                              }));
  EXPECT_EQ(page.image, before);

  GreyPage narrow(32, 3);
  for (int x = 0; x < 32; ++x) SetBytes(narrow, x, 1, 0, 0, 0);
  EXPECT_EQ(Convert(narrow, 7), (std::vector<unsigned char>{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0,
                                                            0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(Adaptive, WhitePageLeavesTheBitmapBlank) {
  GreyPage page(40, 5, 1);
  const std::vector<unsigned char> bitmap = Convert(page, 0);
  EXPECT_EQ(bitmap, std::vector<unsigned char>(bitmap.size(), 0xFF));
}

TEST_F(Adaptive, BlackPageInksEveryDotAndNoPadding) {
  GreyPage page(10, 3, 2);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 10; ++x) page.Grey(x, y, 0);
  }
  const std::vector<unsigned char> bitmap = Convert(page, 0);
  const std::vector<unsigned char> row = {0x00, 0x3F, 0xFF, 0xFF};
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(std::vector<unsigned char>(bitmap.begin() + 4 * y, bitmap.begin() + 4 * y + 4), row);
  }
}

// Page 1 carries a smoothed code.  Its left edge at (7, 4) is the first
// grey pixel decided black from which both finders are confirmed: 21 wide
// from there, the right one starting at column 50, so the code spans columns
// 7 to 71 and, with no bottom-left finder, rows 4 to 68.
GreyPage CodePage() {
  std::vector<int> ideal(100 * 80, 255);
  DrawFinder(ideal, 100, 8, 4, 3);
  DrawFinder(ideal, 100, 50, 4, 3);
  const std::vector<int> grey = Smooth2x2(ideal, 100, 80);
  GreyPage page(100, 80);
  for (int y = 0; y < 80; ++y) {
    for (int x = 0; x < 100; ++x) page.Grey(x, y, grey[y * 100 + x]);
  }
  return page;
}

// Page 2: a dark stroke (95, 100, 104, 105) on row 30, inside that code's
// place.  Outside a code all of it prints; inside, the pixels lighter than
// 100 are light modules and stay white.
GreyPage StrokePage() {
  GreyPage page(100, 80);
  const int stroke[] = {95, 100, 104, 105};
  for (int k = 0; k < 4; ++k) page.Grey(30 + k, 30, stroke[k]);
  return page;
}

TEST_F(Adaptive, CodeFoundOnPage1KeepsItsModulesCleanOnPage2) {
  GreyPage alone = StrokePage();
  std::vector<unsigned char> bitmap = Convert(alone, 0);
  for (int x = 30; x < 34; ++x) EXPECT_TRUE(BitIsInk(bitmap, 16, x, 30)) << x;

  GreyPage code = CodePage();
  Convert(code, 0);
  EXPECT_EQ(TwoDimensionCodeRect[0].left, 7);
  EXPECT_EQ(TwoDimensionCodeRect[0].top, 4);
  EXPECT_EQ(TwoDimensionCodeRect[0].right, 71);
  EXPECT_EQ(TwoDimensionCodeRect[0].bottom, 68);
  EXPECT_EQ(TwoDimensionCodeRect[1].right, 0) << "one code, recorded once";

  GreyPage after = StrokePage();
  bitmap = Convert(after, 0);
  EXPECT_TRUE(BitIsInk(bitmap, 16, 30, 30));
  EXPECT_TRUE(BitIsInk(bitmap, 16, 31, 30)) << "grey 100 is not lighter than 100";
  EXPECT_FALSE(BitIsInk(bitmap, 16, 32, 30));
  EXPECT_FALSE(BitIsInk(bitmap, 16, 33, 30));
}

// The page conversion keeps indexes of the snapshot so that detection and
// the runs of the row above skip flat stretches; its decisions must be those
// of ProcessLine called pixel after pixel without them.  (Under the
// sanitizers this also shows that no read leaves the image or the snapshot.)
TEST_F(Adaptive, DecidesAsPixelByPixelWithoutIndexes) {
  std::mt19937 rng(11);
  std::vector<GreyPage> pages;
  auto fill = [&](int w, int h, int padding, auto grey) {
    GreyPage p(w, h, padding);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) p.Grey(x, y, grey(x, y));
    }
    pages.push_back(p);
  };
  fill(150, 30, 0, [](int, int) { return 180; });                     // runs across the row
  fill(150, 30, 1, [&](int, int) { return 170 + int(rng() % 21); });  // within the tolerances
  fill(140, 40, 3, [](int x, int y) { return (3 * x + 2 * y) % 256; });
  fill(200, 12, 0, [&](int x, int) { return 100 + x / 3 + int(rng() % 3); });  // slow ramps
  fill(90, 40, 2, [&](int, int) { return int(rng() % 256); });
  pages.push_back(CodePage());

  for (GreyPage& page : pages) {
    // The same conversion by hand: the page is grey already, so greying
    // changes nothing.
    GreyPage expected = page;
    ResetTwoDimensionCodeRects();
    testing::internal::CaptureStderr();
    for (int y = 0; y < expected.height; ++y) {
      for (int x = 0; x < expected.width; ++x) {
        const unsigned char* px = &expected.image[expected.At(x, y)];
        const int grey = (px[0] + px[1] + px[2]) / 3;
        if (grey == 0 || grey == 255) continue;
        ProcessLine(expected.image.data(), expected.snapshot.data(), x, y, expected.stride,
                    expected.height);
      }
    }
    const std::string expectedLog = testing::internal::GetCapturedStderr();
    const RECT firstCode = TwoDimensionCodeRect[0];

    ResetTwoDimensionCodeRects();
    testing::internal::CaptureStderr();
    Convert(page, 0);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(page.image, expected.image) << "page " << page.width << " x " << page.height;
    EXPECT_EQ(log, "DEBUG: Color2BW dwValue=0 nLight=0\n" + expectedLog);
    EXPECT_EQ(TwoDimensionCodeRect[0].right, firstCode.right);
  }
}

}  // namespace
