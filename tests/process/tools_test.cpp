// readlabel, which the tests, the demo and the benchmarks read label jobs with: it takes every
// well-made label job and refuses anything else, saying where.
#include <gtest/gtest.h>

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

}  // namespace

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
