// Label job settings: ReadLabelSettings, AppendSetupCommands, EchoCommandText.
//
// Choices are compared by name without regard to case; their names are
// inserted into the commands verbatim, because the printer description names
// its choices by the printer's own numbers (millimetres, speed, darkness).
#include "label/label_settings.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "log.h"
#include "driver/raster_header.h"

namespace {

const ppd_choice_t* Marked(ppd_file_t* ppd, const char* keyword) {
  return ppd ? ppdFindMarkedChoice(ppd, keyword) : nullptr;
}

bool Is(const ppd_choice_t* choice, const char* name) {
  return choice && strcasecmp(choice->choice, name) == 0;
}

// The longest "CutEveryLabels" name that fits the printer's cutter field.
constexpr size_t kMaxCutEveryLabelChars = 9;

// The printer's counts have at most nine digits; so has the copy count.
constexpr unsigned kMostCopies = 999999999;

// An optional sign, digits, and at most one decimal point among them.
bool IsPlainNumber(const char* s) {
  if (*s == '+' || *s == '-') ++s;
  bool digits = false, point = false;
  for (; *s; ++s) {
    if (*s >= '0' && *s <= '9') {
      digits = true;
    } else if (*s == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits;
}

// A choice whose name goes into a printer command as a number.  Any other
// name could break the command stream (a line end or a quote in it would
// start a command of its own), so it counts as not marked.
const ppd_choice_t* NumberChoice(ppd_file_t* ppd, const char* keyword) {
  const ppd_choice_t* choice = Marked(ppd, keyword);
  if (choice && !IsPlainNumber(choice->choice)) {
    std::string shown;
    for (const char* c = choice->choice; *c; ++c) shown += (*c >= 0x20 && *c < 0x7F) ? *c : '?';
    fprintf(stderr, "ERROR: %s choice \"%s\" is not a plain number, ignored\n", keyword,
            shown.c_str());
    return nullptr;
  }
  return choice;
}

}  // namespace

int PointsToMillimetres(unsigned points) { return static_cast<int>(25.4 * points / 72.0 + 0.5); }

LabelSettings ReadLabelSettings(ppd_file_t* ppd, const cups_page_header2_t& header, int nImageWidth,
                                int biHeight) {
  LabelSettings s;
  fprintf(stderr, "ERROR: call ProcessData\n");
  s.nPaperWidth = PointsToMillimetres(header.PageSize[0]);
  s.nPaperHeight = PointsToMillimetres(header.PageSize[1]);
  s.dwCopies = static_cast<int>(header.NumCopies);
  if (header.NumCopies > kMostCopies) {
    // No count the printer could take (from 2^31 on it would even print as a
    // negative number): the label goes out once, and the log says why.
    fprintf(stderr, "ERROR: NumCopies %u is more than the printer can count (%u), 1 copy printed\n",
            header.NumCopies, kMostCopies);
    s.dwCopies = 1;
  } else if (header.NumCopies == 0) {
    // PWG and Apple raster leave the field 0 (no count given); a page sent
    // is a page to print, once.
    fprintf(stderr, "ERROR: NumCopies 0 taken as 1 copy\n");
    s.dwCopies = 1;
  }
  fprintf(stderr, "ERROR: ProcessData nImageWidth=%d biHeight=%d\n", nImageWidth, biHeight);

  s.nMirror = Is(Marked(ppd, "MirrorImage"), "True") ? 1 : 0;
  fprintf(stderr, "ERROR: ProcessData nMirror=%d\n", s.nMirror);
  s.nInverse = Is(Marked(ppd, "NegativeImage"), "True") ? 1 : 0;

  const ppd_choice_t* origin = Marked(ppd, "Origin");
  if (Is(origin, "Rotation0")) {
    s.nDirection = 0;
  } else if (Is(origin, "Rotation90")) {
    std::swap(s.nPaperWidth, s.nPaperHeight);
    s.nDirection = 1;
  } else if (Is(origin, "Rotation180")) {
    s.nDirection = 2;
  } else if (Is(origin, "Rotation270")) {
    std::swap(s.nPaperWidth, s.nPaperHeight);
    s.nDirection = 3;
  }
  fprintf(stderr, "ERROR: header->Orientation=%d nDirection=%d nPaperWidth=%d nPaperHeight=%d\n",
          static_cast<int>(HeaderValue(header.Orientation)), s.nDirection, s.nPaperWidth,
          s.nPaperHeight);
  // A page that the application turned itself is turned back to the label's
  // feed direction; the label size already describes the label as loaded.
  if (HeaderValue(header.Orientation) != 0 && s.nDirection == 0) s.nDirection = 1;
  fprintf(stderr, "ERROR: ProcessData nInverse=%d nDirection=%d\n", s.nInverse, s.nDirection);
  return s;
}

void AppendSetupCommands(std::string& pData, ppd_file_t* ppd, const LabelSettings& settings) {
  char line[512];
  auto append = [&](const char* fmt, auto... args) {
    // A command without fields is its own text (and no format string for clang to doubt).
    if constexpr (sizeof...(args) == 0) {
      pData.append(fmt);
    } else {
      int n = snprintf(line, sizeof line, fmt, args...);
      if (n > 0) pData.append(line, std::min(static_cast<size_t>(n), sizeof line - 1));
    }
  };

  fprintf(stderr, "ERROR: ProcessData sprintf SIZE nPaperWidth=%d nPaperHeight=%d\n",
          settings.nPaperWidth, settings.nPaperHeight);
  append("SIZE %d mm, %d mm\r\n", settings.nPaperWidth, settings.nPaperHeight);
  fprintf(stderr, "ERROR: ProcessData nCompress=%d\n", 0);

  const ppd_choice_t* media = Marked(ppd, "MediaMethod");
  if (media) {
    fprintf(stderr, "ERROR: ProcessData MediaMethod=%s\n", media->choice);
    if (Is(media, "Direct")) {
      append("SET RIBBON OFF\r\n");
    } else if (Is(media, "Transfer")) {
      append("SET RIBBON ON\r\n");
    }
  }
  fprintf(stderr, "ERROR: MediaMethod choice=%x\n", LogAddr(media));

  const ppd_choice_t* gaps = NumberChoice(ppd, "GapsHeight");
  std::string szGap = "2";
  if (gaps) {
    szGap = gaps->choice;
    fprintf(stderr, "ERROR: ProcessData szGap=%s\n", szGap.c_str());
  }
  fprintf(stderr, "ERROR: GapsHeight choice=%x\n", LogAddr(gaps));

  const ppd_choice_t* paper = Marked(ppd, "PaperType");
  if (paper) {
    if (Is(paper, "Continue")) {
      append("GAP 0 mm, 0 mm\r\n");
    } else if (Is(paper, "LabelMark")) {
      append("BLINE %s mm,0 mm\r\n", szGap.c_str());
    } else if (Is(paper, "LabelGaps")) {
      append("GAP %s mm,0 mm\r\n", szGap.c_str());
    } else {
      append("GAP 2 mm,0 mm\r\n");
    }
  }
  const ppd_choice_t* feed = NumberChoice(ppd, "FeedPaper");
  if (feed) append("OFFSET %s mm\r\n", feed->choice);
  fprintf(stderr, "ERROR: PaperType choice=%x\n", LogAddr(paper));

  append("DIRECTION 0,0\r\n");
  append("REFERENCE 0,0\r\n");

  const ppd_choice_t* post = Marked(ppd, "PostAction");
  if (Is(post, "TearOff")) {
    append("SET CUTTER OFF\r\nSET TEAR ON\r\nSET PEEL OFF\r\n");
  } else if (Is(post, "PeelOff")) {
    append("SET PEEL ON\r\nSET CUTTER OFF\r\nSET TEAR OFF\r\n");
  } else if (Is(post, "Batch")) {
    append("SET PEEL OFF\r\nSET TEAR OFF\r\nSET CUTTER BATCH\r\n");
  }

  const ppd_choice_t* cut = NumberChoice(ppd, "CutEveryLabels");
  if (cut && strcmp(cut->choice, "0") != 0) {
    // The printer's cutter count field holds 9 characters; a longer name is
    // no count the printer could take, so the cutter is left alone.
    if (strlen(cut->choice) > kMaxCutEveryLabelChars) {
      fprintf(stderr,
              "ERROR: CutEveryLabels choice \"%s\" is longer than %zu characters, ignored\n",
              cut->choice, kMaxCutEveryLabelChars);
    } else if (Is(post, "CutEvery")) {
      append("SET PEEL OFF\r\nSET TEAR OFF\r\nSET CUTTER %s\r\n", cut->choice);
    }
  }

  if (feed) append("OFFSET %s mm\r\n", feed->choice);
  const ppd_choice_t* speed = NumberChoice(ppd, "PrintSpeed");
  if (speed) append("SPEED %s\r\n", speed->choice);
  fprintf(stderr, "ERROR: PrintSpeed choice=%x\n", LogAddr(speed));
  const ppd_choice_t* darkness = NumberChoice(ppd, "Darkness");
  if (darkness) append("DENSITY %s\r\n", darkness->choice);
  fprintf(stderr, "ERROR: Darkness choice=%x\n", LogAddr(darkness));
  append("CLS\r\n");
}

void EchoCommandText(const std::string& text) {
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    // Lines are logged up to 254 characters, as the scheduler's log takes them.
    size_t len = std::min<size_t>(end - start, 254);
    fprintf(stderr, "ERROR: Print Code=%.*s\n", static_cast<int>(len), text.c_str() + start);
  }
}
