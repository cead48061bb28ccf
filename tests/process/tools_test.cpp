// The command-line tools the tests and the demo stand on: makeraster must
// write exactly the raster asked for, and readlabel must accept every well-made
// label job, draw it truly, and refuse everything else with a clear message.
#include <cups/raster.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "run.h"

namespace {

RunResult Tool(const char* exe, std::vector<std::string> args, std::string stdin_path = "") {
  RunOptions opts;
  opts.args = {exe};
  opts.args.insert(opts.args.end(), args.begin(), args.end());
  opts.stdin_path = std::move(stdin_path);
  return Run(opts);
}

RunResult MakeRaster(std::vector<std::string> args) { return Tool(MAKERASTER_EXE, args); }
RunResult ReadLabel(std::vector<std::string> args, std::string stdin_path = "") {
  return Tool(READLABEL_EXE, args, stdin_path);
}

// Bytes by value, so that zero bytes survive.
std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes += static_cast<char>(v);
  return bytes;
}

// A binary PGM (P5, maxval 255) of the given grey samples.
void WritePgm(const std::string& path, int width, int height, const std::vector<uint8_t>& grey) {
  WriteFile(path, "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" +
                      std::string(grey.begin(), grey.end()));
}

struct RasterPage {
  cups_page_header2_t header;
  std::vector<uint8_t> pixels;  // cupsHeight rows of cupsBytesPerLine bytes
};

struct RasterSource {
  std::string bytes;
  size_t pos = 0;
};

ssize_t ReadFromString(void* ctx, unsigned char* buffer, size_t length) {
  auto* source = static_cast<RasterSource*>(ctx);
  const size_t n = std::min(length, source->bytes.size() - source->pos);
  memcpy(buffer, source->bytes.data() + source->pos, n);
  source->pos += n;
  return static_cast<ssize_t>(n);
}

// Every page of a raster stream, read back the way the filter reads it.
std::vector<RasterPage> ReadRaster(const std::string& path) {
  RasterSource source{ReadFile(path)};
  std::unique_ptr<cups_raster_t, decltype(&cupsRasterClose)> raster(
      cupsRasterOpenIO(ReadFromString, &source, CUPS_RASTER_READ), cupsRasterClose);
  std::vector<RasterPage> pages;
  RasterPage page;
  while (cupsRasterReadHeader2(raster.get(), &page.header)) {
    const unsigned size = page.header.cupsBytesPerLine * page.header.cupsHeight;
    page.pixels.assign(size, 0xAA);
    EXPECT_EQ(cupsRasterReadPixels(raster.get(), page.pixels.data(), size), size);
    pages.push_back(page);
  }
  return pages;
}

// The header as written, straight from the bytes after the "RaS3" mark: for
// streams broken on purpose, which a reader may rightly refuse.
cups_page_header2_t RawHeader(const std::string& stream) {
  cups_page_header2_t header;
  EXPECT_GE(stream.size(), 4 + sizeof header);
  uint32_t sync = 0;
  memcpy(&sync, stream.data(), sizeof sync);
  EXPECT_EQ(sync, CUPS_RASTER_SYNC);  // "RaS3" in this machine's byte order
  memcpy(&header, stream.data() + 4, sizeof header);
  return header;
}

class MakeRasterTest : public ::testing::Test {
 protected:
  // One page from a picture; the tool must succeed.
  RasterPage Convert(const std::string& picture, std::vector<std::string> options) {
    options.insert(options.end(), {"-o", dir.File("out.ras"), picture});
    const RunResult r = MakeRaster(options);
    EXPECT_EQ(r.status, 0) << r.err;
    auto pages = ReadRaster(dir.File("out.ras"));
    EXPECT_EQ(pages.size(), 1u);
    return pages.empty() ? RasterPage{} : pages[0];
  }

  TempDir dir;
};

TEST_F(MakeRasterTest, HeaderFieldsComeBackAsSet) {
  WritePgm(dir.File("p.pgm"), 20, 3, std::vector<uint8_t>(60, 200));
  const auto page = Convert(dir.File("p.pgm"), {"--dpi", "300", "--copies", "3", "--orientation",
                                                "1", "--page-size", "100x50"});
  const auto& h = page.header;
  EXPECT_EQ(h.cupsWidth, 20u);
  EXPECT_EQ(h.cupsHeight, 3u);
  EXPECT_EQ(h.cupsBitsPerPixel, 8u);
  EXPECT_EQ(h.cupsBitsPerColor, 8u);
  EXPECT_EQ(h.cupsBytesPerLine, 20u);
  EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_K);
  EXPECT_EQ(h.HWResolution[0], 300u);
  EXPECT_EQ(h.HWResolution[1], 300u);
  EXPECT_EQ(h.PageSize[0], 100u);
  EXPECT_EQ(h.PageSize[1], 50u);
  EXPECT_EQ(h.NumCopies, 3u);
  EXPECT_EQ(h.Orientation, CUPS_ORIENT_90);
}

TEST_F(MakeRasterTest, PageSizeDefaultsToThePictureAtItsResolution) {
  // 2 x 1 inch at 203 dpi; at 300 dpi 406 x 203 pixels are 97.44 x 48.72 points.
  WritePgm(dir.File("p.pgm"), 406, 203, std::vector<uint8_t>(406 * 203, 255));
  auto h = Convert(dir.File("p.pgm"), {}).header;
  EXPECT_EQ(h.HWResolution[0], 203u);
  EXPECT_EQ(h.PageSize[0], 144u);
  EXPECT_EQ(h.PageSize[1], 72u);
  EXPECT_EQ(h.NumCopies, 1u);
  EXPECT_EQ(h.Orientation, CUPS_ORIENT_0);
  h = Convert(dir.File("p.pgm"), {"--dpi", "300"}).header;
  EXPECT_EQ(h.PageSize[0], 97u);
  EXPECT_EQ(h.PageSize[1], 49u);
}

TEST_F(MakeRasterTest, EightBitBlackSpaceCountsInkWhiteSpacesKeepTheGrey) {
  const std::vector<uint8_t> grey = {0, 1, 127, 128, 254, 255};
  WritePgm(dir.File("p.pgm"), 6, 1, grey);
  EXPECT_EQ(Convert(dir.File("p.pgm"), {}).pixels,
            (std::vector<uint8_t>{255, 254, 128, 127, 1, 0}));
  for (const char* space : {"w", "sw"}) {
    const auto page = Convert(dir.File("p.pgm"), {"--colorspace", space, "--bits", "8"});
    EXPECT_EQ(page.pixels, grey) << space;
    EXPECT_EQ(page.header.cupsColorSpace,
              std::string(space) == "w" ? CUPS_CSPACE_W : CUPS_CSPACE_SW);
  }
}

TEST_F(MakeRasterTest, OneBitPagesSplitAtMidGreyMostSignificantBitFirst) {
  // Ten dots, so the second byte holds two dots and six padding bits.
  WritePgm(dir.File("p.pgm"), 10, 1, {0, 255, 127, 128, 255, 255, 255, 255, 255, 10});
  auto page = Convert(dir.File("p.pgm"), {"--bits", "1"});
  EXPECT_EQ(page.header.cupsBitsPerPixel, 1u);
  EXPECT_EQ(page.header.cupsBitsPerColor, 1u);
  EXPECT_EQ(page.header.cupsBytesPerLine, 2u);
  EXPECT_EQ(page.header.cupsColorSpace, CUPS_CSPACE_K);
  EXPECT_EQ(page.pixels, (std::vector<uint8_t>{0b1010'0000, 0b0100'0000}));  // 1 = ink

  page = Convert(dir.File("p.pgm"), {"--bits", "1", "--colorspace", "w"});
  EXPECT_EQ(page.pixels, (std::vector<uint8_t>{0b0101'1111, 0b1011'1111}));  // 1 = white
}

TEST_F(MakeRasterTest, TwentyFourBitPagesCarryTheColoursAsTheyAre) {
  WriteFile(dir.File("c.ppm"), "P6\n3 1\n255\n" + Bytes({255, 0, 0, 0, 128, 0, 1, 2, 3}));
  auto page = Convert(dir.File("c.ppm"), {"--bits", "24"});
  EXPECT_EQ(page.header.cupsColorSpace, CUPS_CSPACE_RGB);
  EXPECT_EQ(page.header.cupsBitsPerColor, 8u);
  EXPECT_EQ(page.header.cupsBytesPerLine, 9u);
  EXPECT_EQ(page.pixels, (std::vector<uint8_t>{255, 0, 0, 0, 128, 0, 1, 2, 3}));

  WritePgm(dir.File("g.pgm"), 2, 1, {30, 220});
  page = Convert(dir.File("g.pgm"), {"--bits", "24", "--colorspace", "srgb"});
  EXPECT_EQ(page.header.cupsColorSpace, CUPS_CSPACE_SRGB);
  EXPECT_EQ(page.pixels, (std::vector<uint8_t>{30, 30, 30, 220, 220, 220}));
}

TEST_F(MakeRasterTest, ColourPicturesAreGreyedByLuminanceAndBitmapsByTheirBlackDots) {
  // Pure red is much lighter than pure blue: 76 and 29 of 255.
  WriteFile(dir.File("c.ppm"), "P6\n2 1\n255\n" + Bytes({255, 0, 0, 0, 0, 255}));
  EXPECT_EQ(Convert(dir.File("c.ppm"), {"-c", "w"}).pixels, (std::vector<uint8_t>{76, 29}));

  // In PBM 1 is black, in both the text and the packed form.
  WriteFile(dir.File("a.pbm"), "P1\n# comment\n3 2\n1 0 1\n001\n");
  WriteFile(dir.File("b.pbm"), "P4\n3 2\n" + Bytes({0b1010'0000, 0b0010'0000}));
  const std::vector<uint8_t> ink = {255, 0, 255, 0, 0, 255};
  EXPECT_EQ(Convert(dir.File("a.pbm"), {}).pixels, ink);
  EXPECT_EQ(Convert(dir.File("b.pbm"), {}).pixels, ink);
}

TEST_F(MakeRasterTest, OnePagePerPictureInTheOrderGiven) {
  WritePgm(dir.File("a.pgm"), 4, 1, {0, 0, 0, 0});
  WritePgm(dir.File("b.pgm"), 2, 3, {0, 0, 0, 0, 0, 0});
  const RunResult r = MakeRaster(
      {"-o", dir.File("out.ras"), dir.File("a.pgm"), "--blank", "9x2", dir.File("b.pgm")});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto pages = ReadRaster(dir.File("out.ras"));
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[0].header.cupsWidth, 4u);
  EXPECT_EQ(pages[1].header.cupsWidth, 9u);
  EXPECT_EQ(pages[1].pixels, std::vector<uint8_t>(18, 0));  // blank: no ink
  EXPECT_EQ(pages[2].header.cupsHeight, 3u);
}

TEST_F(MakeRasterTest, BrokenStreamsAreBrokenExactlyAsAsked) {
  constexpr size_t kHead = 4 + sizeof(cups_page_header2_t);
  WritePgm(dir.File("p.pgm"), 3, 2, {0, 0, 0, 0, 0, 0});
  auto make = [&](std::vector<std::string> options) {
    options.insert(options.end(), {"-o", dir.File("out.ras"), dir.File("p.pgm")});
    const RunResult r = MakeRaster(options);
    EXPECT_EQ(r.status, 0) << r.err;
    return ReadFile(dir.File("out.ras"));
  };
  const std::string whole = make({});
  ASSERT_EQ(whole.size(), kHead + 6);

  // Rows padded with zero bytes to the claimed row size, or cut to it.
  std::string s = make({"--bytes-per-line", "5"});
  EXPECT_EQ(RawHeader(s).cupsBytesPerLine, 5u);
  EXPECT_EQ(s.substr(kHead), std::string("\xFF\xFF\xFF\0\0\xFF\xFF\xFF\0\0", 10));
  s = make({"--bytes-per-line", "2"});
  EXPECT_EQ(s.substr(kHead), "\xFF\xFF\xFF\xFF");

  // A height larger than the picture: the stream ends after its real rows.
  s = make({"--claim-height", "7"});
  EXPECT_EQ(RawHeader(s).cupsHeight, 7u);
  EXPECT_EQ(s.size(), kHead + 6);

  s = make({"--truncate-bytes", "1000"});
  EXPECT_EQ(s, whole.substr(0, 1000));
}

TEST_F(MakeRasterTest, RefusesWhatItCannotWriteFaithfully) {
  WriteFile(dir.File("deep.pgm"), "P5\n1 1\n65535\nab");
  WriteFile(dir.File("short.pgm"), "P5\n4 4\n255\nabc");
  WriteFile(dir.File("text.txt"), "hello\n");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--bits", "4", "--blank", "2x2"}, "--bits"},
      {{"--bits", "24", "--colorspace", "k", "--blank", "2x2"}, "--colorspace"},
      {{"--colorspace", "cmyk", "--blank", "2x2"}, "cmyk"},
      {{"--blank", "2by2"}, "--blank"},
      {{"--dpi", "20o", "--blank", "2x2"}, "--dpi"},
      {{"--copies", "2"}, "no picture"},
      {{dir.File("deep.pgm")}, "maxval 65535"},
      {{dir.File("short.pgm")}, "file ends early"},
      {{dir.File("text.txt")}, "neither a PNG nor"},
      {{dir.File("missing.png")}, "No such file"},
  };
  for (const auto& [args, message] : cases) {
    const RunResult r = MakeRaster(args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_NE(r.err.find("makeraster: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
}

// --- readlabel ------------------------------------------------------------

const std::string kSetup =
    "SIZE 51 mm, 25 mm\r\nSET RIBBON OFF\r\nGAP 3 mm,0 mm\r\nOFFSET 0 mm\r\n"
    "DIRECTION 0,0\r\nREFERENCE 0,0\r\nSET CUTTER OFF\r\nSET TEAR ON\r\nSET PEEL OFF\r\n"
    "OFFSET 0 mm\r\nSPEED 4\r\nDENSITY 8\r\nCLS\r\n";

// Page 1: a 2-byte-wide, 2-row bitmap at (16, 80) whose data spell "\r\n" and
// then one full byte of ink and one blank byte, then a bitmap whose 14 data
// bytes read like the end of a page. Page 2: the minimal setup and one bitmap
// that runs over the label's right edge.
const std::string kPage1Bitmap1 = "BITMAP 16,80,2,2,1,\r\n" + Bytes({0x00, 0xFF}) + "\r\n";
const std::string kPage1Bitmap2 = "BITMAP 0,100,7,2,1,\r\nPRINT 1,1\r\nP\r\n";
const std::string kPage1 = kSetup + kPage1Bitmap1 + kPage1Bitmap2 + "PRINT 1,2\r\n";
const std::string kPage2 = std::string("SIZE 51 mm, 25 mm\r\nDIRECTION 0,0\r\nREFERENCE 0,0\r\n") +
                           "CLS\r\nBITMAP 400,190,2,1,1," + Bytes({0xF0, 0x00}) +
                           "\r\nPRINT 1,1\r\n";

class ReadLabelTest : public ::testing::Test {
 protected:
  RunResult ReadJob(const std::string& job, std::vector<std::string> options = {}) {
    WriteFile(dir.File("job.bin"), job);
    options.push_back(dir.File("job.bin"));
    return ReadLabel(options);
  }

  // A drawn label's grey dots, read back through makeraster (0 black, 255 white).
  RasterPage Drawing(const std::string& png) {
    const RunResult r = MakeRaster({"-c", "w", "-o", dir.File("drawing.ras"), png});
    EXPECT_EQ(r.status, 0) << r.err;
    auto pages = ReadRaster(dir.File("drawing.ras"));
    return pages.empty() ? RasterPage{} : pages[0];
  }

  TempDir dir;
};

TEST_F(ReadLabelTest, SummarisesEachPageOfAWellMadeJob) {
  const RunResult r = ReadJob(kPage1 + kPage2);
  EXPECT_EQ(r.status, 0) << r.err;
  // A 0 bit is ink: 0x0D and 0x0A ("\r\n") hold 5 and 6 of them, 0x00 8, 0xFF none.
  EXPECT_EQ(r.out,
            "SIZE 51 mm, 25 mm\nSET RIBBON OFF\nGAP 3 mm,0 mm\nOFFSET 0 mm\nDIRECTION 0,0\n"
            "REFERENCE 0,0\nSET CUTTER OFF\nSET TEAR ON\nSET PEEL OFF\nOFFSET 0 mm\nSPEED 4\n"
            "DENSITY 8\nCLS\n"
            "BITMAP 16,80,2,2,1 4 bytes, 19 ink dots\n"
            "BITMAP 0,100,7,2,1 14 bytes, 75 ink dots\n"
            "PRINT 1,2\n"
            "SIZE 51 mm, 25 mm\nDIRECTION 0,0\nREFERENCE 0,0\nCLS\n"
            "BITMAP 400,190,2,1,1 2 bytes, 12 ink dots\n"
            "PRINT 1,1\n");
  // Page 2's bitmap ends at dot 416 of a 408-dot label (51 mm at 203 dpi).
  const std::string warning = dir.File("job.bin") + ":" +
                              std::to_string(kPage1.size() + kPage2.find("BITMAP")) +
                              ": warning: BITMAP 400,190,2,1 reaches beyond the 408x200-dot label";
  EXPECT_NE(r.err.find(warning), std::string::npos) << r.err;

  const RunResult quiet = ReadLabel({"--quiet", "-"}, dir.File("job.bin"));
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out, "");
}

TEST_F(ReadLabelTest, DrawsInkBlackAtTheBitmapsPlaceClippedToTheLabel) {
  const RunResult r = ReadJob(kPage1 + kPage2, {"--png", dir.File("label")});
  ASSERT_EQ(r.status, 0) << r.err;
  const RasterPage one = Drawing(dir.File("label-1.png"));
  ASSERT_EQ(one.header.cupsWidth, 408u);  // round(51 / 25.4 * 203)
  ASSERT_EQ(one.header.cupsHeight, 200u);
  auto dot = [](const RasterPage& p, unsigned x, unsigned y) {
    return p.pixels[y * p.header.cupsBytesPerLine + x];
  };
  // Row 80 holds 0x0D 0x0A from x 16: ....##.# ....#.#. with # for a 1 bit, no ink.
  const char* row80 = "0000110100001010";
  for (unsigned i = 0; i < 16; ++i)
    EXPECT_EQ(dot(one, 16 + i, 80), row80[i] == '1' ? 255 : 0) << "x " << 16 + i;
  for (unsigned x = 16; x < 24; ++x) EXPECT_EQ(dot(one, x, 81), 0);
  for (unsigned x = 24; x < 32; ++x) EXPECT_EQ(dot(one, x, 81), 255);
  EXPECT_EQ(dot(one, 15, 80), 255);
  EXPECT_EQ(dot(one, 16, 79), 255);
  EXPECT_EQ(dot(one, 16, 82), 255);

  const RasterPage two = Drawing(dir.File("label-2.png"));
  ASSERT_EQ(two.header.cupsWidth, 408u);
  // 0xF0 0x00 at x 400: four white dots, then ink up to the label's edge.
  for (unsigned x = 400; x < 404; ++x) EXPECT_EQ(dot(two, x, 190), 255);
  for (unsigned x = 404; x < 408; ++x) EXPECT_EQ(dot(two, x, 190), 0);
  EXPECT_EQ(dot(two, 404, 189), 255);
  EXPECT_EQ(dot(two, 404, 191), 255);

  // At 300 dpi the same label is 602 x 295 dots.
  ASSERT_EQ(ReadJob(kPage2, {"--dpi", "300", "--png", dir.File("fine")}).status, 0);
  EXPECT_EQ(Drawing(dir.File("fine-1.png")).header.cupsWidth, 602u);
  EXPECT_EQ(Drawing(dir.File("fine-1.png")).header.cupsHeight, 295u);
}

TEST_F(ReadLabelTest, RefusesEveryMalformedJobWithWhereAndWhat) {
  auto replace = [](std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
  };
  const size_t speed = kSetup.find("SPEED");
  const size_t bitmap1 = kSetup.size();
  const size_t print1 = kPage1.size() - 11;
  const struct {
    const char* what;
    std::string job;
    size_t offset;
    std::string message;
  } cases[] = {
      {"bitmap data cut short", kPage1.substr(0, bitmap1 + 21), bitmap1 + 19,
       "BITMAP 16,80,2,2,1: data run past the end of the input (4 bytes needed, 2 left)"},
      {"unknown command", replace(kPage1, "SPEED 4", "SPEEED 4"), speed,
       "unknown command \"SPEEED 4\""},
      {"setup line after CLS", kSetup + "SPEED 4\r\nPRINT 1,1\r\n", bitmap1,
       "setup command \"SPEED 4\" after CLS"},
      {"no PRINT before the next page", replace(kPage1 + kPage2, "PRINT 1,2\r\n", ""), print1,
       "page 1 has no PRINT before the next SIZE"},
      {"no PRINT at the end", kPage1.substr(0, print1), print1,
       "input ends inside page 1: no PRINT after CLS"},
      {"a partial page after the last PRINT", kPage1 + "SIZE 51 mm, 25 mm\r\n", kPage1.size() + 19,
       "input ends inside the setup of page 2"},
      {"garbage number", replace(kPage1, "SPEED 4", "SPEED 4x"), speed,
       "malformed number in \"SPEED 4x\" (expected \"SPEED <number>\")"},
      {"garbage size", replace(kPage1, "SIZE 51", "SIZE 5l"), 0, "malformed number in \"SIZE 5l"},
      {"garbage bitmap field", replace(kPage1, "BITMAP 16,80", "BITMAP 16,8O"), bitmap1 + 10,
       "malformed number for the BITMAP y"},
      {"bitmap not on a byte", replace(kPage1, "BITMAP 16,80", "BITMAP 12,80"), bitmap1,
       "BITMAP 12,80,2,2,1: x is not a multiple of 8 dots"},
      {"no line end after the data", replace(kPage1, "\xFF\r\n", "\xFF"), bitmap1 + 23,
       "BITMAP 16,80,2,2,1: data not followed by \"\\r\\n\" (found \"BITMAP 0\")"},
      {"a bare line feed", replace(kPage1, "SPEED 4\r\n", "SPEED 4\n"), speed + 7,
       "line feed without carriage return"},
      {"not a label job", "%!PS-Adobe-3.0\r\n", 0, "page 1 starts with \"%!PS-Adobe-3.0\""},
      {"nothing at all", "", 0, "empty job"},
  };
  for (const auto& c : cases) {
    const RunResult r = ReadJob(c.job, {"--png", dir.File("bad")});
    EXPECT_EQ(r.status, 1) << c.what;
    const std::string where = "readlabel: " + dir.File("job.bin") + ":" + std::to_string(c.offset);
    EXPECT_NE(r.err.find(where + ": " + c.message), std::string::npos)
        << c.what << ": expected " << where << ": " << c.message << "\n got " << r.err;
  }
  // Nothing is drawn from a job that is wrong anywhere.
  EXPECT_FALSE(std::filesystem::exists(dir.File("bad-1.png")));
}

}  // namespace
