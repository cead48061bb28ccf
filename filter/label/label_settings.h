// Label settings: what one page's label job is told about the label.
//
//   ReadLabelSettings  label size, copies, rotation, mirror and negative, from the page header
//                      and the choices
//   ReadLabelSetup     media, gap, offset, finishing, speed and darkness, from the choices
//   PointsToMillimetres, DescribeLabelSize
#pragma once

#include <cups/raster.h>

#include <string>

#include "choices.h"

struct LabelSettings {
  int nPaperWidth = 0;   // label width in mm, as sent in SIZE
  int nPaperHeight = 0;  // label length in mm
  int nDirection = 0;    // 0 none, 1 turn 90 clockwise, 2 turn 180, 3 turn 270
  int nMirror = 0;       // 1: mirror left to right
  int nInverse = 0;      // 1: print a negative
  int dwCopies = 0;
};

// Reads the settings of one page and logs them.  nImageWidth is the page bitmap's initial
// stride, logged with biHeight.
LabelSettings ReadLabelSettings(const Choices& choices, const cups_page_header2_t& header,
                                int nImageWidth, int biHeight);

enum class Ribbon { kUnset, kOff, kOn };                                  // "MediaMethod"
enum class Media { kUnset, kGaps, kMarks, kContinuous, kOther };          // "PaperType"
enum class AfterPrint { kUnset, kTearOff, kPeelOff, kCutEvery, kBatch };  // "PostAction"

// The setup of a label job, every value checked: numbers are plain decimal numbers, as the
// printer commands take them (an empty text: not set).
struct LabelSetup {
  int widthMm = 0;
  int lengthMm = 0;
  Ribbon ribbon = Ribbon::kUnset;
  Media media = Media::kUnset;
  std::string gapMm = "2";
  std::string offsetMm;
  AfterPrint after = AfterPrint::kUnset;
  std::string cutEvery;  // labels between cuts; empty: no count to send
  std::string speed;
  std::string darkness;
};

// Reads the setup from the choices, logging each as it is read.  A choice whose name is no
// plain number (or a cut count over nine digits) is ignored with a warning: copied into the
// printer commands it could break them.
LabelSetup ReadLabelSetup(const Choices& choices, const LabelSettings& settings);

// Points to millimetres, rounded to the nearest millimetre, halves up.
int PointsToMillimetres(unsigned points);

// A label size for people: "4 x 6 in" for sizes in quarter inches, else "100 x 150 mm".
std::string DescribeLabelSize(unsigned widthPoints, unsigned heightPoints);
