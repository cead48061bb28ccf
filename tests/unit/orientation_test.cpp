// Tests of the bitmap orientation steps.
//
// Contents
//   Picture helpers and a dot-by-dot reference of each turn and the mirror
//   Hand-worked cases: single ink dots, row edges, padding, negative
//   Cross-checks against the reference on odd sizes with dirty padding
//   Round trips: four quarter turns, two half turns, two mirrors
#include "label/orientation.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// A page bitmap with its geometry; bytes holds exactly stride x rows bytes so
// that a read beyond it shows up under the address sanitizer.
struct Picture {
  size_t width, rows, stride;
  Bytes bytes;
  bool Ink(size_t r, size_t p) const { return !(bytes[r * stride + p / 8] & (0x80 >> p % 8)); }
};

Picture Blank(size_t width, size_t rows, size_t stride) {
  return {width, rows, stride, Bytes(stride * rows, 0xFF)};
}

void SetInk(Picture& pic, size_t r, size_t p) {
  pic.bytes[r * pic.stride + p / 8] &= static_cast<unsigned char>(~(0x80 >> p % 8));
}

// Random dots, and random bits in the padding too, as a complemented raster has.
Picture Random(size_t width, size_t rows, size_t stride, std::mt19937& rng) {
  Picture pic = Blank(width, rows, stride);
  for (auto& b : pic.bytes) b = static_cast<unsigned char>(rng());
  return pic;
}

// References, straight from the definitions: start blank, copy ink dot by dot.
Picture Turn180Ref(const Picture& s) {
  Picture d = Blank(s.width, s.rows, s.stride);
  for (size_t r = 0; r < s.rows; ++r)
    for (size_t p = 0; p < s.width; ++p)
      if (s.Ink(s.rows - 1 - r, s.width - 1 - p)) SetInk(d, r, p);
  return d;
}

Picture Turn90Ref(const Picture& s) {
  Picture d = Blank(s.rows, s.width, (s.rows + 31) / 32 * 4);
  for (size_t x = 0; x < s.width; ++x)
    for (size_t i = 0; i < s.rows; ++i)
      if (s.Ink(s.rows - 1 - i, x)) SetInk(d, x, i);
  return d;
}

Picture MirrorRef(const Picture& s) {
  Picture d = Blank(s.width, s.rows, s.stride);
  for (size_t r = 0; r < s.rows; ++r)
    for (size_t p = 0; p < s.width; ++p)
      if (s.Ink(r, s.width - 1 - p)) SetInk(d, r, p);
  return d;
}

// The same picture at the given stride with every padding bit 1.
Picture Clean(const Picture& s, size_t stride) {
  Picture d = Blank(s.width, s.rows, stride);
  for (size_t r = 0; r < s.rows; ++r)
    for (size_t p = 0; p < s.width; ++p)
      if (s.Ink(r, p)) SetInk(d, r, p);
  return d;
}

// The functions under test, returning pictures with their new geometry.
Picture Turn180(const Picture& s) {
  return {s.width, s.rows, s.stride,
          Rotate180(s.bytes.data(), int(s.width), int(s.stride), int(s.rows))};
}
Picture Turn90(const Picture& s) {
  return {s.rows, s.width, (s.rows + 31) / 32 * 4,
          Rotate90Degrees(s.bytes.data(), int(s.width), int(s.rows), int(s.stride))};
}
Picture Mirror(const Picture& s) {
  return {s.width, s.rows, s.stride,
          MirrorPicture(int(s.width), int(s.rows), int(s.stride), s.bytes.data())};
}

using Dots = std::vector<std::pair<size_t, size_t>>;

Dots InkDots(const Picture& pic) {
  Dots dots;
  for (size_t r = 0; r < pic.rows; ++r)
    for (size_t p = 0; p < pic.width; ++p)
      if (pic.Ink(r, p)) dots.emplace_back(r, p);
  return dots;
}

TEST(Orientation, OneInkDotInTheTopLeftCornerLandsInTheCornerEachTurnGivesIt) {
  Picture page = Blank(16, 2, 4);
  SetInk(page, 0, 0);

  // 2 dots wide, 16 rows at stride 4: row 0 is 1011 1111 and blank after.
  Bytes turned90(16 * 4, 0xFF);
  turned90[0] = 0xBF;
  EXPECT_EQ(Turn90(page).bytes, turned90);

  EXPECT_EQ(InkDots(Turn180(page)), (Dots{{1, 15}}));
  EXPECT_EQ(InkDots(Turn90(Turn180(page))), (Dots{{15, 0}}));  // 270 degrees
}

TEST(Orientation, MirrorTakesTheEdgeDotsAcrossAndLeavesThePaddingBlank) {
  // 12 dots: ink at dot 0 goes to dot 11; dots 12..15 stay blank.
  EXPECT_EQ(MirrorPicture(12, 1, 2, Bytes{0x7F, 0xFF}.data()), (Bytes{0xFF, 0xEF}));
  // Dirty padding in the source does not come through.
  EXPECT_EQ(MirrorPicture(12, 1, 2, Bytes{0x7F, 0xF0}.data()), (Bytes{0xFF, 0xEF}));
  // 16 dots: the last byte is all picture, dot 15 goes to dot 0.
  EXPECT_EQ(MirrorPicture(16, 1, 2, Bytes{0xFF, 0xFE}.data()), (Bytes{0x7F, 0xFF}));
}

TEST(Orientation, NegativeInksThePaddingOfEveryRowToo) {
  Bytes page{0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0xFF, 0xF7, 0xFF};  // 20 dots, stride 4
  NegatePicture(page.data(), page.size());
  EXPECT_EQ(page, (Bytes{0x00, 0x00, 0x00, 0x00, 0xF0, 0x00, 0x08, 0x00}));
}

TEST(Orientation, MirrorAfterAQuarterTurnTransposesThePage) {
  std::mt19937 rng(40);
  const Picture page = Random(40, 10, 8, rng);
  const Picture turned = Turn90(page);  // 10 dots wide, 40 rows, stride 4
  const Picture result = Mirror(turned);
  ASSERT_EQ(result.bytes.size(), 40u * 4);
  EXPECT_EQ(result.bytes, MirrorRef(turned).bytes);
  for (size_t x = 0; x < 40; ++x)
    for (size_t i = 0; i < 10; ++i) ASSERT_EQ(result.Ink(x, i), page.Ink(i, x)) << x << "," << i;
}

TEST(Orientation, EveryStepMatchesTheDotByDotReferenceOnOddSizesWithDirtyPadding) {
  std::mt19937 rng(7);
  // Widths and heights on both sides of the byte, 32-dot and 64-dot
  // boundaries; strides minimal and wider than needed.
  const size_t heights[] = {0, 1, 2, 3, 7, 8, 9, 15, 17, 31, 32, 33, 63, 64, 65, 96, 97, 129};
  for (size_t width = 1; width <= 140; ++width) {
    for (size_t rows : heights) {
      for (size_t extra : {0, 3}) {
        const Picture page = Random(width, rows, (width + 7) / 8 + extra, rng);
        SCOPED_TRACE(testing::Message() << width << " x " << rows << " stride " << page.stride);
        ASSERT_EQ(Turn180(page).bytes, Turn180Ref(page).bytes);
        ASSERT_EQ(Turn90(page).bytes, Turn90Ref(page).bytes);
        ASSERT_EQ(Mirror(page).bytes, MirrorRef(page).bytes);
      }
    }
  }
}

TEST(Orientation, FullTurnsAndDoubleMirrorsGiveBackThePageWithBlankPadding) {
  std::mt19937 rng(1218);
  const std::pair<size_t, size_t> sizes[] = {{1218, 1200}, {1203, 37}, {333, 1217}, {1, 1000}};
  for (const auto& [width, rows] : sizes) {
    SCOPED_TRACE(testing::Message() << width << " x " << rows);
    const Picture page = Random(width, rows, (width + 7) / 8 + 5, rng);
    const Picture clean = Clean(page, page.stride);
    EXPECT_EQ(Turn180(Turn180(page)).bytes, clean.bytes);
    EXPECT_EQ(Mirror(Mirror(page)).bytes, clean.bytes);
    const Picture half = Turn90(Turn90(page));
    EXPECT_EQ(half.bytes, Clean(Turn180(page), half.stride).bytes);
    const Picture full = Turn90(Turn90(Turn90(Turn90(page))));
    EXPECT_EQ(full.bytes, Clean(page, full.stride).bytes);
  }
}

}  // namespace
