// Label output: one page's picture to its complete label job.
//
//   ComposeLabelJob  settings, orientation, clipping to the head, bands, command text
//   ProcessData      the filter's page output: composes the job and writes it at once
#pragma once

#include <cups/raster.h>

#include <string>
#include <vector>

#include "choices.h"

// A page's label job and the pictures its orientation made, which live until it is written.
struct PageLabel {
  std::string text;  // the printer commands
  int page = 0;
  int copies = 1;
  bool mirrorFailed = false;  // no memory to mirror: the label goes out unmirrored
  std::vector<unsigned char> pMirror, pBuf180, pBuf90;
};

// Composes the label job of page `page` from its page bitmap (biWidth dots, biHeight rows;
// stride cupsBytesPerLine for 1-bit pages, else rows rounded up to 32 dots).
//  1. A negative is made in place in pDataBuf when no turn or mirror ran.
//  2. Where the choices state the widest label, a wider one is cut to it (picture and SIZE),
//     with a warning.
//  3. Throws std::bad_alloc when a buffer cannot be had (a failed mirror is only noted).
PageLabel ComposeLabelJob(const Choices& choices, const cups_page_header2_t& header,
                          unsigned char* pDataBuf, int biWidth, int biHeight, int page);

// Composes the page's label job and writes it to standard output in one piece; copies is set to
// the labels the printer was told to print (0 when nothing was written).  Returns false when
// standard output did not take it (e.g. the printer connection closed), or when the mirror
// could not be made (the page then goes out unmirrored).  Throws std::bad_alloc as
// ComposeLabelJob; nothing is written then.
bool ProcessData(const Choices& choices, const cups_page_header2_t& header, unsigned char* pDataBuf,
                 int biWidth, int biHeight, int page, int& copies);
