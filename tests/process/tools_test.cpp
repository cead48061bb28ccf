// The tools the tests, the demo and the benchmarks stand on: makeraster writes the raster asked
// for; readlabel takes every well-made label job and refuses anything else, saying where.
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "run.h"

namespace {

RunResult Tool(const char* exe, std::vector<std::string> args) {
  RunOptions o;
  o.args = {exe};
  o.args.insert(o.args.end(), args.begin(), args.end());
  return Run(o);
}

// The header and pixels of the first page of a raster file, as the filter reads them.
std::pair<cups_page_header2_t, std::string> FirstPage(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  cups_raster_t* r = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t h = {};
  std::string pixels;
  if (r && cupsRasterReadHeader2(r, &h)) {
    pixels.resize(size_t{h.cupsBytesPerLine} * h.cupsHeight);
    cupsRasterReadPixels(r, reinterpret_cast<unsigned char*>(pixels.data()), pixels.size());
  }
  if (r) cupsRasterClose(r);
  close(fd);
  return {h, pixels};
}

}  // namespace

TEST(MakeRaster, WritesTheHeaderAndDotsAsked) {
  TempDir dir;
  // A 10 x 1 grey ramp: 0 (black) .. 225.
  std::string ramp = "P5\n10 1\n255\n";
  for (int x = 0; x < 10; ++x) ramp += static_cast<char>(25 * x);
  WriteFile(dir.File("p.pgm"), ramp);
  struct {
    std::vector<std::string> options;
    unsigned bits, bytesPerLine;
    std::string pixels;
  } const cases[] = {
      // Black-based grey: ink is 255 - grey.
      {{"--bits", "8"}, 8, 10, "\xFF\xE6\xCD\xB4\x9B\x82\x69\x50\x37\x1E"},
      // 1 bit: ink below mid-grey, most significant bit first.
      {{"--bits", "1"}, 1, 2, std::string("\xFC\0", 2)},
      {{"--bits", "24"}, 24, 30, std::string("\0\0\0\x19\x19\x19", 6)},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--dpi", "300", "--copies", "3", "--page-size", "100x50", "-o",
                             dir.File("out.ras"), dir.File("p.pgm")});
    ASSERT_EQ(Tool(MAKERASTER_EXE, args).status, 0);
    const auto [h, pixels] = FirstPage(dir.File("out.ras"));
    EXPECT_EQ(
        std::vector<unsigned>({h.cupsWidth, h.cupsHeight, h.cupsBitsPerPixel, h.cupsBytesPerLine,
                               h.HWResolution[0], h.PageSize[0], h.PageSize[1], h.NumCopies}),
        std::vector<unsigned>({10, 1, c.bits, c.bytesPerLine, 300, 100, 50, 3}));
    EXPECT_EQ(pixels.substr(0, c.pixels.size()), c.pixels) << c.bits << " bits";
  }
}

TEST(ReadLabel, SummarisesWellMadeJobsAndRefusesEveryOtherWithWhereAndWhat) {
  TempDir dir;
  const std::string setup =
      "SIZE 51 mm, 25 mm\r\nGAP 3 mm,0 mm\r\nDIRECTION 0,0\r\nREFERENCE 0,0\r\nSPEED 4\r\nCLS\r\n";
  // Bitmap data may hold line ends and what reads like the end of a page.
  const std::string page = setup + "BITMAP 16,80,2,2,1,\r\n" + std::string("\0\xFF", 2) + "\r\n" +
                           "BITMAP 0,100,7,2,1,\r\nPRINT 1,1\r\nP\r\nPRINT 1,2\r\n";
  WriteFile(dir.File("job.bin"), page + page);
  RunResult r = Tool(READLABEL_EXE, {"--ppd", SOURCE_DIR "/ppd/label300.ppd", "--png",
                                     dir.File("l"), dir.File("job.bin")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string summary =
      "SIZE 51 mm, 25 mm\nGAP 3 mm,0 mm\nDIRECTION 0,0\nREFERENCE 0,0\nSPEED 4\nCLS\n"
      "BITMAP 16,80,2,2,1 4 bytes, 19 ink dots\nBITMAP 0,100,7,2,1 14 bytes, 75 ink dots\nPRINT "
      "1,2\n";
  EXPECT_EQ(r.out, summary + summary);
  EXPECT_TRUE(std::filesystem::exists(dir.File("l-2.png")));

  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string job = page;
    return job.replace(job.find(from), from.size(), to);
  };
  const size_t bitmap = setup.size(), speed = setup.find("SPEED");
  const std::pair<std::string, std::pair<size_t, std::string>> cases[] = {
      {page.substr(0, bitmap + 21),
       {bitmap + 19,
        "BITMAP 16,80,2,2,1: data run past the end of the input (4 bytes needed, 2 left)"}},
      {replaced("SPEED 4", "SPEEED 4"), {speed, "unknown command \"SPEEED 4\""}},
      {setup + "SPEED 4\r\nPRINT 1,1\r\n", {bitmap, "setup command \"SPEED 4\" after CLS"}},
      {page.substr(0, page.size() - 11),
       {page.size() - 11, "input ends inside page 1: no PRINT after CLS"}},
      {replaced("SPEED 4", "SPEED 4x"),
       {speed, "malformed number in \"SPEED 4x\" (expected \"SPEED <number>\")"}},
      {replaced("BITMAP 16,80", "BITMAP 12,80"),
       {bitmap, "BITMAP 12,80,2,2,1: x is not a multiple of 8 dots"}},
      {replaced("SPEED 4\r\n", "SPEED 4\n"), {speed + 7, "line feed without carriage return"}},
      {"%!PS-Adobe-3.0\r\n", {0, "page 1 starts with \"%!PS-Adobe-3.0\""}},
      {"", {0, "empty job"}},
  };
  for (const auto& [job, where] : cases) {
    WriteFile(dir.File("bad.bin"), job);
    r = Tool(READLABEL_EXE, {"--png", dir.File("bad"), dir.File("bad.bin")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(
        r.err.find(dir.File("bad.bin") + ":" + std::to_string(where.first) + ": " + where.second),
        std::string::npos)
        << where.second << "\n got " << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("bad-1.png"))) << "nothing drawn from a bad job";
}
