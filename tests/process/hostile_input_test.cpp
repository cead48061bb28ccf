// Hostile and broken input: streams, headers, PPDs and options that no well-behaved client
// sends.  Whatever comes in, the filter ends with status 0 or 1 (never a signal or a sanitizer
// report), writes CUPS log lines only, writes only whole label jobs that the strict reader
// takes, reports success only when a label was written, and stays within 2 GiB of address space.
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

using Options = std::map<std::string, std::string>;

// One 1-bit page of width x height dots, every dot inked.
std::string InkedPage(unsigned width, unsigned height) {
  return RasterPage(PageHeader(width, height, 1), 0xFF);
}

const char kNoHeader[] =
    "has no valid page header; the rest of the raster stream is ignored, job stopped";

// What a case must give.
struct Want {
  int status;
  size_t labels;
  std::vector<std::string> lines;
};

class HostileInputTest : public testing::Test {
 protected:
  RunResult Filter(const std::string& stream, const std::string& options = "",
                   const std::string& ppdPath = "", const Options& env = {}) {
    TestPpd plain({});
    const std::string raster = dir_.File("in" + std::to_string(++n_) + ".ras");
    WriteFile(raster, stream);
    RunOptions o;
    o.args = {FILTER_EXE, "1", "user", "title", "1", options, raster};
    o.env["PPD"] = ppdPath.empty() ? plain.path() : ppdPath;
    o.env["RASTERTOLABEL_DUMP"] = "";
    for (const auto& [name, value] : env) o.env[name] = value;
    // Under AddressSanitizer, which reserves terabytes of shadow memory, no single allocation
    // may pass the limit instead: malloc then returns null, as it would under the limit.
    if (SanitizerBuild()) {
      const char* asan = getenv("ASAN_OPTIONS");
      o.env["ASAN_OPTIONS"] = std::string(asan ? asan : "") +
                              ":max_allocation_size_mb=2048:allocator_may_return_null=1";
    } else {
      o.address_space_limit = size_t{2} << 30;
    }
    RunResult r = ::Run(o);
    EXPECT_TRUE(r.status == 0 || r.status == 1) << "status " << r.status << "\n" << r.err;
    static const std::regex refused(
        "==[0-9]+==WARNING: AddressSanitizer failed to allocate [^\n]*\n");
    static const std::regex other("(^|\n)(?!(ERROR|WARNING|INFO|DEBUG|ATTR|PAGE):)[^\n]*\n");
    std::smatch m;
    const std::string err = std::regex_replace(r.err, refused, "");
    EXPECT_FALSE(std::regex_search(err, m, other)) << "stray log line: " << m.str();
    EXPECT_TRUE(err.empty() || err.back() == '\n') << "an unended log line";
    EXPECT_TRUE(r.status != 0 || !r.out.empty()) << "success without a label";
    if (!r.out.empty()) Summary(r.out);
    return r;
  }
  RunResult FilterWithChoices(const std::string& stream, const Options& choices,
                              const std::string& options = "") {
    TestPpd ppd(choices);
    return Filter(stream, options, ppd.path());
  }
  // The exit status, the labels written, and lines the log must hold.
  template <typename... Lines>
  void Expect(const RunResult& r, int status, size_t labels, const Lines&... lines) {
    Expect(r, Want{status, labels, {std::string(lines)...}});
  }
  void Expect(const RunResult& r, const Want& want) {
    EXPECT_EQ(r.status, want.status) << r.err;
    EXPECT_EQ(Count(r.out, "\r\nPRINT 1,"), want.labels);
    for (const std::string& line : want.lines)
      EXPECT_NE(r.err.find(line + "\n"), std::string::npos) << line << "\n" << r.err;
  }
  // The reader's summary: setup lines, "BITMAP x,y,w,h,1 <n> bytes, <k> ink dots", PRINT.
  static std::string Summary(const std::string& job) {
    std::string fault, all;
    for (const std::string& label : ReadLabels(job, &fault)) all += label;
    EXPECT_EQ(fault, "") << "the label job is not well formed";
    return all;
  }
  TempDir dir_;
  int n_ = 0;
};

}  // namespace

TEST_F(HostileInputTest, StreamsAndHeadersThatCannotBeFollowed) {
  const std::string page = InkedPage(16, 4);
  cups_page_header2_t zeroHeight = PageHeader(16, 4, 1), zeroRow = zeroHeight;
  zeroHeight.cupsHeight = 0;
  zeroRow.cupsBytesPerLine = 0;
  cups_page_header2_t partPixel = PageHeader(4, 4, 24), largest = PageHeader(8, 8, 8);
  partPixel.cupsBytesPerLine = 13;  // no whole number of 3-byte pixels
  largest.cupsWidth = largest.cupsHeight = largest.cupsBytesPerLine = 0xFFFFFFFF;
  auto noHeader = [](int page) { return "ERROR: Page " + std::to_string(page) + " " + kNoHeader; };
  const std::pair<std::string, Want> cases[] = {
      {"", {1, 0, {}}},  // an empty job is no error
      {"RaS", {1, 0, {"ERROR: The input is not a raster stream: it ends after 3 bytes"}}},
      {"XXXX" + page,
       {1, 0, {"ERROR: The input is not a raster stream: Unknown raster format 58585858!"}}},
      {RasterStream(page.substr(0, 100)), {1, 0, {noHeader(1)}}},
      {RasterStream(page + page.substr(0, 1000)), {1, 1, {noHeader(2)}}},
      {RasterStream(page + RasterPage(zeroHeight, "") + page), {1, 1, {noHeader(2)}}},
      {RasterStream(RasterPage(zeroRow, "") + page), {1, 0, {noHeader(1)}}},
      {RasterStream(RasterPage(partPixel, 0) + page), {1, 0, {noHeader(1)}}},
      {RasterStream(page + page + "garbage\n"), {1, 2, {noHeader(3)}}},
      {RasterStream(page) + RasterStream(page), {1, 1, {noHeader(2)}}},
      {RasterStream(RasterPage(largest, "")), {1, 0, {noHeader(1)}}},
      {RasterStream(page + page), {0, 2, {}}},
      // Cut inside a row: the whole rows before it print.
      {RasterStream(page).substr(0, 4 + sizeof(cups_page_header2_t) + 5),
       {0, 1, {"WARNING: Page 1: the raster stream ends after 2 of 4 rows"}}},
  };
  for (const auto& [stream, want] : cases) {
    SCOPED_TRACE(testing::Message() << "case of " << stream.size() << " bytes");
    const RunResult r = Filter(stream);
    Expect(r, want);
    EXPECT_TRUE(!want.lines.empty() || r.err.find("ERROR") == std::string::npos) << r.err;
  }
}

TEST_F(HostileInputTest, CompressedStreamsAreReadToTheirEndAndABrokenHeaderInThemIsFound) {
  std::vector<std::pair<cups_page_header2_t, std::string>> pages;
  for (int n = 1; n <= 3; ++n) {  // white-based grey stripes; page 2 marked to be found
    cups_page_header2_t h = PageHeader(24, 8, 8);
    h.cupsColorSpace = CUPS_CSPACE_SW;
    strcpy(h.MediaType, n == 2 ? "page-two" : "label");
    std::string rows(24 * 8, '\xFF');
    for (size_t i = 0; i < rows.size(); i += 3) rows[i] = '\0';
    pages.emplace_back(h, rows);
  }
  for (cups_mode_t mode :
       {CUPS_RASTER_WRITE_COMPRESSED, CUPS_RASTER_WRITE_PWG, CUPS_RASTER_WRITE_APPLE}) {
    SCOPED_TRACE(mode);
    ASSERT_TRUE(WriteRasterWithLibcups(dir_.File("c.ras"), mode, pages));
    std::string stream = ReadFile(dir_.File("c.ras"));
    Expect(Filter(stream), 0, 3);
    if (mode == CUPS_RASTER_WRITE_APPLE) continue;  // Apple raster has headers of its own
    const size_t marker = stream.find("page-two");
    ASSERT_NE(marker, std::string::npos);
    stream.replace(marker - offsetof(cups_page_header2_t, MediaType) +
                       offsetof(cups_page_header2_t, cupsHeight),
                   4, 4, '\0');
    Expect(Filter(stream), 1, 1, std::string("ERROR: Page 2 ") + kNoHeader);
  }
}

TEST_F(HostileInputTest, PageGeometryOfEveryDepth) {
  for (unsigned bits : {1u, 8u, 24u}) {
    SCOPED_TRACE(std::to_string(bits) + " bits");
    const char ink = bits == 24 ? '\0' : '\xFF', white = bits == 24 ? '\xFF' : '\0';
    // No width: a blank label (the one pixel of padding is all ink).
    cups_page_header2_t none = PageHeader(0, 4, bits);
    none.cupsBytesPerLine = bits / 8 + (bits == 1);
    RunResult r = Filter(RasterStream(RasterPage(none, static_cast<unsigned char>(ink))));
    Expect(r, 0, 1);
    EXPECT_EQ(r.out.find("BITMAP"), std::string::npos);
    // Rows too short for the width: the job stops before the page.
    cups_page_header2_t shortRows = PageHeader(16, 2, bits);
    shortRows.cupsBytesPerLine = bits == 1 ? 1 : (bits == 8 ? 15 : 45);
    Expect(Filter(RasterStream(RasterPage(shortRows, 0))), 1, 0,
           "ERROR: Page 1: cupsBytesPerLine " + std::to_string(shortRows.cupsBytesPerLine) +
               " cannot hold 16 dots of " + std::to_string(bits) + " bits, job stopped");
    // Rows longer than the width needs: the bytes beyond the width print nothing, whatever they
    // hold.  The picture is one black dot, at dot 0 of row 0 of 10 dots.
    cups_page_header2_t longRows = PageHeader(10, 2, bits);
    const size_t need = longRows.cupsBytesPerLine;
    longRows.cupsBytesPerLine += 6;
    std::string row = std::string(need, white) + std::string(6, ink);
    if (bits == 1) row[1] = '\x3F';  // the padding bits of the last used byte too
    std::string first = row;
    if (bits == 1) first[0] = '\x80';
    if (bits != 1) first.replace(0, bits / 8, bits / 8, ink);
    r = Filter(RasterStream(RasterPage(longRows, first + row)));
    EXPECT_NE(Summary(r.out).find("BITMAP 0,0,1,1,1 1 bytes, 1 ink dots\n"), std::string::npos);
  }
  // Depths that cannot be printed are passed over in step, within the page limit.
  for (unsigned bits : {2u, 4u, 16u, 32u}) {
    cups_page_header2_t h = PageHeader(16, 4, bits);
    h.cupsBitsPerColor = bits == 32 ? 8 : bits;
    Expect(Filter(RasterStream(RasterPage(h, 0xA5) + InkedPage(8, 2))), 0, 1,
           "ERROR: Page 1 has " + std::to_string(bits) +
               " bits per pixel; only 1, 8 and 24 can be printed, page skipped");
  }
  Expect(Filter(RasterStream(InkedPage(8, 1) + RasterPage(PageHeader(80000, 1000000, 2), ""))), 1,
         1,
         "ERROR: Page 2 has 2 bits per pixel, which cannot be printed, and 20000000000 bytes, more "
         "than the page limit of 1073741824 bytes (RASTERTOLABEL_PAGE_LIMIT) to pass over, job "
         "stopped");
}

TEST_F(HostileInputTest, ThePageLimitHoldsBeforeAnythingIsTaken) {
  Expect(Filter(RasterStream(InkedPage(8, 1) + RasterPage(PageHeader(80000, 1000000, 24), ""))), 1,
         1,
         "ERROR: Page 2 needs 480000000000 bytes, more than the page limit of 1073741824 bytes "
         "(RASTERTOLABEL_PAGE_LIMIT), job stopped");
  Expect(Filter(RasterStream(RasterPage(PageHeader(8000, 64, 1), 0)), "", "",
                {{"RASTERTOLABEL_PAGE_LIMIT", "63999"}}),
         1, 0,
         "ERROR: Page 1 needs 64000 bytes, more than the page limit of 63999 bytes "
         "(RASTERTOLABEL_PAGE_LIMIT), job stopped");
  // Claims whose product passes 2^64 do not wrap round below the limit.
  EXPECT_EQ(PageNeedBytes(24, 8, 4294910535u, 2147512029u), UINT64_MAX);
  EXPECT_EQ(PageNeedBytes(8, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu), UINT64_MAX);
  if (SanitizerBuild()) return;  // no address space limit under AddressSanitizer
  // Within the page limit, but the working image and snapshot do not fit into 256 MiB.
  TestPpd ppd({});
  WriteFile(dir_.File("big.ras"),
            RasterStream(InkedPage(8, 1) + RasterPage(PageHeader(6000, 6000, 8), 0x80)));
  RunOptions o;
  o.args = {FILTER_EXE, "1", "user", "title", "1", "", dir_.File("big.ras")};
  o.env = {{"PPD", ppd.path()}, {"RASTERTOLABEL_DUMP", ""}};
  o.address_space_limit = size_t{256} << 20;
  Expect(::Run(o), 1, 1, "ERROR: Page 2: not enough memory, job stopped");
}

TEST_F(HostileInputTest, HeaderFieldsOutOfRangeAndCopyCounts) {
  cups_page_header2_t h = PageHeader(8, 2, 1);
  std::memset(&h.Collate, 0x08, sizeof h.Collate);  // values no enumerator has
  std::memset(&h.cupsColorSpace, 0x7F, sizeof h.cupsColorSpace);
  std::memset(&h.Orientation, 0x01, sizeof h.Orientation);
  Expect(Filter(RasterStream(RasterPage(h, 0xFF))), 0, 1, "DEBUG: Collate = 134744072",
         "DEBUG: cupsColorSpace = 2139062143", "DEBUG: ProcessData nInverse=0 nDirection=1");
  // Nine digits are a count, more are none; 0 is no count given.
  for (auto [copies, print] :
       {std::pair{0u, "1"}, {999999999u, "999999999"}, {1000000000u, "1"}, {0xFFFFFFFFu, "1"}}) {
    h = PageHeader(8, 1, 1);
    h.NumCopies = copies;
    const RunResult r = Filter(RasterStream(RasterPage(h, 0xFF)));
    EXPECT_NE(r.out.find(std::string("\r\nPRINT 1,") + print + "\r\n"), std::string::npos)
        << copies;
    if (copies >= 1000000000u) {
      Expect(r, 0, 1,
             "WARNING: NumCopies " + std::to_string(copies) +
                 " is more than the printer can count (999999999), 1 copy printed");
    }
  }
}

TEST_F(HostileInputTest, ChoiceNamesGoIntoCommandsOnlyAsPlainNumbers) {
  const std::string page = RasterStream(InkedPage(8, 1));
  const std::string forty(40, '7');  // the longest name a PPD holds
  RunResult r = FilterWithChoices(page, {{"PaperType", "LabelGaps"},
                                         {"GapsHeight", forty},
                                         {"Darkness", "-5"},
                                         {"PrintSpeed", std::string(38, '2') + ".5"},
                                         {"PostAction", "CutEvery"},
                                         {"CutEveryLabels", forty}});
  EXPECT_NE(r.out.find("GAP " + forty + " mm,0 mm\r\n"), std::string::npos);
  EXPECT_NE(r.out.find("SPEED " + std::string(38, '2') + ".5\r\nDENSITY -5\r\nCLS\r\n"),
            std::string::npos);
  EXPECT_EQ(r.out.find("SET CUTTER"), std::string::npos)
      << "the cutter's count field holds nine characters";
  Expect(r, 0, 1,
         "WARNING: CutEveryLabels choice \"" + forty + "\" is longer than 9 characters, ignored");
  // Any other name could write commands of its own; a PPD line cannot hold a line end.
  const char* const keywords[] = {"GapsHeight", "FeedPaper", "PrintSpeed", "Darkness",
                                  "CutEveryLabels"};
  const char* const names[] = {"8,9", "1e3", "0x10", "1.2.3", "--5", ".", "5%d", "9'"};
  for (size_t i = 0; i < std::size(names); ++i) {
    const char* keyword = keywords[i % std::size(keywords)];
    r = FilterWithChoices(
        page, {{"PaperType", "LabelGaps"}, {"PostAction", "CutEvery"}, {keyword, names[i]}});
    Expect(r, 0, 1,
           "WARNING: " + std::string(keyword) + " choice \"" + names[i] +
               "\" is not a plain number, ignored");
    EXPECT_EQ(r.out.find(names[i]), std::string::npos) << names[i];
  }
  // A custom value reaches the filter as the choice "Custom", no number.
  {
    TestPpd base(Options{{"Darkness", "8"}});
    WriteFile(dir_.File("custom.ppd"),
              ReadFile(base.path()) +
                  "*CustomDarkness True: \"\"\n*ParamCustomDarkness Value: 1 int 0 30\n");
  }
  r = Filter(page, "Darkness=Custom.12", dir_.File("custom.ppd"));
  Expect(r, 0, 1, "WARNING: Darkness choice \"Custom\" is not a plain number, ignored");
}

TEST_F(HostileInputTest, StrayOptionsLeaveTheDefaults) {
  const std::string page = RasterStream(InkedPage(12, 3));
  TestPpd ppd(Options{{"Darkness", "8"}, {"MirrorImage", "False"}});
  const std::string plain = Filter(page, "", ppd.path()).out;
  std::string many;
  for (int i = 0; i < 5000; ++i) many += "opt" + std::to_string(i) + "=" + std::to_string(i) + " ";
  for (const std::string& options :
       {std::string("Nonsense=1 Darkness=99 Darkness = =8 Darkness= =="),
        std::string("a=b=c \"x y\" z='q' MirrorImage=Maybe Origin=Rotation45"),
        std::string("Darkness=\"8\r\nPRINT 1,9\" Darkness={8 9}"), many}) {
    EXPECT_EQ(Filter(page, options, ppd.path()).out, plain) << options.substr(0, 60);
  }
}

// Each file is a fuzzer input (job_input.h), run as the fuzzer ran it, with its page limit.
TEST_F(HostileInputTest, InputsTheFuzzerFoundFinishSoundly) {
  WriteFile(dir_.File("fuzz.ppd"), kJobInputPpd);
  int files = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(SOURCE_DIR "/fuzz/regressions/filter")) {
    SCOPED_TRACE(entry.path().filename().string());
    const std::string bytes = ReadFile(entry.path().string());
    const JobInput job =
        SplitJobInput({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    const auto start = std::chrono::steady_clock::now();
    Filter(std::string(job.raster.begin(), job.raster.end()), job.options, dir_.File("fuzz.ppd"),
           {{"RASTERTOLABEL_PAGE_LIMIT", "1048576"}});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ++files;
  }
  EXPECT_GT(files, 0);
}
