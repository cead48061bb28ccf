// Turned, mirrored and negative labels, end to end: every combination of the
// "Origin", "MirrorImage" and "NegativeImage" choices and the page header's
// orientation, against a dot-by-dot model of what the printer must receive.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "label/label_output.h"
#include "ppd_fixture.h"
#include "run.h"

namespace {

// Ink dots of a picture, row-major.
struct Dots {
  int w, h;
  std::vector<bool> ink;
  bool at(int r, int p) const { return ink[static_cast<size_t>(r) * w + p]; }
};

Dots Turn180(const Dots& d) {
  Dots o{d.w, d.h, std::vector<bool>(d.ink.size())};
  for (int r = 0; r < d.h; ++r)
    for (int p = 0; p < d.w; ++p) o.ink[r * d.w + p] = d.at(d.h - 1 - r, d.w - 1 - p);
  return o;
}

Dots TurnClockwise(const Dots& d) {  // the top edge becomes the right edge
  Dots o{d.h, d.w, std::vector<bool>(d.ink.size())};
  for (int r = 0; r < o.h; ++r)
    for (int p = 0; p < o.w; ++p) o.ink[r * o.w + p] = d.at(d.h - 1 - p, r);
  return o;
}

Dots Mirror(const Dots& d) {
  Dots o{d.w, d.h, std::vector<bool>(d.ink.size())};
  for (int r = 0; r < d.h; ++r)
    for (int p = 0; p < d.w; ++p) o.ink[r * d.w + p] = d.at(r, d.w - 1 - p);
  return o;
}

// The page bitmap the printer gets: 0 bits are ink, padding bits are 1.
std::vector<unsigned char> Pack(const Dots& d, size_t stride) {
  std::vector<unsigned char> b(stride * d.h, 0xFF);
  for (int r = 0; r < d.h; ++r)
    for (int p = 0; p < d.w; ++p)
      if (d.at(r, p)) b[r * stride + p / 8] &= static_cast<unsigned char>(~(0x80 >> (p % 8)));
  return b;
}

std::string Pgm(const Dots& d) {
  std::string s = "P5\n" + std::to_string(d.w) + " " + std::to_string(d.h) + "\n255\n";
  for (bool i : d.ink) s.push_back(i ? '\0' : '\xFF');
  return s;
}

}  // namespace

TEST(OrientedLabels, EveryCombinationMatchesTheDotModel) {
  TempDir dir;
  std::mt19937 rng(7);
  const int W = 37, H = 23;  // neither a multiple of 8 nor of 32
  Dots page{W, H, std::vector<bool>(W * H)};
  for (size_t i = 0; i < page.ink.size(); ++i) page.ink[i] = rng() % 3 == 0;
  WriteFile(dir.File("page.pgm"), Pgm(page));

  const char* origins[] = {"Rotation0", "Rotation90", "Rotation180", "Rotation270"};
  for (int headerOrientation : {0, 1}) {
    std::string raster = dir.File("page" + std::to_string(headerOrientation) + ".ras");
    RunOptions make;
    make.args = {MAKERASTER_EXE,
                 "--bits",
                 "1",
                 "--page-size",
                 "100x50",
                 "--orientation",
                 std::to_string(headerOrientation),
                 "-o",
                 raster,
                 dir.File("page.pgm")};
    ASSERT_EQ(::Run(make).status, 0);
    for (int origin = 0; origin < 4; ++origin) {
      for (bool mirror : {false, true}) {
        for (bool negative : {false, true}) {
          SCOPED_TRACE(testing::Message()
                       << "header orientation " << headerOrientation << ", " << origins[origin]
                       << ", mirror " << mirror << ", negative " << negative);
          TestPpd ppd({{"Origin", origins[origin]},
                       {"MirrorImage", mirror ? "True" : "False"},
                       {"NegativeImage", negative ? "True" : "False"}});
          RunOptions o;
          o.args = {FILTER_EXE, "1", "u", "t", "1", "", raster};
          o.env["PPD"] = ppd.path();
          RunResult r = ::Run(o);
          ASSERT_EQ(r.status, 0) << r.err;

          int direction = origin;
          if (headerOrientation != 0 && direction == 0) direction = 1;
          Dots d = page;
          size_t stride = (W + 7) / 8;  // the raster's own row length
          if (direction >= 2) d = Turn180(d);
          if (direction % 2 == 1) {
            d = TurnClockwise(d);
            stride = ((d.w + 31) / 32) * 4;
          }
          if (mirror) d = Mirror(d);
          std::vector<unsigned char> bits = Pack(d, stride);
          if (negative)
            for (auto& b : bits) b = static_cast<unsigned char>(~b);

          // 100 x 50 points is 35 x 18 mm; a turn by "Origin" swaps them.
          std::string expected = origin % 2 ? "SIZE 18 mm, 35 mm\r\n" : "SIZE 35 mm, 18 mm\r\n";
          expected += "DIRECTION 0,0\r\nREFERENCE 0,0\r\nCLS\r\n";
          AppendBitmapCommands(expected, bits.data(), stride, static_cast<size_t>(d.h));
          expected += "PRINT 1,1\r\n";
          EXPECT_EQ(r.out, expected);
        }
      }
    }
  }
}
