// PageCommands through the filter library's PPD-based page path, until the
// library offers a call that takes the choices directly: the shipped PPD is
// marked with the choices, and the page's label job, which that path writes
// to standard output, is taken from there.
#include "page_commands.h"

#include <cups/ppd.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <mutex>

#include "driver/page_intake.h"
#include "label/label_output.h"

namespace {

constexpr const char* kKeywords[] = {
    "Darkness",      "Dithering",      "Threshold", "Origin",     "MirrorImage",
    "NegativeImage", "MediaMethod",    "PaperType", "GapsHeight", "FeedPaper",
    "PostAction",    "CutEveryLabels", "PrintSpeed"};

struct PpdCloser {
  void operator()(ppd_file_t* p) const { ppdClose(p); }
};
struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};

std::mutex outputMutex;  // standard output is the process's

}  // namespace

void StartConversionJob() {}

std::string PageCommands(const PrinterChoices& choices, const cups_page_header2_t& header,
                         std::vector<unsigned char>& rows, unsigned rowCount) {
  const char* model = header.HWResolution[0] >= 300 ? "label300.ppd" : "label203.ppd";
  std::unique_ptr<ppd_file_t, PpdCloser> ppd(
      ppdOpenFile((std::string(LABEL_PPD_SOURCE_DIR "/") + model).c_str()));
  if (!ppd) return {};
  ppdMarkDefaults(ppd.get());
  for (const char* k : kKeywords) {
    if (const char* c = choices.Marked(k)) ppdMarkOption(ppd.get(), k, c);
  }
  cups_page_header2_t h = header;
  std::vector<unsigned char> bitmap;
  unsigned char* page = rows.data();
  if (h.cupsBitsPerPixel == 1) {
    const bool white = h.cupsColorSpace == CUPS_CSPACE_W || h.cupsColorSpace == CUPS_CSPACE_SW;
    if (!white) {
      for (unsigned char& b : rows) b = static_cast<unsigned char>(~b);
    }
  } else if (h.cupsBitsPerPixel == 24) {
    IntakeColourPage(h, rows.data(), rowCount, bitmap);
    page = bitmap.data();
  } else {
    IntakeGreyPage(ppd.get(), h, rows.data(), rowCount, bitmap);
    page = bitmap.data();
  }
  std::lock_guard lock(outputMutex);
  std::unique_ptr<FILE, FileCloser> out(tmpfile());
  if (!out) return {};
  fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  dup2(fileno(out.get()), STDOUT_FILENO);
  ProcessData(ppd.get(), &h, page, static_cast<int>(h.cupsWidth), static_cast<int>(rowCount));
  fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  std::string bytes;
  rewind(out.get());
  char buf[65536];
  for (size_t n; (n = fread(buf, 1, sizeof buf, out.get())) > 0;) bytes.append(buf, n);
  return bytes;
}
