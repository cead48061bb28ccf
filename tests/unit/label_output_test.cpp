// The label job of one page: setup commands from the PPD choices, the band
// scan, and the whole page text.
#include "label/label_output.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "label/bands.h"
#include "label/command_text.h"
#include "label/label_settings.h"
#include "ppd_fixture.h"

using namespace std::string_literals;

namespace {

using Options = std::map<std::string, std::string>;

// A blank 1-bit picture: stride bytes per row, 0xFF = no ink.
struct Picture {
  Picture(size_t stride, size_t rows) : stride(stride), rows(rows), bytes(stride * rows, 0xFF) {}
  void Ink(size_t row, size_t col, unsigned char value = 0x00) {
    bytes[row * stride + col] = value;
  }
  void InkBlock(size_t r0, size_t r1, size_t c0, size_t c1) {
    for (size_t r = r0; r <= r1; ++r)
      for (size_t c = c0; c <= c1; ++c) Ink(r, c, static_cast<unsigned char>(r * 7 + c));
  }
  std::string Band(size_t r0, size_t h, size_t c0, size_t w) const {
    std::string s;
    for (size_t r = r0; r < r0 + h; ++r)
      s.append(reinterpret_cast<const char*>(&bytes[r * stride + c0]), w);
    return s;
  }
  size_t stride, rows;
  std::vector<unsigned char> bytes;
};

std::string Bands(const Picture& p) {
  std::string out;
  for (const Band& band : FindBands(p.bytes.data(), p.stride, p.rows)) AppendBitmap(out, band);
  return out;
}

std::string SetupText(const Options& choices, unsigned width_pt = 288, unsigned height_pt = 144,
                      unsigned orientation = 0) {
  TestPpd ppd(choices);
  cups_page_header2_t h = {};
  h.PageSize[0] = width_pt;
  h.PageSize[1] = height_pt;
  h.Orientation = static_cast<cups_orient_t>(orientation);
  h.NumCopies = 1;
  const PpdChoices marked(ppd.get());
  std::string text;
  AppendSetup(text, ReadLabelSetup(marked, ReadLabelSettings(marked, h, 36, 10)));
  return text;
}

const Options kWorkedExample = {
    {"MediaMethod", "Direct"}, {"GapsHeight", "3"}, {"PaperType", "LabelGaps"}, {"FeedPaper", "0"},
    {"PostAction", "TearOff"}, {"PrintSpeed", "4"}, {"Darkness", "8"}};

}  // namespace

TEST(BandScan, WorkedExampleCutsTheTopAndSendsOnlyInkedColumns) {
  Picture p(36, 300);
  p.InkBlock(100, 149, 2, 10);
  p.InkBlock(200, 219, 5, 6);
  std::string expected = "BITMAP 16,80,9,50,1," + p.Band(100, 50, 2, 9) + "\r\n" +
                         "BITMAP 40,180,2,20,1," + p.Band(200, 20, 5, 2) + "\r\n";
  EXPECT_EQ(Bands(p), expected);
}

TEST(BandScan, RowsAtThePageEdges) {
  {  // ink only in the very last row: one band of one row, moved up to row 80
    Picture p(52, 406);
    p.Ink(405, 3);
    EXPECT_EQ(Bands(p), "BITMAP 24,80,1,1,1," + p.Band(405, 1, 3, 1) + "\r\n");
  }
  {  // ink in every row from row 0: one band of the whole height at y 0
    Picture p(4, 30);
    for (size_t r = 0; r < 30; ++r) p.Ink(r, 1);
    EXPECT_EQ(Bands(p), "BITMAP 8,0,1,30,1," + p.Band(0, 30, 1, 1) + "\r\n");
  }
  {  // a blank page sends no bitmap at all
    Picture p(4, 30);
    EXPECT_EQ(Bands(p), "");
  }
}

TEST(BandScan, TopCutStartsAfterRow80) {
  Picture at80(4, 120);
  at80.Ink(80, 0);
  EXPECT_EQ(Bands(at80).substr(0, 19), "BITMAP 0,80,1,1,1,\x00"s.substr(0, 19));
  Picture at81(4, 120);
  at81.Ink(81, 0);
  at81.Ink(90, 0);
  // the cut is fixed by the first inked row and moves every band alike
  EXPECT_EQ(Bands(at81), "BITMAP 0,80,1,1,1,"s + '\0' + "\r\nBITMAP 0,89,1,1,1,"s + '\0' + "\r\n");
}

TEST(BandScan, BandsSplitByOneBlankRowAndRaggedEdges) {
  Picture p(8, 10);
  p.Ink(2, 1);
  p.Ink(3, 4);  // same band, further right
  p.Ink(4, 0);  // same band, further left
  p.Ink(6, 2);  // after one blank row: a second band
  std::string expected = "BITMAP 0,2,5,3,1," + p.Band(2, 3, 0, 5) + "\r\n" + "BITMAP 16,6,1,1,1," +
                         p.Band(6, 1, 2, 1) + "\r\n";
  EXPECT_EQ(Bands(p), expected);
}

TEST(BandScan, DataMayHoldLineEnds) {
  Picture p(4, 1);
  p.Ink(0, 0, '\r');
  p.Ink(0, 1, '\n');
  EXPECT_EQ(Bands(p), "BITMAP 0,0,2,1,1,\r\n\r\n");
}

TEST(SetupCommands, WithoutOptionsOnlyTheFixedLines) {
  EXPECT_EQ(SetupText({}), "SIZE 102 mm, 51 mm\r\nDIRECTION 0,0\r\nREFERENCE 0,0\r\nCLS\r\n");
}

TEST(SetupCommands, WorkedExampleInOrder) {
  EXPECT_EQ(SetupText(kWorkedExample),
            "SIZE 102 mm, 51 mm\r\nSET RIBBON OFF\r\nGAP 3 mm,0 mm\r\nOFFSET 0 mm\r\n"
            "DIRECTION 0,0\r\nREFERENCE 0,0\r\n"
            "SET CUTTER OFF\r\nSET TEAR ON\r\nSET PEEL OFF\r\n"
            "OFFSET 0 mm\r\nSPEED 4\r\nDENSITY 8\r\nCLS\r\n");
}

TEST(SetupCommands, LabelSizeRoundsToMillimetres) {
  EXPECT_EQ(PointsToMillimetres(288), 102);  // 101.6
  EXPECT_EQ(PointsToMillimetres(144), 51);   // 50.8
  EXPECT_EQ(PointsToMillimetres(283), 100);  // 99.84
  EXPECT_EQ(PointsToMillimetres(0), 0);
  // 0.5 mm exactly is rounded up: 4.5 mm = 12.7559 pt is no whole point, but
  // 1.27 mm steps are: 18 pt = 6.35 mm -> 6
  EXPECT_EQ(PointsToMillimetres(18), 6);
}

TEST(SetupCommands, RotationSwapsTheLabelSizeButHeaderOrientationDoesNot) {
  EXPECT_EQ(SetupText({{"Origin", "Rotation90"}}).substr(0, 20), "SIZE 51 mm, 102 mm\r\n");
  EXPECT_EQ(SetupText({{"Origin", "Rotation270"}}).substr(0, 20), "SIZE 51 mm, 102 mm\r\n");
  EXPECT_EQ(SetupText({{"Origin", "Rotation180"}}).substr(0, 20), "SIZE 102 mm, 51 mm\r\n");
  EXPECT_EQ(SetupText({{"Origin", "Rotation0"}}, 288, 144, 1).substr(0, 20),
            "SIZE 102 mm, 51 mm\r\n");
}

TEST(SetupCommands, GapAndMarkSensing) {
  auto gapLine = [](const Options& c) {
    std::string s = SetupText(c);
    size_t a = s.find("\r\n") + 2;
    return s.substr(a, s.find("\r\n", a) + 2 - a);
  };
  EXPECT_EQ(gapLine({{"PaperType", "LabelGaps"}}), "GAP 2 mm,0 mm\r\n");
  EXPECT_EQ(gapLine({{"PaperType", "LabelGaps"}, {"GapsHeight", "3"}}), "GAP 3 mm,0 mm\r\n");
  EXPECT_EQ(gapLine({{"PaperType", "LabelMark"}, {"GapsHeight", "3"}}), "BLINE 3 mm,0 mm\r\n");
  EXPECT_EQ(gapLine({{"PaperType", "Continue"}, {"GapsHeight", "3"}}), "GAP 0 mm, 0 mm\r\n");
  EXPECT_EQ(gapLine({{"PaperType", "Other"}, {"GapsHeight", "3"}}), "GAP 2 mm,0 mm\r\n");
  EXPECT_EQ(gapLine({{"PaperType", "labelmark"}}), "BLINE 2 mm,0 mm\r\n");
}

TEST(SetupCommands, CutterAndPostActions) {
  auto cutter = [](const Options& c) {
    std::string s = SetupText(c);
    size_t a = s.find("REFERENCE 0,0\r\n") + 15;
    return s.substr(a, s.find("CLS\r\n") - a);
  };
  EXPECT_EQ(cutter({{"PostAction", "CutEvery"}, {"CutEveryLabels", "5"}}),
            "SET PEEL OFF\r\nSET TEAR OFF\r\nSET CUTTER 5\r\n");
  EXPECT_EQ(cutter({{"PostAction", "CutEvery"}, {"CutEveryLabels", "0"}}), "");
  EXPECT_EQ(cutter({{"PostAction", "CutEvery"}}), "");
  EXPECT_EQ(cutter({{"PostAction", "TearOff"}, {"CutEveryLabels", "5"}}),
            "SET CUTTER OFF\r\nSET TEAR ON\r\nSET PEEL OFF\r\n");
  EXPECT_EQ(cutter({{"PostAction", "PeelOff"}}),
            "SET PEEL ON\r\nSET CUTTER OFF\r\nSET TEAR OFF\r\n");
  EXPECT_EQ(cutter({{"PostAction", "Batch"}}),
            "SET PEEL OFF\r\nSET TEAR OFF\r\nSET CUTTER BATCH\r\n");
  // nine characters still fit the printer's count field; ten do not
  EXPECT_EQ(cutter({{"PostAction", "CutEvery"}, {"CutEveryLabels", "123456789"}}),
            "SET PEEL OFF\r\nSET TEAR OFF\r\nSET CUTTER 123456789\r\n");
  EXPECT_EQ(cutter({{"PostAction", "CutEvery"}, {"CutEveryLabels", "1234567890"}}), "");
}

TEST(SetupCommands, ChoicesThatAreNoPlainNumberStayOutOfTheCommands) {
  const Options numbers = {{"PaperType", "LabelGaps"}, {"GapsHeight", "+2.5"},
                           {"FeedPaper", "-1"},        {"PrintSpeed", ".5"},
                           {"Darkness", "15."},        {"PostAction", "CutEvery"},
                           {"CutEveryLabels", "3"}};
  EXPECT_EQ(SetupText(numbers),
            "SIZE 102 mm, 51 mm\r\nGAP +2.5 mm,0 mm\r\nOFFSET -1 mm\r\n"
            "DIRECTION 0,0\r\nREFERENCE 0,0\r\n"
            "SET PEEL OFF\r\nSET TEAR OFF\r\nSET CUTTER 3\r\n"
            "OFFSET -1 mm\r\nSPEED .5\r\nDENSITY 15.\r\nCLS\r\n");
  // A name with anything else in it would let the PPD write its own commands.
  const Options hostile = {{"PaperType", "LabelGaps"}, {"GapsHeight", "2\"PRINT"},
                           {"FeedPaper", "1.2.3"},     {"PrintSpeed", "-"},
                           {"Darkness", "8;CLS"},      {"PostAction", "CutEvery"},
                           {"CutEveryLabels", "0x10"}};
  EXPECT_EQ(SetupText(hostile),
            "SIZE 102 mm, 51 mm\r\nGAP 2 mm,0 mm\r\nDIRECTION 0,0\r\nREFERENCE 0,0\r\nCLS\r\n");
}

TEST(SetupCommands, RibbonAndFlagsIgnoreCase) {
  EXPECT_NE(SetupText({{"MediaMethod", "transfer"}}).find("SET RIBBON ON\r\n"), std::string::npos);
  EXPECT_EQ(SetupText({{"MediaMethod", "Other"}}).find("RIBBON"), std::string::npos);
  TestPpd ppd({{"MirrorImage", "true"}, {"NegativeImage", "TRUE"}});
  cups_page_header2_t h = {};
  const PpdChoices choices(ppd.get());
  LabelSettings s = ReadLabelSettings(choices, h, 4, 1);
  EXPECT_EQ(s.nMirror, 1);
  EXPECT_EQ(s.nInverse, 1);
  h.Orientation = CUPS_ORIENT_90;
  EXPECT_EQ(ReadLabelSettings(choices, h, 4, 1).nDirection, 1);
}

TEST(ProcessData, WritesTheWholeWorkedExamplePage) {
  TestPpd ppd(kWorkedExample);
  cups_page_header2_t h = {};
  h.PageSize[0] = 288;
  h.PageSize[1] = 144;
  h.NumCopies = 2;
  h.cupsBitsPerPixel = 1;
  h.cupsBytesPerLine = 36;
  Picture p(36, 300);
  p.InkBlock(100, 149, 2, 10);
  p.InkBlock(200, 219, 5, 6);
  std::string expected = SetupText(kWorkedExample) + Bands(p) + "PRINT 1,2\r\n";
  testing::internal::CaptureStdout();
  int copies = 0;
  bool ok = ProcessData(PpdChoices(ppd.get()), h, p.bytes.data(), 288, 300, 1, copies);
  EXPECT_TRUE(ok);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
}

TEST(ProcessData, TinyPagesNeverOutgrowTheCommandText) {
  // The text of a one-dot page is far larger than the picture itself, and a
  // narrow page of many bands carries a command head per band.
  TestPpd ppd(kWorkedExample);
  cups_page_header2_t h = {};
  h.NumCopies = 1;
  h.cupsBitsPerPixel = 8;
  std::vector<unsigned char> one = {0x7F, 0xFF, 0xFF, 0xFF};
  testing::internal::CaptureStdout();
  int copies = 0;
  ProcessData(PpdChoices(ppd.get()), h, one.data(), 1, 1, 1, copies);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("BITMAP 0,0,1,1,1,\x7F\r\nPRINT 1,1\r\n"), std::string::npos);

  std::vector<unsigned char> stripes(4 * 1001, 0xFF);
  for (size_t r = 0; r < 1001; r += 2) stripes[r * 4] = 0x7F;
  testing::internal::CaptureStdout();
  ProcessData(PpdChoices(ppd.get()), h, stripes.data(), 1, 1001, 1, copies);
  out = testing::internal::GetCapturedStdout();
  size_t bands = 0;
  for (size_t at = 0; (at = out.find("BITMAP", at)) != std::string::npos; ++at) ++bands;
  EXPECT_EQ(bands, 501u);
}
