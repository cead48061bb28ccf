// Tests of the preparation passes shared by the two dithering methods:
//   - IsBorder: the mid-grey range, each kind of boundary, the light and dark limits, images
//     one and two pixels wide or high;
//   - SnapBorderPixels: decisions taken from the neighbour along the boundary, from the image
//     as it was before the pass, with the brightness offset;
//   - ConvertToGray: grey pixels kept, the luma of colours, clamping and snapping;
//   - a cross-check of all three against plain renderings over many random and structured
//     images, byte for byte, padding included.
#include "convert/border.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "halftone_reference.h"

namespace {

using halftone_reference::kPad;
using halftone_reference::RefConvertToGray;
using halftone_reference::RefIsBorder;
using halftone_reference::RefSnapBorderPixels;
using halftone_reference::SparseLabel;

// The shared working image, with the boundary passes.
struct Image : halftone_reference::PaddedImage<Image> {
  using PaddedImage::PaddedImage;
  int border(int x, int y) { return IsBorder(bytes.data(), x, y, w, h); }
  void snap(int nBrightness = 0) { SnapBorderPixels(bytes.data(), w, h, int(stride), nBrightness); }
};

// ---- IsBorder ----

TEST(IsBorder, OnlyMidGreysFrom50To229AreBoundaryPixels) {
  // Light on the left, dark on the right, in row 0: kind 0 whenever the pixel is mid-grey.
  for (int g : {49, 50, 128, 229, 230}) {
    Image img = Image::Of({{255, g, 0}});
    EXPECT_EQ(img.border(1, 0), g >= 50 && g <= 229 ? 0 : -1) << "grey " << g;
  }
  // The mean of the bytes decides: (50, 50, 49) has mean 49.
  Image img = Image::Of({{255, 0, 0}});
  img.set(1, 0, 50, 50, 49);
  EXPECT_EQ(img.border(1, 0), -1);
  img.set(1, 0, 48, 50, 52);
  EXPECT_EQ(img.border(1, 0), 0);
}

TEST(IsBorder, EachKindOfBoundary) {
  // A: light left, dark right; with light above as well, a corner.
  EXPECT_EQ(Image::Of({{128, 128, 128}, {255, 128, 0}, {128, 128, 128}}).border(1, 1), 0);
  EXPECT_EQ(Image::Of({{128, 230, 128}, {230, 128, 99}, {128, 128, 128}}).border(1, 1), 1);
  EXPECT_EQ(Image::Of({{128, 229, 128}, {230, 128, 99}, {128, 128, 128}}).border(1, 1), 0);
  // B: light above, dark below; with light on the right as well.
  EXPECT_EQ(Image::Of({{128, 225, 128}, {128, 100, 229}, {128, 99, 128}}).border(1, 1), 2);
  EXPECT_EQ(Image::Of({{128, 225, 128}, {128, 100, 230}, {128, 99, 128}}).border(1, 1), 3);
  // C: dark left, light right; with light below as well.
  EXPECT_EQ(Image::Of({{128, 128, 128}, {99, 128, 225}, {128, 229, 128}}).border(1, 1), 4);
  EXPECT_EQ(Image::Of({{128, 128, 128}, {99, 128, 225}, {128, 230, 128}}).border(1, 1), 5);
  // D: dark above, light below.
  EXPECT_EQ(Image::Of({{128, 99, 128}, {128, 128, 128}, {128, 225, 128}}).border(1, 1), 6);
}

TEST(IsBorder, LightAndDarkLimits) {
  // Test A asks 230 of the left neighbour, the others 225 of their first light neighbour.
  EXPECT_EQ(Image::Of({{128, 128, 128}, {229, 128, 0}, {128, 128, 128}}).border(1, 1), -1);
  EXPECT_EQ(Image::Of({{128, 224, 128}, {128, 128, 128}, {128, 0, 128}}).border(1, 1), -1);
  EXPECT_EQ(Image::Of({{128, 128, 128}, {0, 128, 224}, {128, 128, 128}}).border(1, 1), -1);
  EXPECT_EQ(Image::Of({{128, 0, 128}, {128, 128, 128}, {128, 224, 128}}).border(1, 1), -1);
  // Dark is 99 and below everywhere.
  EXPECT_EQ(Image::Of({{128, 128, 128}, {255, 128, 100}, {128, 128, 128}}).border(1, 1), -1);
  EXPECT_EQ(Image::Of({{128, 255, 128}, {128, 128, 128}, {128, 100, 128}}).border(1, 1), -1);
  // The tests run in order: a pixel that is both A and B is A.
  EXPECT_EQ(Image::Of({{128, 255, 128}, {255, 128, 0}, {128, 0, 128}}).border(1, 1), 1);
}

TEST(IsBorder, NarrowAndFlatImagesHaveOnlyTheKindsTheirNeighboursAllow) {
  // Every combination of light, mid, dark around a mid pixel, at every position of images one
  // and two pixels wide (or high).  Column 0 and the last column never match A or C, row 0
  // and the last row never B or D.
  const int tones[] = {255, 140, 0};
  for (int narrow : {1, 2}) {
    std::set<int> tall, wide;
    for (int code = 0; code < 3 * 3 * 3 * 3 * 3 * 3; ++code) {
      int c = code;
      std::vector<int> values;
      for (int k = 0; k < 6; ++k, c /= 3) values.push_back(tones[c % 3]);
      Image t(narrow, 3), f(3, narrow);
      for (int k = 0; k < 3 * narrow; ++k) {
        t.grey(k % narrow, k / narrow, values[k]);
        f.grey(k / narrow, k % narrow, values[k]);
      }
      for (int k = 0; k < 3 * narrow; ++k) {
        tall.insert(t.border(k % narrow, k / narrow));
        wide.insert(f.border(k / narrow, k % narrow));
      }
    }
    EXPECT_EQ(tall, narrow == 1 ? (std::set<int>{-1, 2, 6}) : (std::set<int>{-1, 2, 3, 6}));
    EXPECT_EQ(wide, narrow == 1 ? (std::set<int>{-1, 0, 4}) : (std::set<int>{-1, 0, 1, 4, 5}));
  }
  // A single pixel has no neighbours at all.
  EXPECT_EQ(Image::Of({{128}}).border(0, 0), -1);
}

// ---- SnapBorderPixels ----

TEST(SnapBorderPixels, LightLeftDarkRightTakesTheDecisionOfThePixelAbove) {
  // Row 0: kind 0 but no pixel above, so it stays.
  Image top = Image::Of({{255, 128, 0}, {128, 128, 128}});
  top.snap();
  EXPECT_EQ(top.g(1, 0), 128);

  auto snapped = [](int above, int nBrightness) {
    Image img(3, 8, 128);
    img.grey(0, 5, 255), img.grey(2, 5, 0), img.grey(1, 4, above);
    img.snap(nBrightness);
    return img.g(1, 5);
  };
  EXPECT_EQ(snapped(200, 0), 255);
  EXPECT_EQ(snapped(151, 0), 255);
  EXPECT_EQ(snapped(150, 0), 0);    // white only above 150
  EXPECT_EQ(snapped(150, 1), 255);  // the offset is added to the neighbour's grey
  EXPECT_EQ(snapped(200, -50), 0);
  EXPECT_EQ(snapped(255, 0), 128);  // light above too: a corner, kept
  EXPECT_EQ(snapped(229, 0), 255);
}

TEST(SnapBorderPixels, LightAboveDarkBelowTakesTheDecisionOfThePixelOnTheLeft) {
  Image img = Image::Of({{255, 255, 255, 255, 255}, {200, 100, 128, 230, 229}, {0, 0, 0, 0, 0}});
  img.snap();
  EXPECT_EQ(img.g(0, 1), 200);  // kind 2, but no left neighbour: kept
  EXPECT_EQ(img.g(1, 1), 255);  // kind 2, left 200: white
  EXPECT_EQ(img.g(2, 1), 128);  // light on the right as well (kind 3): kept
  EXPECT_EQ(img.g(3, 1), 230);  // too light to be a boundary pixel
  EXPECT_EQ(img.g(4, 1), 255);  // kind 2 in the last column, left 230: white
}

TEST(SnapBorderPixels, DecisionsReadTheImageAsItWasBeforeThePass) {
  // A run of boundary pixels along a row, light above and dark below: each takes the grey its
  // left neighbour had before the pass, not the neighbour's new value.
  Image img = Image::Of({{255, 255, 255, 255, 255},
                         {200, 140, 160, 100, 151},
                         {0, 0, 0, 0, 0},
                         {255, 255, 255, 255, 255}});
  img.snap();
  const int expected[] = {200, 255, 0, 255, 0};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(img.g(x, 1), expected[x]) << "x " << x;

  // Down a column, dark on the left and light on the right: each takes the pixel above as
  // it was (kinds 4 and 4), so the decision does not ripple down.
  Image col = Image::Of({{0, 200, 255}, {0, 140, 255}, {0, 160, 255}, {0, 128, 128}});
  col.snap();
  EXPECT_EQ(col.g(1, 0), 200);  // no pixel above
  EXPECT_EQ(col.g(1, 1), 255);  // above was 200
  EXPECT_EQ(col.g(1, 2), 0);    // above was 140, although it is 255 now
}

TEST(SnapBorderPixels, SnapsAllThreeBytesAndNeverThePadding) {
  Image img(5, 3, 128);  // 15 bytes of pixels in rows of 16
  img.grey(0, 1, 255), img.grey(2, 1, 0), img.grey(1, 0, 180);
  img.set(1, 1, 120, 130, 140);
  img.snap();
  EXPECT_EQ(std::vector<unsigned char>(img.at(1, 1), img.at(1, 1) + 3),
            (std::vector<unsigned char>{255, 255, 255}));
  for (int y = 0; y < 3; ++y) EXPECT_EQ(img.bytes[y * 16 + 15], kPad);
}

// ---- ConvertToGray ----

TEST(ConvertToGray, PureRedUnderBothFinishes) {
  // 0.299 * 255 = 76.245: clamping keeps 76, snapping makes it black.
  for (GrayFinish finish : {GrayFinish::kClamp, GrayFinish::kSnap}) {
    Image img(1, 1);
    img.set(0, 0, 0, 0, 255);  // bytes are blue, green, red
    ConvertToGray(img.bytes.data(), 1, 1, int(img.stride), 0, finish);
    const int want = finish == GrayFinish::kClamp ? 76 : 0;
    EXPECT_EQ(std::vector<unsigned char>(img.at(0, 0), img.at(0, 0) + 3),
              (std::vector<unsigned char>(3, want)));
  }
}

TEST(ConvertToGray, FinishesTheShiftedLuma) {
  // Pure red is 76; the offset moves it across each limit.
  auto red = [](int nBrightness, GrayFinish finish) {
    Image img(1, 1);
    img.set(0, 0, 0, 0, 255);
    ConvertToGray(img.bytes.data(), 1, 1, int(img.stride), nBrightness, finish);
    return img.g(0, 0);
  };
  EXPECT_EQ(red(23, GrayFinish::kSnap), 0);     // 99
  EXPECT_EQ(red(24, GrayFinish::kSnap), 100);   // 100
  EXPECT_EQ(red(149, GrayFinish::kSnap), 225);  // 225
  EXPECT_EQ(red(150, GrayFinish::kSnap), 255);  // 226
  EXPECT_EQ(red(-100, GrayFinish::kSnap), 0);
  EXPECT_EQ(red(179, GrayFinish::kClamp), 255);  // 255
  EXPECT_EQ(red(178, GrayFinish::kClamp), 254);
  EXPECT_EQ(red(-76, GrayFinish::kClamp), 0);
  EXPECT_EQ(red(-77, GrayFinish::kClamp), 0);
  EXPECT_EQ(red(-75, GrayFinish::kClamp), 1);
}

TEST(ConvertToGray, WeightsPerChannelAndGreysKept) {
  Image img(4, 2, 100);          // greys stay as they are, whatever the offset
  img.set(0, 0, 255, 0, 0);      // blue: 0.114 * 255 = 29.07
  img.set(1, 0, 0, 255, 0);      // green: 0.587 * 255 = 149.685
  img.set(2, 0, 10, 20, 30);     // 8.97 + 11.74 + 1.14 = 21.85
  img.set(3, 0, 255, 255, 254);  // 75.946 + 149.685 + 29.07 = 254.701
  ConvertToGray(img.bytes.data(), 4, 2, int(img.stride), 0, GrayFinish::kClamp);
  EXPECT_EQ(img.g(0, 0), 29);
  EXPECT_EQ(img.g(1, 0), 149);
  EXPECT_EQ(img.g(2, 0), 21);
  EXPECT_EQ(img.g(3, 0), 254);
  Image greys(5, 2, 100);
  greys.grey(3, 1, 0), greys.grey(4, 1, 255);
  const std::vector<unsigned char> before = greys.bytes;
  ConvertToGray(greys.bytes.data(), 5, 2, int(greys.stride), 80, GrayFinish::kClamp);
  ConvertToGray(greys.bytes.data(), 5, 2, int(greys.stride), -80, GrayFinish::kSnap);
  EXPECT_EQ(greys.bytes, before);
}

// ---- Cross-check ----

// Images that exercise the passes: noise, greys at the limits, strokes with soft edges on
// white, ramps, coloured patches.
Image RandomImage(std::mt19937& rng, int w, int h, int kind) {
  static const int kLimits[] = {0,   49,  50,  51,  99,  100, 127, 128, 140, 150,
                                151, 200, 224, 225, 226, 229, 230, 231, 255};
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  Image img(w, h);
  if (kind == 5) {
    SparseLabel(rng, img, kLimits, 19);
    return img;
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      switch (kind) {
        case 0:  // colour noise
          img.set(x, y, pick(256), pick(256), pick(256));
          break;
        case 1:  // greys at the limits, sometimes with one byte off
          img.grey(x, y, kLimits[pick(19)]);
          if (pick(6) == 0) img.at(x, y)[pick(3)] ^= 1;
          break;
        case 2: {  // label-like: strokes with soft edges on white
          const int d = (x * 3 + y * 5 + pick(2)) % 11;
          img.grey(x, y, d < 2 ? 0 : (d == 2 ? 60 + pick(170) : 255));
          break;
        }
        case 3:  // ramp with the odd coloured pixel
          img.grey(x, y, (x * 255) / w);
          if (pick(9) == 0) img.set(x, y, pick(256), pick(256), pick(256));
          break;
        default:  // blocks: light, mid and dark bands
          img.grey(x, y, kLimits[((x / 2) * 7 + (y / 2) * 3) % 19]);
          break;
      }
    }
  }
  return img;
}

TEST(BorderPasses, AgreeWithPlainPassesOnManyImages) {
  std::mt19937 rng(7);
  const int offsets[] = {0, 0, 0, 1, -1, 127, -127, 255};
  for (int n = 0; n < 800; ++n) {
    const int w = n < 16 ? 1 + n % 4 : 1 + int(rng() % (n % 4 == 0 ? 70 : 37));
    const int h = n < 16 ? 1 + n / 4 : 1 + int(rng() % 23);
    const int nBrightness = offsets[rng() % 8];
    Image img = RandomImage(rng, w, h, n % 6);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(img.border(x, y), RefIsBorder(img.bytes.data(), x, y, w, h))
            << w << "x" << h << " at " << x << "," << y;

    std::vector<unsigned char> want = img.bytes;
    RefSnapBorderPixels(want.data(), w, h, int(img.stride), nBrightness);
    img.snap(nBrightness);
    ASSERT_EQ(img.bytes, want) << "snap " << w << "x" << h << " offset " << nBrightness;

    const GrayFinish finish = rng() % 2 == 1 ? GrayFinish::kSnap : GrayFinish::kClamp;
    RefConvertToGray(want.data(), w, h, int(img.stride), nBrightness, finish);
    ConvertToGray(img.bytes.data(), w, h, int(img.stride), nBrightness, finish);
    ASSERT_EQ(img.bytes, want) << "grey " << w << "x" << h << " offset " << nBrightness;
  }
}

TEST(BorderPasses, EmptyImagesAreLeftAlone) {
  std::vector<unsigned char> bytes(8, kPad);
  SnapBorderPixels(bytes.data(), 0, 2, 4, 0);
  SnapBorderPixels(bytes.data(), 1, 0, 4, 0);
  ConvertToGray(bytes.data(), 0, 2, 4, 0, GrayFinish::kSnap);
  ConvertToGray(bytes.data(), 1, 0, 4, 0, GrayFinish::kClamp);
  EXPECT_EQ(bytes, std::vector<unsigned char>(8, kPad));
}

}  // namespace
