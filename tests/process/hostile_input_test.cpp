// Hostile and broken input: what the filter gives for streams, headers, PPDs
// and options that no well-behaved client sends.  Whatever comes in, the
// filter must end with status 0 or 1 (never a signal or a sanitizer report),
// write only CUPS log lines to standard error, write only whole
// label jobs that the strict reader takes, report success only when a label
// was written, and stay within a 2 GiB address space.
//
// Contents
//   Streams that are no raster, broken page headers, short streams
//   Page geometry: zero and narrow widths, row lengths, depths, huge claims
//   Many pages, out-of-range header fields
//   PPD choice names, PPDs that do not parse, stray options
//   Inputs the fuzzer found (fuzz/regressions/filter)
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "driver/filter.h"
#include "job_input.h"
#include "ppd_fixture.h"
#include "raster_stream.h"
#include "run.h"

namespace {

using Choices = std::map<std::string, std::string>;

constexpr size_t kAddressSpace = size_t{2} << 30;

size_t Count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = 0; (at = s.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

bool HasLine(const std::string& err, const std::string& line) {
  return err.find(line + "\n") != std::string::npos;
}

class HostileInputTest : public testing::Test {
 protected:
  // Runs the filter on stream with the PPD at ppdPath (a PPD without options
  // when empty), under the memory limit.
  RunResult Filter(const std::string& stream, const std::string& options = "",
                   const std::string& ppdPath = "",
                   const std::map<std::string, std::string>& env = {}) {
    TestPpd plain({});
    std::string raster = dir_.File("in" + std::to_string(++n_) + ".ras");
    WriteFile(raster, stream);
    RunOptions o;
    o.args = {FILTER_EXE, "1", "user", "title", "1", options, raster};
    o.env["PPD"] = ppdPath.empty() ? plain.path() : ppdPath;
    o.env["RASTERTOLABEL_DUMP"] = "";
    for (const auto& [name, value] : env) o.env[name] = value;
    LimitMemory(o);
    RunResult r = ::Run(o);
    ExpectSound(r);
    return r;
  }

  RunResult FilterWithChoices(const std::string& stream, const Choices& choices,
                              const std::string& options = "") {
    TestPpd ppd(choices);
    return Filter(stream, options, ppd.path());
  }

  // The address space of the child is limited.  Under AddressSanitizer,
  // which reserves terabytes of shadow memory, no single allocation may pass
  // the limit instead: malloc then returns null, as it would under the limit
  // (libcups asks for up to 4 GiB for the rows of a hostile compressed
  // header, and refuses the header when it cannot have them), and operator
  // new is a reported error.
  static void LimitMemory(RunOptions& o) {
    if (SanitizerBuild()) {
      const char* asan = getenv("ASAN_OPTIONS");
      o.env["ASAN_OPTIONS"] = std::string(asan ? asan : "") +
                              ":max_allocation_size_mb=2048:allocator_may_return_null=1";
    } else {
      o.address_space_limit = kAddressSpace;
    }
  }

  // The reader's summary of a label job: one line per setup command, one
  // "BITMAP x,y,w,h,1 <n> bytes, <k> ink dots" per bitmap, the PRINT line.
  std::string Summary(const std::string& job) {
    std::string file = dir_.File("out" + std::to_string(++n_) + ".job");
    WriteFile(file, job);
    RunOptions o;
    o.args = {READLABEL_EXE, file};
    RunResult r = ::Run(o);
    EXPECT_EQ(r.status, 0) << "the label job is not well formed: " << r.err;
    return r.out;
  }

  void ExpectSound(const RunResult& r) {
    EXPECT_TRUE(r.status == 0 || r.status == 1) << "status " << r.status << "\n" << r.err;
    // The sanitizer's own note of a refused allocation is no line of the filter.
    static const std::regex refused(
        "==[0-9]+==WARNING: AddressSanitizer failed to allocate [^\n]*\n");
    const std::string err = std::regex_replace(r.err, refused, "");
    static const std::regex other("(^|\n)(?!(ERROR|WARNING|INFO|DEBUG|ATTR|PAGE):)[^\n]*\n");
    std::smatch m;
    EXPECT_FALSE(std::regex_search(err, m, other)) << "stray log line: " << m.str();
    EXPECT_TRUE(err.empty() || err.back() == '\n') << "an unended log line";
    if (r.status == 0) {
      EXPECT_FALSE(r.out.empty()) << "success without a label";
    }
    if (!r.out.empty()) Summary(r.out);
  }

  TempDir dir_;
  int n_ = 0;
};

// One 1-bit page of width x height dots, every dot inked.
std::string InkedPage(unsigned width, unsigned height) {
  cups_page_header2_t h = PageHeader(width, height, 1);
  return RasterPage(h, 0xFF);
}

const char kNoHeader[] =
    "has no valid page header; the rest of the raster stream is ignored, job stopped";

}  // namespace

// --- Streams that are no raster, broken headers, short streams -------------

TEST_F(HostileInputTest, InputThatIsNoRasterStreamEndsTheJobWithoutAPage) {
  RunResult r = Filter("");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.find("not a raster stream"), std::string::npos) << "an empty job is no error";

  r = Filter("RaS");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(HasLine(r.err, "ERROR: The input is not a raster stream: it ends after 3 bytes"));

  r = Filter("XXXX" + InkedPage(8, 8));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(HasLine(r.err,
                      "ERROR: The input is not a raster stream: Unknown raster format "
                      "58585858!"))
      << r.err;

  r = Filter("%!PS-Adobe-3.0\n%%Pages: 1\nshowpage\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("ERROR: The input is not a raster stream: Unknown raster format"),
            std::string::npos);
}

TEST_F(HostileInputTest, ABrokenPageHeaderStopsTheJobAndKeepsThePagesBeforeIt) {
  const std::string page = InkedPage(16, 4);
  cups_page_header2_t zeroHeight = PageHeader(16, 4, 1);
  zeroHeight.cupsHeight = 0;
  cups_page_header2_t zeroRow = PageHeader(16, 4, 1);
  zeroRow.cupsBytesPerLine = 0;
  // 13 bytes are no whole number of 3-byte pixels.
  cups_page_header2_t partPixel = PageHeader(4, 4, 24);
  partPixel.cupsBytesPerLine = 13;
  struct Case {
    const char* what;
    std::string stream;
    size_t pages;  // written before the fault
  } cases[] = {
      {"a header cut short", RasterStream(page.substr(0, 100)), 0},
      {"a header cut short after a page", RasterStream(page + page.substr(0, 1000)), 1},
      {"a page of no rows", RasterStream(page + RasterPage(zeroHeight, "") + page), 1},
      {"rows of no bytes", RasterStream(RasterPage(zeroRow, "") + page), 0},
      {"a row length of a part pixel", RasterStream(RasterPage(partPixel, 0) + page), 0},
      {"garbage after the last page", RasterStream(page + page + "garbage\n"), 2},
      {"a second stream after the first", RasterStream(page) + RasterStream(page), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunResult r = Filter(c.stream);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Count(r.out, "PRINT 1,1\r\n"), c.pages);
    EXPECT_TRUE(HasLine(r.err, "ERROR: Page " + std::to_string(c.pages + 1) + " " + kNoHeader))
        << r.err;
  }
  // A clean end is no fault.
  RunResult r = Filter(RasterStream(page + page));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find(kNoHeader), std::string::npos);
}

TEST_F(HostileInputTest, AStreamCutInsideARowPrintsTheWholeRowsBeforeIt) {
  const std::string stream = RasterStream(InkedPage(16, 8));  // rows of 2 bytes
  RunResult r = Filter(stream.substr(0, 4 + sizeof(cups_page_header2_t) + 5 * 2 + 1));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(HasLine(r.err, "WARNING: Page 1: the raster stream ends after 5 of 8 rows")) << r.err;
  EXPECT_NE(Summary(r.out).find("BITMAP 0,0,2,5,1 10 bytes, 80 ink dots\n"), std::string::npos);
}

TEST_F(HostileInputTest, CompressedStreamsAreReadToTheirEndAndABrokenHeaderInThemIsFound) {
  // Three white-based grey pages, black stripes on white; page 2 is marked
  // in its MediaType so that its header can be found in the stream.
  std::vector<std::pair<cups_page_header2_t, std::string>> pages;
  for (int n = 1; n <= 3; ++n) {
    cups_page_header2_t h = PageHeader(24, 8, 8);
    h.cupsColorSpace = CUPS_CSPACE_SW;
    strcpy(h.MediaType, n == 2 ? "page-two" : "label");
    std::string rows(24 * 8, '\xFF');
    for (size_t i = 0; i < rows.size(); i += 3) rows[i] = '\0';
    pages.emplace_back(h, rows);
  }
  const std::pair<const char*, cups_mode_t> modes[] = {{"RaS2", CUPS_RASTER_WRITE_COMPRESSED},
                                                       {"PWG", CUPS_RASTER_WRITE_PWG},
                                                       {"Apple", CUPS_RASTER_WRITE_APPLE}};
  for (const auto& [name, mode] : modes) {
    SCOPED_TRACE(name);
    const std::string file = dir_.File(std::string(name) + ".ras");
    ASSERT_TRUE(WriteRasterWithLibcups(file, mode, pages));
    std::string stream = ReadFile(file);
    RunResult r = Filter(stream);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Count(r.out, "PRINT 1,1\r\n"), 3u);
    // Page 2 of no rows (Apple raster has headers of its own).
    const size_t marker = stream.find("page-two");
    if (mode == CUPS_RASTER_WRITE_APPLE) continue;
    ASSERT_NE(marker, std::string::npos);
    const size_t height = marker - offsetof(cups_page_header2_t, MediaType) +
                          offsetof(cups_page_header2_t, cupsHeight);
    stream.replace(height, 4, 4, '\0');
    r = Filter(stream);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Count(r.out, "PRINT 1,1\r\n"), 1u);
    EXPECT_TRUE(HasLine(r.err, std::string("ERROR: Page 2 ") + kNoHeader)) << r.err;
  }
}

// --- Page geometry -----------------------------------------------------------

TEST_F(HostileInputTest, APageOfNoWidthPrintsABlankLabel) {
  for (unsigned bits : {1u, 8u, 24u}) {
    SCOPED_TRACE(bits);
    cups_page_header2_t h = PageHeader(0, 4, bits);
    h.cupsBytesPerLine = bits / 8 + (bits == 1);  // one pixel of padding, all ink
    RunResult r = Filter(RasterStream(RasterPage(h, bits == 24 ? 0x00 : 0xFF)));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("BITMAP"), std::string::npos);
    EXPECT_EQ(Count(r.out, "PRINT 1,1\r\n"), 1u);
  }
}

TEST_F(HostileInputTest, PagesOneToSevenDotsWidePrintTheirDotsAtEveryDepth) {
  // One stream per depth, a page per width.  Three rows; in the middle row
  // the first and the last dot are black.
  for (unsigned bits : {1u, 8u, 24u}) {
    SCOPED_TRACE(std::to_string(bits) + " bits");
    std::string pages, want;
    for (unsigned width = 1; width <= 7; ++width) {
      cups_page_header2_t h = PageHeader(width, 3, bits);
      const size_t bpl = h.cupsBytesPerLine;
      std::string rows(bpl * 3, bits == 24 ? '\xFF' : '\0');  // white
      auto ink = [&](unsigned x) {
        if (bits == 1) {
          rows[bpl + x / 8] = static_cast<char>(rows[bpl + x / 8] | (0x80 >> x % 8));
        } else if (bits == 8) {
          rows[bpl + x] = '\xFF';
        } else {
          rows.replace(bpl + 3 * x, 3, 3, '\0');
        }
      };
      ink(0);
      ink(width - 1);
      pages += RasterPage(h, rows);
      want += std::string("BITMAP 0,1,1,1,1 1 bytes, ") + (width == 1 ? "1" : "2") + " ink dots\n";
    }
    RunResult r = Filter(RasterStream(pages));
    EXPECT_EQ(r.status, 0) << r.err;
    std::string bitmaps;
    std::regex bitmap("BITMAP [^\n]*\n");
    const std::string summary = Summary(r.out);
    for (auto it = std::sregex_iterator(summary.begin(), summary.end(), bitmap);
         it != std::sregex_iterator(); ++it) {
      bitmaps += it->str();
    }
    EXPECT_EQ(bitmaps, want);
  }
}

TEST_F(HostileInputTest, RowLengthsThatDisagreeWithWidthAndDepth) {
  // Too short for the width: the job stops before the page.
  for (unsigned bits : {1u, 8u, 24u}) {
    SCOPED_TRACE(bits);
    cups_page_header2_t h = PageHeader(16, 2, bits);
    h.cupsBytesPerLine = bits == 1 ? 1 : (bits == 8 ? 15 : 45);
    RunResult r = Filter(RasterStream(RasterPage(h, 0x00)));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(HasLine(r.err, "ERROR: Page 1: cupsBytesPerLine " +
                                   std::to_string(h.cupsBytesPerLine) + " cannot hold 16 dots of " +
                                   std::to_string(bits) + " bits, job stopped"))
        << r.err;
  }
  // Longer than the width needs: the bytes beyond the width are ignored,
  // however much ink they hold.  The picture is one black dot, at dot 0 of
  // row 0 of 10 dots.
  for (unsigned bits : {1u, 8u, 24u}) {
    SCOPED_TRACE(bits);
    cups_page_header2_t h = PageHeader(10, 2, bits);
    const size_t need = h.cupsBytesPerLine;
    h.cupsBytesPerLine += 6;
    const char ink = bits == 24 ? '\0' : '\xFF', white = bits == 24 ? '\xFF' : '\0';
    std::string row = std::string(need, white) + std::string(6, ink);
    if (bits == 1) row[1] = '\x3F';  // the padding bits of the last used byte too
    std::string first = row;
    if (bits == 1) {
      first[0] = '\x80';
    } else {
      first.replace(0, bits / 8, bits / 8, ink);
    }
    RunResult r = Filter(RasterStream(RasterPage(h, first + row)));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(Summary(r.out).find("BITMAP 0,0,1,1,1 1 bytes, 1 ink dots\n"), std::string::npos)
        << Summary(r.out);
  }
}

TEST_F(HostileInputTest, DepthsThatCannotBePrintedAreSkippedInStep) {
  for (unsigned bits : {2u, 4u, 16u, 32u}) {
    SCOPED_TRACE(bits);
    cups_page_header2_t h = PageHeader(16, 4, bits);
    h.cupsBitsPerColor = bits == 32 ? 8 : bits;
    if (bits == 32) {
      h.cupsColorSpace = CUPS_CSPACE_CMYK;
      h.cupsNumColors = 4;
    }
    const std::string skipped = RasterPage(h, 0xA5);
    const std::string line = "ERROR: Page 1 has " + std::to_string(bits) +
                             " bits per pixel; only 1, 8 and 24 can be printed, page skipped";
    RunResult r = Filter(RasterStream(skipped));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(HasLine(r.err, line)) << r.err;
    // Its rows are passed over: the page after it is read in step.
    r = Filter(RasterStream(skipped + InkedPage(8, 2)));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(Summary(r.out).find("BITMAP 0,0,1,2,1 2 bytes, 16 ink dots\n"), std::string::npos);
  }
  // Passing over a page means reading it whole, which the page limit bounds
  // too (from a compressed stream a few bytes can claim gigabytes of rows).
  cups_page_header2_t huge = PageHeader(80000, 1000000, 2);
  RunResult r = Filter(RasterStream(InkedPage(8, 1) + RasterPage(huge, "")));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Count(r.out, "PRINT 1,1\r\n"), 1u);
  EXPECT_TRUE(HasLine(r.err,
                      "ERROR: Page 2 has 2 bits per pixel, which cannot be printed, and "
                      "20000000000 bytes, more than the page limit of 1073741824 bytes "
                      "(RASTERTOLABEL_PAGE_LIMIT) to pass over, job stopped"))
      << r.err;
}

TEST_F(HostileInputTest, HugePageClaimsCostOnlyWhatArrives) {
  // Within the page limit: a million rows of 8000 dots at 1 bit (10^9 bytes)
  // and 10000 x 10000 grey dots (600 MB of working image), two rows sent.
  struct Case {
    unsigned width, height, bits;
  } within[] = {{8000, 1000000, 1}, {10000, 10000, 8}};
  for (const Case& c : within) {
    SCOPED_TRACE(c.bits);
    cups_page_header2_t h = PageHeader(c.width, c.height, c.bits);
    std::string rows(2 * size_t{h.cupsBytesPerLine}, '\xFF');
    RunResult r = Filter(RasterStream(RasterPage(h, rows)));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(HasLine(r.err, "WARNING: Page 1: the raster stream ends after 2 of " +
                                   std::to_string(c.height) + " rows"));
    EXPECT_NE(Summary(r.out).find(",2,1 "), std::string::npos) << "a band of the two rows";
  }
  // Beyond it: refused before anything is taken, the pages before it kept.
  cups_page_header2_t h = PageHeader(80000, 1000000, 24);
  RunResult r = Filter(RasterStream(InkedPage(8, 1) + RasterPage(h, "")));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Count(r.out, "PRINT 1,1\r\n"), 1u);
  EXPECT_TRUE(HasLine(r.err,
                      "ERROR: Page 2 needs 480000000000 bytes, more than the page limit of "
                      "1073741824 bytes (RASTERTOLABEL_PAGE_LIMIT), job stopped"))
      << r.err;
  // The limit is the environment's: 64 rows of 1000 bytes need 64000.
  h = PageHeader(8000, 64, 1);
  r = Filter(RasterStream(RasterPage(h, 0)), "", "", {{"RASTERTOLABEL_PAGE_LIMIT", "63999"}});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(HasLine(r.err,
                      "ERROR: Page 1 needs 64000 bytes, more than the page limit of 63999 "
                      "bytes (RASTERTOLABEL_PAGE_LIMIT), job stopped"));
  // Every field at its largest: libcups refuses the header.
  h = PageHeader(8, 8, 8);
  h.cupsWidth = h.cupsHeight = h.cupsBytesPerLine = 0xFFFFFFFF;
  r = Filter(RasterStream(RasterPage(h, "")));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(HasLine(r.err, std::string("ERROR: Page 1 ") + kNoHeader));
  // Claims whose product passes 2^64 do not wrap round below the limit
  // (libcups 2.4 refuses rows of 2^31 bytes before they get here).
  EXPECT_EQ(PageNeedBytes(24, 8, 4294910535u, 2147512029u), UINT64_MAX);
  EXPECT_EQ(PageNeedBytes(8, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu), UINT64_MAX);
  EXPECT_EQ(PageNeedBytes(1, 8, 0xFFFFFFFFu, uint64_t{1} << 40), UINT64_MAX);
}

TEST_F(HostileInputTest, APageTheMemoryCannotHoldStopsTheJob) {
  if (SanitizerBuild()) GTEST_SKIP() << "no address space limit under AddressSanitizer";
  // 6000 x 6000 grey dots: within the page limit, but the working image and
  // the adaptive snapshot (over 300 MB) do not fit into 256 MiB.
  cups_page_header2_t h = PageHeader(6000, 6000, 8);
  TestPpd ppd({});
  std::string raster = dir_.File("big.ras");
  WriteFile(raster, RasterStream(InkedPage(8, 1) + RasterPage(h, 0x80)));
  RunOptions o;
  o.args = {FILTER_EXE, "1", "user", "title", "1", "", raster};
  o.env["PPD"] = ppd.path();
  o.env["RASTERTOLABEL_DUMP"] = "";
  o.address_space_limit = size_t{256} << 20;
  RunResult r = ::Run(o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Count(r.out, "PRINT 1,1\r\n"), 1u) << "the page before it stays written";
  EXPECT_TRUE(HasLine(r.err, "ERROR: Page 2: not enough memory, job stopped")) << r.err;
}

// --- Many pages, out-of-range header fields ----------------------------------

TEST_F(HostileInputTest, AThousandOneRowPagesAreAThousandLabels) {
  std::string pages;
  for (int i = 0; i < 1000; ++i) pages += InkedPage(8, 1);
  RunResult r = Filter(RasterStream(pages));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Count(Summary(r.out), "BITMAP 0,0,1,1,1 1 bytes, 8 ink dots\nPRINT 1,1\n"), 1000u);
}

TEST_F(HostileInputTest, HeaderFieldsOutOfTheirRangeAreLoggedAsSent) {
  cups_page_header2_t h = PageHeader(8, 2, 1);
  // Values no enumerator of their fields has.
  std::memset(&h.Collate, 0x08, sizeof h.Collate);
  std::memset(&h.cupsColorSpace, 0x7F, sizeof h.cupsColorSpace);
  std::memset(&h.Orientation, 0x01, sizeof h.Orientation);
  RunResult r = Filter(RasterStream(RasterPage(h, 0xFF)));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(HasLine(r.err, "DEBUG: Collate = 134744072"));
  EXPECT_TRUE(HasLine(r.err, "DEBUG: cupsColorSpace = 2139062143"));
  EXPECT_TRUE(HasLine(r.err, "DEBUG: ProcessData nInverse=0 nDirection=1")) << "turned";

  // Copies: nine digits are a count, more are none; 0 is no count given.
  for (unsigned copies : {0u, 999999999u, 1000000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(copies);
    h = PageHeader(8, 1, 1);
    h.NumCopies = copies;
    r = Filter(RasterStream(RasterPage(h, 0xFF)));
    EXPECT_EQ(r.status, 0);
    if (copies == 0) {
      EXPECT_NE(r.out.find("\r\nPRINT 1,1\r\n"), std::string::npos);
      EXPECT_TRUE(HasLine(r.err, "DEBUG: NumCopies 0 taken as 1 copy"));
    } else if (copies <= 999999999u) {
      EXPECT_NE(r.out.find("\r\nPRINT 1," + std::to_string(copies) + "\r\n"), std::string::npos);
    } else {
      EXPECT_NE(r.out.find("\r\nPRINT 1,1\r\n"), std::string::npos);
      EXPECT_TRUE(HasLine(r.err, "WARNING: NumCopies " + std::to_string(copies) +
                                     " is more than the printer can count (999999999), 1 copy "
                                     "printed"));
    }
  }
}

// --- PPD choice names, PPDs that do not parse, stray options ----------------

TEST_F(HostileInputTest, ChoiceNamesOfTheLongestLengthGoIntoCommandsWhole) {
  const std::string forty(40, '7');
  RunResult r =
      FilterWithChoices(RasterStream(InkedPage(8, 1)), {{"PaperType", "LabelGaps"},
                                                        {"GapsHeight", forty},
                                                        {"FeedPaper", "-" + std::string(39, '1')},
                                                        {"PrintSpeed", std::string(38, '2') + ".5"},
                                                        {"Darkness", forty},
                                                        {"PostAction", "CutEvery"},
                                                        {"CutEveryLabels", forty}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("GAP " + forty + " mm,0 mm\r\n"), std::string::npos);
  EXPECT_NE(r.out.find("OFFSET -" + std::string(39, '1') + " mm\r\n"), std::string::npos);
  EXPECT_NE(r.out.find("SPEED " + std::string(38, '2') + ".5\r\n"), std::string::npos);
  EXPECT_NE(r.out.find("DENSITY " + forty + "\r\n"), std::string::npos);
  // The cutter's count field holds nine characters.
  EXPECT_EQ(r.out.find("SET CUTTER"), std::string::npos);
  EXPECT_TRUE(HasLine(r.err, "WARNING: CutEveryLabels choice \"" + forty +
                                 "\" is longer than 9 characters, ignored"));

  // 41 characters are no PPD keyword at all.
  TestPpd tooLong(Choices{{"Darkness", std::string(41, '7')}});
  r = Filter(RasterStream(InkedPage(8, 1)), "", tooLong.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(std::regex_search(r.err, std::regex("^ERROR: Illegal option keyword string on "
                                                  "line [0-9]+\\.\n$")))
      << r.err;
}

TEST_F(HostileInputTest, ChoiceNamesThatAreNoPlainNumberStayOutOfTheCommands) {
  // Each keyword with the command its number would go into (a gap of 2 mm
  // is what "LabelGaps" sends without a "GapsHeight" number).
  const std::pair<const char*, const char*> keywords[] = {{"GapsHeight", "GAP 2 mm,0 mm\r\n"},
                                                          {"FeedPaper", "OFFSET"},
                                                          {"PrintSpeed", "SPEED"},
                                                          {"Darkness", "DENSITY"},
                                                          {"CutEveryLabels", "SET CUTTER"}};
  // Names a PPD can hold as choice names (a PPD line cannot hold a line end).
  const char* const names[] = {"8,9", "8;9", "1e3", "0x10", "12abc", "1.2.3", "--5", ".",
                               "-",   "5%d", "3*",  "+-1",  "9'",    "1_0",   "4<5", "7=8"};
  const std::string page = RasterStream(InkedPage(8, 1));
  size_t i = 0;
  for (const char* name : names) {
    const auto [keyword, command] = keywords[i++ % std::size(keywords)];
    SCOPED_TRACE(std::string(keyword) + " " + name);
    RunResult r = FilterWithChoices(
        page, {{"PaperType", "LabelGaps"}, {"PostAction", "CutEvery"}, {keyword, name}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(HasLine(r.err, "WARNING: " + std::string(keyword) + " choice \"" + name +
                                   "\" is not a plain number, ignored"))
        << r.err;
    EXPECT_EQ(r.out.find(name), std::string::npos);
    if (std::string(keyword) == "GapsHeight") {
      EXPECT_NE(r.out.find(command), std::string::npos);
    } else {
      EXPECT_EQ(r.out.find(command), std::string::npos);
    }
  }
  // The numbers the printer takes.
  RunResult r = FilterWithChoices(page, {{"Darkness", "-5"}, {"PrintSpeed", "2.5"}});
  EXPECT_NE(r.out.find("SPEED 2.5\r\nDENSITY -5\r\nCLS\r\n"), std::string::npos);
  // A custom value reaches the filter as the choice "Custom", no number.
  std::string custom = dir_.File("custom.ppd");
  {
    TestPpd base(Choices{{"Darkness", "8"}});
    WriteFile(custom, ReadFile(base.path()) +
                          "*CustomDarkness True: \"\"\n*ParamCustomDarkness Value: 1 int 0 30\n");
  }
  r = Filter(page, "Darkness=Custom.12", custom);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(HasLine(r.err, "WARNING: Darkness choice \"Custom\" is not a plain number, ignored"));
  EXPECT_EQ(r.out.find("DENSITY"), std::string::npos);
}

TEST_F(HostileInputTest, APpdThatDoesNotParseStopsTheJobBeforeAnyPage) {
  const std::string page = RasterStream(InkedPage(8, 1));
  const std::string header = "*PPD-Adobe: \"4.3\"\n";
  const std::string ppds[] = {
      "",
      std::string(4096, '\0'),
      "*PPD-Adobe: \"4.3\n",  // a quote that never ends
      "not a PPD at all\n",
      header + "*OpenGroup: A\n*OpenGroup: B\n",
      header + "*Darkness 8: \"\n" + std::string(300000, 'x'),  // a line of 300000 bytes
      header + "*" + std::string(300, 'K') + ": x\n",
  };
  int i = 0;
  for (const std::string& text : ppds) {
    SCOPED_TRACE(i);
    std::string path = dir_.File("bad" + std::to_string(i++) + ".ppd");
    WriteFile(path, text);
    RunResult r = Filter(page, "", path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(std::regex_match(r.err, std::regex("ERROR: [^\n]+ on line [0-9]+\\.\n"))) << r.err;
  }
}

TEST_F(HostileInputTest, OptionsThatNameNoPpdChoiceLeaveTheDefaults) {
  TestPpd ppd(Choices{{"Darkness", "8"}, {"MirrorImage", "False"}});
  const std::string page = RasterStream(InkedPage(12, 3));
  RunResult plain = Filter(page, "", ppd.path());
  ASSERT_EQ(plain.status, 0);
  for (const char* options :
       {"Nonsense=1", "Darkness=99", "Darkness", "=", "=8 Darkness= ==", "a=b=c \"x y\" z='q'",
        "MirrorImage=Maybe Origin=Rotation45", "Darkness=\"8\r\nPRINT 1,9\"", "Darkness={8 9}"}) {
    SCOPED_TRACE(options);
    RunResult r = Filter(page, options, ppd.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, plain.out);
  }
  // Thousands of options.
  std::string many;
  for (int i = 0; i < 5000; ++i) many += "opt" + std::to_string(i) + "=" + std::to_string(i) + " ";
  RunResult r = Filter(page, many, ppd.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, plain.out);
}

// --- Inputs the fuzzer found -------------------------------------------------

// Each file is a fuzzer input: two option bytes and a raster stream
// (job_input.h), run as the fuzzer ran it, with its page limit.  Under the
// sanitizer build this replays the faults that were fixed.
TEST_F(HostileInputTest, InputsTheFuzzerFoundFinishSoundly) {
  std::string ppd = dir_.File("fuzz.ppd");
  WriteFile(ppd, kJobInputPpd);
  const std::filesystem::path dir = std::filesystem::path(SOURCE_DIR) / "fuzz/regressions/filter";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    SCOPED_TRACE(entry.path().filename().string());
    const std::string bytes = ReadFile(entry.path().string());
    const JobInput job =
        SplitJobInput({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    const auto start = std::chrono::steady_clock::now();
    Filter(std::string(job.raster.begin(), job.raster.end()), job.options, ppd,
           {{"RASTERTOLABEL_PAGE_LIMIT", "1048576"}});
    // Each is a few kilobytes with pages of at most 1 MiB: no input may keep
    // the filter busy (one claimed petabytes of rows to pass over).
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ++files;
  }
  EXPECT_GT(files, 0);
}
