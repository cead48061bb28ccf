// Label job settings: the page geometry and orientation flags read from the
// page header and the marked PPD choices, and the setup commands that open
// every page's label job.
//
//   ReadLabelSettings    label size, copies, rotation, mirror and negative
//   AppendSetupCommands  SIZE ... CLS, from the PPD choices
//   EchoCommandText      the setup text, line by line, to the log
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>

#include <string>

struct LabelSettings {
  int nPaperWidth = 0;   // label width in mm, as sent in SIZE
  int nPaperHeight = 0;  // label length in mm
  int nDirection = 0;    // 0 none, 1 turn 90 clockwise, 2 turn 180, 3 turn 270
  int nMirror = 0;
  int nInverse = 0;
  int dwCopies = 0;
};

// Reads the settings of one page and logs them.  nImageWidth is the page
// bitmap's initial stride, logged with biHeight.
LabelSettings ReadLabelSettings(ppd_file_t* ppd, const cups_page_header2_t& header, int nImageWidth,
                                int biHeight);

// Appends the page's setup commands, from "SIZE ..." to "CLS", to pData.
void AppendSetupCommands(std::string& pData, ppd_file_t* ppd, const LabelSettings& settings);

// Logs each "\r\n"-ended line of text as "ERROR: Print Code=<line>".
void EchoCommandText(const std::string& text);

// Points to millimetres, rounded to the nearest millimetre, halves up.
int PointsToMillimetres(unsigned points);
