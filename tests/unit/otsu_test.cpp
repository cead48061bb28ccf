// Tests of the automatic threshold:
//   - hand-worked pages: one level, two levels, greying of a pixel, light offsets, padding
//     groups and remainders, empty images;
//   - a cross-check against a plain rendering of the method over many random and structured
//     pages, byte for byte.
#include "convert/otsu.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

// The plain method below must round one operation at a time, as the filter does; this header
// turns floating-point contraction off for the rest of the file.
#include "halftone_reference.h"

namespace {

// A working image with an arbitrary row stride (in bytes); each row is filled with `fill`.
struct Page {
  int stride;
  int rows;
  std::vector<unsigned char> bytes;
  Page(int strideBytes, int rowCount, unsigned char fill)
      : stride(strideBytes), rows(rowCount), bytes(size_t(strideBytes) * rowCount, fill) {}
  unsigned char* at(int group, int row) { return &bytes[size_t(row) * stride + size_t(group) * 3]; }
  void set(int group, int row, int b0, int b1, int b2) {
    unsigned char* p = at(group, row);
    p[0] = b0, p[1] = b1, p[2] = b2;
  }
  void grey(int group, int row, int g) { set(group, row, g, g, g); }
  int run(int nLight = 100) { return otsu(bytes.data(), stride, rows, 24, nLight); }
};

// Otsu's threshold exactly as the method is written: one pass of whole 3-byte groups, then a
// single-precision search over all 256 splits, every sum restarted for every split.
int ReferenceOtsu(unsigned char* image, int nImageWidth, int nImageHeight, int nLight) {
  const int nBrightness = (100 - nLight) * 255 / 100;
  int pixelCount[256] = {};
  float pixelPro[256] = {};
  int pixelSum = (nImageWidth / 3) * nImageHeight;
  for (int j = 0; j < nImageHeight; ++j) {
    for (int o = 0; o + 3 <= nImageWidth; o += 3) {
      unsigned char* p = image + j * nImageWidth + o;
      int gray = (p[0] + p[1] + p[2]) / 3;
      int pixel = gray + nBrightness;
      if (pixel < 0) pixel = 0;
      if (pixel > 255) pixel = 255;
      p[0] = p[1] = p[2] = (unsigned char)pixel;
      pixelCount[pixel]++;
    }
  }
  if (pixelSum == 0) return 0;
  for (int k = 0; k < 256; ++k) pixelPro[k] = (float)pixelCount[k] / (float)pixelSum;
  float deltaMax = 0;
  int threshold = 0;
  for (int i = 0; i < 256; ++i) {
    float w0 = 0, w1 = 0, u0tmp = 0, u1tmp = 0;
    for (int j = 0; j < 256; ++j) {
      if (j <= i) {
        w0 += pixelPro[j];
        float product = (float)j * pixelPro[j];
        u0tmp += product;
      } else {
        w1 += pixelPro[j];
        float product = (float)j * pixelPro[j];
        u1tmp += product;
      }
    }
    float u0 = u0tmp / w0;
    float u1 = u1tmp / w1;
    float u = u0tmp + u1tmp;
    float a = w0 * (u0 - u);
    a = a * (u0 - u);
    float b = w1 * (u1 - u);
    b = b * (u1 - u);
    float deltaTmp = a + b;
    if (deltaTmp > deltaMax) {
      deltaMax = deltaTmp;
      threshold = i;
    }
  }
  return threshold;
}

TEST(Otsu, PageOfOneLevelYieldsZeroAndKeepsItsGrey) {
  for (int g : {0, 100, 255}) {
    Page page(12, 3, static_cast<unsigned char>(g));
    EXPECT_EQ(page.run(), 0) << "level " << g;
    EXPECT_EQ(page.bytes, std::vector<unsigned char>(36, static_cast<unsigned char>(g)));
  }
}

TEST(Otsu, TwoLevelsYieldTheLowerOne) {
  // Every split from a to b - 1 has the same variance; the first of them wins.
  struct Case {
    int a, b, countA, countB;
  };
  for (Case c : {Case{0, 255, 5, 7}, Case{30, 200, 1, 11}, Case{30, 200, 11, 1}, Case{7, 8, 6, 6},
                 Case{254, 255, 3, 9}}) {
    Page page(12 * 3, 1, 0);
    for (int k = 0; k < 12; ++k) page.grey(k, 0, k < c.countA ? c.a : c.b);
    EXPECT_EQ(page.run(), c.a) << c.a << "/" << c.b;
  }
}

TEST(Otsu, GreysEveryPixelToTheMeanOfItsBytes) {
  Page page(9, 2, 255);
  page.set(0, 0, 10, 20, 31);     // 61 / 3 = 20
  page.set(1, 0, 255, 255, 254);  // 764 / 3 = 254, rounded down
  page.set(2, 1, 0, 0, 2);        // 0
  page.run();
  const std::vector<unsigned char> expected = {20,  20,  20,  254, 254, 254, 255, 255, 255,
                                               255, 255, 255, 255, 255, 255, 0,   0,   0};
  EXPECT_EQ(page.bytes, expected);
}

TEST(Otsu, LightLevelShiftsTheGreysWithClamping) {
  // nLight 50 adds 127; 150 adds -127 (the division truncates toward zero, not -128);
  // 0 adds 255, so everything is white and there is no split.
  auto greyed = [](int nLight, int g) {
    Page page(3, 1, static_cast<unsigned char>(g));
    page.run(nLight);
    return int(page.bytes[0]);
  };
  EXPECT_EQ(greyed(50, 100), 227);
  EXPECT_EQ(greyed(50, 200), 255);
  EXPECT_EQ(greyed(150, 200), 73);
  EXPECT_EQ(greyed(150, 100), 0);
  EXPECT_EQ(greyed(0, 0), 255);
  EXPECT_EQ(greyed(100, 99), 99);

  Page page(6, 2, 0);
  page.grey(1, 0, 100);
  page.grey(1, 1, 180);
  EXPECT_EQ(page.run(0), 0);
  EXPECT_EQ(page.bytes, std::vector<unsigned char>(12, 255));

  // The threshold is taken on the shifted levels: 20 and 60 become 147 and 187.
  Page shifted(6, 1, 20);
  shifted.grey(1, 0, 60);
  EXPECT_EQ(shifted.run(50), 147);
}

TEST(Otsu, PaddingGroupsCountAndRemaindersAreNotTouched) {
  // 3 dots in rows of 12 bytes: the fourth group is padding but a whole group, so it is
  // greyed and counted.  With only the dots (all 100) there would be one level and no split.
  Page twelve(12, 2, 100);
  twelve.set(3, 0, 10, 20, 31);
  twelve.set(3, 1, 10, 20, 31);
  EXPECT_EQ(twelve.run(), 20);
  EXPECT_EQ(twelve.bytes[9], 20);
  EXPECT_EQ(twelve.bytes[11], 20);

  // 5 dots in rows of 16 bytes: groups at 0..12 are greyed, byte 15 is neither read nor
  // written.  Levels 200 and 201 only: a dark remainder read as part of a pixel would add a
  // third level and move the split.
  Page sixteen(16, 3, 200);
  for (int row = 0; row < 3; ++row) sixteen.bytes[size_t(row) * 16 + 15] = 0;
  sixteen.set(4, 1, 200, 201, 202);
  EXPECT_EQ(sixteen.run(), 200);
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(sixteen.bytes[size_t(row) * 16 + 15], 0) << "row " << row;
  }
  EXPECT_EQ(sixteen.bytes[16 + 12], 201);
  EXPECT_EQ(sixteen.bytes[16 + 14], 201);

  // A two-byte remainder: rows of 8 bytes hold two groups.
  Page eight(8, 1, 0);
  eight.bytes = {0, 0, 0, 90, 90, 93, 7, 9};
  EXPECT_EQ(eight.run(), 0);
  EXPECT_EQ(eight.bytes, (std::vector<unsigned char>{0, 0, 0, 91, 91, 91, 7, 9}));
}

TEST(Otsu, ImageWithoutWholeGroupsYieldsZeroUnchanged) {
  std::vector<unsigned char> narrow = {10, 200, 30, 40};
  EXPECT_EQ(otsu(narrow.data(), 2, 2, 24, 50), 0);
  EXPECT_EQ(narrow, (std::vector<unsigned char>{10, 200, 30, 40}));
  std::vector<unsigned char> none = {1, 2, 3};
  EXPECT_EQ(otsu(none.data(), 3, 0, 24, 50), 0);
  EXPECT_EQ(none, (std::vector<unsigned char>{1, 2, 3}));
}

// Pages for the cross-check: noise, few levels, ramps, label-like pages of strokes on white,
// and grey pages of runs with a few stray bytes.
std::vector<unsigned char> MakePage(std::mt19937& rng, int stride, int rows, int kind) {
  std::vector<unsigned char> page(size_t(stride) * rows);
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  const int levels[] = {pick(256), pick(256), pick(256)};
  const int run = 1 + pick(40);  // pixels per run of one level
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < stride; ++x) {
      unsigned char& b = page[size_t(y) * stride + x];
      switch (kind) {
        case 0:  // colour noise
          b = static_cast<unsigned char>(pick(256));
          break;
        case 1:  // grey noise over a few levels
          b = static_cast<unsigned char>(levels[(y * 7 + x / 3 * 13 + pick(2)) % 3]);
          break;
        case 2:  // a ramp
          b = static_cast<unsigned char>((x / 3 * 255) / (stride / 3 + 1));
          break;
        case 3:  // white page with dark strokes and soft edges
          b = (x / 3 + y) % 9 == 0 ? 0 : ((x / 3 + y) % 9 == 1 ? 160 : 255);
          break;
        default:  // grey pixels in runs of three levels
          b = static_cast<unsigned char>(levels[(x / 3 / run + y) % 3]);
          break;
      }
    }
    if (kind == 4) {
      unsigned char* row = &page[size_t(y) * stride];
      // A run's last pixel sometimes takes the next run's level in its last byte (a coloured
      // fringe), and a few bytes are off by one.
      for (int x = 3 * run - 1; x + 1 < stride; x += 3 * run) {
        if (pick(2)) row[x] = row[x + 1];
      }
      for (int k = pick(4); k > 0; --k) row[pick(stride)] ^= 1;
    }
  }
  return page;
}

TEST(Otsu, AgreesWithPlainMethodOnManyPages) {
  std::mt19937 rng(20240611);
  const int lights[] = {100, 100, 100, 50, 0, 150, 73, 101};
  int checked = 0;
  for (int n = 0; n < 600; ++n) {
    const int stride = 1 + int(rng() % (n % 3 == 0 ? 200 : 60));
    const int rows = 1 + int(rng() % 20);
    const int light = lights[rng() % 8];
    std::vector<unsigned char> page = MakePage(rng, stride, rows, n % 5);
    std::vector<unsigned char> expected = page;
    const int want = ReferenceOtsu(expected.data(), stride, rows, light);
    const int got = otsu(page.data(), stride, rows, 24, light);
    ASSERT_EQ(got, want) << "stride " << stride << " rows " << rows << " light " << light;
    ASSERT_EQ(page, expected) << "stride " << stride << " rows " << rows << " light " << light;
    ++checked;
  }
  // Ties in single precision: levels with equal weights placed symmetrically, one level per
  // row, in short rows and in rows of 16 pixels.
  int ties = 0;
  for (int stride : {6, 48}) {
    for (int a = 0; a < 200; a += 7) {
      for (int gap = 1; a + 2 * gap < 256; gap += 11) {
        std::vector<unsigned char> page;
        for (int level : {a, a + gap, a + 2 * gap}) page.insert(page.end(), stride, level);
        std::vector<unsigned char> expected = page;
        const int want = ReferenceOtsu(expected.data(), stride, 3, 100);
        ASSERT_EQ(otsu(page.data(), stride, 3, 24, 100), want) << a << " " << gap;
        ties += want == a;  // the lower of the two equal splits, where they are equal in floats
        ++checked;
      }
    }
  }
  EXPECT_GT(ties, 0);
  EXPECT_GT(checked, 700);
}

}  // namespace
