// Label settings: ReadLabelSettings, ReadLabelSetup, and sizes for people.
//
// Choices are compared by name without regard to case; the names of the numeric ones are the
// printer's own numbers (millimetres, speed, darkness, a label count) and go into the commands
// verbatim, so they are checked here.
#include "label/label_settings.h"

#include <strings.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "driver/raster_header.h"
#include "log.h"

namespace {

bool Is(const char* choice, const char* name) {
  return choice != nullptr && strcasecmp(choice, name) == 0;
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

// A choice whose name goes into a printer command as a number.  Any other name could break the
// command stream (a line end or a quote in it would start a command of its own), so it counts
// as not marked.
const char* NumberChoice(const Choices& choices, const char* keyword) {
  const char* choice = choices.Marked(keyword);
  if (choice != nullptr && !IsPlainNumber(choice)) {
    Warning("%s choice \"%s\" is not a plain number, ignored", keyword, choice);
    return nullptr;
  }
  return choice;
}

}  // namespace

int PointsToMillimetres(unsigned points) { return static_cast<int>(25.4 * points / 72.0 + 0.5); }

std::string DescribeLabelSize(unsigned widthPoints, unsigned heightPoints) {
  char text[64];
  if (widthPoints % 18 == 0 && heightPoints % 18 == 0) {
    snprintf(text, sizeof text, "%g x %g in", widthPoints / 72.0, heightPoints / 72.0);
  } else {
    snprintf(text, sizeof text, "%d x %d mm", PointsToMillimetres(widthPoints),
             PointsToMillimetres(heightPoints));
  }
  return text;
}

LabelSettings ReadLabelSettings(const Choices& choices, const cups_page_header2_t& header,
                                int nImageWidth, int biHeight) {
  LabelSettings s;
  Debug("call ProcessData");
  s.nPaperWidth = PointsToMillimetres(header.PageSize[0]);
  s.nPaperHeight = PointsToMillimetres(header.PageSize[1]);
  s.dwCopies = static_cast<int>(header.NumCopies);
  if (header.NumCopies > kMostCopies) {
    // No count the printer could take (from 2^31 on it would even print as a negative number).
    Warning("NumCopies %u is more than the printer can count (%u), 1 copy printed",
            header.NumCopies, kMostCopies);
    s.dwCopies = 1;
  } else if (header.NumCopies == 0) {
    // PWG and Apple raster leave the field 0 (no count given); a page sent is a page to print.
    Debug("NumCopies 0 taken as 1 copy");
    s.dwCopies = 1;
  }
  Debug("ProcessData nImageWidth=%d biHeight=%d", nImageWidth, biHeight);

  s.nMirror = Is(choices.Marked("MirrorImage"), "True") ? 1 : 0;
  Debug("ProcessData nMirror=%d", s.nMirror);
  s.nInverse = Is(choices.Marked("NegativeImage"), "True") ? 1 : 0;

  const char* origin = choices.Marked("Origin");
  if (Is(origin, "Rotation90")) {
    std::swap(s.nPaperWidth, s.nPaperHeight);
    s.nDirection = 1;
  } else if (Is(origin, "Rotation180")) {
    s.nDirection = 2;
  } else if (Is(origin, "Rotation270")) {
    std::swap(s.nPaperWidth, s.nPaperHeight);
    s.nDirection = 3;
  }
  Debug("header->Orientation=%d nDirection=%d nPaperWidth=%d nPaperHeight=%d",
        static_cast<int>(HeaderValue(header.Orientation)), s.nDirection, s.nPaperWidth,
        s.nPaperHeight);
  // A page that the application turned itself is turned back to the label's feed direction;
  // the label size already describes the label as loaded.
  if (HeaderValue(header.Orientation) != 0 && s.nDirection == 0) s.nDirection = 1;
  Debug("ProcessData nInverse=%d nDirection=%d", s.nInverse, s.nDirection);
  return s;
}

LabelSetup ReadLabelSetup(const Choices& choices, const LabelSettings& settings) {
  LabelSetup setup;
  setup.widthMm = settings.nPaperWidth;
  setup.lengthMm = settings.nPaperHeight;
  Debug("ProcessData sprintf SIZE nPaperWidth=%d nPaperHeight=%d", setup.widthMm, setup.lengthMm);
  Debug("ProcessData nCompress=%d", 0);

  const char* media = choices.Marked("MediaMethod");
  if (media != nullptr) {
    Debug("ProcessData MediaMethod=%s", media);
    if (Is(media, "Direct")) setup.ribbon = Ribbon::kOff;
    if (Is(media, "Transfer")) setup.ribbon = Ribbon::kOn;
  }
  Debug("MediaMethod choice=%x", LogAddr(media));

  const char* gaps = NumberChoice(choices, "GapsHeight");
  if (gaps != nullptr) {
    setup.gapMm = gaps;
    Debug("ProcessData szGap=%s", gaps);
  }
  Debug("GapsHeight choice=%x", LogAddr(gaps));

  const char* paper = choices.Marked("PaperType");
  if (paper != nullptr) {
    setup.media = Is(paper, "Continue")    ? Media::kContinuous
                  : Is(paper, "LabelMark") ? Media::kMarks
                  : Is(paper, "LabelGaps") ? Media::kGaps
                                           : Media::kOther;
  }
  const char* feed = NumberChoice(choices, "FeedPaper");
  if (feed != nullptr) setup.offsetMm = feed;
  Debug("PaperType choice=%x", LogAddr(paper));

  const char* post = choices.Marked("PostAction");
  setup.after = Is(post, "TearOff")    ? AfterPrint::kTearOff
                : Is(post, "PeelOff")  ? AfterPrint::kPeelOff
                : Is(post, "CutEvery") ? AfterPrint::kCutEvery
                : Is(post, "Batch")    ? AfterPrint::kBatch
                                       : AfterPrint::kUnset;

  const char* cut = NumberChoice(choices, "CutEveryLabels");
  if (cut != nullptr && strcmp(cut, "0") != 0) {
    // The printer's cutter count field holds 9 characters; a longer name is no count the
    // printer could take, so the cutter is left alone.
    if (strlen(cut) > kMaxCutEveryLabelChars) {
      Warning("CutEveryLabels choice \"%s\" is longer than %zu characters, ignored", cut,
              kMaxCutEveryLabelChars);
    } else {
      setup.cutEvery = cut;
    }
  }

  const char* speed = NumberChoice(choices, "PrintSpeed");
  if (speed != nullptr) setup.speed = speed;
  Debug("PrintSpeed choice=%x", LogAddr(speed));
  const char* darkness = NumberChoice(choices, "Darkness");
  if (darkness != nullptr) setup.darkness = darkness;
  Debug("Darkness choice=%x", LogAddr(darkness));
  return setup;
}
