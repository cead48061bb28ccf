// Tests of ordered dithering:
//   - flat greys through the tiles: which cells print black at each grey;
//   - the strict tile bounds on 6 x 6, 7 x 7 and 3 x 100 images, padding left alone;
//   - the preparation passes run first (boundary snapping, clamped grey conversion);
//   - a cross-check against a plain rendering over many random and structured images, byte
//     for byte, padding included.
#include "convert/ordered_dither.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "convert/border.h"
#include "halftone_reference.h"

namespace {

using halftone_reference::kPad;
using halftone_reference::RefPrepare;
using halftone_reference::SparseLabel;

// The shared working image, with ordered dithering.
struct Image : halftone_reference::PaddedImage<Image> {
  using PaddedImage::PaddedImage;
  bool isGrey(int x, int y, int v) {
    return at(x, y)[0] == v && at(x, y)[1] == v && at(x, y)[2] == v;
  }
  void dither(int nLight = 100) { OrderedDither(bytes.data(), w, h, int(stride), nLight); }
};

// ---- Plain rendering, straight from the definitions ----

void RefOrderedDither(unsigned char* pixels, int width, int height, int nByteWidth, int nLight) {
  const int aryOrderedDither[3][3] = {{28, 255, 57}, {142, 113, 227}, {170, 198, 85}};
  int nBrightness = (100 - nLight) * 255 / 100;
  RefPrepare(pixels, width, height, nByteWidth, nBrightness, GrayFinish::kClamp);
  for (int intY = 0; intY < height - 3; intY += 3) {
    for (int intX = 0; intX < width - 3; intX += 3) {
      for (int intODY = 0; intODY < 3; ++intODY) {
        for (int intODX = 0; intODX < 3; ++intODX) {
          unsigned char* p = pixels + (intY + intODY) * nByteWidth + (intX + intODX) * 3;
          int intGray = p[0];
          int v;
          if (intGray >= 225) {
            v = 255;
          } else if (intGray <= 49) {
            v = 0;
          } else {
            v = aryOrderedDither[intODY][intODX] >= intGray ? 0 : 255;
          }
          p[0] = p[1] = p[2] = (unsigned char)v;
        }
      }
    }
  }
}

// The cells of a tile that print black at flat grey g, as rows of a 3 x 3 picture ('#'
// black, '.' white).
std::string TileOf(int g) {
  Image img(7, 7, g);
  img.dither();
  std::string tile;
  for (int y = 3; y < 6; ++y) {  // the second tile row and column, to show tiles repeat
    for (int x = 3; x < 6; ++x) tile += img.g(x, y) == 0 ? '#' : '.';
    if (y < 5) tile += '/';
  }
  return tile;
}

TEST(OrderedDither, FlatGreysThroughTheTiles) {
  // Cells: 28 255 57 / 142 113 227 / 170 198 85.
  EXPECT_EQ(TileOf(100), ".#./###/##.");
  EXPECT_EQ(TileOf(50), ".##/###/###");
  EXPECT_EQ(TileOf(49), "###/###/###");
  EXPECT_EQ(TileOf(57), ".##/###/###");
  EXPECT_EQ(TileOf(58), ".#./###/###");
  EXPECT_EQ(TileOf(85), ".#./###/###");
  EXPECT_EQ(TileOf(86), ".#./###/##.");
  EXPECT_EQ(TileOf(199), ".#./..#/...");
  EXPECT_EQ(TileOf(224), ".#./..#/...");
  EXPECT_EQ(TileOf(225), ".../.../...");
  EXPECT_EQ(TileOf(198), ".#./..#/.#.");
}

TEST(OrderedDither, TilesStopStrictlyBeforeTheLastThreeRowsAndColumns) {
  // 6 x 6: only the top-left tile; the other 27 pixels keep their grey.
  Image six(6, 6, 100);
  six.dither();
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 6; ++x) {
      if (x < 3 && y < 3) {
        EXPECT_TRUE(six.isGrey(x, y, 0) || six.isGrey(x, y, 255)) << x << "," << y;
      } else {
        EXPECT_TRUE(six.isGrey(x, y, 100)) << x << "," << y;
      }
    }
  }
  // 7 x 7: rows and columns 0 to 5 dithered, the seventh row and column kept.
  Image seven(7, 7, 100);
  seven.dither();
  for (int k = 0; k < 7; ++k) {
    EXPECT_TRUE(seven.isGrey(6, k, 100) && seven.isGrey(k, 6, 100)) << k;
    if (k < 6) {
      EXPECT_TRUE(seven.isGrey(5, k, 0) || seven.isGrey(5, k, 255)) << k;
    }
  }
  // 3 x 100 and 100 x 3: nothing is dithered.
  for (auto [w, h] : {std::pair{3, 100}, std::pair{100, 3}}) {
    Image thin(w, h, 120);
    thin.grey(1, 1, 0);
    const std::vector<unsigned char> before = thin.bytes;
    thin.dither();
    EXPECT_EQ(thin.bytes, before) << w << "x" << h;
  }
  // A pure black pixel outside all tiles stays black.
  Image edge(7, 4, 160);
  edge.grey(6, 3, 0);
  edge.dither();
  EXPECT_TRUE(edge.isGrey(6, 3, 0));
  EXPECT_TRUE(edge.isGrey(5, 3, 160));
}

TEST(OrderedDither, PaddingAndEmptyImagesAreLeftAlone) {
  Image img(7, 8, 90);  // 21 bytes of pixels in rows of 24
  img.dither();
  for (int y = 0; y < 8; ++y)
    for (int k = 21; k < 24; ++k) EXPECT_EQ(img.bytes[y * 24 + k], kPad);
  std::vector<unsigned char> bytes(12, kPad);
  OrderedDither(bytes.data(), 0, 3, 4, 100);
  OrderedDither(bytes.data(), 1, 0, 4, 100);
  EXPECT_EQ(bytes, std::vector<unsigned char>(12, kPad));
}

TEST(OrderedDither, PreparesThePageFirst) {
  // A soft step between a light and a dark area is snapped, not dithered: column 5, with
  // white on its left and black on its right, takes the decisions of the pixels above.
  Image img(7, 7, 200);
  for (int y = 0; y < 7; ++y) img.grey(4, y, 255), img.grey(6, y, 0);
  img.grey(5, 1, 140);  // cell 227 would make it black; above is 200: white
  img.grey(5, 2, 90);   // cell 85 would make it white; above was 140: black
  img.dither();
  EXPECT_TRUE(img.isGrey(5, 1, 255));
  EXPECT_TRUE(img.isGrey(5, 2, 0));

  // A colour pixel is greyed with clamping: pure red is 76, black in the cell 85 and white in
  // the cell 57; with nLight 50 (offset 127) it is 203, black only in the cells 255 and 227.
  // The grey background of 200 keeps the patch clear of boundaries.
  auto redTile = [](int nLight) {
    Image red(7, 7, 200);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 3; ++x) red.set(x, y, 0, 0, 255);
    red.dither(nLight);
    std::string tile;
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 3; ++x) {
        tile += red.isGrey(x, y, 0) ? '#' : (red.isGrey(x, y, 255) ? '.' : '?');
      }
      if (y < 2) tile += '/';
    }
    return tile;
  };
  EXPECT_EQ(redTile(100), ".#./###/###");
  EXPECT_EQ(redTile(50), ".#./..#/...");
}

// Images for the cross-check: noise, greys at the limits, label-like strokes, ramps.
Image RandomImage(std::mt19937& rng, int w, int h, int kind) {
  static const int kLimits[] = {0,   49,  50,  57,  58,  85,  99,  100, 140, 150,
                                151, 198, 224, 225, 229, 230, 255, 113, 28};
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  Image img(w, h);
  if (kind == 4) {
    SparseLabel(rng, img, kLimits, 19);
    return img;
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      switch (kind) {
        case 0:
          img.set(x, y, pick(256), pick(256), pick(256));
          break;
        case 1:
          img.grey(x, y, kLimits[pick(19)]);
          break;
        case 2: {
          const int d = (x * 3 + y * 5 + pick(2)) % 11;
          img.grey(x, y, d < 2 ? 0 : (d == 2 ? 60 + pick(170) : 255));
          break;
        }
        default:
          img.grey(x, y, (x * 255) / w);
          if (pick(9) == 0) img.set(x, y, pick(256), pick(256), pick(256));
          break;
      }
    }
  }
  return img;
}

TEST(OrderedDither, AgreesWithPlainRenderingOnManyImages) {
  std::mt19937 rng(3);
  const int lights[] = {100, 100, 100, 50, 0, 150, 99, 101};
  for (int n = 0; n < 600; ++n) {
    const int w = n < 64 ? 1 + n % 8 : 1 + int(rng() % (n % 4 == 0 ? 70 : 41));
    const int h = n < 64 ? 1 + n / 8 : 1 + int(rng() % 29);
    const int light = lights[rng() % 8];
    Image img = RandomImage(rng, w, h, n % 5);
    std::vector<unsigned char> want = img.bytes;
    RefOrderedDither(want.data(), w, h, int(img.stride), light);
    img.dither(light);
    ASSERT_EQ(img.bytes, want) << w << "x" << h << " light " << light << " kind " << n % 5;
  }
}

}  // namespace
