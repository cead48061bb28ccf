// The benchmark's floors and runner (bench/): bench/run.sh divides the filter's time by the
// floors' and trusts the runner's figures, so each must do the work it claims.
//   - the dump floor writes the very file the filter dumps; the plain floor writes none
//   - every floor turns each page into one bitmap, thresholded at the middle, that the label
//     reader accepts
//   - the runner feeds standard input through a pipe, drains both output pipes however much
//     arrives, and reports what the child did
#if defined(FLOOR_EXE) && defined(FLOOR_DUMP_EXE) && defined(RUNNER_EXE)

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "run.h"

namespace {

struct Grey {
  int w, h;
  std::vector<unsigned char> v;  // 0 black .. 255 white
};

// Every level from black to white, in a different order on each row.
Grey Ramp(int w, int h) {
  Grey g{w, h, std::vector<unsigned char>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) g.v[static_cast<size_t>(y) * w + x] = (x * 37 + y * 101) % 256;
  }
  return g;
}

std::string Pgm(const Grey& g) {
  return "P5\n" + std::to_string(g.w) + " " + std::to_string(g.h) + "\n255\n" +
         std::string(g.v.begin(), g.v.end());
}

class FloorTest : public testing::Test {
 protected:
  // A raster of the given pictures, one page each.
  std::string Raster(const std::vector<std::string>& options, const std::vector<Grey>& pages) {
    RunOptions o;
    std::string out = Fresh(".ras");
    o.args = {MAKERASTER_EXE, "-o", out};
    o.args.insert(o.args.end(), options.begin(), options.end());
    for (const Grey& g : pages) {
      o.args.push_back(Fresh(".pgm"));
      WriteFile(o.args.back(), Pgm(g));
    }
    EXPECT_EQ(::Run(o).status, 0);
    return out;
  }
  // A file name not used before in this test's folder.
  std::string Fresh(const char* extension) {
    std::string name = std::to_string(++n_);
    name += extension;
    return dir_.File(name);
  }
  RunResult Program(const char* exe, const std::string& raster, const std::string& dump) {
    RunOptions o;
    o.args = {exe, "1", "bench", "bench", "1", "", raster};
    o.env["PPD"] = std::string(SOURCE_DIR) + "/ppd/label203.ppd";
    o.env["RASTERTOLABEL_DUMP"] = dump;
    return ::Run(o);
  }
  TempDir dir_;
  int n_ = 0;
};

// The bitmaps of a label job, in the order written: x, y, bytes a row, rows, data.
struct Band {
  unsigned x, y, width, height;
  std::string data;
};

std::vector<Band> Bands(const std::string& job) {
  std::vector<Band> bands;
  for (size_t at = job.find("BITMAP "); at != std::string::npos; at = job.find("BITMAP ", at)) {
    Band b{};
    int used = 0;
    if (sscanf(job.c_str() + at, "BITMAP %u,%u,%u,%u,1,%n", &b.x, &b.y, &b.width, &b.height,
               &used) != 4 ||
        used == 0) {
      ADD_FAILURE() << "malformed BITMAP at " << at;
      break;
    }
    at += static_cast<size_t>(used);
    b.data = job.substr(at, static_cast<size_t>(b.width) * b.height);
    at += b.data.size();
    bands.push_back(b);
  }
  return bands;
}

TEST_F(FloorTest, TheDumpFloorWritesTheFilterDumpByteForByte) {
  // 101 dots leave padding in every working image row; white-based grey is turned the other way.
  for (const char* space : {"k", "w"}) {
    SCOPED_TRACE(space);
    const std::string ras = Raster({"-b", "8", "-c", space}, {Ramp(101, 7)});
    const std::string filterDump = Fresh(".bmp");
    const std::string floorDump = Fresh(".bmp");
    ASSERT_EQ(Program(FILTER_EXE, ras, filterDump).status, 0);
    ASSERT_EQ(Program(FLOOR_DUMP_EXE, ras, floorDump).status, 0);
    const std::string dump = ReadFile(filterDump);
    EXPECT_EQ(dump.size(), 54u + 304 * 7);
    EXPECT_EQ(ReadFile(floorDump), dump);
  }
  const std::string plain = Fresh(".bmp");
  ASSERT_EQ(Program(FLOOR_EXE, Raster({"-b", "8"}, {Ramp(16, 2)}), plain).status, 0);
  EXPECT_NE(access(plain.c_str(), F_OK), 0) << "the plain floor dumped the page";
}

TEST_F(FloorTest, EveryPageIsOneBitmapThresholdedAtTheMiddle) {
  const std::vector<Grey> pages = {Ramp(37, 5), Ramp(20, 3)};
  struct Case {
    const char* exe;
    std::vector<std::string> options;
  } cases[] = {
      {FLOOR_EXE, {"-b", "8"}},      {FLOOR_EXE, {"-b", "8", "-c", "w"}},
      {FLOOR_EXE, {"-b", "1"}},      {FLOOR_EXE, {"-b", "24"}},
      {FLOOR_DUMP_EXE, {"-b", "8"}}, {FLOOR_DUMP_EXE, {"-b", "24"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.exe << " " << c.options.back());
    RunResult r = Program(c.exe, Raster(c.options, pages), dir_.File("dump.bmp"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<Band> bands = Bands(r.out);
    ASSERT_EQ(bands.size(), pages.size());
    size_t prints = 0;
    for (size_t at = r.out.find("PRINT 1,1\r\n"); at != std::string::npos;
         at = r.out.find("PRINT 1,1\r\n", at + 1)) {
      ++prints;
    }
    EXPECT_EQ(prints, pages.size());
    for (size_t p = 0; p < pages.size(); ++p) {
      const Grey& g = pages[p];
      const Band& b = bands[p];
      ASSERT_EQ(b.x, 0u);
      ASSERT_EQ(b.y, 0u);
      ASSERT_EQ(b.width, (g.w + 7u) / 8);
      ASSERT_EQ(b.height, static_cast<unsigned>(g.h));
      for (int y = 0; y < g.h; ++y) {
        for (int x = 0; x < static_cast<int>(b.width) * 8; ++x) {
          const bool ink = x < g.w && g.v[static_cast<size_t>(y) * g.w + x] < 128;
          const bool bit = (b.data[y * b.width + x / 8] >> (7 - x % 8)) & 1;
          ASSERT_EQ(bit, !ink) << "dot " << x << "," << y;
        }
      }
    }
  }
}

// The runner's report: wall_ms user_ms sys_ms maxrss_kib status out_bytes err_bytes.
struct Report {
  double wall = -1, user = -1, sys = -1;
  long rss = -1, status = -1, out = -1, err = -1;
};

Report RunnerReport(const std::vector<std::string>& args) {
  RunOptions o;
  o.args = {RUNNER_EXE};
  o.args.insert(o.args.end(), args.begin(), args.end());
  RunResult r = ::Run(o);
  EXPECT_EQ(r.status, 0) << r.err;
  Report rep;
  std::istringstream(r.out) >> rep.wall >> rep.user >> rep.sys >> rep.rss >> rep.status >>
      rep.out >> rep.err;
  return rep;
}

TEST(Runner, FeedsAndDrainsThroughPipesAndReportsTheChild) {
  TempDir dir;
  // More than a pipe holds, in and out, so that a runner that fed or drained out of turn would
  // hang here.
  std::string input(3 << 20, 'x');
  for (size_t i = 0; i < input.size(); i += 4099) input[i] = static_cast<char>(i);
  WriteFile(dir.File("in"), input);
  Report echo = RunnerReport({"--in", dir.File("in"), "--out", dir.File("out"), "--", "/bin/sh",
                              "-c", "cat; head -c 200000 /dev/zero >&2"});
  EXPECT_EQ(echo.status, 0);
  EXPECT_EQ(echo.out, static_cast<long>(input.size()));
  EXPECT_EQ(echo.err, 200000);
  EXPECT_EQ(ReadFile(dir.File("out")), input);
  EXPECT_GT(echo.wall, 0);
  EXPECT_GT(echo.rss, 0);

  // A child that reads nothing and dies of a signal: the rest of the input is dropped.
  Report killed = RunnerReport({"--in", dir.File("in"), "--", "/bin/sh", "-c", "kill -9 $$"});
  EXPECT_EQ(killed.status, 128 + 9);
  EXPECT_EQ(killed.out, 0);

  Report failed = RunnerReport({"--", "/bin/sh", "-c", "exit 3"});
  EXPECT_EQ(failed.status, 3);
}

}  // namespace

#endif
