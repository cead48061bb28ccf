// Tests of error diffusion:
//   - PlusTruncate and FindNearestColor on their own;
//   - the share each neighbour takes of errors of +127 and -127, seen through the colour the
//     neighbour then gets, and the acceptance range of each neighbour;
//   - the last row and column, column 0, clamping, the snapping of colour pixels, padding;
//   - a cross-check against a plain per-byte rendering over many random and structured
//     images, byte for byte, padding included.
#include "convert/error_diffusion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <vector>

#include "convert/border.h"
#include "halftone_reference.h"

namespace {

using halftone_reference::kPad;
using halftone_reference::RefPrepare;
using halftone_reference::SparseLabel;

// The shared working image, with error diffusion.
struct Image : halftone_reference::PaddedImage<Image> {
  using PaddedImage::PaddedImage;
  // Diffuses and returns the result as greys; -1 for a pixel that is neither black nor white.
  std::vector<std::vector<int>> diffuse(int nLight = 100) {
    EXPECT_EQ(ErrorDiffusion(bytes.data(), w, h, int(stride), nLight), 0);
    std::vector<std::vector<int>> out(h, std::vector<int>(w));
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const unsigned char* p = at(x, y);
        const bool pure = p[0] == p[1] && p[1] == p[2] && (p[0] == 0 || p[0] == 255);
        out[y][x] = pure ? p[0] : -1;
      }
    }
    return out;
  }
};

using Rows = std::vector<std::vector<int>>;

// ---- Plain rendering, straight from the definitions ----

unsigned char RefPlusTruncate(unsigned char a, int b) {
  int s = a + b;
  return s < 0 ? 0 : (s > 255 ? 255 : s);
}

uint32_t RefNearest(uint32_t color, const uint32_t* palette, int n) {
  int best = 0, bestDistance = 195076;
  for (int i = 0; i < n; ++i) {
    int d = 0;
    for (int shift : {0, 8, 16}) {
      int diff = int((color >> shift) & 0xFF) - int((palette[i] >> shift) & 0xFF);
      d += diff * diff;
    }
    if (d < bestDistance) bestDistance = d, best = i;
  }
  return palette[best];
}

// Per byte, the error of each byte and its shares; a neighbour's grey read once before it
// takes anything.
void RefErrorDiffusion(unsigned char* pBits, int cx, int cy, int nByteWidth, int nLight) {
  const uint32_t palette[2] = {0x000000, 0xFFFFFF};
  int nBrightness = (100 - nLight) * 255 / 100;
  RefPrepare(pBits, cx, cy, nByteWidth, nBrightness, GrayFinish::kSnap);
  for (int y = 0; y < cy; ++y) {
    for (int x = 0; x < cx; ++x) {
      unsigned char* p = pBits + y * nByteWidth + x * 3;
      uint32_t currentPixel = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
      uint32_t bestColor = RefNearest(currentPixel, palette, 2);
      p[2] = bestColor & 0xFF;
      p[1] = (bestColor >> 8) & 0xFF;
      p[0] = (bestColor >> 16) & 0xFF;
      int errorR = int(currentPixel & 0xFF) - int(bestColor & 0xFF);
      int errorG = int((currentPixel >> 8) & 0xFF) - int((bestColor >> 8) & 0xFF);
      int errorB = int((currentPixel >> 16) & 0xFF) - int((bestColor >> 16) & 0xFF);
      struct Neighbour {
        bool exists;
        int nx, ny, weight, hi;
      };
      const Neighbour table[4] = {
          {x + 1 < cx, x + 1, y, 7, 224},
          {y + 1 < cy && x >= 1, x - 1, y + 1, 3, 229},
          {y + 1 < cy, x, y + 1, 5, 224},
          {y + 1 < cy && x + 1 < cx, x + 1, y + 1, 1, 224},
      };
      for (const Neighbour& n : table) {
        if (!n.exists) continue;
        unsigned char* q = pBits + n.ny * nByteWidth + n.nx * 3;
        int g = (q[0] + q[1] + q[2]) / 3;
        if (g < 51 || g > n.hi) continue;
        q[0] = RefPlusTruncate(q[0], (errorB * n.weight) >> 4);
        q[1] = RefPlusTruncate(q[1], (errorG * n.weight) >> 4);
        q[2] = RefPlusTruncate(q[2], (errorR * n.weight) >> 4);
      }
    }
  }
}

// ---- PlusTruncate and FindNearestColor ----

TEST(PlusTruncate, AddsAndClamps) {
  EXPECT_EQ(PlusTruncate(100, 55), 155);
  EXPECT_EQ(PlusTruncate(250, 10), 255);
  EXPECT_EQ(PlusTruncate(5, -10), 0);
  EXPECT_EQ(PlusTruncate(100, -100), 0);
  EXPECT_EQ(PlusTruncate(0, 255), 255);
  EXPECT_EQ(PlusTruncate(255, -255), 0);
  EXPECT_EQ(PlusTruncate(200, INT_MAX), 255);
  EXPECT_EQ(PlusTruncate(200, INT_MIN), 0);
}

TEST(FindNearestColor, NearestEntryTiesToTheLowerIndex) {
  const uint32_t bw[2] = {0x000000, 0xFFFFFF};
  // Black and white: white exactly when the three bytes add up to 383 or more.
  EXPECT_EQ(FindNearestColor(0x7F8080, bw, 2), 0xFFFFFFu);  // 383
  EXPECT_EQ(FindNearestColor(0x7F7F80, bw, 2), 0x000000u);  // 382
  EXPECT_EQ(FindNearestColor(0x808080, bw, 2), 0xFFFFFFu);
  EXPECT_EQ(FindNearestColor(0x7F7F7F, bw, 2), 0x000000u);
  EXPECT_EQ(FindNearestColor(0x0000FF, bw, 2), 0x000000u);  // one byte full
  // Equal distances (10 either way in one byte): the first entry wins, whichever it is.
  const uint32_t pair[2] = {0x000010, 0x000024};
  EXPECT_EQ(FindNearestColor(0x00001A, pair, 2), 0x000010u);
  const uint32_t swapped[2] = {0x000024, 0x000010};
  EXPECT_EQ(FindNearestColor(0x00001A, swapped, 2), 0x000024u);
  // A longer palette, nearest in the middle; no entries at all gives the first.
  const uint32_t four[4] = {0x000000, 0x404040, 0x808080, 0xFFFFFF};
  EXPECT_EQ(FindNearestColor(0x4A3844, four, 4), 0x404040u);
  EXPECT_EQ(FindNearestColor(0x123456, four, 0), 0x000000u);
}

// ---- The shares and their acceptance ranges ----

TEST(ErrorDiffusion, SharesOfPlus127) {
  // Grey 127 becomes black with an error of 127: 55 to the right, 23 below left, 39 below, 7
  // below right.  Each case puts the neighbour just where its share tips it over 128 or not.
  EXPECT_EQ(Image::Of({{127, 73}}).diffuse(), (Rows{{0, 255}}));
  EXPECT_EQ(Image::Of({{127, 72}}).diffuse(), (Rows{{0, 0}}));
  EXPECT_EQ(Image::Of({{255, 127}, {105, 255}}).diffuse(), (Rows{{255, 0}, {255, 255}}));
  EXPECT_EQ(Image::Of({{255, 127}, {104, 255}}).diffuse(), (Rows{{255, 0}, {0, 255}}));
  EXPECT_EQ(Image::Of({{127}, {89}}).diffuse(), (Rows{{0}, {255}}));
  EXPECT_EQ(Image::Of({{127}, {88}}).diffuse(), (Rows{{0}, {0}}));
  EXPECT_EQ(Image::Of({{127, 255}, {255, 121}}).diffuse(), (Rows{{0, 255}, {255, 255}}));
  EXPECT_EQ(Image::Of({{127, 255}, {255, 120}}).diffuse(), (Rows{{0, 255}, {255, 0}}));
}

TEST(ErrorDiffusion, SharesOfMinus127RoundDownward) {
  // Grey 128 becomes white with an error of -127: -56, -24, -40, -8 (division by 16 rounded
  // toward minus infinity, not toward zero).
  EXPECT_EQ(Image::Of({{128, 184}}).diffuse(), (Rows{{255, 255}}));
  EXPECT_EQ(Image::Of({{128, 183}}).diffuse(), (Rows{{255, 0}}));
  EXPECT_EQ(Image::Of({{255, 128}, {152, 255}}).diffuse(), (Rows{{255, 255}, {255, 255}}));
  EXPECT_EQ(Image::Of({{255, 128}, {151, 255}}).diffuse(), (Rows{{255, 255}, {0, 255}}));
  EXPECT_EQ(Image::Of({{128}, {168}}).diffuse(), (Rows{{255}, {255}}));
  EXPECT_EQ(Image::Of({{128}, {167}}).diffuse(), (Rows{{255}, {0}}));
  EXPECT_EQ(Image::Of({{128, 255}, {255, 136}}).diffuse(), (Rows{{255, 255}, {255, 255}}));
  EXPECT_EQ(Image::Of({{128, 255}, {255, 135}}).diffuse(), (Rows{{255, 255}, {255, 0}}));
}

TEST(ErrorDiffusion, NeighboursTakeErrorOnlyWhileMidGrey) {
  // Right neighbour 224 takes -56 (168, white, error -87, hands -39 on); 225 takes nothing
  // (white, error -30, hands -14 on).  The third pixel, 150, shows which happened.
  EXPECT_EQ(Image::Of({{128, 224, 150}}).diffuse(), (Rows{{255, 255, 0}}));
  EXPECT_EQ(Image::Of({{128, 225, 150}}).diffuse(), (Rows{{255, 255, 255}}));
  // The lower limit is 51: 51 takes +55 (106, error 106, hands 46 on); 50 takes nothing
  // (error 50, hands 21 on).
  EXPECT_EQ(Image::Of({{127, 51, 100}}).diffuse(), (Rows{{0, 0, 255}}));
  EXPECT_EQ(Image::Of({{127, 50, 100}}).diffuse(), (Rows{{0, 0, 0}}));
  // Below left reaches 229: 229 takes +23 (252, error -3, hands -2 to its right); 230 takes
  // nothing (error -25, hands -11).  The right one, 95 + 39 from above, shows which.
  EXPECT_EQ(Image::Of({{255, 127}, {229, 95}}).diffuse(), (Rows{{255, 0}, {255, 255}}));
  EXPECT_EQ(Image::Of({{255, 127}, {230, 95}}).diffuse(), (Rows{{255, 0}, {255, 0}}));
  // Below stops at 224 like the right one: 227 takes nothing from above.  It becomes white
  // with an error of -28 and hands -13 to its right neighbour (150, less 8 from above
  // right: 142), which ends at 129, white.  Had it taken -40, its error of -68 would hand -30
  // on: 112, black.)
  EXPECT_EQ(Image::Of({{128, 255}, {227, 150}}).diffuse(), (Rows{{255, 255}, {255, 255}}));
  // A dark area does not absorb error: 40 next to 40 stays solid black.
  EXPECT_EQ(Image::Of({{40, 40, 40}, {40, 40, 40}}).diffuse(), (Rows{{0, 0, 0}, {0, 0, 0}}));
}

TEST(ErrorDiffusion, EdgesOfThePage) {
  // Column 0 hands nothing below left, and receives the below-left share of column 1 (shown
  // above); the last column hands only below left and below; the last row only to the right.
  // 127 in the last column of row 0: below left 100 + 23 = 123 (black) and below 100 + 39 =
  // 139 (white).
  EXPECT_EQ(Image::Of({{255, 127}, {100, 100}}).diffuse(), (Rows{{255, 0}, {0, 255}}));
  // Last row: only the right neighbour is there.
  EXPECT_EQ(Image::Of({{255, 255, 255}, {255, 127, 73}}).diffuse(),
            (Rows{{255, 255, 255}, {255, 0, 255}}));
  // A single pixel, a single column, a single row: all black or white.
  EXPECT_EQ(Image::Of({{127}}).diffuse(), (Rows{{0}}));
  EXPECT_EQ(Image::Of({{128}}).diffuse(), (Rows{{255}}));
}

TEST(ErrorDiffusion, ClampsSharesInTheBytes) {
  // 220 + 55 is clamped to 255: white with no error, so 120 next to it stays black.  Without
  // the clamp (275, or 19 wrapped) it would hand +8 on and 120 would become white.
  EXPECT_EQ(Image::Of({{127, 220, 120}}).diffuse(), (Rows{{0, 255, 0}}));
}

TEST(ErrorDiffusion, ColourPixelsAreGreyedWithSnapping) {
  // Green 154 has a luma of 90 (0.587 * 154 = 90.4), snapped to black: it hands on no error, so
  // grey 100 to its right stays black (with the error 90 it would get +39 and turn white).
  Image img(2, 1);
  img.set(0, 0, 0, 154, 0);
  img.grey(1, 0, 100);
  EXPECT_EQ(img.diffuse(), (Rows{{0, 0}}));
  // Pure red is 76, black too.
  Image red(1, 1);
  red.set(0, 0, 0, 0, 255);
  EXPECT_EQ(red.diffuse(), (Rows{{0}}));
}

TEST(ErrorDiffusion, PaddingAndEmptyImagesAreLeftAlone) {
  Image img(5, 4, 128);  // 15 bytes of pixels in rows of 16
  img.diffuse();
  for (int y = 0; y < 4; ++y) EXPECT_EQ(img.bytes[y * 16 + 15], kPad);
  std::vector<unsigned char> bytes(12, kPad);
  EXPECT_EQ(ErrorDiffusion(bytes.data(), 0, 3, 4, 100), 0);
  EXPECT_EQ(ErrorDiffusion(bytes.data(), 1, 0, 4, 100), 0);
  EXPECT_EQ(bytes, std::vector<unsigned char>(12, kPad));
}

// Images for the cross-check: colour noise, greys at the limits, label-like strokes, ramps,
// blocks of light, mid and dark.
Image RandomImage(std::mt19937& rng, int w, int h, int kind) {
  static const int kLimits[] = {0,   40,  50,  51,  99,  100, 127, 128, 150, 151,
                                200, 224, 225, 227, 229, 230, 250, 254, 255};
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  Image img(w, h);
  if (kind == 5) {
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
        case 3:
          img.grey(x, y, (x * 255) / w);
          if (pick(9) == 0) img.set(x, y, pick(256), pick(256), pick(256));
          break;
        default:
          img.grey(x, y, kLimits[((x / 3) * 7 + (y / 2) * 3) % 19]);
          break;
      }
    }
  }
  return img;
}

TEST(ErrorDiffusion, AgreesWithPlainPerByteRenderingOnManyImages) {
  std::mt19937 rng(11);
  const int lights[] = {100, 100, 100, 50, 0, 150, 99, 101};
  for (int n = 0; n < 700; ++n) {
    const int w = n < 64 ? 1 + n % 8 : 1 + int(rng() % (n % 4 == 0 ? 70 : 41));
    const int h = n < 64 ? 1 + n / 8 : 1 + int(rng() % 29);
    const int light = lights[rng() % 8];
    Image img = RandomImage(rng, w, h, n % 6);
    std::vector<unsigned char> want = img.bytes;
    RefErrorDiffusion(want.data(), w, h, int(img.stride), light);
    ASSERT_EQ(ErrorDiffusion(img.bytes.data(), w, h, int(img.stride), light), 0);
    ASSERT_EQ(img.bytes, want) << w << "x" << h << " light " << light << " kind " << n % 6;
  }
}

}  // namespace
